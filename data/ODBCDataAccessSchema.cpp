// Schema probing of ODBCDataAccess: whether a table or a field exists, asked
// of the database's catalogue (or by a trial SELECT), the schema log and the
// column dump of one table. Each check runs on a result of its own so that
// it can be asked while a query is being built. Only an answer without rows
// (or, for a trial SELECT, its failure) means "does not exist": a check that
// could not be asked (a locked
// database, a lost connection, a time-out) throws, after one reconnect and
// retry when the connection was lost.
#include "data/ODBCDataAccess.h"

#include "data/DatabaseTypes.h"
#include "data/OdbcFailure.h"
#include "data/ValueText.h"
#include "data/odbc/AdoConnection.h"
#include "data/odbc/AdoRecordset.h"
#include "util/XException.h"

namespace {

// Catalogue statements put names inside single-quoted literals; a name that
// could end the literal (or the statement) is no name of this database.
bool IsSafeName(const XString& name)
{
    return name.Find('\'') == name.GetLength() && name.Find(';') == name.GetLength();
}

// The contents dump reads its table once, front to back: a forward-only
// cursor is enough.
constexpr uint32_t kDumpOptions = DataAccessOption::ForwardOnly;

XString Fill(const char* format, const XString& first)
{
    XString statement;
    statement.Format(format, first.c_str());
    return statement;
}

XString Fill(const char* format, const XString& first, const XString& second)
{
    XString statement;
    statement.Format(format, first.c_str(), second.c_str());
    return statement;
}

}  // namespace

bool ODBCDataAccess::RunCheck(const XString& statement, CheckMode mode, int32_t* count, int32_t* value)
{
    // A counted or valued answer is a few rows, read whole at once: a
    // static result, which needs no server cursor. A plain check only runs
    // its statement, which may name a whole table.
    auto check = std::make_unique<AdoRecordset>();
    check->Open(statement.str(), *m_connection, mode == CheckMode::Plain ? adOpenForwardOnly : adOpenStatic,
                adLockReadOnly, adCmdText);
    if (mode == CheckMode::Plain)
        return true;

    // The counting and reading operations work on the current result; lend
    // them the check's result and give the query's own back afterwards.
    struct Lend
    {
        std::unique_ptr<AdoRecordset>& slot;
        std::unique_ptr<AdoRecordset> saved;
        ~Lend() { slot.swap(saved); }
    } lend{m_result, std::move(m_result)};
    m_result = std::move(check);

    if (mode == CheckMode::Count) {
        *count = GetRecordCount();
        return *count >= 1;
    }
    if (!GetFirstRecord())
        return false;
    *value = VariantToInt(m_result->Fields().Item(0L).Value());
    return *value >= 1;
}

bool ODBCDataAccess::RunExistenceCheck(const XString& statement, CheckMode mode, const XString& what,
                                       int32_t* count, int32_t* value)
{
    bool exists = false;
    try {
        RetryOnLostLink([&] { exists = RunCheckOnce(statement, mode, count, value); },
                        [&](const XException&) {
                            Log(LogLevel::Debug,
                                "The connection was lost while checking whether " + what + " exists; reconnecting.");
                        });
    } catch (const XException& failure) {
        // A trial SELECT has no other way to say "no such table or field"
        // than failing; only a lost connection is no answer there.
        if (mode == CheckMode::Plain && failure.Kind() != XErrorKind::ConnectionLost) {
            Log(LogLevel::Debug, "The trial statement failed, so " + what + " does not exist.");
            return false;
        }
        throw XException::Rephrase(
            failure,
            XException::FormatMessage("Could not check whether %s exists: %s", what.c_str(), failure.what()).c_str());
    }
    return exists;
}

bool ODBCDataAccess::RunCheckOnce(const XString& statement, CheckMode mode, int32_t* count, int32_t* value)
{
    XException failure("");
    try {
        return RunCheck(statement, mode, count, value);
    } catch (const AdoException& error) {
        FormatComError(error, m_connection.get());  // logs the driver's diagnostics
        XString cause = error.Description().c_str();
        if (!error.SqlState().empty())
            cause += (" (SQLSTATE " + error.SqlState() + ")").c_str();
        failure = OdbcFailure(error, cause, m_databaseType);
    } catch (const XException& error) {
        // The row walk reports its failures already translated.
        failure = error;
    }
    // A driver may report a dropped link as an ordinary failure; the
    // connection itself then says it is dead.
    if (failure.Kind() != XErrorKind::ConnectionLost && m_connection->CheckLost())
        throw XException(XErrorKind::ConnectionLost, failure.what(), failure.GetCode(), failure.SqlState(),
                         failure.NativeCode());
    throw failure;
}

