// The attendance-code, fee, conduct, community-service, notes and medical
// tables against a hand-made school: exact lines for a few rows, the built-in
// look-up tables (a school's own AttCodes.pef kept), the alert key numbering
// in a fixed order, the medical line rules, the inactive cut-off and missing
// optional tables.
#include "tests/engine/EngineTestSchool.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <map>
#include <set>

namespace {

// School 0301, live year 2026: 1001 and 1002 active, 1003 withdrawn. Rows of
// 1003 and of the year 2025 must never show.
const char* const kSchool = R"SQL(
INSERT INTO Schools (_DistBldg, _Year, SchoolName, IsLive) VALUES
  ('0301', 2025, 'Central High', 'N'), ('0301', 2026, 'Central High', 'Y');
INSERT INTO StudentDemographic (StudentNumber, _DistBldg, _Year, Status, FirstName, LastName, CalendarCode) VALUES
  ('1001', '0301', 2026, 'A', 'Ann', 'Able', 'REG'), ('1002', '0301', 2026, 'N', 'Ben', 'Baker', 'REG'),
  ('1003', '0301', 2026, 'W', 'Cy', 'Gone', 'REG'), ('1001', '0301', 2025, 'A', 'Ann', 'Able', 'REG');
INSERT INTO StudentFees (StudentNumber, _DistBldg, _Year, FeeId, FeeType, FeeDescription, FeeAmount, TotalPaid,
  FeeDate, FeeCode) VALUES
  ('1001', '0301', 2026, 7, 'General Fee', 'Instructional fee', 45, 20, '2025-09-02 00:00:00.000', 'GEN'),
  ('1001', '0301', 2026, 8, 'Membership', 'Drama Club', 0, 5, '2025-10-01 00:00:00.000', 'CLUB'),
  ('1002', '0301', 2026, 9, 'Field Trip', 'Zoo trip', 12.5, 0, '2025-11-03 00:00:00.000', 'TRIP'),
  ('1002', '0301', 2026, 10, 'Course Fee', 'Lab fee', 15, 15, '2025-09-10 00:00:00.000', 'LAB'),
  ('1003', '0301', 2026, 11, 'General Fee', 'Instructional fee', 45, 45, '2025-09-02 00:00:00.000', 'GEN'),
  ('1001', '0301', 2025, 12, 'General Fee', 'Old fee', 40, 40, '2024-09-02 00:00:00.000', 'GEN');
INSERT INTO StudentDiscipline (StudentNumber, _DistBldg, _Year, IncidentNumber, IncidentName, IncidentDate,
  InfrReferrer, InfrDescription, InfrReferrerStaff, InfrTypeDescr, InfrLocationDescr, InfrLocationSchName,
  Comments, Note, ActionName, ActionDate, NumberOfDays, StartDate, StopDate, Modified, AltProgram, Demerits,
  HasServed, DiscPolicyDescr) VALUES
  ('1001', '0301', 2026, 12, 'Fighting', '2025-10-06 10:15:00.000', 'Mr. Lee',
   'Pushed' || char(13) || char(10) || 'another student', 'T100', 'Violence', 'Gym', '', 'Parent called',
   'Follow up' || char(10) || 'done', '', NULL, 0, '2025-10-07 00:00:00.000', '2025-10-07 00:00:00.000', 'N', '',
   2, 'Y', 'Policy 7.2'),
  ('1002', '0301', 2026, 13, 'Tardy', '2025-11-03 08:05:00.000', 'Ms. Ray', 'Late', 'T200', 'Attendance',
   'Room 5', 'Central High', NULL, 'Warned', 'Detention', '2025-11-04 00:00:00.000', 1.5,
   '2025-11-04 00:00:00.000', '2025-11-05 00:00:00.000', 'Y', 'Saturday School', 0, 'N', NULL),
  ('1003', '0301', 2026, 14, 'Vandalism', '2025-09-20 00:00:00.000', NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   'Gone', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
INSERT INTO CommunityService (StudentNumber, _DistBldg, _Year, DateServed, Description, Hours) VALUES
  ('1001', '0301', 2026, '2025-09-12 00:00:00.000', 'Food bank', 2.5),
  ('1003', '0301', 2026, '2025-09-13 00:00:00.000', 'Park clean-up', 4);
INSERT INTO StudentAlert (StudentNumber, _DistBldg, _Year, AlertName, IsCritical, StartDate, Comments) VALUES
  ('1002', '0301', 2026, 'Fight', 'No', '2025-10-01 00:00:00.000', 'Second' || char(9) || 'fight'),
  ('1001', '0301', 2026, 'Fight', 'True', '2025-11-01 00:00:00.000', NULL),
  ('1003', '0301', 2026, 'Fight', 'Y', '2025-09-01 00:00:00.000', NULL),
  ('1001', '0301', 2026, 'Fight', ' yes', '2025-09-01 00:00:00.000', 'Hallway'),
  ('1002', '0301', 2026, 'Diabetes', NULL, '2025-09-15 00:00:00.000', ''),
  ('1001', '0301', 2026, 'Asthma', 't', '2025-09-01 00:00:00.000', 'Inhaler' || char(13) || char(10) || 'in office');
)SQL";

// Medical records: a full one with line breaks and TABs, an empty one, and
// two prescriptions whose flags read "True" and "false".
const char* const kMedical = R"SQL(
INSERT INTO StudentMedical (StudentNumber, _DistBldg, _Year, prescr_DateReceived, prescr_Prescription,
  prescr_DoctorName, prescr_Dosage, prescr_ExpirationDate, prescr_Comments, prescr_IsRefrigerated,
  vision_ExamDate, vision_comments, growth_ExamDate, growth_Comments, immun_ImmunizationType,
  immun_ImmunizationDate, immun_Comments, screen_Type, screen_Result, screen_ExamDate, screen_ReferralDate,
  screen_Comments) VALUES
  ('1001', '0301', 2026, '2025-09-02 00:00:00.000', 'EpiPen', 'Dr Who', NULL, NULL, NULL, 'Y',
   '2025-09-15 00:00:00.000', 'Glasses' || char(13) || char(10) || 'recommended', NULL, NULL, 'MMR',
   '2025-08-30 00:00:00.000', 'Dose' || char(9) || '2', 'Hearing', 'Refer', '2025-10-01 00:00:00.000',
   '2025-10-08 00:00:00.000', 'See' || char(10) || 'specialist'),
  ('1002', '0301', 2026, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, NULL, NULL, NULL, NULL),
  ('1002', '0301', 2026, NULL, 'Albuterol' || char(13) || char(10) || 'inhaler', '', ' 2 puffs ',
   '2026-05-01 00:00:00.000', 'Keep' || char(9) || 'cold', 'True', NULL, '', NULL, '', '', NULL, '', '', '',
   NULL, NULL, ''),
  ('1002', '0301', 2026, NULL, 'Insulin', NULL, NULL, NULL, NULL, 'false', NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, NULL, NULL, NULL, NULL, NULL),
  ('1003', '0301', 2026, NULL, 'Gone', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, NULL, NULL, NULL, NULL);
)SQL";

