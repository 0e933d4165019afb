// The student export tables: demographics, lunch codes, contacts and their
// numbers, lockers, transportation and summary attendance. Each function
// declares one table (source tables, columns in file order, conditions) and
// writes it through the export writer.
#include "engine/ExpEngine.h"

namespace {
const char* const kComField = "#customcomfield";
const char* const kSchoolField = "#customschoolfield";
} // namespace

void ExpEngine::CreateStudentDemographics()
{
    StartTable("Student Demographics", "Students.pef", 0);
    SetDistinct(true);
    ODBCTable* stu = AddTable("StudentDemographic", "STU", true);
    // The calendar has a row per school day; joined as is, every student
    // meets each day of its calendar before DISTINCT drops all but one.
    ODBCTable* cal = AddTable("SchoolCalendar", "CAL", true);
    cal->SetDistinctRows(true);

    m_fldStudentNumber = RequiredColumn(stu, "StudentNumber", &ExpEngine::TextValue, "StdKey");
    Column(stu, "EMISId", &ExpEngine::TextValue, "StdStateId");
    Column(stu, "FirstName", &ExpEngine::TextValue, "StdFirstName");
    Column(stu, "MiddleName", &ExpEngine::TextValue, "StdMiddleName");
    Column(stu, "LastName", &ExpEngine::TextValue, "StdLastName");
    Column(stu, "NameSuffix", &ExpEngine::TextValue, "StdSuffix");
    Column(stu, "CalledName", &ExpEngine::TextValue, "StdNickName");
    Column(stu, "Address", &ExpEngine::TextValue, "StdAddress1");
    Column(stu, "Address2", &ExpEngine::TextValue, "StdAddress2");
    Column(stu, "City", &ExpEngine::TextValue, "StdCity");
    Column(stu, "State", &ExpEngine::TextValue, "StdState");
    Column(stu, "Zip", &ExpEngine::ZipValue, "StdZip");
    m_fldZip4 = QueryColumn(stu, "Zip4");
    CustomColumn(stu, "StudentHomePhone", &ExpEngine::PhoneValue, "StdHomePhone",
                 {"HomePhone", "Home Phone", kComField, "phone"});
    Column(stu, "Gender", &ExpEngine::TextValue, "StdGender");
    Column(stu, "Birthdate", &ExpEngine::TextValue, "StdBirthdate");
    Column(stu, "GradeLevel", &ExpEngine::TextValue, "StdGradeLevel");
    Column(stu, "Status", &ExpEngine::ActiveFlagValue, "StdActive");
    Column(stu, "Homeroom", &ExpEngine::TextValue, "StdHRRoomRef");
    Column(stu, "HomeroomTeacherCode", &ExpEngine::StaffLookupValue, "StdHRStaffRef");
    CustomColumn(stu, "Program", &ExpEngine::TextValue, "StdProgram",
                 {"Program", "Program", kSchoolField, "noformat"});
    Column(stu, "Counselor", &ExpEngine::StaffLookupValue, "StdCounselorRef");
    Column(stu, "SpecialEducation", &ExpEngine::SpecialEducationValue, "StdIsESE");
    Column(stu, "NativeLanguage", &ExpEngine::TextValue, "StdLanguage");
    CustomColumn(stu, "BirthplaceCity", &ExpEngine::TextValue, "StdBirthplaceCity",
                 {"BirthplaceCity", "Birthplace", kComField, "noformat"});
    CustomColumn(stu, "GraduationYear", &ExpEngine::TextValue, "StdGraduationYear!'0'",
                 {"GraduationYear", "Grad Year", kSchoolField, "noformat"});
    Column(stu, "Ethnicity", &ExpEngine::EthnicityValue, "StdEthnicity");
    Column(stu, "CalendarCode", &ExpEngine::CalendarReferenceValue, "StdCalRef");
    m_fldDefaultCalendar = QueryColumn(cal, "DefaultCalendar");

    AddSchoolYearConditions(stu);
    AddSchoolYearConditions(cal);
    AddCondition(ConditionField(stu, "CalendarCode"), "=",
                 ConditionField(cal, "MasterCalendar_CalendarCode"));
    AddActiveStatusGroup(ConditionField(stu, "Status"));

    WriteAndEndTable();
}

