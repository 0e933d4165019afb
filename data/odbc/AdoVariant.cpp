// AdoVariant: construction and typed reads of row values, exact decimal text
// conversion and the day-number form of dates.
#include "data/odbc/AdoVariant.h"

#include <cmath>
#include <cstdlib>

namespace {

using u128 = unsigned __int128;

const u128 kMax96 = (static_cast<u128>(1) << 96) - 1;

// Drops the last `n` digits of `digits`, rounding half away from zero.
void RoundOff(std::string& digits, size_t n)
{
    if (n == 0)
        return;
    if (n > digits.size()) {
        digits = "0";
        return;
    }
    const bool up = digits[digits.size() - n] >= '5';
    digits.resize(digits.size() - n);
    if (digits.empty())
        digits = "0";
    if (!up)
        return;
    for (size_t i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
}

// Value of a digit string without leading zeros, when it fits in 96 bits.
bool DigitsToMantissa(const std::string& digits, u128* out)
{
    size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
        *out = 0;
        return true;
    }
    if (digits.size() - first > 29)
        return false;
    u128 v = 0;
    for (size_t i = first; i < digits.size(); ++i)
        v = v * 10 + static_cast<unsigned>(digits[i] - '0');
    if (v > kMax96)
        return false;
    *out = v;
    return true;
}

// Days from 1 January 1970 for a proleptic Gregorian date.
long long DaysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long* y, unsigned* m, unsigned* d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<long long>(yoe) + era * 400 + (*m <= 2);
}

// 30 December 1899, the day the OLE day count starts from.
const long long kOleEpoch = DaysFromCivil(1899, 12, 30);

}  // namespace

bool AdoDecimal::FromText(const std::string& text, AdoDecimal* out, std::string* error)
{
    auto fail = [&](const char* why) {
        if (error)
            *error = std::string(why) + ": \"" + text + "\"";
        return false;
    };
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    std::string digits;
    long long scale = 0;
    bool anyDigit = false;
    bool point = false;
    for (; i < n; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits.push_back(c);
            anyDigit = true;
            if (point)
                ++scale;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!anyDigit)
        return fail("not a decimal number");
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool expNegative = false;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            expNegative = text[i++] == '-';
        long long exponent = 0;
        bool expDigit = false;
        for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
            expDigit = true;
            if (exponent < 100000)
                exponent = exponent * 10 + (text[i] - '0');
        }
        if (!expDigit)
            return fail("not a decimal number");
        scale += expNegative ? exponent : -exponent;
    }
    while (i < n && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    if (i != n)
        return fail("not a decimal number");

    if (scale < 0) {
        if (-scale > 40)
            return fail("decimal value out of range");
        digits.append(static_cast<size_t>(-scale), '0');
        scale = 0;
    }
    // Too many fraction digits: round them away first (the value stays the
    // nearest one the 96-bit form can hold).
    if (scale > MaxScale) {
        RoundOff(digits, static_cast<size_t>(scale - MaxScale));
        scale = MaxScale;
    }
    u128 mantissa = 0;
    while (!DigitsToMantissa(digits, &mantissa)) {
        if (scale == 0)
            return fail("decimal value out of range");
        RoundOff(digits, 1);
        --scale;
    }
    out->lo64 = static_cast<uint64_t>(mantissa);
    out->hi32 = static_cast<uint32_t>(mantissa >> 64);
    out->scale = static_cast<uint8_t>(scale);
    out->negative = negative && mantissa != 0;
    return true;
}

std::string AdoDecimal::ToString() const
{
    u128 v = (static_cast<u128>(hi32) << 64) | lo64;
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
        v /= 10;
    } while (v != 0);
    if (digits.size() < static_cast<size_t>(scale) + 1)
        digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
    if (scale > 0)
        digits.insert(digits.size() - scale, ".");
    if (negative)
        digits.insert(digits.begin(), '-');
    return digits;
}

double AdoDecimal::ToDouble() const
{
    return std::strtod(ToString().c_str(), nullptr);
}

double AdoDateTime::ToOleDate() const
{
    const double days = static_cast<double>(DaysFromCivil(year, month, day) - kOleEpoch);
    const double fraction =
        ((hour * 60.0 + minute) * 60.0 + second + millisecond / 1000.0) / 86400.0;
    return days >= 0 ? days + fraction : days - fraction;
}

AdoDateTime AdoDateTime::FromOleDate(double oleDate)
{
    long long days = static_cast<long long>(std::trunc(oleDate));
    long long ms = std::llround(std::fabs(oleDate - static_cast<double>(days)) * 86400000.0);
    if (ms >= 86400000) {
        ms -= 86400000;
        ++days;
    }
    long long y;
    unsigned m, d;
    CivilFromDays(days + kOleEpoch, &y, &m, &d);
    AdoDateTime t;
    t.year = static_cast<int16_t>(y);
    t.month = static_cast<uint8_t>(m);
    t.day = static_cast<uint8_t>(d);
    t.hour = static_cast<uint8_t>(ms / 3600000);
    t.minute = static_cast<uint8_t>(ms / 60000 % 60);
    t.second = static_cast<uint8_t>(ms / 1000 % 60);
    t.millisecond = static_cast<uint16_t>(ms % 1000);
    return t;
}

