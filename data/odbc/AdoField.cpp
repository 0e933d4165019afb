// AdoField: column description and access to the current row's value.
#include "data/odbc/AdoField.h"

#include <algorithm>
#include <cctype>

#include "data/odbc/AdoError.h"
#include "data/odbc/AdoRecordset.h"

namespace {

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// Bytes a value of a fixed-size kind occupies.
long long FixedSize(AdoVarType kind)
{
    switch (kind) {
    case AdoVarType::I1:
    case AdoVarType::UI1:
        return 1;
    case AdoVarType::I2:
    case AdoVarType::UI2:
    case AdoVarType::Bool:
        return 2;
    case AdoVarType::I4:
    case AdoVarType::UI4:
    case AdoVarType::R4:
    case AdoVarType::Int:
    case AdoVarType::UInt:
        return 4;
    case AdoVarType::Decimal:
        return 16;
    default:
        return 8;
    }
}

}  // namespace

AdoField::AdoField(AdoRecordset* owner, long index, std::string name, const AdoTypeMapping& mapping, int sqlType,
                   long long definedSize, int numericScale, bool nullable)
    : m_owner(owner),
      m_index(index),
      m_name(std::move(name)),
      m_mapping(mapping),
      m_sqlType(sqlType),
      m_definedSize(definedSize),
      m_numericScale(numericScale)
{
    if (mapping.isLong)
        m_attributes |= adFldLong;
    if (mapping.valueKind != AdoVarType::String && mapping.valueKind != AdoVarType::ByteArray)
        m_attributes |= adFldFixed;
    if (nullable)
        m_attributes |= adFldIsNullable | adFldMayBeNull;
}

const AdoVariant& AdoField::Value() const
{
    return m_owner->CurrentValue(m_index);
}

long long AdoField::ActualSize() const
{
    const AdoVariant& v = Value();
    switch (v.Type()) {
    case AdoVarType::Null:
    case AdoVarType::Empty:
        return 0;
    case AdoVarType::String:
    case AdoVarType::ByteArray:
        return static_cast<long long>(v.Text().size());
    default:
        return FixedSize(v.Type());
    }
}

int AdoField::Status() const
{
    return Value().IsNull() ? adFieldIsNull : adFieldOK;
}

AdoVariant AdoField::GetChunk(long long size)
{
    const AdoVariant& v = Value();
    if (size < 0)
        throw AdoException(AdoCode::InvalidArgument, "AdoField::GetChunk", "GetChunk of a negative size on " + m_name);
    if (v.IsNull())
        return AdoVariant::Null();
    if (v.Type() != AdoVarType::String && v.Type() != AdoVarType::ByteArray)
        throw AdoException(AdoCode::InvalidArgument, "AdoField::GetChunk",
                           "GetChunk needs a text or binary field; " + m_name + " is neither");
    const std::string& bytes = v.Text();
    if (m_chunkOffset >= bytes.size() && !(bytes.empty() && m_chunkOffset == 0))
        return AdoVariant::Null();
    const size_t take = std::min(static_cast<size_t>(size), bytes.size() - m_chunkOffset);
    std::string part = bytes.substr(m_chunkOffset, take);
    // An empty value yields one empty chunk, then NULL.
    m_chunkOffset += std::max<size_t>(take, bytes.empty() ? 1 : 0);
    return v.Type() == AdoVarType::String ? AdoVariant::String(std::move(part)) : AdoVariant::Bytes(std::move(part));
}

void AdoFields::ThrowNoPosition(long index)
{
    throw AdoException(AdoCode::ItemNotFound, "AdoFields::Item",
                       AdoSystemMessage(AdoCode::ItemNotFound) + " (position " + std::to_string(index) + ")");
}

AdoField& AdoFields::Item(const std::string& name) const
{
    AdoField* field = Find(name);
    if (!field)
        throw AdoException(AdoCode::ItemNotFound, "AdoFields::Item",
                           AdoSystemMessage(AdoCode::ItemNotFound) + " (name " + name + ")");
    return *field;
}

AdoField* AdoFields::Find(const std::string& name) const
{
    for (const auto& field : m_fields) {
        if (SameName(field->Name(), name))
            return field.get();
    }
    return nullptr;
}
