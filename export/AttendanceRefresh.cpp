#include "export/AttendanceRefresh.h"

#include "export/PDEWriter.h"
#include "util/DelimitedTextWriter.h"
#include "util/XDateTime.h"
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

AttendanceRefresh::AttendanceRefresh(PDEWriter& writer)
    : m_writer(writer)
{
}

void AttendanceRefresh::SaveRunState()
{
    m_savedDailyReferenceHeaders = m_dailyReferenceHeaders;
    m_savedPeriodReferenceHeaders = m_periodReferenceHeaders;
}

void AttendanceRefresh::RestoreRunState()
{
    m_dailyReferenceHeaders = m_savedDailyReferenceHeaders;
    m_periodReferenceHeaders = m_savedPeriodReferenceHeaders;
}

void AttendanceRefresh::Start(const XString& table, bool applyOverlap, bool endInclusive)
{
    m_attTable = table;
    m_attEndInclusive = endInclusive;
    m_writer.Log(LogLevel::Informational, "Start Attendance Table at: " + XDateTime::Now().Format("dd/mm/yyyy|hh:nn:ss"));

    // Without its cache the refresh cannot store anything; the run fails
    // here with the reason instead of at the first statement.
    if (!m_writer.SetAttendanceDatabase(m_writer.m_pdeFolder))
        m_writer.FailCache(m_writer.m_attendanceDatabaseCode, m_writer.m_attendanceDatabaseError.c_str());
    try {
        m_writer.CheckCacheNotLost();
        m_writer.m_cache.CreateTable(table);
    } catch (const XException& e) {
        m_writer.Log(LogLevel::Debug, "Attendance: Create Table Failed: " + table + ": " + e.what());
        m_writer.FailCache(e);
    }

    const bool daily = table == AttendanceCache::DailyTable;
    const XString displayName = daily ? "Student Daily Attendance" : "Student Period Attendance";
    const XString fileName = daily ? "StudentDailyAtt.pef" : "StudentPeriodAtt.pef";

    m_writer.m_updateDate = m_writer.m_storedUpdateDate;
    m_writer.Log(LogLevel::Debug, "StartAttTable: After: Update Date is: " + m_writer.m_updateDate.Format(m_writer.m_pragmas.dateFormat));

    if (!m_writer.m_cache.InTransaction())
        m_writer.m_cache.Begin();
    if (applyOverlap) {
        if (m_writer.m_overlapText.IsEmpty())
            m_writer.m_overlapText = "14";
        // An edited value that is no day count falls back to the default
        // instead of reading as 0 (no overlap) or a move into the future.
        char* end = nullptr;
        long days = std::strtol(m_writer.m_overlapText.c_str(), &end, 10);
        if (end == m_writer.m_overlapText.c_str() || *end != '\0' || days < 0 || days > 36500) {
            m_writer.Log(LogLevel::Warning, "The overlap \"" + m_writer.m_overlapText + "\" is not a number of days; using 14.");
            days = 14;
        }
        if (!m_writer.m_updateDate.IsNull() && m_writer.m_updateDate != 0)
            m_writer.m_updateDate -= static_cast<int32_t>(days);
    }
    // The records of the dates read again that the read does not find are
    // blanked (Write), so that a record gone from the source
    // goes out as a blank code.
    m_attBlankVanished = applyOverlap;

    m_writer.Log(LogLevel::Debug, "StartAttTable: Before StartTable: Update Date is: " + m_writer.m_updateDate.Format(m_writer.m_pragmas.dateFormat));
    m_writer.StartTable(displayName, fileName, 0);
}

