// One school, two servers: the demo school exported from its SQLite file and
// from a copy of it in a real PostgreSQL server must give the same files.
// What a networked server does differently (types reported by its driver,
// wide text from a UTF-8 database, no table hints) must not show in them.
#include "data/odbc/AdoConnection.h"
#include "data/odbc/AdoRecordset.h"
#include "demo/DemoDatabase.h"
#include "demo/DemoGenerator.h"
#include "demo/DemoOptions.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DelayProxy.h"
#include "tests/support/ExportFiles.h"
#include "tests/support/PostgresSchoolCopy.h"
#include "tests/support/Prerequisite.h"
#include "tests/support/TestOdbcSource.h"
#include "tests/support/TestPostgresServer.h"
#include "tests/support/WholeFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";

using Files = ExportFiles;

TEST(PostgresExport, TheSameSchoolGivesTheSameFilesFromPostgresqlAsFromSqlite)
{
    const std::string missing = TestPostgresServer::Missing();
    if (!missing.empty())
        MISSING_PREREQUISITE(missing);
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());

    // The demo school, with a name in code page 1252 ("Zoë") and one the code
    // page cannot hold ("Łoś"): SQLite holds the bytes the export must show.
    const std::string file = work.filePath("school.db").toStdString();
    demo::DemoOptions options;
    options.students = 60;
    demo::DemoGenerator::WriteFile(file, options);
    const std::string firstStudent = " WHERE StudentNumber = (SELECT MIN(StudentNumber) FROM StudentDemographic);";
    std::string copy;
    {
        demo::DemoDatabase source(file);
        source.Execute("UPDATE StudentDemographic SET FirstName = 'Zo' || CAST(X'EB' AS TEXT)" + firstStudent);
        PostgresSchoolCopy::HoldDatesAsText(source);
        std::ostringstream sql;
        PostgresSchoolCopy::Write(source, sql);
        copy = sql.str();
        source.Execute("UPDATE StudentDemographic SET LastName = '?o?'" + firstStudent);
    }
    copy += "UPDATE \"StudentDemographic\" SET \"LastName\" = '\xc5\x81o\xc5\x9b' WHERE \"StudentNumber\" = "
            "(SELECT MIN(\"StudentNumber\") FROM \"StudentDemographic\");\n";

    TestOdbcSource sqlite("MorvExportSqlite");
    sqlite.AddDsn("MORVLITE", file);
    TestPostgresServer server;
    server.Sql(copy);

    auto run = [&](const std::string& dsn, const std::string& user, const std::string& password,
                   std::vector<std::string> environment, const QString& folder) {
        environment.push_back("HOME=" + work.path().toStdString());
        const ChildResult result =
            RunChildProcess(kBridge,
                            {"run", "--demo", "--dsn=" + dsn, "--user=" + user, "--pwd=" + password,
                             std::string("--school=") + demo::school::kMainBuilding,
                             "--path=" + folder.toStdString(), "--log=consoleoff"},
                            environment, work.path().toStdString());
        EXPECT_EQ(result.exitCode, 0) << dsn << ": " << result.standardOutput.substr(0, 4000);
        return ReadExport(folder);
    };
    const Files fromSqlite = run("MORVLITE", "clerk", "secret", sqlite.Environment(), work.filePath("lite"));
    const Files fromPostgres = run("MorvPgSource", TestPostgresServer::User, TestPostgresServer::Password,
                                   server.Environment(), work.filePath("pg"));

    ASSERT_GT(fromSqlite.size(), 20u);
    // The names went through the server as UTF-8 and came back in the code
    // page, the one it lacks a character for with "?".
    const std::vector<std::string> students =
        fromPostgres.count("Students.pef") ? fromPostgres.at("Students.pef") : std::vector<std::string>();
    EXPECT_TRUE(std::any_of(students.begin(), students.end(), [](const std::string& line) {
        return line.find("\tZo\xeb\t") != std::string::npos && line.find("\t?o?\t") != std::string::npos;
    }));
    // Lines are compared as sets: Sections, Teachers and Terms are read with
    // DISTINCT and no ORDER BY, and PostgreSQL (hashing) returns them in
    // another order than SQLite (scanning). Every other file came out in the
    // same order when this was written.
    ExpectSameExport(fromSqlite, fromPostgres);
}

}  // namespace

