// XDateTime: a date and a time of day, each independently null, formatted
// and read with the combined date and time token language.
#pragma once

#include "util/XDate.h"
#include "util/XDateSpan.h"
#include "util/XTime.h"

class XDateTime
{
public:
    XDateTime() = default;
    XDateTime(const XDate& date, const XTime& time) : m_date(date), m_time(time) {}

    // Current local date and time to the millisecond.
    static XDateTime Now();

    const XDate& GetDate() const { return m_date; }
    const XTime& GetTime() const { return m_time; }
    XDate& GetDate() { return m_date; }
    XTime& GetTime() { return m_time; }
    bool IsNull() const { return m_date.IsNull() && m_time.IsNull(); }

    // Date pass, then time pass over its result; empty when either part is null.
    XString Format(const char* format) const;
    // Reads date and time with the same format; true unless both came out null.
    bool Parse(const char* format, const char* text);
    // "YYYY-MM-DD HH:NN:SS.LLL" texts; true when the time is valid. A text
    // too short to hold a time gives false.
    bool ParseTimestamp(const char* text);

    // Rounds to the nearest millisecond, carrying into the next day; 0.0
    // gives both parts null.
    static XDateTime FromOleDate(double oleDate);

    XDateTime& Add(const XDateSpan& span);
    XDateTime& Subtract(const XDateSpan& span);

    // Strictly later: dates first (null earliest), then times (null earliest).
    bool IsAfter(const XDateTime& other) const;

    bool operator==(const XDateTime& other) const { return m_date == other.m_date && m_time == other.m_time; }
    bool operator!=(const XDateTime& other) const { return !(*this == other); }

private:
    XDate m_date;
    XTime m_time;
};
