// XXmlReader: element and attribute reading over the token reader.
#include "util/XXmlReader.h"

XXmlReader::XXmlReader() : m_tokens(m_file, ' ', '"') {}

bool XXmlReader::Open(const XFileSpec& spec, const char* rootName)
{
    m_file.Open(spec, XFile::ModeRead, true);
    if (!rootName || !*rootName)
        return true;
    XString name;
    bool found = NextElement(name);
    SkipLine();
    return found && name == rootName;
}

bool XXmlReader::NextElement(XString& name)
{
    name.Clear();
    for (;;) {
        XString before;
        if (!m_tokens.ReadToken(before, "<") || m_tokens.LastStop() != '<')
            return false;
        int next = m_tokens.Peek();
        if (next == '/' || next == '?') {
            SkipLine();
            continue;
        }
        // '/' ends the name too, so an element without attributes (<Item/>) reads as Item.
        return m_tokens.ReadToken(name, " />") && !name.IsEmpty();
    }
}

bool XXmlReader::NextAttribute(XString& name, XString& value)
{
    name.Clear();
    value.Clear();
    int next = m_tokens.Peek();
    if (next < 0 || next == '/' || next == '>')
        return false;
    if (!m_tokens.ReadToken(name, "=") || m_tokens.LastStop() != '=')
        return false;
    return m_tokens.ReadToken(value, " />");
}

void XXmlReader::SkipLine()
{
    m_tokens.SkipLine();
}

void XXmlReader::Close()
{
    m_file.Close();
}
