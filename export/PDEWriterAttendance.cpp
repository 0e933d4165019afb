// The writer's side of the attendance cache: opening it, noticing a lost one,
// dropping expired tables and deleting the file. The refresh that fills it
// is AttendanceRefresh.
#include "export/PDEWriter.h"

#include "util/XException.h"

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
