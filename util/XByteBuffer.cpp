// XByteBuffer: granular growth and shrinking of a binary buffer.
#include "util/XByteBuffer.h"

#include <algorithm>
#include <cstring>

XByteBuffer::XByteBuffer(uint32_t granularity) : m_granularity(granularity == 0 ? 1 : granularity) {}

void XByteBuffer::SetLength(uint32_t length)
{
    uint64_t granules = (static_cast<uint64_t>(length) + m_granularity - 1) / m_granularity;
    size_t capacity = static_cast<size_t>(granules * m_granularity);
    if (capacity != m_data.size()) {
        // Too small, or at least one granule too large: reallocate to fit.
        std::vector<unsigned char> data(capacity, 0);
        size_t keep = std::min<size_t>(m_length, length);
        if (keep > 0)
            std::memcpy(data.data(), m_data.data(), keep);
        m_data.swap(data);
    } else if (length > m_length) {
        std::memset(m_data.data() + m_length, 0, length - m_length);
    }
    m_length = length;
}

void XByteBuffer::Set(const void* data, uint32_t length)
{
    SetLength(0);
    Append(data, length);
}

void XByteBuffer::Append(const void* data, uint32_t length)
{
    if (length == 0 || !data)
        return;
    uint32_t old = m_length;
    // Copy first: data may point into this buffer.
    std::vector<unsigned char> copy(static_cast<const unsigned char*>(data),
                                    static_cast<const unsigned char*>(data) + length);
    SetLength(old + length);
    std::memcpy(m_data.data() + old, copy.data(), length);
}
