// Conversions of result values to text, numbers, flags and dates.
#include "data/ValueText.h"

#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using u128 = unsigned __int128;

// Removes trailing "0" after a point, then a trailing point.
std::string StripFraction(std::string text)
{
    if (text.find('.') == std::string::npos)
        return text;
    while (!text.empty() && text.back() == '0')
        text.pop_back();
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

// Exact decimal text rounded half away from zero to at most four decimals.
std::string DecimalText(const AdoDecimal& value)
{
    AdoDecimal magnitude = value;
    magnitude.negative = false;
    std::string text = magnitude.ToString();
    const size_t point = text.find('.');
    if (point != std::string::npos && text.size() - point - 1 > 4) {
        const bool up = text[point + 5] >= '5';
        text.resize(point + 5);
        if (up) {
            // Carry through the digits, stepping over the point.
            size_t i = text.size();
            while (i-- > 0) {
                if (text[i] == '.')
                    continue;
                if (text[i] != '9') {
                    ++text[i];
                    break;
                }
                text[i] = '0';
                if (i == 0)
                    text.insert(text.begin(), '1');
            }
        }
    }
    text = StripFraction(text);
    if (value.negative && text != "0")
        text.insert(text.begin(), '-');
    return text;
}

// The integer part of a decimal, truncated toward zero, kept to 64 bits.
int64_t DecimalTruncated(const AdoDecimal& value)
{
    u128 mantissa = (static_cast<u128>(value.hi32) << 64) | value.lo64;
    for (int i = 0; i < value.scale; ++i)
        mantissa /= 10;
    const uint64_t low = static_cast<uint64_t>(mantissa);
    return value.negative ? -static_cast<int64_t>(low) : static_cast<int64_t>(low);
}

// Currency in ten-thousandths as exact text.
std::string CurrencyText(int64_t tenThousandths)
{
    const bool negative = tenThousandths < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(tenThousandths)
                                        : static_cast<uint64_t>(tenThousandths);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s%llu.%04llu", negative ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 10000),
                  static_cast<unsigned long long>(magnitude % 10000));
    return StripFraction(buffer);
}

// An optional sign followed by the rest, which must be all digits (with at
// most one point when `allowPoint`); the empty rest is no number.
bool IsSignedNumber(const XString& text, bool allowPoint)
{
    XString rest = text;
    if (rest.GetAt(0) == '-' || rest.GetAt(0) == '+')
        rest = rest.From(1);
    if (rest.IsEmpty())
        return false;
    return allowPoint ? rest.IsNumber() : rest.IsAllDigits();
}

}  // namespace

XString FormatNumber(double value)
{
    // to_chars rounds exactly as printf's "%.4f" does, at a fraction of its cost.
    char buffer[512];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4);
    std::string text = StripFraction(std::string(buffer, result.ptr));
    if (text == "-0")  // a tiny negative value rounds to zero, which has no sign
        text = "0";
    return XString(text.c_str());
}

XString VariantToText(const AdoVariant& value)
{
    switch (value.Type()) {
    case AdoVarType::I1:
    case AdoVarType::I2:
    case AdoVarType::I4:
    case AdoVarType::I8:
    case AdoVarType::Int:
        return XString(static_cast<int64_t>(value.AsInt64()));
    case AdoVarType::UI1:
    case AdoVarType::UI2:
    case AdoVarType::UI4:
    case AdoVarType::UI8:
    case AdoVarType::UInt:
        return XString(std::to_string(value.AsUInt64()).c_str());
    case AdoVarType::R4:
    case AdoVarType::R8:
        return FormatNumber(value.AsDouble());
    case AdoVarType::Decimal:
        return XString(DecimalText(value.AsDecimal()).c_str());
    case AdoVarType::Currency:
        return XString(CurrencyText(value.AsCurrency()).c_str());
    case AdoVarType::Date:
        return VariantToDateTime(value).Format("YYYY/MM/DD HH:NN:SS");
    case AdoVarType::String:
        return XString(value.Text().c_str());
    case AdoVarType::Bool:
        return value.AsBool() ? "True" : "False";
    default:
        return XString();
    }
}

