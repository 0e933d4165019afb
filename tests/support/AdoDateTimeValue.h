// A date-time value of the recordset layer written in one call, for the
// tables of tests that compare values read from text or from the driver.
#pragma once

#include <cstdint>

#include "data/odbc/AdoVariant.h"

inline AdoDateTime Dt(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    AdoDateTime t;
    t.year = static_cast<int16_t>(y);
    t.month = static_cast<uint8_t>(mo);
    t.day = static_cast<uint8_t>(d);
    t.hour = static_cast<uint8_t>(h);
    t.minute = static_cast<uint8_t>(mi);
    t.second = static_cast<uint8_t>(s);
    t.millisecond = static_cast<uint16_t>(ms);
    return t;
}
