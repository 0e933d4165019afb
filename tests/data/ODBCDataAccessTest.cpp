// The data access object against a real data source: a SQLite file
// registered as a DSN and read through the driver manager and the SQLite
// ODBC driver, with SQL Server style catalogue views so that the catalogue
// statements of the existence checks run as written.
#include <gtest/gtest.h>
#include "tests/support/CallbackSink.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "data/DatabaseTypes.h"
#include "data/ODBCDataAccess.h"
#include "tests/support/TestOdbcSource.h"
#include "tests/support/WholeFile.h"
#include "util/XException.h"

namespace {

struct LogLine
{
    int level;
    std::string text;
    std::string method;
};

// Records every log line an object emits.
class LogCapture
{
public:
    explicit LogCapture(AppTaskBase& task) : m_task(task)
    {
        m_sink.onLog = [this](int level, const QString& text, const QString& method) {
            lines.push_back({level, text.toLatin1().toStdString(), method.toLatin1().toStdString()});
        };
        m_sink.onProgress = [this](const QString& type, int) { progress.push_back(type.toStdString()); };
        task.SetSink(&m_sink);
    }
    // A task that lives on logs to the silent sink, not to a capture gone.
    ~LogCapture() { m_task.SetSink(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    bool Contains(const std::string& piece) const
    {
        for (const LogLine& line : lines)
            if (line.text.find(piece) != std::string::npos)
                return true;
        return false;
    }
    bool Has(int level, const std::string& text) const
    {
        for (const LogLine& line : lines)
            if (line.level == level && line.text == text)
                return true;
        return false;
    }

    std::vector<LogLine> lines;
    std::vector<std::string> progress;

private:
    AppTaskBase& m_task;
    CallbackSink m_sink;
};

class DataSourceTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        source = new TestOdbcSource("MorvDataAccessTest");
        source->Exec(
            "CREATE TABLE StudentDemographic (StudentNumber VARCHAR(10), LastName VARCHAR(40), Status CHAR(1), "
            "  Flag VARCHAR(5), Amount NUMERIC(10,2), Born DATE, Notes TEXT, Photo BLOB);"
            "INSERT INTO StudentDemographic VALUES ('1001', '  Smith\t', 'A', 'Y', 12.5, '2001-02-03', 'line one\r\nline two', X'00FF10');"
            "INSERT INTO StudentDemographic VALUES ('1002', 'Jones', 'N', 'N', -5.25, NULL, '', NULL);"
            "INSERT INTO StudentDemographic VALUES ('1003', CAST(X'4772FCDF65' AS TEXT), 'U', NULL, NULL, NULL, NULL, NULL);"
            "CREATE VIEW ActiveStudents AS SELECT * FROM StudentDemographic WHERE Status = 'A';"
            "CREATE TABLE Odd (Id INTEGER, Amount NUMERIC(10,2));"
            "INSERT INTO Odd VALUES (1, 1.5), (2, 'abc'), (3, 2.5);"
            "CREATE TABLE Wide (Id INTEGER, Body TEXT);"
            "INSERT INTO Wide VALUES (1, printf('%.*c', 100000, 'x') || 'END');");
    }
    static void TearDownTestSuite()
    {
        delete source;
        source = nullptr;
    }

    // An engine-like object (MSSQL) connected to the test source.
    std::unique_ptr<ODBCDataAccess> Connected(uint32_t options)
    {
        auto access = std::make_unique<ODBCDataAccess>(options, DatabaseType::MSSQL);
        access->SetQuoteFieldNames(true);
        access->SetQuoteTableNames(true);
        access->SetDataSource(source->Dsn().c_str());
        access->Connect(access->BuildConnectionString());
        return access;
    }

