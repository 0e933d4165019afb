// The student export tables against a hand-made school: the exact lines of a
// few students, which students each status rule lets through, the optional
// locker view and a missing optional column.
#include "tests/engine/EngineTestSchool.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

// Students of school 0301 in the live year 2026, one row per case:
// 1001 active with every field filled, 1002 with the additional code X on
// the default calendar, 1003 inactive, 1004 on a calendar the school does
// not have, 1005 enrolled in two buildings, 1006 of another year only, 1007
// stored with a trailing blank that its contact row does not have.
const char* const kSchool = R"SQL(
INSERT INTO Schools (_DistBldg, _Year, SchoolName, IsLive) VALUES
  ('0301', 2025, 'Central High', 'N'), ('0301', 2026, 'Central High', 'Y'),
  ('0302', 2026, 'East Middle', 'Y');
INSERT INTO SchoolCalendar (_DistBldg, _Year, IsLive, MasterCalendar_CalendarCode, DefaultCalendar, Day_CalendarDate)
VALUES ('0301', 2026, 'Y', 'REG', 'N', '2025-08-25 00:00:00'), ('0301', 2026, 'Y', 'REG', 'N', '2025-08-26 00:00:00'),
       ('0301', 2026, 'Y', 'ALT', 'Y', '2025-08-25 00:00:00'), ('0302', 2026, 'Y', 'NONE', 'N', '2025-08-25 00:00:00');
INSERT INTO StudentDemographic (StudentNumber, _DistBldg, _Year, Status, EMISId, FirstName, MiddleName, LastName,
  NameSuffix, CalledName, Address, Address2, City, State, Zip, Zip4, StudentHomePhone, Gender, Birthdate,
  GradeLevel, Homeroom, HomeroomTeacherCode, Program, Counselor, SpecialEducation, NativeLanguage,
  BirthplaceCity, GraduationYear, Ethnicity, CalendarCode) VALUES
  ('1001', '0301', 2026, 'A', 'EM1001', 'Ren)SQL" "\xE9" R"SQL(e', 'Ann', 'O''Brien', 'III', 'Rennie', ' 12 Elm St ', 'Apt	4',
   'Springfield', 'OH', '45501', '1234', '5551234', 'F', '2010-05-06', '09', '101', 'T7', 'STEM', 'C9', '0', 'English',
   'Dayton', 2028, 'w', 'REG'),
  ('1002', '0301', 2026, 'X', NULL, 'Sam', NULL, 'Lee', NULL, NULL, NULL, NULL, NULL, NULL, '45502', NULL, '12345',
   'M', NULL, '10', NULL, NULL, NULL, NULL, 'IEP', NULL, NULL, NULL, 'Other', 'ALT'),
  ('1003', '0301', 2026, 'I', NULL, 'Ida', NULL, 'Gone', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   'F', NULL, '11', NULL, NULL, NULL, NULL, '', NULL, NULL, NULL, 'H', 'REG'),
  ('1004', '0301', 2026, 'A', NULL, 'Nora', NULL, 'Nocal', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   'F', NULL, '12', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 'NONE'),
  ('1005', '0301', 2026, 'N', NULL, 'Two', NULL, 'Homes', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   'M', NULL, '09', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 'REG'),
  ('1005', '0302', 2026, 'A', NULL, 'Two', NULL, 'Homes', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   'M', NULL, '09', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 'NONE'),
  ('1006', '0301', 2025, 'A', NULL, 'Old', NULL, 'Year', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   'F', NULL, '12', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 'REG'),
  ('1007 ', '0301', 2026, 'A', NULL, 'Tim', NULL, 'Trail', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   'M', NULL, '09', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 'REG');
INSERT INTO StudentEmisFD (StudentNumber, _DistBldg, _Year, StudentFreeLunchStatus) VALUES
  ('1001', '0301', 2026, 'F'), ('1003', '0301', 2026, 'R'), ('1001', '0301', 2025, 'R'), ('1005', '0301', 2025, 'F');
