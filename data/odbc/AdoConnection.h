// AdoConnection: a connection to an ODBC data source, shaped like the ADO
// connection the data access layer was written against: mode and time-outs
// set before Open, Open/Close/State, Execute for statements without rows,
// and an Errors collection holding the diagnostics of the last failure.
// It also knows the DBMS behind the data source, so statements with SQL
// Server table hints can be run on databases that lack them.
#pragma once

#include <memory>
#include <string>

#include "data/odbc/AdoError.h"
#include "data/odbc/AdoTypes.h"
#include "data/odbc/AdoValueReader.h"

class AdoRecordset;

// How a driver's character data reaches the bridge's 8-bit code page.
struct AdoDriverText
{
    AdoTextMode mode = AdoTextMode::Wide;
    // A statement run once after connecting that makes the driver deliver
    // narrow text in the code page; empty when none is needed.
    std::string setup;
};

// Chosen by the driver's file name (SQL_DRIVER_NAME) and the DBMS name:
// drivers that can deliver wide text (SQL_C_WCHAR) are asked for it, as the
// column types they report do not always say so (a Unicode driver may
// describe varchar as SQL_VARCHAR); PostgreSQL's ANSI driver refuses wide
// text, so it is asked for UTF-8, converted here (the server's own
// conversion to the code page fails a query on a character the code page
// lacks, where this layer writes "?"); SQLite hands back
// its text as stored, which in the bridge's databases is the code page.
AdoDriverText AdoDriverTextFor(const std::string& driverName, const std::string& dbmsName);

class AdoConnection
{
public:
    AdoConnection();
    ~AdoConnection();  // closes the connection when open

    AdoConnection(const AdoConnection&) = delete;
    AdoConnection& operator=(const AdoConnection&) = delete;

    // adModeRead (read-only access asked of the driver) or
    // adModeShareExclusive (kept as information: ODBC has no such lock).
    // Throws AdoException(ObjectOpen) while open.
    void SetMode(int mode);
    int Mode() const;

    // Seconds; 0 means no limit. The connection time-out applies to Open,
    // the command time-out to every statement run afterwards.
    void SetConnectionTimeout(int seconds);
    void SetCommandTimeout(int seconds);
    int CommandTimeout() const;

    // Opens the data source. `connectionString` is in the form the data
    // access layer builds (see AdoConnectionString::ToOdbc); a non-empty
    // user or password is added as UID/PWD. Throws AdoException with the
    // driver manager's diagnostics (also kept in Errors()); an unknown DSN
    // has SQLSTATE IM002. Throws ObjectOpen when already open.
    void Open(const std::string& connectionString, const std::string& user = std::string(),
              const std::string& password = std::string(), int options = 0);

    // Closes the connection; no effect when closed. Recordsets opened on it
    // must not be used afterwards (a static recordset keeps its rows).
    void Close();

    // adStateOpen or adStateClosed. A connection that a failure found dead
    // (see CheckLost) reads as closed, though Close has not run yet.
    int State() const;
    bool IsOpen() const { return State() == adStateOpen; }

    // Runs a statement that returns no rows (table hints removed as for
    // recordsets). Returns the number of rows affected, -1 when unknown.
    // Throws AdoException on failure.
    long long Execute(const std::string& statement);

    // Statements handed to the driver through this object since it was
    // made, over every Open (Execute, recordsets, a forward-only recordset
    // run again): the round trips the bridge itself asked for, not the
    // driver's own (its fetches, catalogue look-ups, savepoints).
    long long StatementsSent() const;

    // Diagnostics of the most recent failed operation on this connection or
    // on a recordset opened on it; cleared when an operation starts.
    const AdoErrors& Errors() const;

    // The DBMS name the driver reports (SQL_DBMS_NAME), empty when closed.
    const std::string& DbmsName() const;

    // The statement as it is handed to the driver: unchanged for SQL
    // Server, table hints removed for every other DBMS, and date literals
    // compared as dates where the DBMS keeps dates as text (SQLite).
    std::string PrepareStatement(const std::string& statement) const;

    // After a failed operation: asks the driver whether the link is gone
    // (SQL_ATTR_CONNECTION_DEAD). Drivers report a dropped link first under
    // many SQLSTATEs (a server's own shutdown notice, a generic 01000), and
    // 08S01 often only on the next statement, so the state alone is not
    // enough. A dead connection is remembered: State() reads closed and the
    // next Open closes the old handles first. A driver that cannot answer
    // counts as alive.
    bool CheckLost();
    // `error` itself, or the same failure marked AdoCode::ConnectionLost
    // when the connection turns out to be dead.
    AdoException Classify(const AdoException& error);

    // While it lives, psqlODBC answers a SELECT with all its rows at once
    // instead of through a server cursor (UseDeclareFetch), for a statement
    // whose rows the caller reads whole anyway (a static recordset): there
    // the cursor holds no memory back and only adds a round trip, its
    // closing. Other drivers, and a connection without cursors: no effect.
    class WholeResultScope
    {
    public:
        explicit WholeResultScope(AdoConnection& connection);
        ~WholeResultScope();
        WholeResultScope(const WholeResultScope&) = delete;
        WholeResultScope& operator=(const WholeResultScope&) = delete;

    private:
        void* m_dbc = nullptr;  // set while the cursors are switched off
        long m_restore = 0;     // the driver's setting to put back
    };

    // True where asking a result column's concise type, type name or
    // nullability costs round trips: psqlODBC answers them by looking the
    // column's table up in the server's catalogue, once per table and
    // connection, switching the statement time-out off and on around it.
    // Recordsets then describe columns from the result alone (see
    // AdoRecordset).
    bool DescribesThroughCatalogue() const;
    // Rows psqlODBC asks the server for at a time through its cursor
    // (Fetch, where UseDeclareFetch is on); 0 where the driver holds a
    // whole result, and for other drivers.
    long RowsPerServerFetch() const;

    // How recordsets read character columns (see AdoDriverTextFor).
    AdoTextMode TextMode() const;

    // For AdoRecordset: the connection handle (SQLHDBC) and error recording.
    void* NativeHandle() const;
    void SetErrors(const AdoErrors& errors);
    void ClearErrors();

private:
    friend class AdoRecordset;
    // Open recordsets whose statements must be released before the
    // connection handle goes away.
    void Attach(AdoRecordset* recordset);
    void CountStatement();
    void Detach(AdoRecordset* recordset);

    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
