// Packed rows of a static cursor read back as exactly the values stored.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "data/odbc/AdoRowStore.h"
#include "tests/support/AdoDateTimeValue.h"

namespace {

AdoDecimal Decimal(const char* text)
{
    AdoDecimal value;
    std::string error;
    EXPECT_TRUE(AdoDecimal::FromText(text, &value, &error)) << error;
    return value;
}

TEST(AdoRowStoreTest, EveryKindReadsBackUnchanged)
{
    const std::vector<std::vector<AdoVariant>> rows = {
        {AdoVariant(), AdoVariant::Null(), AdoVariant::Integer(AdoVarType::I1, -128),
         AdoVariant::Integer(AdoVarType::I8, INT64_MIN), AdoVariant::Integer(AdoVarType::Int, 7),
         AdoVariant::Unsigned(AdoVarType::UI8, UINT64_MAX), AdoVariant::Unsigned(AdoVarType::UI2, 65535),
         AdoVariant::Real(AdoVarType::R4, 1.1), AdoVariant::Real(AdoVarType::R8, -0.0),
         AdoVariant::Boolean(true)},
        {AdoVariant::Currency(-125001), AdoVariant::Decimal(Decimal("-79228162514264337593543950335")),
         AdoVariant::Decimal(Decimal("0.0000000000000000000000000001")),
         AdoVariant::Date(Dt(1899, 12, 30, 23, 59, 59, 999)), AdoVariant::Date(Dt(-32768, 255, 0)),
         AdoVariant::String(""), AdoVariant::String(std::string("a\0b", 3)), AdoVariant::Bytes(std::string(1, '\0')),
         AdoVariant::Bytes(std::string(200, '\xFF')), AdoVariant::Boolean(false)},
        // Texts whose lengths need one, two and three length bytes, and a
        // row larger than a whole block.
        {AdoVariant::String(std::string(127, 'x')), AdoVariant::String(std::string(128, 'y')),
         AdoVariant::String(std::string(16384, 'z')), AdoVariant::Bytes(std::string(3 << 20, '\x01')),
         AdoVariant::Null(), AdoVariant::Null(), AdoVariant::Null(), AdoVariant::Null(), AdoVariant::Null(),
         AdoVariant::String("last")},
    };
    AdoRowStore store;
    for (const auto& row : rows)
        store.Append(row);
    ASSERT_EQ(rows.size(), store.RowCount());
    // Out of order and into one reused row, as a cursor moving around does.
    std::vector<AdoVariant> read;
    for (size_t index : {2, 0, 1, 2, 1, 0}) {
        store.Read(index, read);
        ASSERT_EQ(rows[index].size(), read.size());
        for (size_t i = 0; i < read.size(); ++i) {
            EXPECT_EQ(rows[index][i].Type(), read[i].Type()) << index << "/" << i;
            EXPECT_TRUE(rows[index][i] == read[i]) << index << "/" << i;
        }
    }
    EXPECT_TRUE(std::signbit(read[8].AsDouble()));  // row 0: -0.0 keeps its sign
    store.Clear();
    EXPECT_EQ(0u, store.RowCount());
}

TEST(AdoRowStoreTest, SmallValuesTakeFarLessThanValueObjects)
{
    AdoRowStore store;
    std::vector<AdoVariant> row;
    for (int i = 0; i < 8; ++i)
        row.push_back(AdoVariant::Integer(AdoVarType::I4, i));
    row.push_back(AdoVariant::String("Lastname1234 Firstname"));  // longer than a short-string buffer
    row.push_back(AdoVariant::Date(Dt(2009, 1, 1)));
    const size_t rows = 100000;
    for (size_t i = 0; i < rows; ++i)
        store.Append(row);
    const size_t asValues = rows * row.size() * sizeof(AdoVariant);
    EXPECT_LT(store.HeldBytes(), asValues / 3);
}

}  // namespace
