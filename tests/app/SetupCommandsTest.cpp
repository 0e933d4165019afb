// The commands behind the importer's set-up pages, run as the importer runs
// them against real ODBC sources: the connection and school tests and the
// school and teacher pick lists must reach the engine and answer with whole,
// exact protocol outputs.
#include "tests/app/BridgeProcess.h"
#include "tests/support/TestOdbcSource.h"

#include <gtest/gtest.h>

#include <fstream>
#include <ostream>

namespace {

struct SetupCase
{
    const char *name;
    QStringList arguments; // after the login options
    int exitCode;
    QStringList out; // standard output; "TIME" for clock times
};

void PrintTo(const SetupCase &c, std::ostream *os) { *os << c.name; }

class SetupCommand : public ::testing::TestWithParam<SetupCase>
{
protected:
    static void SetUpTestSuite()
    {
        s_source = new TestOdbcSource("MorvAppSetupSchool");
        // Two live schools (one with a quote in its number) and one old
        // school row, with the teachers of the live year. In a year rollover
        // 0303 is already live in 2026, under its new name; 0202 has rows
        // but no live year at all.
        s_source->Exec("CREATE TABLE Schools (_DistBldg VARCHAR(4) NOT NULL, _Year INT NOT NULL, "
                       "SchoolName VARCHAR(60), IsLive CHAR(1));"
                       "INSERT INTO Schools VALUES ('0101', 2025, 'Hill Elementary', 'Y');"
                       "INSERT INTO Schools VALUES ('O''B', 2025, 'O''Brien Middle', 'Y');"
                       "INSERT INTO Schools VALUES ('0101', 2024, 'Hill Elementary', 'N');"
                       "INSERT INTO Schools VALUES ('0303', 2025, 'Lake School', 'N');"
                       "INSERT INTO Schools VALUES ('0303', 2026, 'Lake Academy', 'Y');"
                       "INSERT INTO Schools VALUES ('0202', 2024, 'Closed School', 'N');"
                       "INSERT INTO Schools VALUES ('0202', 2025, 'Closed School', 'N');"
                       "CREATE TABLE Staff (StaffID VARCHAR(10) NOT NULL, _DistBldg VARCHAR(4) NOT NULL, "
                       "_Year INT NOT NULL, FirstName VARCHAR(30), MiddleName VARCHAR(30), LastName VARCHAR(40));"
                       "INSERT INTO Staff VALUES ('T2', '0101', 2025, 'Ann', '', 'Zeller');"
                       "INSERT INTO Staff VALUES ('T1', '0101', 2025, 'Bob', 'J', 'Adams');"
                       "INSERT INTO Staff VALUES ('T9', '0101', 2024, 'Old', '', 'Timer');");
        // A source that answers but holds no school tables.
        s_source->AddDsn("MorvAppSetupEmpty", s_source->Folder() + "/empty.db");
        // A server that refuses the connection: nothing listens on port 1.
        std::ofstream(s_source->OdbcIniPath(), std::ios::app)
            << "[MorvAppRefused]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so\nServername=127.0.0.1\n"
               "Port=1\nDatabase=postgres\n\n";
    }
    static void TearDownTestSuite()
    {
        delete s_source;
        s_source = nullptr;
    }

