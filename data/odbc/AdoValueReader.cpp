// AdoValueReader: how each column's value is fetched and decoded. Short
// values arrive in bound buffers as text and are parsed here; long ones (and
// any value a buffer cuts off, or a text form this layer leaves to the
// driver) are read with SQLGetData, in chunks where they may be long.
#include "data/odbc/AdoValueReader.h"

#include <algorithm>
#include <cstdint>

#include "data/odbc/AdoError.h"
#include "data/odbc/AdoTypes.h"
#include "data/odbc/AdoValueText.h"
#include "data/odbc/OdbcHandle.h"
#include "util/XString.h"

namespace {

const char* const kFetch = "AdoRecordset::Fetch";

// Bound buffer sizes in bytes: text columns hold up to 255 characters (wide
// ones as many UTF-16 units), integers, flags and dates their usual text,
// other numbers (decimals of 38 digits) theirs. A value that does not fit
// is read again with SQLGetData.
const SQLLEN kTextBuffer = 256;
const SQLLEN kShortBuffer = 32;
const SQLLEN kFixedBuffer = 64;
// Rows fetched at once where the driver reads blocks: at most this many, and
// no more than kBlockBytes of buffers.
const SQLULEN kBlockRows = 128;
const size_t kBlockBytes = 256 * 1024;

bool HasShortText(AdoVarType kind)
{
    switch (kind) {
    case AdoVarType::I1:
    case AdoVarType::I2:
    case AdoVarType::I4:
    case AdoVarType::I8:
    case AdoVarType::Int:
    case AdoVarType::UI1:
    case AdoVarType::UI2:
    case AdoVarType::UI4:
    case AdoVarType::UI8:
    case AdoVarType::UInt:
    case AdoVarType::Bool:
    case AdoVarType::Date:
        return true;
    default:
        return false;
    }
}

[[noreturn]] void ConversionFailed(const std::string& column, const std::string& why)
{
    throw AdoException(AdoCode::ConversionFailed, kFetch,
                       "The value of column " + column + " could not be converted (" + why + ").");
}

// Sign, digits and at most one point, at least one digit: the form a
// driver gives DECIMAL values in.
bool IsPlainNumber(const std::string& text)
{
    size_t i = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
    bool digit = false, point = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9')
            digit = true;
        else if (text[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    return digit;
}

bool IsBlank(const std::string& text)
{
    return text.find_first_not_of(" \t") == std::string::npos;
}

}  // namespace

void AdoValueReader::Prepare(SQLHSTMT stmt, SQLHDBC dbc, const AdoFields& fields, AdoTextMode textMode,
                             bool allowBinding, SQLULEN blockDivides)
{
    Reset();
    m_stmt = stmt;
    m_textMode = textMode;
    const long count = fields.Count();
    m_boundSize.assign(static_cast<size_t>(count), 0);
    m_boundOffset.assign(static_cast<size_t>(count), 0);
    m_indicators.assign(static_cast<size_t>(count), 0);
    m_boundRoom.assign(static_cast<size_t>(count), 0);
    m_boundWide.assign(static_cast<size_t>(count), 0);
    m_block = 1;
    ClearBlock();
    if (!allowBinding || count == 0)
        return;
    // Binding pays only when SQLGetData may still read a bound column again
    // (a value longer than its buffer), in any order.
    SQLUINTEGER extensions = 0;  // drivers write all 32 bits of the mask
    if (!OdbcOk(SQLGetInfo(dbc, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr)))
        return;
    const SQLUINTEGER needed = SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND;
    if ((extensions & needed) != needed)
        return;
    size_t total = 0;
    bool longColumn = false;
    for (long i = 0; i < count; ++i) {
        const AdoField& field = fields.Item(i);
        const AdoVarType kind = field.ValueKind();
        const bool wide = IsWideText(field);
        SQLLEN size = HasShortText(kind) ? kShortBuffer : kFixedBuffer;
        if (kind == AdoVarType::String || kind == AdoVarType::ByteArray) {
            // No larger than the declared size needs: drivers may fill the
            // whole buffer for every value. A longer value (UTF-8 bytes
            // beyond the characters, a source that ignores its declared
            // size) is still read whole, through SQLGetData.
            const long long declared = field.DefinedSize() * (m_textMode == AdoTextMode::Utf8 ? 4 : 1);
            const SQLLEN units = declared > 0 && declared < kTextBuffer ? static_cast<SQLLEN>(declared) + 1 : kTextBuffer;
            longColumn = longColumn || declared <= 0 || declared >= kTextBuffer;
            size = wide ? 2 * units : units;
        }
        const size_t k = static_cast<size_t>(i);
        m_boundOffset[k] = total;
        m_boundSize[k] = size;
        m_boundRoom[k] = size - (kind == AdoVarType::ByteArray ? 0 : wide ? static_cast<SQLLEN>(sizeof(SQLWCHAR)) : 1);
        m_boundWide[k] = wide;
        total += static_cast<size_t>(size);
    }
    // Rows come in blocks where every value fits its buffer as declared (a
    // long column is read with SQLGetData row by row) and the driver can
    // still read a value of any row of the block with SQLGetData, once
    // positioned there (SQL_GD_BLOCK).
    SQLULEN rows = std::max<SQLULEN>(1, std::min<SQLULEN>(kBlockRows, kBlockBytes / total));
    while (blockDivides != 0 && blockDivides % rows != 0)
        --rows;
    if (!longColumn && (extensions & SQL_GD_BLOCK) != 0)
        m_block = StartBlocks(stmt, rows);
    for (long i = 0; i < count; ++i)
        m_boundOffset[static_cast<size_t>(i)] *= m_block;
    m_rowBuffer.assign(total * m_block, '\0');
    m_indicators.assign(static_cast<size_t>(count) * m_block, 0);
    for (long i = 0; i < count; ++i) {
        const size_t k = static_cast<size_t>(i);
        const AdoField& field = fields.Item(i);
        const SQLSMALLINT cType = field.ValueKind() == AdoVarType::ByteArray ? SQL_C_BINARY
                                  : IsWideText(field)                       ? SQL_C_WCHAR
                                                                            : SQL_C_CHAR;
        if (!OdbcOk(SQLBindCol(stmt, static_cast<SQLUSMALLINT>(i + 1), cType, m_rowBuffer.data() + m_boundOffset[k],
                               m_boundSize[k], &m_indicators[k * m_block]))) {
            // One column the driver will not bind: read them all with
            // SQLGetData, as bound and unbound columns must not mix for
            // drivers that read in column order.
            SQLFreeStmt(stmt, SQL_UNBIND);
            std::fill(m_boundSize.begin(), m_boundSize.end(), 0);
            if (m_block > 1)
                StopBlocks(stmt);
            return;
        }
    }
}

SQLULEN AdoValueReader::StartBlocks(SQLHSTMT stmt, SQLULEN rows)
{
    if (rows < 2)
        return 1;
    // A driver that refuses the size (HYC00, HY092) or takes another one
    // reads one row at a time.
    SQLULEN taken = 0;
    if (!OdbcOk(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0)) ||
        !OdbcOk(SQLGetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, &taken, sizeof taken, nullptr)) || taken != rows) {
        StopBlocks(stmt);
        return 1;
    }
    m_statuses.assign(rows, SQL_ROW_NOROW);
    if (!OdbcOk(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, m_statuses.data(), 0)) ||
        !OdbcOk(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &m_fetched, 0))) {
        StopBlocks(stmt);
        return 1;
    }
    return rows;
}