int64_t VariantToInt64(const AdoVariant& value)
{
    switch (value.Type()) {
    case AdoVarType::I1:
    case AdoVarType::I2:
    case AdoVarType::I4:
    case AdoVarType::I8:
    case AdoVarType::Int:
        return value.AsInt64();
    case AdoVarType::UI1:
    case AdoVarType::UI2:
    case AdoVarType::UI4:
    case AdoVarType::UI8:
    case AdoVarType::UInt:
        return static_cast<int64_t>(value.AsUInt64());
    case AdoVarType::R4:
    case AdoVarType::R8: {
        const double d = value.AsDouble();
        // Out-of-range floats have no integer value; 0 rather than undefined behaviour.
        if (!(d > -9.2e18 && d < 9.2e18))
            return 0;
        return static_cast<int64_t>(d);
    }
    case AdoVarType::Decimal:
        return DecimalTruncated(value.AsDecimal());
    case AdoVarType::Currency:
        return value.AsCurrency() / 10000;
    case AdoVarType::String: {
        const XString text(value.Text().c_str());
        if (!IsSignedNumber(text, false))
            return 0;
        errno = 0;
        const long long parsed = std::strtoll(text.c_str(), nullptr, 10);
        return errno == ERANGE ? 0 : parsed;
    }
    case AdoVarType::Bool:
        return value.AsBool() ? 1 : 0;
    default:
        return 0;
    }
}

int32_t VariantToInt(const AdoVariant& value)
{
    return static_cast<int32_t>(VariantToInt64(value));
}

double VariantToDouble(const AdoVariant& value)
{
    switch (value.Type()) {
    case AdoVarType::R4:
    case AdoVarType::R8:
        return value.AsDouble();
    case AdoVarType::Decimal:
        return value.AsDecimal().ToDouble();
    case AdoVarType::Currency:
        return static_cast<double>(value.AsCurrency()) / 10000.0;
    case AdoVarType::String: {
        const XString text(value.Text().c_str());
        return IsSignedNumber(text, true) ? std::strtod(text.c_str(), nullptr) : 0.0;
    }
    case AdoVarType::UI1:
    case AdoVarType::UI2:
    case AdoVarType::UI4:
    case AdoVarType::UI8:
    case AdoVarType::UInt:
        return static_cast<double>(value.AsUInt64());
    default:
        return static_cast<double>(VariantToInt64(value));
    }
}

bool VariantToBool(const AdoVariant& value)
{
    switch (value.Type()) {
    case AdoVarType::Bool:
        return value.AsBool();
    case AdoVarType::R4:
    case AdoVarType::R8:
        return value.AsDouble() != 0.0;
    case AdoVarType::Decimal: {
        const AdoDecimal d = value.AsDecimal();
        return d.lo64 != 0 || d.hi32 != 0;
    }
    case AdoVarType::Currency:
        return value.AsCurrency() != 0;
    case AdoVarType::UI1:
    case AdoVarType::UI2:
    case AdoVarType::UI4:
    case AdoVarType::UI8:
    case AdoVarType::UInt:
        return value.AsUInt64() != 0;
    case AdoVarType::I1:
    case AdoVarType::I2:
    case AdoVarType::I4:
    case AdoVarType::I8:
    case AdoVarType::Int:
        return value.AsInt64() != 0;
    case AdoVarType::String: {
        // Y/N, Yes/No, T/F and 1/0 columns all read as their meaning.
        XString text(value.Text().c_str());
        text.Trim().MakeUpper();
        return !(text.IsEmpty() || text == "0" || text == "N" || text == "NO" || text == "F" ||
                 text == "FALSE");
    }
    default:
        return false;
    }
}

XDateTime VariantToDateTime(const AdoVariant& value)
{
    if (value.Type() != AdoVarType::Date)
        return XDateTime();
    const AdoDateTime t = value.AsDate();
    return XDateTime(XDate(t.year, t.month, t.day), XTime(t.hour, t.minute, t.second, t.millisecond));
}
