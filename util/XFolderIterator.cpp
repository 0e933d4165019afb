// XFolderIterator: folder entries through opendir/lstat, matched against a
// wildcard pattern and handed out in name order.
#include "util/XFolderIterator.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <string>
#include <sys/stat.h>

XFolderIterator::XFolderIterator(const XFileSpec& folder, const char* pattern, bool includeFolders)
    : m_folder(folder), m_pattern(pattern && *pattern ? pattern : "*.*"), m_includeFolders(includeFolders)
{
    m_folder.EnsureTrailingBackslash();
}

bool XFolderIterator::MatchesPattern(const char* pattern, const char* name)
{
    // "*.*" means every name, also names without a point.
    if (std::string(pattern) == "*.*")
        return true;
    if (*pattern == '\0')
        return *name == '\0';
    if (*pattern == '*') {
        for (const char* rest = name;; ++rest) {
            if (MatchesPattern(pattern + 1, rest))
                return true;
            if (*rest == '\0')
                return false;
        }
    }
    if (*name == '\0')
        return false;
    if (*pattern != '?' &&
        std::tolower(static_cast<unsigned char>(*pattern)) != std::tolower(static_cast<unsigned char>(*name)))
        return false;
    return MatchesPattern(pattern + 1, name + 1);
}

bool XFolderIterator::First(XFileSpec& entry, uint32_t* attributes)
{
    m_entries.clear();
    m_next = 0;
    std::string native = m_folder.ToNativePath();
    DIR* dir = opendir(native.c_str());
    if (!dir)
        return false;
    while (dirent* item = readdir(dir)) {
        std::string name = item->d_name;
        if (name == "." || name == ".." || !MatchesPattern(m_pattern.GetText(), name.c_str()))
            continue;
        struct stat st;
        if (lstat((native + name).c_str(), &st) != 0)
            continue;
        uint32_t attrs = 0;
        if (S_ISLNK(st.st_mode))
            attrs |= AttrSymLink;
        else if (S_ISDIR(st.st_mode))
            attrs |= AttrDirectory;
        if (!(st.st_mode & S_IWUSR))
            attrs |= AttrReadOnly;
        m_entries.push_back(Entry{name, attrs});
    }
    closedir(dir);
    std::sort(m_entries.begin(), m_entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return Take(entry, attributes);
}

bool XFolderIterator::Next(XFileSpec& entry, uint32_t* attributes)
{
    return Take(entry, attributes);
}

bool XFolderIterator::Take(XFileSpec& entry, uint32_t* attributes)
{
    while (m_next < m_entries.size()) {
        const Entry& e = m_entries[m_next++];
        if (e.attributes & AttrDirectory) {
            if (!m_includeFolders || e.name[0] == '.')
                continue;
            entry = m_folder;
            entry.AppendFolder(e.name.c_str());
        } else {
            entry = m_folder;
            entry.AppendName(e.name.c_str());
        }
        if (attributes)
            *attributes = e.attributes;
        return true;
    }
    // The end closes the search.
    m_entries.clear();
    m_next = 0;
    return false;
}
