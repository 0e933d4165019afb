// AdoConnection: opening an ODBC data source through the driver manager with
// the translated connection string, and the connection-wide state that
// recordsets share (errors, command time-out, DBMS name).
#include "data/odbc/AdoConnection.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <vector>

#include "data/odbc/AdoConnectionString.h"
#include "data/odbc/AdoDateLiterals.h"
#include "data/odbc/AdoRecordset.h"
#include "data/odbc/AdoTableHints.h"
#include "data/odbc/OdbcHandle.h"

namespace {

// The driver manager loads its configuration library while it connects and
// unloads it with the last environment handle, dropping the configuration
// cache it built without freeing it. Marking the library resident once it is
// loaded keeps that cache owned (leak checkers stay quiet) and spares
// reading the configuration again for every connection.
void KeepConfigurationLibraryLoaded()
{
    static bool kept = false;
    if (kept)
        return;
    if (void* library = dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) {
        kept = true;
        dlclose(library);  // only the reference taken here; RTLD_NODELETE stays
    }
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// psqlODBC's connection attribute holding UseDeclareFetch; the driver reads
// it each time a statement runs, so it can change between statements.
constexpr SQLINTEGER kPsqlUseDeclareFetch = 65539;
// And the one holding Fetch, the rows of each FETCH through that cursor.
constexpr SQLINTEGER kPsqlFetch = 65541;

}  // namespace

AdoDriverText AdoDriverTextFor(const std::string& driverName, const std::string& dbmsName)
{
    const std::string driver = Lower(driverName);
    if (driver.find("sqlite") != std::string::npos || Lower(dbmsName) == "sqlite")
        return {AdoTextMode::Bytes, std::string()};
    if (driver.find("psqlodbca") != std::string::npos)
        return {AdoTextMode::Utf8, "SET client_encoding TO 'UTF8'"};
    return {AdoTextMode::Wide, std::string()};
}

struct AdoConnection::Impl
{
    int mode = adModeUnknown;
    int connectionTimeout = 15;
    int commandTimeout = 30;
    OdbcHandle env;
    OdbcHandle dbc;
    bool open = false;
    bool lost = false;  // a failure found the link dead
    std::string dbmsName;
    std::string driverName;
    AdoTextMode textMode = AdoTextMode::Wide;
    bool keepsHints = true;
    bool datesAsText = false;  // date literals rewritten (AdoDateLiterals)
    bool psqlOdbc = false;     // PostgreSQL's driver (its round trips differ)
    AdoErrors errors;
    std::vector<AdoRecordset*> recordsets;
    long long statementsSent = 0;
};

AdoConnection::AdoConnection() : m_impl(new Impl) {}

AdoConnection::~AdoConnection()
{
    Close();
}

void AdoConnection::SetMode(int mode)
{
    if (IsOpen())
        throw AdoException(AdoCode::ObjectOpen, "AdoConnection::SetMode", AdoSystemMessage(AdoCode::ObjectOpen));
    m_impl->mode = mode;
}

int AdoConnection::Mode() const
{
    return m_impl->mode;
}

void AdoConnection::SetConnectionTimeout(int seconds)
{
    if (IsOpen())
        throw AdoException(AdoCode::ObjectOpen, "AdoConnection::SetConnectionTimeout",
                           AdoSystemMessage(AdoCode::ObjectOpen));
    m_impl->connectionTimeout = std::max(0, seconds);
}

void AdoConnection::SetCommandTimeout(int seconds)
{
    m_impl->commandTimeout = std::max(0, seconds);
}

int AdoConnection::CommandTimeout() const
{
    return m_impl->commandTimeout;
}

void AdoConnection::Open(const std::string& connectionString, const std::string& user, const std::string& password,
                         int /*options*/)
{
    static const char* const kSource = "AdoConnection::Open";
    if (m_impl->open && m_impl->lost)
        Close();  // the dead link's handles go before the new ones
    if (m_impl->open)
        throw AdoException(AdoCode::ObjectOpen, kSource, AdoSystemMessage(AdoCode::ObjectOpen));
    ClearErrors();

    std::string odbcText;
    try {
        odbcText = AdoConnectionString::ToOdbc(connectionString);
    } catch (const std::invalid_argument& e) {
        throw AdoException(AdoCode::InvalidArgument, kSource, e.what());
    }
    try {
        const std::string driver = AdoConnectionString::DriverOf(odbcText);
        odbcText = AdoConnectionString::WithClientCharset(odbcText, driver);
        odbcText = AdoConnectionString::WithDeclareFetch(odbcText, driver);
    } catch (const std::invalid_argument&) {
        // Read once already by ToOdbc; nothing to add to a text it accepted.
    }
    if (!user.empty())
        odbcText += ";UID=" + AdoConnectionString::QuoteValue(user);
    if (!password.empty())
        odbcText += ";PWD=" + AdoConnectionString::QuoteValue(password);

    OdbcHandle env(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    SQLRETURN rc = SQLSetEnvAttr(env.Get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!OdbcOk(rc))
        OdbcThrow(SQL_HANDLE_ENV, env.Get(), kSource, "The driver manager refused ODBC version 3.");
    OdbcHandle dbc(SQL_HANDLE_DBC, env.Get());

    // Both attributes are requests: a driver without them still connects, so
    // their results are not errors.
    SQLSetConnectAttr(dbc.Get(), SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(m_impl->connectionTimeout)), 0);
    if (m_impl->mode == adModeRead)
        SQLSetConnectAttr(dbc.Get(), SQL_ATTR_ACCESS_MODE, reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);

    std::vector<SQLCHAR> text(odbcText.begin(), odbcText.end());
    text.push_back('\0');
    SQLCHAR completed[1024];
    SQLSMALLINT completedLength = 0;
    rc = SQLDriverConnect(dbc.Get(), nullptr, text.data(), SQL_NTS, completed, sizeof completed, &completedLength,
                          SQL_DRIVER_NOPROMPT);
    KeepConfigurationLibraryLoaded();
    if (!OdbcOk(rc)) {
        AdoErrors errors = OdbcDiagnostics(SQL_HANDLE_DBC, dbc.Get(), AdoCode::ProviderError, kSource);
        m_impl->errors = errors;
        const std::string description =
            errors.empty() ? "The data source could not be opened." : errors.front().description;
        throw AdoException(AdoCode::ProviderError, kSource, description, std::move(errors));
    }

    SQLCHAR name[256] = {0};
    SQLSMALLINT nameLength = 0;
    m_impl->dbmsName.clear();
    if (OdbcOk(SQLGetInfo(dbc.Get(), SQL_DBMS_NAME, name, sizeof name, &nameLength)))
        m_impl->dbmsName = reinterpret_cast<const char*>(name);
    m_impl->keepsHints = AdoTableHints::DbmsSupportsHints(m_impl->dbmsName);
    m_impl->datesAsText = AdoDateLiterals::DbmsComparesDatesAsText(m_impl->dbmsName);
    m_impl->driverName.clear();
    if (OdbcOk(SQLGetInfo(dbc.Get(), SQL_DRIVER_NAME, name, sizeof name, &nameLength)))
        m_impl->driverName = reinterpret_cast<const char*>(name);

    m_impl->psqlOdbc = AdoConnectionString::IsPsqlOdbcDriver(m_impl->driverName);

    const AdoDriverText driverText = AdoDriverTextFor(m_impl->driverName, m_impl->dbmsName);
    m_impl->textMode = driverText.mode;

    m_impl->env = std::move(env);
    m_impl->dbc = std::move(dbc);
    m_impl->open = true;
    if (!driverText.setup.empty()) {
        try {
            Execute(driverText.setup);
        } catch (const AdoException&) {
            Close();
            throw;
        }
    }
}

void AdoConnection::Close()
{
    if (!m_impl->open)
        return;
    // Statements go before the connection handle that owns them.
    std::vector<AdoRecordset*> recordsets;
    recordsets.swap(m_impl->recordsets);
    for (AdoRecordset* rs : recordsets)
        rs->ReleaseStatement();
    SQLDisconnect(m_impl->dbc.Get());
    m_impl->dbc.Reset();
    m_impl->env.Reset();
    m_impl->open = false;
    m_impl->lost = false;
    m_impl->dbmsName.clear();
    m_impl->driverName.clear();
    m_impl->psqlOdbc = false;
}

int AdoConnection::State() const
{
    return m_impl->open && !m_impl->lost ? adStateOpen : adStateClosed;
}

bool AdoConnection::CheckLost()
{
    if (!m_impl->open)
        return false;
    if (m_impl->lost)
        return true;
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (OdbcOk(SQLGetConnectAttr(m_impl->dbc.Get(), SQL_ATTR_CONNECTION_DEAD, &dead, sizeof dead, nullptr)) &&
        dead == SQL_CD_TRUE)
        m_impl->lost = true;
    return m_impl->lost;
}

AdoException AdoConnection::Classify(const AdoException& error)
{
    if (error.IsConnectionLost()) {
        m_impl->lost = m_impl->open;
        return error;
    }
    if (!CheckLost())
        return error;
    return AdoException(AdoCode::ConnectionLost, error.Source(), error.Description(), error.Errors());
}

AdoTextMode AdoConnection::TextMode() const
{
    return m_impl->textMode;
}

bool AdoConnection::DescribesThroughCatalogue() const
{
    return m_impl->psqlOdbc;
}

long AdoConnection::RowsPerServerFetch() const
{
    if (!m_impl->psqlOdbc || !IsOpen())
        return 0;
    SQLHDBC dbc = m_impl->dbc.Get();
    SQLINTEGER declareFetch = 0, fetch = 0;
    if (!OdbcOk(SQLGetConnectAttr(dbc, kPsqlUseDeclareFetch, &declareFetch, sizeof declareFetch, nullptr)) ||
        declareFetch == 0 || !OdbcOk(SQLGetConnectAttr(dbc, kPsqlFetch, &fetch, sizeof fetch, nullptr)))
        return 0;
    return std::max<long>(fetch, 0);
}

AdoConnection::WholeResultScope::WholeResultScope(AdoConnection& connection)
{
    if (!connection.m_impl->psqlOdbc || !connection.IsOpen())
        return;
    SQLHDBC dbc = connection.m_impl->dbc.Get();
    SQLINTEGER declareFetch = 0;
    if (!OdbcOk(SQLGetConnectAttr(dbc, kPsqlUseDeclareFetch, &declareFetch, sizeof declareFetch, nullptr)) ||
        declareFetch == 0)
        return;
    if (OdbcOk(SQLSetConnectAttr(dbc, kPsqlUseDeclareFetch, reinterpret_cast<SQLPOINTER>(SQLLEN{0}), 0))) {
        m_dbc = dbc;
        m_restore = declareFetch;
    }
}

AdoConnection::WholeResultScope::~WholeResultScope()
{
    if (m_dbc)
        SQLSetConnectAttr(static_cast<SQLHDBC>(m_dbc), kPsqlUseDeclareFetch,
                          reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(m_restore)), 0);
}

