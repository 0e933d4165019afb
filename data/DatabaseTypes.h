// DatabaseTypes: everything that differs between the kinds of source database
// the data access layer can read, kept as one table with a row per database
// type code: the type's name, its connection string, its SQL date literal,
// its text quoting and the native error numbers that mean a lost link; plus
// the code tables that describe what a result returns (data type names,
// field status texts). These are pure functions so that the data access
// object and its tests share one table.
#pragma once

#include <cstdint>

#include "util/XDate.h"
#include "util/XString.h"

namespace DatabaseType {
constexpr int None = 0;
constexpr int DBaseODBC = 1;
constexpr int DBaseXBase = 2;  // a folder of dBase files, read without SQL
constexpr int FoxProODBC = 3;
constexpr int FoxProDBF = 4;
constexpr int MSSQL = 5;
constexpr int MySQL = 6;
constexpr int SQLite = 7;
constexpr int DB2 = 8;
constexpr int Access = 9;
constexpr int Postgres = 10;
constexpr int OracleODBC = 11;
constexpr int OracleOLE = 12;
constexpr int OracleMSDAORA = 13;
constexpr int SybaseOLE = 14;
constexpr int SybaseODBC = 15;
constexpr int Progress = 16;
constexpr int Mimer = 17;
constexpr int Informix = 18;
constexpr int TopSpeed = 19;
constexpr int LotusNotes = 20;
constexpr int CADatacom = 21;
constexpr int Last = CADatacom;
}  // namespace DatabaseType

// The display name of a type code; empty for unknown codes.
XString DatabaseTypeName(int type);

// The connection string of `type` for the data source `dataSource`. A null
// `user` or `password` is absent (an empty text counts as present). Type 1
// takes its folder from `storedDataSource`. User and password values that
// would break the key=value form (";", braces, a leading quote or "=", edge
// blanks) are written in braces, so that every part reads back unchanged
// and a password never spills into the next key. Throws XException for
// types without a connection string.
XString ConnectionStringFor(int type, const XString& dataSource, const XString* user,
                            const XString* password, const XString& storedDataSource);

// The SQL literal of `date` for `type`; `exportDateFormat` serves the file
// database type, whose "literal" is the export's own date text. Throws
// XException for type codes outside 1 to 21.
XString DateLiteralFor(int type, const XDate& date, const XString& exportDateFormat);

// The text as an SQL string literal for MSSQL and Access (single quotes,
// embedded quotes doubled so a value can never end the literal early);
// unchanged for every other type.
XString QuoteTextFor(int type, const XString& text);

// Name of a field data type code ("VarChar", "Integer", ...); "UNKNOWN!" for
// codes without a name.
XString FieldTypeName(int adoType);

// "<status name> - <what it means>" for a field status code.
XString FieldStatusText(int status);

// Whether the database's own error number `native` says, for `type`, that
// the link to the server is gone (an ended session, a connect time-out), so
// a reconnect may help: for the drivers that report such a loss with a
// general SQLSTATE and only their own number tells.
bool IsLostLinkNativeCode(int type, int32_t native);

// Replaces, in place, every character of every password value in a
// connection string (or a message holding one) by "*": the values of the
// keys "Password=" and "PWD=" in any case, to the next ";" or, for a value in
// braces or quotes, to its closing brace or quote. The text keeps its length.
void MaskPassword(XString& text);
