// The demo school database: same seed same file, the schema variants, the
// catalogue views, every column the extraction reads, the data shapes real
// sites have, and the command line.
#include "demo/DemoDatabase.h"
#include "demo/DemoGenerator.h"
#include "demo/DemoSchema.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/WholeFile.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>

#include <set>

namespace {

using demo::DemoDatabase;
using demo::DemoGenerator;
using demo::DemoOptions;

// The WHERE condition that picks the rows of the live year of the main building.
std::string LiveSchoolFilter()
{
    return std::string("_DistBldg = '") + demo::school::kMainBuilding + "' AND _Year = " + demo::school::kLiveYear;
}

class DemoDatabaseTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return (dir_.path() + "/" + QString::fromStdString(name)).toStdString(); }

    std::string Write(const std::string& name, const DemoOptions& options)
    {
        const std::string path = Path(name);
        DemoGenerator::WriteFile(path, options);
        return path;
    }

    QTemporaryDir dir_;
};

TEST_F(DemoDatabaseTest, SameSeedGivesSameFileOtherSeedOtherData)
{
    DemoOptions options;
    options.students = 40;
    const QByteArray first = ReadWholeFile(Write("a.db", options));
    const QByteArray second = ReadWholeFile(Write("b.db", options));
    ASSERT_FALSE(first.isEmpty());
    EXPECT_TRUE(first == second) << "same seed wrote different bytes";

    options.seed += 1;
    const QByteArray other = ReadWholeFile(Write("c.db", options));
    EXPECT_FALSE(first == other) << "the seed changed nothing";
}

