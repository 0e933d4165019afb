// The production path: the bridge reading a SQL Server through FreeTDS's
// ODBC driver, here a stand-in server that answers from a SQLite school
// file with the column types a MORV database declares. The same school read
// straight from the SQLite file must give the same files; what the protocol
// carries differently (wide text, dates, decimals and money in their own
// wire forms, long text in chunks) must not show in them. The data sources
// are written as a site writes them (no client character set) and the bridge
// runs under a UTF-8 locale.
#include "demo/DemoDatabase.h"
#include "demo/DemoGenerator.h"
#include "demo/DemoOptions.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ExportFiles.h"
#include "tests/support/Prerequisite.h"
#include "tests/support/TestOdbcSource.h"
#include "tests/support/TestTdsServer.h"
#include "tests/support/WholeFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";
const char* const kLiteDsn = "MorvTdsLite";

// The rows of the newest update file, without its clock and update stamp.
std::vector<std::string> NewestUpdate(const QString& folder)
{
    const QStringList updates = QDir(folder).entryList({"*.PDU"}, QDir::Files, QDir::Name);
    if (updates.isEmpty())
        return {};
    static const QRegularExpression clock(QStringLiteral("\\d\\d?:\\d\\d:\\d\\d|\\d{14}"));
    std::vector<std::string> lines;
    for (const QByteArray& line : ReadWholeFile(folder + "/" + updates.back()).split('\n'))
        lines.push_back(QString::fromLatin1(line).replace(clock, QStringLiteral("<time>")).toStdString());
    return lines;
}

// A demo school and the stand-in serving it, with the same file registered
// for SQLite's own driver.
class FreeTdsExport : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string missing = TestTdsServer::Missing();
        if (!missing.empty())
            MISSING_PREREQUISITE(missing);
        ASSERT_TRUE(m_work.isValid());
    }

    // Writes the demo school of `students`, with names in code page 1252
    // and long notes, and starts the server over it.
    void MakeSchool(int students)
    {
        m_file = m_work.filePath("school.db").toStdString();
        demo::DemoOptions options;
        options.students = students;
        demo::DemoGenerator::WriteFile(m_file, options);
        {
            demo::DemoDatabase source(m_file);
            const std::string first = " WHERE StudentNumber = (SELECT MIN(StudentNumber) FROM StudentDemographic)";
            // "Zoë Ñúñez", and notes longer than a packet and than a chunk of
            // a long value.
            source.Execute("UPDATE StudentDemographic SET FirstName = 'Zo' || CAST(X'EB' AS TEXT), LastName = "
                           "CAST(X'D1FAF1657A' AS TEXT)" + first + ";"
                           "UPDATE StudentAlert SET Comments = Comments || ' ' || hex(randomblob(3000)) || ' caf' || "
                           "CAST(X'E9' AS TEXT) WHERE rowid % 2 = 0;"
                           "UPDATE Staff SET Comments = 'Long ' || hex(randomblob(2500)) WHERE rowid % 3 = 0;"
                           "UPDATE StudentContacts SET Contact_Comments = 'Note ' || hex(randomblob(1200)) || "
                           "CAST(X'FC' AS TEXT) WHERE rowid % 5 = 0;");
        }
        m_lite = std::make_unique<TestOdbcSource>("MorvTdsLiteOwn");
        m_lite->AddDsn(kLiteDsn, m_file);
        m_server = std::make_unique<TestTdsServer>(m_file);
    }

    std::vector<std::string> Environment(const std::vector<std::string>& sources) const
    {
        std::vector<std::string> environment = sources;
        environment.push_back("HOME=" + m_work.path().toStdString());
        environment.push_back("LANG=C.UTF-8");
        environment.push_back("LC_ALL=");
        return environment;
    }

    // The bridge with `arguments` and the login of the source: SQLite's when
    // `dsn` is kLiteDsn, the stand-in's otherwise.
    // `password` replaces the source's own.
    ChildResult Bridge(const std::string& dsn, std::vector<std::string> arguments,
                       const std::string& password = std::string()) const
    {
        const bool lite = dsn == kLiteDsn;
        arguments.push_back("--dsn=" + dsn);
        arguments.push_back(std::string("--user=") + (lite ? "clerk" : TestTdsServer::User));
        arguments.push_back("--pwd=" + (!password.empty() ? password : lite ? "secret" : TestTdsServer::Password));
        return RunChildProcess(kBridge, arguments,
                               Environment(lite ? m_lite->Environment() : m_server->Environment()),
                               m_work.path().toStdString());
    }

    ChildResult Run(const std::string& dsn, const char* exportSwitch, const QString& folder,
                    const std::string& password = std::string()) const
    {
        return Bridge(dsn,
                      {"run", exportSwitch, std::string("--school=") + demo::school::kMainBuilding,
                       "--path=" + folder.toStdString(), "--log=consoleoff"},
                      password);
    }

    // The log a run copied into `folder`.
    static std::string RunLog(const QString& folder)
    {
        std::string text;
        for (const QString& name : QDir(folder).entryList({"*.log"}, QDir::Files))
            text += ReadWholeFile(folder + "/" + name).toStdString();
        return text;
    }

    // The words of the status file a run left in `folder`.
    static std::string Status(const QString& folder)
    {
        return ReadWholeFile(folder + "/Data ExtractorStatus.tmp").toStdString();
    }

    QTemporaryDir m_work;
    std::string m_file;
    std::unique_ptr<TestOdbcSource> m_lite;
    std::unique_ptr<TestTdsServer> m_server;
};