namespace {

// The first column of the first row of `sql` as text, "" without rows.
std::string FirstValue(AdoConnection& admin, const std::string& sql)
{
    AdoRecordset rows;
    rows.Open(sql, admin, adOpenStatic);
    return rows.IsEOF() ? std::string() : rows.Fields().Item(0L).Value().Text();
}

// Ends the bridge's session while it is inside a FETCH of the slow table, as
// the server shows it, `cuts` times on successive connections: each time
// once the session has fetched at least one block of that table (the first
// FETCH of a table runs while its query opens), so the cut falls part way
// through the rows. The server ends the session only if it is still inside
// such a FETCH when asked. Watches through a connection of its own, each
// statement its own transaction (so each sees the server's sessions anew).
// Stops at `stop` or after a minute.
void CutWhileFetching(const TestPostgresServer& server, int cuts, const std::atomic<bool>& stop,
                      std::vector<std::string>& cutSessions)
{
    AdoConnection admin;
    admin.Open(server.ConnectionString("PgAdmin"));
    // Only the slow table sleeps while its rows are fetched.
    const std::string fetching = "usename = 'morv' AND pid <> pg_backend_pid() AND state = 'active' AND "
                                 "wait_event = 'PgSleep' AND query LIKE '%fetch %'";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    std::string pid, firstFetch;
    while (static_cast<int>(cutSessions.size()) < cuts && !stop && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the polling interval
        if (pid.empty()) {
            const std::string seen = FirstValue(admin, "SELECT pid || '|' || query_start FROM pg_stat_activity WHERE " +
                                                           fetching + " ORDER BY pid");
            const std::string session = seen.substr(0, seen.find('|'));
            if (!seen.empty() && std::find(cutSessions.begin(), cutSessions.end(), session) == cutSessions.end()) {
                pid = session;
                firstFetch = seen.substr(seen.find('|') + 1);
            }
            continue;
        }
        const std::string cut = FirstValue(admin, "SELECT pg_terminate_backend(pid)::int::text FROM pg_stat_activity "
                                                  "WHERE pid = " + pid + " AND query_start > '" + firstFetch +
                                                  "' AND " + fetching);
        if (cut == "1") {
            cutSessions.push_back(pid);
            pid.clear();
        }
    }
}

// The demo school of `students` on `server`, `extraSql` run after it, with
// the data source PgCutSource reading it a few rows a FETCH and PgAdmin for
// the watcher.
void LoadSchool(TestPostgresServer& server, const QTemporaryDir& work, int students, const std::string& extraSql)
{
    const std::string file = work.filePath("school.db").toStdString();
    demo::DemoOptions options;
    options.students = students;
    demo::DemoGenerator::WriteFile(file, options);
    std::ostringstream sql;
    {
        demo::DemoDatabase source(file);
        PostgresSchoolCopy::HoldDatesAsText(source);
        PostgresSchoolCopy::Write(source, sql);
    }
    server.Sql(sql.str() + extraSql);
    server.AddDsn("PgCutSource", "UseDeclareFetch=1\nFetch=5");
    server.AddDsn("PgAdmin", "UseDeclareFetch=0");
}

// Runs the bridge's export `exportSwitch` from the data source `dsn` of
// `server` into `folder`, with its home in `work`.
ChildResult RunBridge(const TestPostgresServer& server, const QTemporaryDir& work, const std::string& dsn,
                      const char* exportSwitch, const QString& folder, std::vector<std::string> moreArguments = {})
{
    std::vector<std::string> environment = server.Environment();
    environment.push_back("HOME=" + work.path().toStdString());
    std::vector<std::string> arguments{
        "run", exportSwitch, "--dsn=" + dsn, std::string("--user=") + TestPostgresServer::User,
        std::string("--pwd=") + TestPostgresServer::Password, std::string("--school=") + demo::school::kMainBuilding,
        "--path=" + folder.toStdString()};
    arguments.insert(arguments.end(), moreArguments.begin(), moreArguments.end());
    return RunChildProcess(kBridge, arguments, environment, work.path().toStdString());
}

// Runs the bridge on PgCutSource into `folder` with `exportSwitch` while
// CutWhileFetching cuts its link `cuts` times.
ChildResult RunWithCuts(const TestPostgresServer& server, const QTemporaryDir& work, const QString& folder,
                        const char* exportSwitch, int cuts)
{
    std::atomic<bool> stop{false};
    std::vector<std::string> cutSessions;
    std::thread admin([&] { CutWhileFetching(server, cuts, stop, cutSessions); });
    const ChildResult result = RunBridge(server, work, "PgCutSource", exportSwitch, folder);
    stop = true;
    admin.join();
    EXPECT_EQ(static_cast<int>(cutSessions.size()), cuts);
    return result;
}

// A run cut at most once succeeds; cut twice it fails naming the data
// source whose connection was lost. True when it succeeded.
bool SucceedsOnlyIfCutOnce(const ChildResult& result, int cuts)
{
    if (cuts < 2) {
        EXPECT_EQ(result.exitCode, 0) << result.standardOutput.substr(0, 4000);
        return result.exitCode == 0;
    }
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.standardOutput.find("The connection to data source PgCutSource was lost"), std::string::npos)
        << result.standardOutput.substr(0, 4000);
    return false;
}

