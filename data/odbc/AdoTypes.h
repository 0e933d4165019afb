// AdoTypes: the numeric codes of the recordset layer (connection modes, cursor
// and lock types, field attributes and statuses, data type codes) and the one
// table that maps an ODBC SQL type to a data type code and a value kind.
// The numbers are the ones the data access code and its logs already use, so
// they are kept as plain integers with names.
#pragma once

#include <cstdint>
#include <string>

#include "data/odbc/AdoVariant.h"

// Object state of a connection or recordset.
enum AdoObjectState : int { adStateClosed = 0, adStateOpen = 1 };

// Connection mode: read-only or share-exclusive.
enum AdoConnectMode : int { adModeUnknown = 0, adModeRead = 1, adModeShareExclusive = 12 };

// Cursor type and lock type of a recordset.
enum AdoCursorType : int { adOpenForwardOnly = 0, adOpenKeyset = 1, adOpenDynamic = 2, adOpenStatic = 3 };
enum AdoLockType : int { adLockReadOnly = 1, adLockPessimistic = 2 };

// Command type given to AdoRecordset::Open: the source is SQL text.
enum AdoCommandType : int { adCmdText = 1 };

// Field attribute bits.
enum AdoFieldAttribute : int {
    adFldFixed = 0x10,
    adFldIsNullable = 0x20,
    adFldMayBeNull = 0x40,
    adFldLong = 0x80,
};

// Field status codes: the ones this layer reports, and the rest of the
// codes a field status text names.
enum AdoFieldStatus : int {
    adFieldOK = 0,
    adFieldCantConvertValue = 2,
    adFieldIsNull = 3,
    adFieldTruncated = 4,
    adFieldSignMismatch = 5,
    adFieldDataOverflow = 6,
    adFieldCantCreate = 7,
    adFieldUnavailable = 8,
    adFieldPermissionDenied = 9,
    adFieldIntegrityViolation = 10,
    adFieldSchemaViolation = 11,
    adFieldBadStatus = 12,
    adFieldDefault = 13,
    adFieldIgnore = 15,
    adFieldDoesNotExist = 16,
    adFieldInvalidURL = 17,
    adFieldResourceLocked = 18,
    adFieldResourceExists = 19,
    adFieldCannotComplete = 20,
    adFieldVolumeNotFound = 21,
    adFieldOutOfSpace = 22,
    adFieldCannotDeleteSource = 23,
    adFieldReadOnly = 24,
    adFieldResourceOutOfScope = 25,
    adFieldAlreadyExists = 26,
    adFieldPendingInsert = 0x10000,
    adFieldPendingDelete = 0x20000,
    adFieldPendingChange = 0x40000,
    adFieldPendingUnknown = 0x80000,
    adFieldPendingUnknownDelete = 0x100000,
};

// Data type codes of a field (the numbers of the data type names the schema
// log prints).
enum AdoDataType : int {
    adEmpty = 0,
    adSmallInt = 2,
    adInteger = 3,
    adSingle = 4,
    adDouble = 5,
    adCurrency = 6,
    adDate = 7,
    adBSTR = 8,
    adIDispatch = 9,
    adError = 10,
    adBoolean = 11,
    adVariant = 12,
    adIUnknown = 13,
    adDecimal = 14,
    adTinyInt = 16,
    adUnsignedTinyInt = 17,
    adUnsignedSmallInt = 18,
    adUnsignedInt = 19,
    adBigInt = 20,
    adUnsignedBigInt = 21,
    adFileTime = 64,
    adGUID = 72,
    adBinary = 128,
    adChar = 129,
    adWChar = 130,
    adNumeric = 131,
    adUserDefined = 132,
    adDBDate = 133,
    adDBTime = 134,
    adDBTimeStamp = 135,
    adChapter = 136,
    adPropVariant = 138,
    adVarNumeric = 139,
    adVarChar = 200,
    adLongVarChar = 201,
    adVarWChar = 202,
    adLongVarWChar = 203,
    adVarBinary = 204,
    adLongVarBinary = 205,
    adArray = 0x2000,
};

// How a column's values are fetched from the driver and held.
struct AdoTypeMapping
{
    int adoType = adVarChar;                     // AdoDataType code
    AdoVarType valueKind = AdoVarType::String;  // kind of the non-null values
    bool isLong = false;                        // long data: adFldLong is set
};

// Maps an ODBC SQL type (SQL_INTEGER, SQL_VARCHAR, ...) to the field's data
// type code and value kind. `isUnsigned` comes from SQL_DESC_UNSIGNED and
// `typeName` from SQL_DESC_TYPE_NAME (money columns are reported as decimals
// and become currency values). Unknown SQL types are read as text.
AdoTypeMapping AdoMapSqlType(int sqlType, bool isUnsigned, const std::string& typeName);
