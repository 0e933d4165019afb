// The scheduling, staff and grade tables against a hand-made school: the
// exact lines of Calendar, Sections, Terms, Teachers, Staff, Student
// Schedules and Student Grades, the staff leave-date rule with and without an
// inactive cut-off, the staff name rule and the staff-code map.
#include "tests/engine/EngineTestSchool.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <map>

namespace {

// School 0301, live year 2026. Students 1001 and 1002 are active, 1003 is
// inactive. Rows of another year (2025) or building (0302) must never show.
const char* const kSchool = R"SQL(
INSERT INTO Schools (_DistBldg, _Year, SchoolName, IsLive) VALUES
  ('0301', 2025, 'Central High', 'N'), ('0301', 2026, 'Central High', 'Y');
INSERT INTO StudentDemographic (StudentNumber, _DistBldg, _Year, Status, FirstName, LastName, CalendarCode) VALUES
  ('1001', '0301', 2026, 'A', 'Ann', 'Able', 'REG'), ('1002', '0301', 2026, 'N', 'Ben', 'Baker', 'REG'),
  ('1003', '0301', 2026, 'W', 'Cy', 'Gone', 'REG');
INSERT INTO SchoolCalendar (_DistBldg, _Year, IsLive, MasterCalendar_CalendarCode, MasterCalendar_CalendarName,
  DefaultCalendar, Day_CalendarDate, Rotation_Actual_RotationDayCode) VALUES
  ('0301', 2026, 'Y', 'REG', 'Regular', 'Y', '2025-08-25 00:00:00.000', 'M'),
  ('0301', 2026, 'Y', 'REG', 'Regular', 'Y', '2025-08-25 00:00:00.000', 'M'),
  ('0301', 2026, 'Y', 'ALT', 'Four-day', 'N', '2025-08-28 00:00:00.000', 'R'),
  ('0301', 2026, 'N', 'DRAFT', 'Draft', 'N', '2025-08-26 00:00:00.000', 'T'),
  ('0301', 2025, 'Y', 'REG', 'Regular', 'Y', '2024-08-26 00:00:00.000', 'M'),
  ('0302', 2026, 'Y', 'MID', 'Middle', 'N', '2025-08-25 00:00:00.000', 'M');
INSERT INTO StudentSchedule (StudentNumber, _DistBldg, _Year, Status, CourseCode, Section, Term, Period,
  CourseName, Days, StaffID, TeacherName, Location, StartDate, StopDate) VALUES
  ('1001', '0301', 2026, 'A', 'MATH1', '02', 'YR', '1', 'Math 1', 'MTWRF', 'T100', 'Smith, Ann', 'Room 5',
   '2025-08-25 00:00:00.000', '2026-06-05 00:00:00.000'),
  ('1002', '0301', 2026, 'N', 'MATH1', '02', 'YR', '1', 'Math 1', 'MTWRF', 'T100', 'Smith, Ann', 'Room 5',
   '2025-09-02 00:00:00.000', '2026-06-05 00:00:00.000'),
  ('1003', '0301', 2026, 'W', 'FREN1', '01', 'S1', '2', 'Fran)SQL" "\xE7" R"SQL(ais I', 'TR', 'T200', 'O''Hara, Sean', NULL,
   '2025-08-25 00:00:00.000', '2025-10-01 00:00:00.000'),
  ('1001', '0301', 2025, 'A', 'HLTH', '01', 'YR', '3', 'Health', 'MWF', 'T900', 'Old, Teacher', 'Gym',
   '2024-08-26 00:00:00.000', '2025-06-06 00:00:00.000'),
  ('1001', '0302', 2026, 'A', 'BAND', '01', 'YR', '4', 'Band', 'MWF', 'T800', 'Other, Building', 'Band Room',
   '2025-08-25 00:00:00.000', '2026-06-05 00:00:00.000');
INSERT INTO ReportingTerms (_DistBldg, _Year, CourseTerm, CourseTermName, CourseSectionStartDate,
  CourseSectionStopDate) VALUES
  ('0301', 2026, 'YR', 'Full Year', '2025-08-25 00:00:00.000', '2026-06-05 00:00:00.000'),
  ('0301', 2026, 'S1', 'Semester 1', '2025-08-25 00:00:00.000', '2026-01-16 00:00:00.000'),
  ('0301', 2026, 'S1', 'Semester 1', '2025-08-25 00:00:00.000', '2026-01-16 00:00:00.000'),
  ('0301', 2026, 'SUM', 'Summer', '', ''),
  ('0301', 2025, 'YR', 'Full Year', '2024-08-26 00:00:00.000', '2025-06-06 00:00:00.000');
INSERT INTO StudentCourseMarks (StudentNumber, _DistBldg, _Year, Status, CourseCode, SectionNumber,
  ReportingTermCode, MarkAlpha, MarkNumeric) VALUES
  ('1001', '0301', 2026, 'A', 'MATH1', '02', 'S1', 'A-', 91.5),
  ('1001', '0301', 2026, 'A', 'MATH1', '02', 'S2', NULL, NULL),
  ('1002', '0301', 2026, 'N', 'MATH1', '02', 'S1', NULL, 88),
  ('1002', '0301', 2026, 'N', 'MATH1', '02', 'S2', 'P', NULL),
  ('1003', '0301', 2026, 'W', 'FREN1', '01', 'S1', 'F', 40),
  ('1001', '0301', 2025, 'A', 'HLTH', '01', 'S1', 'B', 85);
)SQL";

