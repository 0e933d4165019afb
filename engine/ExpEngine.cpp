// The MORV extraction run: settings, the order in which the export tables are
// produced, and the engine's own value functions of the student tables.
#include "engine/ExpEngine.h"

#include <utility>

namespace {
const char* const kExportDateFormat = "yyyy-mm-dd";
} // namespace

ExpEngine::ExpEngine(QObject* parent)
    : ODBCExpEngineBase(parent)
{
    SetQuoteFieldNames(true);
    SetQuoteTableNames(true);
    SetConnectionTimeout(720);
    SetCommandTimeout(1440);
    m_pragmas.dateFormat = kExportDateFormat;
    m_pragmas.gradesDontCreateSections = true;
    m_pragmas.attendanceDoesntCreateDates = true;
    m_pragmas.termsAreBins = false;
    m_pragmas.minVersion = PackVersion(7, 5, 0, 0);
    m_setupTotal = 1;
    m_lutTotal = 1;
    m_importTotal = 21;
    m_periodAttTotal = 1;
    m_dailyAttTotal = 1;
}

ExpEngine::~ExpEngine() = default;

bool ExpEngine::BeginExecute(ParamMap parameters, RunFlags flags, QString& errorText)
{
    const bool succeeded = ODBCExpEngineBase::BeginExecute(std::move(parameters), flags, errorText);
    // After the run, failed or not: how many round trips it asked of the source.
    LogStatementsSent();
    return succeeded;
}

// ---------------------------------------------------------------------------
// The run

bool ExpEngine::Execute(ParamMap parameters, RunFlags flags, QString& errorText)
{
    Q_UNUSED(errorText);
    Log(LogLevel::Informational, "Starting Execution...", "ExpEngine::Execute");
    PrepareRun(parameters);
    if (RunsFullExport(flags))
        RunFullExport();
    if (RunsUpdateExport(flags))
        RunUpdateExport();
    ExportComplete();
    return true;
}

void ExpEngine::PrepareRun(const ParamMap& parameters)
{
    ReadRunSettings(parameters);
    // Without a year every student query compares _Year with '' and the run
    // would export empty tables as a success; stop before any file or the
    // bookkeeping record is touched.
    const XString refusal = LiveYearRefusal();
    if (!refusal.IsEmpty() && m_schoolYearUnreadable)
        LogAndThrow(LogLevel::Error, XException(XErrorKind::Database, (refusal + "; nothing was exported.").c_str()));
    if (!refusal.IsEmpty())
        LogAndThrow(LogLevel::Error, refusal + "; nothing was exported.");
    ConnectForRun();
    LogRunSettings();
    BuildIncludedStudents();
}

void ExpEngine::ReadRunSettings(const ParamMap& parameters)
{
    m_pragmas.bridgeAlias = ToXString(parameters.value("bridgeAlias_"));
    m_schoolYear = ReadSchoolAndLiveYear(parameters);
    SetLogin(parameters);

    ReadInactiveCutoff(ToXString(parameters.value("inactivedate")));

    m_activeCodesText = ToXString(parameters.value("activecodes"));
    m_activeCodes = SplitActiveCodes(m_activeCodesText);
    m_staffFiltered = parameters.value("filterstaff") == "true";
    m_pragmas.attendanceDoesntCreateDates = parameters.value("pragmaattdates") != "true";
}

bool ExpEngine::IsExportDate(const XString& text)
{
    // The parser rolls a day or month out of range over into the next
    // ("2027-13-45" is 2028-02-14): only a date that reads back as written
    // is one.
    XDate date;
    return date.Parse(kExportDateFormat, text) && !date.IsNull() && date.ToText() == text;
}

void ExpEngine::ReadInactiveCutoff(const XString& text)
{
    m_inactiveCutoff = XDate();
    if (text.IsEmpty())
        return;
    if (!IsExportDate(text) || !m_inactiveCutoff.Parse(kExportDateFormat, text)) {
        m_inactiveCutoff = XDate();
        // The run goes on with active students only, as without a date; say
        // so, since the user asked for inactive students too.
        Log(LogLevel::Warning, XString("Inactive cut-off date \"") + text +
                   "\" is not a date in the form yyyy-mm-dd; exporting active students only.",
            "ExpEngine::ReadInactiveCutoff");
    }
}