// Every table of this group, in run order.
void CreateActivityTables(TestEngine& engine)
{
    engine.CreateAttendanceCodes();
    engine.CreateDays();
    engine.CreateFeeAccounts();
    engine.CreateStudentSchoolFees();
    engine.CreateStudentSchoolPayments();
    engine.CreateStudentConductIncident();
    engine.CreateStudentConductOutcomes();
    engine.CreateStudentCommunityService();
    engine.CreateStudentMedicalHistory();
    engine.CreateStudentNotes();
    engine.FinishImport();
}

class ActivityTables : public SchoolTableTest
{
protected:
    ActivityTables()
        : SchoolTableTest({kSchool, kMedical})
    {
    }
};

TEST_F(ActivityTables, LinesAsTheImporterReadsThem)
{
    ASSERT_TRUE(StartExport(m_engine, m_folder));
    CreateActivityTables(m_engine);
    struct Case {
        const char* file;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"Days.pef", {"M\tMonday\t1", "T\tTuesday\t2", "W\tWednesday\t3", "R\tThursday\t4", "F\tFriday\t5"}},
        {"FeeAccounts.pef", {"school_acc\tSchl\tSchool Fees"}},
        // A fee of 0 is no fee; a payment of 0 is no payment.
        {"StudentFees.pef",
         {Line({"1001", "7-F", "school_acc", "enrollment", "Instructional fee", "$45.00", "2025/09/02 0:00:00"}),
          Line({"1002", "9-F", "school_acc", "", "Zoo trip", "$12.50", "2025/11/03 0:00:00"}),
          Line({"1002", "10-F", "school_acc", "class", "Lab fee", "$15.00", "2025/09/10 0:00:00"})}},
        {"StuFeesPay.pef",
         {Line({"1001", "7-P", "school_acc", "enrollment", "Instructional fee", "$20.00", "2025/09/02 0:00:00", "GEN"}),
          Line({"1001", "8-P", "school_acc", "activity", "Drama Club", "$5.00", "2025/10/01 0:00:00", "CLUB"}),
          Line({"1002", "10-P", "school_acc", "class", "Lab fee", "$15.00", "2025/09/10 0:00:00", "LAB"})}},
        // Without a school name the room is one blank and the location.
        {"ConductIncident.pef",
         {Line({"1001", "12", "Fighting", "2025/10/06 10:15:00", "Mr. Lee", "Pushed  another student", "T100",
                "Violence", " Gym", "Parent called"}),
          Line({"1002", "13", "Tardy", "2025/11/03 8:05:00", "Ms. Ray", "Late", "T200", "Attendance",
                "Central High Room 5", ""})}},
        {"ConductOutcome.pef",
         {Line({"1001", "12", "12-A", "Follow up done", "No Outcome assigned", "", "0", "2025/10/07 0:00:00",
                "2025/10/07 0:00:00", "N", "", "2", "Y", "Policy 7.2"}),
          Line({"1002", "13", "13-A", "Warned", "Detention", "2025/11/04 0:00:00", "1.5", "2025/11/04 0:00:00",
                "2025/11/05 0:00:00", "Y", "Saturday School", "0", "N", ""})}},
        {"StudentCndIncident.pef",
         {Line({"1001-Food bank-2025/09/12 0:00:00", "1001", "2025/09/12 0:00:00", "Community Service",
                "Food bank", "2.5"})}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(SortedLines(c.file), Sorted(c.lines));
    }
    const std::vector<std::string> codes = Lines("AttCodes.pef");
    ASSERT_EQ(codes.size(), 18u);
    EXPECT_EQ(codes.front(), "A\tAbsent\t1\t0\tN");
    EXPECT_EQ(codes[7], "O\tOut of School Suspension\t1\t0\tY");
    EXPECT_EQ(codes.back(), "U\tUnauthorized Absence\t1\t0\tN");
}

