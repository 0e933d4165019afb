// A school of 20,000 students with a full year of attendance. It takes most
// of the suite's time, so it has an executable of its own labelled "slow";
// the time itself belongs to a benchmark, here only that the school is whole.
#include "demo/DemoDatabase.h"
#include "demo/DemoGenerator.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

TEST(DemoLargeSchoolTest, BuildsATwentyThousandStudentSchool)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    demo::DemoOptions options;
    options.students = 20000;
    const std::string path = (dir.path() + QStringLiteral("/large.db")).toStdString();
    demo::DemoGenerator::WriteFile(path, options);
    demo::DemoDatabase db(path);
    const std::string live = std::string("_DistBldg = '") + demo::school::kMainBuilding +
                             "' AND _Year = " + demo::school::kLiveYear;
    EXPECT_EQ(db.QueryInt("SELECT COUNT(*) FROM StudentDemographic WHERE " + live), 20000);
    const long long schoolDays = db.QueryInt("SELECT COUNT(*) FROM SchoolCalendar WHERE " + live +
                                             " AND MasterCalendar_CalendarCode = 'REG'");
    EXPECT_GT(schoolDays, 160);
    EXPECT_EQ(db.QueryInt("SELECT COUNT(DISTINCT CalendarDate) FROM StudentDailyAbsence WHERE " + live), schoolDays);
    EXPECT_EQ(db.QueryInt("SELECT COUNT(DISTINCT CalendarDate) FROM StudentPeriodAbsence WHERE " + live), schoolDays);
    EXPECT_GT(db.QueryInt("SELECT COUNT(*) FROM StudentDailyAbsence WHERE " + live), 100000);
}

}  // namespace