    static TestOdbcSource* source;
};

TestOdbcSource* DataSourceTest::source = nullptr;

TEST_F(DataSourceTest, ExistenceChecksAskTheCatalogue)
{
    struct Case
    {
        uint32_t options;
        const char* table;
        const char* field;  // nullptr: table check
        bool expected;
    } const cases[] = {
        {0, "StudentDemographic", nullptr, true},
        {0, "studentdemographic", nullptr, true},   // names ignore case
        {0, "ActiveStudents", nullptr, true},       // a view counts as a table
        {0, "Missing", nullptr, false},
        {0, "Stu'dent", nullptr, false},
        {0, "x') OR 1=1 OR ('", nullptr, false},    // a quote never reaches the statement
        {0, "StudentDemographic", "LastName", true},
        {0, "STUDENTDEMOGRAPHIC", "lastname", true},
        {0, "ActiveStudents", "Status", true},
        {0, "StudentDemographic", "Nope", false},
        {0, "StudentDemographic", "Last'Name", false},
        {0, "Missing", "LastName", false},
        // Trial statements instead of the catalogue.
        {0x80, "StudentDemographic", nullptr, true},
        {0x80, "Missing", nullptr, false},
        {0x80, "StudentDemographic", "LastName", true},
        {0x80, "StudentDemographic", "Nope", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.table) + " / " + (c.field ? c.field : "-") + " options " + std::to_string(c.options));
        auto access = Connected(c.options);
        const bool exists = c.field ? access->DoFieldExists(c.table, c.field) : access->DoTableExists(c.table);
        EXPECT_EQ(c.expected, exists);
    }
}

// Each existence question is sent to the source once: the answer, yes or
// no, is remembered for the rest of the run and the log says so. A check
// that could not be asked is asked again; another source is asked afresh.
TEST_F(DataSourceTest, ExistenceAnswersAreAskedOnceAndRemembered)
{
    auto access = Connected(0);
    LogCapture log(*access);
    struct Step
    {
        const char* table;
        const char* field;  // nullptr: table check
        bool expected;
        long long sent;     // statements the check sent
    } const steps[] = {
        {"StudentDemographic", nullptr, true, 1},
        {"StudentDemographic", nullptr, true, 0},
        {"Missing", nullptr, false, 1},
        {"Missing", nullptr, false, 0},
        {"StudentDemographic", "LastName", true, 1},
        {"StudentDemographic", "LastName", true, 0},
        {"StudentDemographic", "Nope", false, 1},
        {"StudentDemographic", "Nope", false, 0},
        {"StudentDemographic", "Status", true, 1},
    };
    auto ask = [&](const Step& step) {
        SCOPED_TRACE(std::string(step.table) + " / " + (step.field ? step.field : "-"));
        const long long before = access->StatementsSent();
        EXPECT_EQ(step.expected, step.field ? access->DoFieldExists(step.table, step.field)
                                            : access->DoTableExists(step.table));
        EXPECT_EQ(step.sent, access->StatementsSent() - before);
    };
    for (const Step& step : steps)
        ask(step);
    EXPECT_EQ(access->ExistenceAnswersRemembered(), 4);
    EXPECT_TRUE(log.Contains("not asked again: table Missing does not exist."));
    EXPECT_TRUE(log.Contains("not asked again: field LastName of table StudentDemographic exists."));

    // Not connected: the check cannot be asked and throws; once connected
    // again (to the same source) it is asked, and what was known stays known.
    access->Disconnect();
    EXPECT_THROW(access->DoTableExists("Odd"), XException);
    access->Connect(access->BuildConnectionString());
    ask({"Odd", nullptr, true, 1});
    ask({"StudentDemographic", nullptr, true, 0});

    // Another source has its own schema.
    QTemporaryDir other;
    source->AddDsn("MorvOtherSchool", other.filePath("other.db").toStdString());
    access->Connect("Provider=MSDASQL;Data Source=MorvOtherSchool;");
    ask({"StudentDemographic", nullptr, false, 1});
}

TEST_F(DataSourceTest, SQLiteCatalogueChecksAnswerByTheirRows)
{
    struct Case
    {
        const char* table;
        const char* field;  // nullptr: table check
        bool expected;
    } const cases[] = {
        {"StudentDemographic", nullptr, true},
        {"Missing", nullptr, false},
        {"StudentDemographic", "LastName", true},
        {"StudentDemographic", "Nope", false},
        {"Missing", "LastName", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.table) + " / " + (c.field ? c.field : "-"));
        ODBCDataAccess sqlite(0, DatabaseType::SQLite);
        sqlite.Connect(XString("DSN=") + source->Dsn().c_str());
        const bool exists = c.field ? sqlite.DoFieldExists(c.table, c.field) : sqlite.DoTableExists(c.table);
        EXPECT_EQ(c.expected, exists);
    }
}

