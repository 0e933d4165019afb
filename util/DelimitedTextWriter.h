// DelimitedTextWriter: writes the export's text files, one record per line,
// fields separated by one separator byte (TAB), lines ended by CR LF. Bytes
// are written unchanged, except that a TAB, CR or LF inside a field becomes a
// blank so that a value can never break the line structure.
//
// Output is buffered for speed. The buffer is flushed when it fills, on
// Flush, on Close and by the destructor, so after a failure the file holds
// every line the caller finished. Close reports a failed flush as
// XException; the destructor cannot throw and reports it through qWarning.
#pragma once

#include <string>

#include "util/XFile.h"
#include "util/XFileSpec.h"
#include "util/XString.h"

class DelimitedTextWriter
{
public:
    // The quote sets are accepted for symmetry with the token reader;
    // writing never quotes.
    explicit DelimitedTextWriter(char separator = '\t', const char* openQuotes = nullptr,
                                 const char* closeQuotes = nullptr);
    DelimitedTextWriter(const DelimitedTextWriter&) = delete;
    DelimitedTextWriter& operator=(const DelimitedTextWriter&) = delete;
    ~DelimitedTextWriter();

    // Creates or truncates the file (and its missing folders); raises
    // "Could not open file ( %d ): %s" on failure.
    void Open(const XFileSpec& spec);
    bool IsOpen() const { return m_file.IsOpen(); }
    const XFileSpec& GetSpec() const { return m_file.GetSpec(); }

    // Separator first unless at line start; TAB, CR and LF become blanks.
    void WriteField(const char* text);
    void WriteField(const XString& text);
    // A field of `length` bytes (up to the first NUL) as the clean text of a
    // value: white space trimmed at both ends, TABs dropped, CR and LF as
    // blanks. Goes straight into the line, without a copy of its own.
    void WriteCleanField(const char* text, size_t length);
    // CR LF; back to line start.
    void EndLine();
    // Bytes unchanged, line-start state unchanged.
    void WriteRaw(const char* text);
    void WriteRaw(const XString& text);

    void Flush();
    // Flushes and closes; a failure raises and the file is closed anyway.
    void Close();

    // The system's error of the last write that failed (errno), 0 when none
    // has since Open: tells a file the disk refused from other failures.
    int WriteError() const { return m_file.GetLastError(); }

private:
    void Append(const char* bytes, size_t count);

    XFile m_file;
    char m_separator;
    // The bytes that end a field's clean run: NUL, TAB, CR, LF and the separator.
    bool m_breaks[256] = {};
    bool m_atLineStart = true;
    std::string m_buffer;
};
