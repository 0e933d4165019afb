// Export tables about the school's timetable and people: Calendar, Sections,
// Terms, Teachers, Staff, Student Schedules and Student Grades. Each function
// declares one table (source table, columns in file order, conditions) and
// writes it through the export writer. Staff also fills the staff-code map
// that Student Demographics reads later in the run.
#include "engine/ExpEngine.h"

namespace {
const char* const kComField = "#customcomfield";
const char* const kGradeField = "#customgradefield";

// True when the text reads as a whole number other than zero: leading blanks,
// an optional sign, then digits up to the first other byte ("3rd" reads 3).
// Digits are only looked at, never converted, so a long digit run cannot
// overflow.
bool ReadsAsNonZeroNumber(const char* text)
{
    while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n' || *text == '\f'
           || *text == '\v')
        ++text;
    if (*text == '+' || *text == '-')
        ++text;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (*text != '0')
            return true;
    }
    return false;
}
} // namespace

// ---------------------------------------------------------------------------
// Value functions

XString ExpEngine::SectionKeyValue()
{
    const XString course = m_fldCourseCode ? GetText(m_fldCourseCode) : XString();
    return course + "-" + TextValue();
}

XString ExpEngine::StaffNameValue()
{
    // Placeholder accounts carry numbers where names belong ("0", "000",
    // "12"); those are no names.
    const XString name = TextValue();
    if (name.IsEmpty() || name.ConsistsOf("0") || ReadsAsNonZeroNumber(name.c_str()))
        return XString();
    return name;
}

XString ExpEngine::StaffKeyValue()
{
    const XString key = TextValue();
    if (m_fldStaffCode)
        m_staffCodeMap.emplace(GetText(m_fldStaffCode), key);
    return key;
}

// ---------------------------------------------------------------------------
// Tables

void ExpEngine::CreateCalendar()
{
    StartTable("Calendar", "Calendar.pef", 0);
    SetDistinct(true);
    ODBCTable* c = AddTable("SchoolCalendar", "C", true);

    Column(c, "MasterCalendar_CalendarCode", &ExpEngine::CalendarReferenceValue, "CalKey");
    m_fldDefaultCalendar = QueryColumn(c, "DefaultCalendar");
    Column(c, "MasterCalendar_CalendarName", &ExpEngine::TextValue, "CalName");
    Column(c, "Day_CalendarDate", &ExpEngine::TextValue, "CalDate");
    Column(c, "Rotation_Actual_RotationDayCode", &ExpEngine::TextValue, "CalDateDayRef");

    AddSchoolYearConditions(c);
    AddCondition(ConditionField(c, "IsLive"), "=", "'Y'");

    WriteAndEndTable(false);
}

void ExpEngine::CreateSections()
{
    StartTable("Sections", "Sections.pef", 0);
    SetDistinct(true);
    ODBCTable* sec = AddTable("StudentSchedule", "SEC", true);

    Column(sec, "Section", &ExpEngine::SectionKeyValue, "SecKey");
    m_fldCourseCode = Column(sec, "CourseCode", &ExpEngine::TextValue, "SecCrsRef");
    Column(sec, "Term", &ExpEngine::TextValue, "SecTermRef");
    Column(sec, "Period", &ExpEngine::TextValue, "SecPerRef");
    Column(sec, "CourseName", &ExpEngine::TextValue, "SecName");
    Column(sec, "Days", &ExpEngine::TextValue, "SecDayGroup");
    Column(sec, "StaffID", &ExpEngine::TextValue, "SecStaffRef");
    Column(sec, "Location", &ExpEngine::TextValue, "SecRoomNum");

    AddSchoolYearConditions(sec);

    WriteAndEndTable(false);
}

void ExpEngine::CreateTerms()
{
    StartTable("Terms", "Terms.pef", 0);
    SetDistinct(true);
    ODBCTable* rp = AddTable("ReportingTerms", "RP", true);

    Column(rp, "CourseTerm", &ExpEngine::TextValue, "TermKey");
    Column(rp, "CourseTermName", &ExpEngine::TextValue, "TermName");
    Column(rp, "CourseSectionStartDate", &ExpEngine::DateValue, "TermStartDate");
    Column(rp, "CourseSectionStopDate", &ExpEngine::DateValue, "TermEndDate");

    AddSchoolYearConditions(rp);
    AddCondition(ConditionField(rp, "CourseSectionStartDate"), "<>", "''");

    WriteAndEndTable(false);
}

void ExpEngine::CreateTeachers()
{
    StartTable("Teachers", "Teachers.pef", 0);
    SetDistinct(true);
    ODBCTable* tch = AddTable("StudentSchedule", "TCH", true);

    RequiredColumn(tch, "StaffID", &ExpEngine::TextValue, "StaffKey");
    Column(tch, "TeacherName", &ExpEngine::TextValue, "StaffFullName");

    AddSchoolYearConditions(tch);

    WriteAndEndTable(false);
}

