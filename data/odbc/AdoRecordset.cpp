// AdoRecordset: runs a statement and reads its rows, either all at once into
// memory (static cursor) or one at a time from the driver (forward-only).
// Every value of a row is read when the row is fetched, by the value reader
// (AdoValueReader), which decides how each column travels and decodes it.
#include "data/odbc/AdoRecordset.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "data/odbc/AdoConnection.h"
#include "data/odbc/AdoRowStore.h"
#include "data/odbc/AdoValueReader.h"
#include "data/odbc/OdbcHandle.h"

namespace {

const char* const kOpen = "AdoRecordset::Open";
const char* const kFetch = "AdoRecordset::Fetch";

}  // namespace

struct AdoRecordset::Impl
{
    AdoRecordset* self = nullptr;
    bool open = false;
    AdoConnection* connection = nullptr;
    OdbcHandle stmt;
    std::string source;
    std::string prepared;
    AdoFields fields;
    bool buffered = false;         // static cursor: all rows in `rows`
    AdoRowStore rows;
    long long rowCount = 0;
    // The current row's values: read from the driver (forward-only) or
    // unpacked from `rows` (static).
    std::vector<AdoVariant> current;
    long long position = 0;        // index of the current row
    bool eof = true;
    bool bof = true;
    // Decodes the values of each fetched row.
    AdoValueReader reader;
    bool allowBinding = true;

    // The failure that ended the block in hand, thrown once the rows
    // before it have been read.
    std::optional<AdoException> blockFailure;

    // Throws the statement's diagnostics, recording them on the connection.
    [[noreturn]] void Fail(const char* source, const std::string& fallback)
    {
        try {
            OdbcThrow(SQL_HANDLE_STMT, stmt.Get(), source, fallback);
        } catch (const AdoException& e) {
            Raise(e);
        }
    }

    [[noreturn]] void Raise(const AdoException& e)
    {
        if (!connection)
            throw e;
        connection->SetErrors(e.Errors());
        throw connection->Classify(e);
    }

    void Execute()
    {
        std::vector<SQLCHAR> text(prepared.begin(), prepared.end());
        text.push_back('\0');
        reader.ClearBlock();
        blockFailure.reset();
        std::optional<AdoConnection::WholeResultScope> whole;
        if (connection) {
            connection->CountStatement();
            if (buffered)
                whole.emplace(*connection);  // every row is read at once: no server cursor
        }
        SQLRETURN rc = SQLExecDirect(stmt.Get(), text.data(), SQL_NTS);
        whole.reset();
        if (!OdbcOk(rc) && rc != SQL_NO_DATA)
            Fail(kOpen, "The statement could not be run: " + source);
    }

    // A column's concise SQL type from the result's own description, for a
    // driver that would look its table up in the server's catalogue to
    // answer SQLDescribeCol (see AdoConnection::DescribesThroughCatalogue):
    // the verbose type is the concise one but for dates and times, whose
    // kind psqlODBC tells only by the type name ("date", "time",
    // "timestamp..."). Zero where that does not settle it.
    SQLSMALLINT TypeFromResult(SQLUSMALLINT col, const char* localTypeName)
    {
        SQLLEN type = SQL_UNKNOWN_TYPE;
        if (!OdbcOk(SQLColAttribute(stmt.Get(), col, SQL_DESC_TYPE, nullptr, 0, nullptr, &type)))
            Fail(kOpen, "The columns of the result could not be read.");
        if (type == SQL_INTERVAL)
            return 0;
        if (type != SQL_DATETIME)
            return static_cast<SQLSMALLINT>(type);
        const std::string name = localTypeName;
        if (name == "date")
            return SQL_TYPE_DATE;
        if (name == "time")
            return SQL_TYPE_TIME;
        if (name.rfind("timestamp", 0) == 0)
            return SQL_TYPE_TIMESTAMP;
        return 0;
    }

