// ExportCommit: the all-or-nothing replacement of a run's export files.
//
// Commit works in passes. First every temporary file is flushed to the disk,
// so that a rename can never put in place a file whose content a power cut
// would lose. Then every final file that exists gets a second name (a hard
// link under a temporary name), which changes nothing the importer sees.
// Then the journal records the steps: from here on the commit goes forward.
// Then the temporary files are renamed onto their final names and retired
// files are unlinked, the "last" files at the end, each step one atomic call;
// and the folders are flushed, which makes the renames durable. When a step
// fails, the steps already done are undone in reverse from the second names
// and the journal undoes its record. Finally the journal is told the commit
// is done and the second names are removed.
#include "export/ExportCommit.h"

#include "util/XException.h"
#include "util/XFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Clearing away temporary names is not a step of the commit: a name left
// behind is removed by the next run (RemoveLeftovers).
void RemoveQuietly(const std::string& path)
{
    if (!path.empty())
        ::unlink(path.c_str());
}

} // namespace

ExportCommit::~ExportCommit()
{
    Discard();
}

XFileSpec ExportCommit::Add(const XFileSpec& finalSpec, Order order)
{
    const std::string finalPath = finalSpec.ToNativePath();
    const std::string tempPath = XFileSystem::CreateUniqueTemp(finalPath);
    Drop(finalSpec);
    Entry entry;
    entry.finalPath = finalPath;
    entry.tempPath = tempPath;
    entry.order = order;
    m_entries.push_back(entry);
    return XFileSpec::FromNativePath(tempPath);
}

void ExportCommit::Drop(const XFileSpec& finalSpec)
{
    const std::string finalPath = finalSpec.ToNativePath();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->finalPath == finalPath) {
            RemoveQuietly(it->tempPath);
            m_entries.erase(it);
            return;
        }
    }
}

void ExportCommit::Remove(const XFileSpec& finalSpec)
{
    Drop(finalSpec);
    Entry entry;
    entry.finalPath = finalSpec.ToNativePath();
    m_entries.push_back(entry);
}

bool ExportCommit::Has(const XFileSpec& finalSpec) const
{
    const std::string finalPath = finalSpec.ToNativePath();
    return std::any_of(m_entries.begin(), m_entries.end(),
                       [&](const Entry& entry) { return entry.finalPath == finalPath && !entry.tempPath.empty(); });
}

void ExportCommit::Flush(const Entry& entry)
{
    if (entry.tempPath.empty())
        return;
    if (XFileSystem::Current().Flush(entry.tempPath.c_str()) != 0) {
        const int error = errno;
        XException::RaiseError(XErrorKind::InputOutput, error, "Could not flush %s (written as %s): %s",
                               entry.finalPath.c_str(), entry.tempPath.c_str(), std::strerror(error));
    }
}

void ExportCommit::FlushFolders()
{
    std::vector<std::string> paths;
    for (const Entry& entry : m_entries)
        paths.push_back(entry.finalPath);
    FlushFolders(paths);
}

void ExportCommit::FlushFolders(const std::vector<std::string>& paths)
{
    std::vector<std::string> folders;
    for (const std::string& path : paths) {
        const std::string folder = XFileSystem::FolderOf(path);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    }
    for (const std::string& folder : folders) {
        if (XFileSystem::Current().Flush(folder.c_str()) != 0) {
            const int error = errno;
            XException::RaiseError(XErrorKind::InputOutput, error, "Could not flush the folder %s: %s", folder.c_str(),
                                   std::strerror(error));
        }
    }
}

ExportCommit::Step ExportCommit::Recorded(const Entry& entry) const
{
    Step step;
    step.tempPath = entry.tempPath;
    step.finalPath = entry.finalPath;
    struct stat st;
    if (!entry.tempPath.empty()) {
        if (lstat(entry.tempPath.c_str(), &st) != 0) {
            const int error = errno;
            XException::RaiseError(XErrorKind::InputOutput, error, "Could not read %s: %s", entry.tempPath.c_str(), std::strerror(error));
        }
        step.device = static_cast<int64_t>(st.st_dev);
        step.inode = static_cast<int64_t>(st.st_ino);
        step.size = static_cast<int64_t>(st.st_size);
    }
    return step;
}

void ExportCommit::Backup(Entry& entry)
{
    entry.hadFinal = Exists(entry.finalPath);
    if (!entry.hadFinal)
        return;
    // A second name for the previous file: linking creates the name
    // exclusively, so a planted name is never overwritten.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string backup = XFileSystem::CreateUniqueTemp(entry.finalPath);
        ::unlink(backup.c_str());
        if (XFileSystem::Current().Link(entry.finalPath.c_str(), backup.c_str()) == 0) {
            entry.backupPath = backup;
            return;
        }
        if (errno != EEXIST)
            break;
    }
    const int error = errno;
    XException::RaiseError(XErrorKind::InputOutput, error, "Could not keep the previous %s while replacing it: %s",
                           entry.finalPath.c_str(), std::strerror(error));
}