TEST_F(DataSourceTest, VerifiedQueryModelSkipsOrRefusesWhatIsMissing)
{
    auto access = Connected(DataAccessOption::VerifySchema);
    LogCapture log(*access);

    EXPECT_EQ(nullptr, access->AddTable("Missing", "M", false));
    EXPECT_TRUE(log.Has(8, "Table does not exist : Missing"));
    try {
        access->AddTable("Missing", "M", true);
        FAIL() << "no exception";
    } catch (const XException& error) {
        EXPECT_STREQ("Table does not exist : Missing", error.what());
    }

    ODBCTable* students = access->AddTable("studentdemographic", "STD", true);
    ASSERT_NE(nullptr, students);
    EXPECT_EQ(nullptr, access->AddQueryField(students, "Nope", false));
    EXPECT_TRUE(log.Has(8, "Field does not exist : Nope in table studentdemographic"));
    ODBCField* number = access->AddQueryField(students, "StudentNumber", true);
    ASSERT_NE(nullptr, number);
    EXPECT_EQ(0, number->GetPosition());  // the missing field took no position
    try {
        access->AddQueryField(students, "Nope", true);
        FAIL() << "no exception";
    } catch (const XException& error) {
        EXPECT_STREQ("Required Field does not exist : Nope in table studentdemographic", error.what());
    }
}

TEST_F(DataSourceTest, MissingFieldDumpListsTheTableColumns)
{
    auto access = Connected(DataAccessOption::VerifySchema | DataAccessOption::DumpOnMissingField);
    LogCapture log(*access);
    ODBCTable* students = access->AddTable("StudentDemographic", "STD", true);
    EXPECT_EQ(nullptr, access->AddQueryField(students, "Nope", false));
    EXPECT_TRUE(log.Has(8, "StudentDemographic contents:"));
    EXPECT_TRUE(log.Has(8, "LastName"));
    EXPECT_TRUE(log.Has(8, "Photo"));
}

TEST_F(DataSourceTest, ReadersTurnEachValueIntoItsResult)
{
    auto access = Connected(0);
    ODBCTable* t = access->AddTable("StudentDemographic", "STD", true);
    ODBCField* number = access->AddQueryField(t, "StudentNumber", true);
    ODBCField* last = access->AddQueryField(t, "LastName", true);
    ODBCField* flag = access->AddQueryField(t, "Flag", true);
    ODBCField* amount = access->AddQueryField(t, "Amount", true);
    ODBCField* born = access->AddQueryField(t, "Born", true);
    ODBCField* notes = access->AddQueryField(t, "Notes", true);
    ODBCField* photo = access->AddQueryField(t, "Photo", true);
    access->AddOrder(number);
    ASSERT_TRUE(access->OpenCurrentQuery());

    ASSERT_TRUE(access->GetFirstRecord());
    EXPECT_STREQ("1001", access->GetText(number).c_str());
    EXPECT_STREQ("  Smith\t", access->GetRawText(last).c_str());
    EXPECT_STREQ("Smith", access->GetText(last).c_str());
    EXPECT_TRUE(access->GetBool(flag));
    EXPECT_STREQ("1", access->GetBoolDigit(flag).c_str());
    EXPECT_DOUBLE_EQ(12.5, access->GetDouble(amount));
    EXPECT_STREQ("2001-02-03", access->GetDate(born).Format("YYYY-MM-DD").c_str());
    EXPECT_STREQ("line one  line two", access->GetCleanText(notes).c_str());
    const XByteBuffer bytes = access->GetBytes(photo);
    ASSERT_EQ(3u, bytes.GetLength());
    EXPECT_EQ(0x00, bytes.GetData()[0]);
    EXPECT_EQ(0xFF, bytes.GetData()[1]);

    ASSERT_TRUE(access->GetNextRecord());
    EXPECT_FALSE(access->GetBool(flag));  // 'N' is no
    EXPECT_STREQ("0", access->GetBoolDigit(flag).c_str());
    EXPECT_DOUBLE_EQ(-5.25, access->GetDouble(amount));
    EXPECT_TRUE(access->GetDate(born).IsNull());
    EXPECT_TRUE(access->IsNull(born));
    EXPECT_FALSE(access->IsNull(notes));  // empty, not null
    EXPECT_STREQ("", access->GetText(notes).c_str());
    EXPECT_EQ(0u, access->GetBytes(photo).GetLength());

    ASSERT_TRUE(access->GetNextRecord());
    EXPECT_STREQ("Gr\xFC\xDF" "e", access->GetText(last).c_str());  // 8-bit bytes unchanged
    EXPECT_STREQ("", access->GetText(flag).c_str());
    EXPECT_FALSE(access->GetBool(flag));
    EXPECT_EQ(0, access->GetInt(amount));

    EXPECT_FALSE(access->GetNextRecord());
    EXPECT_FALSE(access->GetNextRecord());  // stays at the end

    // No field: the documented empty results.
    EXPECT_STREQ("", access->GetText(nullptr).c_str());
    EXPECT_TRUE(access->IsNull(nullptr));
    EXPECT_STREQ("", access->GetBoolDigit(nullptr).c_str());
    access->CloseQuery();
}

