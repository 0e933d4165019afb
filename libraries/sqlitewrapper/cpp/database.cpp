// The SQLite access layer: every SQLite result other than success (and, for a
// step, "row" or "done") becomes an exception of the SqlError family.
#include "libraries/sqlitewrapper/cpp/database.h"

#include <QCryptographicHash>

#include <sqlite3.h>

#include <cassert>
#include <cstdarg>
#include <cstring>

namespace sqlite {

namespace {

XString BuildMessage(const char* operation, const char* sqliteMessage, const char* wrapperMessage)
{
    XString message;
    message.Format("Sql Error: %s (%s) (%s)", sqliteMessage ? sqliteMessage : "",
                   wrapperMessage ? wrapperMessage : "", operation ? operation : "");
    return message;
}

// sqlite3_vmprintf into an XString; raises when SQLite runs out of memory.
XString VFormat(const char* operation, const char* format, va_list args)
{
    char* text = sqlite3_vmprintf(format, args);
    if (!text)
        Check(false, SQLITE_NOMEM, nullptr, operation, "out of memory");
    XString result(text);
    sqlite3_free(text);
    return result;
}

} // namespace

SqlError::SqlError(const char* operation, const char* sqliteMessage, const char* wrapperMessage,
                   int code)
    : XException(XErrorKind::Database, BuildMessage(operation, sqliteMessage, wrapperMessage).c_str(), code,
                 std::string(), code),
      m_operation(operation ? operation : ""), m_sqliteMessage(sqliteMessage ? sqliteMessage : ""),
      m_wrapperMessage(wrapperMessage ? wrapperMessage : "")
{
}

bool ConfigureSingleThreadedUse()
{
    // Both calls fail with SQLITE_MISUSE once SQLite has been initialised.
    if (sqlite3_config(SQLITE_CONFIG_MULTITHREAD) != SQLITE_OK)
        return false;
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
}

void Check(bool ok, int code, sqlite3* db, const char* operation, const char* wrapperMessage)
{
    if (ok)
        return;
    // Without a handle (a failed open) the result code still says why.
    const char* sqliteMessage = db ? sqlite3_errmsg(db) : code >= 0 ? sqlite3_errstr(code) : "";
    switch (code < 0 ? code : (code & 0xFF)) {
    case SQLITE_PERM:
        throw PermError(operation, sqliteMessage, wrapperMessage, code);
    case SQLITE_ABORT:
        throw AbortError(operation, sqliteMessage, wrapperMessage, code);
    case SQLITE_BUSY:
        throw BusyError(operation, sqliteMessage, wrapperMessage, code);
    case SQLITE_IOERR:
        throw IOError(operation, sqliteMessage, wrapperMessage, code);
    case SQLITE_MISMATCH:
        throw DataTypeMismatchError(operation, sqliteMessage, wrapperMessage, code);
    default:
        throw SqlError(operation, sqliteMessage, wrapperMessage, code);
    }
}

// ---------------------------------------------------------------------------
// Database

Database::~Database()
{
    try {
        Close();
    } catch (const XException&) {
        // A destructor must always succeed.
    }
}

void Database::Open(const char* fileName, const char* password, int flags)
{
    assert(!m_db);
    std::memset(m_key, 0, sizeof m_key);
    m_keyLength = 0;
    if (password && *password) {
        const QByteArray digest =
            QCryptographicHash::hash(QByteArray(password), QCryptographicHash::Md5);
        std::memcpy(m_key, digest.constData(), sizeof m_key);
        m_keyLength = sizeof m_key;
    }
    m_fileName = fileName ? fileName : "";
    m_flags = flags;

    sqlite3* db = nullptr;
    const int result = sqlite3_open_v2(m_fileName.c_str(), &db, flags, nullptr);
    if (result != SQLITE_OK) {
        sqlite3_close(db);
        Check(false, result, nullptr, "sqlite::Database::Open", m_fileName.c_str());
    }
    m_db = db;
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, 30000);
#ifdef SQLITE_HAS_CODEC
    const int keyResult = sqlite3_key(m_db, m_key, m_keyLength);
    if (keyResult != SQLITE_OK) {
        try {
            Check(false, keyResult, m_db, "sqlite::Database::Open", "Unable to decrypt database.");
        } catch (...) {
            sqlite3_close(m_db);
            m_db = nullptr;
            throw;
        }
    }
#endif
}

void Database::Close()
{
    if (!m_db)
        return;
    const int result = sqlite3_close(m_db);
    Check(result == SQLITE_OK, result, m_db, "sqlite::Database::Close", "failed");
    m_db = nullptr;
}

int Database::Execute(const char* sql)
{
    Check(m_db != nullptr, -1, nullptr, "sqlite::Database::Execute", "db not open");
    char* error = nullptr;
    const int result = sqlite3_exec(m_db, sql, nullptr, nullptr, &error);
    if (result != SQLITE_OK) {
        const XString text = error ? error : "failed";
        sqlite3_free(error);
        Check(false, result, m_db, "sqlite::Database::Execute", text.c_str());
    }
    return sqlite3_changes(m_db);
}