INSERT INTO StudentContacts (StudentNumber, _DistBldg, _Year, Status, Is_Active, Name_Prefix, First_Name,
  Middle_Name, Last_Name, Name_Suffix, Name, Address, Address2, City, State, Zip, Zip4, Home_Phone, Cell_Phone,
  Work_Phone, Work_Phone_Ext, Is_Avail_At_Work, Pager, Pager_Ext, Email_Address, Occupation,
  Place_Of_Employeement, Is_Migrant_Worker, Primary_Language, Contact_Comments, Is_Primary, Is_Guardian,
  Is_Emergency_Contact, Is_Living_With_Student, Is_Willing_To_Volunteer, Is_Medical, Comments,
  PhoneNumberType, Number) VALUES
  ('1001', '0301', 2026, 'A', 'Y', 'Mrs', 'Mary', NULL, 'O''Brien', '', 'Mother', '12 Elm St', 'Unit 2', 'Springfield',
   'OH', '45501', '', '(555) 123-4567', '555 1234', '555-9876', '12', 'Y', '555-0000', NULL, 'mary@example.com',
   'Nurse', 'General Hospital', 'N', 'English', 'Calls	after' || char(13) || char(10) || '5pm', 'Y', 'Y', 'Y', 'Y',
   1, 0, 'Prefers email', 'Cell Number', '555-1234'),
  ('1001', '0301', 2026, 'A', 'Y', NULL, 'John', 'Q', 'Smith', NULL, 'Father', NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 'N', 'Y', 'N', 'Y', 0, 1, NULL,
   'Work number', '555-2222'),
  ('1001', '0301', 2026, 'A', 'N', NULL, 'Old', NULL, 'Contact', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 'N', 'N', 'N', 'N', 0, 0, NULL,
   'Home Number', '555-3333'),
  ('1003', '0301', 2026, 'I', 'Y', NULL, 'Ina', NULL, 'Gone', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 'Y', 'Y', 'N', 'N', 0, 0, NULL,
   'Home Number', '555-4444'),
  ('1007', '0301', 2026, 'A', 'Y', NULL, 'Tia', NULL, 'Trail', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 'N', 'N', NULL, NULL, 0, 0, NULL,
   NULL, NULL);
INSERT INTO StudentTransportation (StudentNumber, _DistBldg, _Year, ParkingPermit, AssignedSpaces,
  VehicleDescription, LicensePlate, DriversLicenseNumber, DriversLicenseState, StudentDriver, StudentBussed,
  StudentWalker, DistanceToSchool, BusNumber, SecondBusNumber) VALUES
  ('1005', '0301', 2026, 'P9', 'S12', 'Blue sedan', 'ABC123', 'D555', 'OH', 'Y', 'N', 'N', NULL, '7', ''),
  ('1003', '0301', 2026, NULL, NULL, NULL, NULL, NULL, NULL, 'N', 'Y', 'N', NULL, '4', NULL),
  ('1001', '0301', 2026, NULL, NULL, NULL, NULL, NULL, NULL, 'N', 'Y', 'N', '2.5', '3', 'B3');
INSERT INTO StudentLocker (StudentNumber, _DistBldg, _Year, LockerNumber, CombinationSeries) VALUES
  ('1001', '0301', 2026, 'L12', '10-20-30'), ('1003', '0301', 2026, 'L13', '1-2-3');
INSERT INTO StudentAbsenceSummary (StudentNumber, Building, Year, DaysAttended, DaysAbsentExcused,
  DaysAbsentUnexcused, DaysPartial) VALUES
  ('1001', '0301', 2026, 150.5, 2, 0, 1), ('1005', '0301', 2026, 149, 1, 1, 0), ('1003', '0301', 2026, 90, 0, 9, 0);
)SQL";

class StudentTables : public SchoolTableTest
{
protected:
    StudentTables()
        : SchoolTableTest({kSchool})
    {
    }

    // Runs the student tables the way Execute does, with the staff-code map
    // as the Staff table would have left it.
    void Export(ParamMap parameters)
    {
        ASSERT_TRUE(StartExport(m_engine, m_folder, parameters));
        m_engine.m_staffCodeMap[XString("T7")] = XString("STAFF7");
        m_engine.m_staffCodeMap[XString("C9")] = XString("STAFF9");
        m_engine.CreateStudentDemographics();
        m_engine.CreateStudentLunchCodes();
        m_engine.CreateStudentContacts();
        m_engine.CreateStudentContactNumbers();
        m_engine.CreateStudentLockers();
        m_engine.CreateStudentTransportation();
        m_engine.CreateStudentSummaryAttendance();
        m_engine.FinishImport();
    }
};