// Staff of school 0301. StopDate decides who is still employed: today,
// NULL and '' count; yesterday does not. T500 belongs to the last year.
const char* const kStaff = R"SQL(
INSERT INTO Staff (StaffID, StaffCode, _DistBldg, _Year, NamePrefix, FirstName, MiddleName, LastName, Address,
  Address2, City, State, Zip, Zip4, Telephone, EMailAddress, StartDate, StopDate, Comments) VALUES
  ('T100', '100', '0301', 2026, 'Ms.', 'Ann', NULL, 'Smith', '1 Oak St', '', 'Springfield', 'OH', '45501', '1234',
   '555-1234', 'ann@example.org', '2010-08-15 00:00:00.000', NULL, 'Math' || char(13) || char(10) || 'dept	head'),
  ('T200', '200', '0301', 2026, 'Mr.', '0', '', 'O''Hara', NULL, NULL, NULL, NULL, '45502', '', NULL, NULL,
   NULL, '', NULL),
  ('T300', '300', '0301', 2026, '', '000', '12', 'Left', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, date('now', 'localtime', '-1 day') || ' 00:00:00.000', NULL),
  ('T400', '400', '0301', 2026, '', '3rd', 'Lee', '', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, date('now', 'localtime') || ' 00:00:00.000', NULL),
  ('T500', '500', '0301', 2025, '', 'Old', NULL, 'Year', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, NULL, NULL);
)SQL";

class SchedulingTables : public SchoolTableTest
{
protected:
    SchedulingTables()
        : SchoolTableTest({kSchool, kStaff})
    {
    }

    // Runs the tables of this group in the order Execute does.
    void Export(TestEngine& engine, const QTemporaryDir& folder, const ParamMap& parameters)
    {
        ASSERT_TRUE(StartExport(engine, folder, parameters));
        engine.CreateCalendar();
        engine.CreateSections();
        engine.CreateTerms();
        engine.CreateTeachers();
        engine.CreateStaff();
        engine.CreateStudentSchedules();
        engine.CreateStudentGrades();
        engine.FinishImport();
    }
};

