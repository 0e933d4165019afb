// XTime: a time of day in milliseconds since midnight (0 to 86,399,999),
// -1 meaning no time, with the bridge's own format tokens (HH hour, NN
// minutes, SS seconds, LLL milliseconds, AA the AM/PM marker).
#pragma once

#include <cstdint>

#include "util/XString.h"

class XTime
{
public:
    static constexpr int32_t Null = -1;
    static constexpr int32_t MillisecondsPerDay = 86400000;

    XTime() = default;
    explicit XTime(int32_t milliseconds) : m_ms(milliseconds) {}
    XTime(int hour, int minute, int second, int millisecond = 0)
        : m_ms(((hour * 60 + minute) * 60 + second) * 1000 + millisecond) {}

    int32_t GetMilliseconds() const { return m_ms; }
    void SetMilliseconds(int32_t milliseconds) { m_ms = milliseconds; }
    bool IsNull() const { return m_ms == Null; }
    int GetHour() const { return m_ms / 3600000; }
    int GetMinute() const { return m_ms / 60000 % 60; }
    int GetSecond() const { return m_ms / 1000 % 60; }
    int GetMillisecond() const { return m_ms % 1000; }

    // Empty text for a null time.
    XString Format(const char* format) const;
    // True when a valid time was read; otherwise the time becomes null.
    bool Parse(const char* format, const char* text);

    // The fraction of an OLE Automation date, rounded to the nearest
    // millisecond (a full day wraps to midnight); 0.0 gives null.
    static XTime FromOleDate(double oleDate);

    // Elapsed time from start to end modulo one day; a null end counts as
    // midnight, a null start gives end unchanged.
    static XTime Difference(const XTime& start, const XTime& end);

    bool operator==(const XTime& other) const { return m_ms == other.m_ms; }
    bool operator!=(const XTime& other) const { return m_ms != other.m_ms; }
    bool operator<(const XTime& other) const { return m_ms < other.m_ms; }
    bool operator>(const XTime& other) const { return m_ms > other.m_ms; }
    bool operator<=(const XTime& other) const { return m_ms <= other.m_ms; }
    bool operator>=(const XTime& other) const { return m_ms >= other.m_ms; }

private:
    int32_t m_ms = Null;
};