TEST_F(StudentTables, ActiveStudentsLinesAsTheImporterReadsThem)
{
    Export(RunParameters());

    // 1002 (status X) and 1003 (inactive) are left out; 1004 has no calendar
    // of the school; 1005 is exported once although enrolled twice.
    EXPECT_EQ(SortedLines("Students.pef"),
              (std::vector<std::string>{
                  Line({"1001", "EM1001", "Ren\xE9" "e", "Ann", "O'Brien", "III", "Rennie", "12 Elm St", "Apt4",
                        "Springfield", "OH", "45501-1234", "555-1234", "F", "2010/05/06 0:00:00", "09", "Y", "101", "STAFF7",
                        "STEM", "STAFF9", "No", "English", "Dayton", "2028", "White", "REG"}),
                  Line({"1005", "", "Two", "", "Homes", "", "", "", "", "", "", "", "", "M", "", "09", "Y", "",
                        "", "", "", "No", "", "", "", "", "REG"}),
                  Line({"1007", "", "Tim", "", "Trail", "", "", "", "", "", "", "", "", "M", "", "09", "Y", "",
                        "", "", "", "No", "", "", "", "", "REG"}),
              }));
    EXPECT_EQ(SortedLines("Students2.pef"), (std::vector<std::string>{"1001\tF"}));
    EXPECT_EQ(SortedLines("StudentCon.pef"),
              (std::vector<std::string>{
                  Line({"1001", "John-Q-Smith", "", "John", "Q", "Smith", "", "Father", "", "", "", "", "", "",
                        "", "", "", "", "", "", "", "", "", "", "No", "N", "Y", "", "Yes", ""}),
                  Line({"1001", "Mary--O'Brien", "Mrs", "Mary", "", "O'Brien", "", "Mother", "12 Elm St", "Unit 2",
                        "Springfield", "OH", "45501", "555 123-4567", "555-1234", "555-9876 x12", "Y",
                        "555-0000", "mary@example.com", "Nurse", "General Hospital", "N", "English",
                        "Callsafter  5pm", "Yes", "Y", "Y", "Yes", "", "Prefers email"}),
                  // The list holds the trimmed number, as the row test reads it.
                  Line({"1007", "Tia--Trail", "", "Tia", "", "Trail", "", "", "", "", "", "", "", "", "", "", "",
                        "", "", "", "", "", "", "", "No", "", "", "", "", ""}),
              }));
    EXPECT_EQ(SortedLines("StudentCon1.pef"),
              (std::vector<std::string>{
                  Line({"1001", "John-Q-Smith", "John", "Q", "Smith", "Work phone", "phone", "555-2222"}),
                  Line({"1001", "Mary--O'Brien", "Mary", "", "O'Brien", "Cell Phone", "phone", "555-1234"}),
                  Line({"1007", "Tia--Trail", "Tia", "", "Trail", "", "phone", ""}),
              }));
    EXPECT_EQ(SortedLines("StudentLockers.pef"), (std::vector<std::string>{"1001\tL12\t10-20-30"}));
    EXPECT_EQ(SortedLines("StudentTransport.pef"),
              (std::vector<std::string>{"1001\t\t\t\t\t\t\tN\tY\tN\t2.5\t3\tB3",
                                        "1005\tP9\tS12\tBlue sedan\tABC123\tD555\tOH\tY\tN\tN\t\t7\t"}));
    EXPECT_EQ(SortedLines("StudentAttendance.pef"),
              (std::vector<std::string>{"1001\t150.5\t2\t0\t1", "1005\t149\t1\t1\t0"}));
}