void AdoValueReader::StopBlocks(SQLHSTMT stmt)
{
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    m_block = 1;
}

void AdoValueReader::ClearBlock()
{
    std::fill(m_statuses.begin(), m_statuses.end(), static_cast<SQLUSMALLINT>(SQL_ROW_NOROW));
    m_fetched = 0;
    m_usable = 0;
    m_row = 0;
    m_positioned = false;
}

bool AdoValueReader::BeginBlock()
{
    m_row = 0;
    m_positioned = false;
    const SQLULEN fetched = std::min(m_fetched, static_cast<SQLULEN>(m_statuses.size()));
    m_usable = 0;
    while (m_usable < fetched &&
           (m_statuses[m_usable] == SQL_ROW_SUCCESS || m_statuses[m_usable] == SQL_ROW_SUCCESS_WITH_INFO))
        ++m_usable;
    return m_usable == m_fetched && m_fetched > 0;
}

bool AdoValueReader::NextInBlock()
{
    if (m_row + 1 >= m_usable)
        return false;
    ++m_row;
    m_positioned = false;
    return true;
}

void AdoValueReader::Position(const AdoField& field)
{
    if (m_block < 2 || m_positioned)
        return;
    if (!OdbcOk(SQLSetPos(m_stmt, static_cast<SQLSETPOSIROW>(m_row + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE)))
        Fail(field);
    m_positioned = true;
}

void AdoValueReader::Reset()
{
    m_stmt = SQL_NULL_HSTMT;
    m_rowBuffer.clear();
    m_boundOffset.clear();
    m_boundSize.clear();
    m_boundRoom.clear();
    m_boundWide.clear();
    m_indicators.clear();
    m_statuses.clear();
    m_block = 1;
    ClearBlock();
}

bool AdoValueReader::IsWideText(const AdoField& field) const
{
    return m_textMode == AdoTextMode::Wide && field.ValueKind() == AdoVarType::String &&
           field.SqlType() != SQL_GUID;
}

void AdoValueReader::Fail(const AdoField& field)
{
    OdbcThrow(SQL_HANDLE_STMT, m_stmt, kFetch, "A value of column " + field.Name() + " could not be read.");
}

void AdoValueReader::Read(const AdoField& field, AdoVariant& target)
{
    const size_t k = static_cast<size_t>(field.Index());
    if (k < m_boundSize.size() && m_boundSize[k] != 0 && ReadBound(field, k, target))
        return;
    switch (field.ValueKind()) {
    case AdoVarType::String: {
        std::string& text = target.ResetText(AdoVarType::String);
        if (IsWideText(field) ? !ReadWide(field, &text) : !ReadLong(field, SQL_C_CHAR, &text))
            target = AdoVariant::Null();
        else if (m_textMode == AdoTextMode::Utf8)
            AdoUtf8ToCodePage(&text);
        return;
    }
    case AdoVarType::ByteArray:
        if (!ReadLong(field, SQL_C_BINARY, &target.ResetText(AdoVarType::ByteArray)))
            target = AdoVariant::Null();
        return;
    default:
        target = ReadFixedValue(field);
        return;
    }
}

bool AdoValueReader::ReadLong(const AdoField& field, SQLSMALLINT cType, std::string* out)
{
    const SQLUSMALLINT col = static_cast<SQLUSMALLINT>(field.Index() + 1);
    const size_t terminator = cType == SQL_C_CHAR ? 1 : cType == SQL_C_WCHAR ? sizeof(SQLWCHAR) : 0;
    out->clear();
    Position(field);
    for (;;) {
        SQLLEN indicator = 0;
        SQLRETURN rc = SQLGetData(m_stmt, col, cType, m_chunk.data(), static_cast<SQLLEN>(m_chunk.size()), &indicator);
        if (rc == SQL_NO_DATA)
            return true;  // every part has been read
        if (!OdbcOk(rc))
            Fail(field);
        if (indicator == SQL_NULL_DATA)
            return false;
        // Room for whole characters only, so a wide character never splits.
        const size_t room = (m_chunk.size() - terminator) / std::max<size_t>(terminator, 1) *
                            std::max<size_t>(terminator, 1);
        const bool more = rc == SQL_SUCCESS_WITH_INFO &&
                          (indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) > room);
        if (!more) {
            out->append(m_chunk.data(), std::min(static_cast<size_t>(indicator), room));
            return true;
        }
        out->append(m_chunk.data(), room);
        // The rest is of known length: fetch it in one more call.
        if (indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) > room) {
            const size_t rest = static_cast<size_t>(indicator) - room;
            if (rest + terminator > m_chunk.size())
                m_chunk.resize(rest + terminator);
        } else if (m_chunk.size() < (1u << 20)) {
            m_chunk.resize(m_chunk.size() * 2);
        }
    }
}

