// How each kind of row value reads as text, number, flag and date.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "data/ValueText.h"
#include "tests/support/AdoDateTimeValue.h"

namespace {

AdoDecimal Decimal(const char* text)
{
    AdoDecimal value;
    std::string error;
    EXPECT_TRUE(AdoDecimal::FromText(text, &value, &error)) << text << ": " << error;
    return value;
}

struct Case
{
    const char* name;
    AdoVariant value;
    const char* text;
    int64_t integer;
    double number;
    bool flag;
};

TEST(ValueTextTest, EachKindReadsAsTextNumberAndFlag)
{
    const Case cases[] = {
        {"null", AdoVariant::Null(), "", 0, 0, false},
        {"empty", AdoVariant(), "", 0, 0, false},
        {"i2", AdoVariant::Integer(AdoVarType::I2, -12), "-12", -12, -12, true},
        {"i4 zero", AdoVariant::Integer(AdoVarType::I4, 0), "0", 0, 0, false},
        {"i8", AdoVariant::Integer(AdoVarType::I8, 9000000000LL), "9000000000", 9000000000LL, 9e9, true},
        {"i1", AdoVariant::Integer(AdoVarType::I1, -5), "-5", -5, -5, true},
        {"ui1", AdoVariant::Unsigned(AdoVarType::UI1, 200), "200", 200, 200, true},
        {"ui8 max", AdoVariant::Unsigned(AdoVarType::UI8, 18446744073709551615ULL), "18446744073709551615", -1,
         1.8446744073709552e19, true},
        {"float 3.10", AdoVariant::Real(AdoVarType::R8, 3.10), "3.1", 3, 3.1, true},
        {"float 100", AdoVariant::Real(AdoVarType::R4, 100.0), "100", 100, 100, true},
        {"float negative", AdoVariant::Real(AdoVarType::R8, -2.75), "-2.75", -2, -2.75, true},
        {"float tiny negative", AdoVariant::Real(AdoVarType::R8, -0.00001), "0", 0, -0.00001, true},
        {"decimal -5.25", AdoVariant::Decimal(Decimal("-5.25")), "-5.25", -5, -5.25, true},
        {"decimal rounds to four places", AdoVariant::Decimal(Decimal("1.23456")), "1.2346", 1, 1.23456, true},
        {"decimal carries", AdoVariant::Decimal(Decimal("9.99995")), "10", 9, 9.99995, true},
        // A scale-0 decimal past 64 bits keeps every digit.
        {"decimal high part", AdoVariant::Decimal(Decimal("79228162514264337593543950335")),
         "79228162514264337593543950335", -1, 7.922816251426434e28, true},
        {"decimal zero", AdoVariant::Decimal(Decimal("0.000")), "0", 0, 0, false},
        {"currency", AdoVariant::Currency(125000), "12.5", 12, 12.5, true},
        {"currency negative", AdoVariant::Currency(-10001), "-1.0001", -1, -1.0001, true},
        {"bool true", AdoVariant::Boolean(true), "True", 1, 1, true},
        {"bool false", AdoVariant::Boolean(false), "False", 0, 0, false},
        {"digits", AdoVariant::String("42"), "42", 42, 42, true},
        {"signed digits", AdoVariant::String("-42"), "-42", -42, -42, true},
        {"decimal text", AdoVariant::String("4.5"), "4.5", 0, 4.5, true},
        {"word", AdoVariant::String("abc"), "abc", 0, 0, true},
        {"8-bit bytes", AdoVariant::String("Gr\xFC\xDF" "e"), "Gr\xFC\xDF" "e", 0, 0, true},
        {"bytes", AdoVariant::Bytes(std::string("\x01\x02", 2)), "", 0, 0, false},
        {"date", AdoVariant::Date(Dt(2009, 3, 15, 8, 5, 0)), "2009/03/15 8:05:00", 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(c.text, VariantToText(c.value).c_str());
        EXPECT_EQ(c.integer, VariantToInt64(c.value));
        EXPECT_DOUBLE_EQ(c.number, VariantToDouble(c.value));
        EXPECT_EQ(c.flag, VariantToBool(c.value));
    }
}

TEST(ValueTextTest, TextFlagsReadAsTheirMeaning)
{
    struct Flag
    {
        const char* text;
        bool expected;
    } const flags[] = {
        {"Y", true}, {"Yes", true}, {"T", true}, {"1", true}, {"x", true},
        {"N", false}, {"n", false}, {" no ", false}, {"F", false}, {"false", false},
        {"FALSE", false}, {"0", false}, {"", false}, {"   ", false},
    };
    for (const Flag& f : flags)
        EXPECT_EQ(f.expected, VariantToBool(AdoVariant::String(f.text))) << "'" << f.text << "'";
}

TEST(ValueTextTest, IntegersAreCutTo32BitsForTheIntReaders)
{
    EXPECT_EQ(static_cast<int32_t>(9000000000LL), VariantToInt(AdoVariant::Integer(AdoVarType::I8, 9000000000LL)));
    // Texts too long for 64 bits are no number rather than undefined behaviour.
    EXPECT_EQ(0, VariantToInt64(AdoVariant::String("99999999999999999999999")));
    EXPECT_EQ(0, VariantToInt64(AdoVariant::Real(AdoVarType::R8, 1e300)));
}

// printf's "%.4f" with trailing zeros and point removed, and no sign on a
// zero: the number text every float, double and decimal conversion keeps.
std::string PrintfNumber(double value)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%.4f", value);
    std::string text = buffer;
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.')
        text.pop_back();
    return text == "-0" ? "0" : text;
}

TEST(ValueTextTest, NumberTextRoundsLikePrintfToFourDecimals)
{
    std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 0.5, 0.00005, 0.00004999, -0.00005, 1.0 / 3, 2.0 / 3,
                                  1e11, 99999999.99995, 1e12, 1e12 + 0.5, 123456789012345.678, 1e300, -1e300,
                                  5e-324, 0.1 + 0.2, 2.675, 1.00005, 1.00015, 4.35, -4.35};
    // Exact halves at the fifth decimal (odd multiples of 1/32) and
    // neighbours one step away, where a shortcut would round wrongly.
    for (int k = -200; k <= 200; ++k) {
        const double half = (2 * k + 1) / 32.0;
        values.push_back(half);
        values.push_back(std::nextafter(half, 1e9));
        values.push_back(std::nextafter(half, -1e9));
    }
    // A spread of magnitudes from tiny to past the shortcut's range.
    uint64_t seed = 12345;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const double unit = static_cast<double>(seed >> 11) / 9007199254740992.0;
        const double value = (unit - 0.5) * std::pow(10.0, i % 17 - 4);
        values.push_back(value);
        values.push_back(std::round(value * 100000) / 100000);  // five decimals, near a half
    }
    for (double value : values)
        EXPECT_STREQ(PrintfNumber(value).c_str(), FormatNumber(value).c_str()) << std::hexfloat << value;
}