void ExpEngine::ConnectForRun()
{
    ClearIncludedStudents();
    m_staffCodeMap.clear();
    // OpenConnection starts the writer's bookkeeping, connects and writes the
    // schema log when "logSchema" asks for it.
    OpenConnection(BuildConnectionString(), false);
}

void ExpEngine::LogRunSettings()
{
    Log(LogLevel::Informational, XString("MORV DSN: ") + m_dataSource, "");
    Log(LogLevel::Informational, XString("School Id: ") + m_schoolNumber, "");
    Log(LogLevel::Informational, XString("School Year: ") + m_schoolYear, "");
    Log(LogLevel::Informational, XString("Inactive Cutoff: ") + m_inactiveCutoff.Format("YYYY-MM-DD"), "");
    if (!m_activeCodesText.IsEmpty())
        Log(LogLevel::Informational, XString("Additional Active Codes: ") + m_activeCodesText, "");
}

void ExpEngine::RunFullExport()
{
    StartImport();
    CreateAttendanceCodes();
    CreateCalendar();
    CreateSections();
    CreateTerms();
    CreateDays();
    if (!m_staffFiltered) {
        CreateTeachers();
        CreateStaff();
    }
    CreateStudentDemographics();
    CreateStudentLunchCodes();
    CreateStudentContacts();
    CreateStudentContactNumbers();
    CreateStudentLockers();
    CreateStudentTransportation();
    CreateStudentSchedules();
    CreateStudentGrades();
    CreateFeeAccounts();
    CreateStudentSchoolFees();
    CreateStudentSchoolPayments();
    CreateStudentSummaryAttendance();
    CreateStudentConductIncident();
    CreateStudentConductOutcomes();
    CreateStudentCommunityService();
    CreateStudentMedicalHistory();
    CreateStudentNotes();
    FinishImport();
}

void ExpEngine::ResetFieldHandles()
{
    m_fldStudentNumber = nullptr;
    m_fldZip4 = nullptr;
    m_fldFirstName = nullptr;
    m_fldMiddleName = nullptr;
    m_fldLastName = nullptr;
    m_fldIsPrimary = nullptr;
    m_fldDefaultCalendar = nullptr;
    m_fldCourseCode = nullptr;
    m_fldStaffCode = nullptr;
    m_extensionOf.clear();
    ReleaseConditionFields();
}

void ExpEngine::OnTableEnd()
{
    ResetFieldHandles();
}

// ---------------------------------------------------------------------------
// Value functions of the student tables

XString ExpEngine::ZipValue()
{
    XString zip = TextValue();
    if (m_fldZip4) {
        const XString zip4 = GetText(m_fldZip4);
        if (!zip4.IsEmpty())
            zip += XString("-") + zip4;
    }
    return zip;
}

XString ExpEngine::ContactKeyValue()
{
    const XString first = m_fldFirstName ? GetText(m_fldFirstName) : XString();
    const XString middle = m_fldMiddleName ? GetText(m_fldMiddleName) : XString();
    const XString last = m_fldLastName ? GetText(m_fldLastName) : XString();
    return first + "-" + middle + "-" + last;
}

XString ExpEngine::ActiveFlagValue()
{
    return IsActiveStatus(TextValue()) ? "Y" : "N";
}

XString ExpEngine::EthnicityValue()
{
    const XString code = TextValue().ToUpper();
    static const struct { const char* code; const char* name; } kNames[] = {
        {"W", "White"}, {"B", "Black"}, {"M", "Multiracial"},
        {"I", "Indian/Alaskan"}, {"A", "Asian"}, {"H", "Hispanic"},
    };
    for (const auto& entry : kNames) {
        if (code == entry.code)
            return entry.name;
    }
    return code;
}

