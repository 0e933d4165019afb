// AdoConnectionString: parsing connection strings and translating them into
// the driver manager's keys with safe quoting.
#include "data/odbc/AdoConnectionString.h"

#include <odbcinst.h>

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <stdexcept>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

// Reads a quoted value starting at text[i] (the opening character) and
// returns it without quotes; `i` ends after the closing character. A doubled
// closing character stands for itself.
std::string ReadQuoted(const std::string& text, size_t& i, const std::string& key)
{
    const char open = text[i];
    const char close = open == '{' ? '}' : open;
    std::string value;
    for (++i; i < text.size(); ++i) {
        if (text[i] == close) {
            if (i + 1 < text.size() && text[i + 1] == close) {
                value.push_back(close);
                ++i;
                continue;
            }
            ++i;
            return value;
        }
        value.push_back(text[i]);
    }
    throw std::invalid_argument("Connection string: the value of \"" + key + "\" has no closing " +
                                std::string(1, close));
}

// Keywords that start a new piece of a connection string even right after a
// password; see Parse.
bool IsKnownKey(const std::string& segment)
{
    static const char* const kKeys[] = {
        "PROVIDER", "PERSIST SECURITY INFO", "DATA SOURCE", "DSN", "DATABASE", "USER ID", "UID",
        "PASSWORD", "PWD", "TRUSTED_CONNECTION", "EXTENDED PROPERTIES", "COLLATING SEQUENCE",
        "ISOLATIONLEVEL", "DRIVER", "SERVER", "FILEDSN", "SAVEFILE", "INITIAL CATALOG",
    };
    const size_t eq = segment.find('=');
    if (eq == std::string::npos)
        return false;
    const std::string key = Upper(Trim(segment.substr(0, eq)));
    for (const char* known : kKeys) {
        if (key == known)
            return true;
    }
    return false;
}

bool IsPasswordKey(const std::string& key)
{
    const std::string upper = Upper(key);
    return upper == "PASSWORD" || upper == "PWD";
}

}  // namespace

std::vector<AdoConnectionString::Pair> AdoConnectionString::Parse(const std::string& text)
{
    std::vector<Pair> pairs;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        // Key: up to "=" or ";".
        size_t keyEnd = i;
        while (keyEnd < n && text[keyEnd] != '=' && text[keyEnd] != ';')
            ++keyEnd;
        const std::string key = Trim(text.substr(i, keyEnd - i));
        if (keyEnd >= n || text[keyEnd] == ';') {
            // A segment without "=": the value before it held a ";" that was
            // not quoted (a password such as "ab;cd"), so it continues that
            // value. Empty segments are skipped.
            const std::string segment = text.substr(i, keyEnd - i);
            if (!pairs.empty() && !key.empty())
                pairs.back().second += ";" + segment;
            else if (!key.empty())
                pairs.emplace_back(key, std::string());
            i = keyEnd + 1;
            continue;
        }
        i = keyEnd + 1;
        while (i < n && IsBlank(text[i]))
            ++i;
        std::string value;
        if (i < n && (text[i] == '{' || text[i] == '"' || text[i] == '\'')) {
            value = ReadQuoted(text, i, key);
            while (i < n && IsBlank(text[i]))
                ++i;
            if (i < n && text[i] != ';')
                throw std::invalid_argument("Connection string: unexpected text after the quoted value of \"" +
                                            key + "\"");
        } else {
            size_t end = text.find(';', i);
            if (end == std::string::npos)
                end = n;
            // Passwords are written unquoted by the connection-string
            // builder, so one may hold ";": the pieces after it belong to
            // the password until a piece that starts with a known keyword
            // (or an empty piece, the builder's closing ";").
            if (IsPasswordKey(key)) {
                while (end < n) {
                    size_t next = text.find(';', end + 1);
                    if (next == std::string::npos)
                        next = n;
                    const std::string segment = text.substr(end + 1, next - end - 1);
                    if (Trim(segment).empty() || IsKnownKey(segment))
                        break;
                    end = next;
                }
            }
            value = Trim(text.substr(i, end - i));
            i = end;
        }
        pairs.emplace_back(key, value);
        ++i;  // past ";"
    }
    return pairs;
}