bool AttendanceRefresh::NextWindow(XDate& cursor, const XDate& schoolStart, const XDate& schoolEnd,
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

void AttendanceRefresh::Write(const XDate& schoolStart, const XDate& schoolEnd,
                                     const RowFilter& rowFilter)
{
    if (!m_writer.m_currentTable || m_attTable.IsEmpty())
        m_writer.LogAndThrow(LogLevel::Critical, "WriteAttendanceTable called without a started attendance table.");
    XDate cursor = m_writer.m_updateDate;
    XDate windowStart, windowEnd;
    if (!m_writer.m_cache.InTransaction())
        m_writer.m_cache.Begin();
    auto logDates = [&](const char* startLabel, const char* endLabel) {
        m_writer.Log(LogLevel::Debug, "Update Date is: " + m_writer.m_updateDate.Format(m_writer.m_pragmas.dateFormat));
        m_writer.Log(LogLevel::Debug, "startUpdateDate is: " + windowStart.Format(m_writer.m_pragmas.dateFormat));
        m_writer.Log(LogLevel::Debug, "endUpdateDate is: " + windowEnd.Format(m_writer.m_pragmas.dateFormat));
        m_writer.Log(LogLevel::Debug, startLabel + schoolStart.Format(m_writer.m_pragmas.dateFormat));
        m_writer.Log(LogLevel::Debug, endLabel + schoolEnd.Format(m_writer.m_pragmas.dateFormat));
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
                more = NextWindow(windowCursor, schoolStart, schoolEnd, today, windowStart, windowEnd);
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
            more = NextWindow(cursor, schoolStart, schoolEnd, today, windowStart, windowEnd);
            if (oneRead) {
                windowEnd = lastWindowEnd;
                more = false;
            }
            logDates("m_schoolStartDate is: ", "m_schoolEndDate is: ");
            XString job = m_writer.m_currentDisplayName;
            if (!cursor.IsNull())
                job += " (" + windowStart.Format(m_writer.m_pragmas.dateFormat) + " to " +
                       windowEnd.Format(m_writer.m_pragmas.dateFormat) + ")";
            m_writer.PutJobText("Reading " + job + "...");

            const XDate readEnd = m_attEndInclusive ? windowEnd + 1 : windowEnd;
            m_writer.Rows().FilterAttendance(windowStart, readEnd);
            m_writer.Log(LogLevel::Proprietary, "Write Attendance Table: Done Filtering Attendance");

            // A window whose read was cut goes back to its start inside the
            // refresh's transaction and is read again (ReadTable).
            m_writer.m_cache.SetSavepoint();
            auto readWindow = [&]() {
                m_writer.Log(LogLevel::Proprietary, "Write Attendance Table: Table Opened");
                AttendanceRecord record;
                for (bool row = m_writer.Rows().GetFirstRecord(); row; row = m_writer.Rows().GetNextRecord()) {
                    if (rowFilter && !rowFilter())
                        continue;
                    StoreRow(record);
                }
            };
            if (!m_writer.Rows().ReadTable(readWindow, [this] { m_writer.m_cache.RollbackToSavepoint(); }))
                XException::RaiseError(XErrorKind::Database, 0, "The attendance query of %s could not be opened.",
                                       m_writer.m_currentDisplayName.c_str());
            m_writer.m_cache.ReleaseSavepoint();
        }
        if (m_attBlankVanished)
            EndCacheRefresh();
        m_writer.m_cache.Commit();
    } catch (...) {
        m_writer.m_currentColumn = nullptr;
        m_writer.Log(LogLevel::Informational, "Write Attendance Table: Failed with Error.  Cleaning up.");
        // Nothing of this refresh is kept: the blanking and every window go
        // together, so the next run reads the same dates again.
        m_writer.m_cache.Rollback();
        m_writer.Rows().ClearFilter();
        throw;
    }
    m_writer.Rows().ClearFilter();
}

void AttendanceRefresh::BeginCacheRefresh(const XDate& from, const XDate& to)
{
    try {
        m_writer.m_cache.BeginRefresh(m_attTable, from, to);
    } catch (const XException& e) {
        m_writer.Log(LogLevel::Debug, XString("Attendance::BeginRefresh: ") + e.what());
        m_writer.FailCache(e);
    }
}

void AttendanceRefresh::EndCacheRefresh()
{
    try {
        m_writer.m_cache.EndRefresh();
    } catch (const XException& e) {
        m_writer.Log(LogLevel::Debug, XString("Attendance::BlankNewCodeInSQLiteDB: ") + e.what());
        m_writer.FailCache(e);
    }
}