AdoVariant AdoVariant::Null()
{
    AdoVariant v;
    v.m_type = AdoVarType::Null;
    return v;
}

AdoVariant AdoVariant::Integer(AdoVarType kind, int64_t value)
{
    AdoVariant v;
    v.m_type = kind;
    v.m_v.i = value;
    return v;
}

AdoVariant AdoVariant::Unsigned(AdoVarType kind, uint64_t value)
{
    AdoVariant v;
    v.m_type = kind;
    v.m_v.u = value;
    return v;
}

AdoVariant AdoVariant::Real(AdoVarType kind, double value)
{
    AdoVariant v;
    v.m_type = kind;
    v.m_v.d = kind == AdoVarType::R4 ? static_cast<double>(static_cast<float>(value)) : value;
    return v;
}

AdoVariant AdoVariant::Boolean(bool value)
{
    AdoVariant v;
    v.m_type = AdoVarType::Bool;
    v.m_v.b = value;
    return v;
}

AdoVariant AdoVariant::Currency(int64_t tenThousandths)
{
    AdoVariant v;
    v.m_type = AdoVarType::Currency;
    v.m_v.i = tenThousandths;
    return v;
}

AdoVariant AdoVariant::Decimal(const AdoDecimal& value)
{
    AdoVariant v;
    v.m_type = AdoVarType::Decimal;
    v.m_v.u = value.lo64;
    v.m_aux = value.hi32;
    v.m_scale = value.scale;
    v.m_negative = value.negative;
    return v;
}

AdoVariant AdoVariant::Date(const AdoDateTime& value)
{
    AdoVariant v;
    v.m_type = AdoVarType::Date;
    v.m_v.date = {value.year, value.month, value.day, value.hour, value.minute, value.second, 0};
    v.m_aux = value.millisecond;
    return v;
}

AdoVariant AdoVariant::String(std::string bytes)
{
    AdoVariant v;
    v.m_type = AdoVarType::String;
    v.m_text = std::move(bytes);
    return v;
}

AdoVariant AdoVariant::Bytes(std::string bytes)
{
    AdoVariant v;
    v.m_type = AdoVarType::ByteArray;
    v.m_text = std::move(bytes);
    return v;
}

std::string& AdoVariant::ResetText(AdoVarType kind)
{
    m_type = kind == AdoVarType::ByteArray ? AdoVarType::ByteArray : AdoVarType::String;
    m_text.clear();
    return m_text;
}

int64_t AdoVariant::AsInt64() const
{
    switch (m_type) {
    case AdoVarType::I1:
    case AdoVarType::I2:
    case AdoVarType::I4:
    case AdoVarType::I8:
    case AdoVarType::Int:
        return m_v.i;
    default:
        return 0;
    }
}

uint64_t AdoVariant::AsUInt64() const
{
    switch (m_type) {
    case AdoVarType::UI1:
    case AdoVarType::UI2:
    case AdoVarType::UI4:
    case AdoVarType::UI8:
    case AdoVarType::UInt:
        return m_v.u;
    default:
        return 0;
    }
}

double AdoVariant::AsDouble() const
{
    return m_type == AdoVarType::R4 || m_type == AdoVarType::R8 ? m_v.d : 0.0;
}

bool AdoVariant::AsBool() const
{
    return m_type == AdoVarType::Bool && m_v.b;
}

int64_t AdoVariant::AsCurrency() const
{
    return m_type == AdoVarType::Currency ? m_v.i : 0;
}

AdoDecimal AdoVariant::AsDecimal() const
{
    AdoDecimal d;
    if (m_type == AdoVarType::Decimal) {
        d.lo64 = m_v.u;
        d.hi32 = m_aux;
        d.scale = m_scale;
        d.negative = m_negative;
    }
    return d;
}

AdoDateTime AdoVariant::AsDate() const
{
    AdoDateTime t;
    if (m_type == AdoVarType::Date) {
        t.year = m_v.date.year;
        t.month = m_v.date.month;
        t.day = m_v.date.day;
        t.hour = m_v.date.hour;
        t.minute = m_v.date.minute;
        t.second = m_v.date.second;
        t.millisecond = static_cast<uint16_t>(m_aux);
    }
    return t;
}

double AdoVariant::AsOleDate() const
{
    return m_type == AdoVarType::Date ? AsDate().ToOleDate() : 0.0;
}

const std::string& AdoVariant::Text() const
{
    static const std::string empty;
    return m_type == AdoVarType::String || m_type == AdoVarType::ByteArray ? m_text : empty;
}

bool AdoVariant::operator==(const AdoVariant& o) const
{
    if (m_type != o.m_type)
        return false;
    switch (m_type) {
    case AdoVarType::Empty:
    case AdoVarType::Null:
        return true;
    case AdoVarType::R4:
    case AdoVarType::R8:
        return m_v.d == o.m_v.d;
    case AdoVarType::Bool:
        return m_v.b == o.m_v.b;
    case AdoVarType::Decimal:
        return AsDecimal() == o.AsDecimal();
    case AdoVarType::Date:
        return AsDate() == o.AsDate();
    case AdoVarType::String:
    case AdoVarType::ByteArray:
        return m_text == o.m_text;
    default:
        return m_v.i == o.m_v.i;
    }
}
