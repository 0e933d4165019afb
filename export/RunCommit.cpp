#include "export/RunCommit.h"

#include <string>
#include <vector>

// ExportCommit's journal: the attendance cache of the export folder.
class RunCommit::Journal : public ExportCommit::Journal
{
public:
    explicit Journal(RunCommit& run) : m_run(run) {}

    void Record(const std::vector<ExportCommit::Step>& steps) override
    {
        AttendanceCache& cache = m_run.m_cache;
        // A full export alone has no cache open yet; its files are recorded
        // all the same, so a run stopped among its renames is finished.
        m_run.m_host.OpenCommitCache();
        try {
            if (!cache.InTransaction())
                cache.Begin();
            std::vector<CommitStep> recorded;
            for (const ExportCommit::Step& step : steps)
                recorded.push_back({NameInFolder(step.tempPath), NameInFolder(step.finalPath), step.device,
                                    step.inode, step.size});
            cache.RecordCommit(m_run.Batch(), recorded);
            // The step after which the run's changes count as sent.
            cache.Commit();
        } catch (const XException& e) {
            cache.Rollback();
            m_run.m_host.FailCommitCache(e);
        }
    }

    void Done() override
    {
        try {
            m_run.m_cache.ClearCommit(m_run.m_batch);
        } catch (const XException& e) {
            // Every file is in place: the next run finds them so and clears
            // the record itself.
            m_run.m_host.LogCommit(LogLevel::Warning,
                                   XString("The record of the export files could not be cleared from the attendance "
                                           "cache; the next run clears it: ") +
                                       e.what());
        }
        m_run.m_batch = 0;
    }

    void Undo() override
    {
        AttendanceCache& cache = m_run.m_cache;
        try {
            cache.Begin();
            cache.UndoBatch(m_run.m_batch);
            cache.ClearCommit(m_run.m_batch);
            cache.Commit();
        } catch (const XException& e) {
            cache.Rollback();
            m_run.m_host.LogCommit(LogLevel::Error,
                                   XString("The marks of the export files that could not be put in place could not be "
                                           "undone; the next run finishes them: ") +
                                       e.what());
            throw;
        }
        m_run.m_batch = 0;
    }

private:
    // Every file of a commit lies in the export folder; the record keeps
    // its name only, so the folder may move between two runs.
    XString NameInFolder(const std::string& path) const
    {
        if (path.empty())
            return XString();
        const std::string folder = m_run.m_folder.ToNativePath();
        if (path.compare(0, folder.size(), folder) != 0 || path.find('/', folder.size()) != std::string::npos)
            XException::RaiseError(XErrorKind::Internal, 0, "An export file outside the export folder cannot be committed: %s",
                                   path.c_str());
        return XString(path.substr(folder.size()).c_str());
    }

    RunCommit& m_run;
};

RunCommit::RunCommit(Host& host, AttendanceCache& cache, const XFileSpec& folder)
    : m_host(host), m_cache(cache), m_folder(folder)
{
}

RunCommit::~RunCommit() = default;

ExportCommit& RunCommit::Files()
{
    if (!m_files)
        m_files = std::make_unique<ExportCommit>();
    return *m_files;
}

XFileSpec RunCommit::PendingFile(const XString& fileName, bool last)
{
    XFileSpec spec = m_folder;
    spec.AppendName(fileName);
    return Files().Add(spec, last ? ExportCommit::Last : ExportCommit::Normal);
}

int64_t RunCommit::Batch()
{
    if (m_batch == 0)
        m_batch = m_cache.NewBatch();
    return m_batch;
}

void RunCommit::Commit()
{
    // From the record on, a stop (SIGTERM included) no longer ends the run
    // half-way: the renames are finished, or undone with the marks.
    Journal journal(*this);
    Files().Commit(&journal);
}

void RunCommit::Recover()
{
    const XFileSpec file = AttendanceCache::DatabaseFile(m_folder);
    if (!file.Exists())
        return;
    m_host.OpenCommitCache();
    int64_t batch = 0;
    std::vector<CommitStep> recorded;
    try {
        if (!m_cache.PendingCommit(batch, recorded))
            return;
    } catch (const XException& e) {
        m_host.FailCommitCache(e);
    }

    m_host.LogCommit(LogLevel::Informational,
                     "An interrupted run left its export files under temporary names; putting them in place.");
    const std::string folder = m_folder.ToNativePath();
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
            m_host.LogCommit(LogLevel::Warning,
                             "The interrupted run's " + names +
                                 " is no longer the file it wrote (removed or replaced): the attendance it carried "
                                 "will be sent again.");
            m_cache.UndoBatch(batch);
        }
        m_cache.ClearCommit(batch);
        m_cache.Commit();
    } catch (const XException& e) {
        m_cache.Rollback();
        m_host.FailCommitCache(e);
    }
    m_host.LogCommit(LogLevel::Informational, "The interrupted run's export files are in place.");
}

void RunCommit::Abandon()
{
    m_batch = 0;
    // The update file's writer belongs to the caller and may be gone by now;
    // only the unfinished files themselves are removed.
    if (m_files)
        m_files->Discard();
}
