// ExportCommit: the files of one run, replaced together. Every export file is
// written under a unique temporary name beside its final name; only when the
// whole run has succeeded does Commit move them onto their final names (the
// files added as "last" at the end, so the import header file never lists a
// table file that is not in place) and remove the files this run retired.
//
// A journal (the attendance cache) records the steps durably, together with
// what depends on the files being in place (the marks of the attendance rows
// the update file carries), once every temporary file is on the disk and
// before the first rename. From then on the commit goes forward: a run killed
// half-way leaves the record, and the next run finishes the steps
// (RollForward). A step that fails in the running commit puts back every
// file it had already changed and has the journal undo its record, so the
// folder holds either the whole previous set or the whole new one.
#pragma once

#include "util/XFileSpec.h"

#include <cstdint>
#include <string>
#include <vector>

class ExportCommit
{
public:
    enum Order { Normal, Last };

    // One step as the journal records it: `tempPath` goes to `finalPath`;
    // with no temporary file, the final file is removed. The identity of
    // the temporary file (device, inode, size) tells it again under its
    // final name.
    struct Step
    {
        std::string tempPath;
        std::string finalPath;
        int64_t device = 0;
        int64_t inode = 0;
        int64_t size = 0;
    };

    class Journal
    {
    public:
        virtual ~Journal() = default;
        // Makes `steps` durable with whatever goes with the files being in
        // place; raises when it could not, and the commit then stops with
        // nothing changed.
        virtual void Record(const std::vector<Step>& steps) = 0;
        // Every step is done and on the disk: the record can go. A failure
        // here is the journal's own to report; the files are in place.
        virtual void Done() = 0;
        // A step after Record failed and the files were put back: undo what
        // Record made durable. Raises when it could not, and the record
        // then stays for the next run to finish.
        virtual void Undo() = 0;
    };

    ExportCommit() = default;
    ExportCommit(const ExportCommit&) = delete;
    ExportCommit& operator=(const ExportCommit&) = delete;
    // Removes the temporary files of a commit that never happened.
    ~ExportCommit();

    // Creates a new empty temporary file for `finalSpec` and returns it; the
    // caller writes it and closes it before Commit. Adding a final name again
    // drops its earlier temporary file.
    XFileSpec Add(const XFileSpec& finalSpec, Order order = Normal);
    // Forgets `finalSpec` and removes its temporary file: a file that failed
    // half-way is never committed.
    void Drop(const XFileSpec& finalSpec);
    // `finalSpec` is to be deleted by the commit (a file the run retired).
    void Remove(const XFileSpec& finalSpec);

    // Whether `finalSpec` is among the files added.
    bool Has(const XFileSpec& finalSpec) const;
    bool IsEmpty() const { return m_entries.empty(); }

    // Flushes every temporary file to the disk, has `journal` (when given)
    // record the steps, moves every file onto its final name and removes the
    // retired ones, flushes the folders, and tells the journal it is done.
    // All or nothing: raises XException naming the file that failed, with
    // the previous files in place.
    void Commit(Journal* journal = nullptr);
    // Removes every temporary file and forgets the set.
    void Discard();

    // Finishes the steps of a commit a run was stopped in, in order: a
    // temporary file still there is moved onto its final name, one already
    // moved is left, a retired file still there is removed; then the folders
    // are flushed. Returns the final names whose temporary file is gone
    // without the final file being the one it was (someone removed or
    // replaced it): what those files carried did not arrive. Raises when a
    // step fails.
    static std::vector<std::string> RollForward(const std::vector<Step>& steps);

    // Removes what an interrupted run left in `folder`: files whose names
    // have the form of the temporary files. Returns how many it removed.
    static int RemoveLeftovers(const XFileSpec& folder);

private:
    struct Entry
    {
        std::string finalPath;
        std::string tempPath;   // empty: the final file is removed
        Order order = Normal;
        std::string backupPath; // the previous final file while committing
        bool hadFinal = false;
        bool applied = false;
    };

    void Flush(const Entry& entry);
    void FlushFolders();
    void Backup(Entry& entry);
    void Apply(Entry& entry);
    void Restore(Entry& entry);
    Step Recorded(const Entry& entry) const;
    static void FlushFolders(const std::vector<std::string>& paths);

    std::vector<Entry> m_entries;
};
