// The per-type tables of the data access layer: names, connection strings,
// date literals, quoting, data type names, field status texts, error
// classification and password masking.
#include "data/DatabaseTypes.h"

#include <cstring>

#include "data/odbc/AdoConnectionString.h"
#include "util/XException.h"

namespace {

const char* const kTypeNames[] = {
    "",
    "dBase IV (ODBC)",
    "dBase IV (XBase)",
    "FoxPro (ODBC)",
    "FoxPro (DBF)",
    "MSSQL",
    "MySQL",
    "SQLite",
    "DB2",
    "Access",
    "Postgres",
    "Oracle (ODBC)",
    "Oracle (OLE)",
    "Oracle Microsoft OLE (MSDAORA)",
    "Sybase (OLE)",
    "Sybase ODBC",
    "Progress",
    "Mimer",
    "Informix",
    "Top Speed",
    "Lotus Notes",
    "CA-Datacom",
};

// A user or password value as written into a connection string.
XString QuoteConnectionValue(const XString& value)
{
    return XString(AdoConnectionString::QuoteValue(value.str()).c_str());
}

// Appends `key` + value when the value is present.
void AppendOptional(XString& text, const char* key, const XString* value)
{
    if (value)
        text += XString(key) + QuoteConnectionValue(*value);
}

// Appends `key` + value, or the key alone for an absent value.
void AppendAlways(XString& text, const char* key, const XString* value)
{
    text += key;
    if (value)
        text += QuoteConnectionValue(*value);
}

XString MSSQLConnectionString(const XString& dataSource, const XString* user, const XString* password)
{
    XString name = dataSource;
    XString database;
    const uint32_t semicolon = dataSource.Find(';');
    if (semicolon < dataSource.GetLength()) {
        name = dataSource.Left(semicolon);
        database = dataSource.From(semicolon + 1);
        database.Trim();
    }

    XString text = XString("Provider=MSDASQL;Persist Security Info=False;Data Source=") + name;
    if (!database.IsEmpty())
        text += XString(";Database=") + database;
    if (user && !user->IsEmpty()) {
        text += XString(";User ID=") + QuoteConnectionValue(*user);
        if (password && !password->IsEmpty())
            text += XString(";Password=") + QuoteConnectionValue(*password);
    } else {
        text += ";Trusted_Connection=yes";
    }
    text += ";";
    return text;
}

// Length of the connection-string value that starts at `start`: up to the
// next ";" (or the end), or through the closing brace or quote of a quoted
// value, whose doubled closing character stands for itself.
uint32_t ValueLength(const XString& text, uint32_t start)
{
    const uint32_t length = text.GetLength();
    const char* bytes = text.c_str();
    if (start >= length)
        return 0;
    const char open = bytes[start];
    if (open == '{' || open == '"' || open == '\'') {
        const char close = open == '{' ? '}' : open;
        uint32_t i = start + 1;
        while (i < length) {
            if (bytes[i] == close) {
                if (i + 1 < length && bytes[i + 1] == close) {
                    i += 2;
                    continue;
                }
                return i + 1 - start;
            }
            ++i;
        }
        return length - start;  // unclosed: everything after the key
    }
    uint32_t i = start;
    while (i < length && bytes[i] != ';')
        ++i;
    return i - start;
}

}  // namespace

XString DatabaseTypeName(int type)
{
    if (type < 1 || type > DatabaseType::Last)
        return XString();
    return kTypeNames[type];
}

