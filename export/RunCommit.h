// The run commit: the files one run wrote under temporary names, the batch of
// the attendance marks its update file carries, and the record of both in the
// attendance cache of the export folder, so that they count as one step.
//
// In order: every file is written and flushed under its temporary name; the
// marks are committed in one cache transaction together with the record of
// every rename and removal of the commit and its batch number; the files are
// renamed onto their names and the folder flushed; the record is cleared.
// A run killed before the cache commit leaves nothing behind that counts
// (the temporary files are removed as leftovers, the marks never were). A
// run killed after it leaves the record, and the next run finishes it
// (Recover) before anything else: a temporary file still there is renamed,
// one already renamed is left, and a file that is neither (removed or
// replaced by someone) has the rows of its batch set to be sent again.
#pragma once

#include "cache/AttendanceCache.h"
#include "export/ExportCommit.h"
#include "log/LogLevel.h"
#include "util/XException.h"
#include "util/XFileSpec.h"
#include "util/XString.h"

#include <cstdint>
#include <memory>

class RunCommit
{
public:
    // What the commit needs from the run it belongs to.
    class Host
    {
    public:
        virtual ~Host() = default;
        // Opens the export folder's attendance cache unless it is open;
        // raises the run's failure when it cannot be opened.
        virtual void OpenCommitCache() = 0;
        // Raises a failure of the attendance cache as the run's failure.
        [[noreturn]] virtual void FailCommitCache(const XException& error) = 0;
        virtual void LogCommit(LogLevel::Level level, const XString& text) = 0;
    };

    // `folder` is the export folder; both it and `cache` outlive the part.
    RunCommit(Host& host, AttendanceCache& cache, const XFileSpec& folder);
    ~RunCommit();
    RunCommit(const RunCommit&) = delete;
    RunCommit& operator=(const RunCommit&) = delete;

    // The run's files, pending until Commit.
    ExportCommit& Files();
    // A new temporary file for `fileName` in the export folder that joins the
    // run's files; `last` ones are put in place after all others.
    XFileSpec PendingFile(const XString& fileName, bool last = false);
    // The batch number of this run's marks, taken at its first use inside
    // the transaction that Commit commits with the record of its files.
    int64_t Batch();

    // Puts every file of the run in place at once. The attendance cache
    // records the commit, and commits the marks of the run, before the first
    // rename. Raises when anything fails; the previous files and marks are
    // then as they were, or the record stays for the next run to finish.
    void Commit();
    // Finishes the commit of a run that was stopped in it. Runs before
    // anything else touches the export folder.
    void Recover();
    // A failed run: its batch is forgotten and its unfinished files removed.
    void Abandon();

private:
    class Journal;

    Host& m_host;
    AttendanceCache& m_cache;
    const XFileSpec& m_folder;
    std::unique_ptr<ExportCommit> m_files;
    // The batch of this run's marks; 0 until the first mark.
    int64_t m_batch = 0;
};
