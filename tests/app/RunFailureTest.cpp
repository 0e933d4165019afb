// A run the importer starts with every required parameter, against a data
// source that cannot deliver a school: it must end as one clean failure the
// importer can read (exit status, status files, a single closed progress),
// with the password nowhere in what it leaves behind.
#include "tests/app/BridgeProcess.h"
#include "tests/support/TestOdbcSource.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QDir>

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>

namespace {

const QString kPassword = QStringLiteral("Zq7-Hidden!pw");

struct RunCase
{
    const char *name;
    const char *dsn;      // empty: the test source's own DSN
    QStringList switches; // which exports are asked for
    QStringList logHolds; // why the run failed, as the log file tells support
    QStringList consoleHolds; // why the run failed, as the importer shows it
    const char *status;       // the status file's reason: the cause after the command's own text
    const char *damage = "";  // "locked", "not_a_database" or "truncated": the source file's state
};

void PrintTo(const RunCase &c, std::ostream *os) { *os << c.name; }

struct SqliteCloser
{
    void operator()(sqlite3 *db) const { sqlite3_close(db); }
};

// Registers the DSN "MorvAppDamaged" for a database file in the state
// `damage` names. A locked file stays locked (an open exclusive
// transaction) while the returned handle lives.
std::unique_ptr<sqlite3, SqliteCloser> damagedSource(TestOdbcSource &source, const std::string &damage)
{
    const std::string path = source.Folder() + "/damaged.db";
    // The run waits for a locked file twice (the connection check and the
    // school lookup): a short wait keeps the case quick.
    source.AddDsn("MorvAppDamaged", path, damage == "locked" ? 200 : TestOdbcSource::kBusyTimeoutMs);
    // A school whose table lies beyond the first pages of the file.
    std::string sql = "BEGIN; CREATE TABLE School (_DistBldg TEXT, _Year TEXT, IsLive TEXT, SchoolName TEXT);";
    for (int i = 0; i < 400; ++i)
        sql += "INSERT INTO School VALUES ('" + std::to_string(i) + "', '2026', 'Y', '" + std::string(200, 'x') + "');";
    sql += "COMMIT;";
    sqlite3 *raw = nullptr;
    sqlite3_open(path.c_str(), &raw);
    std::unique_ptr<sqlite3, SqliteCloser> db(raw);
    sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr);
    if (damage == "locked") {
        sqlite3_exec(db.get(), "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
        return db;
    }
    db.reset();
    if (damage == "not_a_database") {
        std::ofstream(path, std::ios::trunc) << "Name,Year\nLincoln,2026\n" << std::string(4096, 'z');
    } else if (damage == "truncated") {
        std::filesystem::resize_file(path, std::filesystem::file_size(path) / 3);
    }
    return nullptr;
}

class FailedRun : public ::testing::TestWithParam<RunCase>
{
protected:
    // Also keeps the system's odbc.ini out: a DSN not in this source's
    // odbc.ini does not exist for the bridge.
    TestOdbcSource source{"MorvAppNoSchoolTables"};
    QTemporaryDir home;
    QTemporaryDir work;
};

TEST_P(FailedRun, EndsAsOneReadableFailureWithoutThePassword)
{
    const RunCase &c = GetParam();
    const auto lock = *c.damage ? damagedSource(source, c.damage) : nullptr;
    const QString dsn = *c.dsn ? QString::fromLatin1(c.dsn) : QString::fromStdString(source.Dsn());
    const QString exportFolder = work.path() + QStringLiteral("/export");
    QStringList environment;
    for (const std::string &pair : source.Environment())
        environment.append(QString::fromStdString(pair));

    const BridgeResult r = runBridge(QStringList{QStringLiteral("run"), QStringLiteral("--dsn=") + dsn,
                                                 QStringLiteral("--user=clerk"), QStringLiteral("--pwd=") + kPassword,
                                                 QStringLiteral("--school=1"),
                                                 QStringLiteral("--path=") + exportFolder}
                                         + c.switches,
                                     home.path(), environment);
    const QString out = r.out.join(u'\n');

    EXPECT_EQ(r.exitCode, 1) << out.toStdString() << r.err.toStdString();
    const QString status = QString::fromUtf8(ReadWholeFile(exportFolder + QStringLiteral("/Data ExtractorStatus.tmp")));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\tFailed\\t")
                                   + QRegularExpression::escape(QString::fromUtf8(c.status)) + QStringLiteral("\\r\\n$"))
                    .match(status)
                    .hasMatch())
        << status.toStdString();
    EXPECT_EQ(ReadWholeFile(exportFolder + QStringLiteral("/finished_bridge.tmp")), QByteArray("finished\r\n"));
    EXPECT_EQ(r.out.count(QStringLiteral("end_progress")), 1) << out.toStdString();
    EXPECT_EQ(r.out.value(r.out.size() - 1), QStringLiteral("end_progress")) << out.toStdString();

    // Nothing the importer could take for an export.
    EXPECT_TRUE(QDir(exportFolder).entryList({QStringLiteral("*.PDE"), QStringLiteral("*.pef"), QStringLiteral("*.PDU")}, QDir::Files).isEmpty());

    const QString log = QString::fromUtf8(ReadWholeFile(exportFolder + QStringLiteral("/MORV--1-")
                                                   + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))
                                                   + QStringLiteral(".log")));
    for (const QString &reason : c.logHolds)
        EXPECT_TRUE(log.contains(reason)) << reason.toStdString() << " not in:\n" << log.toStdString();
    for (const QString &reason : c.consoleHolds)
        EXPECT_TRUE(out.contains(reason)) << reason.toStdString() << " not in:\n" << out.toStdString();

    const QString everything = out + r.err + everythingIn(work.path()) + everythingIn(home.path());
    EXPECT_FALSE(everything.contains(kPassword)) << everything.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Sources, FailedRun,
    ::testing::Values(
        // Without an export switch the run asks for attendance too; it fails
        // the same way and leaves no update file either.
        RunCase{"required_parameters_only", "MorvAppNoSuchSource", {}, {"Data source name not found"},
                {"The source database could not be read: ", "Data source name not found"},
                "Failed on extraction: The source database could not be read: [unixODBC][Driver Manager]Data source name not found and no default driver specified; nothing was exported."},
        RunCase{"source_does_not_exist", "MorvAppNoSuchSource", {QStringLiteral("--demo")},
                {"Data source name not found"},
                {"The source database could not be read: ", "Data source name not found"},
                "Failed on extraction: The source database could not be read: [unixODBC][Driver Manager]Data source name not found and no default driver specified; nothing was exported."},
        // A database that cannot be read at all is named as the cause, not
        // taken for a database without school tables.
        RunCase{"source_locked", "MorvAppDamaged", {QStringLiteral("--demo")},
                {"database is locked"},
                {"The source database could not be read: ", "database is locked"},
                "Failed on extraction: The source database could not be read: Could not check whether table School "
                "exists: [SQLite]database is locked (5) (SQLSTATE HY000); nothing was exported.",
                "locked"},
        RunCase{"source_not_a_database", "MorvAppDamaged", {QStringLiteral("--demo")},
                {"file is not a database"},
                {"The source database could not be read: ", "file is not a database"},
                "Failed on extraction: The source database could not be read: Could not check whether table School "
                "exists: [SQLite]file is not a database (26) (SQLSTATE HY000); nothing was exported.",
                "not_a_database"},
        RunCase{"source_truncated", "MorvAppDamaged", {QStringLiteral("--demo")},
                {"malformed"}, {"The source database could not be read: ", "malformed"},
                "Failed on extraction: The source database could not be read: Could not check whether table School "
                "exists: [SQLite]database disk image is malformed (11) (SQLSTATE HY000); nothing was exported.",
                "truncated"},
        RunCase{"source_without_school_tables", "", {QStringLiteral("--demo")},
                {"Connected to data source.", "No live school year found for school \"1\""},
                {"No live school year found for school \"1\""},
                "Failed on extraction: No live school year found for school \"1\" in the School or Schools table "
                "(the lookup failed: Table does not exist : School); nothing was exported."}),
    [](const ::testing::TestParamInfo<RunCase> &info) { return std::string(info.param.name); });

} // namespace
