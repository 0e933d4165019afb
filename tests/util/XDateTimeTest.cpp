// Tests of the date and time types: the format-token language in both
// directions, calendar arithmetic, OLE conversion and span arithmetic.
#include <gtest/gtest.h>

#include <string>

#include "util/XDate.h"
#include "util/XDateTime.h"
#include "util/XTime.h"

namespace {

// 8 July 2026, 21:05:03.042: the reference moment of the format tables.
XDateTime Reference()
{
    return XDateTime(XDate(2026, 7, 8), XTime(21, 5, 3, 42));
}

std::string Ymd(const XDate& d)
{
    return d.Format("YYYY-MM-DD").GetText();
}

class DateTest : public ::testing::Test
{
protected:
    // Two-digit years depend on the current year; fix it for repeatable tests.
    void SetUp() override { XDate::SetCenturyWindow(2026); }
};

TEST_F(DateTest, FormatTokens)
{
    struct Case {
        const char* format;
        const char* expected;
    } cases[] = {
        {"YYYY-MM-DD", "2026-07-08"},
        {"yyyy-mm-dd", "2026-07-08"},
        {"mm/dd/yyyy", "07/08/2026"},
        {"mm/dd/yyyy HH:NN:SS AA", "07/08/2026 9:05:03 PM"},
        {"YYYY/MM/DD HH:NN:SS", "2026/07/08 21:05:03"},
        {"MMM DD, YYYY HH:NN:SS", "Jul 08, 2026 21:05:03"},
        {"WWW, MMM DD, YYYY: HH:NN:SS AA", "Wed, Jul 08, 2026: 9:05:03 PM"},
        {"dd-mmm-yyyy hh:nn:ss", "08-Jul-2026 21:05:03"},
        {"YYYYMMDDHHNNSS", "20260708210503"},
        {"HH:NN:SS.LLL", "21:05:03.042"},
        {"dd/mm/yyyy|hh:nn:ss", "08/07/2026|21:05:03"},
        {"D M YY Y", "8 7 26 6"},
        {"DDD DDDD dDdDd", "Wed Wednesday Wednesday"},
        {"W WW WWW WWWW", "W We Wed Wednesday"},
        {"MMMM mmmmm", "July July"},
        {"YYY YYYYY", "YYY YYYYY"},            // meaningless runs are copied
        {"H N S LL LLLL A", "H N S LL LLLL A"},
        {"hh:nn aa", "21:05 PM"},              // lower-case aa keeps the 24-hour clock
    };
    XDateTime moment = Reference();
    for (const Case& c : cases)
        EXPECT_STREQ(c.expected, moment.Format(c.format)) << c.format;
}

TEST_F(DateTest, HourPaddingAndTwelveHourClock)
{
    struct Case {
        XTime time;
        const char* format;
        const char* expected;
    } cases[] = {
        {XTime(9, 5, 3), "HH:NN:SS", "9:05:03"},
        {XTime(0, 0, 0), "HH:NN:SS", "0:00:00"},
        {XTime(9, 5, 3), "HHNNSS", "090503"},
        {XTime(9, 5, 3), "NN HH", "05 09"},      // end of text pads too
        {XTime(0, 30, 0), "hh:nn AA", "12:30 AM"},
        {XTime(12, 0, 0), "HH AA", "12 PM"},
        {XTime(13, 30, 0), "hh:nn aa", "13:30 PM"},
        {XTime(23, 59, 59, 999), "HH:NN:SS.LLL AA", "11:59:59.999 PM"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(c.expected, c.time.Format(c.format)) << c.format;
}

TEST_F(DateTest, NullValuesFormatEmpty)
{
    EXPECT_STREQ("", XDate().Format("YYYY-MM-DD"));
    EXPECT_STREQ("", XTime().Format("HH:NN"));
    // A date-time needs both parts, even for a date-only format.
    EXPECT_STREQ("", XDateTime(XDate(2026, 7, 8), XTime()).Format("YYYY-MM-DD"));
    EXPECT_STREQ("", XDateTime(XDate(), XTime(0)).Format("HH:NN"));
}

TEST_F(DateTest, DayNumbersFollowTheGregorianCalendar)
{
    struct Case {
        int y, m, d;
        int32_t day;
    } cases[] = {
        {1600, 1, 1, 0},
        {1600, 1, 31, 30},
        {1600, 2, 29, 59},       // 1600 is a leap year
        {1600, 3, 1, 60},
        {1599, 12, 31, XDate::Null},
        {2026, 0, 8, XDate::Null},
        {2026, 7, 0, XDate::Null},
        {1899, 12, 30, XDate::OleEpoch},
        {3999, 12, 31, 876581},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.day, XDate::DayNumber(c.y, c.m, c.d)) << c.y << "-" << c.m << "-" << c.d;

    // Every day from 1600 to 3999 splits back to itself, and consecutive day
    // numbers are consecutive calendar days.
    int py = 1600, pm = 1, pd = 0;
    for (int32_t n = 0; n <= 876581; ++n) {
        int y, m, d;
        XDate::Split(n, y, m, d);
        ASSERT_EQ(n, XDate::DayNumber(y, m, d)) << n;
        bool next = (y == py && m == pm && d == pd + 1) || (y == py && m == pm + 1 && d == 1) ||
                    (y == py + 1 && m == 1 && d == 1 && pm == 12);
        ASSERT_TRUE(next) << n;
        py = y, pm = m, pd = d;
    }
}

TEST_F(DateTest, LeapYearsAndWeekdays)
{
    struct Case {
        int y, m, d;
        const char* expected;
    } cases[] = {
        {2000, 2, 29, "2000-02-29"},
        {1900, 2, 29, "1900-03-01"},   // 1900 is not a leap year
        {2024, 2, 29, "2024-02-29"},
        {2026, 2, 30, "2026-03-02"},
        {2024, 2, 30, "2024-03-01"},
        {2100, 2, 29, "2100-03-01"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, Ymd(XDate(c.y, c.m, c.d)));
    EXPECT_EQ(5, XDate(0).GetWeekday());                 // 1 January 1600 was a Saturday
    EXPECT_EQ(2, XDate(2026, 7, 8).GetWeekday());        // Wednesday
    EXPECT_EQ(-1, XDate().GetWeekday());
}

TEST_F(DateTest, DateReading)
{
    struct Case {
        const char* format;
        const char* text;
        bool ok;
        const char* expected;   // "" for a null date
    } cases[] = {
        {"yyyy-mm-dd", "2026-7-8", true, "2026-07-08"},
        {"yyyy-mm-dd", "2026/07/08", true, "2026-07-08"},
        {"mm/dd/yyyy", "07/08/2026", true, "2026-07-08"},
        {"dd-mmm-yyyy", "08-Jul-2026", true, "2026-07-08"},
        {"dd-mmm-yyyy", "8-JULY-2026", true, "2026-07-08"},
        {"DDMMMYYYY", "08JUL2026", true, "2026-07-08"},
        {"WWW, MMM DD, YYYY", "Wed, dec 09, 2026", true, "2026-12-09"},
        {"YYYYMMDDHHNNSS", "20260708210503", true, "2026-07-08"},
        {"yyyy-mm-dd hh:nn:ss", "2026-07-08 21:05:03", true, "2026-07-08"},
        {"yyyy-mm-dd", "2026-02-30", true, "2026-03-02"},
        {"yyyy-mm-dd", "1599-12-31", true, ""},      // found, but before day 0
        {"yyyy-mm-dd", "2026-07", false, ""},
        {"yyyy-mm-dd", "", false, ""},
        {"yyyy-mm-dd", "26-07-08", false, ""},        // YYYY needs four digits
        {"dd/mm/yy", "08/07/46", true, "2046-07-08"},
        {"dd/mm/yy", "08/07/47", true, "1947-07-08"},
        // A name that is no month is no date (never December).
        {"dd-mmm-yyyy", "08-Xyz-2026", false, ""},
        {"dd-mmm-yyyy", "08-Dec-2026", true, "2026-12-08"},
        // Tokens longer than 27 characters are refused, not overrun.
        {"yyyy-mm-dd", "2026000000000000000000000000-07-08", false, ""},
        {"YYYYMMDDXXXXXXXXXXXXXXXXXXXXXX", "20260708", false, ""},
        {"yyyy-mm-dd", "2026-07-08-1234567890123456789012345678901234567890", true, "2026-07-08"},
    };
    for (const Case& c : cases) {
        XDate d(5);
        EXPECT_EQ(c.ok, d.Parse(c.format, c.text)) << c.format << " / " << c.text;
        EXPECT_EQ(c.expected, Ymd(d)) << c.format << " / " << c.text;
    }
}

TEST_F(DateTest, DatesRoundTripThroughEveryFormat)
{
    const char* formats[] = {
        "YYYY-MM-DD", "MM/DD/YYYY", "DD-MMM-YYYY", "MMMM DD, YYYY", "YYYYMMDD",
        "DD.MM.YY", "WWW, MMM DD, YYYY", "yyyymmddhhnnss",
    };
    XDate dates[] = {XDate(1947, 1, 1), XDate(2024, 2, 29), XDate(2026, 12, 31), XDate(2046, 9, 30),
                     XDate(2000, 6, 15)};
    for (const char* format : formats) {
        for (const XDate& date : dates) {
            XString text = XDateTime(date, XTime(0)).Format(format);
            XDate back;
            EXPECT_TRUE(back.Parse(format, text)) << format << " / " << text.GetText();
            EXPECT_EQ(Ymd(date), Ymd(back)) << format << " / " << text.GetText();
        }
    }
    XDate far(3999, 12, 31), back;
    EXPECT_TRUE(back.FromText(far.ToText()));
    EXPECT_EQ(far, back);
}

TEST_F(DateTest, TimeReading)
{
    struct Case {
        const char* format;
        const char* text;
        bool ok;
        int32_t ms;
    } cases[] = {
        {"HH:NN:SS AA", "9:05:03 X", false, XTime::Null},   // the marker run finds no marker
        {"HH:NN:SS AA", "9:05:03", true, 32703000},         // the text ends before the marker
        {"HH:NN:SS AA", "12:00:00 AM", true, 0},
        {"HH:NN:SS AA", "12:00:00 PM", true, 43200000},
        {"hh:nn aa", "09:05 pm", true, 75900000},
        {"HH:NN:SS.LLL", "21:05:03.042", true, 75903042},
        {"HH:NN", "9", true, 32400000},
        {"HH:NN", ":30", false, XTime::Null},
        {"HH:NN", "", false, XTime::Null},
        {"dd-mmm-yyyy hh:nn:ss", "08-Jul-2026 21:05:03", true, 75903000},
        {"HHHHHHHHHHHHHHHHHHHHHHHH", "999999999999999999999999", false, XTime::Null},
    };
    for (const Case& c : cases) {
        XTime t(5);
        EXPECT_EQ(c.ok, t.Parse(c.format, c.text)) << c.format << " / " << c.text;
        EXPECT_EQ(c.ms, t.GetMilliseconds()) << c.format << " / " << c.text;
    }
}

TEST_F(DateTest, DateTimeParsing)
{
    XDateTime dt;
    EXPECT_TRUE(dt.Parse("mm/dd/yyyy HH:NN:SS AA", "07/08/2026 9:05:03 PM"));
    EXPECT_EQ(Reference().GetDate(), dt.GetDate());
    EXPECT_EQ(XTime(21, 5, 3), dt.GetTime());

    struct Case {
        const char* text;
        bool ok;
        const char* date;
        int32_t ms;
    } cases[] = {
        {"2026-12-08 09:05:03.123", true, "2026-12-08", 32703123},
        {"2026-12-08", false, "2026-12-08", XTime::Null},
        {"2026-12-08 ", false, "2026-12-08", XTime::Null},
        {"2026", false, "", XTime::Null},
        {"", false, "", XTime::Null},
        {nullptr, false, "", XTime::Null},
    };
    for (const Case& c : cases) {
        XDateTime ts = Reference();
        EXPECT_EQ(c.ok, ts.ParseTimestamp(c.text)) << (c.text ? c.text : "(null)");
        EXPECT_EQ(c.date, Ymd(ts.GetDate())) << (c.text ? c.text : "(null)");
        EXPECT_EQ(c.ms, ts.GetTime().GetMilliseconds()) << (c.text ? c.text : "(null)");
    }
}

TEST_F(DateTest, OleDatesRoundToTheMillisecond)
{
    // 8:05:00 held a hair below its true value must not read as 8:04:59.
    const double eightOhFive = (8 * 3600 + 5 * 60) / 86400.0;
    const double july8 = XDate(2026, 7, 8).GetDayNumber() - XDate::OleEpoch;
    struct Case {
        double ole;
        const char* expected;   // "" when both parts are null
    } cases[] = {
        {0.0, ""},
        {1.5, "1899-12-31 12:00:00.000"},
        {july8 + eightOhFive - 1e-10, "2026-07-08 8:05:00.000"},
        {july8 + eightOhFive + 1e-10, "2026-07-08 8:05:00.000"},
        {2.9999999999, "1900-01-02 0:00:00.000"},   // rounds into the next day
        {-1.25, "1899-12-29 6:00:00.000"},           // negative dates count time forward
    };
    for (const Case& c : cases) {
        XDateTime dt = XDateTime::FromOleDate(c.ole);
        EXPECT_STREQ(c.expected, dt.Format("YYYY-MM-DD HH:NN:SS.LLL")) << c.ole;
        EXPECT_EQ(dt.GetDate(), XDate::FromOleDate(c.ole)) << c.ole;
        EXPECT_EQ(dt.GetTime(), XTime::FromOleDate(c.ole)) << c.ole;
    }
    EXPECT_TRUE(XDateTime::FromOleDate(0.0).IsNull());
}

TEST_F(DateTest, SpanArithmetic)
{
    struct Case {
        XDateTime start;
        XDateSpan span;
        bool add;
        const char* expected;
    } cases[] = {
        {XDateTime(XDate(2025, 1, 31), XTime(0)), XDateSpan(0, 1, 0), true, "2025-03-03 0:00"},
        {XDateTime(XDate(2024, 1, 31), XTime(0)), XDateSpan(0, 1, 0), true, "2024-03-02 0:00"},
        {XDateTime(XDate(2025, 11, 15), XTime(0)), XDateSpan(1, 2, 0), true, "2027-01-15 0:00"},
        {XDateTime(XDate(2026, 12, 31), XTime(18, 0, 0)), XDateSpan::FromHours(12), true, "2027-01-01 6:00"},
        {XDateTime(XDate(2026, 3, 1), XTime(6, 0, 0)), XDateSpan::FromHours(12), false, "2026-02-28 18:00"},
        {XDateTime(XDate(2024, 3, 1), XTime(10, 0, 0)), XDateSpan::FromDays(1), false, "2024-02-29 10:00"},
        {XDateTime(XDate(2026, 7, 8), XTime()), XDateSpan::FromDays(1), true, "2026-07-09 0:00"},
        {XDateTime(XDate(), XTime()), XDateSpan::FromDays(1), true, "1600-01-02 0:00"},
        {XDateTime(XDate(2026, 1, 1), XTime(0)), XDateSpan(0, 0, 0, 0, 0, 0, -1), true, "2025-12-31 23:59"},
    };
    for (const Case& c : cases) {
        XDateTime dt = c.start;
        if (c.add)
            dt.Add(c.span);
        else
            dt.Subtract(c.span);
        EXPECT_STREQ(c.expected, dt.Format("YYYY-MM-DD HH:NN")) << c.expected;
    }
}

TEST_F(DateTest, OrderingPutsNullFirst)
{
    XDate null, day(100);
    EXPECT_TRUE(null < day);
    EXPECT_TRUE(null >= null);
    EXPECT_FALSE(null < null);
    EXPECT_FALSE(null > null);
    EXPECT_TRUE(null == -1);

    struct Case {
        XDateTime a, b;
        bool after;
    } cases[] = {
        {XDateTime(XDate(2), XTime()), XDateTime(XDate(1), XTime(5)), true},
        {XDateTime(XDate(1), XTime(5)), XDateTime(XDate(1), XTime(4)), true},
        {XDateTime(XDate(1), XTime(0)), XDateTime(XDate(1), XTime()), true},
        {XDateTime(XDate(1), XTime(4)), XDateTime(XDate(1), XTime(4)), false},
        {XDateTime(XDate(), XTime(9)), XDateTime(XDate(0), XTime(0)), false},
        {XDateTime(), XDateTime(), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.after, c.a.IsAfter(c.b));

    struct Span {
        XTime start, end;
        int32_t ms;
    } spans[] = {
        {XTime(1000), XTime(5000), 4000},
        {XTime(5000), XTime(1000), XTime::MillisecondsPerDay - 4000},   // across midnight
        {XTime(1000), XTime(), XTime::MillisecondsPerDay - 1000},       // null end is midnight
        {XTime(), XTime(7), 7},
    };
    for (const Span& s : spans)
        EXPECT_EQ(s.ms, XTime::Difference(s.start, s.end).GetMilliseconds());
}

} // namespace
