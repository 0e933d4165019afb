// AdoValueText: reading the text form in which ODBC drivers deliver numbers,
// flags and dates (their SQL_C_CHAR conversion) into values, and choosing the
// integer kind that holds a value whole.
#pragma once

#include <cstddef>
#include <cstdint>

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
// followed by " hh:mm", seconds ":ss" and a fraction (milliseconds kept,
// finer digits dropped), times as "hh:mm:ss". Anything else (blanks, a "+",
// another date layout, out-of-range date parts) is NotParsed and *out is
// left alone.
AdoTextParse AdoParseFixedText(AdoVarType kind, int sqlType, const char* text, size_t length, AdoVariant* out);

// The kind that holds v whole: `declared` when v fits in it, else I4 or I8.
// (SQLite lets any integer into any integer column.)
AdoVarType AdoWidenSigned(AdoVarType declared, int64_t v);
// The same for unsigned kinds: `declared`, else UI4 or UI8.
AdoVarType AdoWidenUnsigned(AdoVarType declared, uint64_t v);