    void Describe()
    {
        SQLSMALLINT count = 0;
        if (!OdbcOk(SQLNumResultCols(stmt.Get(), &count)))
            Fail(kOpen, "The columns of the result could not be read.");
        // Where the concise type, its name or the nullability would cost a
        // catalogue look-up, the type comes from the result where it can,
        // the local type name (the same text) stands for the type name, and
        // the nullability stays unknown.
        const bool fromResult = connection && connection->DescribesThroughCatalogue();
        std::vector<SQLCHAR> name(256);
        for (SQLUSMALLINT col = 1; col <= static_cast<SQLUSMALLINT>(count); ++col) {
            SQLSMALLINT nameLength = 0, sqlType = 0, scale = 0, nullable = SQL_NULLABLE_UNKNOWN;
            SQLCHAR typeName[128] = {0};
            SQLSMALLINT typeNameLength = 0;
            if (fromResult) {
                SQLColAttribute(stmt.Get(), col, SQL_DESC_LOCAL_TYPE_NAME, typeName, sizeof typeName,
                                &typeNameLength, nullptr);
                sqlType = TypeFromResult(col, reinterpret_cast<const char*>(typeName));
            }
            SQLSMALLINT* const typeOut = sqlType == 0 ? &sqlType : nullptr;  // still unknown: ask
            SQLSMALLINT* const nullableOut = fromResult ? nullptr : &nullable;
            SQLULEN size = 0;
            SQLRETURN rc = SQLDescribeCol(stmt.Get(), col, name.data(), static_cast<SQLSMALLINT>(name.size()),
                                          &nameLength, typeOut, &size, &scale, nullableOut);
            if (OdbcOk(rc) && static_cast<size_t>(nameLength) >= name.size()) {
                name.resize(static_cast<size_t>(nameLength) + 1);
                rc = SQLDescribeCol(stmt.Get(), col, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLength,
                                    typeOut, &size, &scale, nullableOut);
            }
            if (!OdbcOk(rc))
                Fail(kOpen, "The columns of the result could not be read.");
            SQLLEN isUnsigned = SQL_FALSE;
            SQLColAttribute(stmt.Get(), col, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
            if (!fromResult)
                SQLColAttribute(stmt.Get(), col, SQL_DESC_TYPE_NAME, typeName, sizeof typeName, &typeNameLength,
                                nullptr);
            const AdoTypeMapping mapping =
                AdoMapSqlType(sqlType, isUnsigned == SQL_TRUE, reinterpret_cast<const char*>(typeName));
            const size_t used = std::min(static_cast<size_t>(nameLength), name.size() - 1);
            fields.Add(std::make_unique<AdoField>(self, static_cast<long>(col - 1),
                                                  std::string(reinterpret_cast<const char*>(name.data()), used),
                                                  mapping, sqlType, static_cast<long long>(size), scale,
                                                  nullable != SQL_NO_NULLS));
        }
    }

    // Fetches the next row; false at the end of the data. A failed fetch
    // throws: it must never look like the end.
    bool Fetch()
    {
        if (reader.BlockRows() < 2) {
            SQLRETURN rc = SQLFetch(stmt.Get());
            if (rc == SQL_NO_DATA)
                return false;
            if (!OdbcOk(rc))
                Fail(kFetch, "A row could not be read.");
            return true;
        }
        // In blocks: the rows of the block in hand first, then the failure
        // that cut it short (so the rows before a failed one arrive as they
        // would one at a time), then the next block.
        if (reader.NextInBlock())
            return true;
        if (blockFailure) {
            const AdoException e = *blockFailure;
            blockFailure.reset();
            Raise(e);
        }
        reader.ClearBlock();
        SQLRETURN rc = SQLFetch(stmt.Get());
        if (rc == SQL_NO_DATA)
            return false;
        if (reader.BeginBlock() && OdbcOk(rc))
            return true;
        try {
            OdbcThrow(SQL_HANDLE_STMT, stmt.Get(), kFetch, "A row could not be read.");
        } catch (const AdoException& e) {
            if (reader.UsableRows() == 0)
                Raise(e);
            blockFailure = e;
        }
        return true;
    }

    // Reads the fetched row's values into `row` (fields.Count() values).
    template <typename Iterator>
    void ReadRow(Iterator row)
    {
        const long count = fields.Count();
        try {
            for (long i = 0; i < count; ++i, ++row)
                reader.Read(fields.Item(i), *row);
        } catch (const AdoException& e) {
            if (!connection || e.Code() == AdoCode::ConversionFailed)
                throw;
            connection->SetErrors(e.Errors());
            throw connection->Classify(e);
        }
    }

    // Static cursor: every row, appended to `rows` (`current` is the
    // scratch row each one is read into).
    void FetchAll()
    {
        current.resize(static_cast<size_t>(fields.Count()));
        while (Fetch()) {
            ReadRow(current.begin());
            rows.Append(current);
            ++rowCount;
        }
    }

    // Static cursor: positions on row `row`, or at EOF past the last one.
    void MoveBuffered(long long row)
    {
        position = row;
        eof = position >= rowCount;
        if (!eof)
            rows.Read(static_cast<size_t>(position), current);
    }

    // Forward-only: the next row into `current`; false at the end.
    bool FetchCurrent()
    {
        if (!Fetch())
            return false;
        current.resize(static_cast<size_t>(fields.Count()));
        ReadRow(current.begin());
        return true;
    }

    void ResetChunks()
    {
        for (long i = 0; i < fields.Count(); ++i)
            fields.Item(i).ResetChunk();
    }

    void RequireOpen(const char* source) const
    {
        if (!open)
            throw AdoException(AdoCode::ObjectClosed, source, AdoSystemMessage(AdoCode::ObjectClosed));
    }

    void RequireStatement(const char* source) const
    {
        if (!stmt)
            throw AdoException(AdoCode::ObjectClosed, source,
                               "The connection of this result was closed; its rows can no longer be read.");
    }

    // Forward-only: first row of a fresh execution.
    void FetchFirstStreamed()
    {
        const bool any = FetchCurrent();
        position = 0;
        eof = bof = !any;
    }
};

AdoRecordset::AdoRecordset() : m_impl(new Impl)
{
    m_impl->self = this;
}

AdoRecordset::~AdoRecordset()
{
    Close();
}

void AdoRecordset::SetAllowBinding(bool allow)
{
    m_impl->allowBinding = allow;
}

void AdoRecordset::Open(const std::string& source, AdoConnection& connection, int cursorType, int /*lockType*/,
                        int /*options*/)
{
    Impl& d = *m_impl;
    if (d.open)
        throw AdoException(AdoCode::ObjectOpen, kOpen, AdoSystemMessage(AdoCode::ObjectOpen));
    if (!connection.IsOpen()) {
        const uint32_t code = connection.CheckLost() ? AdoCode::ConnectionLost : AdoCode::ObjectClosed;
        throw AdoException(code, kOpen, AdoSystemMessage(code));
    }
    connection.ClearErrors();
    d.buffered = cursorType != adOpenForwardOnly;
    d.source = source;
    d.prepared = connection.PrepareStatement(source);
    d.connection = &connection;
    connection.Attach(this);
    d.open = true;
    try {
        d.stmt = OdbcHandle(SQL_HANDLE_STMT, static_cast<SQLHDBC>(connection.NativeHandle()));
        // A driver without query time-outs still runs the statement.
        SQLSetStmtAttr(d.stmt.Get(), SQL_ATTR_QUERY_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(connection.CommandTimeout())), 0);
        d.Execute();
        d.Describe();
        d.reader.Prepare(d.stmt.Get(), static_cast<SQLHDBC>(connection.NativeHandle()), d.fields,
                         connection.TextMode(), d.allowBinding,
                         d.buffered ? 0 : static_cast<SQLULEN>(connection.RowsPerServerFetch()));
        if (d.buffered) {
            d.FetchAll();
            // All rows are here: the statement is not needed any more.
            d.reader.Reset();
            d.stmt.Reset();
            d.MoveBuffered(0);
            d.bof = d.eof;
        } else {
            d.FetchFirstStreamed();
        }
    } catch (const AdoException& e) {
        connection.SetErrors(e.Errors());
        Close();
        throw;
    } catch (const std::bad_alloc&) {
        Close();
        throw AdoException(AdoCode::OutOfMemory, kOpen, AdoSystemMessage(AdoCode::OutOfMemory));
    }
}

