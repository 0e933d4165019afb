// Data access services: opening a table's query, the value functions of the
// export columns, the hooks and the connection-test message.
#include "data/DataAccessBase.h"


#include "data/DatabaseTypes.h"
#include "export/ExportColumn.h"
#include "util/XException.h"

namespace {
const char* const kOpenTable = "DataAccessBase::OpenTable";
}

DataAccessBase::DataAccessBase(uint32_t options, int databaseType, QObject* parent)
    : PDEWriter(parent), m_options(options), m_databaseType(databaseType)
{
    SetRowSource(this);
}

DataAccessBase::~DataAccessBase()
{
    // Lifecycle records belong in the file: on the console they would follow
    // every command's last protocol line, even a validate answer that must
    // write nothing.
    Log(LogLevel::Debug, "Start DataAccessBase Destructor");
    Log(LogLevel::Debug, "End DataAccessBase Destructor");
}

void DataAccessBase::CreateStudentAttendanceFromDB()
{
    CreateStudentAttendanceFromDB(false);
}

bool DataAccessBase::OpenTable(bool run)
{
    const XString name = CurrentDisplayName();
    Log(LogLevel::Debug, "Opening " + name + " table/query.", kOpenTable);
    if (!run) {
        Log(LogLevel::Informational, "Open table " + name + " failed, skipping.");
        return false;
    }

    struct OpeningTable {
        bool& flag;
        explicit OpeningTable(bool& f) : flag(f) { flag = true; }
        ~OpeningTable() { flag = false; }
    } opening(m_openingTable);

    try {
        // A lost connection gets one more try on a fresh connection; every
        // other database error fails the table at once.
        int32_t attempt = 0;
        try {
            RetryOnLostLink([&] { RunCurrentQuery(); },
                            [&](const XException& lost) {
                                Log(LogLevel::Debug, XString("Query ") + XString(attempt++) +
                                                         " failed: " + LostLinkNumbers(lost), kOpenTable);
                            });
        } catch (const XException& error) {
            if (error.Kind() != XErrorKind::ConnectionLost)
                throw;
            Log(LogLevel::Debug, XString("Query ") + XString(attempt) + " failed: " + LostLinkNumbers(error), kOpenTable);
            // Writing the table empty would tell the importer it has no rows.
            XException::RaiseError(XErrorKind::ConnectionLost, error.GetCode(),
                                   "Open table %s failed: the connection to data source %s "
                                   "was lost (%s) and could not be restored.",
                                   name.c_str(), m_dataSource.c_str(), LostLinkNumbers(error).c_str());
        }
        Log(LogLevel::Debug, "Ran query");
        GetRecordCount();
        Log(LogLevel::Debug, "Opened " + name + " table/query.");
        return true;
    } catch (const std::exception& error) {
        LogAndThrow(LogLevel::Critical, XString("Failed with error [") + error.what() + "] while parsing query: " + BuildQuery(),
                    error);
    } catch (...) {
        LogAndThrow(LogLevel::Critical, "Failed with unknown error while parsing query: " + BuildQuery());
    }
}

void DataAccessBase::RetryOnLostLink(const std::function<void()>& action,
                                     const std::function<void(const XException& lost)>& undo)
{
    // The outermost call owns the one retry; the calls nested in its action
    // (a table's query run again inside its whole reading) share it.
    struct Depth {
        int32_t& depth;
        explicit Depth(int32_t& d) : depth(d) { ++depth; }
        ~Depth() { --depth; }
    } depth(m_lostLinkDepth);
    if (m_lostLinkDepth == 1)
        m_lostLinks = 0;
    for (;;) {
        try {
            action();
            return;
        } catch (const XException& error) {
            if (error.Kind() != XErrorKind::ConnectionLost || m_lostLinks > 0)
                throw;
            ++m_lostLinks;
            if (undo)
                undo(error);
        }
        Reconnect();
    }
}

XString DataAccessBase::LostLinkNumbers(const XException& error)
{
    XString numbers = "SQLSTATE " + XString(error.SqlState().empty() ? "none" : error.SqlState().c_str());
    return numbers + ", native error " + XString(error.NativeCode());
}

