// AdoValueText: strict parsing of driver texts; anything unexpected is left
// to the driver's own conversion.
#include "data/odbc/AdoValueText.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "util/XString.h"

#include <QString>

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

// "hh:mm" at text[pos], then optional ":ss" and a fraction up to the end.
bool ParseTime(const char* text, size_t length, size_t pos, AdoDateTime* t)
{
    int h, mi, s = 0;
    if (!Digits(text, length, pos, 2, &h) || pos + 2 >= length || text[pos + 2] != ':' ||
        !Digits(text, length, pos + 3, 2, &mi))
        return false;
    size_t end = pos + 5;
    if (end < length) {
        if (text[end] != ':' || !Digits(text, length, end + 1, 2, &s))
            return false;
        end += 3;
    }
    if (h > 23 || mi > 59 || s > 59)
        return false;
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

// Length of the text without a trailing time-zone offset ("+02:00",
// " -05:00", "Z") after a time that starts at `timeStart`.
size_t WithoutOffset(const char* text, size_t length, size_t timeStart)
{
    for (size_t i = timeStart + 5; i < length; ++i) {
        if (text[i] == '+' || text[i] == '-' || text[i] == 'Z') {
            size_t end = i;
            while (end > timeStart && text[end - 1] == ' ')
                --end;
            return end;
        }
    }
    return length;
}

bool ParseDate(int sqlType, const char* text, size_t length, AdoDateTime* t)
{
    const bool timeOfDay = sqlType == SQL_TYPE_TIME || sqlType == SQL_TIME || sqlType == kSqlSsTime2 ||
                           (length >= 3 && text[2] == ':');
    if (timeOfDay) {
        length = WithoutOffset(text, length, 0);
        if (length < 8)
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
    // A day the month does not have ("2026-02-29") is no date: read as one,
    // it would pass on as a day of the next month.
    static const int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (mo < 1 || mo > 12 || d < 1 || d > kDaysIn[mo - 1] + (mo == 2 && leap ? 1 : 0))
        return false;
    t->year = static_cast<int16_t>(y);
    t->month = static_cast<uint8_t>(mo);
    t->day = static_cast<uint8_t>(d);
    if (length == 10)
        return true;
    return (text[10] == ' ' || text[10] == 'T') && ParseTime(text, WithoutOffset(text, length, 11), 11, t);
}

// An integer column may hold a float (SQLite keeps what it is given); the
// driver then truncates it. Out of range for 64 bits it would make up a
// number, so such a value is an error; other floats go to the driver.
AdoTextParse IntegerAsFloat(const char* text, size_t length, double lowest)
{
    double v = 0;
    const auto r = std::from_chars(text, text + length, v);
    if (length == 0 || r.ptr != text + length)
        return AdoTextParse::NotParsed;
    if (r.ec == std::errc::result_out_of_range || v < lowest || v >= 18446744073709551616.0 ||
        (lowest < 0 && v >= 9223372036854775808.0))
        return AdoTextParse::OutOfRange;
    return AdoTextParse::NotParsed;
}

}  // namespace

AdoTextParse AdoParseFixedText(AdoVarType kind, int sqlType, const char* text, size_t length, AdoVariant* out)
{
    const char* end = text + length;
    // A number is taken only when it is the whole text; digits too many for
    // 64 bits (or a float beyond double) are an error, not a value.
    const auto judge = [&](const std::from_chars_result& r) {
        if (length == 0 || r.ptr != end)
            return AdoTextParse::NotParsed;
        if (r.ec == std::errc::result_out_of_range)
            return AdoTextParse::OutOfRange;
        return r.ec == std::errc() ? AdoTextParse::Parsed : AdoTextParse::NotParsed;
    };
    switch (kind) {
    case AdoVarType::I1:
    case AdoVarType::I2:
    case AdoVarType::I4:
    case AdoVarType::I8:
    case AdoVarType::Int: {
        int64_t v = 0;
        const AdoTextParse p = judge(std::from_chars(text, end, v));
        if (p == AdoTextParse::Parsed)
            *out = AdoVariant::Integer(AdoWidenSigned(kind, v), v);
        return p == AdoTextParse::NotParsed ? IntegerAsFloat(text, length, -9223372036854775808.0) : p;
    }
    case AdoVarType::UI1:
    case AdoVarType::UI2:
    case AdoVarType::UI4:
    case AdoVarType::UI8:
    case AdoVarType::UInt: {
        uint64_t v = 0;
        const AdoTextParse p = judge(std::from_chars(text, end, v));
        if (p == AdoTextParse::Parsed)
            *out = AdoVariant::Unsigned(AdoWidenUnsigned(kind, v), v);
        return p == AdoTextParse::NotParsed ? IntegerAsFloat(text, length, 0.0) : p;
    }
    case AdoVarType::R4:
    case AdoVarType::R8: {
        double v = 0;
        const AdoTextParse p = judge(std::from_chars(text, end, v));
        if (p == AdoTextParse::Parsed)
            *out = AdoVariant::Real(kind, v);
        return p;
    }
    case AdoVarType::Bool: {
        int64_t v = 0;
        const AdoTextParse p = judge(std::from_chars(text, end, v));
        if (p == AdoTextParse::Parsed)
            *out = AdoVariant::Boolean(v != 0);
        return p;
    }
    case AdoVarType::Date: {
        AdoDateTime t;
        if (!ParseDate(sqlType, text, length, &t))
            return AdoTextParse::NotParsed;
        *out = AdoVariant::Date(t);
        return AdoTextParse::Parsed;
    }
    default:
        return AdoTextParse::NotParsed;
    }
}

bool AdoDateArrivesAsText(int sqlType)
{
    switch (sqlType) {
    case kSqlSsTime2:
    case kSqlSsTimestampOffset:
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
        return true;
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

void AdoWideToCodePage(const char* bytes, size_t length, std::string* out)
{
    std::u16string wide;
    wide.reserve(length / 2);
    bool afterHighHalf = false;
    for (size_t i = 0; i + 1 < length; i += 2) {
        char16_t unit;
        std::copy(bytes + i, bytes + i + 2, reinterpret_cast<char*>(&unit));
        const bool lowHalf = unit >= 0xDC00 && unit <= 0xDFFF;
        // The low half of a pair whose high half was replaced already; a low
        // half on its own (even after a "?" of the text) is a "?" itself.
        if (lowHalf && afterHighHalf) {
            afterHighHalf = false;
            continue;
        }
        afterHighHalf = unit >= 0xD800 && unit <= 0xDBFF;
        wide.push_back(unit >= 0xD800 && unit <= 0xDFFF ? u'?' : unit);
    }
    // The conversion stops at a NUL character; one inside a value is kept.
    out->clear();
    size_t start = 0;
    for (;;) {
        const size_t nul = wide.find(u'\0', start);
        *out += XString::FromUtf16(wide.substr(start, nul - start)).str();
        if (nul == std::u16string::npos)
            break;
        out->push_back('\0');
        start = nul + 1;
    }
}

void AdoUtf8ToCodePage(std::string* text)
{
    if (std::all_of(text->begin(), text->end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return;
    // The whole text: a NUL inside it is kept, as in wide text.
    const std::u16string wide =
        QString::fromUtf8(text->data(), static_cast<qsizetype>(text->size())).toStdU16String();
    AdoWideToCodePage(reinterpret_cast<const char*>(wide.data()), wide.size() * 2, text);
}
