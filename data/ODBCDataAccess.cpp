// ODBCDataAccess: making the object, the database type operations,
// connecting, running statements, walking rows, error texts and the end of
// the extraction.
#include "data/ODBCDataAccess.h"

#include <limits>

#include "data/DatabaseTypes.h"
#include "data/OdbcFailure.h"
#include "data/odbc/AdoConnection.h"
#include "data/odbc/AdoRecordset.h"
#include "util/XDateTime.h"
#include "util/XException.h"

namespace {

// Cuts a formatted line at `limit` bytes, as the error texts are bounded.
XString Bounded(const XString& text, uint32_t limit)
{
    return text.GetLength() > limit ? text.Left(limit) : text;
}

}  // namespace

ODBCDataAccess::ODBCDataAccess(uint32_t options, int databaseType, QObject* parent)
    : DataAccessBase(options, databaseType, parent)
{
    try {
        m_connection = std::make_unique<AdoConnection>();
    } catch (const AdoException& error) {
        throw OdbcFailure(error, "Failed to initialize connection.", m_databaseType);
    } catch (const std::exception&) {
        throw XException(XErrorKind::Internal, "Failed to initialize connection.");
    }
}

ODBCDataAccess::~ODBCDataAccess()
{
    const XString now = XDateTime::Now().Format("dd/mm/yyyy|hh:nn:ss");
    Log(LogLevel::Debug, now + " Start ODBCDataAccess Destructor");
    Log(LogLevel::Debug, now + " End ODBCDataAccess Destructor");
    ClearQuery();
    m_result.reset();
    m_connection.reset();
}

// ---------------------------------------------------------------------------
// Database types

XString ODBCDataAccess::GetTypeName() const
{
    return DatabaseTypeName(m_databaseType);
}

XString ODBCDataAccess::BuildConnectionString(const XString& dataSource, const XString* user,
                                              const XString* password)
{
    Log(LogLevel::Debug, "Build Connection String for: " + GetTypeName());
    FileDatabaseStep(FileStep::ConnectionString);
    if (m_databaseType == DatabaseType::FoxProDBF)
        Log(LogLevel::Debug, "Build Connection String: Fox Pro DBF Driver");
    try {
        return ConnectionStringFor(m_databaseType, dataSource, user, password, m_dataSource);
    } catch (const XException& error) {
        Log(LogLevel::Debug, error.what());
        throw;
    }
}

XString ODBCDataAccess::BuildConnectionString()
{
    return BuildConnectionString(m_dataSource, &m_user, &m_password);
}

XString ODBCDataAccess::SQLDate(const XDate& date, int type)
{
    return DateLiteralFor(type == 0 ? m_databaseType : type, date, DateFormat());
}

XString ODBCDataAccess::QuoteText(const XString& text, int type) const
{
    return QuoteTextFor(type == 0 ? m_databaseType : type, text);
}

XString ODBCDataAccess::GetFieldTypeName(int32_t column)
{
    if (!m_result)
        return XString();
    try {
        return FieldTypeName(m_result->Fields().Item(static_cast<long>(column)).Type());
    } catch (const AdoException& error) {
        ThrowComError(error);
    }
}

// ---------------------------------------------------------------------------
// The file database type

// The file database type (a folder of dBase files, read without SQL) has no
// reader in this build: it never connects, its "statement" is the path of
// its one table's file, it has no result, so every count is 0, every
// positioning false and every value that of no field, and its table
// existence check answers no. What it does instead is said in the log, here
// for every step; the steps not named log nothing.
bool ODBCDataAccess::FileDatabaseStep(FileStep step)
{
    if (m_databaseType != DatabaseType::DBaseXBase)
        return false;
    switch (step) {
    case FileStep::ConnectionString:
        Log(LogLevel::Debug, GetTypeName());
        break;
    case FileStep::Connect:
        Log(LogLevel::Informational, "Connect - Could not connect need to define USE_XBASE");
        break;
    case FileStep::Disconnect:
        Log(LogLevel::Informational, "Disconnect: Xbase not defined!");
        break;
    case FileStep::TableExists:
        Log(LogLevel::Debug, "Need to define USE_XBASE!!");
        break;
    case FileStep::Query:
    case FileStep::Run:
    case FileStep::Read:
        break;
    }
    return true;
}

XString ODBCDataAccess::BuildXBasePath()
{
    XString path = m_dataSource;
    if (m_tables.size() > 1) {
        Log(LogLevel::Debug, "Cannot use more than 1 table in XBase query");
        throw XException("Cannot use more than 1 table in XBase query");
    }
    if (!m_tables.empty())
        path += m_tables.front()->GetSqlName() + ".dbf";
    return path;
}

// ---------------------------------------------------------------------------
// Connection

