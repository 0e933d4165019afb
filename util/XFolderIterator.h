// XFolderIterator: walks the entries of one folder that match a name pattern
// ('*' and '?', case-insensitive; "*.*" matches every name). Files come back
// as file specs; with folders included, folders not beginning with a point
// come back as folder specs ending in a backslash. Entries come in name order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/XFileSpec.h"

class XFolderIterator
{
public:
    // Entry attributes.
    enum Attribute : uint32_t {
        AttrReadOnly = 0x1,
        AttrDirectory = 0x10,
        AttrSymLink = 0x400,   // a link; never reported as a folder, so never followed
    };

    XFolderIterator(const XFileSpec& folder, const char* pattern = "*.*", bool includeFolders = false);

    // False when nothing matches (also when the folder does not exist).
    bool First(XFileSpec& entry, uint32_t* attributes = nullptr);
    // False at the end, which closes the search.
    bool Next(XFileSpec& entry, uint32_t* attributes = nullptr);

    static bool MatchesPattern(const char* pattern, const char* name);

private:
    struct Entry {
        std::string name;
        uint32_t attributes;
    };

    bool Take(XFileSpec& entry, uint32_t* attributes);

    XFileSpec m_folder;
    XString m_pattern;
    bool m_includeFolders;
    std::vector<Entry> m_entries;
    size_t m_next = 0;
};
