// AdoField / AdoFields: the columns of a recordset. A field describes its
// column (name, data type code, attributes, defined size) and reads the value
// of the recordset's current row. Field objects belong to their recordset and
// stay valid until it is closed or opened again.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "data/odbc/AdoTypes.h"
#include "data/odbc/AdoVariant.h"

class AdoRecordset;

class AdoField
{
public:
    AdoField(AdoRecordset* owner, long index, std::string name, const AdoTypeMapping& mapping,
             int sqlType, long long definedSize, int numericScale, bool nullable);

    AdoField(const AdoField&) = delete;
    AdoField& operator=(const AdoField&) = delete;

    const std::string& Name() const { return m_name; }
    // Position in the result, from 0.
    long Index() const { return m_index; }
    // Data type code (AdoDataType).
    int Type() const { return m_mapping.adoType; }
    // Kind of the field's non-null values.
    AdoVarType ValueKind() const { return m_mapping.valueKind; }
    // adFldLong for long text and binary columns, adFldFixed for fixed-size
    // kinds, adFldIsNullable / adFldMayBeNull when the column may hold NULL.
    int Attributes() const { return m_attributes; }
    // Column size the driver declares (characters or bytes; 0 when unknown).
    long long DefinedSize() const { return m_definedSize; }
    int NumericScale() const { return m_numericScale; }
    // The ODBC SQL type the driver reported.
    int SqlType() const { return m_sqlType; }

    // The current row's value, valid until the recordset moves or closes
    // (either cursor keeps only its current row as values). Throws
    // AdoException(NoCurrentRecord) when the recordset is at BOF or EOF,
    // ObjectClosed when it is closed.
    const AdoVariant& Value() const;
    // Byte length of the current value (text and binary), the fixed size of
    // numbers and dates, 0 for NULL. Throws like Value.
    long long ActualSize() const;
    // adFieldOK, or adFieldIsNull for NULL. Throws like Value.
    int Status() const;
    // Returns the next `size` bytes of a text or binary value as a value of
    // the same kind, continuing where the previous call on this row stopped;
    // NULL once the value is used up or when it is NULL. Throws like Value,
    // and InvalidArgument for a negative size or a field that is not text
    // or binary.
    AdoVariant GetChunk(long long size);

    // Called by the recordset when it moves to another row.
    void ResetChunk() { m_chunkOffset = 0; }

private:
    AdoRecordset* m_owner;
    long m_index;
    std::string m_name;
    AdoTypeMapping m_mapping;
    int m_sqlType;
    long long m_definedSize;
    int m_numericScale;
    int m_attributes = 0;
    size_t m_chunkOffset = 0;
};

class AdoFields
{
public:
    // Number of columns.
    long Count() const { return static_cast<long>(m_fields.size()); }
    // By position from 0; throws AdoException(ItemNotFound) when out of range.
    // Inline: the readers look a field up for every value they read.
    AdoField& Item(long index) const
    {
        if (index < 0 || index >= Count())
            ThrowNoPosition(index);
        return *m_fields[static_cast<size_t>(index)];
    }
    // By name, ignoring case (first match); throws AdoException(ItemNotFound).
    AdoField& Item(const std::string& name) const;
    // Like Item(name) but nullptr when there is no such field.
    AdoField* Find(const std::string& name) const;

    void Add(std::unique_ptr<AdoField> field) { m_fields.push_back(std::move(field)); }
    void Clear() { m_fields.clear(); }

private:
    [[noreturn]] static void ThrowNoPosition(long index);

    std::vector<std::unique_ptr<AdoField>> m_fields;
};
