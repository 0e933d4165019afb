// The engine's run frame and set-up services: the live school year rules,
// quoting of command-line values, the failures a run reports before touching
// the export folder, and the messages of the connection, school and list
// services.
#include "tests/engine/EngineTestSchool.h"
#include "tests/support/Prerequisite.h"
#include "tests/support/TestOdbcSource.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <odbcinst.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Every value from the command line (school number, year, active codes)
// reaches the engine's statements through this quoting.
TEST(EngineQuoteText, DoublesEmbeddedQuotesOnly)
{
    const struct { const char* text; const char* quoted; } cases[] = {
        {"0101", "'0101'"},
        {"", "''"},
        {"O'Neil", "'O''Neil'"},
        {"0101' OR '1'='1", "'0101'' OR ''1''=''1'"},
    };
    TestEngine engine;
    for (const auto& c : cases)
        EXPECT_STREQ(engine.QuoteText(c.text).c_str(), c.quoted) << c.text;
}

TEST(SplitActiveCodes, TrimsAndSkipsEmptyItems)
{
    const struct { const char* text; QStringList codes; } cases[] = {
        {"", {}},
        {"X,Y", {"X", "Y"}},
        {" X , Y ", {"X", "Y"}},
        {",,X,, ,", {"X"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ODBCExpEngineBase::SplitActiveCodes(c.text), c.codes) << c.text;
}

// The school tables of a site, with the year rows each case needs.
struct YearCase {
    const char* name;
    const char* schoolSql;    // replaces the demo's Schools table and School view
    const char* school;
    const char* year;         // expected live year
    bool plural;              // the lookup ended in Schools
};

const YearCase kYearCases[] = {
    {"live flag picks the year",
     "CREATE TABLE Schools (_DistBldg VARCHAR(4), _Year INT, SchoolName VARCHAR(60), IsLive CHAR(1));"
     "CREATE VIEW School AS SELECT * FROM Schools;"
     "INSERT INTO Schools VALUES ('0301', 2025, 'Central', 'N'), ('0301', 2026, 'Central', 'Y'),"
     " ('0301', 2027, 'Central', 'N'), ('0302', 2028, 'East', 'Y');",
     "0301", "2026", false},
    {"without IsLive the highest year",
     "CREATE TABLE Schools (_DistBldg VARCHAR(4), _Year INT, SchoolName VARCHAR(60));"
     "CREATE VIEW School AS SELECT * FROM Schools;"
     "INSERT INTO Schools VALUES ('0301', 2025, 'Central'), ('0301', 2027, 'Central'),"
     " ('0301', 2026, 'Central'), ('0302', 2029, 'East');",
     "0301", "2027", false},
    {"only the plural table",
     "CREATE TABLE Schools (_DistBldg VARCHAR(4), _Year INT, SchoolName VARCHAR(60), IsLive CHAR(1));"
     "INSERT INTO Schools VALUES ('0301', 2026, 'Central', 'Y');",
     "0301", "2026", true},
    {"School without live rows falls back to Schools",
     "CREATE TABLE School (_DistBldg VARCHAR(4), _Year INT, SchoolName VARCHAR(60), IsLive CHAR(1));"
     "INSERT INTO School VALUES ('0301', 2026, 'Central', 'N');"
     "CREATE TABLE Schools (_DistBldg VARCHAR(4), _Year INT, SchoolName VARCHAR(60), IsLive CHAR(1));"
     "INSERT INTO Schools VALUES ('0301', 2024, 'Central', 'Y');",
     "0301", "2024", true},
    {"unknown school",
     "CREATE TABLE Schools (_DistBldg VARCHAR(4), _Year INT, SchoolName VARCHAR(60), IsLive CHAR(1));"
     "CREATE VIEW School AS SELECT * FROM Schools;"
     "INSERT INTO Schools VALUES ('0301', 2026, 'Central', 'Y');",
     "9999", "", true},
    {"a quote in the school number changes nothing",
     "CREATE TABLE Schools (_DistBldg VARCHAR(4), _Year INT, SchoolName VARCHAR(60), IsLive CHAR(1));"
     "CREATE VIEW School AS SELECT * FROM Schools;"
     "INSERT INTO Schools VALUES ('0301', 2026, 'Central', 'Y');",
     "0301' OR '1'='1", "", true},
};

void ReplaceSchoolTables(const EngineTestSchool& school, const char* sql)
{
    school.Exec(std::string("DROP VIEW School; DROP TABLE Schools;") + sql);
}

TEST(LiveSchoolYear, FollowsTheSiteSchoolTables)
{
    for (const YearCase& c : kYearCases) {
        SCOPED_TRACE(c.name);
        EngineTestSchool school;
        ReplaceSchoolTables(school, c.schoolSql);
        TestEngine engine;
        QString message;
        ParamMap parameters = RunParameters(c.school);
        // ValidateSchoolNumber reads the school and looks the year up first.
        engine.ValidateSchoolNumber(parameters, message);
        EXPECT_EQ(engine.SchoolYear(), XString(c.year));
        EXPECT_EQ(engine.m_pluralSchoolTable, c.plural);
    }
}

TEST(ExecuteFailures, RefusedBeforeTheExportFolderIsTouched)
{
    EngineTestSchool school;
    school.Exec("INSERT INTO Schools VALUES ('0301', 2026, 'Central', NULL, NULL, 'Y');");
    const struct {
        const char* name;
        const char* school;
        RunFlags flags;
        const char* message;   // part of the failed run's message
    } cases[] = {
        {"no live year, both exports", "0404", RunFlags::Both, "No live school year found for school \"0404\""},
        {"no live year", "0404", RunFlags::Full, "No live school year found for school \"0404\""},
        {"quoted school number", "0301' OR '1'='1", RunFlags::Full, "No live school year found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestEngine engine;
        QTemporaryDir folder;
        ParamMap parameters = RunParameters(c.school);
        parameters["path"] = folder.path();
        QString error;
        EXPECT_FALSE(engine.BeginExecute(parameters, c.flags, error));
        EXPECT_TRUE(engine.LoggedError(c.message));
        EXPECT_TRUE(QDir(folder.path()).entryList(QDir::Files).isEmpty())
            << QDir(folder.path()).entryList(QDir::Files).join(",").toStdString();
    }
}

TEST(ExecuteFailures, MissingRequiredSourceFailsTheRunByName)
{
    const struct {
        const char* change;
        const char* message;
        const char* file;   // of the table that fails, never left behind
    } cases[] = {
        {"DROP TABLE StudentEmisFD;", "Table does not exist : StudentEmisFD", "Students2.pef"},
        {"DROP TABLE CommunityService;", "Table does not exist : CommunityService", "StudentCndIncident.pef"},
        {"ALTER TABLE StudentContacts DROP COLUMN Is_Active;",
         "Required Field does not exist : Is_Active in table StudentContacts", "StudentCon.pef"},
        {"ALTER TABLE Staff DROP COLUMN StaffCode;", "Required Field does not exist : StaffCode in table Staff",
         "Staff.pef"},
        // Exported columns the table cannot do without, one declared by name
        // and one through its own value.
        {"ALTER TABLE StudentAlert DROP COLUMN Comments;",
         "Required Field does not exist : Comments in table StudentAlert", "StudentNotes.pef"},
        {"ALTER TABLE StudentAlert DROP COLUMN IsCritical;",
         "Required Field does not exist : IsCritical in table StudentAlert", "StudentNotes.pef"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        EngineTestSchool school;
        school.Exec(std::string("INSERT INTO Schools (_DistBldg, _Year, SchoolName, IsLive)"
                                " VALUES ('0301', 2026, 'Central', 'Y');") + c.change);
        TestEngine engine;
        QTemporaryDir folder;
        ParamMap parameters = RunParameters();
        parameters["path"] = folder.path();
        QString error;
        EXPECT_FALSE(engine.BeginExecute(parameters, RunFlags::Full, error));
        EXPECT_TRUE(engine.LoggedError(c.message));
        // The header file is the importer's signal that an export is whole.
        EXPECT_FALSE(QFile::exists(folder.filePath("MORV.PDE")));
        EXPECT_FALSE(QFile::exists(folder.filePath(c.file)));
    }
}

// The demo school: Schools with IsLive and a School view, two buildings.
class Services : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_school.Exec(
            "INSERT INTO Schools (_DistBldg, _Year, SchoolName, IsLive) VALUES"
            " ('0301', 2025, 'Central High', 'N'), ('0301', 2026, 'Central High', 'Y'),"
            " ('0302', 2026, 'East Middle', 'Y'), ('', 2026, 'Unnumbered', 'Y');"
            "INSERT INTO Staff (StaffID, _DistBldg, _Year, StaffCode, LastName, FirstName, MiddleName) VALUES"
            " ('S2', '0301', 2026, 'C2', 'Smith', 'Ann', NULL),"
            " ('S3', '0301', 2026, 'C3', '', 'Cher', ''),"
            " ('S1', '0301', 2026, 'C1', 'Adams', 'Bo', 'J'),"
            " ('S4', '0302', 2026, 'C4', 'Other', 'Building', NULL),"
            " ('', '0301', 2026, 'C5', 'No', 'Id', NULL);");
    }

    EngineTestSchool m_school;
};

TEST_F(Services, ValidateConnectionMessages)
{
    const struct {
        const char* name;
        const char* dropKey;      // parameter made empty
        const char* dsn;
        bool ok;
        const char* message;
        const char* missingKey;
        const char* missingMessage;
    } cases[] = {
        {"works", nullptr, kSchoolDsn, true, "Connection Succeeded", nullptr, nullptr},
        {"no user", "user", kSchoolDsn, false, "user missing or blank.", "user", "user missing or blank."},
        {"no password", "pwd", kSchoolDsn, false, "pwd missing or blank.", "pwd", "pwd missing or blank."},
        {"unknown source", nullptr, "NoSuchSource", false, nullptr, "dsn", "dsn does not exist."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestEngine engine;
        ParamMap parameters = RunParameters();
        parameters["dsn"] = c.dsn;
        if (c.dropKey)
            parameters[c.dropKey] = "";
        QString message;
        EXPECT_EQ(engine.ValidateConnection(parameters, message), c.ok);
        if (c.message) {
            EXPECT_EQ(message, c.message);
        }
        if (c.missingKey) {
            ASSERT_EQ(engine.missing.size(), 1u);
            EXPECT_EQ(engine.missing[0].first, c.missingKey);
            EXPECT_EQ(engine.missing[0].second, c.missingMessage);
        } else {
            EXPECT_TRUE(engine.missing.empty());
        }
    }
}

TEST_F(Services, ValidateSchoolNumberMessages)
{
    const struct { const char* school; bool ok; const char* message; } cases[] = {
        {"0301", true, ""},
        {"0302", true, ""},
        {"9999", false, "No School Numbers found"},
        {"0301' OR '1'='1", false, "No School Numbers found"},
    };
    for (const auto& c : cases) {
        TestEngine engine;
        QString message;
        EXPECT_EQ(engine.ValidateSchoolNumber(RunParameters(c.school), message), c.ok) << c.school;
        EXPECT_EQ(message, c.message) << c.school;
    }
}

TEST_F(Services, SchoolListHoldsTheLiveYearsNumberedSchools)
{
    TestEngine engine;
    QList<QPair<QString, QString>> entries;
    QString message;
    ParamMap parameters = RunParameters("");
    ASSERT_TRUE(engine.LoadSchoolList(parameters, entries, message));
    EXPECT_EQ(message, "School Found");
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (QList<QPair<QString, QString>>{{"0301", "Central High"}, {"0302", "East Middle"}}));
}

// Each school once, named by the row of its own live year, or of its highest
// year where the site has no IsLive column.
TEST(SchoolList, EachSchoolByItsOwnYear)
{
    const struct {
        const char* name;
        const char* sql;
        QList<QPair<QString, QString>> entries;
    } cases[] = {
        {"live in different years",
         "CREATE TABLE Schools (_DistBldg VARCHAR(4), _Year INT, SchoolName VARCHAR(60), IsLive CHAR(1));"
         "CREATE VIEW School AS SELECT * FROM Schools;"
         "INSERT INTO Schools VALUES ('0302', 2026, 'East Middle', 'Y'), ('0301', 2025, 'Central', 'Y'),"
         " ('0301', 2026, 'Central High', 'N'), ('0303', 2025, 'West', 'N');",
         {{"0301", "Central"}, {"0302", "East Middle"}}},
        {"without IsLive",
         "CREATE TABLE Schools (_DistBldg VARCHAR(4), _Year INT, SchoolName VARCHAR(60));"
         "CREATE VIEW School AS SELECT * FROM Schools;"
         "INSERT INTO Schools VALUES ('0301', 2026, 'Central High'), ('0301', 2024, 'Central'),"
         " ('0302', 2025, 'East Middle');",
         {{"0301", "Central High"}, {"0302", "East Middle"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineTestSchool school;
        ReplaceSchoolTables(school, c.sql);
        for (const char* chosen : {"", "0302", "0301"}) {
            TestEngine engine;
            QList<QPair<QString, QString>> entries;
            QString message;
            ASSERT_TRUE(engine.LoadSchoolList(RunParameters(chosen), entries, message)) << chosen;
            EXPECT_EQ(entries, c.entries) << chosen;
        }
    }
}

TEST_F(Services, TeacherListOrdersNamedStaffFirst)
{
    TestEngine engine;
    QList<QPair<QString, QString>> entries;
    QString message;
    ASSERT_TRUE(engine.LoadBridgeList("teacher", RunParameters(), entries, message));
    EXPECT_EQ(message, "Bridge List Succeeded");
    EXPECT_EQ(entries, (QList<QPair<QString, QString>>{{"S1", "Adams, Bo J"}, {"S2", "Smith, Ann"}, {"S3", "Cher"}}));
}

// An empty pick list is a failure with its own message, not an empty success.
TEST_F(Services, ListsWithNothingToOfferSayZero)
{
    const struct {
        const char* list;
        const char* change;
        const char* school;
        const char* message;
        int level;
    } cases[] = {
        {"school", "UPDATE Schools SET IsLive = 'N';", "", "School List Returned 0 Schools.", 3},
        {"teacher", "DELETE FROM Staff WHERE _DistBldg = '0302';", "0302", "Bridge List Returned 0 Teachers.", 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list);
        // The fixture's rows as they were, then this case's change.
        m_school.Exec("DELETE FROM Schools; DELETE FROM Staff;");
        SetUp();
        m_school.Exec(c.change);
        TestEngine engine;
        QList<QPair<QString, QString>> entries;
        QString message;
        const bool found = std::string(c.list) == "school"
                               ? engine.LoadSchoolList(RunParameters(c.school), entries, message)
                               : engine.LoadBridgeList("teacher", RunParameters(c.school), entries, message);
        EXPECT_FALSE(found);
        EXPECT_TRUE(entries.isEmpty());
        EXPECT_EQ(message, c.message);
        EXPECT_TRUE(std::any_of(engine.logs.begin(), engine.logs.end(), [&](const auto& entry) {
            return entry.first == c.level && entry.second == c.message;
        }));
    }
}

// A link lost while a pick list is read fails the list with the cause; it is
// never taken for a list without entries.
TEST_F(Services, AListWhoseLinkIsLostFailsInsteadOfComingBackEmpty)
{
    // Loses the link whenever the list's own query runs (the year lookup
    // before it reads no SchoolName or LastName).
    class LinkLostOnList : public TestEngine
    {
    public:
        explicit LinkLostOnList(const char* column) : m_column(column) {}
        void RunCurrentQuery() override
        {
            if (BuildQuery().FindText(m_column) >= 0)
                throw XException(XErrorKind::ConnectionLost, "Communication link failure", 0, "08S01", 10054);
            TestEngine::RunCurrentQuery();
        }

    private:
        const char* m_column;
    };
    for (const char* list : {"school", "teacher"}) {
        SCOPED_TRACE(list);
        LinkLostOnList engine(std::string(list) == "school" ? "SchoolName" : "LastName");
        QList<QPair<QString, QString>> entries;
        QString message;
        const bool found = std::string(list) == "school"
                               ? engine.LoadSchoolList(RunParameters(), entries, message)
                               : engine.LoadBridgeList("teacher", RunParameters(), entries, message);
        EXPECT_FALSE(found);
        EXPECT_TRUE(entries.isEmpty());
        EXPECT_TRUE(message.contains("Communication link failure")) << message.toStdString();
    }
}

TEST_F(Services, BridgeListRefusals)
{
    const struct {
        const char* key;
        const char* emptyParameter;
        const char* message;
        const char* missingKey;
    } cases[] = {
        {"student", nullptr, "This bridge is not set up for this type of paramkey:  student", nullptr},
        {"teacher", "school", "school missing or blank.", "school"},
        {"teacher", "dsn", "dsn missing or blank.", "dsn"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        TestEngine engine;
        ParamMap parameters = RunParameters();
        if (c.emptyParameter)
            parameters[c.emptyParameter] = "";
        QList<QPair<QString, QString>> entries;
        QString message;
        EXPECT_FALSE(engine.LoadBridgeList(c.key, parameters, entries, message));
        EXPECT_EQ(message, c.message);
        if (c.missingKey) {
            ASSERT_EQ(engine.missing.size(), 1u);
            EXPECT_EQ(engine.missing[0].first, c.missingKey);
        }
    }
}

TEST(ServicesWithoutSchoolsTable, ConnectionWorksWithEitherSchoolTable)
{
    EngineTestSchool school;
    ReplaceSchoolTables(school, "CREATE TABLE School (_DistBldg VARCHAR(4), _Year INT, SchoolName VARCHAR(60));");
    TestEngine engine;
    QString message;
    EXPECT_TRUE(engine.ValidateConnection(RunParameters(), message));
    EXPECT_EQ(message, "Connection Succeeded");

    school.Exec("DROP TABLE School;");
    TestEngine second;
    EXPECT_FALSE(second.ValidateConnection(RunParameters(), message));
    EXPECT_EQ(message, "School Table does not exist");
}



// A server that accepts the connection and never answers: the live-year
// lookup must wait for one connect time-out, not connect again for its
// fallback table. Counted by the connections the server accepts.
TEST(LiveSchoolYear, ConnectsOnceToAServerThatNeverAnswers)
{
    const char* const tdsDriver = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";
    if (!QFile::exists(tdsDriver))
        MISSING_PREREQUISITE("the FreeTDS driver is not installed (scripts/setup installs tdsodbc)");
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());

    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

    std::atomic<bool> stop{false};
    std::atomic<int> accepted{0};
    std::thread server([&] {
        std::vector<int> held;  // open and silent until the test ends
        while (!stop) {
            pollfd p{listener, POLLIN, 0};
            if (poll(&p, 1, 50) == 1) {
                const int c = accept(listener, nullptr, nullptr);
                if (c >= 0) {
                    held.push_back(c);
                    ++accepted;
                }
            }
        }
        for (int c : held)
            close(c);
    });

    const QString base = folder.path();
    QFile ini(base + "/odbc.ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(QByteArray("[MorvSilent]\nDriver=") + tdsDriver + "\nServer=127.0.0.1\nPort=" +
              QByteArray::number(ntohs(address.sin_port)) + "\nTDS_Version=7.4\n");
    ini.close();
    // ODBCSYSINI is read once per process: the process's own, not this folder.
    TestOdbcSource::SystemFolder();
    setenv("ODBCINI", (base + "/odbc.ini").toLocal8Bit().constData(), 1);
    // Drops the driver manager's cached configuration of earlier tests.
    SQLWritePrivateProfileString("MorvSilent", "TDS_Version", "7.4", "odbc.ini");

    {
        ExpEngine engine;
        engine.SetConnectionTimeout(2);
        EXPECT_TRUE(engine.GetLiveSchoolYear("MorvSilent", "reader", "secret", false).IsEmpty());
    }
    stop = true;
    server.join();
    close(listener);
    EXPECT_EQ(accepted.load(), 1);
}

} // namespace
