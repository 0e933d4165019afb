// Table hints are removed for databases without them, and nothing else of the
// statement changes: literals, quoted names and comments stay as written.
#include <gtest/gtest.h>

#include "data/odbc/AdoTableHints.h"

namespace {

TEST(AdoTableHints, RemovesHintsOutsideLiterals)
{
    struct Case
    {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"SELECT STF.\"StaffID\" FROM \"Staff\" STF WITH (NOLOCK)   WHERE STF.\"_Year\" = '2009'",
         "SELECT STF.\"StaffID\" FROM \"Staff\" STF   WHERE STF.\"_Year\" = '2009'"},
        {"SELECT * FROM \"Staff\" STF WITH (NOLOCK)  ", "SELECT * FROM \"Staff\" STF  "},
        {"SELECT * FROM \"A\" WITH (NOLOCK) , \"B\" X WITH (NOLOCK)  ", "SELECT * FROM \"A\" , \"B\" X  "},
        {"select * from t with(nolock)where a=1", "select * from t where a=1"},
        {"SELECT * FROM t\tWiTh\n( NOLOCK , INDEX(ix1) ) WHERE 1=1", "SELECT * FROM t WHERE 1=1"},
        {"SELECT * FROM [T] WITH (NOLOCK)", "SELECT * FROM [T]"},
        // Literals, quoted names and comments are never touched.
        {"SELECT ' WITH (NOLOCK) ' FROM t WITH (NOLOCK)", "SELECT ' WITH (NOLOCK) ' FROM t"},
        {"SELECT 'it''s WITH (NOLOCK)' FROM t", "SELECT 'it''s WITH (NOLOCK)' FROM t"},
        {"SELECT \"a WITH (x)\" FROM t", "SELECT \"a WITH (x)\" FROM t"},
        {"SELECT [b WITH (x)] FROM t", "SELECT [b WITH (x)] FROM t"},
        {"SELECT 1 -- t WITH (NOLOCK)\nFROM t", "SELECT 1 -- t WITH (NOLOCK)\nFROM t"},
        {"SELECT 1 /* t WITH (NOLOCK) */ FROM t", "SELECT 1 /* t WITH (NOLOCK) */ FROM t"},
        // Not hints: a common table expression, a word containing WITH, an
        // unclosed list.
        {"WITH x AS (SELECT 1) SELECT * FROM x", "WITH x AS (SELECT 1) SELECT * FROM x"},
        {"SELECT WITHHOLD FROM t", "SELECT WITHHOLD FROM t"},
        {"SELECT * FROM t WITH (NOLOCK", "SELECT * FROM t WITH (NOLOCK"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AdoTableHints::Remove(c.in), c.out) << c.in;
}

TEST(AdoTableHints, OnlySqlServerKeepsHints)
{
    EXPECT_TRUE(AdoTableHints::DbmsSupportsHints("Microsoft SQL Server"));
    EXPECT_TRUE(AdoTableHints::DbmsSupportsHints("microsoft sql server"));
    EXPECT_FALSE(AdoTableHints::DbmsSupportsHints("SQLite"));
    EXPECT_FALSE(AdoTableHints::DbmsSupportsHints(""));
}

}  // namespace