void AdoRecordset::Close()
{
    Impl& d = *m_impl;
    if (!d.open)
        return;
    d.reader.Reset();
    d.stmt.Reset();
    if (d.connection)
        d.connection->Detach(this);
    d.connection = nullptr;
    d.fields.Clear();
    d.rows.Clear();
    d.current.clear();
    d.rowCount = 0;
    d.position = 0;
    d.eof = d.bof = true;
    d.open = false;
}

void AdoRecordset::ReleaseStatement()
{
    m_impl->reader.Reset();
    m_impl->stmt.Reset();
    m_impl->connection = nullptr;
}

int AdoRecordset::State() const
{
    return m_impl->open ? adStateOpen : adStateClosed;
}

bool AdoRecordset::IsEOF() const
{
    return m_impl->eof;
}

bool AdoRecordset::IsBOF() const
{
    return m_impl->bof;
}

void AdoRecordset::MoveFirst()
{
    Impl& d = *m_impl;
    d.RequireOpen("AdoRecordset::MoveFirst");
    d.ResetChunks();
    if (d.buffered) {
        d.MoveBuffered(0);
        d.bof = d.eof;
        return;
    }
    if (d.position == 0 && !d.eof)
        return;  // still on the first row
    if (d.position == 0 && d.bof)
        return;  // no rows at all
    d.RequireStatement("AdoRecordset::MoveFirst");
    // The driver's result can be read once: run the statement again.
    SQLFreeStmt(d.stmt.Get(), SQL_CLOSE);
    try {
        d.Execute();
        d.FetchFirstStreamed();
    } catch (const AdoException& e) {
        if (d.connection)
            d.connection->SetErrors(e.Errors());
        d.eof = true;
        throw;
    }
}

