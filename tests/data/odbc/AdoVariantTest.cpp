// Values keep what the database delivered: decimals their full exact value,
// dates their parts through the day-number form, texts their bytes.
#include <gtest/gtest.h>

#include "data/odbc/AdoError.h"
#include "data/odbc/AdoVariant.h"

namespace {

TEST(AdoDecimal, TextRoundTripIsExact)
{
    struct Case
    {
        const char* text;
        const char* exact;  // ToString of the parsed value
        int scale;
        bool negative;
    };
    const Case cases[] = {
        {"12.50", "12.50", 2, false},
        {"-5.25", "-5.25", 2, true},
        {"0", "0", 0, false},
        {"-0.00", "0.00", 2, false},
        {"+7", "7", 0, false},
        {".5", "0.5", 1, false},
        {"  42  ", "42", 0, false},
        // Above 64 bits: the high part must not be lost.
        {"18446744073709551616", "18446744073709551616", 0, false},
        {"-79228162514264337593543950335", "-79228162514264337593543950335", 0, true},
        {"1234567890123456789012.345678", "1234567890123456789012.345678", 6, false},
        // Exponent forms as some drivers print doubles.
        {"1.5E+3", "1500", 0, false},
        {"2.5e-3", "0.0025", 4, false},
        // More fraction digits than the 96-bit form holds: rounded.
        {"0.12345678901234567890123456789", "0.1234567890123456789012345679", 28, false},
        {"7922816251426433759354395033.56", "7922816251426433759354395034", 0, false},
    };
    for (const Case& c : cases) {
        AdoDecimal d;
        std::string error;
        ASSERT_TRUE(AdoDecimal::FromText(c.text, &d, &error)) << c.text << ": " << error;
        EXPECT_EQ(d.ToString(), c.exact) << c.text;
        EXPECT_EQ(d.scale, c.scale) << c.text;
        EXPECT_EQ(d.negative, c.negative) << c.text;
    }
}

TEST(AdoDecimal, RejectsWhatIsNotANumberOrTooLarge)
{
    for (const char* text : {"", "-", "abc", "1.2.3", "12x", "1e", "79228162514264337593543950336",
                             "1e40"}) {
        AdoDecimal d;
        std::string error;
        EXPECT_FALSE(AdoDecimal::FromText(text, &d, &error)) << text;
        EXPECT_NE(error.find(text), std::string::npos) << error;
    }
}

TEST(AdoDecimal, DoubleIsNearest)
{
    AdoDecimal d;
    ASSERT_TRUE(AdoDecimal::FromText("-5.25", &d, nullptr));
    EXPECT_DOUBLE_EQ(d.ToDouble(), -5.25);
    ASSERT_TRUE(AdoDecimal::FromText("18446744073709551616", &d, nullptr));
    EXPECT_DOUBLE_EQ(d.ToDouble(), 18446744073709551616.0);
}

TEST(AdoDateTime, OleDayNumbers)
{
    struct Case
    {
        AdoDateTime t;
        double ole;
    };
    const Case cases[] = {
        {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
        {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
        {{2009, 3, 15, 0, 0, 0, 0}, 39887.0},
        {{2009, 3, 15, 12, 0, 0, 0}, 39887.5},
        {{2000, 2, 29, 6, 0, 0, 0}, 36585.25},
        {{1899, 12, 29, 6, 0, 0, 0}, -1.25},
        {{1600, 1, 1, 0, 0, 0, 0}, -109571.0},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(c.t.ToOleDate(), c.ole) << c.ole;
        EXPECT_EQ(AdoDateTime::FromOleDate(c.ole), c.t) << c.ole;
    }
    // Milliseconds survive the round trip, also just before midnight.
    const AdoDateTime late{2009, 3, 15, 23, 59, 59, 999};
    EXPECT_EQ(AdoDateTime::FromOleDate(late.ToOleDate()), late);
}

TEST(AdoVariant, TypedReadsAnswerOnlyForTheirKinds)
{
    const AdoVariant i = AdoVariant::Integer(AdoVarType::I4, -3);
    const AdoVariant u = AdoVariant::Unsigned(AdoVarType::UI8, 18446744073709551615ull);
    const AdoVariant s = AdoVariant::String(std::string("a\0\xff", 3));
    EXPECT_EQ(i.AsInt64(), -3);
    EXPECT_EQ(i.AsUInt64(), 0u);
    EXPECT_EQ(i.Text(), "");
    EXPECT_EQ(u.AsUInt64(), 18446744073709551615ull);
    EXPECT_EQ(u.AsInt64(), 0);
    EXPECT_EQ(s.Text(), std::string("a\0\xff", 3));
    EXPECT_EQ(s.AsDouble(), 0.0);
    EXPECT_EQ(AdoVariant::Real(AdoVarType::R4, 0.1).AsDouble(), static_cast<double>(0.1f));
    EXPECT_EQ(AdoVariant::Currency(125000).AsCurrency(), 125000);
    EXPECT_TRUE(AdoVariant::Null().IsNull());
    EXPECT_TRUE(AdoVariant().IsEmpty());
    EXPECT_NE(AdoVariant::String(""), AdoVariant::Null());
}

TEST(AdoSystemMessage, TextsForOwnForeignAndDispatchCodes)
{
    EXPECT_EQ(AdoSystemMessage(AdoCode::ConnectionLost), "The connection to the data source was lost.");
    EXPECT_EQ(AdoSystemMessage(0x80040205u), "IDispatch error #5");
    EXPECT_EQ(AdoSystemMessage(0x12345678u), "Unknown error 0x12345678");
    for (uint32_t code : {AdoCode::ProviderError, AdoCode::NoCurrentRecord, AdoCode::ItemNotFound,
                          AdoCode::ObjectClosed, AdoCode::ConversionFailed}) {
        const std::string text = AdoSystemMessage(code);
        EXPECT_EQ(text.find("Unknown error"), std::string::npos) << std::hex << code;
        EXPECT_NE(text.back(), '\n');
    }
}

TEST(AdoErrorStates, LinkFailuresCountAsLostConnections)
{
    for (const char* state : {"08S01", "08003", "08007", "HYT01"})
        EXPECT_TRUE(AdoIsConnectionLostState(state)) << state;
    for (const char* state : {"08001", "IM002", "42000", "HY000", ""})
        EXPECT_FALSE(AdoIsConnectionLostState(state)) << state;
}

}  // namespace