const bool* ODBCDataAccess::RememberedExistence(const XString& question, const char* label)
{
    const auto known = m_existenceAnswers.find(question);
    if (known == m_existenceAnswers.end())
        return nullptr;
    ++m_existenceRemembered;
    Log(LogLevel::Proprietary, label + known->second.statement);
    Log(LogLevel::Debug, "Remembered from an earlier check of this run, not asked again: " + question +
               (known->second.exists ? " exists." : " does not exist."));
    return &known->second.exists;
}

void ODBCDataAccess::RememberExistence(const XString& question, const XString& statement, bool exists)
{
    m_existenceAnswers[question] = KnownExistence{statement, exists};
}

bool ODBCDataAccess::TrialQuery(const XString& statement)
{
    try {
        AdoRecordset trial;
        trial.Open(statement.str(), *m_connection, adOpenForwardOnly, adLockReadOnly, adCmdText);
        return true;
    } catch (const std::exception& error) {
        Log(LogLevel::Debug, XString("TrialQuery did not run: ") + error.what());
        return false;
    }
}

bool ODBCDataAccess::DoTableExists(const XString& table)
{
    using namespace DatabaseType;
    Log(LogLevel::Proprietary, "Table Exists query:" + table);
    if (FileDatabaseStep(FileStep::TableExists))
        return false;
    const XString question = "table " + table;
    if (const bool* known = RememberedExistence(question, "Table Exists query:"))
        return *known;

    XString statement;
    CheckMode mode = CheckMode::Plain;
    if (m_options & DataAccessOption::PlainExistenceChecks) {
        statement = Fill(m_tableTemplate, table);
    } else {
        switch (m_databaseType) {
        case DBaseODBC:
        case FoxProODBC:
            statement = Fill("SELECT * FROM %s", table);
            break;
        case FoxProDBF:
        case SybaseOLE:
            statement = Fill("SELECT COUNT(*) FROM %s", table);
            break;
        case MSSQL:
            statement = Fill("SELECT name FROM sysobjects WHERE (xtype = 'U' OR xtype = 'V') AND "
                             "UPPER(name) = UPPER('%s')", table);
            mode = CheckMode::Count;
            break;
        case MySQL:
            statement = Fill("SELECT TABLE_NAME FROM information_schema.TABLES T WHERE (table_name = '%s')", table);
            mode = CheckMode::Count;
            break;
        case SQLite:
            // Judged by its rows: the catalogue query runs whether or not the
            // table is there.
            statement = Fill("SELECT * FROM sqlite_master WHERE type='table' AND name='%s'", table);
            mode = CheckMode::Count;
            break;
        case Access:
            statement = Fill("SELECT Name FROM MSysObjects WHERE Type=1 AND Flags=0 AND Name='%s'", table);
            if (!TrialQuery(statement))
                statement = Fill(m_quoteTableNames ? "Select COUNT(*) From \"%s\"" : "Select COUNT(*) From %s", table);
            mode = CheckMode::Count;
            break;
        case Postgres:
            statement = Fill("SELECT tablename FROM pg_tables WHERE tableowner = current_user AND tablename = %s",
                             XString(table).Replace('"', '\''));
            mode = CheckMode::Count;
            break;
        case OracleODBC:
        case OracleOLE:
        case OracleMSDAORA:
            statement = Fill("SELECT DISTINCT table_name FROM all_tab_columns WHERE UPPER(table_name) = UPPER('%s')",
                             table);
            mode = CheckMode::Count;
            break;
        case SybaseODBC:
            statement = Fill("SELECT name FROM sysobjects WHERE (type = 'U' OR type = 'V') AND "
                             "UPPER(name) = UPPER('%s')", table);
            mode = CheckMode::Count;
            break;
        case Progress:
            statement = Fill("SELECT DISTINCT tbl FROM sysprogress.\"SYSTABLES\" WHERE UPPER(tbl) = UPPER('%s')", table);
            mode = CheckMode::Count;  // the catalogue query runs for any name
            break;
        case Informix:
            statement = Fill("SELECT COUNT(*) FROM systables WHERE tabname = '%s'", table);
            if (!TrialQuery(statement))
                statement = Fill("Select COUNT(*) From %s", table);
            mode = CheckMode::Value;
            break;
        case TopSpeed:
        case LotusNotes:
            statement = Fill("Select COUNT(*) From %s", table);
            break;
        case CADatacom:
            statement = Fill("Select COUNT(*) From %s", table);
            mode = CheckMode::Value;
            break;
        default:
            throw XException("DB Type not defined for TableExists yet, feel free to do so.");
        }
    }
    Log(LogLevel::Proprietary, "Table Exists query:" + statement);

    if (!IsSafeName(table)) {
        Log(LogLevel::Debug, "Table name " + table + " holds a quote or a semicolon; it cannot name a table.");
        return false;
    }
    int32_t count = 0;
    int32_t value = 0;
    const bool exists = RunExistenceCheck(statement, mode, question, &count, &value);
    Log(LogLevel::Debug, "Table " + table + (exists ? " exists." : " does not exist."));
    RememberExistence(question, statement, exists);
    return exists;
}

