// AdoConnectionString: reading the "key=value;..." connection strings that
// the data access layer builds and logs, and turning them into the form the
// ODBC driver manager expects. The logged text is never changed; only the
// copy handed to the driver manager is translated.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class AdoConnectionString
{
public:
    using Pair = std::pair<std::string, std::string>;

    // Splits a connection string into key/value pairs in their order. Keys
    // and unquoted values are trimmed of blanks at both ends; a value may be
    // quoted with braces ("{a;b}", "}}" stands for "}") or with double or
    // single quotes (a doubled quote stands for itself), keeping ";" and
    // edge blanks inside. Empty segments (";;", a trailing ";") are skipped.
    // An unquoted password (Password, PWD) runs on over ";" until a piece
    // that starts with a known keyword ("Database=", "Persist Security
    // Info=", ...) or an empty piece, so "Password=ab;cd=e;" keeps "ab;cd=e".
    // Elsewhere a segment without "=" continues the value before it (or is
    // a key with an empty value at the start). Throws std::invalid_argument
    // naming the key when a quoted value is not closed.
    static std::vector<Pair> Parse(const std::string& text);

    // The driver manager's form of a connection string built for an OLE DB
    // style provider: "Provider" and "Persist Security Info" are dropped,
    // "Data Source" becomes "DSN", "Database" "DATABASE", "User ID"/"User Id"
    // "UID", "Password" "PWD"; every other key (Trusted_Connection, DSN, UID,
    // PWD, driver options) is passed on as written. Key matching ignores case.
    // Values are quoted with QuoteValue. Throws like Parse.
    static std::string ToOdbc(const std::string& text);

    // A value as the driver manager (and Parse) reads it back unchanged: as
    // it is when it holds no ";" and no brace, starts with no "=" and no
    // quotation mark and has no white space at either end; otherwise in
    // braces with every "}" doubled. The one quoting of connection-string
    // values: the data layer builds its connection strings with it too.
    static std::string QuoteValue(const std::string& value);

    // True for the FreeTDS driver, named by its library ("libtdsodbc.so",
    // any folder) or its usual registration name ("FreeTDS").
    static bool IsFreeTdsDriver(const std::string& driver);

    // True for PostgreSQL's drivers, named by their library (psqlodbcw.so,
    // psqlodbca.so, any folder) or their usual registration names
    // ("PostgreSQL Unicode", "PostgreSQL ANSI").
    static bool IsPsqlOdbcDriver(const std::string& driver);

    // Whether the data source sets any of `keys` (case ignored): in
    // `odbcText` (the driver manager's form) or, for a DSN, in its entry of
    // the driver manager's configuration.
    static bool DataSourceSets(const std::string& odbcText, std::initializer_list<const char*> keys);

    // `odbcText` with ";ClientCharset=CP1252" added when `driver` is FreeTDS
    // and the data source sets no client character set itself: statements
    // and messages then travel in the bridge's code page whatever the
    // machine's locale. Other drivers: unchanged.
    static std::string WithClientCharset(const std::string& odbcText, const std::string& driver);

    // `odbcText` with ";UseDeclareFetch=1;Fetch=1000" added when `driver` is
    // psqlODBC and the data source sets neither UseDeclareFetch nor Fetch:
    // without them the driver holds a whole result in memory before the
    // first row, so the bridge's memory would grow with the school; with
    // them it reads a server cursor 1,000 rows at a time. Other drivers, and
    // a data source that chose either setting: unchanged.
    static std::string WithDeclareFetch(const std::string& odbcText, const std::string& driver);

    // The driver of the data source `odbcText` names: its DRIVER key, or the
    // Driver entry of its DSN in the driver manager's configuration (a
    // registered driver name is looked up once more for its library).
    // Empty when neither says.
    static std::string DriverOf(const std::string& odbcText);
};
