// The decoders of values as drivers hand them over, on any bytes: wide text
// (UTF-16 of any length, broken pairs included) and UTF-8 text into the
// bridge's code page, integer, flag and date texts, decimal texts. Each is
// held to what it promises: text against a small model of the conversion
// (one "?" per character the code page lacks, NULs kept), numbers that read
// back as their text, dates with real calendar parts that survive the OLE
// date form, decimals that survive their own text.
#include "data/odbc/AdoError.h"
#include "data/odbc/AdoValueReader.h"
#include "data/odbc/AdoValueText.h"
#include "tests/fuzz/FuzzCheck.h"
#include "util/XString.h"

#include <QString>

#include <sql.h>
#include <sqlext.h>

namespace {

// The code-page byte of one character, '?' when the code page lacks it.
char CodePageByte(char32_t c)
{
    if (c > 0xFFFF)
        return '?';
    const std::string byte = XString::FromUtf16(std::u16string(1, static_cast<char16_t>(c))).str();
    return byte.size() == 1 ? byte[0] : '?';
}

// The model: UTF-16 units, a well-formed pair one character, a lone half a
// character the code page lacks, NUL kept.
std::string ModelOfUnits(const std::u16string &units)
{
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            out.push_back('?');
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back('?');
        } else {
            out.push_back(u == 0 ? '\0' : CodePageByte(u));
        }
    }
    return out;
}

std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 15];
        text += ' ';
    }
    return text;
}

void CheckWide(const std::string &payload)
{
    std::u16string units(payload.size() / 2, u'\0');
    std::copy(payload.data(), payload.data() + units.size() * 2, reinterpret_cast<char *>(units.data()));
    std::string out = "stale";
    AdoWideToCodePage(payload.data(), payload.size(), &out);
    FUZZ_CHECK(out == ModelOfUnits(units), "wide text " + Hex(payload) + "-> " + Hex(out));
}

void CheckUtf8(const std::string &payload)
{
    std::string out = payload;
    AdoUtf8ToCodePage(&out);
    // The toolkit's reading of UTF-8 (a broken sequence is U+FFFD, which the
    // code page lacks), character by character.
    const std::u16string units = QString::fromUtf8(payload.data(), static_cast<qsizetype>(payload.size())).toStdU16String();
    FUZZ_CHECK(out == ModelOfUnits(units), "UTF-8 text " + Hex(payload) + "-> " + Hex(out));
}

std::string WithoutLeadingZeros(std::string digits)
{
    const bool negative = !digits.empty() && digits[0] == '-';
    std::string body = digits.substr(negative ? 1 : 0);
    const size_t first = body.find_first_not_of('0');
    body = first == std::string::npos ? "0" : body.substr(first);
    return (negative && body != "0" ? "-" : "") + body;
}

void CheckInteger(AdoVarType kind, const std::string &payload)
{
    AdoVariant value;
    if (AdoParseFixedText(kind, SQL_INTEGER, payload.data(), payload.size(), &value) != AdoTextParse::Parsed)
        return;
    if (value.Type() == AdoVarType::R8 || value.Type() == AdoVarType::R4)
        return; // an integer column holding a float, truncated
    const bool isSigned = value.Type() == AdoVarType::I1 || value.Type() == AdoVarType::I2 ||
                          value.Type() == AdoVarType::I4 || value.Type() == AdoVarType::I8 ||
                          value.Type() == AdoVarType::Int;
    const std::string text = isSigned ? std::to_string(value.AsInt64()) : std::to_string(value.AsUInt64());
    FUZZ_CHECK(text == WithoutLeadingZeros(payload), "integer text " + payload + " read as " + text);
}

int DaysIn(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

void CheckDate(int sqlType, const std::string &payload)
{
    AdoVariant value;
    if (AdoParseFixedText(AdoVarType::Date, sqlType, payload.data(), payload.size(), &value) != AdoTextParse::Parsed)
        return;
    const AdoDateTime t = value.AsDate();
    const std::string what = "date text \"" + payload + "\" read as " + std::to_string(t.year) + "-" +
                             std::to_string(t.month) + "-" + std::to_string(t.day) + " " + std::to_string(t.hour) +
                             ":" + std::to_string(t.minute) + ":" + std::to_string(t.second) + "." +
                             std::to_string(t.millisecond);
    FUZZ_CHECK(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= DaysIn(t.year, t.month), what);
    FUZZ_CHECK(t.hour < 24 && t.minute < 60 && t.second < 60 && t.millisecond < 1000, what);
    if (payload.size() >= 10 && payload[4] == '-')
        FUZZ_CHECK(std::to_string(10000 + t.year).substr(1) == payload.substr(0, 4), what);
    FUZZ_CHECK(AdoDateTime::FromOleDate(t.ToOleDate()) == t, what + ": not the same as an OLE date");
}

void CheckDecimal(AdoVarType kind, const std::string &payload)
{
    AdoVariant value;
    try {
        value = AdoValueReader::DecimalFromText("c", kind, payload);
    } catch (const AdoException &) {
        return; // no number: the read fails with the column's name
    }
    if (value.Type() != AdoVarType::Decimal)
        return;
    const AdoDecimal d = value.AsDecimal();
    const std::string text = d.ToString();
    AdoDecimal again;
    std::string why;
    FUZZ_CHECK(AdoDecimal::FromText(text, &again, &why) && again == d,
               "decimal text \"" + payload + "\" gives \"" + text + "\", which reads back otherwise");
    // A plain number of few digits is kept exactly, digit for digit.
    size_t digits = 0;
    bool plain = !payload.empty();
    for (size_t i = 0; i < payload.size(); ++i) {
        const char c = payload[i];
        if (c >= '0' && c <= '9')
            ++digits;
        else if (!(c == '.' || (i == 0 && c == '-')))
            plain = false;
    }
    if (plain && digits > 0 && digits <= 28 && payload.find('.') == payload.rfind('.')) {
        std::string model = payload;
        std::string shown = text;
        for (std::string *s : {&model, &shown}) {
            s->erase(std::remove(s->begin(), s->end(), '.'), s->end());
            *s = WithoutLeadingZeros(*s);
        }
        const size_t point = payload.find('.');
        const size_t scale = point == std::string::npos ? 0 : payload.size() - point - 1;
        FUZZ_CHECK(model == shown && d.scale == scale, "decimal text \"" + payload + "\" read as " + text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string payload(reinterpret_cast<const char *>(data) + 1, size - 1);
    switch (data[0] % 8) {
    case 0:
        CheckWide(payload);
        break;
    case 1:
        CheckUtf8(payload);
        break;
    case 2:
        for (AdoVarType kind : {AdoVarType::I1, AdoVarType::I4, AdoVarType::I8, AdoVarType::UI1, AdoVarType::UI8})
            CheckInteger(kind, payload);
        break;
    case 3: {
        AdoVariant value;
        for (AdoVarType kind : {AdoVarType::R8, AdoVarType::Bool})
            (void)AdoParseFixedText(kind, SQL_DOUBLE, payload.data(), payload.size(), &value);
        break;
    }
    case 4:
        for (int sqlType : {SQL_TYPE_DATE, SQL_TYPE_TIMESTAMP, SQL_VARCHAR})
            CheckDate(sqlType, payload);
        break;
    case 5:
        for (int sqlType : {SQL_TYPE_TIME, kSqlSsTime2, kSqlSsTimestampOffset})
            CheckDate(sqlType, payload);
        break;
    case 6:
        CheckDecimal(AdoVarType::Decimal, payload);
        break;
    default:
        CheckDecimal(AdoVarType::Currency, payload);
        break;
    }
    return 0;
}
