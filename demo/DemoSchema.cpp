// CREATE statements of the demo school database. Every table carries the
// columns the engine reads plus a few that real sites have and the engine
// ignores (entry and leave dates, ids), so a query that picks the wrong
// column shows up.
#include "demo/DemoSchema.h"

#include "demo/DemoDatabase.h"

namespace demo {

namespace {

std::string SchoolTables(const DemoOptions& options)
{
    std::string isLive = options.schoolIsLive ? ",\n  IsLive CHAR(1)" : "";
    // Sites have both names: the table Schools and a view School over it.
    return "CREATE TABLE Schools (\n"
           "  _DistBldg VARCHAR(4) NOT NULL,\n"
           "  _Year INT NOT NULL,\n"
           "  SchoolName VARCHAR(60),\n"
           "  Principal VARCHAR(60),\n"
           "  Telephone VARCHAR(20)" + isLive + ");\n"
           "CREATE VIEW School AS SELECT * FROM Schools;\n";
}

const char* const kStudentTables = R"SQL(
CREATE TABLE StudentDemographic (
  StudentNumber VARCHAR(10) NOT NULL,
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  Status VARCHAR(2),
  EMISId VARCHAR(9),
  FirstName VARCHAR(30),
  MiddleName VARCHAR(30),
  LastName VARCHAR(40),
  NameSuffix VARCHAR(5),
  CalledName VARCHAR(30),
  Address VARCHAR(60),
  Address2 VARCHAR(60),
  City VARCHAR(30),
  State CHAR(2),
  Zip VARCHAR(10),
  Zip4 VARCHAR(4),
  StudentHomePhone VARCHAR(25),
  Gender CHAR(1),
  Birthdate DATETIME,
  GradeLevel VARCHAR(2),
  Homeroom VARCHAR(10),
  HomeroomTeacherCode VARCHAR(10),
  Program VARCHAR(30),
  Counselor VARCHAR(10),
  SpecialEducation VARCHAR(3),
  NativeLanguage VARCHAR(20),
  BirthplaceCity VARCHAR(30),
  GraduationYear INT,
  Ethnicity VARCHAR(10),
  CalendarCode VARCHAR(10),
  EntryDate DATETIME,
  LeaveDate DATETIME
);
CREATE TABLE SchoolCalendar (
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  IsLive CHAR(1),
  MasterCalendar_CalendarCode VARCHAR(10),
  MasterCalendar_CalendarName VARCHAR(40),
  DefaultCalendar CHAR(1),
  Day_CalendarDate DATETIME,
  Rotation_Actual_RotationDayCode VARCHAR(4)
);
CREATE TABLE StudentEmisFD (
  StudentNumber VARCHAR(10) NOT NULL,
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  StudentFreeLunchStatus VARCHAR(2)
);
CREATE TABLE StudentContacts (
  StudentNumber VARCHAR(10) NOT NULL,
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  Status VARCHAR(2),
  ContactId INT,
  Is_Active CHAR(1),
  Name_Prefix VARCHAR(10),
  First_Name VARCHAR(30),
  Middle_Name VARCHAR(30),
  Last_Name VARCHAR(40),
  Name_Suffix VARCHAR(5),
  Name VARCHAR(30),
  Address VARCHAR(60),
  Address2 VARCHAR(60),
  City VARCHAR(30),
  State CHAR(2),
  Zip VARCHAR(10),
  Zip4 VARCHAR(4),
  Home_Phone VARCHAR(25),
  Cell_Phone VARCHAR(25),
  Work_Phone VARCHAR(25),
  Work_Phone_Ext VARCHAR(6),
  Is_Avail_At_Work CHAR(1),
  Pager VARCHAR(25),
  Pager_Ext VARCHAR(6),
  Email_Address VARCHAR(80),
  Occupation VARCHAR(40),
  Place_Of_Employeement VARCHAR(60),
  Is_Migrant_Worker CHAR(1),
  Primary_Language VARCHAR(20),
  Contact_Comments TEXT,
  Is_Primary CHAR(1),
  Is_Guardian CHAR(1),
  Is_Emergency_Contact CHAR(1),
  Is_Living_With_Student CHAR(1),
  Is_Willing_To_Volunteer BIT,
  Is_Medical BIT,
  Comments TEXT,
  PhoneNumberType VARCHAR(20),
  Number VARCHAR(25)
);
CREATE TABLE StudentTransportation (
  StudentNumber VARCHAR(10) NOT NULL,
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  ParkingPermit VARCHAR(10),
  AssignedSpaces VARCHAR(10),
  VehicleDescription VARCHAR(60),
  LicensePlate VARCHAR(10),
  DriversLicenseNumber VARCHAR(20),
  DriversLicenseState CHAR(2),
  StudentDriver CHAR(1),
  StudentBussed CHAR(1),
  StudentWalker CHAR(1),
  DistanceToSchool NUMERIC(5,2),
  BusNumber VARCHAR(10),
  SecondBusNumber VARCHAR(10)
);
CREATE TABLE StudentAbsenceSummary (
  StudentNumber VARCHAR(10) NOT NULL,
  Building VARCHAR(4) NOT NULL,
  Year INT NOT NULL,
  DaysAttended NUMERIC(6,2),
  DaysAbsentExcused NUMERIC(6,2),
  DaysAbsentUnexcused NUMERIC(6,2),
  DaysPartial NUMERIC(6,2)
);
)SQL";

const char* const kSchedulingTables = R"SQL(
CREATE TABLE StudentSchedule (
  StudentNumber VARCHAR(10) NOT NULL,
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  Status VARCHAR(2),
  CourseCode VARCHAR(10),
  Section VARCHAR(4),
  Term VARCHAR(4),
  Period VARCHAR(4),
  CourseName VARCHAR(40),
  Days VARCHAR(7),
  StaffID VARCHAR(10),
  TeacherName VARCHAR(60),
  Location VARCHAR(20),
  StartDate DATETIME,
  StopDate DATETIME
);
CREATE TABLE ReportingTerms (
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  CourseTerm VARCHAR(4),
  CourseTermName VARCHAR(30),
  CourseSectionStartDate DATETIME,
  CourseSectionStopDate DATETIME
);
CREATE TABLE Staff (
  StaffID VARCHAR(10) NOT NULL,
  StaffCode VARCHAR(10),
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  NamePrefix VARCHAR(10),
  FirstName VARCHAR(30),
  MiddleName VARCHAR(30),
  LastName VARCHAR(40),
  Address VARCHAR(60),
  Address2 VARCHAR(60),
  City VARCHAR(30),
  State CHAR(2),
  Zip VARCHAR(10),
  Zip4 VARCHAR(4),
  Telephone VARCHAR(25),
  EMailAddress VARCHAR(80),
  Position VARCHAR(30),
  StartDate DATETIME,
  StopDate DATETIME,
  Comments TEXT
);
CREATE TABLE StudentCourseMarks (
  StudentNumber VARCHAR(10) NOT NULL,
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  Status VARCHAR(2),
  CourseCode VARCHAR(10),
  SectionNumber VARCHAR(4),
  ReportingTermCode VARCHAR(4),
  MarkAlpha VARCHAR(3),
  MarkNumeric NUMERIC(5,2)
);
)SQL";

