// XDate: a calendar date as a day number, day 0 being 1 January 1600 of the
// proleptic Gregorian calendar and -1 meaning no date. Formats and reads
// dates with the bridge's own token language (MM month, NN minutes), which
// the importer shares, so the token rules must not drift.
#pragma once

#include <cstdint>

#include "util/XString.h"

class XDate
{
public:
    static constexpr int32_t Null = -1;
    // Day number of 30 December 1899, day 0 of the OLE Automation calendar.
    static constexpr int32_t OleEpoch = 109571;

    XDate() = default;
    explicit XDate(int32_t dayNumber) : m_day(dayNumber) {}
    XDate(int year, int month, int day) : m_day(DayNumber(year, month, day)) {}

    static XDate Today();

    // Null when year < 1600, month 0 or day 0; month and day are not
    // otherwise checked (30 February is 2 days after 28 February).
    static int32_t DayNumber(int year, int month, int day);
    // Inverse of DayNumber; a null day gives 0, 0, 0.
    static void Split(int32_t dayNumber, int& year, int& month, int& day);

    int32_t GetDayNumber() const { return m_day; }
    void SetDayNumber(int32_t dayNumber) { m_day = dayNumber; }
    XDate& operator=(int32_t dayNumber) { m_day = dayNumber; return *this; }
    bool IsNull() const { return m_day == Null; }
    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    // 0 is Monday, 6 is Sunday; -1 for a null date.
    int GetWeekday() const;

    // Empty text for a null date.
    XString Format(const char* format) const;
    // True when year, month and day were all found; the date may still be
    // null (year before 1600). False leaves the date null.
    bool Parse(const char* format, const char* text);
    XString ToText() const { return Format("YYYY-MM-DD"); }
    bool FromText(const char* text) { return Parse("YYYY-MM-DD", text); }

    // Whole days since 30 December 1899 (the fraction rounded to the
    // millisecond may carry into the next day); 0.0 gives null.
    static XDate FromOleDate(double oleDate);

    XDate& operator+=(int32_t days) { m_day += days; return *this; }
    XDate& operator-=(int32_t days) { m_day -= days; return *this; }
    XDate operator+(int32_t days) const { return XDate(m_day + days); }
    XDate operator-(int32_t days) const { return XDate(m_day - days); }

    // A null date sorts before every real date; two nulls are equal.
    bool operator==(const XDate& other) const { return m_day == other.m_day; }
    bool operator!=(const XDate& other) const { return m_day != other.m_day; }
    bool operator==(int32_t dayNumber) const { return m_day == dayNumber; }
    bool operator!=(int32_t dayNumber) const { return m_day != dayNumber; }
    bool operator<(const XDate& other) const { return m_day < other.m_day; }
    bool operator>(const XDate& other) const { return m_day > other.m_day; }
    bool operator<=(const XDate& other) const { return m_day <= other.m_day; }
    bool operator>=(const XDate& other) const { return m_day >= other.m_day; }

    // Full English names; index 0 is January / Monday.
    static const char* MonthName(int monthIndex);
    static const char* WeekdayName(int weekdayIndex);

    // The two-digit year window: years above (base mod 100) read in the
    // century of base = current year - 80, the others in the next one.
    // Set from the current year on first use; tests may fix the year.
    static void SetCenturyWindow(int currentYear);

private:
    int32_t m_day = Null;
};
