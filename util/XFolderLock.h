// XFolderLock: an exclusive lock on a folder for the life of the process (or
// of the object), so that two runs never write into the same export folder
// at once. The lock is an flock on a lock file inside the folder: the system
// releases it when the process ends, however it ends, so a killed run never
// blocks the next one. The lock file itself stays; it holds nothing.
#pragma once

#include <string>

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
    bool IsLocked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};