void AttendanceRefresh::StoreRow(AttendanceRecord& record)
{
    record = AttendanceRecord();
    XString rangeStart, rangeEnd;
    bool rangeMode = false;
    size_t position = 0;
    auto untested = [&](const XString& header) {
        if (m_untestedHeaderWarning) {
            m_writer.Log(LogLevel::Warning, "SQLite Attendance: Untested header: " + header + ", please ensure this is tested");
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

    for (const auto& column : m_writer.m_columns) {
        if (!column->HasValueFunction())
            continue;
        m_writer.m_currentColumn = column.get();
        const XString value = column->GetValueFunction()();
        m_writer.m_currentColumn = nullptr;
        if (position >= m_writer.m_currentTable->GetFieldCount())
            break;
        const XString& header = m_writer.m_currentTable->GetField(position++).GetName();

        const AttField field = CachedFieldOfHeader(header);
        switch (field) {
        case AttField::Student:
            record.student = value;
            break;
        case AttField::Date:
            record.date.Parse(m_writer.m_pragmas.dateFormat, value);
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
                m_writer.Log(LogLevel::Warning, "SQLite Attendance: Unsupported header: " + header + ", skipping.");
                m_untestedHeaderWarning = false;
            }
            break;
        }
    }

    if (!rangeMode) {
        SaveRecord(record);
        return;
    }
    if (!DigitsOnly(rangeStart) || !DigitsOnly(rangeEnd)) {
        m_writer.Log(LogLevel::Error, "SQLite Attendance: Unsupported header: " + record.referenceHeader +
                   ", cannot continue because Periods or Timeframes are not numeric.");
        XException::RaiseError(XErrorKind::Conversion, 0, "SQLite Attendance: Unsupported header: %s, cannot continue.",
                               record.referenceHeader.c_str());
    }
    const long first = std::atol(rangeStart.c_str());
    const long last = std::atol(rangeEnd.c_str());
    for (long number = first; number <= last; ++number) {
        record.reference = XString(static_cast<int32_t>(number));
        SaveRecord(record);
    }
}

int AttendanceRefresh::SaveRecord(const AttendanceRecord& record)
{
    try {
        return m_writer.m_cache.SaveRecord(m_attTable, record);
    } catch (const XException& e) {
        m_writer.Log(LogLevel::Debug, XString("Attendance: Update Row: ") + e.what());
        m_writer.FailCache(e);
    }
}

void AttendanceRefresh::ExportCached(bool daily, const std::function<bool(const XString&)>& studentFilter)
{
    const XString table = daily ? AttendanceCache::DailyTable : AttendanceCache::PeriodTable;
    const char* const method = daily ? "CreateStudentDailyAttendanceFromDB" : "CreateStudentPeriodAttendanceFromDB";
    const XString special = daily ? "AttTimeFrameRef" : "AttPerRef";

    if (!m_writer.AttendanceTableExists(table)) {
        m_writer.PutJobText(daily ? "Daily Attendance Table does not exist, skipping"
                         : "Period Attendance Table does not exist, skipping");
        return;
    }
    m_writer.Log(LogLevel::Informational, daily ? "Exporting Daily Attendance from DB" : "Exporting Period Attendance from DB");
    if (!daily && m_periodReferenceHeaders.empty()) {
        m_periodReferenceHeaders.insert("AttPerRef");
        m_writer.Log(LogLevel::Debug, "CreateStudentPeriodAttendanceFromDB: Either no data returned or No Period Timeframe "
               "header set, assuming AttPerRef");
    }
    // The marks below are committed with the record of the run's files,
    // right before they are put in place (PDEWriter::CommitExport).
    if (!m_writer.Cache().InTransaction())
        m_writer.Cache().Begin();

    const std::set<XString> headers = daily ? m_dailyReferenceHeaders : m_periodReferenceHeaders;
    for (const XString& header : headers) {
        m_writer.StartTable(daily ? "Cached Daily Attendance" : "Cached Period Attendance",
                   daily ? "StudentDailyAtt.pef" : "StudentPeriodAtt.pef", 0);
        for (const char* name : {"AttStdRef", "AttDate", header.c_str(), "AttAttCodeRef", "AttAttReasonRef",
                                 "AttExcused", "AttAbs", "AttTardy", "AttTruant", "AttDiscipline"})
            m_writer.AddColumn(ColumnDeclaration(XString()).Header(name));
        DelimitedTextWriter& output = m_writer.BeginUpdateSection();

        int32_t count = 0;
        try {
            AttendanceCache::UnexportedRecords records = m_writer.Cache().Unexported(table, header, header == special);
            m_writer.Log(LogLevel::Proprietary, XString("Attendance Query: ") + records.Sql());
            while (records.Next()) {
                ++count;
                const AttendanceRecord& record = records.Record();
                if (studentFilter && !studentFilter(record.student)) {
                    records.Skip();
                    continue;
                }
                output.WriteField(record.student);
                output.WriteField(record.date.Format(m_writer.DateFormat()));
                for (const XString* field : {&record.reference, &record.newCode, &record.reason, &record.excused,
                                             &record.absent, &record.tardy, &record.truant, &record.discipline})
                    output.WriteField(*field);
                output.EndLine();
            }
            // All in one statement: every record written, none skipped.
            records.MarkWritten(m_writer.ExportBatch());
        } catch (const XException& e) {
            // Rows written but left unmarked, or marked but missing from the
            // file, would be exported twice or never: the run fails and the
            // update file is thrown away with the marks.
            if (AttendanceCache::SqliteCode(e) < 0)
                m_writer.LogAndThrow(LogLevel::Error, XString(method) + " Error: " + e.what(), e);
            m_writer.Log(LogLevel::Error, XString(method) + " Error: " + e.what());
            m_writer.FailCache(e);
        }
        m_writer.Log(LogLevel::Debug, "Students: Total:" + XString(m_studentTotal));
        m_writer.Log(LogLevel::Debug, "Students: Total After Filter:" + XString(m_studentTotalAfterFilter));
        m_writer.Log(LogLevel::Debug, "Attendance Query: Wrote" + XString(count) + " records.");

        m_writer.EndUpdateSection();
        m_writer.SetExportedUpdate(XDate::Today(), XDateTime::Now());
        m_writer.EndTable();
    }
}
