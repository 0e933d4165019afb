// Export tables about attendance codes, fees, conduct, community service,
// medical history and notes, and the three built-in look-up tables (Attendance
// Codes, Days, Fee Accounts) that the engine writes from its own values.
//
// The value functions that only these tables use are lambdas over the
// engine's readers, written next to the one column that uses them.
#include "engine/ExpEngine.h"

#include "export/ExportCommit.h"

#include "util/DelimitedTextWriter.h"
#include "util/XException.h"

#include <initializer_list>
#include <vector>

namespace {
const char* const kCndInField = "#customcndinfield";
const char* const kCndOutField = "#customcndoutfield";

using Row = std::vector<const char*>;

// Writes `rows` as TAB-separated lines ending in CR LF into `file`, the run's
// temporary file for the table, put in place with the rest of the run.
// `file` is the temporary file of the export file `name`.
void WriteBuiltInFile(const XFileSpec& file, const char* name, const std::vector<Row>& rows)
{
    DelimitedTextWriter output('\t');
    try {
        output.Open(file);
        for (const Row& row : rows) {
            for (const char* field : row)
                output.WriteField(field);
            output.EndLine();
        }
        output.Close();
    } catch (...) {
        PDEWriter::RethrowWriteFailure(output, name);
    }
}

// A flag counts as set when its first byte, after blanks, is Y or T in either
// case ("Y", "yes", "True", "t").
bool IsYesFlag(XString text)
{
    text.Trim();
    const char first = text.GetAt(0);
    return first == 'Y' || first == 'y' || first == 'T' || first == 't';
}
} // namespace

// ---------------------------------------------------------------------------
// Built-in look-up tables

// Attendance Codes, kept as it is when the school put its own file in place.
void ExpEngine::CreateAttendanceCodes()
{
    StartTable("Attendance Codes", "AttCodes.pef", 0);
    OwnColumns({"AttCodeKey", "AttCodeDesc", "AttCodeAbs", "AttCodeTardy", "AttCodeExcused"});

    const XFileSpec file = ExportFile("AttCodes.pef");
    if (file.Exists()) {
        Log(LogLevel::Informational, "Attendance Codes File exists, so will not overwrite.", "ExpEngine::CreateAttendanceCodes");
    } else {
        WriteBuiltInFile(PendingExportFile("AttCodes.pef"), "AttCodes.pef", {
            {"A", "Absent", "1", "0", "N"},
            {"T", "Tardy", "0", "1", "Y"},
            {"H", "Half-Day", "1", "0", "N"},
            {"W", "Work", "1", "0", "Y"},
            {"J", "Alternative/Jail", "0", "0", "Y"},
            {"R", "Recruit", "0", "0", "Y"},
            {"Y", "B115", "0", "0", "Y"},
            {"O", "Out of School Suspension", "1", "0", "Y"},
            {"E", "Home Study", "0", "0", "Y"},
            {"S", "School Function", "1", "0", "Y"},
            {"B", "B115", "0", "0", "Y"},
            {"C", "Cancel", "0", "0", "Y"},
            {"D", "Delay", "0", "0", "Y"},
            {"F", "Free Absence", "1", "0", "Y"},
            {"G", "Grad", "0", "0", "Y"},
            {"I", "In School Suspension", "1", "0", "Y"},
            {"L", "Time out", "1", "0", "Y"},
            {"U", "Unauthorized Absence", "1", "0", "N"},
        });
    }
    EndTable();
}

void ExpEngine::CreateDays()
{
    StartTable("Days", "Days.pef", 0);
    OwnColumns({"DayKey", "DayName", "DayOrder"});
    WriteBuiltInFile(PendingExportFile("Days.pef"), "Days.pef", {
        {"M", "Monday", "1"},
        {"T", "Tuesday", "2"},
        {"W", "Wednesday", "3"},
        {"R", "Thursday", "4"},
        {"F", "Friday", "5"},
    });
    EndTable();
}