const char* const kActivityTables = R"SQL(
CREATE TABLE CommunityService (
  StudentNumber VARCHAR(10) NOT NULL,
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  DateServed DATETIME,
  Description VARCHAR(60),
  Hours NUMERIC(5,2)
);
CREATE TABLE StudentAlert (
  StudentNumber VARCHAR(10) NOT NULL,
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  AlertName VARCHAR(40),
  IsCritical VARCHAR(5),
  StartDate DATETIME,
  Comments TEXT
);
CREATE TABLE StudentMedical (
  StudentNumber VARCHAR(10) NOT NULL,
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  prescr_DateReceived DATETIME,
  prescr_Prescription VARCHAR(60),
  prescr_DoctorName VARCHAR(60),
  prescr_Dosage VARCHAR(40),
  prescr_ExpirationDate DATETIME,
  prescr_Comments TEXT,
  prescr_IsRefrigerated VARCHAR(5),
  vision_ExamDate DATETIME,
  vision_comments TEXT,
  growth_ExamDate DATETIME,
  growth_Comments TEXT,
  immun_ImmunizationType VARCHAR(40),
  immun_ImmunizationDate DATETIME,
  immun_Comments TEXT,
  screen_Type VARCHAR(40),
  screen_Result VARCHAR(40),
  screen_ExamDate DATETIME,
  screen_ReferralDate DATETIME,
  screen_Comments TEXT
);
CREATE TABLE StudentDailyAbsence (
  StudentNumber VARCHAR(10) NOT NULL,
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  CalendarDate DATETIME,
  AbsenceTypeCode VARCHAR(2),
  IsExcused CHAR(1),
  Reason VARCHAR(40),
  DateModified DATETIME
);
CREATE TABLE StudentPeriodAbsence (
  StudentNumber VARCHAR(10) NOT NULL,
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  CalendarDate DATETIME,
  CalendarPeriodCode VARCHAR(4),
  AbsenceTypeCode VARCHAR(2),
  IsExcused CHAR(1)
);
)SQL";

// The locker view shows the live year of the locker assignments only.
const char* const kOptionalTables = R"SQL(
CREATE TABLE StudentLocker (
  StudentNumber VARCHAR(10) NOT NULL,
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  LockerNumber VARCHAR(10),
  CombinationSeries VARCHAR(12)
);
CREATE VIEW StudentLocker_cy AS
  SELECT StudentNumber, _DistBldg, _Year, LockerNumber, CombinationSeries
  FROM StudentLocker WHERE _Year = (SELECT MAX(_Year) FROM StudentLocker);
