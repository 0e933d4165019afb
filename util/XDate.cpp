// XDate: day-number arithmetic, the date pass of the format language and
// date reading.
#include "util/XDate.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "util/XCalendar.h"

namespace {

const char* const kMonthNames[12] = {
    "January", "February", "March", "April", "May", "June",
    "July", "August", "September", "October", "November", "December",
};

const char* const kWeekdayNames[7] = {
    "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday",
};

// Longest format or text token date reading accepts; longer ones fail the read.
const size_t kMaxToken = 27;

struct CenturyWindow {
    int pivot;
    int lowCentury;
    int highCentury;
};

int CurrentYear()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

CenturyWindow MakeWindow(int year)
{
    int base = year - 80;
    CenturyWindow w;
    w.pivot = base % 100;
    w.lowCentury = base - w.pivot;
    w.highCentury = w.lowCentury + 100;
    return w;
}

CenturyWindow& Window()
{
    static CenturyWindow window = MakeWindow(CurrentYear());
    return window;
}

// The first `count` bytes of a name, or the whole name when shorter.
void AppendName(std::string& out, const char* name, int count)
{
    size_t length = std::strlen(name);
    out.append(name, count < 0 || static_cast<size_t>(count) > length ? length : static_cast<size_t>(count));
}

void AppendTwoDigits(std::string& out, int value)
{
    if (value >= 0 && value < 10)
        out.push_back('0');
    out.append(std::to_string(value));
}

// A day or month field by its run length: the number (1), two digits (2),
// the short name (3) or the full name (4 or more). A day's name is its weekday.
void AppendNumberOrName(std::string& out, int run, int number, const char* name)
{
    if (run == 1)
        out.append(std::to_string(number));
    else if (run == 2)
        AppendTwoDigits(out, number);
    else
        AppendName(out, name, run == 3 ? 3 : -1);
}

// The tokens of a format or a text, one by one, without copies: runs of
// digits or of letters. In a format, "MMM" at the start of a token takes
// every following M/m, and any other letter run ends before a later "MMM".
class Tokens
{
public:
    Tokens(const char* text, bool format) : m_p(text), m_format(format) {}
    bool Next(std::string_view& token)
    {
        while (*m_p) {
            unsigned char c = static_cast<unsigned char>(*m_p);
            const char* start = m_p;
            if (std::isdigit(c)) {
                while (std::isdigit(static_cast<unsigned char>(*m_p)))
                    ++m_p;
            } else if (std::isalpha(c)) {
                if (m_format && std::strncmp(m_p, "MMM", 3) == 0) {
                    while (*m_p == 'M' || *m_p == 'm')
                        ++m_p;
                } else {
                    while (std::isalpha(static_cast<unsigned char>(*m_p)) &&
                           !(m_format && std::strncmp(m_p, "MMM", 3) == 0))
                        ++m_p;
                }
            } else {
                ++m_p;
                continue;
            }
            token = std::string_view(start, static_cast<size_t>(m_p - start));
            return true;
        }
        return false;
    }

private:
    const char* m_p;
    bool m_format;
};

// The value of a run of digits; false when it is empty or holds another byte.
bool DigitsValue(std::string_view s, int& value)
{
    if (s.empty())
        return false;
    int result = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        result = result * 10 + (c - '0');
    }
    value = result;
    return true;
}

// Month whose name begins with the given letters (any case), 0 when none.
int MonthFromName(std::string_view letters)
{
    for (int i = 0; i < 12; ++i)
        if (strncasecmp(kMonthNames[i], letters.data(), letters.size()) == 0)
            return i + 1;
    return 0;
}

} // namespace

void XDate::SetCenturyWindow(int currentYear)
{
    Window() = MakeWindow(currentYear);
}

const char* XDate::MonthName(int monthIndex)
{
    return monthIndex >= 0 && monthIndex < 12 ? kMonthNames[monthIndex] : "";
}

const char* XDate::WeekdayName(int weekdayIndex)
{
    return weekdayIndex >= 0 && weekdayIndex < 7 ? kWeekdayNames[weekdayIndex] : "";
}

XDate XDate::Today()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return XDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

