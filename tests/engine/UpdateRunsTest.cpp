// The attendance update export through the built bridge, night after night,
// as a site meets it: the local clock going back between two runs, and a run
// killed right after its update file took its name.
#include "EngineTestSchool.h"
#include "tests/support/ChildProcess.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <functional>

namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";
const char* const kShim = MORV_BINARY_DIR "/tests/support/libmorv_call_shim.so";

// Students 1001 and 1002 take part.
const char* const kSchool = R"SQL(
INSERT INTO Schools (_DistBldg, _Year, SchoolName, IsLive) VALUES ('0301', 2026, 'Central High', 'Y');
INSERT INTO StudentDemographic (StudentNumber, _DistBldg, _Year, Status, FirstName, LastName) VALUES
  ('1001', '0301', 2026, 'A', 'Ann', 'Able'), ('1002', '0301', 2026, 'A', 'Ben', 'Baker');
)SQL";

class UpdateRunsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_work.isValid());
        m_export = m_work.filePath("export");
        m_school.Exec(kSchool);
    }

    // Runs `run --att` with the local time zone `zone`; the rows of the
    // update file it added go to `daily` and `period`, sorted.
    ChildResult Start(const char* zone, const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> environment = m_school.Source().Environment();
        environment.push_back("HOME=" + m_work.path().toStdString());
        environment.push_back(std::string("TZ=") + zone);
        environment.insert(environment.end(), extra.begin(), extra.end());
        return RunChildProcess(kBridge,
                               {"run", "--att", std::string("--dsn=") + kSchoolDsn, "--user=clerk", "--pwd=secret",
                                "--school=0301", "--path=" + m_export.toStdString()},
                               environment, m_work.path().toStdString());
    }

    void Run(const char* zone)
    {
        m_daily.clear();
        m_period.clear();
        const QStringList before = UpdateFiles();
        const ChildResult result = Start(zone);
        m_output = result.standardOutput;
        ASSERT_EQ(result.exitCode, 0) << result.standardOutput.substr(0, 3000);
        QStringList added = UpdateFiles();
        for (const QString& name : before)
            added.removeAll(name);
        ASSERT_EQ(added.size(), 1) << "one new update file";
        m_created.push_back(added.front());
        ReadAttendanceRows(m_export + "/" + added.front(), m_daily, m_period);
        m_daily = Sorted(m_daily);
        m_period = Sorted(m_period);
    }

    QStringList UpdateFiles() const { return QDir(m_export).entryList({"*.PDU"}, QDir::Files, QDir::Name); }

    QTemporaryDir m_work;
    QString m_export;
    EngineTestSchool m_school;
    std::vector<std::string> m_daily;
    std::vector<std::string> m_period;
    QStringList m_created;  // the update files in the order the runs made them
    std::string m_output;   // what the last run wrote to its standard output
};

// Between two runs the local clock goes back by a day or more (a time-zone
// change, a clock corrected backwards). Nothing changed in the source, so
// nothing is sent: an absence dated after the earlier zone's today is not
// taken for deleted. And the update files sort in the order they were made.
// The zones are 26 hours apart, so the local date goes back whatever the
// hour the test runs at.
TEST_F(UpdateRunsTest, TheClockGoingBackSendsNothingTwiceAndKeepsTheFilesInOrder)
{
    const QDate ahead = QDateTime::currentDateTimeUtc().addSecs(14 * 3600).date();
    auto day = [&](int back) { return ahead.addDays(-back).toString("yyyy-MM-dd").toStdString(); };
    m_school.Exec(
        "INSERT INTO StudentDailyAbsence VALUES ('1001', '0301', 2026, '" + day(0) + " 00:00:00.000', 'A', 'N', "
        "'Bus', '" + day(0) + " 08:10:00.000');"
        "INSERT INTO StudentPeriodAbsence VALUES ('1001', '0301', 2026, '" + day(0) + " 00:00:00.000', '1', 'A', 'N'),"
        " ('1001', '0301', 2026, '" + day(1) + " 00:00:00.000', '2', 'T', 'N'),"
        " ('1002', '0301', 2026, '" + day(5) + " 00:00:00.000', '3', 'U', 'Y');");

    Run("Etc/GMT-14");
    EXPECT_EQ(m_daily, (std::vector<std::string>{Line({"1001", day(0).c_str(), "DAY", "A", "Bus", "N", "", "", "", ""})}));
    EXPECT_EQ(m_period, Sorted({
                            Line({"1001", day(0).c_str(), "1", "A", "", "N", "", "", "", ""}),
                            Line({"1001", day(1).c_str(), "2", "T", "", "N", "", "", "", ""}),
                            Line({"1002", day(5).c_str(), "3", "U", "", "Y", "", "", "", ""}),
                        }));

    Run("Etc/GMT+12");
    EXPECT_EQ(m_daily, std::vector<std::string>());
    EXPECT_EQ(m_period, std::vector<std::string>());

    Run("Etc/GMT-14");
    EXPECT_EQ(m_daily, std::vector<std::string>());
    EXPECT_EQ(m_period, std::vector<std::string>());

    // The importer takes them in name order: the order they were made.
    EXPECT_EQ(UpdateFiles(), m_created);
}

