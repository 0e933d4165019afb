// DelimitedTextWriter: buffered writing of separated fields and CR LF lines.
#include "util/DelimitedTextWriter.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include <QtGlobal>

#include "util/XException.h"

namespace {

// Enough lines per system write that the call cost vanishes.
const size_t kFlushSize = 64 * 1024;

} // namespace

DelimitedTextWriter::DelimitedTextWriter(char separator, const char*, const char*)
    : m_separator(separator)
{
    for (const char byte : {'\0', '\t', '\r', '\n', separator})
        m_breaks[static_cast<unsigned char>(byte)] = true;
    m_buffer.reserve(kFlushSize + 1024);
}

DelimitedTextWriter::~DelimitedTextWriter()
{
    try {
        Close();
    } catch (const XException& e) {
        // A destructor cannot throw; say so rather than lose lines silently.
        qWarning("DelimitedTextWriter: %s", e.what());
    }
}

void DelimitedTextWriter::Open(const XFileSpec& spec)
{
    Close();
    m_file.Open(spec, XFile::ModeWrite, false);
    m_atLineStart = true;
    m_buffer.clear();
}

void DelimitedTextWriter::Append(const char* bytes, size_t count)
{
    if (!m_file.IsOpen())
        XException::RaiseError(XErrorKind::InputOutput, EBADF, "Error writing to file: %s", m_file.GetSpec().GetPath());
    m_buffer.append(bytes, count);
}

void DelimitedTextWriter::WriteField(const char* text)
{
    if (!m_file.IsOpen())
        XException::RaiseError(XErrorKind::InputOutput, EBADF, "Error writing to file: %s", m_file.GetSpec().GetPath());
    if (!m_atLineStart)
        m_buffer.push_back(m_separator);
    m_atLineStart = false;
    if (!text)
        return;
    // A separator, CR or LF inside a value would split the record; it
    // becomes a blank. One pass: clean runs are appended whole.
    const unsigned char* run = reinterpret_cast<const unsigned char*>(text);
    for (const unsigned char* p = run;; ++p) {
        if (!m_breaks[*p])
            continue;
        m_buffer.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
        if (*p == '\0')
            break;
        m_buffer.push_back(' ');
        run = p + 1;
    }
    if (m_buffer.size() >= 16 * kFlushSize)
        Flush();
}

void DelimitedTextWriter::WriteCleanField(const char* text, size_t length)
{
    if (!m_file.IsOpen())
        XException::RaiseError(XErrorKind::InputOutput, EBADF, "Error writing to file: %s", m_file.GetSpec().GetPath());
    if (!m_atLineStart)
        m_buffer.push_back(m_separator);
    m_atLineStart = false;
    if (const void* nul = std::memchr(text, '\0', length))
        length = static_cast<size_t>(static_cast<const char*>(nul) - text);
    const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    size_t begin = 0;
    while (begin < length && space(text[begin]))
        ++begin;
    while (length > begin && space(text[length - 1]))
        --length;
    size_t run = begin;
    for (size_t i = begin; i < length; ++i) {
        if (!m_breaks[static_cast<unsigned char>(text[i])])
            continue;
        m_buffer.append(text + run, i - run);
        if (text[i] != '\t')
            m_buffer.push_back(' ');
        run = i + 1;
    }
    m_buffer.append(text + run, length - run);
    if (m_buffer.size() >= 16 * kFlushSize)
        Flush();
}

void DelimitedTextWriter::WriteField(const XString& text)
{
    WriteField(text.GetText());
}

void DelimitedTextWriter::EndLine()
{
    Append("\r\n", 2);
    m_atLineStart = true;
    if (m_buffer.size() >= kFlushSize)
        Flush();
}

void DelimitedTextWriter::WriteRaw(const char* text)
{
    if (text)
        Append(text, std::strlen(text));
    if (m_buffer.size() >= kFlushSize)
        Flush();
}

void DelimitedTextWriter::WriteRaw(const XString& text)
{
    WriteRaw(text.GetText());
}

void DelimitedTextWriter::Flush()
{
    if (m_buffer.empty() || !m_file.IsOpen())
        return;
    std::string pending;
    pending.swap(m_buffer);
    m_buffer.reserve(kFlushSize + 1024);
    // On failure the pending bytes are dropped: the exception reports them.
    m_file.Write(pending.data(), static_cast<uint32_t>(pending.size()));
}

void DelimitedTextWriter::Close()
{
    if (!m_file.IsOpen())
        return;
    try {
        Flush();
    } catch (...) {
        m_file.Close();
        m_atLineStart = true;
        throw;
    }
    m_file.Close();
    m_atLineStart = true;
}