    static TestOdbcSource *s_source;
    QTemporaryDir home;
};

TestOdbcSource *SetupCommand::s_source = nullptr;

QStringList login(const char *dsn)
{
    return {QStringLiteral("--dsn=") + QString::fromLatin1(dsn), QStringLiteral("--user=clerk"),
            QStringLiteral("--pwd=secret")};
}

TEST_P(SetupCommand, AnswersFromTheEngine)
{
    const SetupCase &c = GetParam();
    QStringList environment;
    for (const std::string &pair : s_source->Environment())
        environment.append(QString::fromStdString(pair));
    // Only the protocol lines (the engine's progress records among them): its
    // Informational records are the log's business.
    const BridgeResult r = runBridge(c.arguments + QStringList{QStringLiteral("--log=consoleoff")}, home.path(),
                                     environment);
    EXPECT_EQ(r.out.join(u'\n').toStdString(), c.out.join(u'\n').toStdString()) << r.err.toStdString();
    EXPECT_EQ(r.exitCode, c.exitCode);
}

const QStringList kSchoolList = {"start_progress\t0", "inc_progress\tLoading School List",
                                 "inc_progress\tFound Schools...", "school_list\tschool\t0101\tHill Elementary (0101)\t",
                                 "school_list\tschool\t0303\tLake Academy (0303)\t",
                                 "school_list\tschool\tO'B\tO'Brien Middle (O'B)\t", "end_progress"};

const QString kTest = QStringLiteral("test");
const QString kParams = QStringLiteral("params");

INSTANTIATE_TEST_SUITE_P(
    Sources, SetupCommand,
    ::testing::Values(
        SetupCase{"connection_good",
                  QStringList{kTest, QStringLiteral("--group=connection")} + login("MorvAppSetupSchool"),
                  0,
                  {"start_progress\t0", "inc_progress\tBeginning test...",
                   "test\tconnection\tsuccess\tConnection Succeeded", "end_progress"}},
        SetupCase{"connection_unknown_source",
                  QStringList{kTest, QStringLiteral("--group=connection")} + login("MorvAppNoSuchSource"),
                  1,
                  {"start_progress\t0", "inc_progress\tBeginning test...",
                   "test\tconnection\tfail\tConnection Failed: Data Source does not exist.", "end_progress"}},
        // The driver's own words, without its record number.
        SetupCase{"connection_refused",
                  QStringList{kTest, QStringLiteral("--group=connection")} + login("MorvAppRefused"),
                  1,
                  {"start_progress\t0", "inc_progress\tBeginning test...",
                   "test\tconnection\tfail\tconnection to server at \"127.0.0.1\", port 1 failed: Connection refused",
                   "end_progress"}},
        SetupCase{"connection_without_school_tables",
                  QStringList{kTest, QStringLiteral("--group=connection")} + login("MorvAppSetupEmpty"),
                  1,
                  {"start_progress\t0", "inc_progress\tBeginning test...",
                   "test\tconnection\tfail\tSchool Table does not exist", "end_progress"}},
        SetupCase{"school_known",
                  QStringList{kTest, QStringLiteral("--group=school"), QStringLiteral("--school=0101")}
                      + login("MorvAppSetupSchool"),
                  0,
                  {"start_progress\t0", "inc_progress\tBeginning test...",
                   "test\tschool\tsuccess\tSchool Number Validated.", "end_progress"}},
        SetupCase{"school_quoted",
                  QStringList{kTest, QStringLiteral("--group=school"), QStringLiteral("--school=O'B")}
                      + login("MorvAppSetupSchool"),
                  0,
                  {"start_progress\t0", "inc_progress\tBeginning test...",
                   "test\tschool\tsuccess\tSchool Number Validated.", "end_progress"}},
        SetupCase{"school_unknown",
                  QStringList{kTest, QStringLiteral("--group=school"), QStringLiteral("--school=9999")}
                      + login("MorvAppSetupSchool"),
                  1,
                  {"start_progress\t0", "inc_progress\tBeginning test...",
                   "test\tschool\tfail\tNo School Numbers found", "end_progress"}},
        // The run refuses a school without a live year; the test says so
        // in the run's words.
        SetupCase{"school_without_live_year",
                  QStringList{kTest, QStringLiteral("--group=school"), QStringLiteral("--school=0202")}
                      + login("MorvAppSetupSchool"),
                  1,
                  {"start_progress\t0", "inc_progress\tBeginning test...",
                   "test\tschool\tfail\tNo live school year found for school \"0202\" in the School or Schools table",
                   "end_progress"}},
        SetupCase{"school_unreachable_source",
                  QStringList{kTest, QStringLiteral("--group=school"), QStringLiteral("--school=0101")}
                      + login("MorvAppNoSuchSource"),
                  1,
                  {"start_progress\t0", "inc_progress\tBeginning test...",
                   "test\tschool\tfail\tThe source database could not be read: [unixODBC][Driver Manager]Data "
                   "source name not found and no default driver specified",
                   "end_progress"}},
        // Every live school, each by its own live year, whatever school the
        // caller has chosen.
        SetupCase{"school_list",
                  QStringList{kParams, QStringLiteral("--group=school"), QStringLiteral("--paramkey=school")}
                      + login("MorvAppSetupSchool"),
                  0, kSchoolList},
        SetupCase{"school_list_with_school",
                  QStringList{kParams, QStringLiteral("--group=school"), QStringLiteral("--paramkey=school"),
                              QStringLiteral("--school=0101")}
                      + login("MorvAppSetupSchool"),
                  0, kSchoolList},
        SetupCase{"school_list_with_school_of_the_next_year",
                  QStringList{kParams, QStringLiteral("--group=school"), QStringLiteral("--paramkey=school"),
                              QStringLiteral("--school=0303")}
                      + login("MorvAppSetupSchool"),
                  0, kSchoolList},
        SetupCase{"school_list_unknown_source",
                  QStringList{kParams, QStringLiteral("--group=school"), QStringLiteral("--paramkey=school")}
                      + login("MorvAppNoSuchSource"),
                  1,
                  {"start_progress\t0", "warning\tschool\tSchool List Failed.",
                   "warning\tLoading Schools Failed\tLoading Schools failed: [unixODBC][Driver Manager]Data source "
                   "name not found and no default driver specified",
                   "end_progress"}},
        SetupCase{"school_list_refused_connection",
                  QStringList{kParams, QStringLiteral("--group=school"), QStringLiteral("--paramkey=school")}
                      + login("MorvAppRefused"),
                  1,
                  {"start_progress\t0", "warning\tschool\tSchool List Failed.",
                   "warning\tLoading Schools Failed\tLoading Schools failed: connection to server at \"127.0.0.1\", port 1 failed: Connection refused", "end_progress"}},
        SetupCase{"teacher_list_unknown_source",
                  QStringList{kParams, QStringLiteral("--group=global"), QStringLiteral("--paramkey=teacher"),
                              QStringLiteral("--school=0101")}
                      + login("MorvAppNoSuchSource"),
                  1,
                  {"start_progress\t0",
                   "warning\tteacher\tBridge List Failed: [unixODBC][Driver Manager]Data source name not found and no "
                   "default driver specified",
                   "warning\tteacher\tBridge List Failed: [unixODBC][Driver Manager]Data source name not found and no "
                   "default driver specified",
                   "end_progress"}},
        SetupCase{"teacher_list_refused_connection",
                  QStringList{kParams, QStringLiteral("--group=global"), QStringLiteral("--paramkey=teacher"),
                              QStringLiteral("--school=0101")}
                      + login("MorvAppRefused"),
                  1,
                  {"start_progress\t0", "warning\tteacher\tBridge List Failed: connection to server at \"127.0.0.1\", port 1 failed: Connection refused",
                   "warning\tteacher\tBridge List Failed: connection to server at \"127.0.0.1\", port 1 failed: Connection refused", "end_progress"}},
        SetupCase{"teacher_list",
                  QStringList{kParams, QStringLiteral("--group=global"), QStringLiteral("--paramkey=teacher"),
                              QStringLiteral("--school=0101")}
                      + login("MorvAppSetupSchool"),
                  0,
                  {"start_progress\t0", "inc_progress\tLoading Teacher List", "inc_progress\tFound Teachers...",
                   "bridgelist\tteacher\tT1\tAdams, Bob J\t",
                   "bridgelist\tteacher\tT2\tZeller, Ann\t", "end_progress"}}),
    [](const ::testing::TestParamInfo<SetupCase> &info) { return std::string(info.param.name); });

} // namespace

