// TestOdbcSource: a real ODBC data source for tests. It creates a SQLite
// database file in a private temporary folder, registers it under a DSN name
// with the SQLite ODBC driver in a private odbc.ini, and points this test
// process (only) at that file through ODBCINI. The database offers
// SQL Server style catalogue views (sysobjects, syscolumns), so catalogue
// statements written for SQL Server run unchanged.
#pragma once

#include <string>
#include <vector>

class TestOdbcSource
{
public:
    // The SQLite ODBC driver every test DSN uses.
    static constexpr const char* DriverPath = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

    // Creates the folder, the database (with the catalogue views) and the
    // odbc.ini naming `dsn`, and sets ODBCINI for this process (ODBCSYSINI
    // is SystemFolder()). Throws std::runtime_error when any step fails.
    explicit TestOdbcSource(const std::string& dsn = "MorvTestSource");
    // Removes the folder with the database and odbc.ini.
    ~TestOdbcSource();

    TestOdbcSource(const TestOdbcSource&) = delete;
    TestOdbcSource& operator=(const TestOdbcSource&) = delete;

    const std::string& Dsn() const { return m_dsn; }
    const std::string& Folder() const { return m_folder; }
    const std::string& DatabasePath() const { return m_database; }
    const std::string& OdbcIniPath() const { return m_odbcIni; }

    // Runs SQL statements (one or more, ";"-separated) on the database file
    // through SQLite directly, for setting up fixtures. Throws
    // std::runtime_error with SQLite's message on failure.
    void Exec(const std::string& sql) const;

    // How long the driver waits for a locked database file.
    static constexpr int kBusyTimeoutMs = 5000;

    // Registers one more DSN in the same odbc.ini for another database file
    // (created empty with the catalogue views when missing), waiting
    // `busyTimeoutMs` for a locked file.
    void AddDsn(const std::string& dsn, const std::string& databasePath, int busyTimeoutMs = kBusyTimeoutMs);

    // The "NAME=value" pairs a child process needs to see these DSNs: a
    // child is a new process, so it gets this source's own folder as
    // ODBCSYSINI.
    std::vector<std::string> Environment() const;

    // The one system configuration folder (ODBCSYSINI) of this process,
    // registering the driver, made and set on the first call and removed
    // at exit. The driver manager reads ODBCSYSINI once per process, so
    // every source of a process, whoever makes it, must keep to this one.
    static const std::string& SystemFolder();

    // Creates (or opens) a SQLite database file and adds the catalogue views
    // (the demo database's own) when they are missing. Throws
    // std::runtime_error.
    static void CreateDatabase(const std::string& path);

private:
    void WriteIniFiles() const;
    void ForgetCachedConfiguration() const;

    std::string m_dsn;
    std::string m_folder;
    std::string m_database;
    std::string m_odbcIni;
    struct Source
    {
        std::string dsn;
        std::string database;
        int busyTimeoutMs;
    };
    std::vector<Source> m_sources;
};
