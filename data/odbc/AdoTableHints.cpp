// AdoTableHints: a small scanner that removes " WITH (...)" table hints while
// leaving literals, quoted identifiers and comments alone.
#include "data/odbc/AdoTableHints.h"

#include "data/odbc/AdoSqlText.h"

#include <algorithm>
#include <cctype>

namespace {

using AdoSqlText::IsSpace;
using AdoSqlText::IsWordChar;
using AdoSqlText::SkipComment;
using AdoSqlText::SkipQuoted;

// Index just after the ")" matching the "(" at s[i], or npos.
size_t MatchParenthesis(const std::string& s, size_t i)
{
    int depth = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '\'' || c == '"') {
            i = SkipQuoted(s, i, c);
            continue;
        }
        if (c == '[') {
            i = SkipQuoted(s, i, ']');
            continue;
        }
        if (c == '(')
            ++depth;
        else if (c == ')' && --depth == 0)
            return i + 1;
        ++i;
    }
    return std::string::npos;
}

// True when the text written so far ends (blanks aside) in a name, so a
// following WITH belongs to a table reference.
bool EndsInName(const std::string& out)
{
    size_t k = out.size();
    while (k > 0 && IsSpace(out[k - 1]))
        --k;
    if (k == 0)
        return false;
    const char c = out[k - 1];
    return IsWordChar(c) || c == '"' || c == ']';
}

bool IsWith(const std::string& word)
{
    return word.size() == 4 && std::toupper(static_cast<unsigned char>(word[0])) == 'W' &&
           std::toupper(static_cast<unsigned char>(word[1])) == 'I' &&
           std::toupper(static_cast<unsigned char>(word[2])) == 'T' &&
           std::toupper(static_cast<unsigned char>(word[3])) == 'H';
}

}  // namespace

std::string AdoTableHints::Remove(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        size_t next = i;
        if (c == '\'' || c == '"')
            next = SkipQuoted(s, i, c);
        else if (c == '[')
            next = SkipQuoted(s, i, ']');
        else
            next = SkipComment(s, i);
        if (next != i) {
            out.append(s, i, next - i);
            i = next;
            continue;
        }
        if (!IsWordChar(c)) {
            out.push_back(c);
            ++i;
            continue;
        }
        size_t end = i;
        while (end < s.size() && IsWordChar(s[end]))
            ++end;
        const std::string word = s.substr(i, end - i);
        if (IsWith(word) && EndsInName(out)) {
            size_t open = end;
            while (open < s.size() && IsSpace(s[open]))
                ++open;
            const size_t close = open < s.size() && s[open] == '(' ? MatchParenthesis(s, open) : std::string::npos;
            if (close != std::string::npos) {
                // Drop the hint and the blanks before it; keep one blank if
                // the hint was all that separated two words.
                while (!out.empty() && IsSpace(out.back()))
                    out.pop_back();
                if (close < s.size() && (IsWordChar(s[close]) || s[close] == '"' || s[close] == '['))
                    out.push_back(' ');
                i = close;
                continue;
            }
        }
        out += word;
        i = end;
    }
    return out;
}

bool AdoTableHints::DbmsSupportsHints(const std::string& dbmsName)
{
    std::string lower = dbmsName;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return std::tolower(ch); });
    return lower.find("sql server") != std::string::npos;
}