int Database::ExecuteFormat(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    XString sql;
    try {
        sql = VFormat("sqlite::Database::Execute", format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return Execute(sql.c_str());
}

int Database::Changes() const
{
    return m_db ? sqlite3_changes(m_db) : 0;
}

bool Database::IsReadOnly() const
{
    return m_db && sqlite3_db_readonly(m_db, "main") == 1;
}

bool Database::InTransaction() const
{
    return m_db && !sqlite3_get_autocommit(m_db);
}

// ---------------------------------------------------------------------------
// Query

class QueryImp
{
public:
    explicit QueryImp(Database& db) : m_db(db) {}
    virtual ~QueryImp()
    {
        try {
            if (m_stmt)
                finalize();
        } catch (const XException&) {
        }
    }

    void finalize()
    {
        const int result = sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        Check(result == SQLITE_OK, result, m_db.Handle(), "sqlite::QueryImp::finalize", "failed");
    }

    // Prepares the next statement of the text; false when none is left.
    bool prepare()
    {
        if (m_stmt)
            finalize();
        Check(m_db.Handle() != nullptr, -1, m_db.Handle(), "sqlite::QueryImp::prepare", "No database");
        const char* start = m_sql.c_str() + m_tail;
        while (*start) {
            const char* tail = nullptr;
            const int result = sqlite3_prepare_v2(m_db.Handle(), start, -1, &m_stmt, &tail);
            Check(result == SQLITE_OK, result, m_db.Handle(), "sqlite::QueryImp::prepare",
                  sqlite3_errmsg(m_db.Handle()));
            m_tail = static_cast<uint32_t>(tail - m_sql.c_str());
            if (m_stmt)
                return true;
            start = tail;  // only a comment or blanks: nothing to run
        }
        return false;
    }

    Database& m_db;
    sqlite3_stmt* m_stmt = nullptr;
    XString m_error;
    XString m_sql;
    uint32_t m_tail = 0;
};

Query::Query(Database& db, const char* sql) : m_imp(std::make_unique<QueryImp>(db))
{
    if (sql && *sql)
        Prepare(sql);
}

Query::~Query() = default;

void Query::Prepare(const char* sql)
{
    m_imp->m_sql = sql ? sql : "";
    m_imp->m_tail = 0;
    const bool prepared = m_imp->prepare();
    Check(prepared, SQLITE_DONE, m_imp->m_db.Handle(), "sqlite::Query::Prepare",
          "no statement to prepare");
}

void Query::PrepareFormat(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    XString sql;
    try {
        sql = VFormat("sqlite::Query::Prepare", format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    Prepare(sql.c_str());
}

bool Query::Step()
{
    Check(m_imp->m_stmt != nullptr, -1, nullptr, "sqlite::Query::Step", "No prepared statement");
    const int result = sqlite3_step(m_imp->m_stmt);
    if (result == SQLITE_ROW)
        return true;
    Check(result == SQLITE_DONE, result, m_imp->m_db.Handle(), "sqlite::Query::Step", "failed");
    return false;
}

void Query::Finalize()
{
    Check(m_imp->m_stmt != nullptr, -1, nullptr, "sqlite::Query::Finalize", "No prepared statement");
    m_imp->finalize();
}

void Query::Reset()
{
    Check(m_imp->m_stmt != nullptr, -1, nullptr, "sqlite::Query::Reset", "No prepared statement");
    // The result of reset repeats the last step's error, already raised.
    sqlite3_reset(m_imp->m_stmt);
}

void Query::Bind(int index, const XString& text)
{
    Check(m_imp->m_stmt != nullptr, -1, nullptr, "sqlite::Query::Bind", "No prepared statement");
    const int result = sqlite3_bind_text(m_imp->m_stmt, index, text.c_str(),
                                         static_cast<int>(text.GetLength()), SQLITE_TRANSIENT);
    Check(result == SQLITE_OK, result, m_imp->m_db.Handle(), "sqlite::Query::Bind", "failed");
}

void Query::BindUncopied(int index, const XString& text)
{
    Check(m_imp->m_stmt != nullptr, -1, nullptr, "sqlite::Query::Bind", "No prepared statement");
    const int result = sqlite3_bind_text(m_imp->m_stmt, index, text.c_str(),
                                         static_cast<int>(text.GetLength()), SQLITE_STATIC);
    Check(result == SQLITE_OK, result, m_imp->m_db.Handle(), "sqlite::Query::Bind", "failed");
}

void Query::BindNull(int index)
{
    Check(m_imp->m_stmt != nullptr, -1, nullptr, "sqlite::Query::Bind", "No prepared statement");
    const int result = sqlite3_bind_null(m_imp->m_stmt, index);
    Check(result == SQLITE_OK, result, m_imp->m_db.Handle(), "sqlite::Query::Bind", "failed");
}

int Query::FindColumn(const char* name)
{
    Check(m_imp->m_stmt != nullptr, -1, nullptr, "sqlite::Query::FindColumn", "No prepared statement");
    const int count = sqlite3_column_count(m_imp->m_stmt);
    for (int i = 0; i < count; ++i) {
        const char* column = sqlite3_column_name(m_imp->m_stmt, i);
        if (column && sqlite3_stricmp(column, name) == 0)
            return i;
    }
    m_imp->m_error.Format("Request for non-existent column \"%s\"", name);
    Check(false, -1, m_imp->m_db.Handle(), "sqlite::Query::FindColumn", m_imp->m_error.c_str());
    return -1;
}

const char* Query::StringColumn(const char* name)
{
    const int index = FindColumn(name);
    return StringColumn(index);
}

const char* Query::StringColumn(int index)
{
    Check(m_imp->m_stmt != nullptr, -1, nullptr, "sqlite::Query::StringColumn", "No prepared statement");
    return reinterpret_cast<const char*>(sqlite3_column_text(m_imp->m_stmt, index));
}

const char* Query::Sql() const
{
    return m_imp->m_sql.c_str();
}

} // namespace sqlite
