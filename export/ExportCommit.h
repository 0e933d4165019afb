// ExportCommit: the files of one run, replaced together. Every export file is
// written under a unique temporary name beside its final name; only when the
// whole run has succeeded does Commit move them onto their final names (the
// files added as "last" at the end, so the import header file never lists a
// table file that is not in place), remove the files this run retired, and
// then run the actions that must follow a successful export. A failure at
// any step of the commit puts back every file it had already changed, so the
// folder holds either the whole previous set or the whole new one.
#pragma once

#include "util/XFileSpec.h"

#include <functional>
#include <string>
#include <vector>

class ExportCommit
{
public:
    enum Order { Normal, Last };

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
    // Runs `action` after a successful commit, in the order given.
    void AfterCommit(std::function<void()> action);

    // Whether `finalSpec` is among the files added.
    bool Has(const XFileSpec& finalSpec) const;
    bool IsEmpty() const { return m_entries.empty(); }

    // Moves every file onto its final name and removes the retired ones, all
    // or nothing, each file flushed to the disk before its rename and the
    // folder after the renames; raises XException naming the file that
    // failed. The after-commit actions run only when every file is in place.
    void Commit();
    // Removes every temporary file and forgets the set.
    void Discard();

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

    std::vector<Entry> m_entries;
    std::vector<std::function<void()>> m_afterCommit;
};