void ExportCommit::Apply(Entry& entry)
{
    XFileSystem& fs = XFileSystem::Current();
    if (entry.tempPath.empty()) {
        if (entry.hadFinal && fs.Unlink(entry.finalPath.c_str()) != 0) {
            const int error = errno;
            XException::RaiseError(XErrorKind::InputOutput, error, "Could not remove %s: %s", entry.finalPath.c_str(),
                                   std::strerror(error));
        }
    } else if (fs.Rename(entry.tempPath.c_str(), entry.finalPath.c_str()) != 0) {
        const int error = errno;
        XException::RaiseError(XErrorKind::InputOutput, error, "Could not replace file ( %d ): %s", error, entry.finalPath.c_str());
    }
    entry.applied = true;
}

void ExportCommit::Restore(Entry& entry)
{
    if (!entry.applied)
        return;
    XFileSystem& fs = XFileSystem::Current();
    if (entry.hadFinal) {
        if (fs.Rename(entry.backupPath.c_str(), entry.finalPath.c_str()) == 0)
            entry.backupPath.clear();
    } else if (!entry.tempPath.empty()) {
        fs.Unlink(entry.finalPath.c_str());
    }
    entry.applied = false;
}

void ExportCommit::Commit(Journal* journal)
{
    // The "last" files go at the end, each group in the order added.
    std::stable_partition(m_entries.begin(), m_entries.end(),
                          [](const Entry& entry) { return entry.order == Normal; });
    try {
        for (const Entry& entry : m_entries)
            Flush(entry);
        for (Entry& entry : m_entries)
            Backup(entry);
        if (journal) {
            std::vector<Step> steps;
            for (const Entry& entry : m_entries)
                steps.push_back(Recorded(entry));
            journal->Record(steps);
        }
    } catch (...) {
        Discard();
        throw;
    }

    size_t step = 0;
    try {
        for (; step < m_entries.size(); ++step)
            Apply(m_entries[step]);
        FlushFolders();
    } catch (...) {
        for (size_t i = step; i-- > 0;)
            Restore(m_entries[i]);
        bool undone = true;
        if (journal) {
            try {
                journal->Undo();
            } catch (...) {
                undone = false;
            }
        }
        if (undone) {
            Discard();
        } else {
            // The record stands, and the next run finishes from it: the
            // temporary files it names stay.
            for (Entry& entry : m_entries)
                RemoveQuietly(entry.backupPath);
            m_entries.clear();
        }
        throw;
    }
    if (journal)
        journal->Done();
    for (Entry& entry : m_entries)
        RemoveQuietly(entry.backupPath);
    m_entries.clear();
}

void ExportCommit::Discard()
{
    for (Entry& entry : m_entries) {
        if (!entry.applied)
            RemoveQuietly(entry.tempPath);
        RemoveQuietly(entry.backupPath);
    }
    m_entries.clear();
}

std::vector<std::string> ExportCommit::RollForward(const std::vector<Step>& steps)
{
    XFileSystem& fs = XFileSystem::Current();
    std::vector<std::string> lost;
    std::vector<std::string> paths;
    for (const Step& step : steps) {
        paths.push_back(step.finalPath);
        if (step.tempPath.empty()) {
            if (Exists(step.finalPath) && fs.Unlink(step.finalPath.c_str()) != 0) {
                const int error = errno;
                XException::RaiseError(XErrorKind::InputOutput, error, "Could not remove %s: %s", step.finalPath.c_str(),
                                       std::strerror(error));
            }
            continue;
        }
        if (Exists(step.tempPath)) {
            if (fs.Rename(step.tempPath.c_str(), step.finalPath.c_str()) != 0) {
                const int error = errno;
                XException::RaiseError(XErrorKind::InputOutput, error, "Could not replace file ( %d ): %s", error, step.finalPath.c_str());
            }
            continue;
        }
        struct stat st;
        const bool same = lstat(step.finalPath.c_str(), &st) == 0 && static_cast<int64_t>(st.st_dev) == step.device &&
                          static_cast<int64_t>(st.st_ino) == step.inode && static_cast<int64_t>(st.st_size) == step.size;
        if (!same)
            lost.push_back(step.finalPath);
    }
    FlushFolders(paths);
    return lost;
}

int ExportCommit::RemoveLeftovers(const XFileSpec& folder)
{
    std::string native = folder.ToNativePath();
    if (native.size() > 1 && native.back() == '/')
        native.pop_back();
    DIR* dir = opendir(native.c_str());
    if (!dir)
        return 0;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        if (XFileSystem::IsUniqueTempName(entry->d_name))
            names.push_back(entry->d_name);
    }
    closedir(dir);
    int removed = 0;
    for (const std::string& name : names) {
        const std::string path = native + "/" + name;
        struct stat st;
        // Only files and links: a folder of that name is not ours.
        if (lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && ::unlink(path.c_str()) == 0)
            ++removed;
    }
    return removed;
}