int32_t XDate::DayNumber(int year, int month, int day)
{
    if (year < 1600 || month == 0 || day == 0)
        return Null;
    if (year == 1600 && month < 3)
        return month == 1 ? day - 1 : day + 30;
    int64_t m = month > 2 ? month - 3 : month + 9;
    int64_t y = month > 2 ? year : year - 1;
    int64_t years = y - 1600;
    int64_t c = years / 100;
    int64_t a = years % 100;
    int64_t n = (146097 * c) / 4 + (1461 * a) / 4 + (153 * m + 2) / 5 + day + 59;
    // Day numbers are 32-bit; wilder inputs are no date.
    if (n < 0 || n > INT32_MAX)
        return Null;
    return static_cast<int32_t>(n);
}

void XDate::Split(int32_t dayNumber, int& year, int& month, int& day)
{
    if (dayNumber < 0) {
        year = month = day = 0;
        return;
    }
    if (dayNumber < 31) {
        year = 1600, month = 1, day = dayNumber + 1;
        return;
    }
    if (dayNumber < 60) {
        year = 1600, month = 2, day = dayNumber - 30;
        return;
    }
    // Days since 1 March 1600, in 400-year, 4-year and 5-month cycles.
    int64_t k = static_cast<int64_t>(dayNumber) - 60;
    int64_t c = (4 * k + 3) / 146097;
    k -= 146097 * c / 4;
    int64_t a = (4 * k + 3) / 1461;
    k -= 1461 * a / 4;
    int64_t m = (5 * k + 2) / 153;
    day = static_cast<int>(k - (153 * m + 2) / 5 + 1);
    month = static_cast<int>(m < 10 ? m + 3 : m - 9);
    year = static_cast<int>(1600 + 100 * c + a + (m >= 10 ? 1 : 0));
}

int XDate::GetYear() const
{
    int y, m, d;
    Split(m_day, y, m, d);
    return y;
}

int XDate::GetMonth() const
{
    int y, m, d;
    Split(m_day, y, m, d);
    return m;
}

int XDate::GetDay() const
{
    int y, m, d;
    Split(m_day, y, m, d);
    return d;
}

int XDate::GetWeekday() const
{
    if (m_day < 0)
        return -1;
    return (m_day + 5) % 7;
}

// The numeric formats (runs of exactly YYYY, MM and DD in any case, the rest
// neither letters nor digits) written straight into `out`; false for any
// other format, or a year beyond four digits, which take the general path.
// Exports and the attendance cache format every date this way.
static bool FormatNumeric(const char* format, int year, int month, int day, char* out, size_t size)
{
    if (year < 1000 || year > 9999)
        return false;
    size_t at = 0;
    for (const char* p = format; *p;) {
        const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
        if (upper != 'Y' && upper != 'M' && upper != 'D') {
            if (std::isalnum(static_cast<unsigned char>(*p)) || at + 1 >= size)
                return false;
            out[at++] = *p++;
            continue;
        }
        int run = 0;
        while (std::toupper(static_cast<unsigned char>(p[run])) == upper)
            ++run;
        if (run != (upper == 'Y' ? 4 : 2) || at + run >= size)
            return false;
        int value = upper == 'Y' ? year : upper == 'M' ? month : day;
        for (int i = run - 1; i >= 0; --i, value /= 10)
            out[at + static_cast<size_t>(i)] = static_cast<char>('0' + value % 10);
        at += static_cast<size_t>(run);
        p += run;
    }
    out[at] = '\0';
    return true;
}

XString XDate::Format(const char* format) const
{
    if (IsNull() || !format)
        return XString();
    int year, month, day;
    Split(m_day, year, month, day);
    char numeric[64];
    if (FormatNumeric(format, year, month, day, numeric, sizeof numeric))
        return XString(numeric);
    const char* weekday = WeekdayName(GetWeekday());
    const char* monthName = MonthName(month - 1);
    std::string yearText = std::to_string(year);

    std::string out;
    out.reserve(std::strlen(format) + 16);
    int at = 0;
    while (format[at] != '\0') {
        char family = xcalendar::Family(format[at], "DWMY");
        if (!family) {
            out.push_back(format[at++]);
            continue;
        }
        int run = xcalendar::RunLength(format, at, family);
        bool copy = false;
        switch (family) {
        case 'D':
            AppendNumberOrName(out, run, day, weekday);
            break;
        case 'W':
            AppendName(out, weekday, run <= 3 ? run : -1);
            break;
        case 'M':
            AppendNumberOrName(out, run, month, monthName);
            break;
        case 'Y':
            if (run == 4)
                out.append(yearText);
            else if (run == 2)
                out.append(yearText.size() > 2 ? yearText.substr(2) : std::string());
            else if (run == 1)
                out.append(yearText.size() > 3 ? yearText.substr(3) : std::string());
            else
                copy = true;
            break;
        }
        if (copy)
            out.append(format + at, static_cast<size_t>(run));
        at += run;
    }
    return XString(out.c_str());
}

