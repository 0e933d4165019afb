// AdoValueText: strict parsing of driver texts; anything unexpected is left
// to the driver's own conversion.
#include "data/odbc/AdoValueText.h"

#include <sql.h>
#include <sqlext.h>

#include <charconv>
#include <cstring>

namespace {

// Reads exactly `digits` decimal digits at text[pos].
bool Digits(const char* text, size_t length, size_t pos, int digits, int* value)
{
    if (pos + static_cast<size_t>(digits) > length)
        return false;
    int v = 0;
    for (int i = 0; i < digits; ++i) {
        const char c = text[pos + static_cast<size_t>(i)];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

// "hh:mm:ss" at text[pos], then an optional fraction up to the end.
bool ParseTime(const char* text, size_t length, size_t pos, AdoDateTime* t)
{
    int h, mi, s;
    if (!Digits(text, length, pos, 2, &h) || pos + 2 >= length || text[pos + 2] != ':' ||
        !Digits(text, length, pos + 3, 2, &mi) || pos + 5 >= length || text[pos + 5] != ':' ||
        !Digits(text, length, pos + 6, 2, &s))
        return false;
    if (h > 23 || mi > 59 || s > 59)
        return false;
    size_t end = pos + 8;
    int ms = 0;
    if (end < length) {
        if (text[end] != '.' || end + 1 >= length)
            return false;
        int scale = 100;
        for (size_t i = end + 1; i < length; ++i) {
            const char c = text[i];
            if (c < '0' || c > '9')
                return false;
            ms += (c - '0') * scale;
            scale /= 10;
        }
    }
    t->hour = static_cast<uint8_t>(h);
    t->minute = static_cast<uint8_t>(mi);
    t->second = static_cast<uint8_t>(s);
    t->millisecond = static_cast<uint16_t>(ms);
    return true;
}

bool ParseDate(int sqlType, const char* text, size_t length, AdoDateTime* t)
{
    if (sqlType == SQL_TYPE_TIME || sqlType == SQL_TIME) {
        if (length != 8 && (length < 10 || text[8] != '.'))
            return false;
        t->year = 1899;
        t->month = 12;
        t->day = 30;
        return ParseTime(text, length, 0, t);
    }
    int y, mo, d;
    if (length < 10 || !Digits(text, length, 0, 4, &y) || text[4] != '-' || !Digits(text, length, 5, 2, &mo) ||
        text[7] != '-' || !Digits(text, length, 8, 2, &d))
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31)
        return false;
    t->year = static_cast<int16_t>(y);
    t->month = static_cast<uint8_t>(mo);
    t->day = static_cast<uint8_t>(d);
    if (length == 10)
        return true;
    return text[10] == ' ' && ParseTime(text, length, 11, t);
}

}  // namespace

bool AdoParseFixedText(AdoVarType kind, int sqlType, const char* text, size_t length, AdoVariant* out)
{
    const char* end = text + length;
    switch (kind) {
    case AdoVarType::I1:
    case AdoVarType::I2:
    case AdoVarType::I4:
    case AdoVarType::I8:
    case AdoVarType::Int: {
        int64_t v = 0;
        const auto r = std::from_chars(text, end, v);
        if (length == 0 || r.ec != std::errc() || r.ptr != end)
            return false;
        *out = AdoVariant::Integer(AdoWidenSigned(kind, v), v);
        return true;
    }
    case AdoVarType::UI1:
    case AdoVarType::UI2:
    case AdoVarType::UI4:
    case AdoVarType::UI8:
    case AdoVarType::UInt: {
        uint64_t v = 0;
        const auto r = std::from_chars(text, end, v);
        if (length == 0 || r.ec != std::errc() || r.ptr != end)
            return false;
        *out = AdoVariant::Unsigned(AdoWidenUnsigned(kind, v), v);
        return true;
    }
    case AdoVarType::R4:
    case AdoVarType::R8: {
        double v = 0;
        const auto r = std::from_chars(text, end, v);
        if (length == 0 || r.ec != std::errc() || r.ptr != end)
            return false;
        *out = AdoVariant::Real(kind, v);
        return true;
    }
    case AdoVarType::Bool: {
        int64_t v = 0;
        const auto r = std::from_chars(text, end, v);
        if (length == 0 || r.ec != std::errc() || r.ptr != end)
            return false;
        *out = AdoVariant::Boolean(v != 0);
        return true;
    }
    case AdoVarType::Date: {
        AdoDateTime t;
        if (!ParseDate(sqlType, text, length, &t))
            return false;
        *out = AdoVariant::Date(t);
        return true;
    }
    default:
        return false;
    }
}

AdoVarType AdoWidenSigned(AdoVarType declared, int64_t v)
{
    if (declared == AdoVarType::I8)
        return declared;
    const int64_t lo = declared == AdoVarType::I1 ? INT8_MIN : declared == AdoVarType::I2 ? INT16_MIN : INT32_MIN;
    const int64_t hi = declared == AdoVarType::I1 ? INT8_MAX : declared == AdoVarType::I2 ? INT16_MAX : INT32_MAX;
    if (v >= lo && v <= hi)
        return declared;
    return v >= INT32_MIN && v <= INT32_MAX ? AdoVarType::I4 : AdoVarType::I8;
}

AdoVarType AdoWidenUnsigned(AdoVarType declared, uint64_t v)
{
    if (declared == AdoVarType::UI8)
        return declared;
    const uint64_t hi = declared == AdoVarType::UI1 ? UINT8_MAX : declared == AdoVarType::UI2 ? UINT16_MAX : UINT32_MAX;
    if (v <= hi)
        return declared;
    return v <= UINT32_MAX ? AdoVarType::UI4 : AdoVarType::UI8;
}