std::string AdoConnectionString::QuoteValue(const std::string& value)
{
    // White space by a fixed set: the bytes written never depend on the
    // machine's locale.
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    const bool needsBraces =
        value.find_first_of(";{}") != std::string::npos ||
        (!value.empty() && (isSpace(value.front()) || isSpace(value.back()) || value.front() == '=' ||
                            value.front() == '"' || value.front() == '\''));
    if (!needsBraces)
        return value;
    std::string quoted = "{";
    for (char c : value) {
        quoted.push_back(c);
        if (c == '}')
            quoted.push_back('}');
    }
    quoted.push_back('}');
    return quoted;
}

std::string AdoConnectionString::ToOdbc(const std::string& text)
{
    // OLE DB style keys and their driver manager names; an empty name drops
    // the key (the provider is the driver manager itself here).
    static const std::pair<const char*, const char*> kRenames[] = {
        {"PROVIDER", ""},       {"PERSIST SECURITY INFO", ""}, {"DATA SOURCE", "DSN"},
        {"DATABASE", "DATABASE"}, {"USER ID", "UID"},           {"PASSWORD", "PWD"},
    };
    std::string out;
    for (const Pair& pair : Parse(text)) {
        std::string key = pair.first;
        const std::string upper = Upper(key);
        bool dropped = false;
        for (const auto& rename : kRenames) {
            if (upper == rename.first) {
                dropped = rename.second[0] == '\0';
                key = rename.second;
                break;
            }
        }
        if (dropped)
            continue;
        if (!out.empty())
            out += ";";
        out += key + "=" + QuoteValue(pair.second);
    }
    return out;
}

namespace {

bool SameKey(const std::string& a, const char* b)
{
    return Upper(a) == Upper(b);
}

}  // namespace

bool AdoConnectionString::IsFreeTdsDriver(const std::string& driver)
{
    const std::string name = Upper(driver);
    return name.find("LIBTDSODBC") != std::string::npos || name == "FREETDS";
}

bool AdoConnectionString::IsPsqlOdbcDriver(const std::string& driver)
{
    const std::string name = Upper(driver);
    return name.find("PSQLODBC") != std::string::npos || name.rfind("POSTGRESQL", 0) == 0;
}

bool AdoConnectionString::DataSourceSets(const std::string& odbcText, std::initializer_list<const char*> keys)
{
    std::string dsn;
    for (const Pair& pair : Parse(odbcText)) {
        for (const char* key : keys) {
            if (SameKey(pair.first, key))
                return true;
        }
        if (SameKey(pair.first, "DSN"))
            dsn = pair.second;
    }
    if (dsn.empty())
        return false;
    // A byte no odbc.ini value holds tells "not there" from an empty value.
    static const char kAbsent[] = "\x01";
    for (const char* key : keys) {
        char value[64] = {0};
        SQLGetPrivateProfileString(dsn.c_str(), key, kAbsent, value, sizeof value, "odbc.ini");
        if (std::string(value) != kAbsent)
            return true;
    }
    return false;
}

std::string AdoConnectionString::WithClientCharset(const std::string& odbcText, const std::string& driver)
{
    if (!IsFreeTdsDriver(driver) || DataSourceSets(odbcText, {"ClientCharset"}))
        return odbcText;
    return odbcText + ";ClientCharset=CP1252";
}

std::string AdoConnectionString::WithDeclareFetch(const std::string& odbcText, const std::string& driver)
{
    // The short forms are the driver's own abbreviations of the same keys.
    if (!IsPsqlOdbcDriver(driver) || DataSourceSets(odbcText, {"UseDeclareFetch", "B6", "Fetch", "A7"}))
        return odbcText;
    return odbcText + ";UseDeclareFetch=1;Fetch=1000";
}

std::string AdoConnectionString::DriverOf(const std::string& odbcText)
{
    std::string dsn;
    for (const Pair& pair : Parse(odbcText)) {
        if (SameKey(pair.first, "DRIVER"))
            return pair.second;
        if (SameKey(pair.first, "DSN"))
            dsn = pair.second;
    }
    if (dsn.empty())
        return std::string();
    char driver[512] = {0};
    SQLGetPrivateProfileString(dsn.c_str(), "Driver", "", driver, sizeof driver, "odbc.ini");
    std::string name = driver;
    if (!name.empty() && name.find('/') == std::string::npos) {
        char library[512] = {0};
        SQLGetPrivateProfileString(name.c_str(), "Driver", "", library, sizeof library, "odbcinst.ini");
        if (library[0] != '\0')
            return name + " " + library;
    }
    return name;
}
