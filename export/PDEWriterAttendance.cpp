// The writer's side of the attendance cache: the refresh of Attendance.db from
// the source, window by window from the last update, and its bookkeeping.
// A refresh is one transaction: either every row of it reached the cache or
// none did, so the run bookkeeping never moves past rows the cache lacks.
#include "export/PDEWriter.h"

#include "util/XException.h"

#include <cstdlib>
#include <utility>
#include <vector>

namespace {

// The longest span of dates an update export's refresh reads in one
// statement.
const int32_t kOneReadDays = 31;

bool DigitsOnly(const XString& text)
{
    for (const char* p = text.c_str(); *p; ++p)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

// What an attendance column's header makes of its value.
enum class AttField {
    Student, Date, PeriodReference, DailyReference, Code, Reason, StartPeriod, EndPeriod, StartSlot, EndSlot,
    Excused, Absent, Tardy, Truant, ExcusedAbsent, UnexcusedAbsent, ExcusedTardy, UnexcusedTardy, Discipline,
    Unsupported,
};

AttField FieldOfHeader(const XString& header)
{
    static const struct {
        const char* name;
        AttField field;
    } kFields[] = {
        {"ATTSTDREF", AttField::Student},           {"ATTDATE", AttField::Date},
        {"ATTPERREF", AttField::PeriodReference},   {"ATTSECREF", AttField::PeriodReference},
        {"ATTTIMESLOT", AttField::PeriodReference}, {"ATTTIMEFRAMEREF", AttField::DailyReference},
        {"ATTATTCODEREF", AttField::Code},          {"ATTATTREASONREF", AttField::Reason},
        {"ATTSTARTPERREF", AttField::StartPeriod},  {"ATTENDPERREF", AttField::EndPeriod},
        {"ATTSTARTTIMESLOT", AttField::StartSlot},  {"ATTENDTIMESLOT", AttField::EndSlot},
        {"ATTEXCUSED", AttField::Excused},          {"ATTABS", AttField::Absent},
        {"ATTTARDY", AttField::Tardy},              {"ATTTRUANT", AttField::Truant},
        {"ATTEXCABS", AttField::ExcusedAbsent},     {"ATTUNEXCABS", AttField::UnexcusedAbsent},
        {"ATTEXCTARDY", AttField::ExcusedTardy},    {"ATTUNEXCTARDY", AttField::UnexcusedTardy},
        {"ATTDISCIPLINE", AttField::Discipline},
    };
    const XString name = header.ToUpper();
    for (const auto& known : kFields)
        if (name == known.name)
            return known.field;
    return AttField::Unsupported;
}

// The field of each header seen, looked up once: the refresh asks for every
// column of every row, and a table has only a handful of headers.
AttField CachedFieldOfHeader(const XString& header)
{
    static std::vector<std::pair<XString, AttField>> seen;
    for (const auto& entry : seen)
        if (entry.first == header)
            return entry.second;
    seen.emplace_back(header, FieldOfHeader(header));
    return seen.back().second;
}

} // namespace

bool PDEWriter::SetAttendanceDatabase(const XFileSpec& folder)
{
    if (m_cache.IsOpen())
        return true;
    XFileSpec base = folder;
    if (base.IsEmpty() || !base.Exists()) {
        Log(LogLevel::Debug, XString("Folder does not exist") + folder.GetPath() + " trying: " + m_pdeFolder.GetPath());
        base = m_pdeFolder;
    }
    XFileSpec file;
    try {
        file = AttendanceCache::DatabaseFile(base);
        file.GetParent().Create();
        m_cache.Open(file);
        return true;
    } catch (const XException& e) {
        m_attendanceDatabaseError = e.what();
        m_attendanceDatabaseCode = AttendanceCache::SqliteCode(e);
        Log(LogLevel::Debug, XString("Set Database: ") + e.what(), "SetAttendanceDatabase");
        Log(LogLevel::Debug, XString("Tried to set: ") + folder.GetPath() + " tried: " + file.GetPath(),
            "SetAttendanceDatabase");
        return false;
    }
}

void PDEWriter::StartAttTable(const XString& table, bool applyOverlap, bool endInclusive)
{
    m_attTable = table;
    m_attEndInclusive = endInclusive;
    Log(LogLevel::Informational, "Start Attendance Table at: " + XDateTime::Now().Format("dd/mm/yyyy|hh:nn:ss"));

    // Without its cache the refresh cannot store anything; the run fails
    // here with the reason instead of at the first statement.
    if (!SetAttendanceDatabase(m_pdeFolder))
        FailCache(m_attendanceDatabaseCode, m_attendanceDatabaseError.c_str());
    try {
        CheckCacheNotLost();
        m_cache.CreateTable(table);
    } catch (const XException& e) {
        Log(LogLevel::Debug, "Attendance: Create Table Failed: " + table + ": " + e.what());
        FailCache(e);
    }

    const bool daily = table == AttendanceCache::DailyTable;
    const XString displayName = daily ? "Student Daily Attendance" : "Student Period Attendance";
    const XString fileName = daily ? "StudentDailyAtt.pef" : "StudentPeriodAtt.pef";

    m_updateDate = m_storedUpdateDate;
    Log(LogLevel::Debug, "StartAttTable: After: Update Date is: " + m_updateDate.Format(m_pragmas.dateFormat));

    if (!m_cache.InTransaction())
        m_cache.Begin();
    if (applyOverlap) {
        if (m_overlapText.IsEmpty())
            m_overlapText = "14";
        // An edited value that is no day count falls back to the default
        // instead of reading as 0 (no overlap) or a move into the future.
        char* end = nullptr;
        long days = std::strtol(m_overlapText.c_str(), &end, 10);
        if (end == m_overlapText.c_str() || *end != '\0' || days < 0 || days > 36500) {
            Log(LogLevel::Warning, "The overlap \"" + m_overlapText + "\" is not a number of days; using 14.");
            days = 14;
        }
        if (!m_updateDate.IsNull() && m_updateDate != 0)
            m_updateDate -= static_cast<int32_t>(days);
    }
    // The records of the dates read again that the read does not find are
    // blanked (WriteAttendanceTable), so that a record gone from the source
    // goes out as a blank code.
    m_attBlankVanished = applyOverlap;

    Log(LogLevel::Debug, "StartAttTable: Before StartTable: Update Date is: " + m_updateDate.Format(m_pragmas.dateFormat));
    StartTable(displayName, fileName, 0);
}

bool PDEWriter::NextAttendanceWindow(XDate& cursor, const XDate& schoolStart, const XDate& schoolEnd,
                                     const XDate& today, XDate& windowStart, XDate& windowEnd)
{
    XDate limit = today;
    if (limit > schoolEnd)
        limit = schoolEnd;
    if (limit < schoolStart)
        limit = schoolStart;
    if (cursor.IsNull() || cursor < schoolStart)
        cursor = schoolStart;
    if (schoolStart == 0 && cursor == 0) {
        cursor = limit;
        windowStart = XDate();
    } else {
        windowStart = cursor > limit ? limit : cursor;
    }
    if (limit > cursor + 6) {
        windowEnd = cursor + 6;
        cursor = windowEnd;
        return true;
    }
    windowEnd = limit;
    cursor = windowEnd;
    return false;
}

void PDEWriter::WriteAttendanceTable(const XDate& schoolStart, const XDate& schoolEnd,
                                     const RowFilter& rowFilter)
{
    if (!m_currentTable || m_attTable.IsEmpty())
        LogAndThrow(LogLevel::Critical, "WriteAttendanceTable called without a started attendance table.");
    XDate cursor = m_updateDate;
    XDate windowStart, windowEnd;
    if (!m_cache.InTransaction())
        m_cache.Begin();
    auto logDates = [&](const char* startLabel, const char* endLabel) {
        Log(LogLevel::Debug, "Update Date is: " + m_updateDate.Format(m_pragmas.dateFormat));
        Log(LogLevel::Debug, "startUpdateDate is: " + windowStart.Format(m_pragmas.dateFormat));
        Log(LogLevel::Debug, "endUpdateDate is: " + windowEnd.Format(m_pragmas.dateFormat));
        Log(LogLevel::Debug, startLabel + schoolStart.Format(m_pragmas.dateFormat));
        Log(LogLevel::Debug, endLabel + schoolEnd.Format(m_pragmas.dateFormat));
    };
    logDates("School Start Date is: ", "School End Date is: ");
    // One today for every window, so the windows and the dates blanked agree
    // also when the run crosses midnight.
    const XDate today = XDate::Today();

    try {
        // Only the dates the windows read again, from the first window's
        // start to the last one's end (a date beyond them, one after today
        // when the clock went back, keeps its code): a record of those dates
        // the windows do not find again is blanked after the last one.
        // A nightly run's overlap (two weeks by default) spans a few
        // windows: it is read in one statement, as each read of the source
        // scans its table again. A longer span (a school back from a break)
        // keeps its weekly reads.
        XDate lastWindowEnd;
        bool oneRead = false;
        if (m_attBlankVanished) {
            XDate from, to, windowCursor = cursor;
            bool first = true;
            for (bool more = true; more; first = false) {
                more = NextAttendanceWindow(windowCursor, schoolStart, schoolEnd, today, windowStart, windowEnd);
                if (first)
                    from = windowStart;
                to = m_attEndInclusive ? windowEnd + 1 : windowEnd;
            }
            lastWindowEnd = windowEnd;
            oneRead = !from.IsNull() && to <= from + kOneReadDays;
            BeginCacheRefresh(from, to);
        }
        bool more = true;
        while (more) {
            more = NextAttendanceWindow(cursor, schoolStart, schoolEnd, today, windowStart, windowEnd);
            if (oneRead) {
                windowEnd = lastWindowEnd;
                more = false;
            }
            logDates("m_schoolStartDate is: ", "m_schoolEndDate is: ");
            XString job = m_currentDisplayName;
            if (!cursor.IsNull())
                job += " (" + windowStart.Format(m_pragmas.dateFormat) + " to " +
                       windowEnd.Format(m_pragmas.dateFormat) + ")";
            PutJobText("Reading " + job + "...");

            const XDate readEnd = m_attEndInclusive ? windowEnd + 1 : windowEnd;
            FilterAttendance(windowStart, readEnd);
            Log(LogLevel::Proprietary, "Write Attendance Table: Done Filtering Attendance");

            // A window whose read was cut goes back to its start inside the
            // refresh's transaction and is read again (ReadTable).
            m_cache.SetSavepoint();
            auto readWindow = [&]() {
                Log(LogLevel::Proprietary, "Write Attendance Table: Table Opened");
                AttendanceRecord record;
                for (bool row = Rows().GetFirstRecord(); row; row = Rows().GetNextRecord()) {
                    if (rowFilter && !rowFilter())
                        continue;
                    StoreAttendanceRow(record);
                }
            };
            if (!Rows().ReadTable(readWindow, [this] { m_cache.RollbackToSavepoint(); }))
                XException::RaiseError(XErrorKind::Database, 0, "The attendance query of %s could not be opened.",
                                       m_currentDisplayName.c_str());
            m_cache.ReleaseSavepoint();
        }
        if (m_attBlankVanished)
            EndCacheRefresh();
        m_cache.Commit();
    } catch (...) {
        m_currentColumn = nullptr;
        Log(LogLevel::Informational, "Write Attendance Table: Failed with Error.  Cleaning up.");
        // Nothing of this refresh is kept: the blanking and every window go
        // together, so the next run reads the same dates again.
        m_cache.Rollback();
        ClearFilter();
        throw;
    }
    ClearFilter();
}

void PDEWriter::CheckCacheNotLost()
{
    if (m_cacheChecked)
        return;
    m_cacheChecked = true;
    if (m_storedUpdateDate.IsNull() || m_storedUpdateDate == 0)
        return;
    // Missing, emptied, or without its tables: what was sent before is no
    // longer known. A cache whose tables hold no rows (a school without
    // absences) is whole.
    if (m_cache.TableExists(AttendanceCache::DailyTable) && m_cache.TableExists(AttendanceCache::PeriodTable))
        return;
    Log(LogLevel::Warning, "The attendance cache " + XString(AttendanceCache::DatabaseFile(m_pdeFolder).GetPath()) +
               " was lost (missing, empty or without its attendance tables) although the last update export ran on " +
               m_storedUpdateDate.Format(m_pragmas.dateFormat) +
               ": all attendance is read again from the start, and the next update file carries every current "
               "absence. Absences deleted in the source while the cache was lost cannot be sent as deleted; "
               "remove them in the importer by hand.");
    m_storedUpdateDate = XDate();
    m_storedUpdateDateTime = XDateTime();
}

void PDEWriter::BeginCacheRefresh(const XDate& from, const XDate& to)
{
    try {
        m_cache.BeginRefresh(m_attTable, from, to);
    } catch (const XException& e) {
        Log(LogLevel::Debug, XString("Attendance::BeginRefresh: ") + e.what());
        FailCache(e);
    }
}

void PDEWriter::EndCacheRefresh()
{
    try {
        m_cache.EndRefresh();
    } catch (const XException& e) {
        Log(LogLevel::Debug, XString("Attendance::BlankNewCodeInSQLiteDB: ") + e.what());
        FailCache(e);
    }
}

void PDEWriter::StoreAttendanceRow(AttendanceRecord& record)
{
    record = AttendanceRecord();
    XString rangeStart, rangeEnd;
    bool rangeMode = false;
    size_t position = 0;
    auto untested = [&](const XString& header) {
        if (m_untestedHeaderWarning) {
            Log(LogLevel::Warning, "SQLite Attendance: Untested header: " + header + ", please ensure this is tested");
            m_untestedHeaderWarning = false;
        }
    };
    // A flag column that carries a count: a non-zero count sets the excused
    // flag to `whenCounted`.
    auto counted = [&](XString& target, const XString& value, const char* whenCounted,
                       const char* whenZero, const XString& header) {
        target = value;
        if (!value.IsEmpty()) {
            record.excused = value == "0" ? whenZero : whenCounted;
            untested(header);
        }
    };

    for (const auto& column : m_columns) {
        if (!column->HasValueFunction())
            continue;
        m_currentColumn = column.get();
        const XString value = column->GetValueFunction()();
        m_currentColumn = nullptr;
        if (position >= m_currentTable->GetFieldCount())
            break;
        const XString& header = m_currentTable->GetField(position++).GetName();

        const AttField field = CachedFieldOfHeader(header);
        switch (field) {
        case AttField::Student:
            record.student = value;
            break;
        case AttField::Date:
            record.date.Parse(m_pragmas.dateFormat, value);
            break;
        case AttField::PeriodReference:
            record.reference = value;
            record.referenceHeader = header;
            m_periodReferenceHeaders.insert(header);
            break;
        case AttField::DailyReference:
            record.reference = value;
            record.referenceHeader = header;
            m_dailyReferenceHeaders.insert(header);
            break;
        case AttField::Code:
            record.newCode = value;
            break;
        case AttField::Reason:
            record.reason = value;
            break;
        case AttField::StartPeriod:
        case AttField::EndPeriod:
            (field == AttField::StartPeriod ? rangeStart : rangeEnd) = value;
            record.referenceHeader = "AttPerRef";
            m_periodReferenceHeaders.insert("AttPerRef");
            rangeMode = true;
            break;
        case AttField::StartSlot:
        case AttField::EndSlot:
            (field == AttField::StartSlot ? rangeStart : rangeEnd) = value;
            record.referenceHeader = "AttTimeSlot";
            m_dailyReferenceHeaders.insert("AttTimeSlot");
            rangeMode = true;
            break;
        case AttField::Excused:
            record.excused = value;
            break;
        case AttField::Absent:
            record.absent = value;
            break;
        case AttField::Tardy:
            record.tardy = value;
            break;
        case AttField::Truant:
            record.truant = value;
            break;
        case AttField::ExcusedAbsent:
            counted(record.absent, value, "Y", "N", header);
            break;
        case AttField::UnexcusedAbsent:
            counted(record.absent, value, "N", "Y", header);
            break;
        case AttField::ExcusedTardy:
            counted(record.tardy, value, "Y", "N", header);
            break;
        case AttField::UnexcusedTardy:
            counted(record.tardy, value, "N", "Y", header);
            break;
        case AttField::Discipline:
            record.discipline = value;
            untested(header);
            break;
        case AttField::Unsupported:
            if (m_untestedHeaderWarning) {
                Log(LogLevel::Warning, "SQLite Attendance: Unsupported header: " + header + ", skipping.");
                m_untestedHeaderWarning = false;
            }
            break;
        }
    }

    if (!rangeMode) {
        SaveAttendanceRecord(record);
        return;
    }
    if (!DigitsOnly(rangeStart) || !DigitsOnly(rangeEnd)) {
        Log(LogLevel::Error, "SQLite Attendance: Unsupported header: " + record.referenceHeader +
                   ", cannot continue because Periods or Timeframes are not numeric.");
        XException::RaiseError(XErrorKind::Conversion, 0, "SQLite Attendance: Unsupported header: %s, cannot continue.",
                               record.referenceHeader.c_str());
    }
    const long first = std::atol(rangeStart.c_str());
    const long last = std::atol(rangeEnd.c_str());
    for (long number = first; number <= last; ++number) {
        record.reference = XString(static_cast<int32_t>(number));
        SaveAttendanceRecord(record);
    }
}

int PDEWriter::SaveAttendanceRecord(const AttendanceRecord& record)
{
    try {
        return m_cache.SaveRecord(m_attTable, record);
    } catch (const XException& e) {
        Log(LogLevel::Debug, XString("Attendance: Update Row: ") + e.what());
        FailCache(e);
    }
}

void PDEWriter::DeleteAttendanceDatabase()
{
    m_cache.Close();
    const XFileSpec file = AttendanceCache::DatabaseFile(m_pdeFolder);
    try {
        if (file.Exists())
            file.Delete();
        // A journal left by an interrupted run belongs to the deleted file.
        const XFileSpec journal(XString(file.GetPath()) + "-journal");
        if (journal.Exists())
            journal.Delete();
    } catch (const XException&) {
        Log(LogLevel::Debug, "Attendance: Database could not be deleted");
        throw;
    }
    if (file.Exists())
        XException::RaiseError(XErrorKind::InputOutput, 0, "Attendance: Database could not be deleted: %s", file.GetPath());
}

void PDEWriter::DropAttendanceTable(const XString& table)
{
    if (!AttendanceTableExpired(table))
        return;
    try {
        if (m_cache.TableExists(table))
            m_cache.DropTable(table);
    } catch (const XException& e) {
        Log(LogLevel::Error, "Failed to Drop table: " + table + ": " + e.what());
        throw;
    }
}

bool PDEWriter::AttendanceTableExpired(const XString& element)
{
    try {
        Log(LogLevel::Proprietary, "UpdateConfig Query: SELECT UPDATED FROM UPDATECONFIG WHERE ELEMENT='" + element + "'");
        const XDateTime updated = m_cache.LastUpdated(element);
        if (updated.GetDate().IsNull())
            return true;
        XDateTime expiry = updated;
        expiry.Add(XDateSpan::FromHours(12));
        return XDateTime::Now().IsAfter(expiry);
    } catch (const XException& e) {
        Log(LogLevel::Debug, XString("Check SQLite Update Date: ") + e.what());
        return true;
    }
}

bool PDEWriter::AttendanceTableExists(const XString& table)
{
    return m_cache.IsOpen() && m_cache.TableExists(table);
}