void ExpEngine::CreateStudentLunchCodes()
{
    StartTable("Student Lunch Codes", "Students2.pef", 0);
    SetDistinct(true);
    ODBCTable* s = AddTable("StudentDemographic", "S", true);
    ODBCTable* l = AddTable("StudentEmisFD", "L", true);

    m_fldStudentNumber = RequiredColumn(s, "StudentNumber", &ExpEngine::TextValue, "StdKey");
    Column(l, "StudentFreeLunchStatus", &ExpEngine::TextValue, "StdLunchCode");

    AddSchoolYearConditions(s);
    AddCondition(ConditionField(s, "StudentNumber"), "=",
                 ConditionField(l, "StudentNumber"));
    // A source that keeps the lunch rows of earlier years would otherwise
    // give a returning student one line per year, each with that year's code.
    if (FieldExists(l->GetLogicalName(), "_Year"))
        AddCondition(ConditionField(l, "_Year"), "=", QuoteText(m_schoolYear));
    AddActiveStatusGroup(ConditionField(s, "Status"));

    WriteAndEndTable();
}

void ExpEngine::AddContactNameColumns(ODBCTable* con)
{
    m_fldFirstName = Column(con, "First_Name", &ExpEngine::TextValue, "ConFirstName");
    m_fldMiddleName = Column(con, "Middle_Name", &ExpEngine::TextValue, "ConMiddleName");
    m_fldLastName = Column(con, "Last_Name", &ExpEngine::TextValue, "ConLastName");
}

void ExpEngine::AddContactConditions(ODBCTable* con)
{
    // Selected so that a database without them fails the run by name.
    ODBCField* building = RequiredQueryColumn(con, "_DistBldg");
    ODBCField* year = RequiredQueryColumn(con, "_Year");
    ODBCField* isActive = RequiredQueryColumn(con, "Is_Active");
    ODBCField* status = RequiredQueryColumn(con, "Status");

    AddCondition(building, "=", QuoteText(m_schoolNumber));
    AddCondition(year, "=", QuoteText(m_schoolYear));
    AddCondition(isActive, "=", "'Y'");
    AddActiveStatusGroup(status);
    AddOrder(m_fldStudentNumber, false);
}

