// XXmlWriter: one element per line, written straight to the file.
#include "util/XXmlWriter.h"

#include "util/XException.h"

namespace {

const char* const kSchemaInstance = "http://www.w3.org/2001/XMLSchema-instance";

// Names are plain words: no blank, markup or control byte.
void CheckName(const char* name)
{
    bool ok = name && *name;
    for (const char* p = name; ok && *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        ok = c > ' ' && c != '"' && c != '<' && c != '>' && c != '/' && c != '=' && c != 255;
    }
    if (!ok)
        XException::RaiseError(XErrorKind::Internal, 0, "Invalid XML name: %s", name ? name : "");
}

// The reader keeps a quoted value byte for byte, except that it stops at a
// quotation mark or line end and drops control bytes and the byte 255.
void CheckValue(const char* name, const char* value)
{
    for (const char* p = value; p && *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '<' || (c < ' ' && c != '\t') || c == 255)
            XException::RaiseError(XErrorKind::Conversion, 0, "XML value of %s can't hold quotation marks, '<' or control bytes: %s",
                                   name, value);
    }
}

} // namespace

void XXmlWriter::StartDocument(const XFileSpec& spec, const char* rootName, bool declaration,
                               const char* nameSpace, const char* schemaLocation)
{
    CheckName(rootName);
    if (nameSpace)
        CheckValue("xmlns", nameSpace);
    if (schemaLocation)
        CheckValue("xsi:schemaLocation", schemaLocation);
    m_file.Open(spec, XFile::ModeWrite, false);
    m_root = rootName;
    if (declaration)
        m_file.WriteText("<?xml version=\"1.0\"?>\r\n\r\n");
    XString line("<");
    line += rootName;
    if (nameSpace)
        line += XString().Format(" xmlns=\"%s\"", nameSpace);
    if (schemaLocation)
        line += XString().Format(" xmlns:xsi=\"%s\" xsi:schemaLocation=\"%s\"", kSchemaInstance, schemaLocation);
    line += ">\r\n";
    m_file.WriteText(line);
}

void XXmlWriter::StartElement(const char* name)
{
    CheckName(name);
    m_file.WriteText(XString("<") + name);
}

void XXmlWriter::Attribute(const char* name, const char* value)
{
    CheckName(name);
    CheckValue(name, value);
    m_file.WriteText(XString().Format(" %s=\"%s\"", name, value ? value : ""));
}

void XXmlWriter::EndStartTag(bool empty)
{
    m_file.WriteText(empty ? "/>\r\n" : ">\r\n");
}

void XXmlWriter::EndElement(const char* name)
{
    CheckName(name);
    m_file.WriteText(XString().Format("</%s>\r\n", name));
}

void XXmlWriter::EndDocument()
{
    EndElement(m_root.GetText());
    m_file.Close();
}
