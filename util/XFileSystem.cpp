// XFileSystem: the real POSIX calls, the test hook, and the unique temporary
// names shared by every writer that replaces a file.
#include "util/XFileSystem.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "util/XException.h"

namespace {

XFileSystem& RealFileSystem()
{
    static XFileSystem real;
    return real;
}

XFileSystem* g_current = nullptr;

const char kTempAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
const size_t kTempRandomLength = 6;
const char kTempSuffix[] = ".part";

std::string RandomPart()
{
    static std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof(kTempAlphabet) - 2);
    std::string part;
    for (size_t i = 0; i < kTempRandomLength; ++i)
        part += kTempAlphabet[pick(generator)];
    return part;
}

} // namespace

int XFileSystem::Open(const char* path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}

ssize_t XFileSystem::WriteAt(int fd, const void* bytes, size_t count, off_t offset)
{
    return ::pwrite(fd, bytes, count, offset);
}

int XFileSystem::Rename(const char* from, const char* to)
{
    return ::rename(from, to);
}

int XFileSystem::Link(const char* from, const char* to)
{
    return ::link(from, to);
}

int XFileSystem::Unlink(const char* path)
{
    return ::unlink(path);
}

int XFileSystem::Flush(const char* path)
{
    int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    // A folder reached through a symbolic link (a service's state folder, a
    // folder an administrator moved to another disk) is flushed where the
    // link leads: the renames happened there. A link to anything else stays
    // refused, so a planted link never makes a file look flushed.
    if (fd < 0 && errno == ELOOP) {
        fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 && errno == ENOTDIR)
            errno = ELOOP;
    }
    if (fd < 0)
        return -1;
    struct stat st;
    int result = ::fstat(fd, &st);
    if (result == 0)
        result = S_ISDIR(st.st_mode) ? ::fsync(fd) : ::fdatasync(fd);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return result;
}

std::string XFileSystem::FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

XFileSystem& XFileSystem::Current()
{
    return g_current ? *g_current : RealFileSystem();
}

XFileSystem::Scope::Scope(XFileSystem& fileSystem) : m_previous(g_current)
{
    g_current = &fileSystem;
}

XFileSystem::Scope::~Scope()
{
    g_current = m_previous;
}

std::string XFileSystem::CreateUniqueTemp(const std::string& finalPath)
{
    int error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = finalPath + "." + RandomPart() + kTempSuffix;
        // O_EXCL refuses any existing name, a symbolic link included, so the
        // file written is always one this run has just created.
        const int fd = Current().Open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        error = errno;
        if (error != EEXIST)
            break;
    }
    XException::RaiseError(XErrorKind::InputOutput, error, "Could not create a temporary file for %s: %s", finalPath.c_str(),
                           std::strerror(error));
}

bool XFileSystem::IsUniqueTempName(const std::string& name)
{
    const size_t suffix = sizeof(kTempSuffix) - 1;
    if (name.size() < suffix + kTempRandomLength + 2 || name.compare(name.size() - suffix, suffix, kTempSuffix) != 0)
        return false;
    const size_t dot = name.size() - suffix - kTempRandomLength - 1;
    if (name[dot] != '.')
        return false;
    for (size_t i = dot + 1; i < dot + 1 + kTempRandomLength; ++i)
        if (!std::strchr(kTempAlphabet, name[i]) || name[i] == '\0')
            return false;
    return true;
}

namespace {

// Opens `path` (which must exist and be no link) truncated and writes all of
// `bytes`; on failure `saved` holds the errno.
bool WriteWholeFile(XFileSystem& fs, const std::string& path, const std::string& bytes, int& saved)
{
    const int fd = fs.Open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0640);
    bool ok = fd >= 0;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t put = fs.WriteAt(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (put < 0 && errno == EINTR)
            continue;
        ok = put > 0;
        if (ok)
            done += static_cast<size_t>(put);
    }
    saved = ok ? 0 : errno;
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    return ok;
}

} // namespace

bool XFileSystem::ReplaceFile(const std::string& path, const std::string& bytes, std::string* error)
{
    std::string temp;
    try {
        temp = CreateUniqueTemp(path);
    } catch (const XException& e) {
        if (error)
            *error = e.what();
        return false;
    }
    XFileSystem& fs = Current();
    int saved = 0;
    bool ok = WriteWholeFile(fs, temp, bytes, saved);
    if (ok && (fs.Flush(temp.c_str()) != 0 || fs.Rename(temp.c_str(), path.c_str()) != 0)) {
        ok = false;
        saved = errno;
    }
    // Renamed but not yet durable: the new content is what readers see now,
    // so a failed folder flush is reported but nothing is undone.
    if (ok && fs.Flush(FolderOf(path).c_str()) != 0) {
        if (error)
            *error = std::string("Could not flush the folder of ") + path + ": " + std::strerror(errno);
        return false;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        if (error)
            *error = std::string("Could not write ") + path + ": " + std::strerror(saved);
    }
    return ok;
}

bool XFileSystem::OverwriteFile(const std::string& path, const std::string& bytes, std::string* error)
{
    int saved = 0;
    bool ok = WriteWholeFile(Current(), path, bytes, saved);
    if (ok && Current().Flush(path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok && error)
        *error = std::string("Could not write ") + path + ": " + std::strerror(saved);
    return ok;
}
