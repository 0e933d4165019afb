// AdoDateLiterals: a small scanner that rewrites the comparisons with date
// literals, leaving everything else of the statement as it was.
#include "data/odbc/AdoDateLiterals.h"

#include "data/odbc/AdoSqlText.h"

#include <algorithm>
#include <cctype>

namespace {

using AdoSqlText::IsSpace;

// 'YYYY-MM-DD' with its quotes.
bool IsDateLiteral(const std::string& s, size_t begin, size_t end)
{
    if (end - begin != 12 || s[begin] != '\'' || s[end - 1] != '\'')
        return false;
    for (size_t i = 0; i < 10; ++i) {
        const char c = s[begin + 1 + i];
        if ((i == 4 || i == 7) ? c != '-' : !std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

// Rewrites `literal` ('YYYY-MM-DD') after the operator that `out` ends in
// (blanks aside); returns false when no operator stands there.
bool AppendComparison(std::string& out, const std::string& literal)
{
    size_t end = out.size();
    while (end > 0 && IsSpace(out[end - 1]))
        --end;
    if (end == 0)
        return false;
    const std::string day = literal.substr(1, 10);
    const std::string midnight = "'" + day + " 00:00:00.000'";
    const std::string forms = "('" + day + "', '" + day + " 00:00:00', " + midnight + ")";
    const char last = out[end - 1];
    const char before = end > 1 ? out[end - 2] : '\0';
    if (last == '=' && (before == '<' || before == '>' || before == '!')) {
        if (before == '>')
            return false;  // >= agrees already
        if (before == '<') {
            out += midnight;
            return true;
        }
        out.replace(end - 2, 2, "NOT IN");
        out += forms;
        return true;
    }
    if (last == '>' && before == '<') {
        out.replace(end - 2, 2, "NOT IN");
        out += forms;
        return true;
    }
    if (last == '>') {
        out += midnight;
        return true;
    }
    if (last == '=') {
        out.replace(end - 1, 1, "IN");
        out += forms;
        return true;
    }
    return false;  // < agrees already; anything else is no comparison
}

} // namespace

std::string AdoDateLiterals::CompareAsDates(const std::string& s)
{
    std::string out;
    out.reserve(s.size() + 32);
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] == '\'') {
            const size_t end = AdoSqlText::SkipQuoted(s, i, '\'');
            const std::string literal = s.substr(i, end - i);
            if (!IsDateLiteral(s, i, end) || !AppendComparison(out, literal))
                out += literal;
            i = end;
            continue;
        }
        const size_t next = AdoSqlText::SkipIdentifierOrComment(s, i);
        if (next != i) {
            out.append(s, i, next - i);
            i = next;
            continue;
        }
        out.push_back(s[i++]);
    }
    return out;
}

bool AdoDateLiterals::DbmsComparesDatesAsText(const std::string& dbmsName)
{
    std::string lower = dbmsName;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return std::tolower(ch); });
    return lower.find("sqlite") != std::string::npos;
}
