// XFolderLock: flock on a lock file, taken without waiting.
#include "util/XFolderLock.h"

#include <QDir>
#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

XFolderLock::~XFolderLock()
{
    Release();
}

XFolderLock::Result XFolderLock::Acquire(const std::string& nativeFolder, std::string* error)
{
    Release();
    QDir().mkpath(QString::fromUtf8(nativeFolder.c_str()));
    const std::string path = nativeFolder + "/" + FileName;
    // Never through a planted link, never truncated: the file is only a
    // name to lock.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0640);
    if (fd < 0) {
        if (error)
            *error = std::string("Could not open the lock file ") + path + ": " + std::strerror(errno);
        return Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(fd);
        if (code == EWOULDBLOCK)
            return Busy;
        if (error)
            *error = std::string("Could not lock ") + path + ": " + std::strerror(code);
        return Failed;
    }
    m_fd = fd;
    return Locked;
}

bool XFolderLock::ReserveSpace(off_t bytes)
{
    // As much of it as the disk has now, halving down to one block.
    for (off_t size = bytes; m_fd >= 0 && size >= 4096; size /= 2) {
        if (::posix_fallocate(m_fd, 0, size) == 0)
            return size == bytes;
    }
    return false;
}

void XFolderLock::ReleaseSpace()
{
    if (m_fd >= 0 && ::ftruncate(m_fd, 0) != 0) {
        // Nothing to give back then; the status files try their own way.
    }
}

void XFolderLock::Release()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}