bool DataAccessBase::ReadTable(const std::function<void()>& readRows, const std::function<void()>& undo)
{
    SaveTableRunState();
    m_lostLinks = 0;
    bool opened = true;
    const auto read = [&] {
        opened = OpenTable(true);
        if (!opened)
            return;
        try {
            readRows();
        } catch (const XException& error) {
            // The first loss is read again from the start by RetryOnLostLink;
            // a table that cannot be undone, or a second loss, fails the run.
            if (error.Kind() != XErrorKind::ConnectionLost || (undo && m_lostLinks == 0))
                throw;
            const char* again = m_lostLinks > 0 ? " again, after it had been read once more on a new connection" : "";
            const std::string message =
                XException::FormatMessage("The connection to data source %s was lost%s while reading %s: %s",
                                          m_dataSource.c_str(), again, CurrentDisplayName().c_str(), error.what());
            Log(LogLevel::Error, message.c_str());
            throw XException::Rephrase(error, message.c_str());
        }
    };
    if (!undo) {
        read();
        return opened;
    }
    RetryOnLostLink(read, [&](const XException& lost) {
        Log(LogLevel::Warning, "The connection to data source " + m_dataSource + " was lost while reading " +
                                   CurrentDisplayName() + " (" + lost.what() +
                                   "); reading it again from its start on a new connection.");
        undo();
        RestoreTableRunState();
    });
    return opened;
}

void DataAccessBase::SaveTableRunState()
{
    PDEWriter::SaveTableRunState();
    m_savedKeyCounter = m_keyCounter;
}

void DataAccessBase::RestoreTableRunState()
{
    PDEWriter::RestoreTableRunState();
    m_keyCounter = m_savedKeyCounter;
}

bool DataAccessBase::StudentFilter(const XString&)
{
    return true;
}

DataAccessField* DataAccessBase::CurrentField() const
{
    const ExportColumn* column = CurrentColumn();
    return column ? column->GetQueryField() : nullptr;
}

XString DataAccessBase::TextValue()
{
    DataAccessField* field = CurrentField();
    return field ? GetCleanText(field) : XString();
}

XString DataAccessBase::TextNoBreaksValue()
{
    return TextValue();
}

XString DataAccessBase::CurrencyValue()
{
    DataAccessField* field = CurrentField();
    if (!field)
        return XString();
    return "$" + XString(GetDouble(field), 2);
}

XString DataAccessBase::DateValue()
{
    DataAccessField* field = CurrentField();
    if (!field)
        return XString();
    const XDate date = GetDate(field);
    return date.IsNull() ? XString() : date.Format(DateFormat());
}

XString DataAccessBase::YesValue()
{
    DataAccessField* field = CurrentField();
    if (!field)
        return XString();
    return GetBool(field) ? "Yes" : "";
}

XString DataAccessBase::PhoneValue()
{
    XString warning;
    const XString phone = FormatPhoneNumber(TextValue(), warning);
    if (!warning.IsEmpty())
        Log(LogLevel::Informational, warning);
    return phone;
}

XString DataAccessBase::NumberedKeyValue()
{
    ++m_keyCounter;
    return TextValue() + "_" + XString(m_keyCounter);
}

void DataAccessBase::CreateStudentAttendanceFromDB(bool useFilter)
{
    CreateStudentDailyAttendanceFromDB(useFilter);
    CreateStudentPeriodAttendanceFromDB(useFilter);
}

void DataAccessBase::CreateStudentDailyAttendanceFromDB(bool useFilter)
{
    ExportCachedAttendance(true, useFilter);
}

void DataAccessBase::CreateStudentPeriodAttendanceFromDB(bool useFilter)
{
    ExportCachedAttendance(false, useFilter);
}

void DataAccessBase::ExportCachedAttendance(bool daily, bool useFilter)
{
    std::function<bool(const XString&)> studentFilter;
    if (useFilter)
        studentFilter = [this](const XString& student) { return StudentFilter(student); };
    Attendance().ExportCached(daily, studentFilter);
}

void DataAccessBase::OnTableEnd()
{
}

void DataAccessBase::EndTable()
{
    CloseQuery();
    ClearColumns();
    OnTableEnd();
    PDEWriter::EndTable();
}

XString DataAccessBase::ErrorCause(const std::exception& error)
{
    XString text(error.what());
    // Only the first line is shown; the rest is driver detail.
    text.Truncate(text.Find('\n'));
    text.TrimRight("\r");
    if (text.FindText("Error number: ") == 0 && text.Find('\t') < text.GetLength())
        text = text.From(text.Find('\t') + 1);
    MaskPassword(text);
    return text;
}

int DataAccessBase::HandleException_ValidateConnection(const std::exception& error, QString& message)
{
    const XString text = ErrorCause(error);
    message = ToQString(text);
    // The driver manager's SQLSTATE for a data source name it does not know;
    // its text is translated and worded differently by each manager.
    const auto* failure = dynamic_cast<const XException*>(&error);
    if (failure && failure->SqlState() == "IM002") {
        Log(LogLevel::Informational, "Exception Occured: " + text, "HandleException_ValidateConnection");
        message = "Connection Failed: Data Source does not exist.";
        return 2;
    }
    Log(LogLevel::Informational, "Exception Occured :" + text, "HandleException_ValidateConnection");
    return 1;
}
