// The connection strings the bridge builds from a user name and password
// as given, for every database type, and the one quoting of their values.
// Whatever the values hold: the text parses; the user and the password
// read back unchanged, once each, also in the driver manager's form; the
// password never spills into another key; its masked form shows none of
// it; and any value the quoter writes parses back to itself.
#include "data/DatabaseTypes.h"
#include "data/odbc/AdoConnectionString.h"
#include "tests/fuzz/FuzzCheck.h"
#include "util/XException.h"

#include <cstring>
#include <stdexcept>
#include <strings.h>

namespace {

using Pairs = std::vector<AdoConnectionString::Pair>;

bool IsKey(const std::string &key, std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        if (strcasecmp(key.c_str(), name) == 0)
            return true;
    }
    return false;
}

// The values of the keys `names`, in order.
std::vector<std::string> ValuesOf(const Pairs &pairs, std::initializer_list<const char *> names)
{
    std::vector<std::string> values;
    for (const auto &pair : pairs) {
        if (IsKey(pair.first, names))
            values.push_back(pair.second);
    }
    return values;
}

Pairs ParseOrStop(const std::string &text)
{
    try {
        return AdoConnectionString::Parse(text);
    } catch (const std::invalid_argument &e) {
        FUZZ_CHECK(false, "built text does not parse: " + text + " (" + e.what() + ")");
    }
    return {};
}

const std::initializer_list<const char *> kUserKeys = {"User ID", "UID"};
const std::initializer_list<const char *> kPasswordKeys = {"Password", "PWD"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // user LF password; a NUL cannot stand in a command-line value.
    std::string input(reinterpret_cast<const char *>(data), size);
    for (char &c : input) {
        if (c == '\0')
            c = ' ';
    }
    const size_t cut = input.find('\n');
    const XString user(input.substr(0, cut).c_str());
    const XString password(cut == std::string::npos ? "" : input.substr(cut + 1).c_str());

    // The quoter alone, on the whole input.
    const std::string quoted = AdoConnectionString::QuoteValue(input);
    const Pairs single = ParseOrStop("K=" + quoted + ";Next=1");
    FUZZ_CHECK(single.size() == 2 && single[0].first == "K" && single[0].second == input && single[1].second == "1",
               "quoted value does not read back: " + quoted);

    for (int type = DatabaseType::None; type <= DatabaseType::Last; ++type) {
        XString text, withoutPassword;
        try {
            text = ConnectionStringFor(type, "MORVDSN", &user, &password, "/srv/data/");
            withoutPassword = ConnectionStringFor(type, "MORVDSN", &user, nullptr, "/srv/data/");
        } catch (const XException &) {
            continue; // a type without a connection string
        }
        if (type == DatabaseType::DBaseXBase)
            continue; // the data source is the whole text: a folder
        const Pairs pairs = ParseOrStop(text.str());
        const std::vector<std::string> users = ValuesOf(pairs, kUserKeys);
        const std::vector<std::string> passwords = ValuesOf(pairs, kPasswordKeys);
        FUZZ_CHECK(users.size() <= 1 && passwords.size() <= 1, "a key twice in " + text.str());
        if (!users.empty())
            FUZZ_CHECK(users[0] == user.str(), "user reads back otherwise from " + text.str());
        if (text != withoutPassword && !password.IsEmpty()) {
            FUZZ_CHECK(passwords.size() == 1 && passwords[0] == password.str(),
                       "password reads back otherwise from " + text.str());
            // The driver manager's form carries the same two values.
            const Pairs odbc = ParseOrStop(AdoConnectionString::ToOdbc(text.str()));
            const std::vector<std::string> odbcPasswords = ValuesOf(odbc, {"PWD"});
            FUZZ_CHECK(odbcPasswords.size() == 1 && odbcPasswords[0] == password.str(),
                       "password changed in the driver manager's form: " + AdoConnectionString::ToOdbc(text.str()));
            // The masked text (as logged) keeps nothing of the password.
            XString masked = text;
            MaskPassword(masked);
            FUZZ_CHECK(masked.GetLength() == text.GetLength(), "masking changed the length: " + masked.str());
            const std::string value = AdoConnectionString::QuoteValue(password.str());
            size_t at = std::string::npos;
            const std::string lower = text.ToLower().str();
            for (const char *key : {";password=", ";pwd="}) {
                const size_t found = lower.rfind(key + XString(value.c_str()).ToLower().str());
                // The last key written is the password's (a user name may spell one too).
                if (found != std::string::npos && (at == std::string::npos || found + std::strlen(key) > at))
                    at = found + std::strlen(key);
            }
            FUZZ_CHECK(at != std::string::npos, "password not found where it was written: " + text.str());
            const size_t quotes = value.size() != password.GetLength() ? 1 : 0; // braces stay
            for (size_t i = at + quotes; i < at + value.size() - quotes; ++i)
                FUZZ_CHECK(masked.str()[i] == '*', "masked text still shows the password: " + masked.str());
        }
    }
    return 0;
}
