// Connection strings: the logged form is parsed robustly and translated into
// driver manager keys without letting a value's ";" or braces change the keys.
#include <gtest/gtest.h>

#include <stdexcept>

#include "data/odbc/AdoConnectionString.h"

namespace {

TEST(AdoConnectionString, ParseSplitsKeysAndKeepsQuotedValues)
{
    using Pairs = std::vector<AdoConnectionString::Pair>;
    struct Case
    {
        const char* text;
        Pairs expected;
    };
    const Case cases[] = {
        {"DSN=a;UID=b", {{"DSN", "a"}, {"UID", "b"}}},
        {" Data Source = SIS DSN ;;Database=x;", {{"Data Source", "SIS DSN"}, {"Database", "x"}}},
        {"PWD={a;b}}c};DSN=x", {{"PWD", "a;b}c"}, {"DSN", "x"}}},
        {"PWD={ edge };DSN=x", {{"PWD", " edge "}, {"DSN", "x"}}},
        {"Password=\"q\"\"x;y\";DSN=x", {{"Password", "q\"x;y"}, {"DSN", "x"}}},
        {"Extended Properties='dBASE IV';", {{"Extended Properties", "dBASE IV"}}},
        {"Trusted_Connection=yes", {{"Trusted_Connection", "yes"}}},
        {"DSN=", {{"DSN", ""}}},
        {"", {}},
        // An unquoted password keeps its ";" up to the next known keyword or
        // the closing ";", as the builder writes passwords unquoted.
        {"Data Source=S;User ID=u;Password=ab;cd=e;", {{"Data Source", "S"}, {"User ID", "u"}, {"Password", "ab;cd=e"}}},
        {"DSN=S;UID=u;PWD=p;q", {{"DSN", "S"}, {"UID", "u"}, {"PWD", "p;q"}}},
        {"Data Source=S;Password=p;w;Persist Security Info=True;",
         {{"Data Source", "S"}, {"Password", "p;w"}, {"Persist Security Info", "True"}}},
        {"Data Source=S;Password=p;Database=D;", {{"Data Source", "S"}, {"Password", "p"}, {"Database", "D"}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AdoConnectionString::Parse(c.text), c.expected) << c.text;
}

TEST(AdoConnectionString, UnclosedQuoteIsAnError)
{
    for (const char* text : {"PWD={abc", "PWD=\"abc;DSN=x", "PWD={a}b;"}) {
        EXPECT_THROW(AdoConnectionString::Parse(text), std::invalid_argument) << text;
    }
}

TEST(AdoConnectionString, ToOdbcTranslatesProviderKeys)
{
    struct Case
    {
        const char* ado;
        const char* odbc;
    };
    const Case cases[] = {
        {"Provider=MSDASQL;Persist Security Info=False;Data Source=SISDSN;Database=SIS2009;User ID=reader;",
         "DSN=SISDSN;DATABASE=SIS2009;UID=reader"},
        {"Provider=MSDASQL;Persist Security Info=False;Data Source=SISDSN;Trusted_Connection=yes;",
         "DSN=SISDSN;Trusted_Connection=yes"},
        {"Provider=MSDASQL;Persist Security Info=False;Data Source=S;User ID=u;Password=p;w}x;",
         "DSN=S;UID=u;PWD={p;w}}x}"},
        {"provider=x;data source=S;user id=u;password= p ;", "DSN=S;UID=u;PWD=p"},
        {"Provider=MSDASQL;Data Source=S;User ID=u;Password={ p };", "DSN=S;UID=u;PWD={ p }"},
        {"DSN=S;UID=u;PWD=p;ISOLATIONLEVEL=1;", "DSN=S;UID=u;PWD=p;ISOLATIONLEVEL=1"},
        {"Database=/tmp/a.db", "DATABASE=/tmp/a.db"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AdoConnectionString::ToOdbc(c.ado), c.odbc) << c.ado;
}

TEST(AdoConnectionString, QuoteValueBracesOnlyWhatNeedsIt)
{
    struct Case
    {
        const char* value;
        const char* quoted;
    };
    const Case cases[] = {
        {"plain", "plain"},   {"", ""},           {"a b", "a b"},       {"a;b", "{a;b}"},
        {"a}b", "{a}}b}"},    {"{a", "{{a}"},      {" lead", "{ lead}"}, {"trail ", "{trail }"},
        {"=x", "{=x}"},       {"x=y", "x=y"},      {"\xe9t\xe9", "\xe9t\xe9"},
        // A leading quotation mark would open a quoted value when read back.
        {"\"pw", "{\"pw}"},    {"'pw", "{'pw}"},    {"p\"w", "p\"w"},     {"pw\n", "{pw\n}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AdoConnectionString::QuoteValue(c.value), c.quoted) << c.value;
        // Whatever was quoted reads back as the original value.
        const auto pairs = AdoConnectionString::Parse(std::string("K=") + AdoConnectionString::QuoteValue(c.value));
        ASSERT_EQ(pairs.size(), 1u) << c.value;
        EXPECT_EQ(pairs[0].second, std::string(c.value)) << c.value;
    }
}

}  // namespace

namespace {

// FreeTDS is told the bridge's code page unless the data source names one.
TEST(AdoConnectionString, FreeTdsGetsTheClientCharset)
{
    const struct
    {
        const char* text;
        const char* driver;
        const char* expected;
    } cases[] = {
        {"DSN=SIS;DATABASE=MORV", "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so",
         "DSN=SIS;DATABASE=MORV;ClientCharset=CP1252"},
        {"DSN=SIS", "FreeTDS", "DSN=SIS;ClientCharset=CP1252"},
        {"DSN=SIS", "FreeTDS /usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so", "DSN=SIS;ClientCharset=CP1252"},
        {"DSN=SIS;clientcharset=UTF-8", "libtdsodbc.so", "DSN=SIS;clientcharset=UTF-8"},
        {"DSN=SIS", "psqlodbcw.so", "DSN=SIS"},
        {"DSN=SIS", "", "DSN=SIS"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AdoConnectionString::WithClientCharset(c.text, c.driver), c.expected) << c.text << " / " << c.driver;
    EXPECT_EQ(AdoConnectionString::DriverOf("DRIVER={FreeTDS};SERVER=x"), "FreeTDS");
}

}  // namespace

namespace {

// psqlODBC is asked for a server cursor unless the data source chose
// UseDeclareFetch or Fetch itself (also by the driver's short keys).
TEST(AdoConnectionString, PsqlOdbcGetsDeclareFetchUnlessTheSourceChose)
{
    const struct
    {
        const char* text;
        const char* driver;
        const char* expected;
    } cases[] = {
        {"DSN=NoSuchPgSource", "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so",
         "DSN=NoSuchPgSource;UseDeclareFetch=1;Fetch=1000"},
        {"DSN=NoSuchPgSource", "PostgreSQL ANSI", "DSN=NoSuchPgSource;UseDeclareFetch=1;Fetch=1000"},
        {"DSN=NoSuchPgSource", "MyPg /opt/psqlodbca.so", "DSN=NoSuchPgSource;UseDeclareFetch=1;Fetch=1000"},
        {"DSN=NoSuchPgSource;usedeclarefetch=0", "psqlodbcw.so", "DSN=NoSuchPgSource;usedeclarefetch=0"},
        {"DSN=NoSuchPgSource;Fetch=50", "psqlodbcw.so", "DSN=NoSuchPgSource;Fetch=50"},
        {"DSN=NoSuchPgSource;B6=0", "psqlodbcw.so", "DSN=NoSuchPgSource;B6=0"},
        {"DSN=NoSuchPgSource;A7=50", "psqlodbcw.so", "DSN=NoSuchPgSource;A7=50"},
        {"DSN=NoSuchPgSource", "libtdsodbc.so", "DSN=NoSuchPgSource"},
        {"DSN=NoSuchPgSource", "", "DSN=NoSuchPgSource"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AdoConnectionString::WithDeclareFetch(c.text, c.driver), c.expected) << c.text << " / " << c.driver;
}

}  // namespace