// The tables that take the status from StudentDemographic: without an
// inactive cut-off only active students' rows are written; with one the rows
// of every status (1003 is withdrawn), as in Students.pef. A student the
// school does not have in the live year (1009) stays out either way.
TEST_F(ActivityTables, InactiveCutoffLetsEveryStatusThroughTheJoinedTables)
{
    m_school.Exec("INSERT INTO StudentLocker (StudentNumber, _DistBldg, _Year, LockerNumber, CombinationSeries) "
                  "VALUES ('1001', '0301', 2026, 'L1', '1-2-3'), ('1003', '0301', 2026, 'L3', '4-5-6'), "
                  "('1009', '0301', 2026, 'L9', '7-8-9');");
    struct File {
        const char* name;
        size_t studentField;
        std::set<std::string> withoutCutoff;
        std::set<std::string> withCutoff;
    };
    const File files[] = {
        {"StudentLockers.pef", 0, {"1001"}, {"1001", "1003"}},
        {"StudentFees.pef", 0, {"1001", "1002"}, {"1001", "1002", "1003"}},
        {"StuFeesPay.pef", 0, {"1001", "1002"}, {"1001", "1002", "1003"}},
        {"ConductIncident.pef", 0, {"1001", "1002"}, {"1001", "1002", "1003"}},
        {"ConductOutcome.pef", 0, {"1001", "1002"}, {"1001", "1002", "1003"}},
        {"StudentCndIncident.pef", 1, {"1001"}, {"1001", "1003"}},
        {"StudentMedHist.pef", 0, {"1001", "1002"}, {"1001", "1002", "1003"}},
        {"StudentNotes.pef", 0, {"1001", "1002"}, {"1001", "1002", "1003"}},
    };
    for (const char* inactiveDate : {"", "2025-06-30"}) {
        SCOPED_TRACE(std::string("cut-off '") + inactiveDate + "'");
        TestEngine engine;
        QTemporaryDir folder;
        ParamMap parameters = RunParameters();
        parameters["inactivedate"] = inactiveDate;
        ASSERT_TRUE(StartExport(engine, folder, parameters));
        engine.CreateStudentLockers();
        CreateActivityTables(engine);
        for (const File& file : files) {
            SCOPED_TRACE(file.name);
            std::set<std::string> students;
            for (const std::string& line : ReadLines(folder.filePath(file.name)))
                students.insert(Field(line, file.studentField));
            EXPECT_EQ(students, *inactiveDate ? file.withCutoff : file.withoutCutoff);
        }
    }
}