void ExpEngine::CreateFeeAccounts()
{
    StartTable("Fee Accounts", "FeeAccounts.pef", 0);
    OwnColumns({"FeeAccountKey", "FeeAccountCode", "FeeAccountName"});
    WriteBuiltInFile(PendingExportFile("FeeAccounts.pef"), "FeeAccounts.pef", {{"school_acc", "Schl", "School Fees"}});
    EndTable();
}

// ---------------------------------------------------------------------------
// Fees and payments. The two tables read the same rows; fees take the amount
// charged, payments the amount paid and the fee code.

namespace {
const char* const kFeesSource = "ExpEngine::CreateStudentSchoolFees";
const char* const kNoFeesTable = "StudentFees table does not exist, skipping School Fees";

XString FeeCategory(const XString& feeType)
{
    if (feeType == "General Fee")
        return "enrollment";
    if (feeType == "Course Fee")
        return "class";
    if (feeType == "Membership")
        return "activity";
    return XString();
}
} // namespace

// The columns both tables start with: student, key (the fee id with the
// table's suffix), account, category and name.
void ExpEngine::AddFeeColumns(ODBCTable* f, const char* keySuffix)
{
    m_fldStudentNumber = RequiredColumn(f, "StudentNumber", &ExpEngine::TextValue, "FeeStdRef");
    AddColumn(ColumnDeclaration("FeeId").From(f).Value([this, keySuffix] { return TextValue() + keySuffix; })
              .Header("FeeKey").Required());
    AddColumn(ColumnDeclaration("StudentNumber").From(f).Value([] { return XString("school_acc"); })
              .Header("FeeAccountRef").Required());
    AddColumn(ColumnDeclaration("FeeType").From(f).Value([this] { return FeeCategory(TextValue()); })
              .Header("FeeCategoryRef").Required());
    RequiredColumn(f, "FeeDescription", &ExpEngine::TextValue, "FeeName");
}

// Fee rows of active students of the school and year whose amount is not 0.
void ExpEngine::AddFeeConditions(ODBCTable* s, ODBCTable* f, const char* amountColumn)
{
    AddCondition(ConditionField(f, "StudentNumber"), "=", ConditionField(s, "StudentNumber"));
    AddCondition(ConditionField(f, amountColumn), "<>", "0");
    AddSchoolYearConditions(s);
    AddSchoolYearConditions(f);
    AddActiveStatusGroup(ConditionField(s, "Status"));
}

void ExpEngine::CreateStudentSchoolFees()
{
    StartTable("Student School Fees", "StudentFees.pef", 0);
    ODBCTable* s = AddTable("StudentDemographic", "S", true);
    ODBCTable* f = AddTable("StudentFees", "F", false);
    if (!f)
        return SkipTable(LogLevel::Informational, kNoFeesTable, kFeesSource);

    AddFeeColumns(f, "-F");
    RequiredColumn(f, "FeeAmount", &ExpEngine::CurrencyValue, "FeeDebit");
    RequiredColumn(f, "FeeDate", &ExpEngine::TextValue, "FeeDate");

    AddFeeConditions(s, f, "FeeAmount");

    WriteAndEndTable();
}

void ExpEngine::CreateStudentSchoolPayments()
{
    StartTable("Student School Payments", "StuFeesPay.pef", 0);
    ODBCTable* s = AddTable("StudentDemographic", "S", true);
    ODBCTable* f = AddTable("StudentFees", "F", false);
    if (!f)
        return SkipTable(LogLevel::Informational, kNoFeesTable, kFeesSource);

    AddFeeColumns(f, "-P");
    RequiredColumn(f, "TotalPaid", &ExpEngine::CurrencyValue, "FeeCredit");
    RequiredColumn(f, "FeeDate", &ExpEngine::TextValue, "FeeDate");
    RequiredColumn(f, "FeeCode", &ExpEngine::TextValue, "FeeCode");

    AddFeeConditions(s, f, "TotalPaid");

    WriteAndEndTable();
}

// ---------------------------------------------------------------------------
// Conduct and community service

namespace {
const char* const kNoDiscipline = "StudentDiscipline table missing, skipping.";
const char* const kNoDisciplineStudent = "Student Number missing in StudentDiscipline, skipping.";
} // namespace

