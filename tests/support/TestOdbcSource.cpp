// TestOdbcSource: private SQLite database plus odbc.ini for tests that go
// through the real driver manager and driver.
#include "tests/support/TestOdbcSource.h"

#include "demo/DemoSchema.h"

#include <odbcinst.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

std::string MakeTempFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/morv-odbc-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("TestOdbcSource: cannot create a folder from " + pattern);
    return buffer.data();
}

void ExecOn(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw std::runtime_error("TestOdbcSource: cannot open " + path + ": " + message);
    }
    char* error = nullptr;
    rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        throw std::runtime_error("TestOdbcSource: " + message + " in: " + sql);
}

void WriteDriverFile(const std::string& folder)
{
    std::ofstream inst(folder + "/odbcinst.ini", std::ios::trunc);
    // The driver stays loaded once used (DontDLClose): unloading and
    // reloading it for every connection costs time and hides its frames
    // from leak reports.
    inst << "[MorvSQLite3]\nDriver=" << TestOdbcSource::DriverPath << "\nDontDLClose=1\n";
    inst.close();
    if (!inst)
        throw std::runtime_error("TestOdbcSource: cannot write " + folder + "/odbcinst.ini");
}

// The process's system folder; removed when the process exits.
struct ProcessSystemFolder
{
    ProcessSystemFolder() : path(MakeTempFolder())
    {
        WriteDriverFile(path);
        setenv("ODBCSYSINI", path.c_str(), 1);
    }
    ~ProcessSystemFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

}  // namespace

TestOdbcSource::TestOdbcSource(const std::string& dsn) : m_dsn(dsn)
{
    m_folder = MakeTempFolder();
    m_database = m_folder + "/source.db";
    m_odbcIni = m_folder + "/odbc.ini";
    try {
        CreateDatabase(m_database);
        m_sources.push_back({m_dsn, m_database, kBusyTimeoutMs});
        WriteIniFiles();
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
        throw;
    }
    // The driver manager reads user DSNs from ODBCINI (again at every
    // look-up) and its system files from ODBCSYSINI (once per process, and
    // never again); a private system folder keeps /etc out of the tests.
    SystemFolder();
    setenv("ODBCINI", m_odbcIni.c_str(), 1);
    ForgetCachedConfiguration();
}

TestOdbcSource::~TestOdbcSource()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

void TestOdbcSource::Exec(const std::string& sql) const
{
    ExecOn(m_database, sql);
}

void TestOdbcSource::AddDsn(const std::string& dsn, const std::string& databasePath, int busyTimeoutMs)
{
    CreateDatabase(databasePath);
    m_sources.push_back({dsn, databasePath, busyTimeoutMs});
    WriteIniFiles();
    ForgetCachedConfiguration();
}

std::vector<std::string> TestOdbcSource::Environment() const
{
    return {"ODBCINI=" + m_odbcIni, "ODBCSYSINI=" + m_folder};
}

const std::string& TestOdbcSource::SystemFolder()
{
    // Fixing it at the first source's own folder would leave every later
    // source of the process reading the driver from a removed folder: only
    // the driver manager's own cache (which lasts seconds and which no
    // installer call drops) hides it, until a long run fails with "Data
    // source name not found".
    static const ProcessSystemFolder folder;
    return folder.path;
}

void TestOdbcSource::CreateDatabase(const std::string& path)
{
    ExecOn(path, demo::DemoSchema::CatalogueViewsSql());
}

void TestOdbcSource::ForgetCachedConfiguration() const
{
    // The configuration library caches the entries it has read; the
    // driver, reading its DSN through it, would open the database of an
    // earlier source of the same name. Writing through the installer call
    // drops that cache. The value written is the one already in the file.
    // (The driver manager keeps a copy of its own, which this cannot drop:
    // a DSN name must name the same driver throughout a process.)
    if (!m_sources.empty())
        SQLWritePrivateProfileString(m_sources.back().dsn.c_str(), "StepAPI", "1", "odbc.ini");
}

void TestOdbcSource::WriteIniFiles() const
{
    std::ofstream ini(m_odbcIni, std::ios::trunc);
    for (const auto& source : m_sources) {
        // StepAPI=1 makes the driver step through results instead of
        // buffering them whole; the others keep values as stored.
        ini << "[" << source.dsn << "]\n"
            << "Driver=MorvSQLite3\n"
            << "Database=" << source.database << "\n"
            << "StepAPI=1\n"
            << "Timeout=" << source.busyTimeoutMs << "\n"
            << "NoTXN=0\n"
            << "ShortNames=0\n"
            << "LongNames=0\n"
            << "NoCreat=1\n\n";
    }
    ini.close();
    if (!ini)
        throw std::runtime_error("TestOdbcSource: cannot write " + m_odbcIni);
    // A child process's own system folder.
    WriteDriverFile(m_folder);
}
