// AdoRowStore: packing and unpacking of buffered rows.
#include "data/odbc/AdoRowStore.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// Rows are packed into blocks of this size (a larger row gets its own).
const size_t kBlockBytes = 1 << 20;

// The byte array kind does not fit in the one-byte kind code.
const unsigned char kByteArrayCode = 0xFF;

unsigned char KindCode(AdoVarType type)
{
    return type == AdoVarType::ByteArray ? kByteArrayCode : static_cast<unsigned char>(type);
}

AdoVarType KindOf(unsigned char code)
{
    return code == kByteArrayCode ? AdoVarType::ByteArray : static_cast<AdoVarType>(code);
}

bool IsText(AdoVarType type)
{
    return type == AdoVarType::String || type == AdoVarType::ByteArray;
}

bool IsSigned(AdoVarType type)
{
    return type == AdoVarType::I1 || type == AdoVarType::I2 || type == AdoVarType::I4 || type == AdoVarType::I8 ||
           type == AdoVarType::Int;
}

bool IsUnsigned(AdoVarType type)
{
    return type == AdoVarType::UI1 || type == AdoVarType::UI2 || type == AdoVarType::UI4 ||
           type == AdoVarType::UI8 || type == AdoVarType::UInt;
}

// Payload bytes of a value besides its kind code (texts: besides the length).
size_t FixedBytes(AdoVarType type)
{
    switch (type) {
    case AdoVarType::Empty:
    case AdoVarType::Null:
        return 0;
    case AdoVarType::Bool:
        return 1;
    case AdoVarType::Date:
        return 9;   // year 2, month to second 5, millisecond 2
    case AdoVarType::Decimal:
        return 14;  // low 8, high 4, scale 1, sign 1
    default:
        return 8;   // integers, floats, currency
    }
}

size_t LengthBytes(size_t length)
{
    size_t bytes = 1;
    while (length >= 0x80) {
        length >>= 7;
        ++bytes;
    }
    return bytes;
}

template <typename T>
unsigned char* Put(unsigned char* p, T value)
{
    std::memcpy(p, &value, sizeof value);
    return p + sizeof value;
}

template <typename T>
const unsigned char* Get(const unsigned char* p, T& value)
{
    std::memcpy(&value, p, sizeof value);
    return p + sizeof value;
}

unsigned char* PutLength(unsigned char* p, size_t length)
{
    while (length >= 0x80) {
        *p++ = static_cast<unsigned char>(length | 0x80);
        length >>= 7;
    }
    *p++ = static_cast<unsigned char>(length);
    return p;
}

const unsigned char* GetLength(const unsigned char* p, size_t& length)
{
    length = 0;
    for (int shift = 0;; shift += 7) {
        const unsigned char byte = *p++;
        length |= static_cast<size_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return p;
    }
}

size_t PackedBytes(const AdoVariant& value)
{
    if (IsText(value.Type()))
        return 1 + LengthBytes(value.Text().size()) + value.Text().size();
    return 1 + FixedBytes(value.Type());
}

unsigned char* Pack(unsigned char* p, const AdoVariant& value)
{
    const AdoVarType type = value.Type();
    *p++ = KindCode(type);
    if (IsText(type)) {
        const std::string& text = value.Text();
        p = PutLength(p, text.size());
        std::memcpy(p, text.data(), text.size());
        return p + text.size();
    }
    if (IsSigned(type))
        return Put(p, value.AsInt64());
    if (IsUnsigned(type))
        return Put(p, value.AsUInt64());
    switch (type) {
    case AdoVarType::R4:
    case AdoVarType::R8:
        return Put(p, value.AsDouble());
    case AdoVarType::Currency:
        return Put(p, value.AsCurrency());
    case AdoVarType::Bool:
        return Put(p, static_cast<unsigned char>(value.AsBool()));
    case AdoVarType::Decimal: {
        const AdoDecimal d = value.AsDecimal();
        p = Put(p, d.lo64);
        p = Put(p, d.hi32);
        p = Put(p, d.scale);
        return Put(p, static_cast<unsigned char>(d.negative));
    }
    case AdoVarType::Date: {
        const AdoDateTime t = value.AsDate();
        p = Put(p, t.year);
        p = Put(p, t.month);
        p = Put(p, t.day);
        p = Put(p, t.hour);
        p = Put(p, t.minute);
        p = Put(p, t.second);
        return Put(p, t.millisecond);
    }
    default:
        return p;  // Empty and Null have no payload
    }
}

