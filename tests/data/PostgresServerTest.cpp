// The data access object against a real networked server (PostgreSQL through
// its ODBC drivers, started by the test): connections that fail, connections
// the server cuts while a query runs, the server stopping under a run, text
// in the bridge's code page from a UTF-8 database, and exact numerics and
// money.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "data/DatabaseTypes.h"
#include "data/ODBCDataAccess.h"
#include "data/odbc/AdoConnection.h"
#include "data/odbc/AdoRecordset.h"
#include "tests/support/AdoDateTimeValue.h"
#include "tests/support/Prerequisite.h"
#include "tests/support/TestPostgresServer.h"
#include "util/XException.h"

namespace {

class PostgresServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string missing = TestPostgresServer::Missing();
        if (!missing.empty())
            MISSING_PREREQUISITE(missing);
        m_server = std::make_unique<TestPostgresServer>();
        // SQL Server's catalogue views, so the existence checks run as the
        // engine writes them.
        m_server->Sql(
            "CREATE TABLE pupils (id integer, name varchar(40), fee numeric(10,4), big numeric(38,0), cash money);"
            "INSERT INTO pupils VALUES (1, 'Zoë', 12.3456, 12345678901234567890123456789012345678, 1234567.89),"
            " (2, '€uro', -5.25, NULL, -0.05), (3, 'Łódź 😀x', 0, 1, 0), (4, 'plain', NULL, NULL, NULL);"
            "CREATE VIEW slowpupils AS SELECT p.* FROM pupils p, (SELECT pg_sleep(1.5)) s;"
            "CREATE VIEW sysobjects AS SELECT c.relname::varchar AS name, c.oid::integer AS id,"
            " (CASE c.relkind WHEN 'v' THEN 'V' ELSE 'U' END)::varchar AS xtype FROM pg_class c"
            " WHERE c.relnamespace = 'public'::regnamespace;"
            "CREATE VIEW syscolumns AS SELECT a.attname::varchar AS name, a.attrelid::integer AS id"
            " FROM pg_attribute a WHERE a.attnum > 0;");
    }

    std::unique_ptr<ODBCDataAccess> Connected(const std::string& dsn = "MorvPgSource")
    {
        auto access = std::make_unique<ODBCDataAccess>(0, DatabaseType::MSSQL);
        access->SetConnectionTimeout(10);
        access->Connect(m_server->ConnectionString(dsn).c_str());
        return access;
    }

    std::unique_ptr<TestPostgresServer> m_server;
};

