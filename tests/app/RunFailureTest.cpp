// A run the importer starts with every required parameter, against a data
// source that cannot deliver a school: it must end as one clean failure the
// importer can read (exit status, status files, a single closed progress),
// with the password nowhere in what it leaves behind.
#include "tests/app/BridgeProcess.h"
#include "tests/support/TestOdbcSource.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QDirIterator>

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
};

void PrintTo(const RunCase &c, std::ostream *os) { *os << c.name; }

class FailedRun : public ::testing::TestWithParam<RunCase>
{
protected:
    // Also keeps the system's odbc.ini out: a DSN not in this source's
    // odbc.ini does not exist for the bridge.
    TestOdbcSource source{"MorvAppNoSchoolTables"};
    QTemporaryDir home;
    QTemporaryDir work;
};

// Every file below `folder`, with the "proprietary:" records of log files
// decoded, since those hide their text from a plain search.
QString everythingIn(const QString &folder)
{
    QString text;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        text += path + u'\n';
        const QByteArray bytes = ReadWholeFile(path);
        text += QString::fromUtf8(bytes);
        for (const QByteArray &line : bytes.split('\n')) {
            if (line.startsWith("proprietary:"))
                text += QString::fromUtf8(QByteArray::fromBase64(line.mid(12).trimmed()));
        }
    }
    return text;
}

TEST_P(FailedRun, EndsAsOneReadableFailureWithoutThePassword)
{
    const RunCase &c = GetParam();
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
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\tFailed\\t"
                                                  "Failed on extraction\\.\\r\\n$"))
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
                {"The lookup failed: ", "Data source name not found"}},
        RunCase{"source_does_not_exist", "MorvAppNoSuchSource", {QStringLiteral("--demo")},
                {"Data source name not found"}, {"The lookup failed: ", "Data source name not found"}},
        RunCase{"source_without_school_tables", "", {QStringLiteral("--demo")},
                {"Connected to data source.", "No live school year found for school \"1\""},
                {"No live school year found for school \"1\""}}),
    [](const ::testing::TestParamInfo<RunCase> &info) { return std::string(info.param.name); });

} // namespace