void ExpEngine::CreateStudentContacts()
{
    StartTable("Student Contacts", "StudentCon.pef", 0);
    ODBCTable* con = AddTable("StudentContacts", "CON", true);

    m_fldStudentNumber = RequiredColumn(con, "StudentNumber", &ExpEngine::TextValue, "ConStdRef");
    Column(con, "First_Name", &ExpEngine::ContactKeyValue, "ConKey");
    Column(con, "Name_Prefix", &ExpEngine::TextValue, "ConSalutation");
    AddContactNameColumns(con);
    Column(con, "Name_Suffix", &ExpEngine::TextValue, "ConSuffix");
    Column(con, "Name", &ExpEngine::TextValue, "ConRelationship");
    Column(con, "Address", &ExpEngine::TextValue, "ConAddress1");
    Column(con, "Address2", &ExpEngine::TextValue, "ConAddress2");
    Column(con, "City", &ExpEngine::TextValue, "ConCity");
    Column(con, "State", &ExpEngine::TextValue, "ConState");
    Column(con, "Zip", &ExpEngine::ZipValue, "ConZip");
    m_fldZip4 = QueryColumn(con, "Zip4");
    CustomColumn(con, "Home_Phone", &ExpEngine::PhoneValue, "ConHomePhone",
                 {"HomePhone", "Home Phone", kComField, "phone"});
    CustomColumn(con, "Cell_Phone", &ExpEngine::PhoneValue, "ConCellPhone",
                 {"CellPhone", "Cell Phone", kComField, "phone"});
    ODBCField* work = CustomColumn(con, "Work_Phone", &ExpEngine::PhoneWithExtensionValue, "ConWorkPhone",
                                   {"WorkPhone", "Work Phone", kComField, "phone"});
    ODBCField* workExt = QueryColumn(con, "Work_Phone_Ext");
    if (work)
        m_extensionOf[work] = workExt;
    CustomColumn(con, "Is_Avail_At_Work", &ExpEngine::TextValue, "ConIsAvailWork",
                 {"IsAvailWork", "Avail @ Work", kComField, "noformat"});
    ODBCField* pager = CustomColumn(con, "Pager", &ExpEngine::PhoneWithExtensionValue, "ConPager",
                                    {"Pager", "Pager", kComField, "phone"});
    ODBCField* pagerExt = QueryColumn(con, "Pager_Ext");
    if (pager)
        m_extensionOf[pager] = pagerExt;
    CustomColumn(con, "Email_Address", &ExpEngine::TextValue, "ConEmail",
                 {"Email", "Email", kComField, "email"});
    CustomColumn(con, "Occupation", &ExpEngine::TextValue, "ConOccupation",
                 {"Occupation", "Occupation", kComField, "noformat"});
    CustomColumn(con, "Place_Of_Employeement", &ExpEngine::TextValue, "ConPlaceEmployment",
                 {"PlaceEmployment", "Place Employ", kComField, "noformat"});
    CustomColumn(con, "Is_Migrant_Worker", &ExpEngine::TextValue, "ConMigrantWorker",
                 {"MigrantWorker", "Migrant Worker", kComField, "noformat"});
    Column(con, "Primary_Language", &ExpEngine::TextValue, "ConLanguage");
    CustomColumn(con, "Contact_Comments", &ExpEngine::TextNoBreaksValue, "ConComments",
                 {"Comments", "Comments", kComField, "noformat"});
    m_fldIsPrimary = QueryColumn(con, "Is_Primary");
    Column(con, "Is_Guardian", &ExpEngine::CustodyValue, "ConHasCustody");
    Column(con, "Is_Emergency_Contact", &ExpEngine::TextValue, "ConIsEmergency");
    Column(con, "Is_Living_With_Student", &ExpEngine::TextValue, "ConLivesWith");
    CustomColumn(con, "Is_Willing_To_Volunteer", &ExpEngine::YesValue, "ConWillingVolunteer",
                 {"WillingVolunteer", "Will Volunteer", kComField, "noformat"});
    CustomColumn(con, "Is_Medical", &ExpEngine::YesValue, "ConIsMedContact",
                 {"IsMedContact", "Med Contact", kComField, "noformat"});
    Column(con, "Comments", &ExpEngine::TextNoBreaksValue, "ConNote");

    AddContactConditions(con);
    WriteAndEndTable();
}

void ExpEngine::CreateStudentContactNumbers()
{
    StartTable("Student Contact Numbers", "StudentCon1.pef", 0);
    ODBCTable* con = AddTable("StudentContacts", "StuCon", true);

    m_fldStudentNumber = RequiredColumn(con, "StudentNumber", &ExpEngine::TextValue, "ConStdRef");
    Column(con, "First_Name", &ExpEngine::ContactKeyValue, "ConKey");
    AddContactNameColumns(con);
    Column(con, "PhoneNumberType", &ExpEngine::PhoneKindValue, "ConComKind");
    TextColumn("phone", "ConComValType");
    Column(con, "Number", &ExpEngine::TextValue, "ConComValue");

    AddContactConditions(con);
    WriteAndEndTable();
}

void ExpEngine::CreateStudentLockers()
{
    StartTable("Student Lockers", "StudentLockers.pef", 0);
    ODBCTable* lkr = AddTable("StudentLocker_cy", "LKR", false);
    if (!lkr)
        return SkipTable(LogLevel::Informational, "Student Locker view does not exist, so skipping",
                         "ExpEngine::CreateStudentLockers");
    m_fldStudentNumber = Column(lkr, "StudentNumber", &ExpEngine::TextValue, "StdKey");
    Column(lkr, "LockerNumber", &ExpEngine::TextValue, "StdLocker");
    Column(lkr, "CombinationSeries", &ExpEngine::TextValue, "StdCombo");

    AddCondition(ConditionField(lkr, "_DistBldg"), "=", QuoteText(m_schoolNumber));
    AddJoinedStatusBlock(lkr);
    AddCondition(ConditionField(lkr, "_Year"), "=", QuoteText(m_schoolYear));

    WriteAndEndTable();
}