void ExpEngine::CreateStaff()
{
    StartTable("Staff", "Staff.pef", 0);
    ODBCTable* stf = AddTable("Staff", "STF", true);

    RequiredColumn(stf, "StaffID", &ExpEngine::StaffKeyValue, "StaffKey");
    m_fldStaffCode = RequiredQueryColumn(stf, "StaffCode");
    Column(stf, "NamePrefix", &ExpEngine::StaffNameValue, "StaffSalutation");
    Column(stf, "FirstName", &ExpEngine::StaffNameValue, "StaffFirstName");
    Column(stf, "MiddleName", &ExpEngine::StaffNameValue, "StaffMidName");
    Column(stf, "LastName", &ExpEngine::StaffNameValue, "StaffLastName");
    Column(stf, "Address", &ExpEngine::TextValue, "StaffAddress1");
    Column(stf, "Address2", &ExpEngine::TextValue, "StaffAddress2");
    Column(stf, "City", &ExpEngine::TextValue, "StaffCity");
    Column(stf, "State", &ExpEngine::TextValue, "StaffState");
    Column(stf, "Zip", &ExpEngine::ZipValue, "StaffZip");
    m_fldZip4 = QueryColumn(stf, "Zip4");
    CustomColumn(stf, "Telephone", &ExpEngine::PhoneValue, "StaffPhone",
                 {"Phone", "Phone", kComField, "phone"});
    CustomColumn(stf, "EMailAddress", &ExpEngine::TextValue, "StaffEmail",
                 {"Email", "Email", kComField, "email"});
    Column(stf, "StartDate", &ExpEngine::TextValue, "StaffEnterDate");
    Column(stf, "StopDate", &ExpEngine::TextValue, "StaffLeaveDate");
    CustomColumn(stf, "Comments", &ExpEngine::TextNoBreaksValue, "StaffComments",
                 {"Comments", "Comments", kComField, "noformat"});

    AddCondition(ConditionField(stf, "_DistBldg"), "=", QuoteText(m_schoolNumber));
    // Without an inactive cut-off only staff who have not left yet.
    if (m_inactiveCutoff.IsNull()) {
        ODBCField* stopDate = ConditionField(stf, "StopDate");
        AddConditionGroup(ODBCConditionGroup::Join::AnyOf)
            .Add(stopDate, ">=", SQLDate(XDate::Today()))
            .Add(stopDate, "IS", "NULL")
            .Add(stopDate, "=", "''");
    }
    AddCondition(ConditionField(stf, "_Year"), "=", QuoteText(m_schoolYear));

    WriteAndEndTable(false);
}

void ExpEngine::CreateStudentSchedules()
{
    StartTable("Student Schedules", "StudentSched.pef", 0);
    ODBCTable* sche = AddTable("StudentSchedule", "SCHE", true);

    m_fldStudentNumber = RequiredColumn(sche, "StudentNumber", &ExpEngine::TextValue, "StdKey");
    m_fldCourseCode = Column(sche, "CourseCode", &ExpEngine::TextValue, "StdCrsRef");
    Column(sche, "Section", &ExpEngine::SectionKeyValue, "StdSecRef");
    Column(sche, "StartDate", &ExpEngine::TextValue, "StdSecStartDate");
    Column(sche, "StopDate", &ExpEngine::TextValue, "StdSecEndDate");

    AddOwnStatusBlock(sche);

    WriteAndEndTable();
}

void ExpEngine::CreateStudentGrades()
{
    StartTable("Student Grades", "StudentGrades.pef", 0);
    ODBCTable* grd = AddTable("StudentCourseMarks", "GRD", true);

    m_fldStudentNumber = RequiredColumn(grd, "StudentNumber", &ExpEngine::TextValue, "GrdStdRef");
    m_fldCourseCode = RequiredColumn(grd, "CourseCode", &ExpEngine::TextValue, "GrdCrsRef");
    RequiredColumn(grd, "SectionNumber", &ExpEngine::SectionKeyValue, "GrdSecRef");
    Column(grd, "ReportingTermCode", &ExpEngine::TextValue, "GrdBinRef");
    CustomColumn(grd, "MarkAlpha", &ExpEngine::TextValue, "GrdAlpha",
                 {"Alpha", "Mark", kGradeField, "letter"});
    CustomColumn(grd, "MarkNumeric", &ExpEngine::TextValue, "GrdNumeric",
                 {"Numeric", "%", kGradeField, "numeric"});

    // Rows without any mark are not exported.
    AddSchoolYearConditions(grd);
    AddConditionGroup(ODBCConditionGroup::Join::AnyOf)
        .Add(ConditionField(grd, "MarkAlpha"), "IS NOT", "NULL")
        .Add(ConditionField(grd, "MarkNumeric"), "IS NOT", "NULL");
    AddActiveStatusGroup(ConditionField(grd, "Status"));

    WriteAndEndTable();
}