bool AdoValueReader::ReadWide(const AdoField& field, std::string* out)
{
    std::string utf16;
    if (!ReadLong(field, SQL_C_WCHAR, &utf16))
        return false;
    AdoWideToCodePage(utf16.data(), utf16.size(), out);
    return true;
}

bool AdoValueReader::ReadFixed(const AdoField& field, SQLSMALLINT cType, void* target, SQLLEN size)
{
    SQLLEN indicator = 0;
    Position(field);
    SQLRETURN rc = SQLGetData(m_stmt, static_cast<SQLUSMALLINT>(field.Index() + 1), cType, target, size, &indicator);
    if (!OdbcOk(rc))
        Fail(field);
    return indicator != SQL_NULL_DATA;
}

bool AdoValueReader::ReadBound(const AdoField& field, size_t k, AdoVariant& target)
{
    const SQLLEN indicator = m_indicators[k * m_block + m_row];
    if (indicator == SQL_NULL_DATA) {
        target = AdoVariant::Null();
        return true;
    }
    // SQL_NO_TOTAL is negative too: such a value is read again.
    if (indicator < 0 || indicator > m_boundRoom[k])
        return false;
    const bool wide = m_boundWide[k] != 0;
    const char* text = m_rowBuffer.data() + m_boundOffset[k] + m_row * static_cast<size_t>(m_boundSize[k]);
    const size_t length = static_cast<size_t>(indicator);
    switch (field.ValueKind()) {
    case AdoVarType::String:
        if (wide) {
            AdoWideToCodePage(text, length, &target.ResetText(AdoVarType::String));
        } else {
            std::string& bytes = target.ResetText(AdoVarType::String);
            bytes.append(text, length);  // emptied by ResetText
            if (m_textMode == AdoTextMode::Utf8)
                AdoUtf8ToCodePage(&bytes);
        }
        return true;
    case AdoVarType::ByteArray:
        target.ResetText(AdoVarType::ByteArray).append(text, length);
        return true;
    case AdoVarType::Decimal:
    case AdoVarType::Currency:
        target = DecimalFromText(field.Name(), field.ValueKind(), std::string(text, length));
        return true;
    default:
        break;
    }
    const AdoTextParse parse = AdoParseFixedText(field.ValueKind(), field.SqlType(), text, length, &target);
    if (parse == AdoTextParse::Parsed)
        return true;
    const std::string shown(text, length);
    if (parse == AdoTextParse::OutOfRange)
        ConversionFailed(field.Name(), "out of range: \"" + shown + "\"");
    if (field.ValueKind() == AdoVarType::Date && AdoDateArrivesAsText(field.SqlType())) {
        target = ParsedOrFailed(field, shown);
        return true;
    }
    // Another text form: the driver converts it. A driver that answers
    // NULL for a value that is there could not convert it, and a value
    // must never silently become empty; an empty (or blank) text in a
    // number or date column is the source's way of writing "no value".
    target = ReadFixedValue(field);
    if (target.IsNull() && !IsBlank(shown))
        ConversionFailed(field.Name(), "not a value of the column's type: \"" + shown + "\"");
    return true;
}

