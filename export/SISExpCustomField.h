// Custom fields: export fields without a fixed place in the importer's data
// model. Each is listed once per key in the import header file with its
// title, the importer tab it belongs to (type) and its format.
#pragma once

#include "util/XString.h"
#include "util/XVector.h"

class DelimitedTextWriter;

class SISExpCustomField
{
public:
    SISExpCustomField(const XString& key, const XString& title, const XString& type,
                      const XString& format, int flag)
        : m_key(key), m_title(title), m_type(type), m_format(format), m_flag(flag) {}
    virtual ~SISExpCustomField() = default;

    // The header-file line: type "key" "title" "format", quotation marks
    // inside the values dropped, CR LF at the end; "//" first when commented.
    XString FormatLine(bool commented) const;

private:
    XString m_key;
    XString m_title;
    XString m_type;
    XString m_format;
    int m_flag;
};

// The custom fields in the order they were added, at most one per key
// (keys compare byte-wise, so "email" and "Email" are two fields). Owns its
// fields.
class SISExpCustomFieldList : public XVector<SISExpCustomField>
{
public:
    SISExpCustomFieldList();
    ~SISExpCustomFieldList() override;

    // The new field, or nullptr when the key is already listed (the first
    // declaration of a key wins).
    SISExpCustomField* Add(const XString& key, const XString& title, const XString& type,
                           const XString& format, int flag);

    // One line per field, in list order, written raw.
    void WriteLines(DelimitedTextWriter& output, bool commented) const;

    // Forgets every field and key.
    void RemoveAll();

private:
    XVector<XString> m_keys;   // sorted copies of the keys, owned
};
