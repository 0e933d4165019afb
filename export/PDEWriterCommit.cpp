// The writer's commit of a run: the files the run wrote under temporary
// names, the marks of the attendance rows its update file carries, and the
// record of both in the attendance cache, so that they count as one step.
//
// In order: every file is written and flushed under its temporary name; the
// marks are committed in one cache transaction together with the record of
// every rename and removal of the commit and its batch number; the files are
// renamed onto their names and the folder flushed; the record is cleared.
// A run killed before the cache commit leaves nothing behind that counts
// (the temporary files are removed as leftovers, the marks never were). A
// run killed after it leaves the record, and the next run finishes it
// before anything else: a temporary file still there is renamed, one already
// renamed is left, and a file that is neither (removed or replaced by
// someone) has the rows of its batch set to be sent again.
#include "export/PDEWriter.h"

#include "export/ExportCommit.h"
#include "util/XException.h"
#include "util/XFileSystem.h"

#include <algorithm>

// ExportCommit's journal: the attendance cache of the export folder.
class PDEWriter::CommitJournal : public ExportCommit::Journal
{
public:
    explicit CommitJournal(PDEWriter& writer) : m_writer(writer) {}

    void Record(const std::vector<ExportCommit::Step>& steps) override
    {
        AttendanceCache& cache = m_writer.m_cache;
        // A full export alone has no cache open yet; its files are recorded
        // all the same, so a run stopped among its renames is finished.
        if (!cache.IsOpen() && !m_writer.SetAttendanceDatabase(m_writer.m_pdeFolder))
            m_writer.FailCache(m_writer.m_attendanceDatabaseCode, m_writer.m_attendanceDatabaseError.c_str());
        try {
            if (!cache.InTransaction())
                cache.Begin();
            std::vector<CommitStep> recorded;
            for (const ExportCommit::Step& step : steps)
                recorded.push_back({NameInFolder(step.tempPath), NameInFolder(step.finalPath), step.device,
                                    step.inode, step.size});
            cache.RecordCommit(m_writer.ExportBatch(), recorded);
            // The step after which the run's changes count as sent.
            cache.Commit();
        } catch (const XException& e) {
            cache.Rollback();
            m_writer.FailCache(e);
        }
    }

    void Done() override
    {
        try {
            m_writer.m_cache.ClearCommit(m_writer.m_batch);
        } catch (const XException& e) {
            // Every file is in place: the next run finds them so and clears
            // the record itself.
            m_writer.Log(LogLevel::Warning, XString("The record of the export files could not be cleared from the attendance "
                                    "cache; the next run clears it: ") +
                                e.what());
        }
        m_writer.m_batch = 0;
    }

    void Undo() override
    {
        AttendanceCache& cache = m_writer.m_cache;
        try {
            cache.Begin();
            cache.UndoBatch(m_writer.m_batch);
            cache.ClearCommit(m_writer.m_batch);
            cache.Commit();
        } catch (const XException& e) {
            cache.Rollback();
            m_writer.Log(LogLevel::Error, XString("The marks of the export files that could not be put in place could not be "
                                    "undone; the next run finishes them: ") +
                                e.what());
            throw;
        }
        m_writer.m_batch = 0;
    }

private:
    // Every file of a commit lies in the export folder; the record keeps
    // its name only, so the folder may move between two runs.
    XString NameInFolder(const std::string& path) const
    {
        if (path.empty())
            return XString();
        const std::string folder = m_writer.m_pdeFolder.ToNativePath();
        if (path.compare(0, folder.size(), folder) != 0 || path.find('/', folder.size()) != std::string::npos)
            XException::RaiseError(XErrorKind::Internal, 0, "An export file outside the export folder cannot be committed: %s",
                                   path.c_str());
        return XString(path.substr(folder.size()).c_str());
    }

    PDEWriter& m_writer;
};

int64_t PDEWriter::ExportBatch()
{
    if (m_batch == 0)
        m_batch = m_cache.NewBatch();
    return m_batch;
}

void PDEWriter::CommitExport()
{
    CheckInterrupt();
    ExportCommit& commit = RunCommit();
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
    // From the record on, a stop (SIGTERM included) no longer ends the run
    // half-way: the renames are finished, or undone with the marks.
    CommitJournal journal(*this);
    commit.Commit(&journal);
    m_mode = Mode::Idle;
    Log(LogLevel::Debug, "Export files in place");
}

void PDEWriter::RecoverExportFolder()
{
    const XFileSpec file = AttendanceCache::DatabaseFile(m_pdeFolder);
    if (!file.Exists())
        return;
    if (!SetAttendanceDatabase(m_pdeFolder))
        FailCache(m_attendanceDatabaseCode, m_attendanceDatabaseError.c_str());
    int64_t batch = 0;
    std::vector<CommitStep> recorded;
    try {
        if (!m_cache.PendingCommit(batch, recorded))
            return;
    } catch (const XException& e) {
        FailCache(e);
    }

    Log(LogLevel::Informational, "An interrupted run left its export files under temporary names; putting them in place.");
    const std::string folder = m_pdeFolder.ToNativePath();
    std::vector<ExportCommit::Step> steps;
    for (const CommitStep& step : recorded)
        steps.push_back({step.tempName.IsEmpty() ? std::string() : folder + step.tempName.str(),
                         folder + step.finalName.str(), step.device, step.inode, step.size});
    const std::vector<std::string> lost = ExportCommit::RollForward(steps);
    try {
        m_cache.Begin();
        if (!lost.empty()) {
            XString names;
            for (const std::string& path : lost)
                names += (names.IsEmpty() ? "" : ", ") + XString(path.substr(folder.size()).c_str());
            Log(LogLevel::Warning, "The interrupted run's " + names +
                       " is no longer the file it wrote (removed or replaced): the attendance it carried will be "
                       "sent again.");
            m_cache.UndoBatch(batch);
        }
        m_cache.ClearCommit(batch);
        m_cache.Commit();
    } catch (const XException& e) {
        m_cache.Rollback();
        FailCache(e);
    }
    Log(LogLevel::Informational, "The interrupted run's export files are in place.");
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
    m_batch = 0;
    m_mode = Mode::Idle;
    // The update file's writer belongs to the caller and may be gone by now;
    // only the unfinished files themselves are removed.
    if (m_commit)
        m_commit->Discard();
    m_updateFile = nullptr;
}

void PDEWriter::RequireMode(bool allowed, const char* what)
{
    if (!allowed)
        LogAndThrow(LogLevel::Critical, what);
}

ExportCommit& PDEWriter::RunCommit()
{
    if (!m_commit)
        m_commit = std::make_unique<ExportCommit>();
    return *m_commit;
}

XFileSpec PDEWriter::PendingExportFile(const XString& fileName, bool last)
{
    XFileSpec spec = m_pdeFolder;
    spec.AppendName(fileName);
    return RunCommit().Add(spec, last ? ExportCommit::Last : ExportCommit::Normal);
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