CREATE TABLE StudentFees (
  StudentNumber VARCHAR(10) NOT NULL,
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  FeeId INT,
  FeeType VARCHAR(20),
  FeeDescription VARCHAR(60),
  FeeAmount NUMERIC(19,4),
  TotalPaid NUMERIC(19,4),
  FeeDate DATETIME,
  FeeCode VARCHAR(10)
);
CREATE TABLE StudentDiscipline (
  StudentNumber VARCHAR(10) NOT NULL,
  _DistBldg VARCHAR(4) NOT NULL,
  _Year INT NOT NULL,
  IncidentNumber INT,
  IncidentName VARCHAR(40),
  IncidentDate DATETIME,
  InfrReferrer VARCHAR(60),
  InfrDescription TEXT,
  InfrReferrerStaff VARCHAR(10),
  InfrTypeDescr VARCHAR(40),
  InfrLocationDescr VARCHAR(40),
  InfrLocationSchName VARCHAR(60),
  Comments TEXT,
  Note TEXT,
  ActionName VARCHAR(40),
  ActionDate DATETIME,
  NumberOfDays NUMERIC(5,1),
  StartDate DATETIME,
  StopDate DATETIME,
  Modified CHAR(1),
  AltProgram VARCHAR(40),
  Demerits INT,
  HasServed CHAR(1),
  DiscPolicyDescr TEXT
);
)SQL";

}  // namespace

std::string DemoSchema::CatalogueViewsSql()
{
    // rowid of sqlite_master stands in for the object id. The two catalogue
    // views are system objects ('S'), never user tables or views, as in SQL
    // Server. Both the old `type` and the newer `xtype` column are there, as
    // the catalogue statements of different database types read one or the
    // other. IF NOT EXISTS lets the views be added to an existing file.
    return "CREATE VIEW IF NOT EXISTS sysobjects AS\n"
           "  SELECT m.name AS name, m.rowid AS id,\n"
           "    CASE WHEN m.name IN ('sysobjects', 'syscolumns') THEN 'S'\n"
           "      WHEN m.type = 'table' THEN 'U' ELSE 'V' END AS xtype,\n"
           "    CASE WHEN m.name IN ('sysobjects', 'syscolumns') THEN 'S'\n"
           "      WHEN m.type = 'table' THEN 'U' ELSE 'V' END AS type\n"
           "  FROM sqlite_master m\n"
           "  WHERE m.type IN ('table', 'view') AND m.name NOT LIKE 'sqlite!_%' ESCAPE '!';\n"
           "CREATE VIEW IF NOT EXISTS syscolumns AS\n"
           "  SELECT p.name AS name, m.rowid AS id, p.cid + 1 AS colid\n"
           "  FROM sqlite_master m, pragma_table_info(m.name) p\n"
           "  WHERE m.type IN ('table', 'view') AND m.name NOT LIKE 'sqlite!_%' ESCAPE '!';\n";
}

void DemoSchema::CreateIndexes(DemoDatabase& db)
{
    // The joins the engine makes (student number and year to the student
    // table) and its building-and-year filters; real sites index the same.
    db.Execute(
        "CREATE INDEX IX_StudentDemographic_Number ON StudentDemographic (StudentNumber, _Year);\n"
        "CREATE INDEX IX_StudentDemographic_School ON StudentDemographic (_DistBldg, _Year);\n"
        "CREATE INDEX IX_SchoolCalendar_School ON SchoolCalendar (_DistBldg, _Year, MasterCalendar_CalendarCode);\n"
        "CREATE INDEX IX_StudentContacts_School ON StudentContacts (_DistBldg, _Year);\n"
        "CREATE INDEX IX_StudentSchedule_School ON StudentSchedule (_DistBldg, _Year);\n"
        "CREATE INDEX IX_StudentCourseMarks_School ON StudentCourseMarks (_DistBldg, _Year);\n"
        "CREATE INDEX IX_StudentDailyAbsence_School ON StudentDailyAbsence (_DistBldg, _Year);\n"
        "CREATE INDEX IX_StudentPeriodAbsence_School ON StudentPeriodAbsence (_DistBldg, _Year);\n");
}

void DemoSchema::Create(DemoDatabase& db, const DemoOptions& options)
{
    db.Execute(SchoolTables(options));
    db.Execute(kStudentTables);
    db.Execute(kSchedulingTables);
    db.Execute(kActivityTables);
    if (options.optionalTables)
        db.Execute(kOptionalTables);
    db.Execute(CatalogueViewsSql());
}

}  // namespace demo
