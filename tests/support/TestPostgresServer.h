// TestPostgresServer: a PostgreSQL server of the test's own, for tests where
// a real networked server matters (lost connections, wide text, server-side
// types). It makes a cluster in a private temporary folder, starts it on
// 127.0.0.1 and a free port (as the "postgres" system user when the tests
// run as root, since the server refuses root), registers the DSN
// "MorvPgSource" (PostgreSQL Unicode driver) and "MorvPgAnsi" (ANSI driver)
// in a private odbc.ini and odbcinst.ini (no communication log), and stops
// the server and removes the folder when destroyed.
#pragma once

#include <string>
#include <vector>

class TestPostgresServer
{
public:
    static constexpr const char* User = "morv";
    static constexpr const char* Password = "Pg-Secret-7";

    // Empty when the server and its drivers are installed; otherwise why
    // not (tests skip with it).
    static std::string Missing();

    // Starts the server and points this process at the private odbc.ini.
    // Throws std::runtime_error with the server's log when a step fails.
    TestPostgresServer();
    ~TestPostgresServer();

    TestPostgresServer(const TestPostgresServer&) = delete;
    TestPostgresServer& operator=(const TestPostgresServer&) = delete;

    int Port() const { return m_port; }
    // The connection string of the data access layer for `dsn`.
    std::string ConnectionString(const std::string& dsn = "MorvPgSource",
                                 const std::string& password = Password) const;
    // Registers one more DSN on this server (Unicode driver) whose entry adds
    // `settings`, driver options as "Key=value" lines; with a `port`, one
    // that reaches the server through that port of 127.0.0.1 (a proxy).
    void AddDsn(const std::string& dsn, const std::string& settings, int port = 0);
    // The "NAME=value" pairs a child process needs to see the DSNs.
    std::vector<std::string> Environment() const;
    // Runs SQL as the server's superuser (psql); throws on failure.
    void Sql(const std::string& sql) const;
    // Runs a file of SQL (psql input, COPY data included) the same way.
    void SqlFile(const std::string& path) const;
    // The rows of one query, unaligned: one line a row, columns joined by
    // "|", without headers. Throws on failure.
    std::string Query(const std::string& sql) const;
    // Ends every other session of the test user, as an administrator would.
    void TerminateSessions() const;
    // Stops the server at once (sessions are cut).
    void Stop();

private:
    std::string Run(const std::string& command, bool asServerUser) const;

    std::string m_folder;
    std::string m_bin;
    int m_port = 0;
    bool m_running = false;
};
