// The writer's side of the run commit (export/RunCommit.h): which files a
// full export retires, and the cache and log the commit works through.
#include "export/PDEWriter.h"

#include "export/ExportCommit.h"
#include "util/XException.h"
#include "util/XFileSystem.h"

#include <algorithm>

int64_t PDEWriter::ExportBatch()
{
    return m_runCommit.Batch();
}

void PDEWriter::CommitExport()
{
    CheckInterrupt();
    ExportCommit& commit = RunFiles();
    if (m_mode == Mode::Full || m_mode == Mode::UpdateAfterFull) {
        // A full export replaces the whole set: a table file an earlier run
        // wrote that this run neither wrote nor lists (a table filtered out
        // or a source table gone) would be stale data beside the new set.
        // Files of other names are not this bridge's to touch.
        for (const char* name : TableFileNames()) {
            XFileSpec spec = m_pdeFolder;
            spec.AppendName(name);
            const bool listed = std::any_of(m_tables.begin(), m_tables.end(), [&](const auto& table) {
                return table->GetFieldCount() > 0 && table->GetFileName() == name;
            });
            if (!listed && !commit.Has(spec) && spec.Exists()) {
                Log(LogLevel::Informational, XString("Removing ") + name + ": this export did not write it.");
                commit.Remove(spec);
            }
        }
    }
    m_runCommit.Commit();
    m_mode = Mode::Idle;
    Log(LogLevel::Debug, "Export files in place");
}

void PDEWriter::RecoverExportFolder()
{
    m_runCommit.Recover();
}

void PDEWriter::OpenCommitCache()
{
    if (!m_cache.IsOpen() && !SetAttendanceDatabase(m_pdeFolder))
        FailCache(m_attendanceDatabaseCode, m_attendanceDatabaseError.c_str());
}

void PDEWriter::FailCommitCache(const XException& error)
{
    FailCache(error);
}

void PDEWriter::LogCommit(LogLevel::Level level, const XString& text)
{
    Log(level, text);
}

void PDEWriter::FailCache(const XException& error)
{
    FailCache(AttendanceCache::SqliteCode(error), error.what());
}

void PDEWriter::FailCache(int sqliteCode, const char* text)
{
    const XString message = "The attendance cache " + XString(AttendanceCache::DatabaseFile(m_pdeFolder).GetPath()) +
                            " " + AttendanceCache::Problem(sqliteCode, text);
    LogAndThrow(LogLevel::Error, XException(XErrorKind::Database, message.c_str(), sqliteCode < 0 ? 0 : sqliteCode, std::string(),
                              sqliteCode < 0 ? 0 : sqliteCode));
}

void PDEWriter::AbandonRun()
{
    // Marks of rows that never reached a finished update file, and a refresh
    // cut short, are undone: the next run exports them again.
    m_cache.Rollback();
    m_runCommit.Abandon();
    m_mode = Mode::Idle;
    m_updateFile = nullptr;
}

void PDEWriter::RequireMode(bool allowed, const char* what)
{
    if (!allowed)
        LogAndThrow(LogLevel::Critical, what);
}

ExportCommit& PDEWriter::RunFiles()
{
    return m_runCommit.Files();
}

XFileSpec PDEWriter::PendingExportFile(const XString& fileName, bool last)
{
    return m_runCommit.PendingFile(fileName, last);
}

const std::vector<const char*>& PDEWriter::TableFileNames()
{
    static const std::vector<const char*> names = {
        "Calendar.pef", "AttCodes.pef", "Days.pef", "Terms.pef", "Sections.pef", "Teachers.pef",
        "Staff.pef", "Students.pef", "Students2.pef", "StudentCon.pef", "StudentCon1.pef",
        "StudentLockers.pef", "StudentTransport.pef", "StudentSched.pef", "StudentGrades.pef",
        "FeeAccounts.pef", "StudentFees.pef", "StuFeesPay.pef", "StudentAttendance.pef",
        "StudentCndIncident.pef", "ConductIncident.pef", "ConductOutcome.pef", "StudentMedHist.pef",
        "StudentNotes.pef", "StudentDailyAtt.pef", "StudentPeriodAtt.pef"};
    return names;
}