// The full export through FreeTDS equals the SQLite export, with the
// protocol versions that send dates as their own types (7.3 and later), and
// with a warning amid every result (as SQL Server sends one when an
// aggregate meets NULL), which the driver reports with the rows.
TEST_F(FreeTdsExport, AFullExportEqualsTheSqliteExportOfTheSameSchool)
{
    MakeSchool(60);
    const ExportFiles fromSqlite = [&] {
        const QString folder = m_work.filePath("lite");
        const ChildResult result = Run(kLiteDsn, "--demo", folder);
        EXPECT_EQ(result.exitCode, 0) << result.standardOutput.substr(0, 4000);
        return ReadExport(folder);
    }();
    ASSERT_GT(fromSqlite.size(), 20u);
    const std::vector<std::string>& students = fromSqlite.at("Students.pef");
    ASSERT_TRUE(std::any_of(students.begin(), students.end(), [](const std::string& line) {
        return line.find("\tZo\xeb\t") != std::string::npos && line.find("\t\xd1\xfa\xf1\x65z\t") != std::string::npos;
    }));

    for (const char* version : {"7.4", "7.3", "7.4 with warnings"}) {
        SCOPED_TRACE(std::string("TDS ") + version);
        const bool warnings = std::string(version).find("warnings") != std::string::npos;
        m_server->SetFaults(warnings ? "{\"info\": {\"query\": \"\", \"after_rows\": 1}}" : "{}");
        const std::string dsn = std::string("MorvTds") + version[0] + version[2];
        if (std::string(version) == "7.3")
            m_server->AddDsn(dsn, std::string("TDS_Version=") + version);
        const QString folder = m_work.filePath(QString::fromStdString(dsn) + (warnings ? "w" : ""));
        const ChildResult result = Run(std::string(version) == "7.3" ? dsn : TestTdsServer::Dsn, "--demo", folder);
        ASSERT_EQ(result.exitCode, 0) << result.standardOutput.substr(0, 4000) << m_server->Log().substr(0, 4000);
        ExpectSameExport(fromSqlite, ReadExport(folder));
    }
}

}  // namespace