AdoVariant AdoValueReader::DecimalFromText(const std::string& column, AdoVarType kind, const std::string& text)
{
    size_t significant = 0;
    bool leading = true;
    for (char c : text) {
        if (c == 'e' || c == 'E')
            break;
        if (c < '0' || c > '9')
            continue;
        if (c != '0')
            leading = false;
        if (!leading)
            ++significant;
    }
    // An exact decimal holds 28 to 29 digits; a DECIMAL(38) value beyond
    // that keeps its text whole rather than lose digits.
    if (kind == AdoVarType::Decimal && significant > 28 && IsPlainNumber(text))
        return AdoVariant::String(text);
    AdoDecimal d;
    std::string why;
    if (!AdoDecimal::FromText(text, &d, &why))
        ConversionFailed(column, why);
    if (kind == AdoVarType::Decimal)
        return AdoVariant::Decimal(d);
    // Currency has four decimals; the exact value is scaled, rounding a
    // fifth decimal half away from zero.
    unsigned __int128 m = (static_cast<unsigned __int128>(d.hi32) << 64) | d.lo64;
    int scale = d.scale;
    for (; scale < 4; ++scale) {
        if (m > (static_cast<unsigned __int128>(1) << 100))
            ConversionFailed(column, "currency value out of range");
        m *= 10;
    }
    for (; scale > 4; --scale)
        m = scale == 5 ? (m + 5) / 10 : m / 10;
    if (m > static_cast<unsigned __int128>(INT64_MAX))
        ConversionFailed(column, "currency value out of range");
    const int64_t v = static_cast<int64_t>(m);
    return AdoVariant::Currency(d.negative ? -v : v);
}

