// The attendance update export through the built bridge, night after night,
// as a site meets it: the local clock going back between two runs.
#include "EngineTestSchool.h"
#include "tests/support/ChildProcess.h"

#include <QDateTime>
#include <QDir>

namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";

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
    void Run(const char* zone)
    {
        m_daily.clear();
        m_period.clear();
        const QStringList before = UpdateFiles();
        std::vector<std::string> environment = m_school.Source().Environment();
        environment.push_back("HOME=" + m_work.path().toStdString());
        environment.push_back(std::string("TZ=") + zone);
        const ChildResult result =
            RunChildProcess(kBridge,
                            {"run", "--att", std::string("--dsn=") + kSchoolDsn, "--user=clerk", "--pwd=secret",
                             "--school=0301", "--path=" + m_export.toStdString()},
                            environment, m_work.path().toStdString());
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

} // namespace
