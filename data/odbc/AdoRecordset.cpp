// AdoRecordset: runs a statement and reads its rows, either all at once into
// memory (static cursor) or one at a time from the driver (forward-only).
// Every value of a row is read when the row is fetched: short columns arrive
// in bound buffers as text and are parsed here, long ones (and any value a
// buffer cuts off) are read with SQLGetData in chunks.
#include "data/odbc/AdoRecordset.h"

#include <algorithm>
#include <cstdint>

#include "data/odbc/AdoConnection.h"
#include "data/odbc/AdoRowStore.h"
#include "data/odbc/AdoValueText.h"
#include "data/odbc/OdbcHandle.h"

namespace {

const char* const kOpen = "AdoRecordset::Open";
const char* const kFetch = "AdoRecordset::Fetch";

// Bytes of the first SQLGetData call for text and binary values; longer
// values are read in further chunks.
const size_t kChunk = 4096;

}  // namespace

struct AdoRecordset::Impl
{
    AdoRecordset* self = nullptr;
    int cursorType = adOpenForwardOnly;
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
    std::vector<char> chunk = std::vector<char>(kChunk);

    // Columns bound to buffers (see Bind): every short value arrives with the
    // fetch itself, which spares one driver call per value.
    std::vector<char> rowBuffer;
    std::vector<size_t> boundOffset;
    std::vector<SQLLEN> boundSize;     // 0: the column is not bound
    std::vector<SQLLEN> indicators;

    // Throws the statement's diagnostics, recording them on the connection.
    [[noreturn]] void Fail(const char* source, const std::string& fallback)
    {
        try {
            OdbcThrow(SQL_HANDLE_STMT, stmt.Get(), source, fallback);
        } catch (const AdoException& e) {
            if (!connection)
                throw;
            connection->SetErrors(e.Errors());
            throw connection->Classify(e);
        }
    }

    void Execute()
    {
        std::vector<SQLCHAR> text(prepared.begin(), prepared.end());
        text.push_back('\0');
        SQLRETURN rc = SQLExecDirect(stmt.Get(), text.data(), SQL_NTS);
        if (!OdbcOk(rc) && rc != SQL_NO_DATA)
            Fail(kOpen, "The statement could not be run: " + source);
    }