long long AdoConnection::Execute(const std::string& statement)
{
    static const char* const kSource = "AdoConnection::Execute";
    if (m_impl->lost)
        throw AdoException(AdoCode::ConnectionLost, kSource, AdoSystemMessage(AdoCode::ConnectionLost));
    if (!m_impl->open)
        throw AdoException(AdoCode::ObjectClosed, kSource, AdoSystemMessage(AdoCode::ObjectClosed));
    ClearErrors();
    OdbcHandle stmt(SQL_HANDLE_STMT, m_impl->dbc.Get());
    SQLSetStmtAttr(stmt.Get(), SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(m_impl->commandTimeout)), 0);
    const std::string prepared = PrepareStatement(statement);
    std::vector<SQLCHAR> text(prepared.begin(), prepared.end());
    text.push_back('\0');
    CountStatement();
    SQLRETURN rc = SQLExecDirect(stmt.Get(), text.data(), SQL_NTS);
    if (rc == SQL_NO_DATA)
        return 0;
    if (!OdbcOk(rc)) {
        try {
            OdbcThrow(SQL_HANDLE_STMT, stmt.Get(), kSource, "The statement failed.");
        } catch (const AdoException& e) {
            m_impl->errors = e.Errors();
            throw Classify(e);
        }
    }
    SQLLEN rows = -1;
    if (!OdbcOk(SQLRowCount(stmt.Get(), &rows)))
        rows = -1;
    return rows;
}

long long AdoConnection::StatementsSent() const
{
    return m_impl->statementsSent;
}

void AdoConnection::CountStatement()
{
    ++m_impl->statementsSent;
}

const AdoErrors& AdoConnection::Errors() const
{
    return m_impl->errors;
}

const std::string& AdoConnection::DbmsName() const
{
    return m_impl->dbmsName;
}

std::string AdoConnection::PrepareStatement(const std::string& statement) const
{
    const std::string sent = m_impl->keepsHints ? statement : AdoTableHints::Remove(statement);
    return m_impl->datesAsText ? AdoDateLiterals::CompareAsDates(sent) : sent;
}

void* AdoConnection::NativeHandle() const
{
    return m_impl->dbc.Get();
}

void AdoConnection::SetErrors(const AdoErrors& errors)
{
    m_impl->errors = errors;
}

void AdoConnection::ClearErrors()
{
    m_impl->errors.clear();
}

void AdoConnection::Attach(AdoRecordset* recordset)
{
    m_impl->recordsets.push_back(recordset);
}

void AdoConnection::Detach(AdoRecordset* recordset)
{
    auto& list = m_impl->recordsets;
    list.erase(std::remove(list.begin(), list.end(), recordset), list.end());
}
