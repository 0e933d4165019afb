// XTokenReader: reads tokens byte by byte from a buffered XFile, up to a set
// of stop bytes, honouring quoted parts and never crossing a line end by
// itself. The XML reader is built on it.
#pragma once

#include "util/XFile.h"
#include "util/XString.h"

class XTokenReader
{
public:
    // The file must be open for reading, preferably buffered; it stays owned by the caller.
    explicit XTokenReader(XFile& file, char separator = ' ', char quote = '"');

    // False at the end of the file or at a line end (left in place). A first
    // byte in the stop set gives an empty token and is consumed.
    bool ReadToken(XString& token, const char* stopSet);
    // Next byte without consuming it; -1 at the end of the file.
    int Peek();
    // -1 at the end of the file.
    int ReadByte();
    void StepBack() { m_file.StepBack(); }
    bool AtEnd() const { return m_file.GetPosition() >= m_file.GetSize(); }
    // Up to the next CR or LF, then over every following CR and LF.
    void SkipLine();
    // The stop byte that ended the last token, or -1 (end of file or line).
    int LastStop() const { return m_lastStop; }

private:
    XFile& m_file;
    char m_separator;
    char m_quote;
    int m_lastStop = -1;
};
