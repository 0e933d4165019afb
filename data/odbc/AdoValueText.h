// AdoValueText: reading the text form in which ODBC drivers deliver numbers,
// flags and dates (their SQL_C_CHAR conversion) into values, and choosing the
// integer kind that holds a value whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "data/odbc/AdoVariant.h"

// Outcome of AdoParseFixedText.
enum class AdoTextParse {
    Parsed,      // *out holds the value
    NotParsed,   // a form this layer leaves to the driver's own conversion
    OutOfRange,  // a plain integer or float too large for any kind: an error
};

// Parses the driver's text of a value of `kind` (a signed or unsigned integer
// kind, R4/R8, Bool or Date; `sqlType` tells a time of day from a date) into
// *out. Accepted forms: integers as plain digits with an optional "-";
// floats as the shortest form that reads back exactly (also exponents);
// flags as integers (non-zero is true); dates as "yyyy-mm-dd", optionally
// followed by " hh:mm" (or "Thh:mm"), seconds ":ss" and a fraction
// (milliseconds kept, finer digits dropped) and a time-zone offset
// ("+02:00", "-05:00", "Z"; dropped: the wall-clock time is kept), times as
// "hh:mm:ss" with an optional fraction (any text that starts "hh:" is a
// time of day, which is how text columns deliver SQL Server times). Anything else (blanks, a "+",
// another date layout, out-of-range date parts) is NotParsed and *out is
// left alone.
AdoTextParse AdoParseFixedText(AdoVarType kind, int sqlType, const char* text, size_t length, AdoVariant* out);

// SQL Server's time (SQL_SS_TIME2) and datetimeoffset (SQL_SS_TIMESTAMPOFFSET)
// types, which drivers describe with these codes of their own.
constexpr int kSqlSsTime2 = -154;
constexpr int kSqlSsTimestampOffset = -155;

// True when a date column of `sqlType` is read as the driver's text and
// parsed here: SQL Server's own time types, and date columns the driver
// reports as text (older protocol versions send dates as ISO text).
bool AdoDateArrivesAsText(int sqlType);

// The kind that holds v whole: `declared` when v fits in it, else I4 or I8.
// (SQLite lets any integer into any integer column.)
AdoVarType AdoWidenSigned(AdoVarType declared, int64_t v);
// The same for unsigned kinds: `declared`, else UI4 or UI8.
AdoVarType AdoWidenUnsigned(AdoVarType declared, uint64_t v);

// Text from the driver as UTF-16 (`length` bytes, native byte order; an odd
// last byte is no character) into the bridge's code page. A character the
// code page cannot hold becomes one "?": a surrogate pair too, so a
// character outside the basic plane is one "?" and not two, and a lone
// surrogate half is one "?" as well. A NUL inside the value is kept.
void AdoWideToCodePage(const char* bytes, size_t length, std::string* out);

// Text from the driver in UTF-8 into the bridge's code page, in place, by
// the same rules ("?" for what the code page lacks, also for a byte that
// is no UTF-8).
void AdoUtf8ToCodePage(std::string* text);
