// The driver texts this layer parses itself must give exactly the driver's
// own value, and every other form must be left to the driver (false).
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>

#include "data/odbc/AdoValueText.h"
#include "tests/support/AdoDateTimeValue.h"

namespace {

TEST(AdoValueText, ParsesTheDriversTextForms)
{
    struct Case
    {
        AdoVarType kind;
        int sqlType;
        const char* text;
        AdoVariant expected;
    };
    const Case cases[] = {
        {AdoVarType::I4, SQL_INTEGER, "-42", AdoVariant::Integer(AdoVarType::I4, -42)},
        {AdoVarType::I2, SQL_SMALLINT, "40000", AdoVariant::Integer(AdoVarType::I4, 40000)},
        {AdoVarType::I4, SQL_INTEGER, "-9223372036854775808", AdoVariant::Integer(AdoVarType::I8, INT64_MIN)},
        {AdoVarType::UI1, SQL_TINYINT, "255", AdoVariant::Unsigned(AdoVarType::UI1, 255)},
        {AdoVarType::UI1, SQL_TINYINT, "256", AdoVariant::Unsigned(AdoVarType::UI4, 256)},
        {AdoVarType::UI8, SQL_BIGINT, "18446744073709551615", AdoVariant::Unsigned(AdoVarType::UI8, UINT64_MAX)},
        {AdoVarType::R8, SQL_DOUBLE, "3.1", AdoVariant::Real(AdoVarType::R8, 3.1)},
        {AdoVarType::R8, SQL_DOUBLE, "-1.5e-07", AdoVariant::Real(AdoVarType::R8, -1.5e-07)},
        {AdoVarType::R8, SQL_DOUBLE, "0.30000000000000004", AdoVariant::Real(AdoVarType::R8, 0.1 + 0.2)},
        {AdoVarType::Bool, SQL_BIT, "0", AdoVariant::Boolean(false)},
        {AdoVarType::Bool, SQL_BIT, "2", AdoVariant::Boolean(true)},
        {AdoVarType::Date, SQL_TYPE_DATE, "2009-03-15", AdoVariant::Date(Dt(2009, 3, 15))},
        {AdoVarType::Date, SQL_TYPE_DATE, "2024-02-29", AdoVariant::Date(Dt(2024, 2, 29))},
        {AdoVarType::Date, SQL_TYPE_DATE, "2000-02-29", AdoVariant::Date(Dt(2000, 2, 29))},
        {AdoVarType::Date, SQL_TYPE_TIMESTAMP, "2009-03-15 08:05:00", AdoVariant::Date(Dt(2009, 3, 15, 8, 5))},
        {AdoVarType::Date, SQL_TYPE_TIMESTAMP, "2009-03-15 23:59:59.1239999",
         AdoVariant::Date(Dt(2009, 3, 15, 23, 59, 59, 123))},
        {AdoVarType::Date, SQL_TYPE_TIMESTAMP, "2009-03-15 08:05:00.5", AdoVariant::Date(Dt(2009, 3, 15, 8, 5, 0, 500))},
        {AdoVarType::Date, SQL_TYPE_TIMESTAMP, "2009-03-15 08:05", AdoVariant::Date(Dt(2009, 3, 15, 8, 5))},
        {AdoVarType::Date, SQL_TYPE_TIME, "08:05:07", AdoVariant::Date(Dt(1899, 12, 30, 8, 5, 7))},
        // SQL Server's time and datetimeoffset as their driver's text: the
        // wall-clock time is kept, the offset dropped.
        {AdoVarType::Date, kSqlSsTime2, "08:05:07.1234567", AdoVariant::Date(Dt(1899, 12, 30, 8, 5, 7, 123))},
        {AdoVarType::Date, kSqlSsTimestampOffset, "2009-03-15 08:05:00.0000000 +02:00",
         AdoVariant::Date(Dt(2009, 3, 15, 8, 5))},
        {AdoVarType::Date, kSqlSsTimestampOffset, "2009-03-15 23:30:00 -05:00", AdoVariant::Date(Dt(2009, 3, 15, 23, 30))},
        // Dates of older protocol versions arrive in text columns.
        {AdoVarType::Date, SQL_WVARCHAR, "2009-03-15", AdoVariant::Date(Dt(2009, 3, 15))},
        {AdoVarType::Date, SQL_WVARCHAR, "2009-03-15T08:05:00Z", AdoVariant::Date(Dt(2009, 3, 15, 8, 5))},
        {AdoVarType::Date, SQL_WVARCHAR, "08:05:07.5", AdoVariant::Date(Dt(1899, 12, 30, 8, 5, 7, 500))},
    };
    for (const Case& c : cases) {
        AdoVariant v;
        ASSERT_EQ(AdoParseFixedText(c.kind, c.sqlType, c.text, std::strlen(c.text), &v), AdoTextParse::Parsed)
            << c.text;
        EXPECT_EQ(v, c.expected) << c.text << " gave kind " << static_cast<int>(v.Type());
    }
}

TEST(AdoValueText, LeavesOtherFormsToTheDriverAndRejectsOverflow)
{
    struct Case
    {
        AdoVarType kind;
        int sqlType;
        const char* text;
        AdoTextParse expected;
    };
    const AdoTextParse no = AdoTextParse::NotParsed;
    const AdoTextParse range = AdoTextParse::OutOfRange;
    const Case cases[] = {
        {AdoVarType::I4, SQL_INTEGER, "", no},
        {AdoVarType::I4, SQL_INTEGER, "12.5", no},
        {AdoVarType::I4, SQL_INTEGER, " 12", no},
        {AdoVarType::I4, SQL_INTEGER, "+12", no},
        {AdoVarType::I4, SQL_INTEGER, "9223372036854775808", range},
        {AdoVarType::I8, SQL_BIGINT, "-99999999999999999999", range},
        {AdoVarType::I8, SQL_BIGINT, "1.0e+20", range},
        {AdoVarType::I4, SQL_INTEGER, "-1e19", range},
        {AdoVarType::I4, SQL_INTEGER, "1e18", no},
        {AdoVarType::UI4, SQL_INTEGER, "-1", range},
        {AdoVarType::UI8, SQL_BIGINT, "2e19", range},
        {AdoVarType::UI8, SQL_BIGINT, "18446744073709551616", range},
        {AdoVarType::R8, SQL_DOUBLE, "1e999", range},
        {AdoVarType::R8, SQL_DOUBLE, "1,5", no},
        {AdoVarType::R8, SQL_DOUBLE, "nanx", no},
        {AdoVarType::Bool, SQL_BIT, "Y", no},
        {AdoVarType::Date, SQL_TYPE_DATE, "2009/03/15", no},
        {AdoVarType::Date, SQL_TYPE_DATE, "2009-13-15", no},
        // Days the month does not have: read as dates they became days of
        // the next month.
        {AdoVarType::Date, SQL_TYPE_DATE, "2026-02-29", no},
        {AdoVarType::Date, SQL_TYPE_DATE, "1900-02-29", no},
        {AdoVarType::Date, SQL_TYPE_TIMESTAMP, "2026-04-31 08:00:00", no},
        {AdoVarType::Date, SQL_TYPE_DATE, "2009-03-15x", no},
        {AdoVarType::Date, SQL_TYPE_TIMESTAMP, "2009-03-15 8:05", no},
        {AdoVarType::Date, SQL_TYPE_TIMESTAMP, "2009-03-15 24:00:00", no},
        {AdoVarType::Date, SQL_TYPE_TIMESTAMP, "2009-03-15 08:05:00.", no},
        {AdoVarType::Date, SQL_TYPE_TIME, "8:05:07", no},
        {AdoVarType::Date, SQL_TYPE_DATE, "2454905.5", no},
        {AdoVarType::String, SQL_VARCHAR, "abc", no},
    };
    for (const Case& c : cases) {
        AdoVariant v = AdoVariant::Null();
        EXPECT_EQ(AdoParseFixedText(c.kind, c.sqlType, c.text, std::strlen(c.text), &v), c.expected) << c.text;
        EXPECT_TRUE(v.IsNull()) << c.text;
    }
}

// Text from the driver becomes the code page character by character: one
// "?" for each character it lacks (a surrogate pair is one character, a lone
// half one as well, whatever stands before it), NULs inside kept.
TEST(AdoValueText, WideAndUtf8TextBecomeTheCodePage)
{
    struct Case
    {
        const char* name;
        std::u16string wide;
        std::string expected;
    };
    const Case wideCases[] = {
        {"latin and euro", u"A\u00e9\u20ac", "A\xe9\x80"},
        {"pair", u"a\xd83d\xde00" u"b", "a?b"},
        {"lone low half after a question mark", u"?\xdc00", "??"},
        {"lone low half after a pair", u"\xd83d\xde00\xdc00", "??"},
        {"lone high half", u"\xd800" u"A", "?A"},
        {"high half at the end", u"A\xdbff", "A?"},
        {"NUL inside", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : wideCases) {
        std::string out;
        AdoWideToCodePage(reinterpret_cast<const char*>(c.wide.data()), c.wide.size() * 2, &out);
        EXPECT_EQ(out, c.expected) << c.name;
    }
    // An odd last byte is no character.
    const std::u16string ab = u"AB";
    std::string out;
    AdoWideToCodePage(reinterpret_cast<const char*>(ab.data()), 3, &out);
    EXPECT_EQ(out, "A");

    const struct
    {
        const char* name;
        std::string utf8;
        std::string expected;
    } utf8Cases[] = {
        {"plain", "abc", "abc"},
        {"latin and euro", "caf\xc3\xa9 \xe2\x82\xac", "caf\xe9 \x80"},
        {"outside the basic plane", "\xf0\x9f\x98\x80!", "?!"},
        {"broken sequence", "a\xc3", "a?"},
        {"NUL inside", std::string("a\0\xc3\xa9", 4), std::string("a\0\xe9", 3)},
    };
    for (const auto& c : utf8Cases) {
        std::string text = c.utf8;
        AdoUtf8ToCodePage(&text);
        EXPECT_EQ(text, c.expected) << c.name;
    }
}

}  // namespace