void ExpEngine::CreateStudentTransportation()
{
    StartTable("Student Transportation", "StudentTransport.pef", 0);
    ODBCTable* t = AddTable("StudentTransportation", "T", true);

    m_fldStudentNumber = Column(t, "StudentNumber", &ExpEngine::TextValue, "StdKey");
    Column(t, "ParkingPermit", &ExpEngine::TextValue, "StdParkPermit");
    Column(t, "AssignedSpaces", &ExpEngine::TextValue, "StdParkSpot");
    CustomColumn(t, "VehicleDescription", &ExpEngine::TextValue, "StdVehicle",
                 {"Vehicle", "Vehicle", kSchoolField, "noformat"});
    Column(t, "LicensePlate", &ExpEngine::TextValue, "StdLicPlate");
    CustomColumn(t, "DriversLicenseNumber", &ExpEngine::TextValue, "StdDLicNumber",
                 {"DLicNumber", "Drivers License", kSchoolField, "noformat"});
    CustomColumn(t, "DriversLicenseState", &ExpEngine::TextValue, "StdDLicState",
                 {"DLicState", "License State", kSchoolField, "noformat"});
    CustomColumn(t, "StudentDriver", &ExpEngine::TextValue, "StdDriver",
                 {"Driver", "Driver", kSchoolField, "noformat"});
    CustomColumn(t, "StudentBussed", &ExpEngine::TextValue, "StdBussed",
                 {"Bussed", "Bussed", kSchoolField, "noformat"});
    CustomColumn(t, "StudentWalker", &ExpEngine::TextValue, "StdWalker",
                 {"Walker", "Walker", kSchoolField, "noformat"});
    CustomColumn(t, "DistanceToSchool", &ExpEngine::TextValue, "StdDistToSchl",
                 {"DistToSchl", "Dist To Schl", kSchoolField, "noformat"});
    Column(t, "BusNumber", &ExpEngine::TextValue, "StdBusIn");
    CustomColumn(t, "SecondBusNumber", &ExpEngine::TextValue, "StdSecBusNum",
                 {"SecBusNum", "Sec. Bus Num", kSchoolField, "noformat"});

    AddJoinedStatusConditions(t);

    WriteAndEndTable();
}

void ExpEngine::CreateStudentSummaryAttendance()
{
    StartTable("Student Summary Attendance", "StudentAttendance.pef", 0);
    ODBCTable* sum = AddTable("StudentAbsenceSummary", "SUM", true);

    m_fldStudentNumber = Column(sum, "StudentNumber", &ExpEngine::TextValue, "StdKey");
    CustomColumn(sum, "DaysAttended", &ExpEngine::TextValue, "StdDaysAttended!'0.00'",
                 {"DaysAttended", "Days Attended", kSchoolField, "noformat"});
    CustomColumn(sum, "DaysAbsentExcused", &ExpEngine::TextValue, "StdDaysAbsExc!'0.00'",
                 {"DaysAbsExc", "Days Abs Exc", kSchoolField, "noformat"});
    CustomColumn(sum, "DaysAbsentUnexcused", &ExpEngine::TextValue, "StdDaysAbsUnexc!'0.00'",
                 {"DaysAbsUnexc", "Days Abs Unexc", kSchoolField, "noformat"});
    CustomColumn(sum, "DaysPartial", &ExpEngine::TextValue, "StdDaysPartial!'0.00'",
                 {"DaysPartial", "Days Partial", kSchoolField, "noformat"});

    // This view names building and year differently from the other tables.
    AddCondition(ConditionField(sum, "Building"), "=", QuoteText(m_schoolNumber));
    AddCondition(ConditionField(sum, "Year"), "=", QuoteText(m_schoolYear));
    AddJoinedStatusBlock(sum);

    WriteAndEndTable();
}
