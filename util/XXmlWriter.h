// XXmlWriter: writes the bridge's small configuration records, one element
// per line, nothing indented. Values are not escaped, so a value holding a
// quotation mark, '<', a line break or another control byte (or a name
// holding a blank or markup) is refused with an XException rather than
// written into a file the reader would misread.
#pragma once

#include "util/XFile.h"
#include "util/XFileSpec.h"
#include "util/XString.h"

class XXmlWriter
{
public:
    XXmlWriter() = default;

    // Opens (creates or truncates) the file and writes the optional
    // declaration and the root start tag.
    void StartDocument(const XFileSpec& spec, const char* rootName, bool declaration,
                       const char* nameSpace = nullptr, const char* schemaLocation = nullptr);
    void StartElement(const char* name);                     // "<name"
    void Attribute(const char* name, const char* value);      // ' name="value"'
    void EndStartTag(bool empty);                            // "/>" or ">", CR LF
    void EndElement(const char* name);                       // "</name>", CR LF
    // Closes the root element and the file.
    void EndDocument();

private:
    XFile m_file;
    XString m_root;
};