bool ODBCDataAccess::DoFieldExists(const XString& table, const XString& field)
{
    using namespace DatabaseType;
    const XString question = "field " + field + " of table " + table;
    if (const bool* known = RememberedExistence(question, "Field Exists query:"))
        return *known;
    XString statement;
    CheckMode mode = CheckMode::Plain;
    if (m_options & DataAccessOption::PlainExistenceChecks) {
        statement = Fill(m_fieldTemplate, field, table);
    } else {
        switch (m_databaseType) {
        case DBaseODBC:
        case FoxProODBC:
        case SybaseOLE:
            statement = Fill("SELECT %s FROM %s", field, table);
            break;
        case FoxProDBF:
            statement = Fill("SELECT COUNT(%s) FROM %s", field, table);
            break;
        case MSSQL:
        case SybaseODBC:
            statement = Fill("SELECT syscolumns.name FROM syscolumns JOIN sysobjects ON syscolumns.id=sysobjects.id "
                             "WHERE UPPER(sysobjects.name) = UPPER('%s') AND UPPER(syscolumns.name) = UPPER('%s')",
                             table, field);
            mode = CheckMode::Count;
            break;
        case MySQL:
            statement = Fill("SELECT column_name FROM information_schema.COLUMNS C WHERE (table_name = '%s' AND "
                             "column_name = '%s')", table, field);
            mode = CheckMode::Count;
            break;
        case SQLite:
            // The table's CREATE statement names the column followed by a
            // blank; the catalogue query itself runs for any name, so its
            // rows decide.
            statement = Fill("SELECT sql FROM sqlite_master WHERE name='%s' AND sql LIKE '%%%s %%'", table, field);
            mode = CheckMode::Count;
            break;
        case Access: {
            const XString f = m_quoteFieldNames ? field.Quoted() : field;
            const XString t = m_quoteTableNames ? table.Quoted() : table;
            statement = Fill("Select COUNT(%s) From %s", f, t);
            mode = CheckMode::Count;
            break;
        }
        case Postgres:
            statement = Fill("SELECT attname AS testfield FROM pg_class, pg_attribute WHERE relname = %s AND "
                             "pg_class.oid = attrelid  AND attnum > 0 AND attname='%s'",
                             XString(table).Replace('"', '\''), field);
            mode = CheckMode::Count;
            break;
        case OracleODBC:
        case OracleOLE:
        case OracleMSDAORA:
            statement = Fill("SELECT column_name FROM all_tab_columns WHERE UPPER(table_name) = UPPER('%s') AND "
                             "UPPER(column_name) = UPPER('%s')", table, field);
            mode = CheckMode::Count;
            break;
        case Progress:
            statement = Fill("SELECT \"_Field-Name\" FROM pub.\"_field\" WHERE \"_Field-Name\" = '%s' AND "
                             "\"_file-recid\" = (SELECT ROWID FROM pub.\"_file\" WHERE \"_file-name\" = '%s')",
                             field, table);
            mode = CheckMode::Count;
            break;
        case Informix:
            statement = Fill("select tabid from systables where tabname='%s' and colname = '%s'", table, field);
            if (!TrialQuery(statement)) {
                Log(LogLevel::Debug, "TrialQuery Failed.  Trying Count");
                Log(LogLevel::Debug, "TrialQuery Failed: " + statement);
                statement = Fill("Select COUNT(%s) From %s", field, table);
            }
            mode = CheckMode::Value;
            break;
        case TopSpeed:
            statement = Fill(m_quoteFieldNames ? "Select COUNT(\"%s\") From %s" : "Select COUNT(%s) From %s", field,
                             table);
            break;
        case LotusNotes:
            statement = Fill("SELECT \"%s\" FROM \"%s\"", field, table);
            break;
        case CADatacom:
            statement = Fill("Select COUNT(%s) From %s", field, table);
            mode = CheckMode::Count;
            break;
        default:
            throw XException("DB Type not defined for FieldExists yet, feel free to do so.");
        }
    }
    Log(LogLevel::Proprietary, "Field Exists query:" + statement);

    if (!IsSafeName(table) || !IsSafeName(field)) {
        Log(LogLevel::Debug, "Field " + field + " of table " + table + " holds a quote or a semicolon; it cannot name a field.");
        return false;
    }
    int32_t count = 0;
    int32_t value = 0;
    if (mode == CheckMode::Count)
        Log(LogLevel::Debug, "Check Result Count.");
    else if (mode == CheckMode::Value)
        Log(LogLevel::Debug, "Check Result.");
    const bool exists = RunExistenceCheck(statement, mode, question, &count, &value);
    RememberExistence(question, statement, exists);
    if (!exists) {
        if (mode == CheckMode::Count)
            Log(LogLevel::Debug, "Query RecordCount = " + XString(count));
        else
            Log(LogLevel::Debug, "Record Value =" + XString(value));
        return false;
    }
    Log(LogLevel::Debug, "Field Valid.");
    return true;
}

