// TestTdsServer: the stand-in's process, folder and data sources.
#include "tests/support/TestTdsServer.h"

#include "tests/support/TestOdbcSource.h"

#include <odbcinst.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

// The system's interpreter: the stand-in needs only its standard library,
// and a Python first on PATH may be a private build without sqlite3.
const char* const kPython = "/usr/bin/python3";
const char* const kStandIn = MORV_TDS_STAND_IN_DIR "/tds_stand_in.py";
const char* const kTypes = MORV_TDS_STAND_IN_DIR "/tds_stand_in_types.txt";

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string DsnEntry(const std::string& dsn, int port, const std::string& settings)
{
    std::string entry = "[" + dsn + "]\nDriver=" + TestTdsServer::Driver + "\nServer=127.0.0.1\nPort=" +
                        std::to_string(port) + "\nDatabase=" + TestTdsServer::Database + "\n";
    if (settings.find("TDS_Version=") == std::string::npos)
        entry += "TDS_Version=7.4\n";
    entry += settings;
    if (!settings.empty() && settings.back() != '\n')
        entry += "\n";
    return entry + "\n";
}

}  // namespace

std::string TestTdsServer::Missing()
{
    if (!std::filesystem::exists(Driver))
        return "the FreeTDS driver is not installed (scripts/setup installs tdsodbc)";
    if (access(kPython, X_OK) != 0)
        return std::string(kPython) + " is not installed (scripts/setup installs python3)";
    return std::string();
}

TestTdsServer::TestTdsServer(const std::string& database, const std::string& typeTable)
{
    const std::string missing = Missing();
    if (!missing.empty())
        throw std::runtime_error("TestTdsServer: " + missing);
    char pattern[] = "/tmp/morv-tds-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("TestTdsServer: cannot create a folder");
    m_folder = pattern;
    SetFaults("{}");
    const std::string portFile = m_folder + "/port";
    std::vector<std::string> arguments{kPython,
                                       kStandIn,
                                       "--db=" + database,
                                       "--types=" + (typeTable.empty() ? std::string(kTypes) : typeTable),
                                       "--port-file=" + portFile,
                                       std::string("--user=") + User,
                                       std::string("--password=") + Password,
                                       std::string("--database=") + Database,
                                       "--faults=" + m_folder + "/faults.json",
                                       "--log=" + m_folder + "/server.log"};
    const std::string output = m_folder + "/server.out";
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("TestTdsServer: cannot fork");
    if (pid == 0) {
        // Gone with the test process, however that ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        std::freopen(output.c_str(), "w", stdout);
        std::freopen(output.c_str(), "a", stderr);
        std::vector<char*> argv;
        for (std::string& a : arguments)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(kPython, argv.data());
        _exit(127);
    }
    m_pid = pid;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(portFile)) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid || std::chrono::steady_clock::now() > deadline) {
            Stop();
            const std::string text = ReadAll(output);
            std::error_code ignored;
            std::filesystem::remove_all(m_folder, ignored);
            throw std::runtime_error("TestTdsServer: the stand-in did not start:\n" + text);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_port = std::atoi(ReadAll(portFile).c_str());

    std::ofstream(m_folder + "/odbcinst.ini") << "";
    std::ofstream(m_folder + "/odbc.ini") << DsnEntry(Dsn, m_port, "");
    // This process keeps its one system folder; a child gets this one.
    TestOdbcSource::SystemFolder();
    setenv("ODBCINI", (m_folder + "/odbc.ini").c_str(), 1);
    // Drops the driver manager's cached configuration of earlier sources.
    SQLWritePrivateProfileString(Dsn, "Database", Database, "odbc.ini");
}

TestTdsServer::~TestTdsServer()
{
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

void TestTdsServer::AddDsn(const std::string& dsn, const std::string& settings)
{
    std::ofstream ini(m_folder + "/odbc.ini", std::ios::app);
    ini << DsnEntry(dsn, m_port, settings);
    ini.close();
    if (!ini)
        throw std::runtime_error("TestTdsServer: cannot add the data source " + dsn);
    SQLWritePrivateProfileString(dsn.c_str(), "Database", Database, "odbc.ini");
}

std::string TestTdsServer::ConnectionString(const std::string& dsn, const std::string& password) const
{
    return "Provider=MSDASQL;Persist Security Info=False;Data Source=" + dsn + ";User ID=" + User +
           ";Password=" + password + ";";
}

std::vector<std::string> TestTdsServer::Environment() const
{
    return {"ODBCINI=" + m_folder + "/odbc.ini", "ODBCSYSINI=" + m_folder};
}

void TestTdsServer::SetFaults(const std::string& json) const
{
    const std::string path = m_folder + "/faults.json";
    {
        std::ofstream out(path + ".new");
        out << json;
    }
    std::filesystem::rename(path + ".new", path);
}

std::string TestTdsServer::Log() const
{
    return ReadAll(m_folder + "/server.log");
}

void TestTdsServer::Stop()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGKILL);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = 0;
}