// A text read with the format YYYY-MM-DD (any case, any single separators)
// that starts with four, two and two digits, each run ended by a byte that
// is neither letter nor digit: the general reader pairs exactly those three
// tokens and reads them whole. False for any other format or text.
static bool ParseIsoDate(const char* format, const char* text, int& year, int& month, int& day)
{
    auto is = [](const char* p, char upper) { return std::toupper(static_cast<unsigned char>(*p)) == upper; };
    auto separator = [](char c) { return c != '\0' && !std::isalnum(static_cast<unsigned char>(c)); };
    if (!(is(format, 'Y') && is(format + 1, 'Y') && is(format + 2, 'Y') && is(format + 3, 'Y') &&
          separator(format[4]) && is(format + 5, 'M') && is(format + 6, 'M') && separator(format[7]) &&
          is(format + 8, 'D') && is(format + 9, 'D') && format[10] == '\0'))
        return false;
    auto digits = [text](int from, int count, int& value) {
        value = 0;
        for (int i = from; i < from + count; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(text[i])))
                return false;
            value = value * 10 + (text[i] - '0');
        }
        return !std::isalnum(static_cast<unsigned char>(text[from + count]));
    };
    return digits(0, 4, year) && separator(text[4]) && digits(5, 2, month) && separator(text[7]) &&
           digits(8, 2, day);
}

bool XDate::Parse(const char* format, const char* text)
{
    m_day = Null;
    if (!format || !text)
        return false;
    int isoYear = 0, isoMonth = 0, isoDay = 0;
    if (ParseIsoDate(format, text, isoYear, isoMonth, isoDay)) {
        m_day = DayNumber(isoYear, isoMonth, isoDay);
        return true;
    }
    Tokens formatTokens(format, true);
    Tokens textTokens(text, false);
    int year = 0, month = 0, day = 0;
    bool haveYear = false, haveMonth = false, haveDay = false;

    // Tokens pair up in order; the longer list's rest is not read.
    std::string_view formatToken, t;
    while (formatTokens.Next(formatToken) && textTokens.Next(t)) {
        // Tokens longer than the reader's token space are no date.
        if (formatToken.size() > kMaxToken || t.size() > kMaxToken)
            return false;
        char upper[kMaxToken];
        for (size_t i = 0; i < formatToken.size(); ++i)
            upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(formatToken[i])));
        const std::string_view f(upper, formatToken.size());
        size_t n = t.size();

        size_t p = f.find("YYYY");
        int value = 0;
        if (p != std::string_view::npos) {
            if (p < n) {
                std::string_view digits = t.substr(p, 4);
                if (digits.size() == 4 && DigitsValue(digits, value)) {
                    year = value;
                    haveYear = true;
                }
            }
        } else if ((p = f.find("YY")) != std::string_view::npos && p < n) {
            if (DigitsValue(t.substr(p, 2), value)) {
                const CenturyWindow& w = Window();
                year = value + (value > w.pivot ? w.lowCentury : w.highCentury);
                haveYear = true;
            }
        }

        p = f.find("MMM");
        if (p != std::string_view::npos) {
            if (p < n) {
                int found = MonthFromName(t.substr(p, 3));
                // A name that is no month makes the text no date.
                if (found == 0)
                    return false;
                month = found;
                haveMonth = true;
            }
        } else if ((p = f.find("MM")) != std::string_view::npos && p < n) {
            if (DigitsValue(t.substr(p, 2), value)) {
                month = value;
                haveMonth = true;
            }
        }

        p = f.find("DD");
        if (p != std::string_view::npos && p < n) {
            if (DigitsValue(t.substr(p, 2), value)) {
                day = value;
                haveDay = true;
            }
        }
    }

    if (!(haveYear && haveMonth && haveDay))
        return false;
    m_day = DayNumber(year, month, day);
    return true;
}

XDate XDate::FromOleDate(double oleDate)
{
    int32_t day, ms;
    if (!xcalendar::SplitOleDate(oleDate, day, ms))
        return XDate();
    return XDate(day);
}