void ExpEngine::CreateStudentConductIncident()
{
    const char* const source = "ExpEngine::CreateStudentConductIncident";
    StartTable("Student Conduct", "ConductIncident.pef", 0);
    ODBCTable* c = AddTable("StudentDiscipline", "C", false);
    if (!c)
        return SkipTable(LogLevel::Informational, kNoDiscipline, source);
    m_fldStudentNumber = Column(c, "StudentNumber", &ExpEngine::TextValue, "CndInPerpStdRef");
    if (!m_fldStudentNumber)
        return SkipTable(LogLevel::Informational, kNoDisciplineStudent, source);
    ODBCField* schoolName = nullptr;  // declared below, read by the room value
    RequiredColumn(c, "IncidentNumber", &ExpEngine::TextValue, "CndInKey");
    Column(c, "IncidentName", &ExpEngine::TextValue, "CndInTypeRef");
    Column(c, "IncidentDate", &ExpEngine::TextValue, "CndInDate");
    Column(c, "InfrReferrer", &ExpEngine::TextValue, "CndInReferrerName");
    CustomColumn(c, "InfrDescription", &ExpEngine::TextNoBreaksValue, "CndInInfrDescript",
                 {"InfrDescript", "Infr Descript", kCndInField, "noformat"});
    CustomColumn(c, "InfrReferrerStaff", &ExpEngine::TextValue, "CndInInfrReferrerStaff",
                 {"InfrReferrerStaff", "Referrer Staff", kCndInField, "noformat"});
    Column(c, "InfrTypeDescr", &ExpEngine::TextValue, "CndInTypeRef");
    // The room is the school name, one blank and the location, the blank
    // also when there is no school name.
    AddColumn(ColumnDeclaration("InfrLocationDescr").From(c)
              .Value([this, &schoolName] { return GetText(schoolName) + " " + TextValue(); })
              .Header("CndInRoomRef"));
    schoolName = QueryColumn(c, "InfrLocationSchName");
    Column(c, "Comments", &ExpEngine::TextNoBreaksValue, "CndInNote");

    AddJoinedStatusConditions(c);

    WriteAndEndTable();
}

void ExpEngine::CreateStudentConductOutcomes()
{
    const char* const source = "ExpEngine::CreateStudentConductOutcome";
    StartTable("Student Conduct Outcomes", "ConductOutcome.pef", 0);
    ODBCTable* c = AddTable("StudentDiscipline", "C", false);
    if (!c)
        return SkipTable(LogLevel::Informational, kNoDiscipline, source);
    m_fldStudentNumber = Column(c, "StudentNumber", &ExpEngine::TextValue, "CndOutTargetStdRef");
    if (!m_fldStudentNumber)
        return SkipTable(LogLevel::Informational, kNoDisciplineStudent, source);
    RequiredColumn(c, "IncidentNumber", &ExpEngine::TextValue, "CndOutInRef");
    AddColumn(ColumnDeclaration("IncidentNumber").From(c).Value([this] { return TextValue() + "-A"; })
              .Header("CndOutKey").Required());
    RequiredColumn(c, "Note", &ExpEngine::TextNoBreaksValue, "CndOutNote");
    AddColumn(ColumnDeclaration("ActionName").From(c).Value([this] {
                  const XString action = TextValue();
                  return action.IsEmpty() ? XString("No Outcome assigned") : action;
              }).Header("CndOutTypeRef"));
    Column(c, "ActionDate", &ExpEngine::TextValue, "CndOutActualStartDate");
    Column(c, "NumberOfDays", &ExpEngine::TextValue, "CndOutDuration");
    Column(c, "StartDate", &ExpEngine::TextValue, "CndOutStartDate");
    Column(c, "StopDate", &ExpEngine::TextValue, "CndOutEndDate");
    CustomColumn(c, "Modified", &ExpEngine::TextValue, "CndOutModified",
                 {"Modified", "Modified", kCndOutField, "noformat"});
    CustomColumn(c, "AltProgram", &ExpEngine::TextValue, "CndOutAltProgram",
                 {"AltProgram", "Alt Program", kCndOutField, "noformat"});
    Column(c, "Demerits", &ExpEngine::TextValue, "CndOutDemerits");
    Column(c, "HasServed", &ExpEngine::TextValue, "CndOutCompleted");
    Column(c, "DiscPolicyDescr", &ExpEngine::TextNoBreaksValue, "CndOutReasonRef");

    AddJoinedStatusConditions(c);

    WriteAndEndTable();
}

