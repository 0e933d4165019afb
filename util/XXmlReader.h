// XXmlReader: reads the files that XXmlWriter makes, one element with its
// attributes per line. Callers skip the line after each element.
#pragma once

#include "util/XFile.h"
#include "util/XFileSpec.h"
#include "util/XString.h"
#include "util/XTokenReader.h"

class XXmlReader
{
public:
    XXmlReader();
    XXmlReader(const XXmlReader&) = delete;
    XXmlReader& operator=(const XXmlReader&) = delete;

    // Opens the file (it must exist, else XException); with a root name,
    // true exactly when the first element is that root.
    bool Open(const XFileSpec& spec, const char* rootName);
    // Passes over closing tags and the declaration; false at the end of the
    // file or when no element starts on the current line.
    bool NextElement(XString& name);
    // False at the end of the start tag.
    bool NextAttribute(XString& name, XString& value);
    void SkipLine();
    void Close();

private:
    XFile m_file;
    XTokenReader m_tokens;
};
