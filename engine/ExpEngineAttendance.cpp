// The attendance update export: daily and period absences flow from the
// source into the attendance cache, and the cached rows whose code, excused
// flag or reason changed go out in one update file.
#include "engine/ExpEngine.h"

#include "util/DelimitedTextWriter.h"

namespace {
// The whole date range: the cache windows start at the last update instead.
const XDate kFirstDay(0);
const XDate kLastDay(876581);
} // namespace

XString ExpEngine::DayFrameValue()
{
    return "DAY";
}

void ExpEngine::RunUpdateExport()
{
    DelimitedTextWriter updateFile('\t');
    StartUpdate(&updateFile);
    CreateStudentDailyAttendance(kFirstDay, kLastDay);
    CreateStudentPeriodAttendance(kFirstDay, kLastDay);
    CreateStudentAttendanceFromDB();
    // Closes the update file; it takes its name with the run's other files,
    // in one step with the marks of the rows it carries (CommitExport).
    FinishUpdate();
}

void ExpEngine::CreateStudentDailyAttendance(const XDate& from, const XDate& to)
{
    // Read again over the overlap, by the absence's own date as well as by
    // its change date, so that a daily absence deleted in the source goes
    // out as a blank code as a period absence does.
    Attendance().Start(AttendanceCache::DailyTable, true, true);
    ODBCTable* att = AddTable("StudentDailyAbsence", "ATT", true);
    m_fldStudentNumber = RequiredColumn(att, "StudentNumber", &ExpEngine::TextValue, "AttStdRef");
    RequiredColumn(att, "CalendarDate", &ExpEngine::DateValue, "AttDate");
    RequiredColumn(att, "StudentNumber", &ExpEngine::DayFrameValue, "AttTimeFrameRef");
    RequiredColumn(att, "AbsenceTypeCode", &ExpEngine::TextValue, "AttAttCodeRef");
    RequiredColumn(att, "IsExcused", &ExpEngine::TextValue, "AttExcused");
    RequiredColumn(att, "Reason", &ExpEngine::TextValue, "AttAttReasonRef");
    SetChangeDateField(RequiredQueryColumn(att, "DateModified"));
    SetAttendanceDateField(ConditionField(att, "CalendarDate"));
    QueryColumn(att, "_DistBldg");
    AddJoinedStatusConditions(att);

    Attendance().Write(from, to, BindFilter(&ODBCExpEngineBase::IncludedStudentRowTest));
    EndTable();
}

void ExpEngine::CreateStudentPeriodAttendance(const XDate& from, const XDate& to)
{
    Attendance().Start(AttendanceCache::PeriodTable, true, false);
    ODBCTable* att = AddTable("StudentPeriodAbsence", "ATT", true);
    m_fldStudentNumber = RequiredColumn(att, "StudentNumber", &ExpEngine::TextValue, "AttStdRef");
    RequiredColumn(att, "CalendarDate", &ExpEngine::DateValue, "AttDate");
    // The period itself, not a day frame: every period of a day is a record
    // of its own, or all but one of them would be lost in the cache.
    RequiredColumn(att, "CalendarPeriodCode", &ExpEngine::TextValue, "AttPerRef");
    RequiredColumn(att, "AbsenceTypeCode", &ExpEngine::TextValue, "AttAttCodeRef");
    RequiredColumn(att, "IsExcused", &ExpEngine::TextValue, "AttExcused");
    SetChangeDateField(RequiredQueryColumn(att, "CalendarDate"));
    // Older sites name the building column _DistBldg1.
    const char* building = FieldExists("StudentPeriodAbsence", "_DistBldg") ? "_DistBldg" : "_DistBldg1";
    QueryColumn(att, building);
    AddCondition(ConditionField(att, building), "=", QuoteText(m_schoolNumber));
    AddCondition(ConditionField(att, "_Year"), "=", QuoteText(m_schoolYear));
    AddJoinedStatusBlock(att);

    Attendance().Write(from, to, BindFilter(&ODBCExpEngineBase::IncludedStudentRowTest));
    EndTable();
}