void ODBCDataAccess::Connect(const XString& connectionString)
{
    if (IsConnected())
        Disconnect();
    if (FileDatabaseStep(FileStep::Connect))
        return;
    // Answers about another source's schema do not hold for this one.
    if (connectionString != m_connectionString)
        m_existenceAnswers.clear();
    m_connectionString = connectionString;

    try {
        if (m_options & DataAccessOption::Exclusive) {
            m_connection->SetMode(adModeShareExclusive);
            Log(LogLevel::Debug, "Open in Exclusive Access Mode.");
        } else {
            m_connection->SetMode(adModeRead);
            Log(LogLevel::Debug, "Open in Read Only Access Mode.");
        }
        m_connection->SetConnectionTimeout(m_connectionTimeout);
        m_connection->SetCommandTimeout(m_commandTimeout);
        m_connection->Open(connectionString.str());
    } catch (const AdoException& error) {
        Log(LogLevel::Debug, "Failed to connect to data source with connection string.");
        XString text = FormatComError(error, m_connection.get());
        MaskPassword(text);
        throw OdbcFailure(error, text, m_databaseType);
    } catch (const std::exception& error) {
        // A connection string the driver manager cannot even read.
        Log(LogLevel::Debug, "Failed to connect to data source with connection string.");
        XString masked = connectionString;
        MaskPassword(masked);
        XString reason(error.what());
        MaskPassword(reason);
        XException::RaiseError(XErrorKind::Internal, 0, "Failed to connect to data source with connection string: %s (%s)",
                               masked.c_str(), reason.c_str());
    }
    Log(LogLevel::Debug, "Connected to data source.");
}

void ODBCDataAccess::Disconnect()
{
    if (FileDatabaseStep(FileStep::Disconnect))
        return;
    try {
        if (m_connection->State() == adStateOpen)
            m_connection->Close();
    } catch (const AdoException& error) {
        ThrowComError(error);
    }
}

bool ODBCDataAccess::IsConnected() const
{
    return m_connection->State() == adStateOpen;
}

void ODBCDataAccess::Reconnect()
{
    // The old link is usually broken already; failing to close it must not
    // stop the new connection.
    try {
        Disconnect();
    } catch (const XException& error) {
        Log(LogLevel::Debug, XString("Reconnect: closing the old connection failed: ") + error.what());
    }
    Connect(m_connectionString);
}

void ODBCDataAccess::OpenConnection(const XString& connectionString, bool keepConnection)
{
    StartPDEWriter();
    m_keepConnection = keepConnection;
    Connect(connectionString);
    if (Param("logSchema") == "true") {
        try {
            LogSchema();
        } catch (const std::exception& error) {
            Log(LogLevel::Debug, XString("The schema log failed and was left incomplete: ") + error.what());
        }
    }
}

// ---------------------------------------------------------------------------
// Queries and records

void ODBCDataAccess::RunQuery(const XString& statement)
{
    Log(LogLevel::Debug, "Running Query", "ODBCDataAccess::RunQuery");
    if (FileDatabaseStep(FileStep::Run))
        return;

    m_result = std::make_unique<AdoRecordset>();
    // A table's rows stream: memory stays that of one row however large the
    // table, and their count is logged once they have been read. Other
    // queries keep the option word's cursor, so a caller that needs the
    // count before the rows gets it from the buffered rows without running
    // the statement twice.
    const bool forwardOnly = (m_options & DataAccessOption::ForwardOnly) || IsOpeningTable();
    m_countedResult = IsOpeningTable() ? m_result.get() : nullptr;
    m_rowsRead = 0;
    Log(LogLevel::Proprietary, statement);
    try {
        m_result->Open(statement.str(), *m_connection, forwardOnly ? adOpenForwardOnly : adOpenStatic,
                       (m_options & DataAccessOption::Pessimistic) ? adLockPessimistic : adLockReadOnly,
                       adCmdText);
    } catch (const AdoException& error) {
        m_result.reset();  // a result that never opened is no current result
        m_countedResult = nullptr;
        const XString text = FormatComError(error, m_connection.get());
        Log(LogLevel::Proprietary, "RunQuery: While executing: " + statement + ", " + text);
        throw OdbcFailure(error, XException::FormatMessage("While executing query: %s", text.c_str()).c_str(),
                          m_databaseType);
    }
}

void ODBCDataAccess::RunCurrentQuery()
{
    RunQuery(BuildQuery());
}

bool ODBCDataAccess::OpenCurrentQuery()
{
    RunCurrentQuery();
    return m_result != nullptr;
}

void ODBCDataAccess::CloseCurrentResult()
{
    m_countedResult = nullptr;
    if (!m_result)
        return;
    try {
        if (m_result->State() == adStateOpen)
            m_result->Close();
    } catch (const AdoException& error) {
        m_result.reset();
        ThrowComError(error);
    }
    m_result.reset();
}

void ODBCDataAccess::CloseQuery()
{
    ClearQuery();
    CloseCurrentResult();
}