// Keys are numbered in reading order, so the order is fixed: student, start
// date, alert name. Any flag starting with Y or T marks a critical alert.
TEST_F(ActivityTables, AlertKeysFollowAStableOrder)
{
    ASSERT_TRUE(StartExport(m_engine, m_folder));
    m_engine.CreateStudentNotes();
    EXPECT_EQ(Lines("StudentNotes.pef"),
              (std::vector<std::string>{
                  Line({"1001", "Asthma_1", "Alert", "2025/09/01 0:00:00", "Asthma", "Inhaler  in office"}),
                  Line({"1001", "Fight_2", "Alert", "2025/09/01 0:00:00", "Fight", "Hallway"}),
                  Line({"1001", "Fight_3", "Alert", "2025/11/01 0:00:00", "Fight", ""}),
                  Line({"1002", "Diabetes_4", "", "2025/09/15 0:00:00", "Diabetes", ""}),
                  Line({"1002", "Fight_5", "", "2025/10/01 0:00:00", "Fight", "Secondfight"}),
              }));
}

TEST_F(ActivityTables, MedicalHistoryWritesSixSafeLinesPerRecord)
{
    ASSERT_TRUE(StartExport(m_engine, m_folder));
    m_engine.CreateStudentMedicalHistory();
    m_engine.FinishImport();
    const std::vector<std::string> lines = Lines("StudentMedHist.pef");
    // The five lines after the prescription of a record without those values.
    const std::vector<std::string> empty = {
        Line({"1002", "V-", "", "Vision Exam", "exam", ""}), Line({"1002", "G-", "", "Growth Exam", "exam", ""}),
        Line({"1002", "I-", "", "", "immun", ""}),           Line({"1002", "S-", "", "", "exam", ""}),
        Line({"1002", "SR-", "", " Referral", "exam", "Result: ; "})};
    std::vector<std::string> expected = {
        // Line breaks and TABs of the source never reach the file.
        Line({"1001", "P-EpiPen-2025/09/02 0:00:00", "2025/09/02 0:00:00", "EpiPen", "treat",
              "Doctor: Dr Who; **MUST BE REFRIGERATED**; "}),
        Line({"1001", "V-2025/09/15 0:00:00", "2025/09/15 0:00:00", "Vision Exam", "exam", "Glasses  recommended"}),
        Line({"1001", "G-", "", "Growth Exam", "exam", ""}),
        Line({"1001", "I-2025/08/30 0:00:00", "2025/08/30 0:00:00", "MMR", "immun", "Dose2"}),
        Line({"1001", "S-2025/10/01 0:00:00", "2025/10/01 0:00:00", "Hearing", "exam", "See specialist"}),
        Line({"1001", "SR-2025/10/08 0:00:00", "2025/10/08 0:00:00", "Hearing Referral", "exam",
              "Result: Refer; See specialist"}),
        // An empty record still gives its six lines.
        Line({"1002", "P--", "", "", "treat", ""}),
        // "True" counts as refrigerated, "false" does not.
        Line({"1002", "P-Albuterol  inhaler-", "", "Albuterol  inhaler", "treat",
              "Keepcold; Dosage: 2 puffs; **MUST BE REFRIGERATED**; Expires on: 2026/05/01 0:00:00; "}),
        Line({"1002", "P-Insulin-", "", "Insulin", "treat", ""}),
    };
    for (int record = 0; record < 3; ++record)
        expected.insert(expected.end(), empty.begin(), empty.end());
    EXPECT_EQ(Sorted(lines), Sorted(expected));
    // Each record's lines stay together, in their fixed order.
    const char* const categories[] = {"treat", "exam", "exam", "immun", "exam", "exam"};
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), '\t'), 5);
        EXPECT_NE(lines[i].find(std::string("\t") + categories[i % 6] + "\t"), std::string::npos);
        EXPECT_EQ(lines[i].substr(0, 4), lines[i - i % 6].substr(0, 4));
    }
    const std::vector<std::string> header = Lines("MORV.PDE");
    EXPECT_EQ(std::count(header.begin(), header.end(),
                         "MedHistStdRef\tMedHistKey\tMedHistDate\tMedHistTypeRef\tMedHistTypeCategory\tMedHistNote"),
              1);
}