    void Describe()
    {
        SQLSMALLINT count = 0;
        if (!OdbcOk(SQLNumResultCols(stmt.Get(), &count)))
            Fail(kOpen, "The columns of the result could not be read.");
        std::vector<SQLCHAR> name(256);
        for (SQLUSMALLINT col = 1; col <= static_cast<SQLUSMALLINT>(count); ++col) {
            SQLSMALLINT nameLength = 0, sqlType = 0, scale = 0, nullable = SQL_NULLABLE_UNKNOWN;
            SQLULEN size = 0;
            SQLRETURN rc = SQLDescribeCol(stmt.Get(), col, name.data(), static_cast<SQLSMALLINT>(name.size()),
                                          &nameLength, &sqlType, &size, &scale, &nullable);
            if (OdbcOk(rc) && static_cast<size_t>(nameLength) >= name.size()) {
                name.resize(static_cast<size_t>(nameLength) + 1);
                rc = SQLDescribeCol(stmt.Get(), col, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLength,
                                    &sqlType, &size, &scale, &nullable);
            }
            if (!OdbcOk(rc))
                Fail(kOpen, "The columns of the result could not be read.");
            SQLLEN isUnsigned = SQL_FALSE;
            SQLColAttribute(stmt.Get(), col, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
            SQLCHAR typeName[128] = {0};
            SQLSMALLINT typeNameLength = 0;
            SQLColAttribute(stmt.Get(), col, SQL_DESC_TYPE_NAME, typeName, sizeof typeName, &typeNameLength, nullptr);
            const AdoTypeMapping mapping =
                AdoMapSqlType(sqlType, isUnsigned == SQL_TRUE, reinterpret_cast<const char*>(typeName));
            const size_t used = std::min(static_cast<size_t>(nameLength), name.size() - 1);
            fields.Add(std::make_unique<AdoField>(self, static_cast<long>(col - 1),
                                                  std::string(reinterpret_cast<const char*>(name.data()), used),
                                                  mapping, sqlType, static_cast<long long>(size), scale,
                                                  nullable != SQL_NO_NULLS));
        }
    }

    // Binds every column to a buffer of its own, as text (binary columns as
    // bytes), when the driver lets SQLGetData read bound columns in any
    // order: a value longer than its buffer, or one whose text this layer
    // does not parse, is then read again in full with SQLGetData. Long text
    // columns are bound too, as most of their values are short. Drivers
    // without that freedom get every value through SQLGetData.
    void Bind(SQLHDBC dbc)
    {
        const long count = fields.Count();
        boundSize.assign(static_cast<size_t>(count), 0);
        boundOffset.assign(static_cast<size_t>(count), 0);
        indicators.assign(static_cast<size_t>(count), 0);
        SQLUSMALLINT extensions = 0;
        if (!OdbcOk(SQLGetInfo(dbc, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr)))
            return;
        const SQLUSMALLINT needed = SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND;
        if ((extensions & needed) != needed)
            return;
        size_t total = 0;
        for (long i = 0; i < count; ++i) {
            const AdoVarType kind = fields.Item(i).ValueKind();
            const bool text = kind == AdoVarType::String || kind == AdoVarType::ByteArray;
            boundOffset[static_cast<size_t>(i)] = total;
            boundSize[static_cast<size_t>(i)] = text ? 256 : 64;
            total += static_cast<size_t>(boundSize[static_cast<size_t>(i)]);
        }
        rowBuffer.assign(total, '\0');
        for (long i = 0; i < count; ++i) {
            const size_t k = static_cast<size_t>(i);
            const SQLSMALLINT cType = fields.Item(i).ValueKind() == AdoVarType::ByteArray ? SQL_C_BINARY : SQL_C_CHAR;
            if (!OdbcOk(SQLBindCol(stmt.Get(), static_cast<SQLUSMALLINT>(i + 1), cType, rowBuffer.data() + boundOffset[k],
                                   boundSize[k], &indicators[k])))
                boundSize[k] = 0;  // read through SQLGetData instead
        }
    }

    // Reads a text (SQL_C_CHAR) or binary value in chunks. False for NULL.
    bool ReadLong(SQLUSMALLINT col, SQLSMALLINT cType, std::string* out)
    {
        const size_t terminator = cType == SQL_C_CHAR ? 1 : 0;
        out->clear();
        for (;;) {
            SQLLEN indicator = 0;
            SQLRETURN rc = SQLGetData(stmt.Get(), col, cType, chunk.data(), static_cast<SQLLEN>(chunk.size()),
                                      &indicator);
            if (rc == SQL_NO_DATA)
                return true;  // every part has been read
            if (!OdbcOk(rc))
                Fail(kFetch, "A value of column " + fields.Item(col - 1).Name() + " could not be read.");
            if (indicator == SQL_NULL_DATA)
                return false;
            const size_t room = chunk.size() - terminator;
            const bool more = rc == SQL_SUCCESS_WITH_INFO &&
                              (indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) > room);
            if (!more) {
                out->append(chunk.data(), std::min(static_cast<size_t>(indicator), room));
                return true;
            }
            out->append(chunk.data(), room);
            // The rest is of known length: fetch it in one more call.
            if (indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) > room) {
                const size_t rest = static_cast<size_t>(indicator) - room;
                if (rest + terminator > chunk.size())
                    chunk.resize(rest + terminator);
            } else if (chunk.size() < (1u << 20)) {
                chunk.resize(chunk.size() * 2);
            }
        }
    }

    // Reads a fixed-size value; false for NULL.
    bool ReadFixed(SQLUSMALLINT col, SQLSMALLINT cType, void* target, SQLLEN size)
    {
        SQLLEN indicator = 0;
        SQLRETURN rc = SQLGetData(stmt.Get(), col, cType, target, size, &indicator);
        if (!OdbcOk(rc))
            Fail(kFetch, "A value of column " + fields.Item(col - 1).Name() + " could not be read.");
        return indicator != SQL_NULL_DATA;
    }

    [[noreturn]] void ConversionFailed(const AdoField& field, const std::string& why)
    {
        throw AdoException(AdoCode::ConversionFailed, kFetch,
                           "The value of column " + field.Name() + " could not be converted (" + why + ").");
    }

    // Reads the current row's value of `field` into `target`, reusing the
    // target's text buffer.
    void ReadValue(const AdoField& field, AdoVariant& target)
    {
        const size_t k = static_cast<size_t>(field.Index());
        if (k < boundSize.size() && boundSize[k] != 0 && ReadBound(field, k, target))
            return;
        switch (field.ValueKind()) {
        case AdoVarType::String:
        case AdoVarType::ByteArray: {
            const SQLUSMALLINT col = static_cast<SQLUSMALLINT>(field.Index() + 1);
            const SQLSMALLINT cType = field.ValueKind() == AdoVarType::String ? SQL_C_CHAR : SQL_C_BINARY;
            if (!ReadLong(col, cType, &target.ResetText(field.ValueKind())))
                target = AdoVariant::Null();
            return;
        }
        default:
            target = ReadFixedValue(field);
            return;
        }
    }

    // Takes the value of bound column k from its buffer; false when it must
    // be read again with SQLGetData (cut off by the buffer, or a text form
    // this layer leaves to the driver).
    bool ReadBound(const AdoField& field, size_t k, AdoVariant& target)
    {
        const SQLLEN indicator = indicators[k];
        if (indicator == SQL_NULL_DATA) {
            target = AdoVariant::Null();
            return true;
        }
        const bool binary = field.ValueKind() == AdoVarType::ByteArray;
        const SQLLEN room = boundSize[k] - (binary ? 0 : 1);
        if (indicator == SQL_NO_TOTAL || indicator < 0 || indicator > room)
            return false;
        const char* text = rowBuffer.data() + boundOffset[k];
        const size_t length = static_cast<size_t>(indicator);
        switch (field.ValueKind()) {
        case AdoVarType::String:
        case AdoVarType::ByteArray:
            target.ResetText(field.ValueKind()).assign(text, length);
            return true;
        case AdoVarType::Decimal:
        case AdoVarType::Currency:
            target = DecimalFromText(field, std::string(text, length));
            return true;
        default:
            break;
        }
        const AdoTextParse parse = AdoParseFixedText(field.ValueKind(), field.SqlType(), text, length, &target);
        if (parse == AdoTextParse::Parsed)
            return true;
        const std::string shown(text, length);
        if (parse == AdoTextParse::OutOfRange)
            ConversionFailed(field, "out of range: \"" + shown + "\"");
        // Another text form: the driver converts it. A driver that answers
        // NULL for a value that is there could not convert it, and a value
        // must never silently become empty; an empty (or blank) text in a
        // number or date column is the source's way of writing "no value".
        target = ReadFixedValue(field);
        if (target.IsNull() && shown.find_first_not_of(" \t") != std::string::npos)
            ConversionFailed(field, "not a value of the column's type: \"" + shown + "\"");
        return true;
    }

    AdoVariant DecimalFromText(const AdoField& field, const std::string& text)
    {
        AdoDecimal d;
        std::string why;
        if (!AdoDecimal::FromText(text, &d, &why))
            ConversionFailed(field, why);
        if (field.ValueKind() == AdoVarType::Decimal)
            return AdoVariant::Decimal(d);
        return AdoVariant::Currency(ToCurrency(field, d));
    }

    AdoVariant ReadFixedValue(const AdoField& field)
    {
        const SQLUSMALLINT col = static_cast<SQLUSMALLINT>(field.Index() + 1);
        switch (field.ValueKind()) {
        case AdoVarType::I1:
        case AdoVarType::I2:
        case AdoVarType::I4:
        case AdoVarType::I8:
        case AdoVarType::Int: {
            SQLBIGINT v = 0;
            if (!ReadFixed(col, SQL_C_SBIGINT, &v, sizeof v))
                return AdoVariant::Null();
            return AdoVariant::Integer(AdoWidenSigned(field.ValueKind(), v), v);
        }
        case AdoVarType::UI1:
        case AdoVarType::UI2:
        case AdoVarType::UI4:
        case AdoVarType::UI8:
        case AdoVarType::UInt: {
            SQLUBIGINT v = 0;
            if (!ReadFixed(col, SQL_C_UBIGINT, &v, sizeof v))
                return AdoVariant::Null();
            return AdoVariant::Unsigned(AdoWidenUnsigned(field.ValueKind(), v), v);
        }
        case AdoVarType::R4:
        case AdoVarType::R8: {
            SQLDOUBLE v = 0;
            if (!ReadFixed(col, SQL_C_DOUBLE, &v, sizeof v))
                return AdoVariant::Null();
            return AdoVariant::Real(field.ValueKind(), v);
        }
        case AdoVarType::Bool: {
            SQLBIGINT v = 0;
            if (!ReadFixed(col, SQL_C_SBIGINT, &v, sizeof v))
                return AdoVariant::Null();
            return AdoVariant::Boolean(v != 0);
        }
        case AdoVarType::Decimal:
        case AdoVarType::Currency: {
            std::string text;
            if (!ReadLong(col, SQL_C_CHAR, &text))
                return AdoVariant::Null();
            return DecimalFromText(field, text);
        }
        case AdoVarType::Date:
            return ReadDate(field, col);
        default: {
            std::string text;
            if (!ReadLong(col, SQL_C_CHAR, &text))
                return AdoVariant::Null();
            return AdoVariant::String(std::move(text));
        }
        }
    }

    int64_t ToCurrency(const AdoField& field, const AdoDecimal& d)
    {
        // Currency has four decimals; the exact value is scaled, rounding a
        // fifth decimal half away from zero.
        unsigned __int128 m = (static_cast<unsigned __int128>(d.hi32) << 64) | d.lo64;
        int scale = d.scale;
        for (; scale < 4; ++scale) {
            if (m > (static_cast<unsigned __int128>(1) << 100))
                ConversionFailed(field, "currency value out of range");
            m *= 10;
        }
        for (; scale > 4; --scale)
            m = scale == 5 ? (m + 5) / 10 : m / 10;
        if (m > static_cast<unsigned __int128>(INT64_MAX))
            ConversionFailed(field, "currency value out of range");
        const int64_t v = static_cast<int64_t>(m);
        return d.negative ? -v : v;
    }

    AdoVariant ReadDate(const AdoField& field, SQLUSMALLINT col)
    {
        AdoDateTime t;
        if (field.SqlType() == SQL_TYPE_TIME || field.SqlType() == SQL_TIME) {
            // A time of day alone sits on day 0 of the day count.
            SQL_TIME_STRUCT v{};
            if (!ReadFixed(col, SQL_C_TYPE_TIME, &v, sizeof v))
                return AdoVariant::Null();
            t.year = 1899;
            t.month = 12;
            t.day = 30;
            t.hour = static_cast<uint8_t>(v.hour);
            t.minute = static_cast<uint8_t>(v.minute);
            t.second = static_cast<uint8_t>(v.second);
            return AdoVariant::Date(t);
        }
        SQL_TIMESTAMP_STRUCT v{};
        if (!ReadFixed(col, SQL_C_TYPE_TIMESTAMP, &v, sizeof v))
            return AdoVariant::Null();
        t.year = static_cast<int16_t>(v.year);
        t.month = static_cast<uint8_t>(v.month);
        t.day = static_cast<uint8_t>(v.day);
        t.hour = static_cast<uint8_t>(v.hour);
        t.minute = static_cast<uint8_t>(v.minute);
        t.second = static_cast<uint8_t>(v.second);
        t.millisecond = static_cast<uint16_t>(v.fraction / 1000000);
        return AdoVariant::Date(t);
    }

    // Fetches the next row; false at the end of the data. A failed fetch
    // throws: it must never look like the end.
    bool Fetch()
    {
        SQLRETURN rc = SQLFetch(stmt.Get());
        if (rc == SQL_NO_DATA)
            return false;
        if (!OdbcOk(rc))
            Fail(kFetch, "A row could not be read.");
        return true;
    }

    // Reads the fetched row's values into `row` (fields.Count() values).
    template <typename Iterator>
    void ReadRow(Iterator row)
    {
        const long count = fields.Count();
        for (long i = 0; i < count; ++i, ++row)
            ReadValue(fields.Item(i), *row);
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

void AdoRecordset::SetCursorType(int cursorType)
{
    m_impl->cursorType = cursorType;
}

int AdoRecordset::CursorType() const
{
    return m_impl->cursorType;
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
    d.cursorType = cursorType;
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
        d.Bind(static_cast<SQLHDBC>(connection.NativeHandle()));
        if (d.buffered) {
            d.FetchAll();
            // All rows are here: the statement is not needed any more.
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
