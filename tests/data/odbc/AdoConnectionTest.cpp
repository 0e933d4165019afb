// Connections through the real driver manager: opening a registered source,
// the driver manager's own text for an unknown DSN, and the diagnostics of a
// rejected statement in the exception and the Errors collection.
#include <gtest/gtest.h>

#include "data/odbc/AdoConnection.h"
#include "data/odbc/AdoRecordset.h"
#include "tests/support/TestOdbcSource.h"

namespace {

const char* const kTrusted = "Provider=MSDASQL;Persist Security Info=False;Data Source=%s;Trusted_Connection=yes;";

std::string ConnectionFor(const std::string& dsn)
{
    std::string text = kTrusted;
    return text.replace(text.find("%s"), 2, dsn);
}

TEST(AdoConnection, OpensRegisteredSourceAndReportsItsDbms)
{
    TestOdbcSource source("MorvConnOk");
    AdoConnection connection;
    connection.SetMode(adModeRead);
    connection.SetConnectionTimeout(720);
    connection.SetCommandTimeout(1440);
    EXPECT_EQ(connection.State(), adStateClosed);
    connection.Open(ConnectionFor(source.Dsn()), "", "", 0);
    EXPECT_EQ(connection.State(), adStateOpen);
    EXPECT_EQ(connection.DbmsName(), "SQLite");
    EXPECT_TRUE(connection.Errors().empty());
    // Settings that only make sense before Open are refused while open.
    EXPECT_THROW(connection.SetMode(adModeShareExclusive), AdoException);
    EXPECT_THROW(connection.Open(ConnectionFor(source.Dsn())), AdoException);
    connection.Close();
    EXPECT_EQ(connection.State(), adStateClosed);
    connection.Close();  // closing twice is harmless
}

TEST(AdoConnection, OpenFailuresCarryTheDriverManagerText)
{
    TestOdbcSource source("MorvConnFail");
    struct Case
    {
        std::string connection;
        uint32_t code;
        std::string inDescription;
        std::string sqlState;
    };
    const Case cases[] = {
        {ConnectionFor("NoSuchSource"), AdoCode::ProviderError, "Data source name not found", "IM002"},
        {"Provider=MSDASQL;Data Source=" + source.Dsn() + ";Database=" + source.Folder() + "/missing.db;",
         AdoCode::ProviderError, "connect failed", "HY000"},
        {"Provider=MSDASQL;Data Source={unclosed;", AdoCode::InvalidArgument, "no closing", ""},
    };
    for (const Case& c : cases) {
        AdoConnection connection;
        try {
            connection.Open(c.connection);
            ADD_FAILURE() << "opened " << c.connection;
        } catch (const AdoException& e) {
            EXPECT_EQ(e.Code(), c.code) << c.connection;
            EXPECT_NE(e.Description().find(c.inDescription), std::string::npos) << e.Description();
            EXPECT_EQ(e.Source(), "AdoConnection::Open");
            if (!c.sqlState.empty()) {
                EXPECT_EQ(e.SqlState(), c.sqlState) << e.Description();
                ASSERT_FALSE(connection.Errors().empty());
                EXPECT_EQ(connection.Errors().front().description, e.Description());
            }
        }
        EXPECT_EQ(connection.State(), adStateClosed);
    }
}

TEST(AdoConnection, RejectedStatementKeepsDiagnosticsUntilTheNextSuccess)
{
    TestOdbcSource source("MorvConnDiag");
    source.Exec("CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (1);");
    AdoConnection connection;
    connection.Open(ConnectionFor(source.Dsn()));

    AdoRecordset rs;
    try {
        rs.Open("SELEC a FROM t", connection, adOpenStatic, adLockReadOnly, adCmdText);
        FAIL() << "a malformed statement ran";
    } catch (const AdoException& e) {
        EXPECT_EQ(e.Code(), AdoCode::ProviderError);
        EXPECT_NE(e.Description().find("syntax error"), std::string::npos) << e.Description();
        EXPECT_FALSE(e.IsConnectionLost());
    }
    EXPECT_EQ(rs.State(), adStateClosed);
    ASSERT_EQ(connection.Errors().size(), 1u);
    EXPECT_NE(connection.Errors()[0].description.find("syntax error"), std::string::npos);
    EXPECT_EQ(connection.Errors()[0].number, AdoCode::ProviderError);

    EXPECT_THROW(rs.Open("SELECT nope FROM t", connection, adOpenForwardOnly), AdoException);
    EXPECT_NE(connection.Errors().at(0).description.find("nope"), std::string::npos);

    // A diagnostic longer than the first buffer for it arrives whole: the
    // SQLite driver cuts its own messages at 512 bytes, so all 512 must come.
    const std::string longName = "missing_" + std::string(1500, 'q');
    try {
        rs.Open("SELECT a FROM " + longName, connection, adOpenStatic);
        FAIL() << "a missing table was read";
    } catch (const AdoException& e) {
        EXPECT_EQ(e.Description().rfind("[SQLite]no such table: missing_qqq", 0), 0u) << e.Description();
        EXPECT_GE(e.Description().size(), 512u);
    }

    rs.Open("SELECT a FROM t", connection, adOpenForwardOnly);
    EXPECT_TRUE(connection.Errors().empty());
}

TEST(AdoConnection, ExecuteRunsStatementsWithoutRows)
{
    TestOdbcSource source("MorvConnExec");
    source.Exec("CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (1), (2), (3);");
    AdoConnection connection;
    connection.Open(ConnectionFor(source.Dsn()));
    EXPECT_EQ(connection.Execute("UPDATE t WITH (NOLOCK) SET a = a + 1 WHERE a > 1"), 2);
    EXPECT_THROW(connection.Execute("UPDATE missing SET a = 1"), AdoException);
    EXPECT_NE(connection.Errors().at(0).description.find("missing"), std::string::npos);
    connection.Close();
    EXPECT_THROW(connection.Execute("SELECT 1"), AdoException);
}

TEST(AdoConnection, EachSourceOfAProcessIsReachable)
{
    // The driver manager must read the odbc.ini named at connect time, not
    // one it cached from an earlier source of the same process.
    for (const char* dsn : {"MorvFirst", "MorvSecond"}) {
        TestOdbcSource source(dsn);
        source.Exec("CREATE TABLE marker (name TEXT); INSERT INTO marker VALUES ('" + std::string(dsn) + "');");
        AdoConnection connection;
        connection.Open(ConnectionFor(dsn));
        AdoRecordset rs;
        rs.Open("SELECT name FROM marker", connection, adOpenStatic);
        ASSERT_FALSE(rs.IsEOF());
        EXPECT_EQ(rs.Fields().Item(0L).Value().Text(), dsn);
    }
}

TEST(AdoConnection, PasswordWithSeparatorsDoesNotChangeTheOtherKeys)
{
    // A password holding ";" and "}" reaches the driver manager as one value;
    // the data source named before it is still the one opened.
    TestOdbcSource source("MorvConnPwd");
    source.Exec("CREATE TABLE marker (v TEXT); INSERT INTO marker VALUES ('main');");
    AdoConnection connection;
    connection.Open("Provider=MSDASQL;Persist Security Info=False;Data Source=" + source.Dsn() +
                    ";User ID=reader;Password=se;cr}et x;");
    AdoRecordset rs;
    rs.Open("SELECT v FROM marker", connection, adOpenStatic);
    EXPECT_EQ(rs.Fields().Item(0L).Value().Text(), "main");
}

}  // namespace