// A field the open result does not hold, or a read with no query open, is
// an error with the field's name or status, never an empty value that would
// be written as if the source held it.
TEST_F(DataSourceTest, AFieldThatCannotBeReadIsAnErrorNotAnEmptyValue)
{
    struct Case
    {
        const char* name;
        uint32_t options;
        bool open;
        const char* message;
    } const cases[] = {
        {"no query open", 0, false, "Cannot read the field StudentNumber: no query is open."},
        // Added after the statement was built: its position is past the
        // result's columns, so even its status cannot be read.
        {"past the columns", 0, true,
         "Field Status: adFieldUnavailable - The provider could not determine the value of the field."},
        {"by a name the result lacks", DataAccessOption::FieldsByName, true,
         "Field Status: adFieldUnavailable - The provider could not determine the value of the field."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto access = Connected(c.options);
        ODBCTable* t = access->AddTable("StudentDemographic", "STD", true);
        ODBCField* number = access->AddQueryField(t, "StudentNumber", true);
        ODBCField* read = number;
        if (c.open) {
            ASSERT_TRUE(access->OpenCurrentQuery());
            ASSERT_TRUE(access->GetFirstRecord());
            read = access->AddQueryField(t, "LastName", true);
        }
        try {
            const XString text = access->GetText(read);
            ADD_FAILURE() << "read \"" << text.c_str() << "\"";
        } catch (const XException& error) {
            EXPECT_NE(nullptr, std::strstr(error.what(), c.message)) << error.what();
        }
        access->CloseQuery();
    }
}

TEST_F(DataSourceTest, LongTextIsReadWhole)
{
    auto access = Connected(0);
    ODBCTable* t = access->AddTable("Wide", "W", true);
    ODBCField* body = access->AddQueryField(t, "Body", true);
    ASSERT_TRUE(access->OpenCurrentQuery());
    ASSERT_TRUE(access->GetFirstRecord());
    const XString text = access->GetText(body);
    EXPECT_EQ(100003u, text.GetLength());
    EXPECT_STREQ("END", text.From(100000).c_str());
}

TEST_F(DataSourceTest, RecordCountWithBothCursors)
{
    struct Case
    {
        uint32_t options;
        bool countedByWalking;
    } const cases[] = {{0, false}, {DataAccessOption::ForwardOnly, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        auto access = Connected(c.options);
        LogCapture log(*access);
        ODBCTable* t = access->AddTable("StudentDemographic", "STD", true);
        ODBCField* number = access->AddQueryField(t, "StudentNumber", true);
        access->AddOrder(number);
        ASSERT_TRUE(access->OpenCurrentQuery());
        EXPECT_EQ(3, access->GetRecordCount());
        EXPECT_EQ(c.countedByWalking, log.Has(8, "GetRecordCount: Lets determine record count manually."));
        // Reading starts again at the first row after counting.
        ASSERT_TRUE(access->GetFirstRecord());
        EXPECT_STREQ("1001", access->GetText(number).c_str());
    }
}

TEST_F(DataSourceTest, OpenTableStreamsTheRowsAndLogsTheirCountAfterThem)
{
    struct Case
    {
        uint32_t options;
        const char* status;  // condition on Status, nullptr: every row
        int rows;
    } const cases[] = {{3, nullptr, 3}, {0, "'N'", 1}, {DataAccessOption::ForwardOnly, "'X'", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        auto access = Connected(c.options);
        LogCapture log(*access);
        ODBCTable* t = access->AddTable("StudentDemographic", "STD", true);
        ODBCField* number = access->AddQueryField(t, "StudentNumber", true);
        access->AddQueryField(t, "Notes", true);
        if (c.status)
            access->AddCondition(access->AddQueryField(t, "Status", true), "=", c.status);
        // The existence checks of option 3 count their own rows.
        log.lines.clear();
        const auto counts = [&]() {
            size_t found = 0;
            for (const LogLine& line : log.lines)
                found += line.text.find("Found Record Count") != std::string::npos;
            return found;
        };

        ASSERT_TRUE(access->OpenTable(true));
        // Counting first would read the rows before they are written, and
        // a second time to write them.
        EXPECT_FALSE(log.Contains("determine record count manually"));
        int rows = 0;
        for (bool more = access->GetFirstRecord(); more; more = access->GetNextRecord()) {
            ++rows;
            EXPECT_FALSE(access->GetText(number).IsEmpty());
            EXPECT_EQ(0u, counts());
        }
        EXPECT_EQ(c.rows, rows);
        EXPECT_TRUE(log.Has(8, "GetRecordCount: Found Record Count of " + std::to_string(c.rows)));
        EXPECT_FALSE(access->GetNextRecord());
        EXPECT_EQ(1u, counts());
    }
}

TEST_F(DataSourceTest, EmptyResultHasNoFirstRecord)
{
    auto access = Connected(0);
    ODBCTable* t = access->AddTable("StudentDemographic", "STD", true);
    access->AddCondition(access->AddQueryField(t, "Status", true), "=", "'X'");
    ASSERT_TRUE(access->OpenCurrentQuery());
    EXPECT_EQ(0, access->GetRecordCount());
    EXPECT_FALSE(access->GetFirstRecord());
}

TEST_F(DataSourceTest, AValueThatCannotBeConvertedStopsTheTable)
{
    // Static: the bad row is met while the rows are fetched, so the query
    // fails; forward-only: it is met when moving to that row. Either way the
    // table never just ends early.
    for (uint32_t options : {0u, DataAccessOption::ForwardOnly}) {
        SCOPED_TRACE(options);
        auto access = Connected(options);
        ODBCTable* t = access->AddTable("Odd", "O", true);
        ODBCField* amount = access->AddQueryField(t, "Amount", true);
        access->AddOrder(access->AddQueryField(t, "Id", true));
        int rows = 0;
        try {
            access->OpenTable(true);
            for (bool more = access->GetFirstRecord(); more; more = access->GetNextRecord()) {
                access->GetText(amount);
                ++rows;
            }
            FAIL() << "the table ended after " << rows << " rows";
        } catch (const XException& error) {
            EXPECT_NE(nullptr, std::strstr(error.what(), "Amount")) << error.what();
            EXPECT_LE(rows, 1);
        }
    }
}

TEST_F(DataSourceTest, RunQueryClassifiesFailures)
{
    auto access = Connected(0);
    EXPECT_NO_THROW(access->RunQuery("SELECT * FROM StudentDemographic WITH (NOLOCK) "));
    // A driver text that names a lost link is no lost link: only the
    // SQLSTATE and the native code tell.
    for (const char* statement : {"SELECT * FROM \"ORA-03113\"", "SELECT Nope FROM StudentDemographic"}) {
        SCOPED_TRACE(statement);
        try {
            access->RunQuery(statement);
            FAIL() << "no exception";
        } catch (const XException& error) {
            EXPECT_EQ(error.Kind(), XErrorKind::Database) << error.what();
            EXPECT_NE(nullptr, std::strstr(error.what(), "While executing query: ")) << error.what();
        }
        EXPECT_FALSE(access->GetFirstRecord());  // no current result after a failure
    }
}

// A data access object whose query runner reports a lost connection for a
// given number of attempts before it runs the real statement.
class FlakyAccess : public ODBCDataAccess
{
public:
    FlakyAccess() : ODBCDataAccess(0, DatabaseType::MSSQL) {}
    void RunCurrentQuery() override
    {
        ++attempts;
        if (failures > 0) {
            --failures;
            throw XException(XErrorKind::ConnectionLost, "link gone", -2146824579, "08S01", 10054);
        }
        ODBCDataAccess::RunCurrentQuery();
    }
    void Reconnect() override
    {
        ++reconnects;
        ODBCDataAccess::Reconnect();
    }
    int failures = 0;
    int attempts = 0;
    int reconnects = 0;
};

TEST_F(DataSourceTest, OpenTableRetriesOnceAfterALostConnection)
{
    struct Case
    {
        int failures;
        bool opens;
        int attempts;
        int reconnects;
    } const cases[] = {{0, true, 1, 0}, {1, true, 2, 1}, {2, false, 2, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failures);
        FlakyAccess access;
        LogCapture log(access);
        access.SetDataSource(source->Dsn().c_str());
        access.Connect(access.BuildConnectionString());
        access.AddQueryField(access.AddTable("StudentDemographic", "STD", true), "StudentNumber", true);
        access.failures = c.failures;
        if (c.opens) {
            EXPECT_TRUE(access.OpenTable(true));
            EXPECT_TRUE(access.GetFirstRecord());
        } else {
            // Never written as an empty table: the run fails.
            try {
                access.OpenTable(true);
                FAIL() << "no exception";
            } catch (const XException& error) {
                EXPECT_NE(nullptr, std::strstr(error.what(), "Failed with error [")) << error.what();
                EXPECT_NE(nullptr, std::strstr(error.what(), "FROM StudentDemographic STD")) << error.what();
            }
        }
        EXPECT_EQ(c.attempts, access.attempts);
        EXPECT_EQ(c.reconnects, access.reconnects);
        if (c.failures > 0) {
            EXPECT_TRUE(log.Has(8, "Query 0 failed: SQLSTATE 08S01, native error 10054"));
        }
    }
}

TEST_F(DataSourceTest, OpenTableFailsTheRunOnARejectedStatement)
{
    auto access = Connected(0);
    LogCapture log(*access);
    access->AddQueryField(access->AddTable("NoSuchTable", "N", true), "X", true);
    try {
        access->OpenTable(true);
        FAIL() << "no exception";
    } catch (const XException& error) {
        const std::string text = error.what();
        EXPECT_EQ(0u, text.find("Failed with error [While executing query: ")) << text;
        EXPECT_NE(std::string::npos, text.find("] while parsing query: SELECT N.\"X\" FROM \"NoSuchTable\" N WITH (NOLOCK)"))
            << text;
    }
    EXPECT_FALSE(access->OpenTable(false));
}

TEST_F(DataSourceTest, ConnectionFailuresNeverShowThePassword)
{
    struct Case
    {
        const char* name;
        const char* dataSource;
        const char* connectionString;  // nullptr: built from the data source
        bool unknownSource;
    } const cases[] = {
        {"unknown DSN", "NoSuchDsn", nullptr, true},
        {"unreadable connection string", "x", "DSN=x;PWD={Zq9;Xw7", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ODBCDataAccess access(0, DatabaseType::MSSQL);
        LogCapture log(access);
        access.SetDataSource(c.dataSource);
        access.SetUser("reader");
        access.SetPassword("Zq9;Xw7");
        const XString connection = c.connectionString ? XString(c.connectionString) : access.BuildConnectionString();
        std::string message;
        try {
            access.Connect(connection);
            FAIL() << "connected";
        } catch (const XException& error) {
            message = error.what();
            QString shown;
            EXPECT_EQ(c.unknownSource ? 2 : 1, access.HandleException_ValidateConnection(error, shown));
            if (c.unknownSource) {
                EXPECT_EQ(QString("Connection Failed: Data Source does not exist."), shown);
            }
            EXPECT_EQ(-1, shown.indexOf("Zq9"));
        }
        EXPECT_FALSE(access.IsConnected());
        EXPECT_EQ(std::string::npos, message.find("Zq9")) << message;
        EXPECT_EQ(std::string::npos, message.find("Xw7")) << message;
        for (const LogLine& line : log.lines) {
            EXPECT_EQ(std::string::npos, line.text.find("Zq9")) << line.text;
            EXPECT_EQ(std::string::npos, line.text.find("Xw7")) << line.text;
        }
    }
}

// The connection test tells a missing data source by the driver manager's
// SQLSTATE alone: its text is worded and translated differently by each.
TEST(ValidateConnectionTest, AMissingDataSourceIsToldByItsSqlState)
{
    const struct {
        const char* text;
        const char* sqlState;
        int expected;
    } cases[] = {
        {"[unixODBC][Driver Manager]Data source name not found and no default driver specified", "IM002", 2},
        {"[Gestionnaire de pilotes]Source de données introuvable", "IM002", 2},
        {"Data source name not found (quoted by a driver that could connect)", "08001", 1},
        {"Login failed for user 'reader'.", "28000", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ODBCDataAccess access(0, DatabaseType::MSSQL);
        QString shown;
        const XException error(XErrorKind::Database, c.text, 0, c.sqlState);
        EXPECT_EQ(c.expected, access.HandleException_ValidateConnection(error, shown));
        if (c.expected == 2) {
            EXPECT_EQ(QString("Connection Failed: Data Source does not exist."), shown);
        }
    }
}

// The file database type has no reader: it never connects, reads nothing,
// and says so in the log at each step that would have used the database.
TEST(FileDatabaseTest, NeverConnectsReadsNothingAndSaysSo)
{
    ODBCDataAccess access(0, DatabaseType::DBaseXBase);
    LogCapture log(access);
    access.SetDataSource("/data/dbf/");
    EXPECT_STREQ("/data/dbf/", access.BuildConnectionString().c_str());
    EXPECT_TRUE(log.Has(8, "dBase IV (XBase)"));
    access.Connect(access.BuildConnectionString());
    EXPECT_TRUE(log.Has(7, "Connect - Could not connect need to define USE_XBASE"));
    EXPECT_FALSE(access.IsConnected());
    EXPECT_FALSE(access.DoTableExists("STUDENTS"));
    EXPECT_TRUE(log.Has(8, "Need to define USE_XBASE!!"));

    ODBCField* name = access.AddQueryField(access.AddTable("STUDENTS", "", true), "NAME", true);
    access.RunQuery(access.BuildQuery());
    EXPECT_EQ(0, access.GetRecordCount());
    EXPECT_FALSE(access.GetFirstRecord());
    EXPECT_FALSE(access.GetNextRecord());
    EXPECT_EQ(0, access.GetFieldCount());
    EXPECT_STREQ("", access.GetFieldTypeName(0).c_str());
    EXPECT_STREQ("", access.GetText(name).c_str());
    EXPECT_STREQ("", access.GetBoolDigit(name).c_str());
    EXPECT_TRUE(access.IsNull(name));
    access.CloseQuery();
    access.Disconnect();
    EXPECT_TRUE(log.Has(7, "Disconnect: Xbase not defined!"));
}

TEST_F(DataSourceTest, AConnectionWithAPasswordLogsNoPartOfIt)
{
    ODBCDataAccess access(0, DatabaseType::MSSQL);
    LogCapture log(access);
    access.SetDataSource(source->Dsn().c_str());
    access.SetUser("reader");
    access.SetPassword("Zq9;Xw7");
    ASSERT_TRUE(access.TableExistsConnected(access.BuildConnectionString(), "StudentDemographic", true));
    ASSERT_TRUE(access.IsConnected());
    EXPECT_THROW(access.RunQuery("SELECT * FROM Missing"), XException);  // logs the connection's errors
    for (const LogLine& line : log.lines) {
        EXPECT_EQ(std::string::npos, line.text.find("Zq9")) << line.text;
        EXPECT_EQ(std::string::npos, line.text.find("Xw7")) << line.text;
    }
}

TEST_F(DataSourceTest, TableExistsConnectedLeavesTheConnectionAsAsked)
{
    for (bool keep : {false, true}) {
        ODBCDataAccess access(0, DatabaseType::MSSQL);
        access.SetDataSource(source->Dsn().c_str());
        EXPECT_TRUE(access.TableExistsConnected(access.BuildConnectionString(), "StudentDemographic", keep));
        EXPECT_EQ(keep, access.IsConnected());
    }
    ODBCDataAccess access(0, DatabaseType::MSSQL);
    access.SetDataSource("NoSuchDsn");
    EXPECT_THROW(access.TableExistsConnected(access.BuildConnectionString(), "StudentDemographic", false), XException);
}

TEST_F(DataSourceTest, SchemaLogListsTablesAndColumns)
{
    auto access = Connected(0);
    LogCapture log(*access);
    access->LogSchema();
    EXPECT_TRUE(log.Has(7, "Logging Schema..."));
    EXPECT_TRUE(log.Has(9, "StudentDemographic::LastName"));
    EXPECT_TRUE(log.Has(9, "ActiveStudents::Status"));
}

// Reads a whole file as bytes.
std::string FileBytes(const QString& path)
{
    if (!QFile::exists(path))
        return "<missing " + path.toStdString() + ">";
    return ReadWholeFile(path).toStdString();
}

TEST_F(DataSourceTest, ValueFunctionsWriteExportText)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    auto access = Connected(0);
    ASSERT_TRUE(access->SetPDEFolder(folder.path().toLatin1().constData()));

    // One table per value function; the key numbers run on across tables.
    struct Case
    {
        const char* column;
        XString (DataAccessBase::*value)();
        const char* file;
    } const cases[] = {
        {"Notes", &DataAccessBase::TextValue, "line one  line two\r\n\r\n\r\n"},
        {"LastName", &DataAccessBase::TextNoBreaksValue, "Smith\r\nJones\r\nGr\xFC\xDF" "e\r\n"},
        {"Amount", &DataAccessBase::CurrencyValue, "$12.50\r\n$-5.25\r\n$0.00\r\n"},
        {"Flag", &DataAccessBase::YesValue, "Yes\r\n\r\n\r\n"},
        {"Born", &DataAccessBase::DateValue, "02/03/2001\r\n\r\n\r\n"},
        {"StudentNumber", &DataAccessBase::NumberedKeyValue, "1001_1\r\n1002_2\r\n1003_3\r\n"},
        {"StudentNumber", &DataAccessBase::NumberedKeyValue, "1001_4\r\n1002_5\r\n1003_6\r\n"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.column);
        const std::string fileName = "Table" + std::to_string(index++) + ".pef";
        access->StartImport();
        access->StartTable(c.column, fileName.c_str());
        ODBCTable* t = access->AddTable("StudentDemographic", "STD", true);
        access->AddColumn(ColumnDeclaration(c.column).From(t).Value(access->BindValue(c.value))
                          .Header(c.column));
        access->AddOrder(access->AddQueryField(t, "StudentNumber", true));
        EXPECT_EQ(3, access->WriteTable());
        access->EndTable();
        access->CommitExport();
        EXPECT_EQ(std::string(c.file), FileBytes(folder.filePath(QString::fromStdString(fileName))));
    }
}

TEST_F(DataSourceTest, ExportCompleteDisconnectsAndClosesTheProgress)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (bool keep : {false, true}) {
        auto access = Connected(0);
        LogCapture log(*access);
        ASSERT_TRUE(access->SetPDEFolder(folder.path().toLatin1().constData()));
        access->SetKeepConnection(keep);
        access->ExportComplete();
        EXPECT_EQ(keep, access->IsConnected());
        EXPECT_EQ((std::vector<std::string>{"end_progress", "bridge_complete"}), log.progress);
        EXPECT_TRUE(log.Has(5, "Export complete."));
    }
}

}  // namespace