const struct CutCase
{
    const char* name;
    int cuts;
} kCutCases[] = {{"undisturbed", 0}, {"cut once", 1}, {"cut twice", 2}};

// A link lost while a table's rows stream (the driver reads them through a
// server cursor, a few rows a FETCH): the table is read again once on a new
// connection and the files equal those of an undisturbed run, the
// numbered note keys included (a counter the table fills as it is read); a
// second loss in the same table fails the run naming the lost connection.
TEST(PostgresExport, ALinkLostWhileATableStreamsIsReadAgainOnceOnANewConnection)
{
    const std::string missing = TestPostgresServer::Missing();
    if (!missing.empty())
        MISSING_PREREQUISITE(missing);
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    TestPostgresServer server;
    // The notes' rows come slowly, each as the cursor hands it out (a costly
    // column outside the sort keys is computed after the sort), so a FETCH
    // of them can be caught running.
    LoadSchool(server, work, 300,
               "ALTER TABLE \"StudentAlert\" RENAME TO \"StudentAlertRows\";\n"
               "CREATE FUNCTION slow_text(t text) RETURNS text AS $$ BEGIN PERFORM pg_sleep(0.03); RETURN t; END $$ "
               "LANGUAGE plpgsql STABLE COST 100000;\n"
               "CREATE VIEW \"StudentAlert\" AS SELECT \"StudentNumber\", \"_DistBldg\", \"_Year\", \"AlertName\", "
               "\"IsCritical\", \"StartDate\", slow_text(\"Comments\") AS \"Comments\" FROM \"StudentAlertRows\";\n");

    Files undisturbed;
    for (const CutCase& c : kCutCases) {
        SCOPED_TRACE(c.name);
        const QString folder = work.filePath(c.name);
        const ChildResult result = RunWithCuts(server, work, folder, "--demo", c.cuts);
        if (!SucceedsOnlyIfCutOnce(result, c.cuts))
            continue;
        const Files files = ReadExport(folder);
        if (c.cuts == 0) {
            undisturbed = files;
            ASSERT_GT(undisturbed.count("StudentNotes.pef"), 0u);
            continue;
        }
        EXPECT_EQ(files, undisturbed);
        EXPECT_NE(result.standardOutput.find("was lost while reading Student Notes"), std::string::npos);
    }
}

// The same in the update export's refresh: the date window whose read was
// cut goes back to its start within the refresh's transaction and is read
// again once; the update file equals an undisturbed run's, and a second
// loss in the window fails the run.
TEST(PostgresExport, AnUpdateWindowWhoseReadWasCutIsReadAgainOnce)
{
    const std::string missing = TestPostgresServer::Missing();
    if (!missing.empty())
        MISSING_PREREQUISITE(missing);
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    TestPostgresServer server;
    // One daily absence in twenty comes slowly.
    LoadSchool(server, work, 120,
               "ALTER TABLE \"StudentDailyAbsence\" RENAME TO \"StudentDailyAbsenceRows\";\n"
               "CREATE FUNCTION slow_reason(reason text, day timestamp, student text) RETURNS text AS $$ BEGIN "
               "IF abs(hashtext(student || day::text)) % 20 = 0 THEN PERFORM pg_sleep(0.03); END IF; "
               "RETURN reason; END $$ LANGUAGE plpgsql STABLE COST 100000;\n"
               "CREATE VIEW \"StudentDailyAbsence\" AS SELECT \"StudentNumber\", \"_DistBldg\", \"_Year\", "
               "\"CalendarDate\", \"AbsenceTypeCode\", \"IsExcused\", slow_reason(\"Reason\", \"CalendarDate\", "
               "\"StudentNumber\") AS \"Reason\", \"DateModified\" FROM \"StudentDailyAbsenceRows\";\n");

    std::vector<std::string> undisturbed;
    for (const CutCase& c : kCutCases) {
        SCOPED_TRACE(c.name);
        const QString folder = work.filePath(c.name);
        const ChildResult result = RunWithCuts(server, work, folder, "--att", c.cuts);
        if (!SucceedsOnlyIfCutOnce(result, c.cuts)) {
            EXPECT_TRUE(QDir(folder).entryList({"*.PDU"}, QDir::Files).isEmpty());
            continue;
        }
        const QStringList updates = QDir(folder).entryList({"*.PDU"}, QDir::Files);
        ASSERT_EQ(updates.size(), 1);
        // The rows, without the clock of the head, its update stamp and the
        // timing block.
        static const QRegularExpression clock(QStringLiteral("\\d\\d?:\\d\\d:\\d\\d|\\d{14}"));
        std::vector<std::string> lines;
        for (const QByteArray& line : ReadWholeFile(folder + "/" + updates.front()).split('\n'))
            lines.push_back(QString::fromLatin1(line).replace(clock, QStringLiteral("<time>")).toStdString());
        if (c.cuts == 0) {
            undisturbed = lines;
            ASSERT_GT(undisturbed.size(), 100u);
            continue;
        }
        EXPECT_EQ(lines, undisturbed);
        EXPECT_NE(result.standardOutput.find("was lost while reading Student Daily Attendance"), std::string::npos);
    }
}

