// XTime: the time pass of the format language and time reading.
#include "util/XTime.h"

#include <cctype>
#include <cstring>
#include <string>

#include "util/XCalendar.h"

namespace {

void AppendPadded(std::string& out, int value, int width)
{
    std::string digits = std::to_string(value);
    if (digits.size() < static_cast<size_t>(width))
        out.append(static_cast<size_t>(width) - digits.size(), '0');
    out.append(digits);
}

// Reads up to `run` digits at text[pos]; saturates rather than overflowing.
bool ReadDigits(const char* text, size_t& pos, int run, int64_t& value)
{
    bool found = false;
    value = 0;
    for (int i = 0; i < run && text[pos] != '\0'; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[pos])))
            continue;
        if (value < 1000000000)
            value = value * 10 + (text[pos] - '0');
        ++pos;
        found = true;
    }
    return found;
}

} // namespace

XString XTime::Format(const char* format) const
{
    if (IsNull() || !format)
        return XString();
    int hour = GetHour();
    bool twelveHour = std::strstr(format, "AA") != nullptr;
    int shownHour = hour;
    if (twelveHour) {
        if (shownHour == 0)
            shownHour = 12;
        else if (shownHour > 12)
            shownHour -= 12;
    }

    std::string out;
    out.reserve(std::strlen(format) + 8);
    int at = 0;
    while (format[at] != '\0') {
        char family = xcalendar::Family(format[at], "AHLNS");
        if (!family) {
            out.push_back(format[at++]);
            continue;
        }
        int run = xcalendar::RunLength(format, at, family);
        char next = format[at + run];
        if (family == 'A' && run == 2) {
            out.append(hour < 12 ? "AM" : "PM");
        } else if (family == 'H' && run == 2) {
            // A lone hour digit is padded only where the next field would run into it.
            bool pad = shownHour < 10 && (next == '\0' || std::isalpha(static_cast<unsigned char>(next)));
            if (pad)
                out.push_back('0');
            out.append(std::to_string(shownHour));
        } else if (family == 'N' && run == 2) {
            AppendPadded(out, GetMinute(), 2);
        } else if (family == 'S' && run == 2) {
            AppendPadded(out, GetSecond(), 2);
        } else if (family == 'L' && run == 3) {
            AppendPadded(out, GetMillisecond(), 3);
        } else {
            out.append(format + at, static_cast<size_t>(run));
        }
        at += run;
    }
    return XString(out.c_str());
}

bool XTime::Parse(const char* format, const char* text)
{
    m_ms = Null;
    if (!format || !text)
        return false;
    int64_t hour = 0, minutes = 0, seconds = 0, milliseconds = 0;
    bool haveHour = false;
    bool reachedMarker = false, haveMarker = false, pm = false;

    size_t f = 0, t = 0;
    while (format[f] != '\0' && text[t] != '\0') {
        char family = xcalendar::Family(format[f], "AHLNS");
        if (!family) {
            ++f;
            ++t;
            continue;
        }
        int run = xcalendar::RunLength(format, static_cast<int>(f), family);
        f += static_cast<size_t>(run);
        int64_t value = 0;
        switch (family) {
        case 'A': {
            reachedMarker = true;
            std::string taken;
            for (int i = 0; i < run && text[t] != '\0'; ++i) {
                char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(text[t])));
                if (upper == 'A' || upper == 'M' || upper == 'P') {
                    taken.push_back(upper);
                    ++t;
                }
            }
            if (taken.size() == 2) {
                haveMarker = true;
                pm = taken[0] == 'P';
            }
            break;
        }
        case 'H':
            if (ReadDigits(text, t, run, value)) {
                hour = value;
                haveHour = true;
            }
            break;
        case 'N':
            minutes = ReadDigits(text, t, run, value) ? value : 0;
            break;
        case 'S':
            seconds = ReadDigits(text, t, run, value) ? value : 0;
            break;
        case 'L':
            milliseconds = ReadDigits(text, t, run, value) ? value : 0;
            break;
        }
    }

    if (haveMarker) {
        if (pm && hour < 12)
            hour += 12;
        else if (!pm && hour == 12)
            hour = 0;
    }
    if (!haveHour || (reachedMarker && !haveMarker))
        return false;
    int64_t total = ((hour * 60 + minutes) * 60 + seconds) * 1000 + milliseconds;
    // Values are not range-checked, but one that no 32-bit time holds is no time.
    if (total > INT32_MAX)
        return false;
    m_ms = static_cast<int32_t>(total);
    return true;
}

XTime XTime::FromOleDate(double oleDate)
{
    int32_t day, ms;
    if (!xcalendar::SplitOleDate(oleDate, day, ms))
        return XTime();
    return XTime(ms);
}

XTime XTime::Difference(const XTime& start, const XTime& end)
{
    if (start.IsNull())
        return end;
    int64_t to = end.IsNull() ? 0 : end.m_ms;
    int64_t diff = (to - start.m_ms) % MillisecondsPerDay;
    if (diff < 0)
        diff += MillisecondsPerDay;
    return XTime(static_cast<int32_t>(diff));
}