namespace {

// Two update exports, the second after the absences changed (a changed
// daily code, a period absence deleted, a new one), send the same rows
// through FreeTDS as from the SQLite file.
TEST_F(FreeTdsExport, TwoUpdateExportsSendTheSameRowsAsFromSqlite)
{
    MakeSchool(60);
    const std::string student = "(SELECT MIN(StudentNumber) FROM StudentDemographic WHERE _DistBldg = '0301' AND "
                                "_Year = 2026 AND Status = 'A')";
    {
        demo::DemoDatabase source(m_file);
        source.Execute("INSERT INTO StudentPeriodAbsence VALUES (" + student + ", '0301', 2026, date('now', "
                       "'-3 days') || ' 00:00:00.000', '2', 'T', 'N');");
    }
    const QString lite = m_work.filePath("lite"), tds = m_work.filePath("tds");
    for (int night = 1; night <= 2; ++night) {
        SCOPED_TRACE("update " + std::to_string(night));
        if (night == 2) {
            demo::DemoDatabase source(m_file);
            source.Execute("UPDATE StudentDailyAbsence SET AbsenceTypeCode = CASE AbsenceTypeCode WHEN 'A' THEN 'T' "
                           "ELSE 'A' END, DateModified = datetime('now') || '.000' WHERE rowid = (SELECT MIN(rowid) "
                           "FROM StudentDailyAbsence WHERE _DistBldg = '0301' AND _Year = 2026 AND StudentNumber = " +
                           student + ");"
                           "DELETE FROM StudentPeriodAbsence WHERE StudentNumber = " + student + " AND CalendarDate = "
                           "date('now', '-3 days') || ' 00:00:00.000';"
                           "INSERT INTO StudentPeriodAbsence VALUES (" + student + ", '0301', 2026, date('now', "
                           "'-1 days') || ' 00:00:00.000', '4', 'A', 'Y');");
        }
        const ChildResult fromSqlite = Run(kLiteDsn, "--att", lite);
        ASSERT_EQ(fromSqlite.exitCode, 0) << fromSqlite.standardOutput.substr(0, 4000);
        const ChildResult fromTds = Run(TestTdsServer::Dsn, "--att", tds);
        ASSERT_EQ(fromTds.exitCode, 0) << fromTds.standardOutput.substr(0, 4000) << m_server->Log().substr(0, 4000);
        const std::vector<std::string> expected = NewestUpdate(lite), actual = NewestUpdate(tds);
        // The first sends every absence, the second only the three changes.
        EXPECT_GT(expected.size(), night == 1 ? 100u : 3u);
        EXPECT_EQ(actual, expected);
    }
    EXPECT_EQ(QDir(tds).entryList({"*.PDU"}, QDir::Files).size(), 2);
}

// The set-up commands the importer runs before any export (the connection
// and school tests, the school and teacher lists) answer the same through
// FreeTDS as from the SQLite file.
TEST_F(FreeTdsExport, TheSetUpCommandsAnswerAsFromSqlite)
{
    MakeSchool(30);
    const std::string school = std::string("--school=") + demo::school::kMainBuilding;
    const std::vector<std::pair<std::vector<std::string>, const char*>> commands = {
        {{"test", "--group=connection"}, "test\tconnection\tsuccess"},
        {{"test", "--group=school", school}, "test\tschool\tsuccess"},
        {{"test", "--group=school", "--school=9999"}, "test\tschool\tfail"},
        {{"params", "--group=school", "--paramkey=school"}, "school_list\tschool\t0301\t"},
        {{"params", "--group=global", "--paramkey=teacher", school}, "bridgelist\tteacher\t"},
    };
    for (const auto& [command, answer] : commands) {
        SCOPED_TRACE(command[0] + " " + command[1] + " " + command.back());
        const ChildResult fromSqlite = Bridge(kLiteDsn, command);
        EXPECT_NE(fromSqlite.standardOutput.find(answer), std::string::npos) << fromSqlite.standardOutput;
        const ChildResult fromTds = Bridge(TestTdsServer::Dsn, command);
        EXPECT_EQ(fromTds.exitCode, fromSqlite.exitCode);
        // The log lines carry the clock.
        static const QRegularExpression clock(QStringLiteral("\\b\\d\\d?:\\d\\d:\\d\\d\\b"));
        auto withoutClock = [](const std::string& text) {
            return QString::fromStdString(text).replace(clock, QStringLiteral("<time>")).toStdString();
        };
        EXPECT_EQ(withoutClock(fromTds.standardOutput), withoutClock(fromSqlite.standardOutput));
        EXPECT_EQ(withoutClock(fromTds.standardError), withoutClock(fromSqlite.standardError));
    }
}

}  // namespace

