// Conversions of result values to text, numbers, flags and dates.
#include "data/ValueText.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using u128 = unsigned __int128;

// Removes trailing "0" after a point, then a trailing point, from the
// text [begin, end); returns the new end.
char* StripFraction(char* begin, char* end)
{
    if (std::find(begin, end, '.') == end)
        return end;
    while (end != begin && end[-1] == '0')
        --end;
    if (end != begin && end[-1] == '.')
        --end;
    return end;
}

// The same for a string.
std::string StripFraction(std::string text)
{
    text.resize(static_cast<size_t>(StripFraction(text.data(), text.data() + text.size()) - text.data()));
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

// An integer in decimal ("-" for negatives), without a temporary string.
template <typename Integer>
XString IntegerText(Integer value)
{
    char buffer[24];
    *std::to_chars(buffer, buffer + sizeof buffer - 1, value).ptr = '\0';
    return XString(buffer);
}

// Writes `value` in decimal at `out`, two digits at least when `pad`;
// returns the end.
char* WriteNumber(char* out, int value, bool pad)
{
    if (pad && value >= 0 && value < 10)
        *out++ = '0';
    return std::to_chars(out, out + 16, value).ptr;
}

// The text of a date value, written directly: the export reads millions of
// dates, and the general token formatter costs twenty times as much. The
// result is exactly XDateTime::Format("YYYY/MM/DD HH:NN:SS") of the same
// value: empty when the date is no date (before 1600), month, day, minutes
// and seconds two digits, the hour unpadded (the formatter pads a lone hour
// digit only before a letter or the end, and here ':' follows it).
XString DateText(const AdoDateTime& value)
{
    const XDate date(value.year, value.month, value.day);
    if (date.IsNull())
        return XString();
    const XTime time(value.hour, value.minute, value.second, value.millisecond);
    int year = 0, month = 0, day = 0;
    XDate::Split(date.GetDayNumber(), year, month, day);
    char buffer[64];
    char* p = WriteNumber(buffer, year, false);
    *p++ = '/';
    p = WriteNumber(p, month, true);
    *p++ = '/';
    p = WriteNumber(p, day, true);
    *p++ = ' ';
    p = WriteNumber(p, time.GetHour(), false);
    *p++ = ':';
    p = WriteNumber(p, time.GetMinute(), true);
    *p++ = ':';
    p = WriteNumber(p, time.GetSecond(), true);
    *p = '\0';
    return XString(buffer);
}

}  // namespace

XString FormatNumber(double value)
{
    char buffer[512];
    char* end = nullptr;
    // Most values are taken to four decimals by one multiplication: the
    // scaled double is within 2^-13 of the exact scaled value below 2^40,
    // so away from a half it rounds to the same whole number as the exact
    // value does. Near a half (and for huge or non-finite values) to_chars
    // decides, which rounds exactly as printf's "%.4f".
    const double scaled = std::fabs(value) * 10000.0;
    const double whole = std::floor(scaled);
    if (scaled < 1e12 && std::fabs(scaled - whole - 0.5) > 1e-3) {
        const uint64_t rounded = static_cast<uint64_t>(whole) + (scaled - whole > 0.5 ? 1 : 0);
        char* p = buffer;
        if (std::signbit(value))
            *p++ = '-';
        p = std::to_chars(p, buffer + 64, rounded / 10000).ptr;
        const unsigned fraction = static_cast<unsigned>(rounded % 10000);
        *p++ = '.';
        *p++ = static_cast<char>('0' + fraction / 1000);
        *p++ = static_cast<char>('0' + fraction / 100 % 10);
        *p++ = static_cast<char>('0' + fraction / 10 % 10);
        *p++ = static_cast<char>('0' + fraction % 10);
        end = p;
    } else {
        end = std::to_chars(buffer, buffer + sizeof buffer - 1, value, std::chars_format::fixed, 4).ptr;
    }
    end = StripFraction(buffer, end);
    *end = '\0';
    if (std::strcmp(buffer, "-0") == 0)  // a tiny negative value rounds to zero, which has no sign
        return XString("0");
    return XString(buffer);
}

XString VariantToText(const AdoVariant& value)
{
    switch (value.Type()) {
    case AdoVarType::I1:
    case AdoVarType::I2:
    case AdoVarType::I4:
    case AdoVarType::I8:
    case AdoVarType::Int:
        return IntegerText(value.AsInt64());
    case AdoVarType::UI1:
    case AdoVarType::UI2:
    case AdoVarType::UI4:
    case AdoVarType::UI8:
    case AdoVarType::UInt:
        return IntegerText(value.AsUInt64());
    case AdoVarType::R4:
    case AdoVarType::R8:
        return FormatNumber(value.AsDouble());
    case AdoVarType::Decimal:
        return XString(DecimalText(value.AsDecimal()).c_str());
    case AdoVarType::Currency:
        return XString(CurrencyText(value.AsCurrency()).c_str());
    case AdoVarType::Date:
        return DateText(value.AsDate());
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
