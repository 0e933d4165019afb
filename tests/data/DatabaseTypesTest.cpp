// Per-type connection strings, date literals and quoting, the error
// classification and password masking.
#include <gtest/gtest.h>

#include <string>

#include "data/DatabaseTypes.h"
#include "data/OdbcFailure.h"
#include "util/XException.h"

namespace {

struct ConnectionCase
{
    int type;
    const char* dataSource;
    const char* user;      // nullptr: absent
    const char* password;  // nullptr: absent
    const char* expected;  // nullptr: throws
};

TEST(ConnectionStringTest, EveryTypeBuildsItsOwnForm)
{
    const ConnectionCase cases[] = {
        {1, "SRC", "usr", "pw", "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=STORED;Extended Properties=dBASE IV;"},
        {2, "SRC", "usr", "pw", "SRC"},
        {3, "SRC", "usr", "pw", "Persist Security Info=False;Data Source=SRC;Collating Sequence=machine;User ID=usr;Password=pw;"},
        {3, "SRC", nullptr, nullptr, "Persist Security Info=False;Data Source=SRC;Collating Sequence=machine;"},
        {4, "SRC", "usr", "pw", "Provider=VFPOLEDB.1;Data Source=SRC;Collating Sequence=MACHINE"},
        {5, "SRC", "usr", "pw", "Provider=MSDASQL;Persist Security Info=False;Data Source=SRC;User ID=usr;Password=pw;"},
        {6, "SRC", "usr", "pw", "Data Source=SRC;User Id=usr;Password=pw;"},
        {6, "SRC", nullptr, nullptr, "Data Source=SRC;User Id=;Password=;"},
        {7, "SRC", "usr", "pw", "Database=SRC"},
        {8, "SRC", "usr", "pw", "DB2OLEDB"},
        {9, "SRC", "usr", "pw", "Persist Security Info=False;Data Source=SRC;User ID=usr;Password=pw"},
        {9, "SRC", "", "", "Persist Security Info=False;Data Source=SRC;User ID=;Password="},
        {10, "SRC", "usr", "pw", "DSN=SRC;UID=usr;PWD=pw"},
        {10, "SRC", nullptr, nullptr, "DSN=SRC"},
        {11, "SRC", "usr", "pw", "Data Source=SRC;User ID=usr;Password=pw;Persist Security Info=True;"},
        {12, "SRC", "usr", "pw", "Provider=OraOLEDB.Oracle;Data Source=SRC;User ID=usr;Password=pw;Persist Security Info=True;"},
        {13, "SRC", "usr", "pw", "Provider=MSDAORA;Data Source=SRC;User ID=usr;Password=pw;Persist Security Info=True;"},
        {14, "SRC", "usr", "pw", "Provider=Sybase ASE OLE DB Provider;Data source=SRC;User Id=usr;Password=pw;"},
        {15, "SRC", "usr", "pw", "DSN=SRC;UID=usr;PWD=pw;"},
        {16, "SRC", "usr", "pw", "DSN=SRC;UID=usr;PWD=pw"},
        {17, "SRC", "usr", "pw", nullptr},
        {18, "SRC", "usr", "pw", "DSN=SRC;UID=usr;PWD=pw;ISOLATIONLEVEL=1;"},
        {18, "SRC", "", "", "DSN=SRC;ISOLATIONLEVEL=1;"},
        {19, "SRC", "usr", "pw", "DSN=SRC;UID=usr;PWD=pw"},
        {20, "SRC", "usr", "pw", "DSN=SRC;Uid=usr;Pwd=pw;"},
        {21, "SRC", nullptr, nullptr, "DSN=SRC;Uid=;Pwd=;"},
        {0, "SRC", "usr", "pw", nullptr},
        {22, "SRC", "usr", "pw", nullptr},
        // MSSQL: the database after the first ";", trusted without a user.
        {5, "SISDSN; SIS2009", "reader", "", "Provider=MSDASQL;Persist Security Info=False;Data Source=SISDSN;Database=SIS2009;User ID=reader;"},
        {5, "SISDSN; SIS2009", "", "secret", "Provider=MSDASQL;Persist Security Info=False;Data Source=SISDSN;Database=SIS2009;Trusted_Connection=yes;"},
        {5, "SISDSN;", "", "", "Provider=MSDASQL;Persist Security Info=False;Data Source=SISDSN;Trusted_Connection=yes;"},
        // Values that would break the key=value form are braced.
        {5, "SRC", "usr", "a;b", "Provider=MSDASQL;Persist Security Info=False;Data Source=SRC;User ID=usr;Password={a;b};"},
        {10, "SRC", "usr", " x}", "DSN=SRC;UID=usr;PWD={ x}}}"},
    };
    for (const ConnectionCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " " + c.dataSource);
        const XString user(c.user), password(c.password);
        const XString* u = c.user ? &user : nullptr;
        const XString* p = c.password ? &password : nullptr;
        if (!c.expected) {
            EXPECT_THROW(ConnectionStringFor(c.type, c.dataSource, u, p, "STORED"), XException);
            continue;
        }
        EXPECT_STREQ(c.expected, ConnectionStringFor(c.type, c.dataSource, u, p, "STORED").c_str());
    }
}

