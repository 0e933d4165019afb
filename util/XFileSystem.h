// XFileSystem: the few file-system calls that create, fill, rename and remove
// the program's output files, behind one interface. The real implementation
// calls POSIX; a test installs its own for a while (XFileSystem::Scope) to make
// the Nth write or rename fail and show what a failed run leaves behind.
#pragma once

#include <string>
#include <sys/types.h>

class XFileSystem
{
public:
    virtual ~XFileSystem() = default;

    // As open(2), pwrite(2), rename(2), link(2) and unlink(2): -1 with errno
    // set on failure.
    virtual int Open(const char* path, int flags, mode_t mode);
    virtual ssize_t WriteAt(int fd, const void* bytes, size_t count, off_t offset);
    virtual int Rename(const char* from, const char* to);
    virtual int Link(const char* from, const char* to);
    virtual int Unlink(const char* path);
    // Flushes the file or folder at `path` to the disk (fdatasync(2) for a
    // file, fsync(2) for a folder, whose entries a rename changed): -1 with
    // errno set on failure. A rename is durable only once the renamed file
    // was flushed before it and its folder after it.
    virtual int Flush(const char* path);

    // The file system in use: the real one unless a Scope replaced it.
    static XFileSystem& Current();

    // Installs `fileSystem` until the scope ends (single-threaded tests).
    class Scope
    {
    public:
        explicit Scope(XFileSystem& fileSystem);
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
        ~Scope();

    private:
        XFileSystem* m_previous;
    };

    // Creates a new file beside `finalPath`, named finalPath + "." + six
    // random characters + ".part", exclusively (an existing name, a planted
    // symbolic link included, is never opened) and returns its path; the
    // file is empty and closed. Raises XException when no name could be made.
    static std::string CreateUniqueTemp(const std::string& finalPath);
    // Whether `name` (a file name without folder) has the form of such a
    // temporary file.
    static bool IsUniqueTempName(const std::string& name);

    // The folder that holds `path` ("." for a bare name).
    static std::string FolderOf(const std::string& path);

    // Replaces the file at `path` with `bytes` through a unique temporary file
    // and a rename: a symbolic link planted at `path` is replaced, never
    // followed, and readers see the old or the new content, never a part,
    // also after a power cut (the file is flushed before the rename and the
    // folder after it).
    // False with `error` set when it failed; the old file is then unchanged.
    static bool ReplaceFile(const std::string& path, const std::string& bytes, std::string* error = nullptr);
    // Writes `bytes` over the existing regular file at `path` (never a link,
    // never creating one) and flushes it: the last resort where the folder
    // takes no new file but the file itself may be written. False with
    // `error` set when it failed.
    static bool OverwriteFile(const std::string& path, const std::string& bytes, std::string* error = nullptr);
};
