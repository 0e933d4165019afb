// How values of real database servers are read without a server: which text
// path each driver gets, how SQL Server's types are described, and exact
// decimals and currency from a driver's decimal text.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include "data/odbc/AdoConnection.h"
#include "data/odbc/AdoTypes.h"
#include "data/odbc/AdoValueReader.h"
#include "data/odbc/AdoValueText.h"

namespace {

TEST(AdoDriverText, EachDriverDeliversTheCodePage)
{
    const struct
    {
        const char* driver;
        const char* dbms;
        AdoTextMode mode;
        const char* setup;
    } cases[] = {
        {"libtdsodbc.so", "Microsoft SQL Server", AdoTextMode::Wide, ""},
        {"psqlodbcw.so", "PostgreSQL", AdoTextMode::Wide, ""},
        {"PSQLODBC35W.DLL", "PostgreSQL", AdoTextMode::Wide, ""},
        {"psqlodbca.so", "PostgreSQL", AdoTextMode::Utf8, "SET client_encoding TO 'UTF8'"},
        {"libsqlite3odbc.so", "SQLite", AdoTextMode::Bytes, ""},
        {"sqlite3odbc.so", "", AdoTextMode::Bytes, ""},
        {"msodbcsql18.so", "Microsoft SQL Server", AdoTextMode::Wide, ""},
    };
    for (const auto& c : cases) {
        const AdoDriverText text = AdoDriverTextFor(c.driver, c.dbms);
        EXPECT_EQ(text.mode, c.mode) << c.driver;
        EXPECT_EQ(text.setup, c.setup) << c.driver;
    }
}

TEST(AdoTypes, SqlServerTimeTypesAndTextDatesReadAsDates)
{
    const struct
    {
        int sqlType;
        const char* typeName;
        int adoType;
        AdoVarType kind;
    } cases[] = {
        {kSqlSsTime2, "time", adDBTime, AdoVarType::Date},
        {kSqlSsTimestampOffset, "datetimeoffset", adDBTimeStamp, AdoVarType::Date},
        // Protocol versions below 7.3 describe these as text.
        {SQL_WVARCHAR, "date", adDBDate, AdoVarType::Date},
        {SQL_WVARCHAR, "datetime2", adDBTimeStamp, AdoVarType::Date},
        {SQL_VARCHAR, "time", adDBTime, AdoVarType::Date},
        {SQL_WVARCHAR, "nvarchar", adVarWChar, AdoVarType::String},
        {SQL_NUMERIC, "money", adCurrency, AdoVarType::Currency},
        {SQL_NUMERIC, "numeric", adNumeric, AdoVarType::Decimal},
    };
    for (const auto& c : cases) {
        const AdoTypeMapping m = AdoMapSqlType(c.sqlType, false, c.typeName);
        EXPECT_EQ(m.adoType, c.adoType) << c.typeName;
        EXPECT_EQ(m.valueKind, c.kind) << c.typeName;
    }
}

TEST(AdoValueReader, DecimalsKeepTheirDigitsAndCurrencyRounds)
{
    const struct
    {
        AdoVarType kind;
        const char* text;
        AdoVariant expected;
    } cases[] = {
        {AdoVarType::Decimal, "-5.25", AdoVariant::Decimal({525, 0, 2, true})},
        // DECIMAL(38): more digits than an exact decimal holds stay as text.
        {AdoVarType::Decimal, "12345678901234567890123456789012345678",
         AdoVariant::String("12345678901234567890123456789012345678")},
        {AdoVarType::Decimal, "-1234567890123456789012345678.9012345678",
         AdoVariant::String("-1234567890123456789012345678.9012345678")},
        {AdoVarType::Currency, "12.5", AdoVariant::Currency(125000)},
        {AdoVarType::Currency, "0.00005", AdoVariant::Currency(1)},
        {AdoVarType::Currency, "-0.00004", AdoVariant::Currency(0)},
        {AdoVarType::Currency, "922337203685477.5807", AdoVariant::Currency(INT64_MAX)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AdoValueReader::DecimalFromText("amount", c.kind, c.text), c.expected) << c.text;

    for (const char* bad : {"12x", "", "922337203685477.5808"}) {
        const AdoVarType kind = std::string(bad).size() > 5 ? AdoVarType::Currency : AdoVarType::Decimal;
        EXPECT_THROW(AdoValueReader::DecimalFromText("amount", kind, bad), AdoException) << bad;
    }
}

}  // namespace
