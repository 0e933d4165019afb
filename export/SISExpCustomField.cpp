// Custom fields, kept once per key, and their header-file lines.
#include "export/SISExpCustomField.h"

#include "util/DelimitedTextWriter.h"

namespace {

int CompareKeys(const XString* a, const XString* b)
{
    return a->Compare(*b);
}

// The value as written: a quotation mark inside would end the quoted value early.
XString Unquoted(const XString& text)
{
    XString result = text;
    result.RemoveSet("\"");
    return result;
}

} // namespace

XString SISExpCustomField::FormatLine(bool commented) const
{
    XString line;
    if (commented)
        line += "//";
    line += Unquoted(m_type);
    line += " \"";
    line += Unquoted(m_key);
    line += "\" \"";
    line += Unquoted(m_title);
    line += "\" \"";
    line += Unquoted(m_format);
    line += "\"\r\n";
    return line;
}

SISExpCustomFieldList::SISExpCustomFieldList() : XVector<SISExpCustomField>(16), m_keys(16, CompareKeys) {}

SISExpCustomFieldList::~SISExpCustomFieldList()
{
    RemoveAll();
}

SISExpCustomField* SISExpCustomFieldList::Add(const XString& key, const XString& title,
                                              const XString& type, const XString& format, int flag)
{
    if (m_keys.Find(&key))
        return nullptr;
    m_keys.Add(new XString(key));
    auto* field = new SISExpCustomField(key, title, type, format, flag);
    XVector<SISExpCustomField>::Add(field);
    return field;
}

void SISExpCustomFieldList::WriteLines(DelimitedTextWriter& output, bool commented) const
{
    for (const SISExpCustomField* field : *this)
        output.WriteRaw(field->FormatLine(commented));
}

void SISExpCustomFieldList::RemoveAll()
{
    DeleteAll();
    m_keys.DeleteAll();
}
