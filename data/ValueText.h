// ValueText: the rules by which a value of a result row becomes text, a
// number, a flag or a date. The field readers of the data access object and
// the schema log use them, so every reader treats each value kind alike.
#pragma once

#include <cstdint>

#include "data/odbc/AdoVariant.h"
#include "util/XDateTime.h"
#include "util/XString.h"

// Integers in decimal; floats, decimals and currency in fixed notation with
// at most four decimals and no trailing zeros (12.5, 12, 0); dates as
// "YYYY/MM/DD HH:NN:SS"; strings unchanged (up to an embedded zero byte);
// booleans "True"/"False"; null, empty and byte arrays as the empty text.
XString VariantToText(const AdoVariant& value);

// A double in the text form above: "%.4f", then trailing "0" and "." removed.
XString FormatNumber(double value);

// 64-bit integer value: integers as they are, floats, decimals and currency
// truncated toward zero, texts that are an optionally signed run of digits
// converted, booleans 0 or 1, everything else 0.
int64_t VariantToInt64(const AdoVariant& value);

// VariantToInt64 cut to 32 bits (the readers' integer results).
int32_t VariantToInt(const AdoVariant& value);

// Numbers converted, currency divided by 10000, texts that are an optionally
// signed run of digits with at most one point converted, booleans 0 or 1,
// everything else 0.
double VariantToDouble(const AdoVariant& value);

// Numbers: not zero. Texts: false when, trimmed and in any case, empty, "0",
// "N", "NO", "F" or "FALSE"; true otherwise. Everything else false.
bool VariantToBool(const AdoVariant& value);

// The date and time of a date value; both parts null for every other kind.
XDateTime VariantToDateTime(const AdoVariant& value);
