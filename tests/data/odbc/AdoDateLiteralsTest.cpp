// Comparisons with date literals select, on a database that keeps dates as
// text, the rows SQL Server would; nothing else of the statement changes.
#include <gtest/gtest.h>

#include "data/odbc/AdoDateLiterals.h"

namespace {

TEST(AdoDateLiterals, ComparisonsWithADayMeanItsMidnight)
{
    struct Case
    {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"SELECT * FROM A WHERE A.D >= '2026-12-01' AND A.D <= '2026-12-11'",
         "SELECT * FROM A WHERE A.D >= '2026-12-01' AND A.D <= '2026-12-11 00:00:00.000'"},
        {"WHERE A.D>'2026-12-11' OR A.D<'2026-12-11'", "WHERE A.D>'2026-12-11 00:00:00.000' OR A.D<'2026-12-11'"},
        {"WHERE A.D = '2026-12-11'", "WHERE A.D IN ('2026-12-11', '2026-12-11 00:00:00', '2026-12-11 00:00:00.000')"},
        {"WHERE A.D <> '2026-12-11' AND B.D != '2026-12-11'",
         "WHERE A.D NOT IN ('2026-12-11', '2026-12-11 00:00:00', '2026-12-11 00:00:00.000') AND B.D NOT IN "
         "('2026-12-11', '2026-12-11 00:00:00', '2026-12-11 00:00:00.000')"},
        // Not a comparison with a date: other literals, a date as a value,
        // quoted names and comments stay as written.
        {"WHERE A.Y = '2026' AND A.T = '2026-12-11 08:00'", "WHERE A.Y = '2026' AND A.T = '2026-12-11 08:00'"},
        {"SELECT '2026-12-11' FROM A", "SELECT '2026-12-11' FROM A"},
        {"WHERE A.N = 'it''s' AND \"<= '2026-12-11'\" = 1", "WHERE A.N = 'it''s' AND \"<= '2026-12-11'\" = 1"},
        {"WHERE 1=1 -- D <= '2026-12-11'\n", "WHERE 1=1 -- D <= '2026-12-11'\n"},
        {"WHERE A.D <= '2026-12-1'", "WHERE A.D <= '2026-12-1'"},
        {"WHERE A.D <= '2026-12-11", "WHERE A.D <= '2026-12-11"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AdoDateLiterals::CompareAsDates(c.in), c.out) << c.in;
}

TEST(AdoDateLiterals, OnlySQLiteComparesDatesAsText)
{
    EXPECT_TRUE(AdoDateLiterals::DbmsComparesDatesAsText("SQLite"));
    EXPECT_FALSE(AdoDateLiterals::DbmsComparesDatesAsText("Microsoft SQL Server"));
    EXPECT_FALSE(AdoDateLiterals::DbmsComparesDatesAsText("PostgreSQL"));
}

}  // namespace
