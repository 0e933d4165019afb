// XFile: open, positioned reads through an optional 1024-byte window, and
// immediate writes, on a POSIX file descriptor.
#include "util/XFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/XException.h"
#include "util/XFileSystem.h"

XFile::~XFile()
{
    Close();
}

void XFile::Open(const XFileSpec& spec, int mode, bool buffered)
{
    Close();
    if (spec.IsEmpty() || spec.IsFolder())
        XException::RaiseError(XErrorKind::InputOutput, 0, "Can't open non-file: %s", spec.GetPath());

    XFileSpec parent = spec.GetParent();
    if (parent.IsEmpty())
        XException::RaiseError(XErrorKind::InputOutput, 0, "Error creating folder, volume does not exist: %s", "");
    bool readOnly = (mode & (ModeWrite | ModeAppend)) == 0;
    // Reading never creates anything: a missing file is an error, not an
    // empty file that hides the fault.
    if (!readOnly && !parent.Exists())
        parent.Create();

    // Writing never follows a symbolic link planted at the name: the bytes
    // would land in whatever file the link points to.
    int flags = O_CLOEXEC;
    if (readOnly)
        flags |= O_RDONLY;
    else if (mode == ModeWrite)
        flags |= O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW;
    else
        flags |= ((mode & ModeRead) ? O_RDWR : O_WRONLY) | O_CREAT | O_NOFOLLOW;

    int fd = XFileSystem::Current().Open(spec.ToNativePath().c_str(), flags, 0640);
    int error = fd < 0 ? errno : 0;
    struct stat st {};
    if (fd >= 0 && fstat(fd, &st) != 0) {
        error = errno;
        close(fd);
        fd = -1;
    }
    if (fd >= 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        fd = -1;
        error = EISDIR;
    }
    if (fd < 0) {
        m_lastError = error;
        XException::RaiseError(XErrorKind::InputOutput, error, "Could not open file ( %d ): %s", error, spec.GetPath());
    }

    m_fd = fd;
    m_spec = spec;
    m_mode = mode;
    m_buffered = buffered;
    m_bufferStart = m_bufferEnd = 0;
    m_position = 0;
    m_size = (mode & (ModeRead | ModeAppend)) ? static_cast<uint64_t>(st.st_size) : 0;
    m_lastError = 0;
    if ((mode & ModeAppend) && (mode & ModeWrite))
        m_position = m_size;
}

void XFile::Close()
{
    if (m_fd >= 0) {
        if (close(m_fd) != 0)
            m_lastError = errno;
        m_fd = -1;
    }
    m_bufferStart = m_bufferEnd = 0;
}

void XFile::RaiseReadError(int error)
{
    m_lastError = error;
    XException::RaiseError(XErrorKind::InputOutput, error, "Error reading from file: %s", m_spec.GetPath());
}

uint32_t XFile::ReadDirect(void* buffer, uint32_t count)
{
    uint32_t done = 0;
    while (done < count) {
        ssize_t got = pread(m_fd, static_cast<char*>(buffer) + done, count - done,
                            static_cast<off_t>(m_position + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            RaiseReadError(errno);
        }
        if (got == 0)
            break;
        done += static_cast<uint32_t>(got);
    }
    return done;
}

uint32_t XFile::Read(void* buffer, uint32_t count)
{
    if (m_fd < 0 || !(m_mode & ModeRead))
        RaiseReadError(EBADF);
    if (!m_buffered || count > ReadBufferSize) {
        uint32_t got = ReadDirect(buffer, count);
        m_position += got;
        return got;
    }
    char* out = static_cast<char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        if (m_position >= m_bufferStart && m_position < m_bufferEnd) {
            uint32_t available = static_cast<uint32_t>(m_bufferEnd - m_position);
            uint32_t take = std::min(available, count - done);
            std::memcpy(out + done, m_buffer + (m_position - m_bufferStart), take);
            done += take;
            m_position += take;
            continue;
        }
        // Refill the window from the current position.
        uint32_t got = ReadDirect(m_buffer, ReadBufferSize);
        m_bufferStart = m_position;
        m_bufferEnd = m_position + got;
        if (got == 0)
            break;
    }
    return done;
}

void XFile::Write(const void* bytes, uint32_t count)
{
    if (m_fd < 0 || !(m_mode & (ModeWrite | ModeAppend))) {
        m_lastError = EBADF;
        XException::RaiseError(XErrorKind::InputOutput, EBADF, "Error writing to file: %s", m_spec.GetPath());
    }
    const char* data = static_cast<const char*>(bytes);
    uint32_t done = 0;
    while (done < count) {
        ssize_t put = XFileSystem::Current().WriteAt(m_fd, data + done, count - done,
                                                    static_cast<off_t>(m_position));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            m_lastError = errno;
            XException::RaiseError(XErrorKind::InputOutput, m_lastError, "Error writing to file: %s: %s",
                                   m_spec.GetPath(), std::strerror(m_lastError));
        }
        done += static_cast<uint32_t>(put);
        m_position += static_cast<uint64_t>(put);
    }
    m_size = std::max(m_size, m_position);
    // The read window may hold bytes that were just overwritten.
    m_bufferStart = m_bufferEnd = 0;
}

void XFile::WriteText(const char* text)
{
    if (text)
        Write(text, static_cast<uint32_t>(std::strlen(text)));
}

void XFile::StepBack()
{
    if (m_position > 0)
        --m_position;
}