namespace {

const struct CutCase
{
    const char* name;
    const char* exportSwitch;
    const char* query;  // a statement the cut falls in
    int cuts;
    bool midPacket;
    const char* table;  // as the run names it
} kCutCases[] = {
    {"notes cut once", "--demo", "FROM \\\"StudentAlert\\\" N", 1, false, "Student Notes"},
    {"notes cut once mid-packet", "--demo", "FROM \\\"StudentAlert\\\" N", 1, true, "Student Notes"},
    {"notes cut twice", "--demo", "FROM \\\"StudentAlert\\\" N", 2, false, "Student Notes"},
    {"update window cut once", "--att", "FROM \\\"StudentDailyAbsence\\\"", 1, true, "Student Daily Attendance"},
    {"update window cut twice", "--att", "FROM \\\"StudentDailyAbsence\\\"", 2, false, "Student Daily Attendance"},
};

// The server closes the connection part way through a table's rows (after
// whole packets, or inside one): the table is read again once on a new
// connection and the files equal those of an undisturbed run; a second cut
// fails the run naming the data source whose connection was lost, and no
// update file is left behind.
TEST_F(FreeTdsExport, AConnectionCutMidTableIsReadAgainOnceOnANewConnection)
{
    MakeSchool(60);
    const QString undisturbed = m_work.filePath("undisturbed");
    for (const char* exportSwitch : {"--demo", "--att"}) {
        const ChildResult result = Run(TestTdsServer::Dsn, exportSwitch, undisturbed + exportSwitch);
        ASSERT_EQ(result.exitCode, 0) << result.standardOutput.substr(0, 4000);
    }
    int number = 0;
    for (const CutCase& c : kCutCases) {
        SCOPED_TRACE(c.name);
        // A new server for each case: the cuts are counted over its life.
        m_server = std::make_unique<TestTdsServer>(m_file);
        m_server->SetFaults(std::string("{\"cut\": {\"query\": \"") + c.query + "\", \"after_rows\": 100, \"times\": " +
                            std::to_string(c.cuts) + ", \"mid_packet\": " + (c.midPacket ? "true" : "false") + "}}");
        const QString folder = m_work.filePath(QString::number(++number));
        const ChildResult result = Run(TestTdsServer::Dsn, c.exportSwitch, folder);
        const std::string log = m_server->Log();
        size_t cuts = 0;
        for (size_t at = log.find("cut on request"); at != std::string::npos; at = log.find("cut on request", at + 1))
            ++cuts;
        EXPECT_EQ(cuts, static_cast<size_t>(c.cuts)) << log.substr(0, 3000);
        if (c.cuts > 1) {
            EXPECT_EQ(result.exitCode, 1) << result.standardOutput.substr(0, 4000);
            EXPECT_NE(result.standardOutput.find(std::string("The connection to data source ") + TestTdsServer::Dsn +
                                                 " was lost"),
                      std::string::npos)
                << result.standardOutput.substr(0, 4000);
            EXPECT_TRUE(QDir(folder).entryList({"*.PDU"}, QDir::Files).isEmpty());
            continue;
        }
        ASSERT_EQ(result.exitCode, 0) << result.standardOutput.substr(0, 4000);
        EXPECT_NE(RunLog(folder).find(std::string("was lost while reading ") + c.table), std::string::npos);
        if (std::string(c.exportSwitch) == "--demo")
            EXPECT_EQ(ReadExport(folder), ReadExport(undisturbed + c.exportSwitch));
        else
            EXPECT_EQ(NewestUpdate(folder), NewestUpdate(undisturbed + c.exportSwitch));
    }
}

// What the server refuses or fails reaches the importer in the server's own
// words: a refused login (a locked account, a wrong password) in the status
// file, an error amid a table's rows
// (a deadlock victim, an object that is gone) in the failed run's output
// and status file. A deadlock is not retried: the run fails and the next
// night's run reads the school again.
TEST_F(FreeTdsExport, TheServersRefusalsAndErrorsFailTheRunInItsWords)
{
    MakeSchool(30);
    const struct
    {
        const char* name;
        std::string faults;
        const char* words;
        const char* password;  // the source's own when empty
    } cases[] = {
        {"login refused", "{\"refuse_login\": \"the account is locked\"}",
         "Login failed for user 'reader'. Reason: the account is locked", ""},
        {"wrong password", "{}", "Login failed for user 'reader'.", "Tds-Secret-8"},
        {"deadlock victim",
         "{\"error\": {\"query\": \"FROM \\\"StudentSchedule\\\"\", \"after_rows\": 3, \"number\": 1205}}",
         "was deadlocked on lock resources with another process and has been chosen as the deadlock victim", ""},
        {"object gone", "{\"error\": {\"query\": \"FROM \\\"Staff\\\"\", \"after_rows\": 2, \"number\": 208, "
                        "\"object\": \"Staff\"}}",
         "Invalid object name 'Staff'.", ""},
    };
    int number = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_server->SetFaults(c.faults);
        const QString folder = m_work.filePath(QString::number(++number));
        const ChildResult result = Run(TestTdsServer::Dsn, "--demo", folder, c.password);
        EXPECT_EQ(result.exitCode, 1) << result.standardOutput.substr(0, 4000);
        EXPECT_NE(result.standardOutput.find(c.words), std::string::npos) << result.standardOutput.substr(0, 4000);
        EXPECT_NE(Status(folder).find(c.words), std::string::npos) << Status(folder);
    }
}

}  // namespace
