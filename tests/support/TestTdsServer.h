// TestTdsServer: a stand-in SQL Server of the test's own, reached through the
// FreeTDS ODBC driver, for tests of the bridge's production path. It runs the
// stand-in (tds_stand_in.py, with the system's Python) over a SQLite school
// database on 127.0.0.1 and a free port, registers the DSN "MorvTdsSource"
// in a private odbc.ini written as a site writes it (FreeTDS, TDS 7.4, no
// client character set), and stops the server and removes its folder when
// destroyed. Faults (a refused login, an error token, a cut connection, a
// late reply) are asked for while it runs.
#pragma once

#include <string>
#include <vector>

class TestTdsServer
{
public:
    static constexpr const char* User = "reader";
    static constexpr const char* Password = "Tds-Secret-7";
    static constexpr const char* Database = "MORV";
    static constexpr const char* Driver = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";
    static constexpr const char* Dsn = "MorvTdsSource";

    // Empty when FreeTDS and the system's Python are installed; otherwise
    // why not (tests skip with it).
    static std::string Missing();

    // Starts the stand-in over the SQLite file `database` with the column
    // types of `typeTable` (by default the MORV types kept beside the
    // server) and points this process at the private odbc.ini. Throws
    // std::runtime_error with the server's output when it does not start.
    explicit TestTdsServer(const std::string& database, const std::string& typeTable = std::string());
    ~TestTdsServer();

    TestTdsServer(const TestTdsServer&) = delete;
    TestTdsServer& operator=(const TestTdsServer&) = delete;

    int Port() const { return m_port; }
    // The server's process, for benchmarks that count its CPU time.
    int Pid() const { return m_pid; }
    // The connection string of the data access layer for `dsn`.
    std::string ConnectionString(const std::string& dsn = Dsn, const std::string& password = Password) const;
    // Registers one more DSN on this server whose entry adds `settings`,
    // driver options as "Key=value" lines (TDS_Version among them replaces
    // the default 7.4).
    void AddDsn(const std::string& dsn, const std::string& settings);
    // The "NAME=value" pairs a child process needs to see the DSNs.
    std::vector<std::string> Environment() const;
    // Asks for faults from now on: the stand-in's JSON fault object (see
    // tds_stand_in.py), "{}" for none.
    void SetFaults(const std::string& json) const;
    // What the server logged: each login and statement, and its faults.
    std::string Log() const;
    // Stops the server at once.
    void Stop();

private:
    std::string m_folder;
    int m_port = 0;
    int m_pid = 0;
};