// Community service goes to the importer as conduct incidents of the type
// "Community Service".
void ExpEngine::CreateStudentCommunityService()
{
    StartTable("Student Community Service", "StudentCndIncident.pef", 0);
    ODBCTable* c = AddTable("CommunityService", "C", true);

    ODBCField* description = nullptr;  // declared below, read by the key
    ODBCField* dateServed = nullptr;
    AddColumn(ColumnDeclaration("StudentNumber").From(c).Value([this, &description, &dateServed] {
                  return TextValue() + "-" + GetText(description) + "-" + GetText(dateServed);
              }).Header("CndInKey"));
    m_fldStudentNumber = Column(c, "StudentNumber", &ExpEngine::TextValue, "CndInPerpStdRef");
    dateServed = Column(c, "DateServed", &ExpEngine::TextValue, "CndInDate");
    AddColumn(ColumnDeclaration("StudentNumber").From(c).Value([] { return XString("Community Service"); })
              .Header("CndInTypeRef"));
    description = Column(c, "Description", &ExpEngine::TextValue, "CndInNote");
    Column(c, "Hours", &ExpEngine::TextValue, "CndInHours");

    AddJoinedStatusConditions(c);

    WriteAndEndTable();
}

// ---------------------------------------------------------------------------
// Notes

void ExpEngine::CreateStudentNotes()
{
    StartTable("Student Notes", "StudentNotes.pef", 0);
    ODBCTable* n = AddTable("StudentAlert", "N", false);
    // Sites without alerts still get every other table of the run.
    if (!n)
        return SkipTable(LogLevel::Warning, "StudentAlert table does not exist, skipping Student Notes.",
                         "ExpEngine::CreateStudentNotes");
    m_fldStudentNumber = RequiredColumn(n, "StudentNumber", &ExpEngine::TextValue, "NoteStdRef");
    ODBCField* alertName = RequiredColumn(n, "AlertName", &ExpEngine::NumberedKeyValue, "NoteKey");
    AddColumn(ColumnDeclaration("IsCritical").From(n)
              .Value([this] { return IsYesFlag(TextValue()) ? XString("Alert") : XString(); })
              .Header("NoteSeverity").Required());
    ODBCField* startDate = RequiredColumn(n, "StartDate", &ExpEngine::TextValue, "NoteDate");
    RequiredColumn(n, "AlertName", &ExpEngine::TextValue, "NoteTitle");
    RequiredColumn(n, "Comments", &ExpEngine::TextNoBreaksValue, "NoteContent");

    AddJoinedStatusConditions(n);
    // The keys are numbered in reading order; a fixed order keeps them the
    // same from run to run.
    AddOrder(m_fldStudentNumber);
    AddOrder(startDate);
    AddOrder(alertName);

    WriteAndEndTable();
}

// ---------------------------------------------------------------------------
// Medical history: six lines per record (prescription, vision, growth,
// immunisation, screening, screening referral), written by the engine itself.

