// AdoSqlText: the pieces of an SQL statement that the statement filters
// (table hints, date literals) step over as a whole: quoted literals and
// identifiers, and comments. Nothing inside them is ever changed.
#pragma once

#include <cctype>
#include <string>

namespace AdoSqlText {

inline bool IsWordChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' || c == '$';
}

inline bool IsSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Index just after the quoted part that starts at s[i], ending in `close`,
// where a doubled `close` stands for itself; s.size() when it is not closed.
inline size_t SkipQuoted(const std::string& s, size_t i, char close)
{
    for (++i; i < s.size(); ++i) {
        if (s[i] == close) {
            if (i + 1 < s.size() && s[i + 1] == close) {
                ++i;
                continue;
            }
            return i + 1;
        }
    }
    return s.size();
}

// Index just after a comment starting at s[i], or i when none starts there.
inline size_t SkipComment(const std::string& s, size_t i)
{
    if (s.compare(i, 2, "--") == 0) {
        size_t end = s.find('\n', i);
        return end == std::string::npos ? s.size() : end + 1;
    }
    if (s.compare(i, 2, "/*") == 0) {
        size_t end = s.find("*/", i + 2);
        return end == std::string::npos ? s.size() : end + 2;
    }
    return i;
}

// Index just after the quoted identifier or comment at s[i] (string
// literals not included), or i when none starts there.
inline size_t SkipIdentifierOrComment(const std::string& s, size_t i)
{
    if (s[i] == '"')
        return SkipQuoted(s, i, '"');
    if (s[i] == '[')
        return SkipQuoted(s, i, ']');
    return SkipComment(s, i);
}

} // namespace AdoSqlText