// Every table and column that the extraction reads, by its exact name.
TEST_F(DemoDatabaseTest, HasEveryTableAndColumnTheExtractionReads)
{
    const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
        {"Schools", {"_DistBldg", "_Year", "SchoolName", "IsLive"}},
        {"School", {"_DistBldg", "_Year", "SchoolName", "IsLive"}},
        {"StudentDemographic",
         {"StudentNumber", "_DistBldg", "_Year", "Status", "EMISId", "FirstName", "MiddleName", "LastName",
          "NameSuffix", "CalledName", "Address", "Address2", "City", "State", "Zip", "Zip4", "StudentHomePhone",
          "Gender", "Birthdate", "GradeLevel", "Homeroom", "HomeroomTeacherCode", "Program", "Counselor",
          "SpecialEducation", "NativeLanguage", "BirthplaceCity", "GraduationYear", "Ethnicity", "CalendarCode"}},
        {"SchoolCalendar",
         {"_DistBldg", "_Year", "IsLive", "MasterCalendar_CalendarCode", "MasterCalendar_CalendarName",
          "DefaultCalendar", "Day_CalendarDate", "Rotation_Actual_RotationDayCode"}},
        {"StudentEmisFD", {"StudentNumber", "StudentFreeLunchStatus"}},
        {"StudentContacts",
         {"StudentNumber", "_DistBldg", "_Year", "Status", "Is_Active", "First_Name", "Name_Prefix", "Middle_Name",
          "Last_Name", "Name_Suffix", "Name", "Address", "Address2", "City", "State", "Zip", "Zip4", "Home_Phone",
          "Cell_Phone", "Work_Phone", "Work_Phone_Ext", "Is_Avail_At_Work", "Pager", "Pager_Ext", "Email_Address",
          "Occupation", "Place_Of_Employeement", "Is_Migrant_Worker", "Primary_Language", "Contact_Comments",
          "Is_Primary", "Is_Guardian", "Is_Emergency_Contact", "Is_Living_With_Student", "Is_Willing_To_Volunteer",
          "Is_Medical", "Comments", "PhoneNumberType", "Number"}},
        {"StudentLocker_cy", {"StudentNumber", "_DistBldg", "_Year", "LockerNumber", "CombinationSeries"}},
        {"StudentTransportation",
         {"StudentNumber", "_DistBldg", "_Year", "ParkingPermit", "AssignedSpaces", "VehicleDescription",
          "LicensePlate", "DriversLicenseNumber", "DriversLicenseState", "StudentDriver", "StudentBussed",
          "StudentWalker", "DistanceToSchool", "BusNumber", "SecondBusNumber"}},
        {"StudentAbsenceSummary",
         {"StudentNumber", "Building", "Year", "DaysAttended", "DaysAbsentExcused", "DaysAbsentUnexcused",
          "DaysPartial"}},
        {"StudentSchedule",
         {"StudentNumber", "_DistBldg", "_Year", "Status", "CourseCode", "Section", "Term", "Period", "CourseName",
          "Days", "StaffID", "TeacherName", "Location", "StartDate", "StopDate"}},
        {"ReportingTerms",
         {"_DistBldg", "_Year", "CourseTerm", "CourseTermName", "CourseSectionStartDate", "CourseSectionStopDate"}},
        {"Staff",
         {"StaffID", "StaffCode", "_DistBldg", "_Year", "NamePrefix", "FirstName", "MiddleName", "LastName",
          "Address", "Address2", "City", "State", "Zip", "Zip4", "Telephone", "EMailAddress", "StartDate",
          "StopDate", "Comments"}},
        {"StudentCourseMarks",
         {"StudentNumber", "_DistBldg", "_Year", "Status", "CourseCode", "SectionNumber", "ReportingTermCode",
          "MarkAlpha", "MarkNumeric"}},
        {"StudentFees",
         {"StudentNumber", "_DistBldg", "_Year", "FeeId", "FeeType", "FeeDescription", "FeeAmount", "TotalPaid",
          "FeeDate", "FeeCode"}},
        {"StudentDiscipline",
         {"StudentNumber", "_DistBldg", "_Year", "IncidentNumber", "IncidentName", "IncidentDate", "InfrReferrer",
          "InfrDescription", "InfrReferrerStaff", "InfrTypeDescr", "InfrLocationDescr", "InfrLocationSchName",
          "Comments", "Note", "ActionName", "ActionDate", "NumberOfDays", "StartDate", "StopDate", "Modified",
          "AltProgram", "Demerits", "HasServed", "DiscPolicyDescr"}},
        {"CommunityService", {"StudentNumber", "_DistBldg", "_Year", "DateServed", "Description", "Hours"}},
        {"StudentAlert", {"StudentNumber", "_DistBldg", "_Year", "AlertName", "IsCritical", "StartDate", "Comments"}},
        {"StudentMedical",
         {"StudentNumber", "_DistBldg", "_Year", "prescr_DateReceived", "prescr_Prescription", "prescr_DoctorName",
          "prescr_Dosage", "prescr_ExpirationDate", "prescr_Comments", "prescr_IsRefrigerated", "vision_ExamDate",
          "vision_comments", "growth_ExamDate", "growth_Comments", "immun_ImmunizationType", "immun_ImmunizationDate",
          "immun_Comments", "screen_Type", "screen_Result", "screen_ExamDate", "screen_ReferralDate",
          "screen_Comments"}},
        {"StudentDailyAbsence",
         {"StudentNumber", "_DistBldg", "_Year", "CalendarDate", "AbsenceTypeCode", "IsExcused", "Reason",
          "DateModified"}},
        {"StudentPeriodAbsence",
         {"StudentNumber", "_DistBldg", "_Year", "CalendarDate", "CalendarPeriodCode", "AbsenceTypeCode",
          "IsExcused"}},
    };
    DemoOptions options;
    options.students = 60;
    DemoDatabase db(Write("full.db", options));
    for (const auto& [table, columns] : expected) {
        std::set<std::string> actual;
        for (const auto& row : db.Query("SELECT name FROM pragma_table_info('" + table + "')"))
            actual.insert(row[0]);
        EXPECT_FALSE(actual.empty()) << table << " is missing";
        for (const std::string& column : columns)
            EXPECT_TRUE(actual.count(column)) << table << "." << column << " is missing";
        EXPECT_GT(db.QueryInt("SELECT COUNT(*) FROM [" + table + "]"), 0) << table << " has no rows";
    }
}

