// XByteBuffer: a growable block of binary bytes (binary field values). The
// capacity is always the length rounded up to a multiple of the granularity.
#pragma once

#include <cstdint>
#include <vector>

class XByteBuffer
{
public:
    explicit XByteBuffer(uint32_t granularity = 256);

    uint32_t GetLength() const { return m_length; }
    uint32_t GetCapacity() const { return static_cast<uint32_t>(m_data.size()); }
    unsigned char* GetData() { return m_data.data(); }
    const unsigned char* GetData() const { return m_data.data(); }

    // Keeps the first bytes; new bytes are zero. Reallocates when the capacity
    // is too small or at least one granule too large.
    void SetLength(uint32_t length);
    void Set(const void* data, uint32_t length);
    void Append(const void* data, uint32_t length);
    void Clear() { SetLength(0); }

private:
    std::vector<unsigned char> m_data;   // size() is the capacity
    uint32_t m_length = 0;
    uint32_t m_granularity;
};