TEST(DateLiteralTest, EveryTypeWritesItsOwnLiteral)
{
    const XDate march15(2009, 3, 15);
    struct Case
    {
        int type;
        const char* expected;
        const char* nullExpected;
    } const cases[] = {
        {1, "#15-Mar-2009#", "##"},
        {2, "03/15/2009", ""},
        {3, "{^2009/03/15}", "{^}"},
        {4, "{^2009/03/15}", "{^}"},
        {5, "'2009-03-15'", "''"},
        {6, "'2009-03-15'", "''"},
        {7, "'2009-03-15'", "''"},
        {8, "'2009-03-15'", "''"},
        {9, "#15-Mar-2009#", "##"},
        {10, "'03/15/2009'", ""},
        {11, "TO_DATE( '20090315', 'YYYYMMDD' )", ""},
        {12, "TO_DATE( '20090315', 'YYYYMMDD' )", ""},
        {13, "TO_DATE( '20090315', 'YYYYMMDD' )", ""},
        {14, "'2009-03-15'", "''"},
        {15, "'2009-03-15'", "''"},
        {16, "'2009-03-15'", "''"},
        {17, "'2009-03-15'", "''"},
        {18, "TO_DATE(\"03/15/2009\",\"%m/%d/%Y\")", ""},
        {19, "76048", "-73411"},  // days since 28 December 1800
        {20, "'2009-03-15'", "''"},
        {21, "'20090315'", "''"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_STREQ(c.expected, DateLiteralFor(c.type, march15, "mm/dd/yyyy").c_str());
        EXPECT_STREQ(c.nullExpected, DateLiteralFor(c.type, XDate(), "mm/dd/yyyy").c_str());
    }
    for (int unknown : {0, 22, -1})
        EXPECT_THROW(DateLiteralFor(unknown, march15, "mm/dd/yyyy"), XException) << unknown;
}

TEST(QuoteTextTest, QuotesForMSSQLAndAccessOnlyAndDoublesEmbeddedQuotes)
{
    struct Case
    {
        int type;
        const char* text;
        const char* expected;
    } const cases[] = {
        {5, "abc", "'abc'"},
        {9, "abc", "'abc'"},
        {6, "abc", "abc"},
        {7, "abc", "abc"},
        {5, "O'Neil", "'O''Neil'"},
        {5, "x' OR '1'='1", "'x'' OR ''1''=''1'"},
        {5, "", "''"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.expected, QuoteTextFor(c.type, c.text).c_str()) << c.type << " " << c.text;
}

// Every catch site of the data layer translates through OdbcFailure, so the
// kind decides retries: only a lost link may be retried.
TEST(OdbcFailureTest, TheKindAndNumbersComeFromTheDriversReport)
{
    using namespace DatabaseType;
    const struct {
        const char* name;
        int type;
        uint32_t code;
        AdoErrors diagnostics;
        XErrorKind kind;
    } cases[] = {
        {"refused statement", MSSQL, AdoCode::ProviderError,
         {{AdoCode::ProviderError, "42S02", 208, "Invalid object name 'Students'.", "AdoRecordset::Open"}},
         XErrorKind::Database},
        {"lost link", MSSQL, AdoCode::ConnectionLost,
         {{AdoCode::ProviderError, "08S01", 10054, "Communication link failure", "AdoRecordset::MoveNext"}},
         XErrorKind::ConnectionLost},
        // A general SQLSTATE: the native code tells an ended session, and
        // only where that number means one.
        {"ended session by its number", OracleODBC, AdoCode::ProviderError,
         {{AdoCode::ProviderError, "HY000", 3113, "end-of-file on communication channel", ""}},
         XErrorKind::ConnectionLost},
        {"lost contact by its number, second record", OracleOLE, AdoCode::ProviderError,
         {{AdoCode::ProviderError, "01000", 0, "general warning", ""},
          {AdoCode::ProviderError, "HY000", 3135, "connection lost contact", ""}},
         XErrorKind::ConnectionLost},
        {"connect time-out by its number", OracleMSDAORA, AdoCode::ProviderError,
         {{AdoCode::ProviderError, "HY000", 12170, "TNS:Connect timeout occurred", ""}},
         XErrorKind::ConnectionLost},
        {"the same number from another database", MSSQL, AdoCode::ProviderError,
         {{AdoCode::ProviderError, "HY000", 3113, "some other failure", ""}},
         XErrorKind::Database},
        {"a text naming an ended session", OracleODBC, AdoCode::ProviderError,
         {{AdoCode::ProviderError, "42S02", 942, "table or view \"ORA-03113\" does not exist", ""}},
         XErrorKind::Database},
        {"value that would not convert", MSSQL, AdoCode::ConversionFailed, {}, XErrorKind::Conversion},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const AdoException error(c.code, "AdoRecordset::Open",
                                 c.diagnostics.empty() ? "no diagnostic" : c.diagnostics.front().description,
                                 c.diagnostics);
        const XException failure = OdbcFailure(error, "While executing query: the text", c.type);
        EXPECT_STREQ(failure.what(), "While executing query: the text");
        EXPECT_EQ(failure.Kind(), c.kind);
        EXPECT_EQ(static_cast<uint32_t>(failure.GetCode()), c.code);
        EXPECT_EQ(failure.SqlState(), c.diagnostics.empty() ? "" : c.diagnostics.front().sqlState);
        EXPECT_EQ(failure.NativeCode(), c.diagnostics.empty() ? 0 : c.diagnostics.front().nativeError);
        EXPECT_EQ(failure.IsDatabaseFailure(), c.kind != XErrorKind::Conversion);
    }
}

TEST(FieldStatusTextTest, NamesTheStatusAndSaysWhatItMeans)
{
    EXPECT_STREQ("adFieldOK - OK.", FieldStatusText(0).c_str());
    EXPECT_STREQ("adFieldIsNull - The provider returned a VARIANT value of type VT_NULL and that the field is not empty.",
                 FieldStatusText(3).c_str());
    EXPECT_STREQ("adFieldReadOnly - The field in the data source is defined as read-only.", FieldStatusText(24).c_str());
    EXPECT_STREQ("Undefined field status.", FieldStatusText(1).c_str());
    EXPECT_STREQ("UNKNOWN!", FieldTypeName(1).c_str());
    EXPECT_STREQ("Big Int", FieldTypeName(20).c_str());
}

TEST(MaskPasswordTest, NoCharacterOfAPasswordSurvives)
{
    struct Case
    {
        const char* text;
        const char* expected;
    } const cases[] = {
        {"DSN=x;UID=u;PWD=secret;X=1", "DSN=x;UID=u;PWD=******;X=1"},
        {"DSN=x;PWD=secret", "DSN=x;PWD=******"},
        {"Data Source=x;User ID=u;Password=pw;", "Data Source=x;User ID=u;Password=**;"},
        {"DSN=x;Pwd=abc;", "DSN=x;Pwd=***;"},
        {"DSN=x;pwd=abc;", "DSN=x;pwd=***;"},
        {"DSN=x;PWD=;", "DSN=x;PWD=;"},
        // A braced value is masked to its closing brace, "}}" included.
        {"DSN=x;PWD={se;cr}}et};Y=2", "DSN=x;PWD={*********};Y=2"},
        {"DSN=x;PWD={unclosed;tail", "DSN=x;PWD={*************"},
        // Every password key, not only the first.
        {"Password=a;PWD=b;", "Password=*;PWD=*;"},
        {"Persist Security Info=False;Data Source=x", "Persist Security Info=False;Data Source=x"},
        {"", ""},
    };
    for (const auto& c : cases) {
        XString text(c.text);
        MaskPassword(text);
        EXPECT_STREQ(c.expected, text.c_str()) << c.text;
    }
}

TEST(MaskPasswordTest, ABuiltConnectionStringNeverShowsItsPassword)
{
    // Each password holds the markers Zq9 / Xw7 around characters that
    // could end a value early.
    const char* const passwords[] = {"Zq9;Xw7", " Zq9 ", "{Zq9}", "'Zq9", "=Zq9", "Zq9}}Xw7", "Zq9\"Xw7"};
    const XString user("reader");
    for (const char* password : passwords) {
        const XString pwd(password);
        for (int type : {3, 5, 6, 9, 10, 11, 14, 15, 18, 20}) {
            XString text = ConnectionStringFor(type, "SRC", &user, &pwd, "SRC");
            const uint32_t length = text.GetLength();
            MaskPassword(text);
            EXPECT_EQ(length, text.GetLength());
            EXPECT_LT(text.FindText("Zq9"), 0) << type << " " << text.c_str();
            EXPECT_LT(text.FindText("Xw7"), 0) << type << " " << text.c_str();
            EXPECT_GE(text.FindText("reader"), 0) << type << " " << text.c_str();
        }
    }
    // A user name that spells a password key and opens a quote: the key
    // inside it must not carry the masking past the real password key.
    const XString trickyUser("x;Pwd=\"u");
    const XString pwd("Zq9\"Xw7");
    for (int type : {3, 5, 6, 9, 10, 11, 14, 15, 18, 20}) {
        XString text = ConnectionStringFor(type, "SRC", &trickyUser, &pwd, "SRC");
        MaskPassword(text);
        EXPECT_LT(text.FindText("Zq9"), 0) << type << " " << text.c_str();
        EXPECT_LT(text.FindText("Xw7"), 0) << type << " " << text.c_str();
    }
}

}  // namespace
