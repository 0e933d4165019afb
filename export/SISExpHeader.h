// The declaration of one export table as the importer sees it: its display
// name, its table file and the header field names of its columns. The import
// header file and the update-file sections are written from these.
#pragma once

#include "util/XString.h"

#include <memory>
#include <vector>

// One header field name. A name may end in "!'value'", a value the importer
// uses for the field; it is part of the name and never interpreted here.
class SISExpHeaderField
{
public:
    explicit SISExpHeaderField(const XString& name) : m_name(name) {}
    virtual ~SISExpHeaderField() = default;

    const XString& GetName() const { return m_name; }

private:
    XString m_name;
};

class SISExpHeader
{
public:
    SISExpHeader(const XString& displayName, const XString& fileName, int safeInclude)
        : m_displayName(displayName), m_fileName(fileName), m_safeInclude(safeInclude) {}
    SISExpHeader(const SISExpHeader&) = delete;
    SISExpHeader& operator=(const SISExpHeader&) = delete;
    virtual ~SISExpHeader() = default;

    const XString& GetDisplayName() const { return m_displayName; }
    // Relative to the PDE folder, e.g. "Teachers.pef".
    const XString& GetFileName() const { return m_fileName; }
    // Non-zero: the header file refers to the table with #safeinclude.
    int GetSafeInclude() const { return m_safeInclude; }

    void AddField(const XString& name) { m_fields.push_back(std::make_unique<SISExpHeaderField>(name)); }
    size_t GetFieldCount() const { return m_fields.size(); }
    const SISExpHeaderField& GetField(size_t index) const { return *m_fields[index]; }

    // The field names joined by one TAB (no line end).
    XString JoinFieldNames() const;

private:
    XString m_displayName;
    XString m_fileName;
    int m_safeInclude = 0;
    std::vector<std::unique_ptr<SISExpHeaderField>> m_fields;
};