XString ExpEngine::SpecialEducationValue()
{
    const XString value = TextValue();
    return (value.IsEmpty() || value == "0") ? "No" : "Yes";
}

XString ExpEngine::CustodyValue()
{
    const bool primary = m_fldIsPrimary && GetText(m_fldIsPrimary) == "Y";
    return (primary && TextValue() == "Y") ? "Yes" : "No";
}

XString ExpEngine::PhoneKindValue()
{
    XString kind = TextValue();
    kind.ReplaceAll("Number", "Phone");
    kind.ReplaceAll("number", "phone");
    return kind;
}

XString ExpEngine::StaffLookupValue()
{
    const auto found = m_staffCodeMap.find(TextValue());
    return found == m_staffCodeMap.end() ? XString() : found->second;
}

XString ExpEngine::CalendarReferenceValue()
{
    if (m_fldDefaultCalendar && GetText(m_fldDefaultCalendar) == "Y")
        return XString();
    return TextValue();
}

XString ExpEngine::PhoneWithExtensionValue()
{
    const ODBCField* field = CurrentQueryField();
    const auto found = m_extensionOf.find(field);
    const XString extension = (found != m_extensionOf.end() && found->second)
                                  ? GetText(found->second)
                                  : XString();
    return BuildPhoneNumber("", "", TextValue(), extension, "");
}

// ---------------------------------------------------------------------------
// Column declaration helpers

ODBCField* ExpEngine::Column(const ColumnDeclaration& column)
{
    return static_cast<ODBCField*>(AddColumn(column));
}

ColumnDeclaration ExpEngine::Declare(ODBCTable* table, const char* source, EngineValue value, const char* header)
{
    ColumnDeclaration column(source);
    column.From(table).Value(BindValue(value)).Header(header);
    // The clean text of the source column is what the row source can write
    // without going through the value function.
    if (value == &ExpEngine::TextValue)
        column.PlainText();
    return column;
}

ODBCField* ExpEngine::Column(ODBCTable* table, const char* source, EngineValue value, const char* header)
{
    return Column(Declare(table, source, value, header));
}

ODBCField* ExpEngine::RequiredColumn(ODBCTable* table, const char* source, EngineValue value, const char* header)
{
    return Column(Declare(table, source, value, header).Required());
}

ODBCField* ExpEngine::CustomColumn(ODBCTable* table, const char* source, EngineValue value, const char* header,
                                   const CustomFieldDeclaration& custom)
{
    return Column(Declare(table, source, value, header).Custom(custom));
}

ODBCField* ExpEngine::QueryColumn(ODBCTable* table, const char* source)
{
    return Column(ColumnDeclaration(source).From(table));
}

ODBCField* ExpEngine::RequiredQueryColumn(ODBCTable* table, const char* source)
{
    return Column(ColumnDeclaration(source).From(table).Required());
}

void ExpEngine::TextColumn(const char* text, const char* header)
{
    AddColumn(ColumnDeclaration(text).Header(header).Does(ExportColumn::WriteText));
}

ODBCField* ExpEngine::CurrentQueryField() const
{
    return static_cast<ODBCField*>(CurrentField());
}

void ExpEngine::OwnColumns(std::initializer_list<const char*> headers)
{
    for (const char* header : headers)
        AddColumn(ColumnDeclaration(XString()).Header(header));
}

XFileSpec ExpEngine::ExportFile(const char* name) const
{
    XFileSpec file = PDEFolder();
    file.AppendName(name);
    return file;
}

int ExpEngine::WriteAndEndTable(bool filterStudents)
{
    const RowFilter filter = filterStudents
                                 ? BindFilter(&ODBCExpEngineBase::IncludedStudentRowTest)
                                 : RowFilter();
    const int rows = WriteTable(filter, XString());
    SetDistinct(false);
    EndTable();
    return rows;
}

void ExpEngine::SkipTable(LogLevel::Level level, const XString& reason, const XString& method)
{
    Log(level, reason, method);
    EndTable();
}