TEST_F(PostgresServerTest, FailedConnectionsNameTheirCause)
{
    const struct
    {
        const char* name;
        const char* password;
        bool serverDown;
        const char* cause;
    } cases[] = {
        {"wrong password", "not-the-password", false, "password authentication failed"},
        {"server down", TestPostgresServer::Password, true, "127.0.0.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.serverDown)
            m_server->Stop();
        ODBCDataAccess access(0, DatabaseType::MSSQL);
        access.SetConnectionTimeout(10);
        try {
            access.Connect(m_server->ConnectionString("MorvPgSource", c.password).c_str());
            ADD_FAILURE() << "connected";
        } catch (const XException& error) {
            EXPECT_NE(std::string(error.what()).find(c.cause), std::string::npos) << error.what();
            EXPECT_EQ(std::string(error.what()).find(c.password), std::string::npos) << error.what();
        }
        EXPECT_FALSE(access.IsConnected());
    }
}

// Text stored as UTF-8 reaches the bridge in code page 1252 through both
// drivers; a character the code page lacks becomes one "?".
TEST_F(PostgresServerTest, TextArrivesInTheCodePageAndNumericsKeepTheirDigits)
{
    for (const char* dsn : {"MorvPgSource", "MorvPgAnsi"}) {
        SCOPED_TRACE(dsn);
        auto access = Connected(dsn);
        ASSERT_NO_THROW(access->RunQuery("SELECT name, fee, big, cash FROM pupils ORDER BY id"));
        const struct
        {
            const char* name;
            const char* fee;
            const char* big;
            const char* cash;  // money: reported as SQL_FLOAT, read as a double
            double cashValue;
        } rows[] = {
            {"Zo\xeb", "12.3456", "12345678901234567890123456789012345678", "1234567.89", 1234567.89},
            {"\x80uro", "-5.25", "", "-0.05", -0.05},
            // A character outside the basic plane (two UTF-16 units) is one "?".
            {"?\xf3" "d? ?x", "0", "1", "0", 0},
            {"plain", "", "", "", 0},
        };
        bool more = access->GetFirstRecord();
        for (const auto& row : rows) {
            ASSERT_TRUE(more);
            ODBCTable table("pupils", "pupils", "pupils");
            ODBCField name(&table, "name", 0), fee(&table, "fee", 1), big(&table, "big", 2), cash(&table, "cash", 3);
            EXPECT_EQ(access->GetText(&name), XString(row.name));
            EXPECT_EQ(access->GetText(&fee), XString(row.fee));
            EXPECT_EQ(access->GetText(&big), XString(row.big));
            EXPECT_EQ(access->GetText(&cash), XString(row.cash));
            EXPECT_DOUBLE_EQ(access->GetDouble(&cash), row.cashValue);
            more = access->GetNextRecord();
        }
        EXPECT_FALSE(more);
        access->CloseQuery();
    }
}

// psqlODBC would look a column's table up in the server's catalogue to tell
// its concise type; the bridge reads the type from the result's own
// description instead, where dates, times and timestamps share one verbose
// type. Each keeps its kind, and so its value (a time of day sits on day 0),
// through both drivers, whether its rows stream or are read whole.
TEST_F(PostgresServerTest, DatesTimesAndTimestampsKeepTheirKindsWithoutTheCatalogue)
{
    m_server->Sql("CREATE TABLE moments (d date, t time, ts timestamp, tz timestamptz, n numeric(6,2));"
                  "INSERT INTO moments VALUES ('2026-01-02', '10:11:12', '2026-03-04 05:06:07', now(), 12.5);");
    const int expectedTypes[] = {adDBDate, adDBTime, adDBTimeStamp, adDBTimeStamp, adNumeric};
    for (const char* dsn : {"MorvPgSource", "MorvPgAnsi"}) {
        for (const int cursor : {adOpenForwardOnly, adOpenStatic}) {
            SCOPED_TRACE(std::string(dsn) + (cursor == adOpenStatic ? ", static" : ", forward-only"));
            AdoConnection connection;
            connection.Open(m_server->ConnectionString(dsn));
            AdoRecordset moments;
            moments.Open("SELECT d, t, ts, tz, n FROM moments", connection, cursor);
            ASSERT_EQ(moments.Fields().Count(), 5);
            for (long i = 0; i < 5; ++i)
                EXPECT_EQ(moments.Fields().Item(i).Type(), expectedTypes[i]) << moments.Fields().Item(i).Name();
            ASSERT_FALSE(moments.IsEOF());
            EXPECT_EQ(moments.Fields().Item(0L).Value(), AdoVariant::Date(Dt(2026, 1, 2)));
            EXPECT_EQ(moments.Fields().Item(1L).Value(), AdoVariant::Date(Dt(1899, 12, 30, 10, 11, 12)));
            EXPECT_EQ(moments.Fields().Item(2L).Value(), AdoVariant::Date(Dt(2026, 3, 4, 5, 6, 7)));
            EXPECT_EQ(moments.Fields().Item(3L).Value().Type(), AdoVarType::Date);
        }
    }
}

// A value as text, with its kind.
std::string Shown(const AdoVariant& v)
{
    const std::string kind = std::to_string(static_cast<int>(v.Type())) + ":";
    switch (v.Type()) {
    case AdoVarType::String:
        return kind + v.Text();
    case AdoVarType::Decimal:
        return kind + v.AsDecimal().ToString();
    case AdoVarType::Date:
        return kind + std::to_string(v.AsOleDate());
    case AdoVarType::R4:
    case AdoVarType::R8:
        return kind + std::to_string(v.AsDouble());
    default:
        return kind + std::to_string(v.AsInt64());
    }
}

// Every value of a recordset's rows, row by row, read from the current row
// on.
std::vector<std::vector<std::string>> ReadRows(AdoRecordset& rows)
{
    std::vector<std::vector<std::string>> values;
    for (; !rows.IsEOF(); rows.MoveNext()) {
        values.emplace_back();
        for (long i = 0; i < rows.Fields().Count(); ++i) {
            const AdoVariant& v = rows.Fields().Item(i).Value();
            values.back().push_back(Shown(v));
        }
    }
    return values;
}

// psqlODBC hands rows over in blocks, each a divisor of the rows its cursor
// asks the server for at a time. Whatever the block and the cursor, the rows
// are those read one value at a time: none lost or repeated at a block's
// edges or at the end, each value from its own row (a long number that
// overflows its buffer is read again from its own row of the block), also
// when a forward-only result is read again from the start.
TEST_F(PostgresServerTest, RowsReadInBlocksAreTheRowsReadOneAtATime)
{
    m_server->Sql("CREATE TABLE blocks AS SELECT n AS id,"
                  " CASE WHEN n % 7 = 0 THEN NULL ELSE 'row ' || n END::varchar(12) AS name,"
                  " CASE WHEN n % 13 = 0 THEN (repeat('9', 90) || n)::numeric ELSE n * 1.5 END AS amount,"
                  " DATE '2026-01-01' + n AS day FROM generate_series(1, 301) n;");
    m_server->AddDsn("PgFetch7", "UseDeclareFetch=1\nFetch=7");
    m_server->AddDsn("PgWhole", "UseDeclareFetch=0");
    const char* const query = "SELECT id, name, amount, day FROM blocks ORDER BY id";
    for (const char* dsn : {"MorvPgSource", "MorvPgAnsi", "PgFetch7", "PgWhole"}) {
        for (const int cursor : {adOpenForwardOnly, adOpenStatic}) {
            SCOPED_TRACE(std::string(dsn) + (cursor == adOpenStatic ? ", static" : ", forward-only"));
            AdoConnection connection;
            connection.Open(m_server->ConnectionString(dsn));
            AdoRecordset single;
            single.SetAllowBinding(false);
            single.Open(query, connection, cursor);
            const auto expected = ReadRows(single);
            single.Close();
            ASSERT_EQ(expected.size(), 301u);
            EXPECT_NE(expected[12][2].find(std::string(90, '9') + "13"), std::string::npos) << expected[12][2];
            EXPECT_EQ(expected[300][0].substr(expected[300][0].find(":")), ":301");

            AdoRecordset blocks;
            blocks.Open(query, connection, cursor);
            EXPECT_EQ(ReadRows(blocks), expected);
            // Again from the start, once after the end and once part way
            // through a block.
            blocks.MoveFirst();
            EXPECT_EQ(ReadRows(blocks), expected);
            blocks.MoveFirst();
            for (int i = 0; i < 3; ++i)
                blocks.MoveNext();
            blocks.MoveFirst();
            EXPECT_EQ(ReadRows(blocks), expected);
        }
    }
}

// Counts the statements the table read runs and the reconnects between them.
class CountingAccess : public ODBCDataAccess
{
public:
    CountingAccess() : ODBCDataAccess(0, DatabaseType::MSSQL) {}
    void RunCurrentQuery() override
    {
        try {
            ODBCDataAccess::RunCurrentQuery();
        } catch (const XException& error) {
            results.push_back(error.Kind() == XErrorKind::ConnectionLost ? "lost" : "failed");
            throw;
        }
        results.push_back("ran");
    }
    void Reconnect() override
    {
        ++reconnects;
        ODBCDataAccess::Reconnect();
    }
    std::vector<std::string> results;
    int reconnects = 0;
};

// The server ends the session while the table's query runs: the connection
// reads as lost whatever the driver's first SQLSTATE, and the table is read
// again, once, on a new connection. The cut is made when the server shows the
// table's query running (in the view's sleep), so it hits that read and
// nothing else. An existence
// check asked after such a cut reconnects too.
TEST_F(PostgresServerTest, ACutConnectionIsRetriedOnceOnANewOne)
{
    CountingAccess access;
    access.SetConnectionTimeout(10);
    access.Connect(m_server->ConnectionString().c_str());
    std::atomic<int> cut{0};
    std::thread admin([this, &cut] {
        // Bounded: the query sleeps 1.5 s once it runs.
        for (int i = 0; i < 600 && cut == 0; ++i) {
            cut = std::stoi(m_server->Query(
                "WITH running AS MATERIALIZED (SELECT pid FROM pg_stat_activity WHERE usename = '" +
                std::string(TestPostgresServer::User) +
                "' AND wait_event = 'PgSleep' AND pid <> pg_backend_pid())"
                " SELECT count(*) FROM running WHERE pg_terminate_backend(pid);"));
            if (cut == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    ODBCTable* table = access.AddTable("slowpupils", "P", false);
    ODBCField* name = access.AddQueryField(table, "name", true);
    bool opened = false;
    try {
        opened = access.OpenTable(true);
    } catch (const std::exception& error) {
        ADD_FAILURE() << error.what();
    }
    admin.join();
    ASSERT_EQ(cut, 1) << "the table's query was not seen running";
    ASSERT_TRUE(opened);
    EXPECT_EQ(access.results, (std::vector<std::string>{"lost", "ran"}));
    EXPECT_EQ(access.reconnects, 1);
    int rows = 0;
    for (bool more = access.GetFirstRecord(); more; more = access.GetNextRecord())
        rows += access.GetText(name).IsEmpty() ? 0 : 1;
    EXPECT_EQ(rows, 4);
    access.CloseQuery();

    m_server->TerminateSessions();
    EXPECT_TRUE(access.DoTableExists("pupils"));
    EXPECT_FALSE(access.DoTableExists("nothere"));
}

// psqlODBC holds a whole result in memory unless the data source asks for a
// server cursor: the bridge asks for one, read 1,000 rows at a time, where
// the data source chose neither setting, and leaves a data source's own
// choice alone. Once the first block is read, the session's last statement
// on the server tells which: the next FETCH, or none.
TEST_F(PostgresServerTest, TablesArriveThroughAServerCursorUnlessTheDataSourceChoseOtherwise)
{
    m_server->Sql("CREATE TABLE many AS SELECT n FROM generate_series(1, 2500) n;");
    m_server->AddDsn("PgNoCursor", "UseDeclareFetch=0");
    m_server->AddDsn("PgOwnFetch", "UseDeclareFetch=1\nFetch=3");
    m_server->AddDsn("PgFetchOnly", "Fetch=3");
    const struct
    {
        const char* dsn;
        const char* fetch;  // the FETCH the session ran last, empty for none
    } cases[] = {
        {"MorvPgSource", "fetch 1000 in "},
        {"MorvPgAnsi", "fetch 1000 in "},
        {"PgOwnFetch", "fetch 3 in "},
        {"PgNoCursor", ""},
        {"PgFetchOnly", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dsn);
        auto access = Connected(c.dsn);
        ODBCTable* table = access->AddTable("many", "M", true);
        ODBCField* n = access->AddQueryField(table, "n", true);
        ASSERT_TRUE(access->OpenTable(true));
        int rows = 0;
        for (bool more = access->GetFirstRecord(); more && rows < 1001; more = access->GetNextRecord())
            rows += access->GetInt(n) > 0 ? 1 : 0;
        EXPECT_EQ(rows, 1001);
        const std::string last = m_server->Query(
            "SELECT lower(query) FROM pg_stat_activity WHERE usename = 'morv' AND pid <> pg_backend_pid();");
        if (*c.fetch)
            EXPECT_NE(last.find(c.fetch), std::string::npos) << last;
        else
            EXPECT_EQ(last.find("fetch"), std::string::npos) << last;
        access->CloseQuery();
    }
}

// The server stops under a run: the table fails with the cause, not as an
// empty table and not as a missing one.
TEST_F(PostgresServerTest, AStoppedServerFailsTheTableNamingTheLostConnection)
{
    auto access = Connected();
    m_server->Stop();
    // The statement that meets the cut says so, and so does the state.
    try {
        access->RunQuery("SELECT 1");
        ADD_FAILURE() << "the statement ran";
    } catch (const XException& error) {
        EXPECT_EQ(error.Kind(), XErrorKind::ConnectionLost) << error.what();
    }
    EXPECT_FALSE(access->IsConnected());
    try {
        access->DoTableExists("pupils");
        ADD_FAILURE() << "the check answered";
    } catch (const XException& error) {
        EXPECT_NE(std::string(error.what()).find("127.0.0.1"), std::string::npos) << error.what();
    }
    ODBCTable* table = access->AddTable("pupils", "P", false);
    access->AddQueryField(table, "name", true);
    EXPECT_THROW(access->OpenTable(true), XException);
}

}  // namespace
