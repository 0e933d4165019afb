// XFile: an open file with an optional 1024-byte read buffer for the byte-wise
// readers. Writes go to the OS at once.
#pragma once

#include <cstdint>

#include "util/XFileSpec.h"
#include "util/XString.h"

class XFile
{
public:
    enum Mode : int {
        ModeRead = 1,
        ModeWrite = 2,     // alone: create or truncate
        ModeAppend = 4,
    };
    static constexpr uint32_t ReadBufferSize = 1024;

    XFile() = default;
    XFile(const XFile&) = delete;
    XFile& operator=(const XFile&) = delete;
    ~XFile();                                   // closes an open file

    // ModeRead: the file must exist (raises "Could not open file ( %d ): %s"
    // with ENOENT otherwise); nothing is created. ModeWrite: the missing
    // folders are created and the file is created or truncated.
    void Open(const XFileSpec& spec, int mode, bool buffered = false);
    bool IsOpen() const { return m_fd >= 0; }
    void Close();

    // Delivers up to count bytes from the current position; fewer at the end.
    uint32_t Read(void* buffer, uint32_t count);
    void Write(const void* bytes, uint32_t count);
    void WriteText(const XString& text) { Write(text.GetText(), text.GetLength()); }
    void WriteText(const char* text);
    // Moves the position back by one byte (not before the start).
    void StepBack();

    uint64_t GetPosition() const { return m_position; }
    uint64_t GetSize() const { return m_size; }
    const XFileSpec& GetSpec() const { return m_spec; }
    int GetLastError() const { return m_lastError; }

private:
    uint32_t ReadDirect(void* buffer, uint32_t count);
    [[noreturn]] void RaiseReadError(int error);

    int m_fd = -1;
    XFileSpec m_spec;
    int m_mode = 0;
    uint64_t m_position = 0;
    uint64_t m_size = 0;
    bool m_buffered = false;
    unsigned char m_buffer[ReadBufferSize];
    uint64_t m_bufferStart = 0;                 // file window [start, end) in the buffer
    uint64_t m_bufferEnd = 0;
    int m_lastError = 0;
};
