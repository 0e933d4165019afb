// The field readers of ODBCDataAccess: each reads one query field of the
// current row and turns its value into text, a number, a flag or a date by
// the rules of ValueText. A value that cannot be read raises an error naming
// the field and its status; it never reads as an empty value.
#include "data/ODBCDataAccess.h"

#include <cctype>
#include <cstring>

#include "data/DatabaseTypes.h"
#include "data/OdbcFailure.h"
#include "data/ValueText.h"
#include "data/odbc/AdoConnection.h"
#include "data/odbc/AdoRecordset.h"
#include "export/ExportColumn.h"
#include "util/DelimitedTextWriter.h"
#include "util/XException.h"

namespace {
// isspace, without the library call for the printable ASCII bytes that
// most values begin and end with (none of them is a space in any locale).
bool IsSpaceByte(char c)
{
    const unsigned char byte = static_cast<unsigned char>(c);
    return (byte <= 0x20 || byte >= 0x7F) && std::isspace(byte);
}
}  // namespace

AdoField& ODBCDataAccess::FetchAdoField(DataAccessField* field)
{
    if (m_options & DataAccessOption::FieldsByName)
        return m_result->Fields().Item(field->GetName().str());
    const auto* odbcField = static_cast<const ODBCField*>(field);
    return m_result->Fields().Item(static_cast<long>(odbcField->GetPosition()));
}

void ODBCDataAccess::ThrowFieldError(const AdoException& error, DataAccessField* field)
{
    int status = adFieldUnavailable;
    try {
        status = FetchAdoField(field).Status();
    } catch (const AdoException&) {
        // The field itself is out of reach; "unavailable" says so.
    }
    throw OdbcFailure(error, FormatComError(error, m_connection.get()) + " Field Status: " + FieldStatusText(status), m_databaseType);
}

const AdoVariant* ODBCDataAccess::ReadValue(DataAccessField* field)
{
    if (!field || FileDatabaseStep(FileStep::Read))
        return nullptr;
    if (!m_result)
        XException::RaiseError(XErrorKind::Internal, 0, "Cannot read the field %s: no query is open.", field->GetName().c_str());
    if (!(m_options & DataAccessOption::FieldsByName)) {
        // The usual case, once per value: the checks below only name what
        // went wrong when this finds nothing.
        const AdoVariant* value =
            m_result->FindCurrentValue(static_cast<long>(static_cast<const ODBCField*>(field)->GetPosition()));
        if (value)
            return value;
    }
    try {
        return &FetchAdoField(field).Value();
    } catch (const AdoException& error) {
        ThrowFieldError(error, field);
    }
}

XString ODBCDataAccess::GetRawText(DataAccessField* field)
{
    const AdoVariant* value = ReadValue(field);
    return value ? VariantToText(*value) : XString();
}

XString ODBCDataAccess::GetText(DataAccessField* field)
{
    XString text = GetRawText(field);
    // Most values need neither step; skipping them saves two copies a value.
    const uint32_t length = text.GetLength();
    if (length > 0 && (IsSpaceByte(text.GetAt(0)) || IsSpaceByte(text.GetAt(length - 1))))
        text.Trim();
    if (std::memchr(text.c_str(), '\t', text.GetLength()))
        text.RemoveSet("\t");
    return text;
}

XString ODBCDataAccess::GetCleanText(DataAccessField* field)
{
    XString text = GetText(field);
    // Few values hold a line break; looking costs less than replacing.
    const uint32_t length = text.GetLength();
    if (std::memchr(text.c_str(), '\r', length) || std::memchr(text.c_str(), '\n', length)) {
        text.Replace('\r', ' ');
        text.Replace('\n', ' ');
    }
    return text;
}

bool ODBCDataAccess::WritePlainText(DelimitedTextWriter& output, const ExportColumn& column)
{
    // Text values, nearly all of an export's, go from the fetched row into
    // the line; any other kind is written as GetCleanText gives it.
    DataAccessField* field = column.GetQueryField();
    const AdoVariant* value = field ? ReadValue(field) : nullptr;
    if (!value || value->Type() != AdoVarType::String)
        return false;
    output.WriteCleanField(value->Text().data(), value->Text().size());
    return true;
}

XByteBuffer ODBCDataAccess::GetBytes(DataAccessField* field)
{
    XByteBuffer bytes;
    const AdoVariant* read = nullptr;
    try {
        read = ReadValue(field);
    } catch (const XException&) {
        Log(LogLevel::Debug, "Could not read ByteArray Field value from " + field->GetName());
        throw;
    }
    if (!read || read->IsNull() || read->IsEmpty())
        return bytes;
    const AdoVariant& value = *read;
    if (value.Type() == AdoVarType::ByteArray || value.Type() == AdoVarType::String) {
        // The whole value, zero bytes included.
        const std::string& data = value.Text();
        bytes.Set(data.data(), static_cast<uint32_t>(data.size()));
    } else {
        const XString text = VariantToText(value);
        bytes.Set(text.c_str(), text.GetLength());
    }
    return bytes;
}

XDate ODBCDataAccess::GetDate(DataAccessField* field)
{
    const AdoVariant* value = ReadValue(field);
    return value ? VariantToDateTime(*value).GetDate() : XDate();
}

XDateTime ODBCDataAccess::GetDateTime(DataAccessField* field)
{
    const AdoVariant* value = ReadValue(field);
    return value ? VariantToDateTime(*value) : XDateTime();
}

XTime ODBCDataAccess::GetTime(DataAccessField* field)
{
    const AdoVariant* value = ReadValue(field);
    return value ? VariantToDateTime(*value).GetTime() : XTime();
}

int32_t ODBCDataAccess::GetInt(DataAccessField* field)
{
    const AdoVariant* value = ReadValue(field);
    return value ? VariantToInt(*value) : 0;
}

int32_t ODBCDataAccess::GetLong(DataAccessField* field)
{
    const AdoVariant* value = ReadValue(field);
    return value ? static_cast<int32_t>(VariantToInt64(*value)) : 0;
}

float ODBCDataAccess::GetFloat(DataAccessField* field)
{
    const AdoVariant* value = ReadValue(field);
    return value ? static_cast<float>(VariantToDouble(*value)) : 0.0f;
}

double ODBCDataAccess::GetDouble(DataAccessField* field)
{
    const AdoVariant* value = ReadValue(field);
    return value ? VariantToDouble(*value) : 0.0;
}

bool ODBCDataAccess::GetBool(DataAccessField* field)
{
    const AdoVariant* value = ReadValue(field);
    return value && VariantToBool(*value);
}

XString ODBCDataAccess::GetBoolDigit(DataAccessField* field)
{
    const AdoVariant* value = ReadValue(field);
    if (!value)
        return XString();
    return VariantToBool(*value) ? "1" : "0";
}

bool ODBCDataAccess::IsNull(DataAccessField* field)
{
    const AdoVariant* value = ReadValue(field);
    return !value || value->IsNull();
}