XString ConnectionStringFor(int type, const XString& ds, const XString* u, const XString* p,
                            const XString& storedDataSource)
{
    using namespace DatabaseType;
    XString text;
    switch (type) {
    case None:
        throw XException("Can't build connection string for unknown database type.");
    case DBaseODBC:
        return XString("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + storedDataSource +
               ";Extended Properties=dBASE IV;";
    case DBaseXBase:
        return ds;
    case FoxProODBC:
        text = XString("Persist Security Info=False;Data Source=") + ds + ";Collating Sequence=machine";
        AppendOptional(text, ";User ID=", u);
        AppendOptional(text, ";Password=", p);
        return text + ";";
    case FoxProDBF:
        return XString("Provider=VFPOLEDB.1;Data Source=") + ds + ";Collating Sequence=MACHINE";
    case MSSQL:
        return MSSQLConnectionString(ds, u, p);
    case MySQL:
        text = XString("Data Source=") + ds;
        AppendAlways(text, ";User Id=", u);
        AppendAlways(text, ";Password=", p);
        return text + ";";
    case SQLite:
        return XString("Database=") + ds;
    case DB2:
        return "DB2OLEDB";
    case Access:
        text = XString("Persist Security Info=False;Data Source=") + ds;
        AppendOptional(text, ";User ID=", u);
        AppendOptional(text, ";Password=", p);
        return text;
    case Postgres:
    case Progress:
    case TopSpeed:
        text = XString("DSN=") + ds;
        AppendOptional(text, ";UID=", u);
        AppendOptional(text, ";PWD=", p);
        return text;
    case OracleODBC:
    case OracleOLE:
    case OracleMSDAORA:
        text = type == OracleODBC  ? XString("Data Source=")
               : type == OracleOLE ? XString("Provider=OraOLEDB.Oracle;Data Source=")
                                   : XString("Provider=MSDAORA;Data Source=");
        text += ds;
        AppendOptional(text, ";User ID=", u);
        AppendOptional(text, ";Password=", p);
        return text + ";Persist Security Info=True;";
    case SybaseOLE:
        text = XString("Provider=Sybase ASE OLE DB Provider;Data source=") + ds;
        AppendOptional(text, ";User Id=", u);
        AppendOptional(text, ";Password=", p);
        return text + ";";
    case SybaseODBC:
        text = XString("DSN=") + ds;
        AppendOptional(text, ";UID=", u);
        AppendOptional(text, ";PWD=", p);
        return text + ";";
    case Informix:
        text = XString("DSN=") + ds;
        if (u && !u->IsEmpty())
            AppendOptional(text, ";UID=", u);
        if (p && !p->IsEmpty())
            AppendOptional(text, ";PWD=", p);
        return text + ";ISOLATIONLEVEL=1" + ";";
    case LotusNotes:
    case CADatacom:
        text = XString("DSN=") + ds;
        AppendAlways(text, ";Uid=", u);
        AppendAlways(text, ";Pwd=", p);
        return text + ";";
    default:  // Mimer, and codes past the table
        throw XException("Database type not yet defined for BuildConnectionString, please define.");
    }
}

XString DateLiteralFor(int type, const XDate& date, const XString& exportDateFormat)
{
    using namespace DatabaseType;
    XString formatted;
    switch (type) {
    case DBaseODBC:
    case Access:
        return XString("#") + date.Format("DD-MMM-YYYY") + "#";
    case DBaseXBase:
        return date.Format(exportDateFormat);
    case FoxProODBC:
    case FoxProDBF:
        return XString("{^") + date.Format("YYYY/MM/DD") + "}";
    case MSSQL:
    case SybaseOLE:
    case SybaseODBC:
    case LotusNotes:
        return XString("'") + date.Format("YYYY-MM-DD") + "'";
    case MySQL:
    case SQLite:
    case DB2:
    case Progress:
    case Mimer:
        return XString("'") + date.Format("yyyy-mm-dd") + "'";
    case Postgres:
        return date.Format("'MM/DD/YYYY'");
    case OracleODBC:
    case OracleOLE:
    case OracleMSDAORA:
        formatted = date.Format("'YYYYMMDD'");
        return formatted.IsEmpty() ? XString() : XString("TO_DATE( ") + formatted + ", 'YYYYMMDD' )";
    case Informix:
        formatted = date.Format("MM/DD/YYYY");
        return formatted.IsEmpty() ? XString()
                                   : XString("TO_DATE(\"") + formatted + "\",\"%m/%d/%Y\")";
    case TopSpeed:
        // Top Speed counts days from 28 December 1800.
        return XString(static_cast<int32_t>(date.GetDayNumber() - 73410));
    case CADatacom:
        return XString("'") + date.Format("yyyymmdd") + "'";
    default:
        throw XException("DB Type not defined for XODBC::SQLDate yet, feel free to do so.");
    }
}

XString QuoteTextFor(int type, const XString& text)
{
    if (type != DatabaseType::MSSQL && type != DatabaseType::Access)
        return text;
    XString quoted("'");
    quoted += XString(text).ReplaceAll("'", "''");
    quoted += "'";
    return quoted;
}

XString FieldTypeName(int adoType)
{
    switch (adoType) {
    case 0: return "Empty";
    case 2: return "SmallInt";
    case 3: return "Integer";
    case 4: return "Single";
    case 5: return "Double";
    case 6: return "Currency";
    case 7: return "Date";
    case 8: return "BSTR";
    case 9: return "Dispatch";
    case 10: return "Error";
    case 11: return "Boolean";
    case 12: return "Variant";
    case 13: return "Unknown";
    case 14: return "Decimal";
    case 16: return "TinyInt";
    case 17: return "UnsignedTinyInt";
    case 18: return "UnsignedSmallInt";
    case 19: return "UnsignedInt";
    case 20: return "Big Int";
    case 21: return "UnsignedBigInt";
    case 64: return "File Time";
    case 72: return "GUID";
    case 128: return "Binary";
    case 129: return "Char";
    case 130: return "WChar";
    case 131: return "Numeric";
    case 132: return "User Defined";
    case 133: return "DBDate";
    case 134: return "DBTime";
    case 135: return "DBTimeStamp";
    case 136: return "Chapter";
    case 138: return "Prop Variant";
    case 139: return "Var Numeric";
    case 200: return "VarChar";
    case 201: return "LongVarChar";
    case 202: return "VarWChar";
    case 203: return "LongVarWChar";
    case 204: return "VarBinary";
    case 205: return "LongVarBinary";
    case 8192: return "Array";
    default: return "UNKNOWN!";
    }
}

XString FieldStatusText(int status)
{
    switch (status) {
    case 0: return "adFieldOK - OK.";
    case 2: return "adFieldCantConvertValue - The field cannot be retrieved or stored without loss of data.";
    case 3:
        return "adFieldIsNull - The provider returned a VARIANT value of type VT_NULL and that the field is "
               "not empty.";
    case 4:
        return "adFieldTruncated - Variable-length data was truncated when reading from the data source.";
    case 5:
        return "adFieldSignMismatch - The value is signed and the data type used by the provider is unsigned.";
    case 6:
        return "adFieldDataOverflow - The value is larger than the data type used by the provider can hold.";
    case 7:
        return "adFieldCantCreate - The field could not be added because the provider exceeded a limitation.";
    case 8: return "adFieldUnavailable - The provider could not determine the value of the field.";
    case 9: return "adFieldPermissionDenied - The field cannot be modified because it is read-only.";
    case 10:
        return "adFieldIntegrityViolation - The field cannot be modified because it is a calculated or "
               "derived entity.";
    case 11:
        return "adFieldSchemaViolation - The value violates the schema constraint of the data source for "
               "the field.";
    case 12: return "adFieldBadStatus - An invalid status value was sent to the provider.";
    case 13: return "adFieldDefault - The default value of the field was used when setting data.";
    case 15: return "adFieldIgnore - The field was skipped when setting data values in the source.";
    case 16: return "adFieldDoesNotExist - The field does not exist.";
    case 17: return "adFieldInvalidURL - The data source URL contains invalid characters.";
    case 18:
        return "adFieldResourceLocked - The operation failed because the data source is locked by another "
               "process.";
    case 19: return "adFieldResourceExists - The object already exists at the destination and was not overwritten.";
    case 20: return "adFieldCannotComplete - The server could not complete the operation.";
    case 21: return "adFieldVolumeNotFound - The storage volume named by the URL could not be found.";
    case 22: return "adFieldOutOfSpace - The provider could not obtain enough storage space to complete the operation.";
    case 23: return "adFieldCannotDeleteSource - The source of a move could not be deleted.";
    case 24: return "adFieldReadOnly - The field in the data source is defined as read-only.";
    case 25: return "adFieldResourceOutOfScope - The source or destination is outside the scope of the current record.";
    case 26: return "adFieldAlreadyExists - The field already exists.";
    case 0x10000: return "adFieldPendingInsert - The field was added and will be inserted on the next update.";
    case 0x20000: return "adFieldPendingDelete - The field was deleted and will be removed on the next update.";
    case 0x40000: return "adFieldPendingChange - The field's value was changed and will be written on the next update.";
    case 0x80000: return "adFieldPendingUnknown - The provider cannot tell which operation set the field's status.";
    case 0x100000:
        return "adFieldPendingUnknownDelete - The provider cannot tell which operation set the field's "
               "status, and the field will be deleted on the next update.";
    default: return "Undefined field status.";
    }
}

bool IsLostLinkNativeCode(int type, int32_t native)
{
    using namespace DatabaseType;
    switch (type) {
    case OracleODBC:
    case OracleOLE:
    case OracleMSDAORA:
        // ORA-03113 end-of-file on the channel, ORA-03135 connection lost
        // contact, ORA-12170 connect time-out.
        return native == 3113 || native == 3135 || native == 12170;
    default:
        return false;
    }
}

namespace {

// Masks, in `masked`, the value of `text` that starts at `start` (its braces
// or quotes kept: they show where it ended); returns the value's length.
uint32_t MaskValue(const XString& text, uint32_t start, std::string& masked)
{
    const uint32_t whole = ValueLength(text, start);
    uint32_t length = whole;
    uint32_t first = start;
    if (length >= 2 && (text.GetAt(start) == '{' || text.GetAt(start) == '"' || text.GetAt(start) == '\'')) {
        const char close = text.GetAt(start) == '{' ? '}' : text.GetAt(start);
        first = start + 1;
        length -= text.GetAt(start + length - 1) == close ? 2 : 1;
    }
    for (uint32_t i = 0; i < length; ++i)
        masked[first + i] = '*';
    return whole;
}

bool IsPasswordKey(std::string key)
{
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
        key.pop_back();
    return key == "password" || key == "pwd";
}

}  // namespace

void MaskPassword(XString& text)
{
    static const char* const kKeys[] = {"password=", "pwd="};
    const XString lower = text.ToLower();
    const uint32_t size = text.GetLength();
    std::string masked = text.str();
    // First the text as a connection string, key by key, every value passed
    // over whole: a key spelled inside another value (a user name holding
    // 'Pwd="') then cannot swallow the password key after it.
    for (uint32_t at = 0; at < size;) {
        while (at < size && (text.GetAt(at) == ' ' || text.GetAt(at) == '\t'))
            ++at;
        uint32_t eq = at;
        while (eq < size && text.GetAt(eq) != '=' && text.GetAt(eq) != ';')
            ++eq;
        uint32_t end = eq;
        if (eq < size && text.GetAt(eq) == '=') {
            const uint32_t value = eq + 1;
            const std::string key = lower.str().substr(at, eq - at);
            end = value + (IsPasswordKey(key) ? MaskValue(text, value, masked) : ValueLength(text, value));
        }
        while (end < size && text.GetAt(end) != ';')
            ++end;
        at = end + 1;
    }
    // Then a key anywhere, for messages that quote a connection string.
    for (const char* key : kKeys) {
        const uint32_t keyLength = static_cast<uint32_t>(std::strlen(key));
        int32_t found = lower.FindText(key);
        while (found >= 0) {
            const uint32_t start = static_cast<uint32_t>(found) + keyLength;
            const uint32_t length = MaskValue(text, start, masked);
            found = lower.FindText(key, start + (length > 0 ? length : 0));
        }
    }
    text = masked.c_str();
}
