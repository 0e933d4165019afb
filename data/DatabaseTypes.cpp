// The per-type table of the data access layer (names, connection strings,
// date literals, quoting, lost-link error numbers), the data type names and
// field status texts, and password masking.
#include "data/DatabaseTypes.h"

#include <array>
#include <cstring>

#include "data/odbc/AdoConnectionString.h"
#include "data/odbc/AdoTypes.h"
#include "util/XException.h"

namespace {

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

namespace {

// The parts a connection string is made of (see ConnectionStringFor).
struct ConnectionParts
{
    const XString& dataSource;
    const XString* user;
    const XString* password;
    const XString& storedDataSource;
};

// When a connection string names the user and the password.
enum class Keys {
    None,        // never
    IfGiven,     // each one that is present (an empty text counts)
    IfNotEmpty,  // each one that is present and not empty
    Always,      // always, an absent one as the key alone
};

// The usual shape of a connection string: head, data source, text after
// it, the user and password keys, tail.
struct ConnectionForm
{
    const char* head;  // nullptr: the type has no connection string
    const char* afterSource;
    const char* userKey;
    const char* passwordKey;
    const char* tail;
    Keys keys;
};

void AppendKey(XString& text, Keys keys, const char* key, const XString* value)
{
    if (keys == Keys::Always)
        AppendAlways(text, key, value);
    else if (keys == Keys::IfGiven || (keys == Keys::IfNotEmpty && value && !value->IsEmpty()))
        AppendOptional(text, key, value);
}

XString FormConnectionString(const ConnectionForm& form, const ConnectionParts& p)
{
    XString text = XString(form.head) + p.dataSource + form.afterSource;
    if (form.keys != Keys::None) {
        AppendKey(text, form.keys, form.userKey, p.user);
        AppendKey(text, form.keys, form.passwordKey, p.password);
    }
    return text + form.tail;
}

XString IsoDate(const XDate& date, const XString&)
{
    return XString("'") + date.Format("YYYY-MM-DD") + "'";
}

XString LowerIsoDate(const XDate& date, const XString&)
{
    return XString("'") + date.Format("yyyy-mm-dd") + "'";
}

XString HashDate(const XDate& date, const XString&)
{
    return XString("#") + date.Format("DD-MMM-YYYY") + "#";
}

XString FoxProDate(const XDate& date, const XString&)
{
    return XString("{^") + date.Format("YYYY/MM/DD") + "}";
}

XString OracleDate(const XDate& date, const XString&)
{
    const XString formatted = date.Format("'YYYYMMDD'");
    return formatted.IsEmpty() ? XString() : XString("TO_DATE( ") + formatted + ", 'YYYYMMDD' )";
}

// Everything that differs between the database types, one row per type:
// its name, its connection string (the form's, or the row's own builder
// where the form does not fit), its SQL date literal, whether text literals
// are quoted, and the native error numbers of its drivers that mean the
// link to the server is gone.
struct TypeRow
{
    int code;
    const char* name;
    ConnectionForm connection;
    XString (*ownConnectionString)(const ConnectionParts&);
    XString (*dateLiteral)(const XDate& date, const XString& exportDateFormat);
    bool quotesText;
    std::array<int32_t, 3> lostLinkCodes;
};

constexpr ConnectionForm kNoConnection = {nullptr, "", "", "", "", Keys::None};
constexpr ConnectionForm kDsn = {"DSN=", "", ";UID=", ";PWD=", "", Keys::IfGiven};
// ORA-03113 end-of-file on the channel, ORA-03135 connection lost contact,
// ORA-12170 connect time-out: reported with a general SQLSTATE.
constexpr std::array<int32_t, 3> kOracleLostLink = {3113, 3135, 12170};

const TypeRow kTypes[] = {
    {DatabaseType::None, "", kNoConnection, nullptr, nullptr, false, {}},
    {DatabaseType::DBaseODBC, "dBase IV (ODBC)", kNoConnection,
     [](const ConnectionParts& p) {
         return XString("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + p.storedDataSource +
                ";Extended Properties=dBASE IV;";
     },
     HashDate, false, {}},
    {DatabaseType::DBaseXBase, "dBase IV (XBase)", {"", "", "", "", "", Keys::None}, nullptr,
     [](const XDate& date, const XString& exportDateFormat) { return date.Format(exportDateFormat); }, false, {}},
    {DatabaseType::FoxProODBC, "FoxPro (ODBC)",
     {"Persist Security Info=False;Data Source=", ";Collating Sequence=machine", ";User ID=", ";Password=", ";",
      Keys::IfGiven},
     nullptr, FoxProDate, false, {}},
    {DatabaseType::FoxProDBF, "FoxPro (DBF)",
     {"Provider=VFPOLEDB.1;Data Source=", ";Collating Sequence=MACHINE", "", "", "", Keys::None}, nullptr,
     FoxProDate, false, {}},
    {DatabaseType::MSSQL, "MSSQL", kNoConnection,
     [](const ConnectionParts& p) { return MSSQLConnectionString(p.dataSource, p.user, p.password); }, IsoDate,
     true, {}},
    {DatabaseType::MySQL, "MySQL", {"Data Source=", "", ";User Id=", ";Password=", ";", Keys::Always}, nullptr,
     LowerIsoDate, false, {}},
    {DatabaseType::SQLite, "SQLite", {"Database=", "", "", "", "", Keys::None}, nullptr, LowerIsoDate, false, {}},
    {DatabaseType::DB2, "DB2", kNoConnection, [](const ConnectionParts&) { return XString("DB2OLEDB"); },
     LowerIsoDate, false, {}},
    {DatabaseType::Access, "Access",
     {"Persist Security Info=False;Data Source=", "", ";User ID=", ";Password=", "", Keys::IfGiven}, nullptr,
     HashDate, true, {}},
    {DatabaseType::Postgres, "Postgres", kDsn, nullptr,
     [](const XDate& date, const XString&) { return date.Format("'MM/DD/YYYY'"); }, false, {}},
    {DatabaseType::OracleODBC, "Oracle (ODBC)",
     {"Data Source=", "", ";User ID=", ";Password=", ";Persist Security Info=True;", Keys::IfGiven}, nullptr,
     OracleDate, false, kOracleLostLink},
    {DatabaseType::OracleOLE, "Oracle (OLE)",
     {"Provider=OraOLEDB.Oracle;Data Source=", "", ";User ID=", ";Password=", ";Persist Security Info=True;",
      Keys::IfGiven},
     nullptr, OracleDate, false, kOracleLostLink},
    {DatabaseType::OracleMSDAORA, "Oracle Microsoft OLE (MSDAORA)",
     {"Provider=MSDAORA;Data Source=", "", ";User ID=", ";Password=", ";Persist Security Info=True;", Keys::IfGiven},
     nullptr, OracleDate, false, kOracleLostLink},
    {DatabaseType::SybaseOLE, "Sybase (OLE)",
     {"Provider=Sybase ASE OLE DB Provider;Data source=", "", ";User Id=", ";Password=", ";", Keys::IfGiven},
     nullptr, IsoDate, false, {}},
    {DatabaseType::SybaseODBC, "Sybase ODBC", {"DSN=", "", ";UID=", ";PWD=", ";", Keys::IfGiven}, nullptr, IsoDate,
     false, {}},
    {DatabaseType::Progress, "Progress", kDsn, nullptr, LowerIsoDate, false, {}},
    {DatabaseType::Mimer, "Mimer", kNoConnection, nullptr, LowerIsoDate, false, {}},
    {DatabaseType::Informix, "Informix", {"DSN=", "", ";UID=", ";PWD=", ";ISOLATIONLEVEL=1;", Keys::IfNotEmpty},
     nullptr,
     [](const XDate& date, const XString&) {
         const XString formatted = date.Format("MM/DD/YYYY");
         return formatted.IsEmpty() ? XString() : XString("TO_DATE(\"") + formatted + "\",\"%m/%d/%Y\")";
     },
     false, {}},
    // Top Speed counts days from 28 December 1800.
    {DatabaseType::TopSpeed, "Top Speed", kDsn, nullptr,
     [](const XDate& date, const XString&) { return XString(static_cast<int32_t>(date.GetDayNumber() - 73410)); },
     false, {}},
    {DatabaseType::LotusNotes, "Lotus Notes", {"DSN=", "", ";Uid=", ";Pwd=", ";", Keys::Always}, nullptr, IsoDate,
     false, {}},
    {DatabaseType::CADatacom, "CA-Datacom", {"DSN=", "", ";Uid=", ";Pwd=", ";", Keys::Always}, nullptr,
     [](const XDate& date, const XString&) { return XString("'") + date.Format("yyyymmdd") + "'"; }, false, {}},
};

// The row of a type code; nullptr for codes outside the table.
const TypeRow* RowOf(int type)
{
    for (const TypeRow& row : kTypes)
        if (row.code == type)
            return &row;
    return nullptr;
}

}  // namespace

XString DatabaseTypeName(int type)
{
    const TypeRow* row = RowOf(type);
    return row ? XString(row->name) : XString();
}

XString ConnectionStringFor(int type, const XString& ds, const XString* u, const XString* p,
                            const XString& storedDataSource)
{
    if (type == DatabaseType::None)
        throw XException("Can't build connection string for unknown database type.");
    const TypeRow* row = RowOf(type);
    const ConnectionParts parts{ds, u, p, storedDataSource};
    if (row && row->ownConnectionString)
        return row->ownConnectionString(parts);
    if (!row || !row->connection.head)
        throw XException("Database type not yet defined for BuildConnectionString, please define.");
    return FormConnectionString(row->connection, parts);
}

XString DateLiteralFor(int type, const XDate& date, const XString& exportDateFormat)
{
    const TypeRow* row = RowOf(type);
    if (!row || !row->dateLiteral)
        throw XException("DB Type not defined for XODBC::SQLDate yet, feel free to do so.");
    return row->dateLiteral(date, exportDateFormat);
}

XString QuoteTextFor(int type, const XString& text)
{
    const TypeRow* row = RowOf(type);
    if (!row || !row->quotesText)
        return text;
    XString quoted("'");
    quoted += XString(text).ReplaceAll("'", "''");
    quoted += "'";
    return quoted;
}

bool IsLostLinkNativeCode(int type, int32_t native)
{
    const TypeRow* row = RowOf(type);
    if (!row || native == 0)
        return false;
    for (int32_t code : row->lostLinkCodes)
        if (code == native)
            return true;
    return false;
}

namespace {

// The name of each field data type code.
const struct
{
    AdoDataType code;
    const char* name;
} kDataTypeNames[] = {
    {adEmpty, "Empty"},
    {adSmallInt, "SmallInt"},
    {adInteger, "Integer"},
    {adSingle, "Single"},
    {adDouble, "Double"},
    {adCurrency, "Currency"},
    {adDate, "Date"},
    {adBSTR, "BSTR"},
    {adIDispatch, "Dispatch"},
    {adError, "Error"},
    {adBoolean, "Boolean"},
    {adVariant, "Variant"},
    {adIUnknown, "Unknown"},
    {adDecimal, "Decimal"},
    {adTinyInt, "TinyInt"},
    {adUnsignedTinyInt, "UnsignedTinyInt"},
    {adUnsignedSmallInt, "UnsignedSmallInt"},
    {adUnsignedInt, "UnsignedInt"},
    {adBigInt, "Big Int"},
    {adUnsignedBigInt, "UnsignedBigInt"},
    {adFileTime, "File Time"},
    {adGUID, "GUID"},
    {adBinary, "Binary"},
    {adChar, "Char"},
    {adWChar, "WChar"},
    {adNumeric, "Numeric"},
    {adUserDefined, "User Defined"},
    {adDBDate, "DBDate"},
    {adDBTime, "DBTime"},
    {adDBTimeStamp, "DBTimeStamp"},
    {adChapter, "Chapter"},
    {adPropVariant, "Prop Variant"},
    {adVarNumeric, "Var Numeric"},
    {adVarChar, "VarChar"},
    {adLongVarChar, "LongVarChar"},
    {adVarWChar, "VarWChar"},
    {adLongVarWChar, "LongVarWChar"},
    {adVarBinary, "VarBinary"},
    {adLongVarBinary, "LongVarBinary"},
    {adArray, "Array"},
};

// "<status name> - <what it means>" of each field status code.
const struct
{
    AdoFieldStatus code;
    const char* text;
} kFieldStatusTexts[] = {
    {adFieldOK, "adFieldOK - OK."},
    {adFieldCantConvertValue,
     "adFieldCantConvertValue - "
     "The field cannot be retrieved or stored without loss of data."},
    {adFieldIsNull,
     "adFieldIsNull - "
     "The provider returned a VARIANT value of type VT_NULL and that the field is not empty."},
    {adFieldTruncated, "adFieldTruncated - Variable-length data was truncated when reading from the data source."},
    {adFieldSignMismatch,
     "adFieldSignMismatch - "
     "The value is signed and the data type used by the provider is unsigned."},
    {adFieldDataOverflow,
     "adFieldDataOverflow - "
     "The value is larger than the data type used by the provider can hold."},
    {adFieldCantCreate, "adFieldCantCreate - The field could not be added because the provider exceeded a limitation."},
    {adFieldUnavailable, "adFieldUnavailable - The provider could not determine the value of the field."},
    {adFieldPermissionDenied, "adFieldPermissionDenied - The field cannot be modified because it is read-only."},
    {adFieldIntegrityViolation,
     "adFieldIntegrityViolation - "
     "The field cannot be modified because it is a calculated or derived entity."},
    {adFieldSchemaViolation,
     "adFieldSchemaViolation - "
     "The value violates the schema constraint of the data source for the field."},
    {adFieldBadStatus, "adFieldBadStatus - An invalid status value was sent to the provider."},
    {adFieldDefault, "adFieldDefault - The default value of the field was used when setting data."},
    {adFieldIgnore, "adFieldIgnore - The field was skipped when setting data values in the source."},
    {adFieldDoesNotExist, "adFieldDoesNotExist - The field does not exist."},
    {adFieldInvalidURL, "adFieldInvalidURL - The data source URL contains invalid characters."},
    {adFieldResourceLocked,
     "adFieldResourceLocked - "
     "The operation failed because the data source is locked by another process."},
    {adFieldResourceExists,
     "adFieldResourceExists - "
     "The object already exists at the destination and was not overwritten."},
    {adFieldCannotComplete, "adFieldCannotComplete - The server could not complete the operation."},
    {adFieldVolumeNotFound, "adFieldVolumeNotFound - The storage volume named by the URL could not be found."},
    {adFieldOutOfSpace,
     "adFieldOutOfSpace - "
     "The provider could not obtain enough storage space to complete the operation."},
    {adFieldCannotDeleteSource, "adFieldCannotDeleteSource - The source of a move could not be deleted."},
    {adFieldReadOnly, "adFieldReadOnly - The field in the data source is defined as read-only."},
    {adFieldResourceOutOfScope,
     "adFieldResourceOutOfScope - "
     "The source or destination is outside the scope of the current record."},
    {adFieldAlreadyExists, "adFieldAlreadyExists - The field already exists."},
    {adFieldPendingInsert, "adFieldPendingInsert - The field was added and will be inserted on the next update."},
    {adFieldPendingDelete, "adFieldPendingDelete - The field was deleted and will be removed on the next update."},
    {adFieldPendingChange,
     "adFieldPendingChange - "
     "The field's value was changed and will be written on the next update."},
    {adFieldPendingUnknown, "adFieldPendingUnknown - The provider cannot tell which operation set the field's status."},
    {adFieldPendingUnknownDelete,
     "adFieldPendingUnknownDelete - "
     "The provider cannot tell which operation set the field's status, and the field will be deleted on the next update."},
};

}  // namespace

XString FieldTypeName(int adoType)
{
    for (const auto& row : kDataTypeNames)
        if (row.code == adoType)
            return row.name;
    return "UNKNOWN!";
}

XString FieldStatusText(int status)
{
    for (const auto& row : kFieldStatusTexts)
        if (row.code == status)
            return row.text;
    return "Undefined field status.";
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