namespace {

// The school test and the run agree: a school the run would refuse fails the
// test with the run's own words, and the run fails with them too.
TEST(SchoolTestAndRun, AgreeOnASchoolTheRunRefuses)
{
    TestOdbcSource source("MorvAppAgreeSchool");
    source.Exec("CREATE TABLE Schools (_DistBldg VARCHAR(4) NOT NULL, _Year INT NOT NULL, SchoolName VARCHAR(60), "
                "IsLive CHAR(1));"
                "INSERT INTO Schools VALUES ('0202', 2024, 'Closed School', 'N');"
                "INSERT INTO Schools VALUES ('0202', 2025, 'Closed School', 'N');"
                "INSERT INTO Schools VALUES ('0101', 2025, 'Hill Elementary', 'Y');");
    QStringList environment;
    for (const std::string &pair : source.Environment())
        environment.append(QString::fromStdString(pair));
    const struct {
        const char *dsn;
        QString refusal;
    } cases[] = {
        {"MorvAppAgreeSchool",
         QStringLiteral("No live school year found for school \"0202\" in the School or Schools table")},
        {"MorvAppNoSuchSource",
         QStringLiteral("The source database could not be read: [unixODBC][Driver Manager]Data source name not found "
                        "and no default driver specified")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.dsn);
        QTemporaryDir home, work;
        const QStringList common = login(c.dsn) + QStringList{QStringLiteral("--school=0202"), QStringLiteral("--log=consoleoff")};

        const BridgeResult test = runBridge(QStringList{kTest, QStringLiteral("--group=school")} + common, home.path(),
                                            environment);
        EXPECT_EQ(test.out, (QStringList{"start_progress\t0", "inc_progress\tBeginning test...",
                                         "test\tschool\tfail\t" + c.refusal, "end_progress"}));
        EXPECT_EQ(test.err, QString());
        EXPECT_EQ(test.exitCode, 1);

        const QString folder = work.path() + QStringLiteral("/export");
        const BridgeResult run = runBridge(QStringList{QStringLiteral("run"), QStringLiteral("--demo"),
                                                       QStringLiteral("--path=") + folder} + common,
                                           home.path(), environment);
        const QString refused = c.refusal + QStringLiteral("; nothing was exported.");
        EXPECT_EQ(run.out, (QStringList{"log\tInformational\tTIME\t\tQuillon Data Extractor for MORV started.",
                                        "inc_progress\tStarting Execution...", "start_progress\t25",
                                        "log\tError        \tTIME\t\t" + refused,
                                        "log\tError        \tTIME\tBridgeTaskBase::BeginExecute\t" + refused,
                                        "end_progress"}));
        EXPECT_EQ(run.err, QString());
        EXPECT_EQ(run.exitCode, 1);
        const QString status = QString::fromUtf8(ReadWholeFile(folder + QStringLiteral("/Data ExtractorStatus.tmp")));
        EXPECT_TRUE(status.endsWith(QStringLiteral("\tFailed\tFailed on extraction: ") + refused + QStringLiteral("\r\n")))
            << status.toStdString();
    }
}

} // namespace

namespace {

// The data sources the project writes for SQLite refuse to create a missing
// database file: a connection test against a mistyped path must fail, not
// leave an empty database behind that the next test would take for a source.
TEST(ConnectionTest, NeverCreatesAMissingDatabase)
{
    TestOdbcSource source("MorvAppMissingFile");
    const std::string missing = source.Folder() + "/missing.db";
    source.AddDsn("MorvAppMissingDb", missing);
    std::remove(missing.c_str());
    QStringList environment;
    for (const std::string &pair : source.Environment())
        environment.append(QString::fromStdString(pair));
    QTemporaryDir home;

    const BridgeResult r = runBridge(QStringList{kTest, QStringLiteral("--group=connection"),
                                                 QStringLiteral("--log=consoleoff")}
                                         + login("MorvAppMissingDb"),
                                     home.path(), environment);
    EXPECT_EQ(r.out.join(u'\n').toStdString(),
              "start_progress\t0\ninc_progress\tBeginning test...\ntest\tconnection\tfail\t[SQLite]connect failed\n"
              "end_progress");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(missing)));
}

} // namespace
