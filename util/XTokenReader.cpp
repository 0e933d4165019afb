// XTokenReader: byte-wise token reading with quotes and stop sets.
#include "util/XTokenReader.h"

#include <cstring>
#include <string>

namespace {

bool IsLineEnd(int c)
{
    return c == '\r' || c == '\n';
}

bool InStopSet(const char* stopSet, int c)
{
    return c > 0 && stopSet && std::strchr(stopSet, c) != nullptr;
}

} // namespace

XTokenReader::XTokenReader(XFile& file, char separator, char quote)
    : m_file(file), m_separator(separator), m_quote(quote)
{
}

int XTokenReader::ReadByte()
{
    if (!m_file.IsOpen() || AtEnd())
        return -1;
    unsigned char byte;
    if (m_file.Read(&byte, 1) != 1)
        return -1;
    return byte;
}

int XTokenReader::Peek()
{
    int c = ReadByte();
    if (c >= 0)
        m_file.StepBack();
    return c;
}

bool XTokenReader::ReadToken(XString& token, const char* stopSet)
{
    m_lastStop = -1;
    token.Clear();
    int c = ReadByte();
    if (c < 0)
        return false;
    if (!InStopSet(stopSet, m_separator)) {
        while (c == static_cast<unsigned char>(m_separator))
            c = ReadByte();
        if (c < 0)
            return false;
    }
    if (IsLineEnd(c)) {
        m_file.StepBack();
        return false;
    }
    if (InStopSet(stopSet, c)) {
        m_lastStop = c;
        return true;
    }

    std::string collected;
    bool quoted = false;
    for (; c >= 0; c = ReadByte()) {
        if (IsLineEnd(c)) {
            // The line end belongs to the caller, even inside a quoted part.
            m_file.StepBack();
            break;
        }
        if (c == static_cast<unsigned char>(m_quote)) {
            quoted = !quoted;
            continue;
        }
        if (!quoted && InStopSet(stopSet, c)) {
            m_lastStop = c;
            break;
        }
        if ((c < ' ' && c != '\t') || c == 255)
            continue;
        collected.push_back(static_cast<char>(c));
    }
    token = collected.c_str();
    return true;
}

void XTokenReader::SkipLine()
{
    int c = ReadByte();
    while (c >= 0 && !IsLineEnd(c))
        c = ReadByte();
    while (c >= 0 && IsLineEnd(c))
        c = ReadByte();
    if (c >= 0)
        m_file.StepBack();
}
