// AdoDateLiterals: date comparisons for databases that keep dates as text.
// SQL Server compares a date column with the literal '2026-12-11' as dates:
// the literal is midnight of that day. SQLite compares the stored text, so
// a row stored as '2026-12-11 00:00:00.000' is not <= '2026-12-11' there, and
// the rows of the last day of a range are never read. The statement the data
// access layer builds and logs keeps its literals; only the text handed to
// such a driver is changed so that it selects the rows SQL Server would.
#pragma once

#include <string>

class AdoDateLiterals
{
public:
    // Returns the statement with every comparison against a date literal
    // ('YYYY-MM-DD', written after its operator) rewritten so that values
    // stored as 'YYYY-MM-DD' and as 'YYYY-MM-DD HH:MM:SS[.fff]' compare as
    // dates: <= and > compare with the literal at midnight written out in
    // full; = and <> (!=) become IN and NOT IN lists of the day's midnight
    // forms; >= and < already agree. Literals, quoted names and comments
    // are never touched otherwise.
    static std::string CompareAsDates(const std::string& statement);

    // True when a driver that reports this DBMS name stores dates as text
    // and so needs CompareAsDates (SQLite).
    static bool DbmsComparesDatesAsText(const std::string& dbmsName);
};