TEST_F(ActivityTables, ASchoolsOwnAttendanceCodesFileIsKept)
{
    const std::string own = "A\tAbsent\t1\t0\tN\r\nX\tExcursion\t0\t0\tY\r\n";
    {
        std::ofstream(m_folder.filePath("AttCodes.pef").toStdString(), std::ios::binary) << own;
    }
    ASSERT_TRUE(StartExport(m_engine, m_folder));
    CreateActivityTables(m_engine);
    EXPECT_EQ(ReadWholeFile(m_folder.filePath("AttCodes.pef")).toStdString(), own);
    EXPECT_TRUE(m_engine.Logged("Attendance Codes File exists, so will not overwrite."));
    const std::vector<std::string> header = Lines("MORV.PDE");
    EXPECT_EQ(std::count(header.begin(), header.end(), "#include \"AttCodes.pef\""), 1);
    EXPECT_EQ(std::count(header.begin(), header.end(),
                         "AttCodeKey\tAttCodeDesc\tAttCodeAbs\tAttCodeTardy\tAttCodeExcused"),
              1);
}

// Optional source tables missing: their export tables are skipped with a
// message, the other tables are written, and the header file lists only what
// was written.
TEST(ActivityTablesMissing, OptionalTablesAreSkippedWithTheirMessages)
{
    struct Case {
        const char* name;
        bool optionalTables;
        const char* sql;
        std::vector<QString> messages;
        std::vector<const char*> skipped;
    };
    const std::vector<Case> cases = {
        {"no fee and discipline tables", false, "",
         {"StudentFees table does not exist, skipping School Fees", "StudentDiscipline table missing, skipping."},
         {"StudentFees.pef", "StuFeesPay.pef", "ConductIncident.pef", "ConductOutcome.pef"}},
        {"discipline without student numbers", true, "ALTER TABLE StudentDiscipline DROP COLUMN StudentNumber;",
         {"Student Number missing in StudentDiscipline, skipping."},
         {"ConductIncident.pef", "ConductOutcome.pef"}},
        {"no alert table", true, "DROP TABLE StudentAlert;",
         {"StudentAlert table does not exist, skipping Student Notes."},
         {"StudentNotes.pef"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        demo::DemoOptions options;
        options.optionalTables = c.optionalTables;
        EngineTestSchool school(options);
        std::string rows = kSchool;
        if (!c.optionalTables) {
            // Only the rows of tables this school has.
            rows = rows.substr(0, rows.find("INSERT INTO StudentFees")) +
                   rows.substr(rows.find("INSERT INTO CommunityService"));
        }
        school.Exec(rows);
        school.Exec(c.sql);

        TestEngine engine;
        QTemporaryDir folder;
        ASSERT_TRUE(StartExport(engine, folder));
        CreateActivityTables(engine);

        for (const QString& message : c.messages)
            EXPECT_TRUE(engine.Logged(message)) << message.toStdString();
        const std::vector<std::string> header = ReadLines(folder.filePath("MORV.PDE"));
        for (const char* file : c.skipped) {
            EXPECT_FALSE(QFile::exists(folder.filePath(file))) << file;
            EXPECT_EQ(std::count(header.begin(), header.end(), std::string("#include \"") + file + "\""), 0) << file;
        }
        for (const char* file : {"AttCodes.pef", "StudentCndIncident.pef", "StudentMedHist.pef"})
            EXPECT_EQ(std::count(header.begin(), header.end(), std::string("#include \"") + file + "\""), 1) << file;
    }
}


// The fixture tells every pair of exported columns apart, so that a swap of
// two columns' sources shows in the lines the other tests expect.
TEST_F(ActivityTables, EveryPairOfColumnsDiffersSomewhere)
{
    ASSERT_TRUE(StartExport(m_engine, m_folder));
    CreateActivityTables(m_engine);
    ExpectEveryPairOfColumnsToDiffer();
}

}  // namespace