// A run killed right after its update file took its name, before the rest
// of its commit: the next run finishes the commit first. An update file
// still the one the killed run wrote has arrived, and its absences are not
// sent again; one that is gone or is no longer that file (removed, replaced,
// written over) did not arrive, so its absences go out again in the next
// update file, and the run says why.
TEST_F(UpdateRunsTest, AKilledRunsUpdateFileThatIsNoLongerItsOwnIsSentAgain)
{
    const QDate today = QDate::currentDate();
    auto day = [&](int back) { return today.addDays(-back).toString("yyyy-MM-dd").toStdString(); };
    m_school.Exec(
        "INSERT INTO StudentDailyAbsence VALUES ('1001', '0301', 2026, '" + day(1) + " 00:00:00.000', 'A', 'N', "
        "'Bus', '" + day(1) + " 08:10:00.000');"
        "INSERT INTO StudentPeriodAbsence VALUES ('1002', '0301', 2026, '" + day(2) + " 00:00:00.000', '3', 'U', 'Y');");
    const std::vector<std::string> daily = {Line({"1001", day(1).c_str(), "DAY", "A", "Bus", "N", "", "", "", ""})};
    const std::vector<std::string> period = {Line({"1002", day(2).c_str(), "3", "U", "", "Y", "", "", "", ""})};
    auto rewrite = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    const struct
    {
        const char* name;
        std::function<void(const QString& path)> change;
        bool sentAgain;
    } cases[] = {
        {"left as it was", [](const QString&) {}, false},
        {"removed", [](const QString& path) { ASSERT_TRUE(QFile::remove(path)); }, true},
        // The same bytes in another file: not the file the run wrote.
        {"replaced by a copy",
         [](const QString& path) {
             ASSERT_TRUE(QFile::copy(path, path + ".copy"));
             ASSERT_TRUE(QFile::remove(path));
             ASSERT_TRUE(QFile::rename(path + ".copy", path));
         },
         true},
        {"written over", [&](const QString& path) { rewrite(path, "cut short"); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(m_export).removeRecursively();
        const ChildResult killed =
            Start("UTC", {PreloadEntry({kShim}),
                          "MORV_SHIM_KILL=rename:1:" + m_export.toStdString() + "/Update "});
        EXPECT_NE(killed.exitCode, 0) << "the run was not killed";
        const QStringList left = UpdateFiles();
        ASSERT_EQ(left.size(), 1) << "the killed run's update file";
        std::vector<std::string> killedDaily, killedPeriod;
        ReadAttendanceRows(m_export + "/" + left.front(), killedDaily, killedPeriod);
        EXPECT_EQ(Sorted(killedDaily), daily);
        EXPECT_EQ(Sorted(killedPeriod), period);
        c.change(m_export + "/" + left.front());

        Run("UTC");
        EXPECT_EQ(m_daily, c.sentAgain ? daily : std::vector<std::string>());
        EXPECT_EQ(m_period, c.sentAgain ? period : std::vector<std::string>());
        EXPECT_EQ(m_output.find(left.front().toStdString() + " is no longer the file it wrote") != std::string::npos,
                  c.sentAgain)
            << m_output.substr(0, 3000);
        // The importer takes the update files away; nothing is sent a third
        // time, as the record of the killed run is gone with its recovery.
        for (const QString& name : UpdateFiles())
            ASSERT_TRUE(QFile::remove(m_export + "/" + name));
        Run("UTC");
        EXPECT_EQ(m_daily, std::vector<std::string>());
        EXPECT_EQ(m_period, std::vector<std::string>());
    }
}

} // namespace