// What psqlODBC asks of the server for a full export: one round trip per
// statement the bridge sends, but for a table read through a server cursor,
// which costs one more to close it (and one per further block of rows), and
// each connection's few setting-up exchanges. The existence checks and small
// look-ups, whose rows the bridge reads whole, come back in their first answer
// without a cursor around them, and describing a result's columns asks the
// server nothing (the driver's catalogue look-up and its time-out switching
// cost three round trips per table). Counted by a proxy in front of the
// server.
TEST(PostgresExport, AFullExportCostsOneRoundTripPerStatementBesidesTheTablesCursors)
{
    const std::string missing = TestPostgresServer::Missing();
    if (!missing.empty())
        MISSING_PREREQUISITE(missing);
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    TestPostgresServer server;
    LoadSchool(server, work, 60, "");
    DelayProxy link(server.Port(), std::chrono::microseconds(0));
    // The bridge adds UseDeclareFetch=1 and Fetch=1000 to this one.
    server.AddDsn("PgCounted", "", link.Port());

    const QString folder = work.filePath("export");
    const ChildResult result = RunBridge(server, work, "PgCounted", "--demo", folder, {"--log=consoleoff"});
    ASSERT_EQ(result.exitCode, 0) << result.standardOutput.substr(0, 4000);

    long long sent = -1;
    for (const QString& name : QDir(folder).entryList({"*.log"}, QDir::Files)) {
        const QByteArray log = ReadWholeFile(folder + "/" + name);
        const qsizetype at = log.lastIndexOf("Statements sent to the data source: ");
        if (at >= 0)
            sent = log.mid(at + 36).split(' ').front().toLongLong();
    }
    ASSERT_GT(sent, 100);
    const long long tables = QDir(folder).entryList({"*.pef"}, QDir::Files).size();
    ASSERT_GT(tables, 20);

    // What the server was asked, by kind.
    std::map<std::string, long long> kinds;
    for (const std::string& query : link.Queries()) {
        const bool declares = query.find("declare ") != std::string::npos;
        const bool check = query.find("FROM sysobjects WHERE") != std::string::npos ||
                           query.find("FROM syscolumns JOIN") != std::string::npos;
        if (declares)
            ++kinds[check ? "cursor around an existence check" : "cursor around a read"];
        else if (query.rfind("close ", 0) == 0)
            ++kinds["cursor closed"];
        else if (query.find("fetch ") != std::string::npos)
            ++kinds["further block"];
        else if (query.rfind("SET ", 0) == 0 || query.rfind("select oid, typbasetype ", 0) == 0)
            ++kinds["setting up"];
        else if (query.find("pg_catalog.pg_attribute") != std::string::npos)
            ++kinds["driver's look-up of a table's columns"];
        else
            ++kinds[check ? "existence check" : "other statement"];
    }
    std::string seen;
    for (const auto& [kind, count] : kinds)
        seen += "\n" + std::to_string(count) + " x " + kind;
    const long long cursors = kinds["cursor around a read"];
    EXPECT_GT(cursors, 0) << "the tables no longer stream through a server cursor" << seen;
    EXPECT_EQ(kinds["cursor closed"], cursors) << seen;
    EXPECT_EQ(kinds["cursor around an existence check"], 0) << seen;
    EXPECT_EQ(kinds["driver's look-up of a table's columns"], 0) << seen;
    EXPECT_LE(link.RoundTrips(), sent + tables + kinds["further block"] + kinds["setting up"])
        << sent << " statements sent, " << tables << " table files" << seen;
}

}  // namespace
