// XFileSpec: path setting and joining in the backslash form, and the file
// system operations on a spec (exists, create, delete), done through POSIX
// calls on the '/' form of the path.
#include "util/XFileSpec.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/XException.h"
#include "util/XFolderIterator.h"

namespace {

std::string WithoutTrailingSlash(std::string path)
{
    if (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

XFileSpec::XFileSpec(const char* path)
{
    std::string text(path ? path : "");
    // ".\data\x.pef" names data\x.pef: drop the leading points and backslashes.
    if (text.size() >= 2 && text[0] == '.' && text[1] == '\\') {
        size_t skip = text.find_first_not_of(".\\");
        text.erase(0, skip == std::string::npos ? text.size() : skip);
    }
    for (char& c : text)
        if (c == '/')
            c = '\\';
    if (!text.empty() && text[0] == '.')
        XException::RaiseError(XErrorKind::InputOutput, 0, "No support for relative paths: %s", text.c_str());
    SetRaw(XString(text.c_str()));
}

XFileSpec XFileSpec::FromNativePath(const std::string& nativePath)
{
    return XFileSpec(nativePath.c_str());
}

void XFileSpec::SetRaw(const XString& path)
{
    // Never cut a path silently: a cut path names another file.
    if (path.GetLength() > MaxPath)
        XException::RaiseError(XErrorKind::InputOutput, 0, "Path too long (%u bytes, maximum %u): %s", path.GetLength(), MaxPath,
                               path.GetText());
    m_path = path;
    SetFilePart();
}

void XFileSpec::SetFilePart()
{
    const std::string& p = m_path.str();
    size_t slash = p.rfind('\\');
    if (p.empty())
        m_filePart = -1;
    else if (slash == std::string::npos)
        m_filePart = 0;
    else if (slash + 1 < p.size())
        m_filePart = static_cast<int32_t>(slash + 1);
    else
        m_filePart = -1;
}

bool XFileSpec::IsFolder() const
{
    return !m_path.IsEmpty() && m_path.str().back() == '\\';
}

XString XFileSpec::GetFilePart() const
{
    return m_filePart < 0 ? XString() : m_path.From(static_cast<uint32_t>(m_filePart));
}

XString XFileSpec::GetExtension() const
{
    XString file = GetFilePart();
    size_t point = file.str().rfind('.');
    return point == std::string::npos ? XString() : file.From(static_cast<uint32_t>(point + 1));
}

std::string XFileSpec::ToNativePath() const
{
    std::string native = m_path.str();
    for (char& c : native)
        if (c == '\\')
            c = '/';
    return native;
}

XFileSpec& XFileSpec::AppendName(const char* name)
{
    const std::string& p = m_path.str();
    size_t slash = p.rfind('\\');
    std::string head = slash == std::string::npos ? p + '\\' : p.substr(0, slash + 1);
    if (!name || !*name) {
        // No name: cut after the last backslash, leaving a folder spec.
        SetRaw(XString(slash == std::string::npos ? "" : head.c_str()));
        return *this;
    }
    size_t nameLength = std::strlen(name);
    if (head.size() + nameLength > MaxPath) {
        unsigned fits = head.size() >= MaxPath ? 0u : static_cast<unsigned>(MaxPath - head.size());
        XException::RaiseError(XErrorKind::InputOutput, 0, "Appended length (%u) would make path length exceed maximum %u.",
                               static_cast<unsigned>(nameLength), fits);
    }
    SetRaw(XString((head + name).c_str()));
    return *this;
}

XFileSpec& XFileSpec::AppendFolder(const char* name)
{
    AppendName(name);
    return EnsureTrailingBackslash();
}

XFileSpec& XFileSpec::EnsureTrailingBackslash()
{
    if (!IsFolder())
        SetRaw(m_path + "\\");
    return *this;
}

XFileSpec XFileSpec::GetParent() const
{
    std::string p = m_path.str();
    if (IsFolder())
        p.pop_back();
    size_t slash = p.rfind('\\');
    XFileSpec parent;
    if (slash != std::string::npos)
        parent.SetRaw(XString(p.substr(0, slash + 1).c_str()));
    return parent;
}

bool XFileSpec::Exists() const
{
    if (IsEmpty())
        return false;
    struct stat st;
    // lstat: a link counts as existing even when its target does not.
    return lstat(ToNativePath().c_str(), &st) == 0;
}

void XFileSpec::Create() const
{
    if (Exists())
        return;
    if (IsFolder()) {
        std::string withoutSlash = m_path.str().substr(0, m_path.GetLength() - 1);
        bool foundBackslash = withoutSlash.rfind('\\') != std::string::npos;
        XFileSpec parent = GetParent();
        if (!parent.Exists()) {
            if (!foundBackslash)
                XException::RaiseError(XErrorKind::InputOutput, 0, "Error creating folder, volume does not exist: %s",
                                       withoutSlash.c_str());
            parent.Create();
        }
        // A failure shows up when the folder is used.
        mkdir(WithoutTrailingSlash(ToNativePath()).c_str(), 0750);
        return;
    }
    int fd = open(ToNativePath().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
    if (fd < 0)
        XException::RaiseError(XErrorKind::InputOutput, errno, "Error creating spec: %s", GetPath());
    close(fd);
}

void XFileSpec::Delete() const
{
    if (!Exists())
        return;
    std::string native = WithoutTrailingSlash(ToNativePath());
    struct stat st;
    bool isLink = lstat(native.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    if (isLink || !IsFolder()) {
        // A link is removed itself, never followed. Deleting needs no write
        // permission on the file, so read-only files go as well.
        if (unlink(native.c_str()) != 0)
            XException::RaiseError(XErrorKind::InputOutput, errno, "Could not delete spec: %s", GetPath());
        return;
    }
    XFolderIterator entries(*this, "*.*", true);
    XFileSpec entry;
    for (bool more = entries.First(entry); more; more = entries.Next(entry))
        entry.Delete();
    // A folder that still holds a point-folder stays, as documented.
    rmdir(native.c_str());
}

void XFileSpec::PatternDelete(const char* pattern) const
{
    XFileSpec folder(*this);
    folder.EnsureTrailingBackslash();
    XFolderIterator entries(folder, pattern && *pattern ? pattern : "*.*", false);
    XFileSpec entry;
    for (bool more = entries.First(entry); more; more = entries.Next(entry))
        entry.Delete();
}

void XFileSpec::MoveTo(const XFileSpec& target) const
{
    if (std::rename(ToNativePath().c_str(), target.ToNativePath().c_str()) != 0)
        XException::RaiseError(XErrorKind::InputOutput, errno, "Could not rename %s to %s", GetPath(), target.GetPath());
}
