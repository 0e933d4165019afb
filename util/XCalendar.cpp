// Helpers shared by XDate, XTime and XDateTime.
#include "util/XCalendar.h"

#include <cctype>
#include <cmath>
#include <cstring>

#include "util/XDate.h"
#include "util/XTime.h"

namespace xcalendar {

char Family(char c, const char* families)
{
    char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper < 'A' || upper > 'Z')
        return 0;
    return std::strchr(families, upper) ? upper : 0;
}

int RunLength(const char* format, int at, char family)
{
    int length = 0;
    while (format[at + length] != '\0' &&
           std::toupper(static_cast<unsigned char>(format[at + length])) == family)
        ++length;
    return length;
}

bool SplitOleDate(double oleDate, int32_t& dayNumber, int32_t& milliseconds)
{
    if (oleDate == 0.0 || !std::isfinite(oleDate))
        return false;
    double whole = std::trunc(oleDate);
    // Day numbers are 32-bit; anything beyond them is no date.
    if (whole < -2.0e9 || whole > 2.0e9)
        return false;
    // For negative values the fraction still counts forward from midnight.
    double fraction = std::fabs(oleDate - whole);
    int64_t ms = std::llround(fraction * XTime::MillisecondsPerDay);
    int64_t day = static_cast<int64_t>(whole) + XDate::OleEpoch;
    if (ms >= XTime::MillisecondsPerDay) {
        ms -= XTime::MillisecondsPerDay;
        ++day;
    }
    dayNumber = static_cast<int32_t>(day);
    milliseconds = static_cast<int32_t>(ms);
    return true;
}

} // namespace xcalendar
