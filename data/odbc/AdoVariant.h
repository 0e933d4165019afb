// AdoVariant: one value of a result row, in the kinds the field readers switch
// on (null, signed and unsigned integers, floats, exact decimals, dates,
// 8-bit strings, booleans, currency and byte arrays). Values are small and
// copyable; a static cursor keeps its rows packed (AdoRowStore) and unpacks
// the current one into values.
#pragma once

#include <cstdint>
#include <string>

// Value kinds; the numbers are the variant type codes the readers use.
enum class AdoVarType : uint16_t {
    Empty = 0,
    Null = 1,
    I2 = 2,
    I4 = 3,
    R4 = 4,
    R8 = 5,
    Currency = 6,   // 64-bit integer scaled by 10000
    Date = 7,
    String = 8,     // 8-bit bytes, unchanged from the source
    Bool = 11,
    Decimal = 14,
    I1 = 16,
    UI1 = 17,
    UI2 = 18,
    UI4 = 19,
    I8 = 20,
    UI8 = 21,
    Int = 22,
    UInt = 23,
    ByteArray = 0x2011,  // array of unsigned bytes
};

// An exact decimal: a 96-bit magnitude, a scale (digits after the point,
// 0 to 28) and a sign. The value is (-1)^negative * mantissa / 10^scale.
struct AdoDecimal
{
    uint64_t lo64 = 0;      // low 64 bits of the magnitude
    uint32_t hi32 = 0;      // high 32 bits of the magnitude
    uint8_t scale = 0;
    bool negative = false;

    static constexpr int MaxScale = 28;

    // Parses a decimal text as drivers deliver it: optional sign, digits, an
    // optional point and digits, an optional exponent ("1.5E+3"). Digits past
    // the 96-bit range are rounded away from the fraction; false (with a
    // reason in *error) when the text is not a number or its integer part
    // does not fit in 96 bits.
    static bool FromText(const std::string& text, AdoDecimal* out, std::string* error);

    // The exact value as text: "-5.25", "12345678901234567890123", "0.10"
    // (the scale's trailing zeros are kept).
    std::string ToString() const;

    // The nearest double.
    double ToDouble() const;

    bool operator==(const AdoDecimal& o) const
    {
        return lo64 == o.lo64 && hi32 == o.hi32 && scale == o.scale && negative == o.negative;
    }
};

// A calendar date and time of day, as the driver delivers it.
struct AdoDateTime
{
    int16_t year = 0;
    uint8_t month = 0;     // 1..12
    uint8_t day = 0;       // 1..31
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;
    uint16_t millisecond = 0;

    // Days since 30 December 1899 with the time of day as the fraction
    // (negative dates keep the time as a positive fraction, as OLE dates do).
    double ToOleDate() const;
    // The inverse of ToOleDate, rounded to the millisecond.
    static AdoDateTime FromOleDate(double oleDate);

    bool operator==(const AdoDateTime& o) const
    {
        return year == o.year && month == o.month && day == o.day && hour == o.hour &&
               minute == o.minute && second == o.second && millisecond == o.millisecond;
    }
};

class AdoVariant
{
public:
    AdoVariant() = default;  // Empty

    static AdoVariant Null();
    // Signed integer kinds: I1, I2, I4, I8, Int. The value is stored as given.
    static AdoVariant Integer(AdoVarType kind, int64_t value);
    // Unsigned integer kinds: UI1, UI2, UI4, UI8, UInt.
    static AdoVariant Unsigned(AdoVarType kind, uint64_t value);
    // R4 or R8.
    static AdoVariant Real(AdoVarType kind, double value);
    static AdoVariant Boolean(bool value);
    // Currency in ten-thousandths (12.5 is 125000).
    static AdoVariant Currency(int64_t tenThousandths);
    static AdoVariant Decimal(const AdoDecimal& value);
    static AdoVariant Date(const AdoDateTime& value);
    // 8-bit text; the bytes are kept unchanged (including bytes above 127 and NULs).
    static AdoVariant String(std::string bytes);
    static AdoVariant Bytes(std::string bytes);

    // Makes this value a String or ByteArray (`kind`) and returns its byte
    // buffer, emptied, to be filled in place. The buffer keeps its capacity,
    // so a value reused row after row does not allocate again.
    std::string& ResetText(AdoVarType kind);

    AdoVarType Type() const { return m_type; }
    bool IsNull() const { return m_type == AdoVarType::Null; }
    bool IsEmpty() const { return m_type == AdoVarType::Empty; }

    // Typed reads. Each is valid only for its kinds and returns 0 / false /
    // an empty value for every other kind, so a caller that has not checked
    // Type() never reads a wrong member.
    int64_t AsInt64() const;            // I1, I2, I4, I8, Int
    uint64_t AsUInt64() const;          // UI1, UI2, UI4, UI8, UInt
    double AsDouble() const;            // R4, R8
    bool AsBool() const;                // Bool
    int64_t AsCurrency() const;         // Currency, in ten-thousandths
    AdoDecimal AsDecimal() const;       // Decimal
    AdoDateTime AsDate() const;         // Date
    double AsOleDate() const;           // Date, as days since 30 December 1899
    const std::string& Text() const;    // String and ByteArray bytes

    bool operator==(const AdoVariant& o) const;
    bool operator!=(const AdoVariant& o) const { return !(*this == o); }

private:
    // 16 bytes of payload besides the text: one 8-byte word (integers, doubles,
    // flags, a decimal's low bits, a date's calendar parts) and a 32-bit
    // auxiliary (a decimal's high bits, a date's milliseconds).
    struct DateWord
    {
        int16_t year;
        uint8_t month, day, hour, minute, second, spare;
    };

    union {
        int64_t i;
        uint64_t u;
        double d;
        bool b;
        DateWord date;
    } m_v{};
    uint32_t m_aux = 0;
    uint8_t m_scale = 0;
    bool m_negative = false;
    AdoVarType m_type = AdoVarType::Empty;
    std::string m_text;  // String and ByteArray
};
