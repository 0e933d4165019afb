// XDateTime: combined formatting and reading, OLE conversion and span arithmetic.
#include "util/XDateTime.h"

#include <chrono>
#include <cstring>
#include <ctime>

#include "util/XCalendar.h"

namespace {

int64_t FloorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

} // namespace

XDateTime XDateTime::Now()
{
    using namespace std::chrono;
    system_clock::time_point now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    return XDateTime(XDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
                     XTime(local.tm_hour, local.tm_min, local.tm_sec, ms));
}

XString XDateTime::Format(const char* format) const
{
    if (m_date.IsNull() || m_time.IsNull())
        return XString();
    // The time pass runs over the date pass's output, so names and digits
    // written by the date pass are copied through.
    XString dated = m_date.Format(format);
    return m_time.Format(dated.GetText());
}

bool XDateTime::Parse(const char* format, const char* text)
{
    m_date.Parse(format, text);
    m_time.Parse(format, text);
    return !IsNull();
}

bool XDateTime::ParseTimestamp(const char* text)
{
    m_date = XDate();
    m_time = XTime();
    if (!text)
        return false;
    m_date.Parse("YYYY-MM-DD", text);
    // The time starts at the twelfth character; a shorter text has none.
    if (std::strlen(text) <= 11)
        return false;
    return m_time.Parse("HH:NN:SS.LLL", text + 11);
}

XDateTime XDateTime::FromOleDate(double oleDate)
{
    int32_t day, ms;
    if (!xcalendar::SplitOleDate(oleDate, day, ms))
        return XDateTime();
    return XDateTime(XDate(day), XTime(ms));
}

XDateTime& XDateTime::Add(const XDateSpan& span)
{
    int64_t amount = ((static_cast<int64_t>(span.Hours) * 60 + span.Minutes) * 60 + span.Seconds) * 1000 +
                     span.Milliseconds;
    int64_t time = (m_time.IsNull() ? 0 : m_time.GetMilliseconds()) + amount;
    int64_t carried = FloorDiv(time, XTime::MillisecondsPerDay);
    time -= carried * XTime::MillisecondsPerDay;
    m_time.SetMilliseconds(static_cast<int32_t>(time));

    int64_t day = m_date.IsNull() ? 0 : m_date.GetDayNumber();
    if (span.Years != 0 || span.Months != 0) {
        // Move the calendar month first; a day past the month's end then
        // carries into the following month (31 January + 1 month = 3 March).
        int year, month, dayOfMonth;
        XDate::Split(static_cast<int32_t>(day), year, month, dayOfMonth);
        int64_t months = static_cast<int64_t>(year) * 12 + (month - 1) + span.Years * 12LL + span.Months;
        int64_t first = XDate::DayNumber(static_cast<int>(FloorDiv(months, 12)),
                                         static_cast<int>(months - FloorDiv(months, 12) * 12) + 1, 1);
        day = first == XDate::Null ? XDate::Null : first + dayOfMonth - 1;
        if (day == XDate::Null) {
            m_date = XDate();
            return *this;
        }
    }
    day += static_cast<int64_t>(span.Days) + carried;
    m_date.SetDayNumber(static_cast<int32_t>(day));
    return *this;
}

XDateTime& XDateTime::Subtract(const XDateSpan& span)
{
    XDateSpan negated(-span.Years, -span.Months, -span.Days, -span.Hours, -span.Minutes,
                      -span.Seconds, -span.Milliseconds);
    return Add(negated);
}

bool XDateTime::IsAfter(const XDateTime& other) const
{
    if (m_date != other.m_date)
        return m_date > other.m_date;
    return m_time > other.m_time;
}
