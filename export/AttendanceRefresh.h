// The attendance refresh: reads a source's attendance window by window from
// the last update into the attendance cache (Attendance.db), and sends the
// cached changes as sections of the update file. It works on the writer it
// is given: the writer's current table declaration and columns, its row
// source, its update file and the cache it holds.
// A refresh is one transaction: either every row of it reached the cache or
// none did, so the run bookkeeping never moves past rows the cache lacks.
#pragma once

#include "cache/AttendanceCache.h"
#include "export/ExportColumn.h"
#include "util/XDate.h"
#include "util/XString.h"

#include <cstdint>
#include <functional>
#include <set>

class PDEWriter;

class AttendanceRefresh
{
public:
    explicit AttendanceRefresh(PDEWriter& writer);

    // Starts an attendance table of the cache instead of the writer's
    // StartTable: opens the cache, creates the table, takes the stored
    // update date (moved back by the overlap when `applyOverlap`, and then
    // every date read again has its new codes blanked before it is read)
    // and opens the refresh transaction.
    void Start(const XString& table, bool applyOverlap, bool endInclusive);
    // Reads the declared attendance table window by window from the update
    // date on and stores every row accepted by `rowFilter` in the cache, all
    // in the transaction Start opened. Any error rolls the whole refresh
    // back and is raised.
    void Write(const XDate& schoolStart, const XDate& schoolEnd, const RowFilter& rowFilter);
    // Stores one record in the current attendance table; raises on failure.
    int SaveRecord(const AttendanceRecord& record);
    // The next date window of the refresh from `cursor`; false for the last.
    static bool NextWindow(XDate& cursor, const XDate& schoolStart, const XDate& schoolEnd, const XDate& today,
                           XDate& windowStart, XDate& windowEnd);

    // Writes the changed rows of one cache table as update-file sections, one
    // per reference header, and marks them exported (uncommitted). Rows of a
    // student `studentFilter` rejects are left out; an empty filter keeps all.
    void ExportCached(bool daily, const std::function<bool(const XString&)>& studentFilter);

    // Reference headers the cache stored rows under, for the export of
    // cached attendance.
    const std::set<XString>& PeriodReferenceHeaders() const { return m_periodReferenceHeaders; }

    // The run state reading a table's rows fills (the reference headers),
    // kept when a table's reading starts and put back when it is read again.
    void SaveRunState();
    void RestoreRunState();

private:
    void StoreRow(AttendanceRecord& record);
    // The dates a refresh reads again: records of them it does not find
    // again are blanked at its end (the cache's BeginRefresh, EndRefresh).
    void BeginCacheRefresh(const XDate& from, const XDate& to);
    void EndCacheRefresh();

    PDEWriter& m_writer;
    XString m_attTable;
    bool m_attEndInclusive = false;
    // The current table's records of the dates the windows read and do not
    // find again are blanked, so that those gone from the source go out as a
    // blank code.
    bool m_attBlankVanished = false;
    bool m_untestedHeaderWarning = true;
    std::set<XString> m_dailyReferenceHeaders{"AttTimeFrameRef"};
    std::set<XString> m_periodReferenceHeaders;
    std::set<XString> m_savedDailyReferenceHeaders;
    std::set<XString> m_savedPeriodReferenceHeaders;
    // Students counted by the cached export; logged with its totals.
    int32_t m_studentTotal = 0;
    int32_t m_studentTotalAfterFilter = 0;
};