TEST_F(DemoDatabaseTest, OptionsLeaveOutOptionalTablesAndIsLive)
{
    struct Case {
        const char* name;
        bool optionalTables;
        bool schoolIsLive;
    };
    const Case cases[] = {{"default", true, true}, {"no-optional", false, true}, {"no-islive", true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DemoOptions options;
        options.students = 5;
        options.optionalTables = c.optionalTables;
        options.schoolIsLive = c.schoolIsLive;
        DemoDatabase db(Write(std::string(c.name) + ".db", options));
        for (const char* table : {"StudentLocker_cy", "StudentFees", "StudentDiscipline"})
            EXPECT_EQ(db.QueryInt(std::string("SELECT COUNT(*) FROM sqlite_master WHERE name = '") + table + "'"),
                      c.optionalTables ? 1 : 0) << table;
        EXPECT_EQ(db.QueryInt("SELECT COUNT(*) FROM pragma_table_info('Schools') WHERE name = 'IsLive'"),
                  c.schoolIsLive ? 1 : 0);
        // Without IsLive the highest year must be the live one, so no
        // rolled-over next year may be there.
        const std::string live = c.schoolIsLive ? "SELECT MAX(_Year) FROM Schools WHERE IsLive = 'Y'"
                                                : "SELECT MAX(_Year) FROM Schools";
        EXPECT_EQ(db.QueryInt(live), std::stoll(demo::school::kLiveYear));
        EXPECT_EQ(db.QueryInt("SELECT COUNT(*) FROM School"), db.QueryInt("SELECT COUNT(*) FROM Schools"));
    }
}

// The statements the engine sends to SQL Server's catalogue run unchanged.
TEST_F(DemoDatabaseTest, CatalogueViewsAnswerTableAndFieldChecks)
{
    DemoOptions options;
    options.students = 3;
    options.optionalTables = false;
    DemoDatabase db(Write("catalogue.db", options));
    auto tableExists = [&db](const std::string& table) {
        return db.QueryInt("SELECT COUNT(*) FROM (SELECT name FROM sysobjects WHERE (xtype = 'U' OR xtype = 'V') "
                           "AND UPPER(name) = UPPER('" + table + "'))");
    };
    auto fieldExists = [&db](const std::string& table, const std::string& field) {
        return db.QueryInt("SELECT COUNT(*) FROM (SELECT syscolumns.name FROM syscolumns JOIN sysobjects ON "
                           "syscolumns.id=sysobjects.id WHERE UPPER(sysobjects.name) = UPPER('" + table +
                           "') AND UPPER(syscolumns.name) = UPPER('" + field + "'))");
    };
    struct Case {
        const char* table;
        const char* field;  // empty: table check only
        long long rows;
    };
    const Case cases[] = {
        {"StudentDemographic", "", 1},     {"studentdemographic", "", 1},    {"School", "", 1},
        {"StudentFees", "", 0},            {"StudentLocker_cy", "", 0},      {"sqlite_master", "", 0},
        {"sysobjects", "", 0},             {"Staff", "StaffCode", 1},        {"STAFF", "staffcode", 1},
        {"School", "IsLive", 1},           {"Staff", "NoSuchColumn", 0},     {"StudentFees", "FeeId", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.table) + "." + c.field);
        EXPECT_EQ(*c.field ? fieldExists(c.table, c.field) : tableExists(c.table), c.rows);
    }
    EXPECT_EQ(db.QueryInt("SELECT COUNT(*) FROM sysobjects WHERE name = 'School' AND xtype = 'V'"), 1);
    EXPECT_EQ(db.QueryInt("SELECT COUNT(*) FROM sysobjects WHERE name = 'Schools' AND xtype = 'U'"), 1);

    // The same views work on any SQLite database, e.g. one a test builds.
    DemoDatabase other(Path("other.db"));
    other.Execute("CREATE TABLE Thing (Id INT, Name VARCHAR(10));" + demo::DemoSchema::CatalogueViewsSql());
    EXPECT_EQ(other.QueryInt("SELECT COUNT(*) FROM syscolumns JOIN sysobjects ON syscolumns.id = sysobjects.id "
                             "WHERE sysobjects.name = 'Thing'"), 2);
}

