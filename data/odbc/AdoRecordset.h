// AdoRecordset: the rows of one statement, shaped like the ADO recordset the
// data access layer was written against. A static cursor reads every row into
// memory when it opens (so RecordCount is known and the connection is free
// again); a forward-only cursor streams rows from the driver one at a time
// (memory independent of the row count, RecordCount -1). Reading errors
// while fetching are raised; only the driver's end of data sets EOF. A stored
// value that cannot be read as its column's kind (a date column holding "x",
// an integer beyond 64 bits) raises AdoException(ConversionFailed) naming the
// column and the value, instead of reading as NULL; an empty or blank text
// there reads as NULL.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "data/odbc/AdoError.h"
#include "data/odbc/AdoField.h"
#include "data/odbc/AdoTypes.h"
#include "data/odbc/AdoVariant.h"

class AdoConnection;

class AdoRecordset
{
public:
    AdoRecordset();
    ~AdoRecordset();

    AdoRecordset(const AdoRecordset&) = delete;
    AdoRecordset& operator=(const AdoRecordset&) = delete;

    // Set before Open. Off: every value is read with SQLGetData in column
    // order, as drivers need that allow neither bound columns nor reads in
    // any order; the layer chooses that path itself for such drivers.
    void SetAllowBinding(bool allow);

    // Runs `source` (SQL text) on `connection` and positions on the first
    // row. cursorType adOpenForwardOnly streams rows, adOpenStatic (and the
    // keyset and dynamic types, which ODBC sources here do not offer) buffers
    // them; lockType adLockReadOnly or adLockPessimistic (ignored: the
    // recordset never writes); options adCmdText. Table hints are removed
    // for databases without them (AdoConnection::PrepareStatement). Throws
    // AdoException with the driver's diagnostics, which are also stored in
    // the connection's Errors(); ObjectOpen when already open, ObjectClosed
    // when the connection is closed.
    void Open(const std::string& source, AdoConnection& connection, int cursorType = adOpenForwardOnly,
              int lockType = adLockReadOnly, int options = adCmdText);

    // Releases the rows and the statement; no effect when closed.
    void Close();
    int State() const;

    // EOF: after the last row (or no rows); BOF: before the first row (only
    // with no rows, since Open positions on the first row).
    bool IsEOF() const;
    bool IsBOF() const;

    // Positions on the first row. A forward-only cursor that has already
    // moved runs its statement again, as the statement's result may only be
    // read once. Throws AdoException on a reading error or when closed.
    void MoveFirst();
    // Moves to the next row; EOF is set after the last one. Throws
    // AdoException(NoCurrentRecord) at EOF, or the driver's error when a row
    // cannot be read (a failed fetch never reads as the end of the data).
    void MoveNext();

    // Number of rows for a static cursor, -1 for a forward-only one.
    // Throws AdoException(ObjectClosed) when closed.
    long long RecordCount() const;

    // The columns. Throws AdoException(ObjectClosed) when closed.
    AdoFields& Fields();

    // The statement as given to Open (before any hint removal).
    const std::string& Source() const;

    // Bytes held for buffered rows (packed) and the current row's values,
    // for memory reports; a forward-only cursor holds only its current row.
    size_t BufferedBytes() const;

    // For AdoField: the current row's value of a column; throws like
    // AdoField::Value.
    const AdoVariant& CurrentValue(long index) const;
    // The same without the checks' exceptions: nullptr when closed, not on
    // a row, or `index` is no column. For the per-value path.
    const AdoVariant* FindCurrentValue(long index) const noexcept;

private:
    friend class AdoConnection;
    // Called by a connection that closes while this recordset still holds a
    // statement on it: the statement is released, buffered rows stay.
    void ReleaseStatement();

    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