const unsigned char* Unpack(const unsigned char* p, AdoVariant& value)
{
    const AdoVarType type = KindOf(*p++);
    if (IsText(type)) {
        size_t length = 0;
        p = GetLength(p, length);
        value.ResetText(type).assign(reinterpret_cast<const char*>(p), length);
        return p + length;
    }
    if (IsSigned(type)) {
        int64_t v = 0;
        p = Get(p, v);
        value = AdoVariant::Integer(type, v);
        return p;
    }
    if (IsUnsigned(type)) {
        uint64_t v = 0;
        p = Get(p, v);
        value = AdoVariant::Unsigned(type, v);
        return p;
    }
    switch (type) {
    case AdoVarType::R4:
    case AdoVarType::R8: {
        double v = 0;
        p = Get(p, v);
        value = AdoVariant::Real(type, v);
        return p;
    }
    case AdoVarType::Currency: {
        int64_t v = 0;
        p = Get(p, v);
        value = AdoVariant::Currency(v);
        return p;
    }
    case AdoVarType::Bool:
        value = AdoVariant::Boolean(*p != 0);
        return p + 1;
    case AdoVarType::Decimal: {
        AdoDecimal d;
        unsigned char negative = 0;
        p = Get(p, d.lo64);
        p = Get(p, d.hi32);
        p = Get(p, d.scale);
        p = Get(p, negative);
        d.negative = negative != 0;
        value = AdoVariant::Decimal(d);
        return p;
    }
    case AdoVarType::Date: {
        AdoDateTime t;
        p = Get(p, t.year);
        p = Get(p, t.month);
        p = Get(p, t.day);
        p = Get(p, t.hour);
        p = Get(p, t.minute);
        p = Get(p, t.second);
        p = Get(p, t.millisecond);
        value = AdoVariant::Date(t);
        return p;
    }
    case AdoVarType::Null:
        value = AdoVariant::Null();
        return p;
    default:
        value = AdoVariant();
        return p;
    }
}

}  // namespace

unsigned char* AdoRowStore::Reserve(size_t bytes)
{
    if (bytes > m_left) {
        const size_t size = std::max(kBlockBytes, bytes);
        m_blocks.emplace_back(new unsigned char[size]);
        m_blockBytes += size;
        m_free = m_blocks.back().get();
        m_left = size;
    }
    unsigned char* start = m_free;
    m_free += bytes;
    m_left -= bytes;
    return start;
}

void AdoRowStore::Append(const std::vector<AdoVariant>& row)
{
    size_t bytes = 0;
    for (const AdoVariant& value : row)
        bytes += PackedBytes(value);
    m_valuesPerRow = row.size();
    // Room in the index first: a failed allocation leaves no half-written row.
    if (m_rows.size() == m_rows.capacity())
        m_rows.reserve(std::max<size_t>(64, m_rows.capacity() * 2));
    unsigned char* p = Reserve(bytes);
    m_rows.push_back(p);
    for (const AdoVariant& value : row)
        p = Pack(p, value);
}

void AdoRowStore::Read(size_t index, std::vector<AdoVariant>& row) const
{
    row.resize(m_valuesPerRow);
    const unsigned char* p = m_rows[index];
    for (AdoVariant& value : row)
        p = Unpack(p, value);
}

size_t AdoRowStore::HeldBytes() const
{
    return m_blockBytes + m_blocks.capacity() * sizeof(m_blocks[0]) + m_rows.capacity() * sizeof(m_rows[0]);
}

void AdoRowStore::Clear()
{
    std::vector<std::unique_ptr<unsigned char[]>>().swap(m_blocks);
    std::vector<const unsigned char*>().swap(m_rows);
    m_valuesPerRow = 0;
    m_blockBytes = 0;
    m_free = nullptr;
    m_left = 0;
}