// The awkward values real sites hold must all be present, or the extraction
// is never exercised on them.
TEST_F(DemoDatabaseTest, HoldsTheAwkwardValuesOfRealSites)
{
    DemoOptions options;
    options.students = 300;
    DemoDatabase db(Write("shapes.db", options));
    const std::string live = LiveSchoolFilter();
    struct Case {
        const char* what;
        std::string query;
    };
    std::vector<Case> cases = {
        {"an apostrophe in a last name", "SELECT COUNT(*) FROM StudentDemographic WHERE LastName LIKE '%''%'"},
        {"a Latin-1 e acute", "SELECT COUNT(*) FROM StudentDemographic WHERE instr(FirstName, CAST(X'E9' AS TEXT)) > 0"},
        {"a NULL middle name", "SELECT COUNT(*) FROM StudentDemographic WHERE MiddleName IS NULL"},
        {"an empty middle name", "SELECT COUNT(*) FROM StudentDemographic WHERE MiddleName = ''"},
        {"a 1900-01-01 date", "SELECT COUNT(*) FROM StudentDemographic WHERE EntryDate LIKE '1900-01-01%'"},
        {"a TAB in a comment", "SELECT COUNT(*) FROM StudentMedical WHERE instr(growth_Comments, char(9)) > 0"},
        {"a CR LF in a comment", "SELECT COUNT(*) FROM StudentContacts WHERE instr(Contact_Comments, char(13,10)) > 0"},
        {"a LF in a medical text", "SELECT COUNT(*) FROM StudentMedical WHERE instr(vision_comments, char(10)) > 0"},
        {"a nine-digit zip", "SELECT COUNT(*) FROM StudentDemographic WHERE length(Zip) = 9"},
        {"a zip with Zip4", "SELECT COUNT(*) FROM StudentDemographic WHERE length(Zip4) = 4"},
        {"a phone in parentheses", "SELECT COUNT(*) FROM StudentDemographic WHERE StudentHomePhone LIKE '(%'"},
        {"a seven-digit phone", "SELECT COUNT(*) FROM StudentDemographic WHERE length(StudentHomePhone) = 8"},
        {"a NULL phone", "SELECT COUNT(*) FROM StudentDemographic WHERE StudentHomePhone IS NULL"},
        {"a default calendar", "SELECT COUNT(*) FROM SchoolCalendar WHERE DefaultCalendar = 'Y' AND IsLive = 'Y'"},
        {"a student of no calendar", "SELECT COUNT(*) FROM StudentDemographic WHERE CalendarCode = 'NONE'"},
        {"staff who left", "SELECT COUNT(*) FROM Staff WHERE StopDate < '2026-01-01'"},
        {"staff with an empty leave date", "SELECT COUNT(*) FROM Staff WHERE StopDate = ''"},
        {"staff with a number as first name", "SELECT COUNT(*) FROM Staff WHERE FirstName IN ('0', '000', '12')"},
        {"a term without a start", "SELECT COUNT(*) FROM ReportingTerms WHERE CourseSectionStartDate = ''"},
        {"a mark-less grade row", "SELECT COUNT(*) FROM StudentCourseMarks WHERE MarkAlpha IS NULL AND MarkNumeric IS NULL"},
        {"a fee of 0 with a payment", "SELECT COUNT(*) FROM StudentFees WHERE FeeAmount = 0 AND TotalPaid <> 0"},
        {"an action without a name", "SELECT COUNT(*) FROM StudentDiscipline WHERE ActionName = ''"},
        {"an incident without a school name", "SELECT COUNT(*) FROM StudentDiscipline WHERE InfrLocationSchName = ''"},
        {"a repeated alert", "SELECT COUNT(*) FROM (SELECT 1 FROM StudentAlert GROUP BY StudentNumber, AlertName HAVING COUNT(*) > 1)"},
        {"a word-form critical flag", "SELECT COUNT(*) FROM StudentAlert WHERE IsCritical IN ('Yes', 'True')"},
        {"a refrigerated prescription", "SELECT COUNT(*) FROM StudentMedical WHERE prescr_IsRefrigerated IN ('Y', 'Yes', 'True', 'y', 't')"},
        {"an empty medical record", "SELECT COUNT(*) FROM StudentMedical WHERE vision_ExamDate IS NULL AND prescr_Prescription IS NULL AND screen_Type IS NULL"},
        {"a previous-year row", "SELECT COUNT(*) FROM StudentDemographic WHERE _Year = " + std::string(demo::school::kPreviousYear)},
    };
    for (const char* status : {"A", "N", "U", "P", "S", "W", "I", "T", "G"})
        cases.push_back({"status", "SELECT COUNT(*) FROM StudentDemographic WHERE " + live + " AND Status = '" +
                                       status + "'"});
    for (const char* status : {"W", "I", "T", "G"})
        cases.push_back({"inactive with a leave date", "SELECT COUNT(*) FROM StudentDemographic WHERE " + live +
                                                           " AND Status = '" + status + "' AND LeaveDate > '2025'"});
    for (const Case& c : cases)
        EXPECT_GT(db.QueryInt(c.query), 0) << c.what << ": " << c.query;
}