bool ODBCDataAccess::TableExistsConnected(const XString& connectionString, const XString& table,
                                          bool keepConnection)
{
    const bool connectedHere = !IsConnected();
    if (connectedHere)
        Connect(connectionString);
    const bool exists = DoTableExists(table);
    if (connectedHere && !keepConnection)
        Disconnect();
    return exists;
}

void ODBCDataAccess::LogSchema()
{
    using namespace DatabaseType;
    Log(LogLevel::Informational, "Logging Schema...");
    XString statement;
    switch (m_databaseType) {
    case MSSQL:
    case SybaseODBC:
        statement = "SELECT sysobjects.name as table_name, syscolumns.name as column_name FROM syscolumns JOIN "
                    "sysobjects ON syscolumns.id=sysobjects.id";
        break;
    case MySQL:
        statement = "SELECT table_name as table_name, column_name as column_name FROM information_schema.COLUMNS C";
        break;
    case SQLite:
        statement = "SELECT name as table_name, sql as column_name FROM sqlite_master";
        break;
    case Postgres:
        statement = "SELECT relname as table_name, attname as column_name FROM pg_class, pg_attribute WHERE "
                    "pg_class.oid = attrelid  AND attnum > 0";
        break;
    case OracleODBC:
    case OracleOLE:
    case OracleMSDAORA:
        statement = "SELECT table_name as table_name, column_name as column_name FROM all_tab_columns";
        break;
    default:
        break;
    }
    Log(LogLevel::Informational, statement);
    if (statement.IsEmpty()) {
        Log(LogLevel::Informational, "No schema statement for the database type " + GetTypeName() + ".");
        return;
    }

    RunQuery(statement);
    const int32_t columns = GetFieldCount();
    for (int32_t i = 0; i < columns; ++i)
        Log(LogLevel::Informational, GetFieldTypeName(i) + " - " + GetFieldName(i));
    if (columns >= 2) {
        for (bool more = GetFirstRecord(); more; more = GetNextRecord()) {
            Log(LogLevel::Proprietary, VariantToText(m_result->Fields().Item(0L).Value()) + "::" +
                       VariantToText(m_result->Fields().Item(1L).Value()));
        }
    }
    CloseQuery();
}

void ODBCDataAccess::LogTableContents(const ODBCTable* table)
{
    Log(LogLevel::Debug, table->GetSqlName() + " contents:");
    try {
        ODBCDataAccess dump(kDumpOptions, DatabaseType::None);
        dump.Connect(m_connectionString);
        dump.RunQuery("SELECT * FROM " + table->GetSqlName());
        const int32_t columns = dump.GetFieldCount();
        for (int32_t i = 0; i < columns; ++i)
            Log(LogLevel::Debug, dump.GetFieldName(i));
        dump.CloseQuery();
        dump.Disconnect();
    } catch (const std::exception& error) {
        // A diagnostic only: the missing field is reported either way.
        Log(LogLevel::Debug, XString("The contents of ") + table->GetSqlName() + " could not be listed: " + error.what());
    }
}
