// AdoTypes: the single table that decides how a column of each ODBC SQL type
// is described and read.
#include "data/odbc/AdoTypes.h"

#include "data/odbc/AdoValueText.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cctype>

namespace {

struct SqlTypeRow
{
    int sqlType;
    AdoTypeMapping sign;      // signed column (or a type without sign)
    AdoTypeMapping unsign;    // column the driver reports as unsigned
};

// Integers follow the column's sign; decimals and numerics are exact; dates
// and times become date values; text of every width is read as 8-bit bytes.
const SqlTypeRow kSqlTypes[] = {
    {SQL_BIT, {adBoolean, AdoVarType::Bool}, {adBoolean, AdoVarType::Bool}},
    {SQL_TINYINT, {adTinyInt, AdoVarType::I1}, {adUnsignedTinyInt, AdoVarType::UI1}},
    {SQL_SMALLINT, {adSmallInt, AdoVarType::I2}, {adUnsignedSmallInt, AdoVarType::UI2}},
    {SQL_INTEGER, {adInteger, AdoVarType::I4}, {adUnsignedInt, AdoVarType::UI4}},
    {SQL_BIGINT, {adBigInt, AdoVarType::I8}, {adUnsignedBigInt, AdoVarType::UI8}},
    {SQL_REAL, {adSingle, AdoVarType::R4}, {adSingle, AdoVarType::R4}},
    {SQL_FLOAT, {adDouble, AdoVarType::R8}, {adDouble, AdoVarType::R8}},
    {SQL_DOUBLE, {adDouble, AdoVarType::R8}, {adDouble, AdoVarType::R8}},
    {SQL_DECIMAL, {adNumeric, AdoVarType::Decimal}, {adNumeric, AdoVarType::Decimal}},
    {SQL_NUMERIC, {adNumeric, AdoVarType::Decimal}, {adNumeric, AdoVarType::Decimal}},
    {SQL_TYPE_DATE, {adDBDate, AdoVarType::Date}, {adDBDate, AdoVarType::Date}},
    {SQL_DATE, {adDBDate, AdoVarType::Date}, {adDBDate, AdoVarType::Date}},
    {SQL_TYPE_TIME, {adDBTime, AdoVarType::Date}, {adDBTime, AdoVarType::Date}},
    {SQL_TIME, {adDBTime, AdoVarType::Date}, {adDBTime, AdoVarType::Date}},
    {SQL_TYPE_TIMESTAMP, {adDBTimeStamp, AdoVarType::Date}, {adDBTimeStamp, AdoVarType::Date}},
    {SQL_TIMESTAMP, {adDBTimeStamp, AdoVarType::Date}, {adDBTimeStamp, AdoVarType::Date}},
    // SQL Server's time and datetimeoffset (the wall-clock time is kept).
    {kSqlSsTime2, {adDBTime, AdoVarType::Date}, {adDBTime, AdoVarType::Date}},
    {kSqlSsTimestampOffset, {adDBTimeStamp, AdoVarType::Date}, {adDBTimeStamp, AdoVarType::Date}},
    {SQL_CHAR, {adChar, AdoVarType::String}, {adChar, AdoVarType::String}},
    {SQL_VARCHAR, {adVarChar, AdoVarType::String}, {adVarChar, AdoVarType::String}},
    {SQL_LONGVARCHAR, {adLongVarChar, AdoVarType::String, true}, {adLongVarChar, AdoVarType::String, true}},
    {SQL_WCHAR, {adWChar, AdoVarType::String}, {adWChar, AdoVarType::String}},
    {SQL_WVARCHAR, {adVarWChar, AdoVarType::String}, {adVarWChar, AdoVarType::String}},
    {SQL_WLONGVARCHAR, {adLongVarWChar, AdoVarType::String, true}, {adLongVarWChar, AdoVarType::String, true}},
    {SQL_BINARY, {adBinary, AdoVarType::ByteArray}, {adBinary, AdoVarType::ByteArray}},
    {SQL_VARBINARY, {adVarBinary, AdoVarType::ByteArray}, {adVarBinary, AdoVarType::ByteArray}},
    {SQL_LONGVARBINARY, {adLongVarBinary, AdoVarType::ByteArray, true}, {adLongVarBinary, AdoVarType::ByteArray, true}},
    {SQL_GUID, {adGUID, AdoVarType::String}, {adGUID, AdoVarType::String}},
};

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

}  // namespace

AdoTypeMapping AdoMapSqlType(int sqlType, bool isUnsigned, const std::string& typeName)
{
    // Money columns arrive as decimals; their name tells them apart.
    if (sqlType == SQL_DECIMAL || sqlType == SQL_NUMERIC) {
        const std::string name = Lower(typeName);
        if (name == "money" || name == "smallmoney")
            return {adCurrency, AdoVarType::Currency};
    }
    // Older protocol versions send SQL Server's date and time types as
    // text; the type name still tells what the values are.
    if (AdoDateArrivesAsText(sqlType) && sqlType != kSqlSsTime2 && sqlType != kSqlSsTimestampOffset) {
        const std::string name = Lower(typeName);
        if (name == "date")
            return {adDBDate, AdoVarType::Date};
        if (name == "time")
            return {adDBTime, AdoVarType::Date};
        if (name == "datetime2" || name == "datetimeoffset" || name == "datetime" || name == "smalldatetime")
            return {adDBTimeStamp, AdoVarType::Date};
    }
    for (const SqlTypeRow& row : kSqlTypes) {
        if (row.sqlType == sqlType)
            return isUnsigned ? row.unsign : row.sign;
    }
    // A type this layer does not know is still readable as text.
    return {adVarChar, AdoVarType::String};
}