void AdoRecordset::MoveNext()
{
    Impl& d = *m_impl;
    d.RequireOpen("AdoRecordset::MoveNext");
    if (d.eof)
        throw AdoException(AdoCode::NoCurrentRecord, "AdoRecordset::MoveNext", AdoSystemMessage(AdoCode::NoCurrentRecord));
    d.ResetChunks();
    if (d.buffered) {
        d.MoveBuffered(d.position + 1);
        return;
    }
    ++d.position;
    d.RequireStatement("AdoRecordset::MoveNext");
    try {
        d.eof = !d.FetchCurrent();
    } catch (const AdoException& e) {
        if (d.connection)
            d.connection->SetErrors(e.Errors());
        d.current.clear();
        d.eof = true;
        throw;
    }
}

long long AdoRecordset::RecordCount() const
{
    m_impl->RequireOpen("AdoRecordset::RecordCount");
    return m_impl->buffered ? m_impl->rowCount : -1;
}

AdoFields& AdoRecordset::Fields()
{
    m_impl->RequireOpen("AdoRecordset::Fields");
    return m_impl->fields;
}

const std::string& AdoRecordset::Source() const
{
    return m_impl->source;
}

size_t AdoRecordset::BufferedBytes() const
{
    const Impl& d = *m_impl;
    size_t bytes = d.rows.HeldBytes() + d.current.capacity() * sizeof(AdoVariant);
    const std::string empty;
    for (const AdoVariant& v : d.current) {
        const size_t cap = v.Text().capacity();
        bytes += cap > empty.capacity() ? cap + 1 : 0;
    }
    return bytes;
}

const AdoVariant& AdoRecordset::CurrentValue(long index) const
{
    const Impl& d = *m_impl;
    d.RequireOpen("AdoField::Value");
    if (d.bof || d.eof)
        throw AdoException(AdoCode::NoCurrentRecord, "AdoField::Value", AdoSystemMessage(AdoCode::NoCurrentRecord));
    const long count = d.fields.Count();
    if (index < 0 || index >= count)
        throw AdoException(AdoCode::ItemNotFound, "AdoField::Value", AdoSystemMessage(AdoCode::ItemNotFound));
    return d.current[static_cast<size_t>(index)];
}

const AdoVariant* AdoRecordset::FindCurrentValue(long index) const noexcept
{
    const Impl& d = *m_impl;
    if (!d.open || d.bof || d.eof || index < 0 || static_cast<size_t>(index) >= d.current.size())
        return nullptr;
    return &d.current[static_cast<size_t>(index)];
}