int32_t ODBCDataAccess::GetRecordCount()
{
    if (!m_result)
        return 0;

    if (CountsAfterRows()) {
        // Walking the rows now would mean running the statement again to
        // read them.
        Log(LogLevel::Debug, "GetRecordCount: Counting the records while they are read.");
        return -1;
    }

    int32_t count = -1;
    try {
        const long long reported = m_result->RecordCount();
        count = reported > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                                : static_cast<int32_t>(reported);
        Log(LogLevel::Debug, "GetRecordCount: Finishing Getting Record Count.");
    } catch (const AdoException& error) {
        Log(LogLevel::Debug, "GetRecordCount: " + FormatComError(error, m_connection.get()));
        count = -1;
    }
    Log(LogLevel::Debug, "GetRecordCount: Validating RecordCount.");
    if (count == -1) {
        Log(LogLevel::Debug, "GetRecordCount: Lets determine record count manually.");
        count = 0;
        if (GetFirstRecord()) {
            do
                ++count;
            while (GetNextRecord());
        }
    } else {
        Log(LogLevel::Debug, "GetRecordCount: Driver supports RecordCount");
    }
    Log(LogLevel::Debug, "GetRecordCount: Found Record Count of " + XString(count));
    return count;
}

bool ODBCDataAccess::GetFirstRecord()
{
    if (!m_result)
        return false;
    try {
        if (m_result->IsEOF() && m_result->IsBOF())
            return CountRow(false);
        m_result->MoveFirst();
        m_rowsRead = 0;
        return CountRow(!m_result->IsEOF());
    } catch (const AdoException& error) {
        // A row that cannot be read must not look like the end of the table.
        Log(LogLevel::Debug, XString("GetFirstRecord Error: ") + error.Description().c_str());
        ThrowComError(error);
    }
}

bool ODBCDataAccess::GetNextRecord()
{
    if (!m_result)
        return false;
    try {
        if (m_result->IsEOF())
            return CountRow(false);
        m_result->MoveNext();
        return CountRow(!m_result->IsEOF());
    } catch (const AdoException& error) {
        Log(LogLevel::Debug, XString("GetNextRecord Error: ") + error.Description().c_str());
        ThrowComError(error);
    }
}

bool ODBCDataAccess::CountRow(bool onRow)
{
    if (!CountsAfterRows())
        return onRow;
    if (onRow) {
        ++m_rowsRead;
    } else {
        m_countedResult = nullptr;
        Log(LogLevel::Debug, "GetRecordCount: Found Record Count of " + XString(m_rowsRead));
    }
    return onRow;
}

int32_t ODBCDataAccess::GetFieldCount()
{
    if (!m_result)
        return 0;
    try {
        return static_cast<int32_t>(m_result->Fields().Count());
    } catch (const AdoException& error) {
        ThrowComError(error);
    }
}

XString ODBCDataAccess::GetFieldName(int32_t column)
{
    if (!m_result)
        return XString();
    try {
        return XString(m_result->Fields().Item(static_cast<long>(column)).Name().c_str());
    } catch (const AdoException& error) {
        ThrowComError(error);
    }
}

size_t ODBCDataAccess::HeldResultBytes() const
{
    return m_result ? m_result->BufferedBytes() : 0;
}

// ---------------------------------------------------------------------------
// Errors and the end of the extraction

XString ODBCDataAccess::FormatComError(const AdoException& error, const AdoConnection* connection)
{
    XString text;
    if (connection) {
        for (const AdoError& item : connection->Errors()) {
            XString line;
            line.Format("Error number: %x\t%s\r\n", item.number, item.description.c_str());
            text += Bounded(line, 1000);
        }
    }
    XString com;
    com.Format("COM Error Code = %08lx, Code Meaning = %s\r\nSource = %s, Description = %s",
               static_cast<unsigned long>(error.Code()), AdoSystemMessage(error.Code()).c_str(),
               error.Source().c_str(), error.Description().c_str());
    text += Bounded(com, 1000);
    Log(LogLevel::Debug, text);
    return text;
}

void ODBCDataAccess::ThrowComError(const AdoException& error)
{
    throw OdbcFailure(error, FormatComError(error, m_connection.get()), m_databaseType);
}

bool ODBCDataAccess::IsDatabaseFailure(const std::exception& error)
{
    const auto* failure = dynamic_cast<const XException*>(&error);
    return failure && failure->IsDatabaseFailure();
}

long long ODBCDataAccess::StatementsSent() const
{
    return m_connection->StatementsSent();
}

void ODBCDataAccess::LogStatementsSent()
{
    Log(LogLevel::Debug, "Statements sent to the data source: " + XString(static_cast<int64_t>(StatementsSent())) +
               " (existence questions answered from memory instead: " + XString(m_existenceRemembered) + ")");
}

void ODBCDataAccess::MaskPassword(XString& text)
{
    ::MaskPassword(text);
}

void ODBCDataAccess::ExportComplete()
{
    Log(LogLevel::Informational, "Finished Extraction");
    Log(LogLevel::Debug, "Finishing Import");
    if (!m_keepConnection) {
        Log(LogLevel::Debug, "Disconnecting");
        Disconnect();
    }
    PDEWriter::ExportComplete();
}
