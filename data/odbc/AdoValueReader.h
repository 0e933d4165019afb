// AdoValueReader: turns the values of a fetched row into AdoVariants. It
// decides, once per statement, how each column travels from the driver
// (bound buffers or SQLGetData, text as bytes or as wide characters) and
// decodes what arrives: numbers and dates from the driver's text, exact
// decimals and currency, long values in chunks, wide text converted to the
// bridge's 8-bit code page. The recordset only runs statements and fetches
// rows; every decision about a value's form is made here.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "data/odbc/AdoField.h"
#include "data/odbc/AdoVariant.h"

// How character columns are read.
enum class AdoTextMode {
    Bytes,  // SQL_C_CHAR: the bytes as the driver hands them over
    Wide,   // SQL_C_WCHAR, converted to the bridge's code page
    Utf8,   // SQL_C_CHAR in UTF-8 (a driver asked for it), converted likewise
};

class AdoValueReader
{
public:
    // Prepares reading the columns `fields` of `stmt`, after the statement
    // ran and its columns were described. Columns are bound to buffers only
    // when the driver lets SQLGetData read bound columns in any order
    // (SQL_GETDATA_EXTENSIONS of `dbc`) and `allowBinding` is set; otherwise
    // every value is read with SQLGetData, in column order.
    // Rows are fetched in blocks where the driver can (see BlockRows); a
    // `blockDivides` other than 0 is the number of rows the driver reads
    // from the server at a time, which each block then divides, so a
    // block never waits for more than one of the server's answers.
    void Prepare(SQLHSTMT stmt, SQLHDBC dbc, const AdoFields& fields, AdoTextMode textMode, bool allowBinding = true,
                 SQLULEN blockDivides = 0);
    // Forgets the statement and the bindings.
    void Reset();

    // Reads the fetched row's value of `field` into `target`, reusing the
    // target's text buffer. Throws AdoException with the driver's
    // diagnostics, or ConversionFailed for a value that is not of its
    // column's kind.
    void Read(const AdoField& field, AdoVariant& target);

    // True when the columns are bound (the fast path).
    bool Bound() const { return !m_boundSize.empty() && m_boundSize.front() != 0; }

    // Rows fetched at once: 1, or the block each SQLFetch fills where the
    // driver reads blocks (SQL_ATTR_ROW_ARRAY_SIZE).
    SQLULEN BlockRows() const { return m_block; }
    // Forgets the block in hand; call before each SQLFetch.
    void ClearBlock();
    // After a SQLFetch of a block: makes its first row the fetched one.
    // False when not every row the driver counted came whole (a row or the
    // fetch failed): the rows before the first failed one are still read.
    bool BeginBlock();
    // The next row of the block in hand; false when it has no more.
    bool NextInBlock();
    // Rows of the block in hand that can be read.
    SQLULEN UsableRows() const { return m_usable; }

    // An exact decimal or currency value from a driver's decimal text.
    // Digits beyond what an exact decimal holds (more than 28 significant
    // digits, as DECIMAL(38) allows) keep the value as its text, so none is
    // lost. Throws ConversionFailed naming `column` for a text that is no
    // number, or currency out of range.
    static AdoVariant DecimalFromText(const std::string& column, AdoVarType kind, const std::string& text);

private:
    [[noreturn]] void Fail(const AdoField& field);
    bool ReadLong(const AdoField& field, SQLSMALLINT cType, std::string* out);
    bool ReadWide(const AdoField& field, std::string* out);
    bool ReadFixed(const AdoField& field, SQLSMALLINT cType, void* target, SQLLEN size);
    bool ReadBound(const AdoField& field, size_t k, AdoVariant& target);
    AdoVariant ReadFixedValue(const AdoField& field);
    AdoVariant ReadDate(const AdoField& field);
    AdoVariant ParsedOrFailed(const AdoField& field, const std::string& text);
    bool IsWideText(const AdoField& field) const;
    SQLULEN StartBlocks(SQLHSTMT stmt, SQLULEN rows);
    void StopBlocks(SQLHSTMT stmt);
    void Position(const AdoField& field);

    SQLHSTMT m_stmt = SQL_NULL_HSTMT;
    AdoTextMode m_textMode = AdoTextMode::Bytes;
    std::vector<char> m_chunk = std::vector<char>(4096);
    std::vector<char> m_rowBuffer;
    std::vector<size_t> m_boundOffset;
    std::vector<SQLLEN> m_boundSize;  // all 0: nothing is bound
    // Per bound column: the longest value its buffer holds whole (bytes,
    // without a terminator), and whether it arrives as wide text.
    std::vector<SQLLEN> m_boundRoom;
    std::vector<char> m_boundWide;
    std::vector<SQLLEN> m_indicators;  // column by column, m_block each
    // The block: its size, the driver's count and row states, the rows
    // that can be read and the one being read (positioned for SQLGetData
    // or not yet).
    SQLULEN m_block = 1;
    SQLULEN m_fetched = 0;
    std::vector<SQLUSMALLINT> m_statuses;
    SQLULEN m_usable = 0;
    SQLULEN m_row = 0;
    bool m_positioned = false;
};