// Date values are written without the general formatter; their text must
// stay exactly what XDateTime::Format gives, including its odd corners.
TEST(ValueTextTest, DateTextMatchesTheGeneralFormatter)
{
    std::vector<AdoDateTime> dates = {
        Dt(1599, 12, 31),         Dt(1600, 1, 1),         Dt(1600, 2, 29, 9, 59, 59), Dt(1600, 3, 1, 10),
        Dt(1900, 1, 1, 0, 0, 0),  Dt(2000, 2, 29, 23, 59, 59, 999), Dt(2009, 2, 30, 12, 30),  // 30 Feb: 2 Mar
        Dt(2009, 13, 1),          Dt(2009, 0, 1),         Dt(2009, 1, 0),         Dt(9999, 12, 31, 23),
        Dt(12000, 1, 1),          Dt(2009, 1, 1, 24, 0, 0), Dt(2009, 1, 1, 255, 255, 255, 65535),
        Dt(-5, 1, 1),             Dt(0, 0, 0),
    };
    // A sweep over four centuries, with every hour of the day.
    for (int i = 0; i < 2000; ++i) {
        XDate day(XDate(1890, 1, 1).GetDayNumber() + i * 73);
        dates.push_back(Dt(day.GetYear(), day.GetMonth(), day.GetDay(), i % 24, i % 60, (i * 7) % 60, i % 1000));
    }
    for (const AdoDateTime& t : dates) {
        const XDateTime stamp(XDate(t.year, t.month, t.day), XTime(t.hour, t.minute, t.second, t.millisecond));
        EXPECT_STREQ(stamp.Format("YYYY/MM/DD HH:NN:SS").c_str(), VariantToText(AdoVariant::Date(t)).c_str())
            << t.year << "-" << int(t.month) << "-" << int(t.day) << " " << int(t.hour) << ":" << int(t.minute)
            << ":" << int(t.second);
    }
}

TEST(ValueTextTest, OnlyDatesGiveADate)
{
    const XDateTime stamp = VariantToDateTime(AdoVariant::Date(Dt(2009, 3, 15, 23, 59, 58)));
    EXPECT_STREQ("2009-03-15 23:59:58", stamp.Format("YYYY-MM-DD HH:NN:SS").c_str());
    EXPECT_TRUE(VariantToDateTime(AdoVariant::String("2009-03-15")).IsNull());
    EXPECT_TRUE(VariantToDateTime(AdoVariant::Null()).IsNull());
}

}  // namespace
