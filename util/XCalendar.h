// Internal helpers shared by the date and time types: character families of
// the format language and the OLE Automation date split.
#pragma once

#include <cstdint>

namespace xcalendar {

// Upper-case family letter of c when c belongs to one of the families in
// `families` (upper-case letters), else 0.
char Family(char c, const char* families);

// Length of the run of family letters starting at format[at].
int RunLength(const char* format, int at, char family);

// Splits an OLE Automation date into a day number and milliseconds of the
// day, rounding to the nearest millisecond and carrying a full day into the
// date. False for 0.0 and for values no date can hold.
bool SplitOleDate(double oleDate, int32_t& dayNumber, int32_t& milliseconds);

} // namespace xcalendar