// The extraction joins student tables to StudentDemographic by student
// number for one school and year. That join must go through the student
// number, not scan the whole school for every row (20,000 x 20,000 rows).
TEST_F(DemoDatabaseTest, StudentJoinsUseTheStudentNumberIndex)
{
    DemoOptions options;
    options.students = 200;
    DemoDatabase db(Write("plan.db", options));
    for (const char* table : {"StudentTransportation", "StudentLocker_cy", "StudentFees", "StudentAlert"}) {
        SCOPED_TRACE(table);
        std::string plan;
        for (const auto& row : db.Query(std::string("EXPLAIN QUERY PLAN SELECT T.StudentNumber FROM [") + table +
                                        "] T, [StudentDemographic] S WHERE T._DistBldg = '0301' AND "
                                        "T._Year = '2026' AND S._Year = '2026' AND S._DistBldg = '0301' AND "
                                        "T.StudentNumber = S.StudentNumber AND (S.Status = 'A' OR S.Status = 'U')"))
            plan += row.back() + "\n";
        EXPECT_NE(plan.find("SEARCH S USING INDEX IX_StudentDemographic_Number"), std::string::npos) << plan;
    }
}

TEST_F(DemoDatabaseTest, FailedWriteKeepsThePreviousFile)
{
    const std::string path = Path("keep.db");
    {
        std::ofstream(path) << "previous";
    }
    DemoOptions bad;
    bad.students = 0;
    EXPECT_THROW(DemoGenerator::WriteFile(path, bad), std::runtime_error);
    EXPECT_EQ(ReadWholeFile(path), QByteArray("previous"));
    EXPECT_THROW(DemoGenerator::WriteFile(Path("no/such/folder/x.db"), DemoOptions()), std::runtime_error);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("no/such/folder/x.db.partial"))));
}

TEST_F(DemoDatabaseTest, CommandLineRejectsBadArgumentsAndWritesGoodOnes)
{
    struct Case {
        QStringList arguments;
        int exitCode;
        const char* stderrPart;
    };
    const QString out = "--out=" + QString::fromStdString(Path("cli.db"));
    const Case cases[] = {
        {{"--students=0", out}, 1, "--students needs a whole number"},
        {{"--students=12x", out}, 1, "--students needs a whole number"},
        {{"--seed=-1", out}, 1, "--seed needs a whole number"},
        {{"--out="}, 1, "--out needs a file name"},
        {{"--color=red", out}, 1, "unknown argument '--color=red'"},
        {{"--students=4", "--no-optional", "--no-islive", out}, 0, ""},
        {{"--students=4", "--out=" + QString::fromStdString(Path("missing/dir/x.db"))}, 1, "cannot write"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        std::vector<std::string> arguments;
        for (const QString& argument : c.arguments)
            arguments.push_back(argument.toStdString());
        const ChildResult result = RunChildProcess(MORV_DEMO_DB, arguments);
        ASSERT_TRUE(result.started);
        ASSERT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_NE(result.standardError.find(c.stderrPart), std::string::npos) << result.standardError;
    }
    DemoDatabase db(Path("cli.db"));
    EXPECT_EQ(db.QueryInt("SELECT COUNT(*) FROM sqlite_master WHERE name = 'StudentFees'"), 0);
}

}  // namespace
