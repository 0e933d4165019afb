// TestPostgresServer: cluster, server process and data sources of one test.
#include "tests/support/TestPostgresServer.h"

#include "tests/support/TestOdbcSource.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <odbcinst.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

const char* const kUnicodeDriver = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";
const char* const kAnsiDriver = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbca.so";

std::string ServerBin()
{
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ignored)) {
        const std::string bin = entry.path().string() + "/bin";
        if (std::filesystem::exists(bin + "/pg_ctl") && std::filesystem::exists(bin + "/initdb"))
            return bin;
    }
    return std::string();
}

int FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    close(s);
    return ntohs(address.sin_port);
}

std::string Quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Data folders of the servers this process runs, stopped by the terminate
// handler too: a test that ends in std::terminate must not leave a server
// behind.
std::vector<std::string>& RunningServers()
{
    static std::vector<std::string> servers;
    return servers;
}

void StopServersAndAbort()
{
    for (const std::string& command : RunningServers())
        std::system(command.c_str());
    std::abort();
}

const char* const kFolderPrefix = "morv-pg-";

// The shell command that stops the server of `folder` at once, as the user
// it runs as.
std::string StopCommand(const std::string& bin, const std::string& folder)
{
    const std::string stop = bin + "/pg_ctl -D " + folder + "/data -m immediate -w stop >/dev/null 2>&1";
    return geteuid() == 0 ? "runuser -u postgres -- " + stop : stop;
}

// A test process killed outright (SIGKILL, a CI timeout) cannot stop its
// server. Each folder names its owner; a server whose owner is gone is
// stopped and its folder removed by the next test that starts one.
void StopLeftoverServers(const std::string& bin)
{
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/tmp", ignored)) {
        const std::string folder = entry.path().string();
        if (entry.path().filename().string().rfind(kFolderPrefix, 0) != 0)
            continue;
        std::ifstream owner(folder + "/owner.pid");
        long pid = 0;
        if (!(owner >> pid) || pid <= 0 || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        std::system(StopCommand(bin, folder).c_str());
        std::filesystem::remove_all(folder, ignored);
    }
}

}  // namespace

std::string TestPostgresServer::Missing()
{
    if (ServerBin().empty())
        return "the PostgreSQL server is not installed (scripts/setup installs postgresql)";
    if (!std::filesystem::exists(kUnicodeDriver) || !std::filesystem::exists(kAnsiDriver))
        return "the PostgreSQL ODBC drivers are not installed (scripts/setup installs odbc-postgresql)";
    if (geteuid() == 0 && !getpwnam("postgres"))
        return "running as root without the postgres system user";
    return std::string();
}

TestPostgresServer::TestPostgresServer() : m_bin(ServerBin())
{
    const std::string missing = Missing();
    if (!missing.empty())
        throw std::runtime_error("TestPostgresServer: " + missing);
    std::string name = std::string("/tmp/") + kFolderPrefix + "XXXXXX";
    std::vector<char> pattern(name.begin(), name.end());
    pattern.push_back('\0');
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("TestPostgresServer: cannot create a folder");
    m_folder = pattern.data();
    try {
        std::ofstream(m_folder + "/owner.pid") << getpid() << "\n";
        StopLeftoverServers(m_bin);
        std::ofstream(m_folder + "/pwfile") << Password << "\n";
        if (geteuid() == 0) {
            const passwd* pg = getpwnam("postgres");
            std::filesystem::permissions(m_folder, std::filesystem::perms::owner_all);
            if (chown(m_folder.c_str(), pg->pw_uid, pg->pw_gid) != 0 ||
                chown((m_folder + "/pwfile").c_str(), pg->pw_uid, pg->pw_gid) != 0)
                throw std::runtime_error("TestPostgresServer: cannot hand the folder to postgres");
        }
        Run(m_bin + "/initdb -D " + m_folder + "/data -U " + User + " --pwfile=" + m_folder +
                "/pwfile -A scram-sha-256 -E UTF8 --locale=C.UTF-8",
            true);
        m_port = FreePort();
        Run(m_bin + "/pg_ctl -D " + m_folder + "/data -l " + m_folder + "/server.log -w -t 60 -o " +
                Quoted("-p " + std::to_string(m_port) + " -k " + m_folder +
                       " -c listen_addresses=127.0.0.1 -c fsync=off") + " start",
            true);
        m_running = true;
        RunningServers().push_back(StopCommand(m_bin, m_folder));
        std::set_terminate(StopServersAndAbort);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
        throw;
    }

    // The drivers' own registration in /etc turns on a communication log;
    // these entries name the libraries alone.
    std::ofstream(m_folder + "/odbcinst.ini") << "[MorvPgUnicode]\nDriver=" << kUnicodeDriver
                                              << "\n\n[MorvPgAnsi]\nDriver=" << kAnsiDriver << "\n";
    std::ofstream ini(m_folder + "/odbc.ini");
    // The DSNs name the libraries too, so a driver entry cached from an
    // earlier source of this process cannot stand in for them.
    for (const std::string& entry : {std::string("MorvPgSource]\nDriver=") + kUnicodeDriver,
                                    std::string("MorvPgAnsi]\nDriver=") + kAnsiDriver})
        ini << "[" << entry << "\nServername=127.0.0.1\nPort=" << m_port << "\nDatabase=postgres\n\n";
    ini.close();
    // The DSNs name their libraries, so this process keeps its one system
    // folder; a child gets this one (Environment()).
    TestOdbcSource::SystemFolder();
    setenv("ODBCINI", (m_folder + "/odbc.ini").c_str(), 1);
    // Drops the driver manager's cached configuration of earlier sources.
    SQLWritePrivateProfileString("MorvPgSource", "Database", "postgres", "odbc.ini");
}