TEST_F(SchedulingTables, LinesAsTheImporterReadsThem)
{
    Export(m_engine, m_folder, RunParameters());
    struct Case {
        const char* file;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        // The default calendar has an empty key; non-live rows, other years
        // and buildings stay out; duplicate rows come once.
        {"Calendar.pef",
         {Line({"", "Regular", "2025/08/25 0:00:00", "M"}), Line({"ALT", "Four-day", "2025/08/28 0:00:00", "R"})}},
        // One line per section, whoever is enrolled; course and section form
        // the key.
        {"Sections.pef",
         {Line({"FREN1-01", "FREN1", "S1", "2", "Fran\xE7" "ais I", "TR", "T200", ""}),
          Line({"MATH1-02", "MATH1", "YR", "1", "Math 1", "MTWRF", "T100", "Room 5"})}},
        // A term without a start date is left out; dates in the export format.
        {"Terms.pef",
         {Line({"S1", "Semester 1", "2025-08-25", "2026-01-16"}), Line({"YR", "Full Year", "2025-08-25", "2026-06-05"})}},
        {"Teachers.pef", {Line({"T100", "Smith, Ann"}), Line({"T200", "O'Hara, Sean"})}},
        // Only active students; the section key matches Sections.
        {"StudentSched.pef",
         {Line({"1001", "MATH1", "MATH1-02", "2025/08/25 0:00:00", "2026/06/05 0:00:00"}),
          Line({"1002", "MATH1", "MATH1-02", "2025/09/02 0:00:00", "2026/06/05 0:00:00"})}},
        // Rows without any mark are not exported.
        {"StudentGrades.pef",
         {Line({"1001", "MATH1", "MATH1-02", "S1", "A-", "91.5"}), Line({"1002", "MATH1", "MATH1-02", "S1", "", "88"}),
          Line({"1002", "MATH1", "MATH1-02", "S2", "P", ""})}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(SortedLines(c.file), Sorted(c.lines));
    }
    // Staff: zip with its extension, the phone formatted, comments on one
    // line; "0" is no first name; employed today and with no leave date.
    const std::vector<std::string> staff = SortedLines("Staff.pef");
    ASSERT_EQ(staff.size(), 3u);
    EXPECT_EQ(staff[0], Line({"T100", "Ms.", "Ann", "", "Smith", "1 Oak St", "", "Springfield", "OH", "45501-1234",
                              "555-1234", "ann@example.org", "2010/08/15 0:00:00", "", "Math  depthead"}));
    EXPECT_EQ(staff[1], Line({"T200", "Mr.", "", "", "O'Hara", "", "", "", "", "45502", "", "", "", "", ""}));
    // "3rd" reads as a number; the leave date is today's.
    EXPECT_EQ(staff[2].substr(0, 12), "T400\t\t\tLee\t\t");
}

TEST_F(SchedulingTables, StaffLeaveDateRuleAndStaffCodeMap)
{
    struct Case {
        const char* inactiveDate;
        std::vector<std::string> keys;
        std::map<XString, XString> codeMap;   // staff code -> staff key
    };
    const Case cases[] = {
        // Left yesterday: not exported; today, NULL and empty: exported.
        {"", {"T100", "T200", "T400"}, {{"100", "T100"}, {"200", "T200"}, {"400", "T400"}}},
        // With a cut-off date every staff member of the year is.
        {"2025-06-30", {"T100", "T200", "T300", "T400"},
         {{"100", "T100"}, {"200", "T200"}, {"300", "T300"}, {"400", "T400"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inactiveDate);
        TestEngine engine;
        QTemporaryDir folder;
        ParamMap parameters = RunParameters();
        parameters["inactivedate"] = c.inactiveDate;
        Export(engine, folder, parameters);
        std::vector<std::string> keys;
        for (const std::string& line : Sorted(ReadLines(folder.filePath("Staff.pef"))))
            keys.push_back(Field(line, 0));
        EXPECT_EQ(keys, c.keys);
        EXPECT_EQ(engine.m_staffCodeMap, c.codeMap);
    }
}

TEST_F(SchedulingTables, StaffNamesThatAreNumbersAreEmpty)
{
    struct Case {
        const char* name;
        const char* written;
    };
    const Case cases[] = {
        {"0", ""}, {"000", ""}, {"12", ""}, {"3rd", ""}, {" -7x", ""}, {"+0", "+0"}, {"", ""},
        {"Ann", "Ann"}, {"0x", "0x"}, {"99999999999999999999", ""}, {"Ren\xE9" "e", "Ren\xE9" "e"},
    };
    m_school.Exec("DELETE FROM Staff;");
    int id = 0;
    for (const Case& c : cases) {
        const std::string number = std::to_string(++id);
        m_school.Exec("INSERT INTO Staff (StaffID, StaffCode, _DistBldg, _Year, FirstName) VALUES ('S" + number +
                      "', '" + number + "', '0301', 2026, '" + c.name + "');");
    }
    Export(m_engine, m_folder, RunParameters());

    std::map<std::string, std::string> firstNames;
    for (const std::string& line : Lines("Staff.pef"))
        firstNames[Field(line, 0)] = Field(line, 2);
    id = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("first name '") + c.name + "'");
        EXPECT_EQ(firstNames["S" + std::to_string(++id)], c.written);
    }
}

TEST_F(SchedulingTables, HeaderFileListsEveryTableWithItsFields)
{
    Export(m_engine, m_folder, RunParameters());
    const std::vector<std::string> header = Lines("MORV.PDE");
    const auto has = [&](const std::string& line) {
        return std::count(header.begin(), header.end(), line) == 1;
    };
    EXPECT_TRUE(has("CalKey\tCalName\tCalDate\tCalDateDayRef"));
    EXPECT_TRUE(has("SecKey\tSecCrsRef\tSecTermRef\tSecPerRef\tSecName\tSecDayGroup\tSecStaffRef\tSecRoomNum"));
    EXPECT_TRUE(has("TermKey\tTermName\tTermStartDate\tTermEndDate"));
    EXPECT_TRUE(has("StaffKey\tStaffFullName"));
    EXPECT_TRUE(has("StaffKey\tStaffSalutation\tStaffFirstName\tStaffMidName\tStaffLastName\tStaffAddress1\t"
                    "StaffAddress2\tStaffCity\tStaffState\tStaffZip\tStaffPhone\tStaffEmail\tStaffEnterDate\t"
                    "StaffLeaveDate\tStaffComments"));
    EXPECT_TRUE(has("StdKey\tStdCrsRef\tStdSecRef\tStdSecStartDate\tStdSecEndDate"));
    EXPECT_TRUE(has("GrdStdRef\tGrdCrsRef\tGrdSecRef\tGrdBinRef\tGrdAlpha\tGrdNumeric"));
    for (const char* file : {"Calendar", "Sections", "Terms", "Teachers", "Staff", "StudentSched", "StudentGrades"})
        EXPECT_TRUE(has(std::string("#include \"") + file + ".pef\"")) << file;
    EXPECT_TRUE(has("#customgradefield \"Alpha\" \"Mark\" \"letter\""));
    EXPECT_TRUE(has("#customgradefield \"Numeric\" \"%\" \"numeric\""));
    EXPECT_TRUE(has("#customcomfield \"Phone\" \"Phone\" \"phone\""));
}


// The fixture tells every pair of exported columns apart, so that a swap of
// two columns' sources shows in the lines the other tests expect.
TEST_F(SchedulingTables, EveryPairOfColumnsDiffersSomewhere)
{
    Export(m_engine, m_folder, RunParameters());
    ExpectEveryPairOfColumnsToDiffer();
}

}  // namespace
