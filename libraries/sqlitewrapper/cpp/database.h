// A thin object layer over the SQLite C library: a connection that opens a
// database file and runs statements, a statement object that prepares, binds,
// steps and reads columns by name, and one exception family into which every
// failing SQLite call is turned. Nothing here returns an error code.
#pragma once

#include "util/XException.h"
#include "util/XString.h"

#include <cstdint>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace sqlite {

// Every failure of this layer, a database failure (XErrorKind::Database).
// The message reads "Sql Error: <SQLite's message> (<wrapper message>)
// (<operation>)"; the code and the native code are the SQLite result code
// with its extended bits, or -1 for an error the layer found itself.
class SqlError : public XException
{
public:
    SqlError(const char* operation, const char* sqliteMessage, const char* wrapperMessage, int code);
    const XString& Operation() const { return m_operation; }
    const XString& SqliteMessage() const { return m_sqliteMessage; }
    const XString& WrapperMessage() const { return m_wrapperMessage; }

private:
    XString m_operation;
    XString m_sqliteMessage;
    XString m_wrapperMessage;
};

// Chosen by the primary (low byte) result code, so callers can tell a locked
// database or a failing disk from a plain SQL mistake.
class PermError : public SqlError { using SqlError::SqlError; };
class AbortError : public SqlError { using SqlError::SqlError; };
class BusyError : public SqlError { using SqlError::SqlError; };
class IOError : public SqlError { using SqlError::SqlError; };
class DataTypeMismatchError : public SqlError { using SqlError::SqlError; };

// Raises the SqlError class that fits `code` unless `ok`; the message takes
// the connection's current error text when a connection is given.
void Check(bool ok, int code, sqlite3* db, const char* operation, const char* wrapperMessage);

// For a process that uses each SQLite connection from one thread at a time
// (its own and those of an SQLite ODBC driver loaded into it, which share
// this library): switches off the per-connection locks and the locked
// memory statistics, which otherwise cost a lock pair on every value read.
// Takes effect only before SQLite's first use in the process; false (and
// nothing changed) after it.
bool ConfigureSingleThreadedUse();

class Database
{
public:
    // SQLite's open flags: read-write (2) and create (4).
    static constexpr int OpenReadWriteCreate = 6;

    Database() = default;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    // Closes an open connection; a failure to close is swallowed.
    virtual ~Database();

    // Opens `fileName` with `flags`. The key handed to an encryption codec
    // (in a build that has one) is the MD5 digest of a non-empty password,
    // or empty. Extended result codes are on; a locked database is waited
    // for up to 30 seconds. A failed open leaves the object closed.
    void Open(const char* fileName, const char* password, int flags);
    bool IsOpen() const { return m_db != nullptr; }
    // Closes the connection; on failure the connection stays open.
    void Close();

    // Runs one or more statements; returns the rows changed by the last one.
    int Execute(const char* sql);
    // The same with a statement built by SQLite's printf ("%q" doubles
    // single quotes, "%Q" also writes NULL for a null pointer).
    int ExecuteFormat(const char* format, ...);

    // Rows changed by the last INSERT, UPDATE or DELETE.
    int Changes() const;
    // Whether the connection has an open transaction.
    bool InTransaction() const;
    // Whether SQLite opened the main database read-only (a file without
    // write permission opens so even when read-write was asked for).
    bool IsReadOnly() const;

    const XString& FileName() const { return m_fileName; }
    // The key block's length: 16 for a password, 0 without one.
    int KeyLength() const { return m_keyLength; }
    sqlite3* Handle() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
    XString m_fileName;
    int m_flags = 0;
    int32_t m_keyLength = 0;
    unsigned char m_key[16] = {};
};

class QueryImp;

// One statement at a time out of an SQL text: a text holding several
// statements is worked through one statement per Prepare.
class Query
{
public:
    // Prepares `sql` at once unless it is empty.
    explicit Query(Database& db, const char* sql = "");
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    // Finalizes a prepared statement; a failure is swallowed.
    virtual ~Query();

    void Prepare(const char* sql);
    void PrepareFormat(const char* format, ...);
    // True while a row is available; false when the statement is done.
    bool Step();
    void Finalize();
    // Makes the prepared statement ready to run again; bindings are kept
    // until replaced.
    void Reset();

    // Binds parameter `index` (from 1) to a text, or to NULL.
    void Bind(int index, const XString& text);
    void BindNull(int index);
    // Binds a text without copying it: the caller keeps `text` as it is
    // until the statement has been stepped and reset, and binds the
    // parameter again before the next Step.
    void BindUncopied(int index, const XString& text);

    // Zero-based index of the first result column named `name` (any case).
    int FindColumn(const char* name);
    // The column's text in the current row; nullptr for SQL NULL. Valid until
    // the next Step, Reset or Finalize.
    const char* StringColumn(const char* name);
    const char* StringColumn(int index);

    // The SQL text last given, or the empty text.
    const char* Sql() const;

private:
    std::unique_ptr<QueryImp> m_imp;
};

} // namespace sqlite