void ExpEngine::CreateStudentMedicalHistory()
{
    StartTable("Student Medical History", "StudentMedHist.pef", 0);
    ODBCTable* m = AddTable("StudentMedical", "M", true);

    m_fldStudentNumber = RequiredQueryColumn(m, "StudentNumber");
    // Optional: a column the site lacks reads as empty text.
    ODBCField* dateReceived = QueryColumn(m, "prescr_DateReceived");
    ODBCField* prescription = QueryColumn(m, "prescr_Prescription");
    ODBCField* doctor = QueryColumn(m, "prescr_DoctorName");
    ODBCField* dosage = QueryColumn(m, "prescr_Dosage");
    ODBCField* expiration = QueryColumn(m, "prescr_ExpirationDate");
    ODBCField* prescrComments = QueryColumn(m, "prescr_Comments");
    ODBCField* refrigerated = QueryColumn(m, "prescr_IsRefrigerated");
    ODBCField* visionDate = QueryColumn(m, "vision_ExamDate");
    ODBCField* visionComments = QueryColumn(m, "vision_comments");
    ODBCField* growthDate = QueryColumn(m, "growth_ExamDate");
    ODBCField* growthComments = QueryColumn(m, "growth_Comments");
    ODBCField* immunType = QueryColumn(m, "immun_ImmunizationType");
    ODBCField* immunDate = QueryColumn(m, "immun_ImmunizationDate");
    ODBCField* immunComments = QueryColumn(m, "immun_Comments");
    ODBCField* screenType = QueryColumn(m, "screen_Type");
    ODBCField* screenResult = QueryColumn(m, "screen_Result");
    ODBCField* screenDate = QueryColumn(m, "screen_ExamDate");
    ODBCField* referralDate = QueryColumn(m, "screen_ReferralDate");
    ODBCField* screenComments = QueryColumn(m, "screen_Comments");

    AddJoinedStatusConditions(m);

    OwnColumns({"MedHistStdRef", "MedHistKey", "MedHistDate", "MedHistTypeRef", "MedHistTypeCategory",
                "MedHistNote"});

    // Every value is read trimmed, without TABs and with CR and LF as blanks:
    // a line break kept from the source would split a record in two.
    auto value = [this](ODBCField* field) { return GetCleanText(field); };

    DelimitedTextWriter output('\t');
    auto line = [&output](const XString& student, const XString& key, const XString& date,
                          const XString& type, const char* category, const XString& note) {
        for (const XString* field : {&student, &key, &date, &type})
            output.WriteField(*field);
        output.WriteField(category);
        output.WriteField(note);
        output.EndLine();
    };

    int records = 0;
    auto readRows = [&]() {
        // A new pending file replaces the one a lost connection cut short.
        output.Open(PendingExportFile("StudentMedHist.pef"));
        records = 0;
        for (bool more = GetFirstRecord(); more; more = GetNextRecord()) {
            if (!IncludedStudentRowTest())
                continue;
            ++records;
            const XString student = value(m_fldStudentNumber);

            XString note;
            if (!value(prescrComments).IsEmpty())
                note += value(prescrComments) + "; ";
            if (!value(doctor).IsEmpty())
                note += "Doctor: " + value(doctor) + "; ";
            if (!value(dosage).IsEmpty())
                note += "Dosage: " + value(dosage) + "; ";
            if (IsYesFlag(value(refrigerated)))
                note += "**MUST BE REFRIGERATED**; ";
            if (!value(expiration).IsEmpty())
                note += "Expires on: " + value(expiration) + "; ";

            line(student, "P-" + value(prescription) + "-" + value(dateReceived), value(dateReceived),
                 value(prescription), "treat", note);
            line(student, "V-" + value(visionDate), value(visionDate), "Vision Exam", "exam",
                 value(visionComments));
            line(student, "G-" + value(growthDate), value(growthDate), "Growth Exam", "exam",
                 value(growthComments));
            line(student, "I-" + value(immunDate), value(immunDate), value(immunType), "immun",
                 value(immunComments));
            line(student, "S-" + value(screenDate), value(screenDate), value(screenType), "exam",
                 value(screenComments));
            line(student, "SR-" + value(referralDate), value(referralDate), value(screenType) + " Referral",
                 "exam", "Result: " + value(screenResult) + "; " + value(screenComments));
        }
        output.Close();
    };
    auto dropPartialFile = [&]() {
        output.Close();
        RunFiles().Drop(ExportFile("StudentMedHist.pef"));
    };
    if (!ReadTable(readRows, dropPartialFile))
        LogAndThrow(LogLevel::Error, "Student Medical History: the query could not be opened.");
    Log(LogLevel::Debug, "Wrote " + XString(static_cast<int32_t>(records * 6)) + " lines of StudentMedHist.pef",
        "ExpEngine::CreateStudentMedicalHistory");
    EndTable();
}