void TestPostgresServer::AddDsn(const std::string& dsn, const std::string& settings, int port)
{
    std::ofstream ini(m_folder + "/odbc.ini", std::ios::app);
    ini << "[" << dsn << "]\nDriver=" << kUnicodeDriver << "\nServername=127.0.0.1\nPort=" << (port ? port : m_port)
        << "\nDatabase=postgres\n" << settings << (settings.empty() || settings.back() == '\n' ? "" : "\n") << "\n";
    ini.close();
    if (!ini)
        throw std::runtime_error("TestPostgresServer: cannot add the data source " + dsn);
    SQLWritePrivateProfileString(dsn.c_str(), "Database", "postgres", "odbc.ini");
}

TestPostgresServer::~TestPostgresServer()
{
    try {
        Stop();
    } catch (...) {
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

std::string TestPostgresServer::ConnectionString(const std::string& dsn, const std::string& password) const
{
    return "Provider=MSDASQL;Persist Security Info=False;Data Source=" + dsn + ";User ID=" + User +
           ";Password=" + password + ";";
}

std::string TestPostgresServer::Run(const std::string& command, bool asServerUser) const
{
    const std::string output = m_folder + "/command.out";
    std::string line = command;
    if (asServerUser && geteuid() == 0)
        line = "runuser -u postgres -- " + line;
    line = "cd / && " + line + " >" + output + " 2>&1 </dev/null";
    const int rc = std::system(line.c_str());
    const std::string text = ReadAll(output);
    if (rc != 0)
        throw std::runtime_error("TestPostgresServer: " + command + " failed:\n" + text + "\n" +
                                 ReadAll(m_folder + "/server.log"));
    return text;
}

std::vector<std::string> TestPostgresServer::Environment() const
{
    return {"ODBCINI=" + m_folder + "/odbc.ini", "ODBCSYSINI=" + m_folder};
}

void TestPostgresServer::Sql(const std::string& sql) const
{
    const std::string file = m_folder + "/statement.sql";
    std::ofstream(file) << sql;
    SqlFile(file);
}

void TestPostgresServer::SqlFile(const std::string& path) const
{
    Run("env PGPASSWORD=" + std::string(Password) + " " + "psql -X -q -v ON_ERROR_STOP=1 " +
            "-h 127.0.0.1 -p " + std::to_string(m_port) + " -U " + User + " -d postgres -f " + path,
        false);
}

std::string TestPostgresServer::Query(const std::string& sql) const
{
    const std::string file = m_folder + "/query.sql";
    std::ofstream(file) << sql;
    return Run("env PGPASSWORD=" + std::string(Password) + " " + "psql -X -q -A -t -v ON_ERROR_STOP=1 " +
                   "-h 127.0.0.1 -p " + std::to_string(m_port) + " -U " + User + " -d postgres -f " + file,
               false);
}

void TestPostgresServer::TerminateSessions() const
{
    Sql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = '" + std::string(User) +
        "' AND pid <> pg_backend_pid();");
}

void TestPostgresServer::Stop()
{
    if (!m_running)
        return;
    m_running = false;
    auto& servers = RunningServers();
    servers.erase(std::remove_if(servers.begin(), servers.end(),
                                 [this](const std::string& c) { return c.find(m_folder + "/data") != std::string::npos; }),
                  servers.end());
    Run(m_bin + "/pg_ctl -D " + m_folder + "/data -m immediate -w stop", true);
}