AdoVariant AdoValueReader::ParsedOrFailed(const AdoField& field, const std::string& text)
{
    AdoVariant value;
    if (AdoParseFixedText(field.ValueKind(), field.SqlType(), text.data(), text.size(), &value) ==
        AdoTextParse::Parsed)
        return value;
    if (IsBlank(text))
        return AdoVariant::Null();
    ConversionFailed(field.Name(), "not a value of the column's type: \"" + text + "\"");
}

AdoVariant AdoValueReader::ReadFixedValue(const AdoField& field)
{
    switch (field.ValueKind()) {
    case AdoVarType::I1:
    case AdoVarType::I2:
    case AdoVarType::I4:
    case AdoVarType::I8:
    case AdoVarType::Int: {
        SQLBIGINT v = 0;
        if (!ReadFixed(field, SQL_C_SBIGINT, &v, sizeof v))
            return AdoVariant::Null();
        return AdoVariant::Integer(AdoWidenSigned(field.ValueKind(), v), v);
    }
    case AdoVarType::UI1:
    case AdoVarType::UI2:
    case AdoVarType::UI4:
    case AdoVarType::UI8:
    case AdoVarType::UInt: {
        SQLUBIGINT v = 0;
        if (!ReadFixed(field, SQL_C_UBIGINT, &v, sizeof v))
            return AdoVariant::Null();
        return AdoVariant::Unsigned(AdoWidenUnsigned(field.ValueKind(), v), v);
    }
    case AdoVarType::R4:
    case AdoVarType::R8: {
        SQLDOUBLE v = 0;
        if (!ReadFixed(field, SQL_C_DOUBLE, &v, sizeof v))
            return AdoVariant::Null();
        return AdoVariant::Real(field.ValueKind(), v);
    }
    case AdoVarType::Bool: {
        SQLBIGINT v = 0;
        if (!ReadFixed(field, SQL_C_SBIGINT, &v, sizeof v))
            return AdoVariant::Null();
        return AdoVariant::Boolean(v != 0);
    }
    case AdoVarType::Decimal:
    case AdoVarType::Currency: {
        std::string text;
        if (!ReadLong(field, SQL_C_CHAR, &text))
            return AdoVariant::Null();
        return DecimalFromText(field.Name(), field.ValueKind(), text);
    }
    case AdoVarType::Date:
        return ReadDate(field);
    default: {
        std::string text;
        if (!ReadLong(field, SQL_C_CHAR, &text))
            return AdoVariant::Null();
        return AdoVariant::String(std::move(text));
    }
    }
}

AdoVariant AdoValueReader::ReadDate(const AdoField& field)
{
    // Types the driver sends as text (SQL Server's time and
    // datetimeoffset, dates of older protocol versions) are parsed here.
    if (AdoDateArrivesAsText(field.SqlType())) {
        std::string text;
        if (!ReadLong(field, SQL_C_CHAR, &text))
            return AdoVariant::Null();
        return ParsedOrFailed(field, text);
    }
    AdoDateTime t;
    if (field.SqlType() == SQL_TYPE_TIME || field.SqlType() == SQL_TIME) {
        // A time of day alone sits on day 0 of the day count.
        SQL_TIME_STRUCT v{};
        if (!ReadFixed(field, SQL_C_TYPE_TIME, &v, sizeof v))
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
    if (!ReadFixed(field, SQL_C_TYPE_TIMESTAMP, &v, sizeof v))
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