TEST_F(StudentTables, StatusRulesDecideWhoIsExported)
{
    struct Case {
        const char* activeCodes;
        const char* inactiveDate;
        std::vector<std::string> students;   // first field of Students.pef
        std::vector<std::string> active;     // StdActive of those lines
    };
    const Case cases[] = {
        {"", "", {"1001", "1005", "1007"}, {"Y", "Y", "Y"}},
        // Items are trimmed and empty ones skipped, in the filter and the flag.
        {" X ,, ", "", {"1001", "1002", "1005", "1007"}, {"Y", "Y", "Y", "Y"}},
        // A cut-off date lets every status through; the flag still tells.
        {"", "2025-06-30", {"1001", "1002", "1003", "1005", "1007"}, {"Y", "N", "N", "Y", "Y"}},
        // An unreadable date counts as none.
        {"", "30/06/2025", {"1001", "1005", "1007"}, {"Y", "Y", "Y"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("codes '") + c.activeCodes + "' date '" + c.inactiveDate + "'");
        TestEngine engine;
        QTemporaryDir folder;
        ParamMap parameters = RunParameters();
        parameters["activecodes"] = c.activeCodes;
        parameters["inactivedate"] = c.inactiveDate;
        ASSERT_TRUE(StartExport(engine, folder, parameters));
        engine.CreateStudentDemographics();
        engine.CommitExport();

        std::vector<std::string> students, active;
        for (const std::string& line : Sorted(ReadLines(folder.filePath("Students.pef")))) {
            students.push_back(Field(line, 0));
            active.push_back(Field(line, 16));
        }
        EXPECT_EQ(students, c.students);
        EXPECT_EQ(active, c.active);
        EXPECT_EQ(engine.IsIncludedStudent("1003"), std::string(c.inactiveDate) == "2025-06-30");
        EXPECT_FALSE(engine.IsIncludedStudent("1006"));
    }
}

TEST_F(StudentTables, HeaderFileListsTablesWithCustomFieldsOnce)
{
    Export(RunParameters());
    const std::vector<std::string> header = Lines("MORV.PDE");
    const auto count = [&](const std::string& line) {
        return std::count(header.begin(), header.end(), line);
    };
    EXPECT_EQ(count("#customcomfield \"HomePhone\" \"Home Phone\" \"phone\""), 1);
    EXPECT_EQ(count("#customschoolfield \"GraduationYear\" \"Grad Year\" \"noformat\""), 1);
    EXPECT_EQ(count("#include \"StudentLockers.pef\""), 1);
    EXPECT_EQ(count("StdKey\tStdDaysAttended!'0.00'\tStdDaysAbsExc!'0.00'\tStdDaysAbsUnexc!'0.00'\t"
                    "StdDaysPartial!'0.00'"),
              1);
    EXPECT_EQ(count("ConStdRef\tConKey\tConFirstName\tConMiddleName\tConLastName\tConComKind\t"
                    "ConComValType\tConComValue"),
              1);
}

// Student Demographics needs the student's calendar among the school's
// calendars of the year; the other student tables only ask whether the
// student is in the included-students list, which the calendar does not
// decide. So 1004 (a calendar code the school does not have) and 1008 (no
// calendar code) are missing from Students.pef but their other rows are
// written: the importer matches them by student key.
TEST_F(StudentTables, StudentsWithoutACalendarAreLeftOutOfDemographicsOnly)
{
    m_school.Exec(R"SQL(
INSERT INTO StudentDemographic (StudentNumber, _DistBldg, _Year, Status, FirstName, LastName, CalendarCode)
  VALUES ('1008', '0301', 2026, 'A', 'No', 'Calendar', NULL);
INSERT INTO StudentEmisFD (StudentNumber, _DistBldg, _Year, StudentFreeLunchStatus) VALUES
  ('1004', '0301', 2026, 'R'), ('1008', '0301', 2026, 'P');
INSERT INTO StudentTransportation (StudentNumber, _DistBldg, _Year, BusNumber) VALUES ('1004', '0301', 2026, '12');
)SQL");
    Export(RunParameters());

    EXPECT_TRUE(m_engine.IsIncludedStudent("1004"));
    EXPECT_TRUE(m_engine.IsIncludedStudent("1008"));
    std::vector<std::string> students;
    for (const std::string& line : SortedLines("Students.pef"))
        students.push_back(Field(line, 0));
    EXPECT_EQ(students, (std::vector<std::string>{"1001", "1005", "1007"}));
    EXPECT_EQ(SortedLines("Students2.pef"), (std::vector<std::string>{"1001\tF", "1004\tR", "1008\tP"}));
    EXPECT_EQ(SortedLines("StudentTransport.pef"),
              (std::vector<std::string>{"1001\t\t\t\t\t\t\tN\tY\tN\t2.5\t3\tB3", "1004\t\t\t\t\t\t\t\t\t\t\t12\t",
                                        "1005\tP9\tS12\tBlue sedan\tABC123\tD555\tOH\tY\tN\tN\t\t7\t"}));
}

// The included-students list answers for exactly the numbers it read, blanks
// at either end aside, among thousands that share their first digits.
TEST_F(StudentTables, IncludedStudentsAreFoundByTheirWholeNumberOnly)
{
    std::string rows = "INSERT INTO StudentDemographic (StudentNumber, _DistBldg, _Year, Status) VALUES "
                       "(' 88 ', '0301', 2026, 'A')";
    for (int i = 0; i < 3000; ++i)
        rows += ", ('9" + std::to_string(i) + "', '0301', 2026, 'A')";
    m_school.Exec(rows + ";");
    Export(RunParameters());

    const struct {
        const char* number;
        bool included;
    } cases[] = {
        {"88", true},  {" 88\t", true}, {"8", false},     {"880", false},  {"90", true},   {"9", false},
        {"92999", true}, {"93000", false}, {"1007", true}, {"1003", false}, {"1006", false}, {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(m_engine.IsIncludedStudent(c.number), c.included) << "'" << c.number << "'";
    // 1001, 1004, 1005 (its row of this building) and 1007, and the new ones.
    EXPECT_EQ(m_engine.IncludedStudentCount(), 4 + 1 + 3000);
}

// Lunch rows of earlier years (1001 had R, 1005 had F last year) stay out
// when the lunch table records the year; a lunch table without a year column
// is joined on the student number alone, as it holds one row per student.
TEST(StudentLunchCodes, OnlyTheLiveYearsRowWhenTheSourceKeepsYears)
{
    struct Case {
        const char* name;
        const char* change;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"with _Year", "", {"1001\tF"}},
        {"without _Year", "ALTER TABLE StudentEmisFD DROP COLUMN _Year;", {"1001\tF", "1001\tR", "1005\tF"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EngineTestSchool school;
        school.Exec(kSchool);
        school.Exec(c.change);
        TestEngine engine;
        QTemporaryDir folder;
        ASSERT_TRUE(StartExport(engine, folder));
        engine.CreateStudentLunchCodes();
        engine.CommitExport();
        EXPECT_EQ(Sorted(ReadLines(folder.filePath("Students2.pef"))), c.lines);
    }
}

TEST(StudentTablesOptional, MissingLockerViewAndPagerColumnAreSkipped)
{
    demo::DemoOptions options;
    options.optionalTables = false;
    EngineTestSchool school(options);
    // The same school without the locker rows, which have no table here.
    const std::string rows(kSchool);
    school.Exec(rows.substr(0, rows.find("INSERT INTO StudentLocker")));
    school.Exec("ALTER TABLE StudentContacts DROP COLUMN Pager;");

    TestEngine engine;
    QTemporaryDir folder;
    ASSERT_TRUE(StartExport(engine, folder));
    engine.CreateStudentContacts();
    engine.CreateStudentLockers();
    engine.FinishImport();

    EXPECT_TRUE(engine.Logged("Student Locker view does not exist, so skipping"));
    bool lockersWritten = true;
    ReadLines(folder.filePath("StudentLockers.pef"), &lockersWritten);
    EXPECT_FALSE(lockersWritten);

    const std::vector<std::string> header = ReadLines(folder.filePath("MORV.PDE"));
    EXPECT_EQ(std::count(header.begin(), header.end(), "#include \"StudentLockers.pef\""), 0);
    EXPECT_EQ(std::count_if(header.begin(), header.end(),
                            [](const std::string& line) { return line.find("Pager") != std::string::npos; }),
              0);
    // Every line keeps the header's field count without the pager.
    for (const std::string& line : ReadLines(folder.filePath("StudentCon.pef")))
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 28) << line;
}


// The fixture tells every pair of exported columns apart, so that a swap of
// two columns' sources shows in the lines the other tests expect.
TEST_F(StudentTables, EveryPairOfColumnsDiffersSomewhere)
{
    Export(RunParameters());
    ExpectEveryPairOfColumnsToDiffer();
}

} // namespace
