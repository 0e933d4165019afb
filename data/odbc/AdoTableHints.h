// AdoTableHints: removes SQL Server table hints (" WITH (NOLOCK)" and the
// like) from a statement for databases that do not understand them. The
// statement the data access layer builds and logs keeps its hints; only the
// text handed to such a driver is filtered.
#pragma once

#include <string>

class AdoTableHints
{
public:
    // Returns the statement with every table hint removed: the word WITH (any
    // case, as a whole word) followed, after optional blanks, by a
    // parenthesised list (nested parentheses allowed), together with the
    // blanks before it. A single blank is kept where the hint separated two
    // words. Text inside single-quoted literals, double-quoted and bracketed
    // identifiers and comments is never touched, and WITH followed by
    // anything but "(" (a common table expression) is kept.
    static std::string Remove(const std::string& statement);

    // True when a driver that reports this DBMS name understands table
    // hints (SQL Server and its relatives), so statements go through
    // unchanged.
    static bool DbmsSupportsHints(const std::string& dbmsName);
};
