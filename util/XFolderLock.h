// XFolderLock: an exclusive lock on a folder for the life of the process (or
// of the object), so that two runs never write into the same export folder
// at once. The lock is an flock on a lock file inside the folder: the system
// releases it when the process ends, however it ends, so a killed run never
// blocks the next one. The lock file itself stays; while a run holds it, it
// may hold a little of the disk in reserve for the run's last writes.
#pragma once

#include <string>
#include <sys/types.h>

class XFolderLock
{
public:
    static constexpr const char* FileName = "BridgeRun.lock";

    XFolderLock() = default;
    XFolderLock(const XFolderLock&) = delete;
    XFolderLock& operator=(const XFolderLock&) = delete;
    ~XFolderLock();

    enum Result { Locked, Busy, Failed };
    // Creates `nativeFolder` when missing and takes the lock without waiting.
    // Busy: another process holds it. Failed: `error` says why.
    Result Acquire(const std::string& nativeFolder, std::string* error = nullptr);
    void Release();

    // Keeps `bytes` of the folder's disk in the lock file, and gives them
    // back: a run that fills the disk still finds room for the status files
    // it writes last. Best effort: as much as the disk has now, false when
    // that is less than `bytes`.
    bool ReserveSpace(off_t bytes);
    void ReleaseSpace();

private:
    int m_fd = -1;
};
