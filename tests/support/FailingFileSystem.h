// A file system for tests that makes the Nth call of one kind fail (or run a
// hook first), to show what a failure at that step leaves on disk. Every
// other call goes to the real file system.
#pragma once

#include "util/XFileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <functional>

class FailingFileSystem : public XFileSystem
{
public:
    enum Kind { OpenCall, WriteCall, RenameCall, LinkCall, UnlinkCall, FlushCall, KindCount };

    // Call `nth` (from 1) of `kind` fails with `error`; 0 never fails.
    FailingFileSystem(Kind kind = OpenCall, int nth = 0, int error = EIO)
        : m_kind(kind), m_nth(nth), m_error(error)
    {
    }

    // Runs before call `nth` of `kind` instead of failing it.
    void OnCall(Kind kind, int nth, std::function<void()> hook)
    {
        m_kind = kind;
        m_nth = nth;
        m_hook = std::move(hook);
    }

    int Calls(Kind kind) const { return m_calls[kind]; }
    bool Failed() const { return m_failed; }

    int Open(const char* path, int flags, mode_t mode) override
    {
        // Only opens that create or write: reading is not a step of a run.
        if ((flags & (O_WRONLY | O_RDWR)) && Hit(OpenCall))
            return -1;
        return XFileSystem::Open(path, flags, mode);
    }
    ssize_t WriteAt(int fd, const void* bytes, size_t count, off_t offset) override
    {
        return Hit(WriteCall) ? -1 : XFileSystem::WriteAt(fd, bytes, count, offset);
    }
    int Rename(const char* from, const char* to) override
    {
        return Hit(RenameCall) ? -1 : XFileSystem::Rename(from, to);
    }
    int Link(const char* from, const char* to) override
    {
        return Hit(LinkCall) ? -1 : XFileSystem::Link(from, to);
    }
    int Unlink(const char* path) override
    {
        return Hit(UnlinkCall) ? -1 : XFileSystem::Unlink(path);
    }
    int Flush(const char* path) override
    {
        return Hit(FlushCall) ? -1 : XFileSystem::Flush(path);
    }

private:
    bool Hit(Kind kind)
    {
        if (++m_calls[kind] != m_nth || kind != m_kind)
            return false;
        if (m_hook) {
            m_hook();
            return false;
        }
        m_failed = true;
        errno = m_error;
        return true;
    }

    Kind m_kind;
    int m_nth;
    int m_error;
    std::function<void()> m_hook;
    int m_calls[KindCount] = {};
    bool m_failed = false;
};
