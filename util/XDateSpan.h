// XDateSpan: an amount of calendar time to add to or take from an XDateTime.
#pragma once

#include <cstdint>

struct XDateSpan
{
    int32_t Years = 0;
    int32_t Months = 0;
    int32_t Days = 0;
    int32_t Hours = 0;
    int32_t Minutes = 0;
    int32_t Seconds = 0;
    int32_t Milliseconds = 0;

    XDateSpan() = default;
    XDateSpan(int32_t years, int32_t months, int32_t days, int32_t hours = 0,
              int32_t minutes = 0, int32_t seconds = 0, int32_t milliseconds = 0)
        : Years(years), Months(months), Days(days), Hours(hours),
          Minutes(minutes), Seconds(seconds), Milliseconds(milliseconds) {}

    static XDateSpan FromDays(int32_t days) { return XDateSpan(0, 0, days); }
    static XDateSpan FromHours(int32_t hours) { return XDateSpan(0, 0, 0, hours); }
};
