// One declared column of the table being written: what it shows (a query
// field through a value function, a literal, or a line break) and how.
#pragma once

#include "util/XString.h"

#include <functional>

class DataAccessField;

// Returns the text of the current column for the current row. It reads the
// column through PDEWriter::CurrentColumn(), so one function serves many
// columns.
using ValueFunction = std::function<XString()>;

// Returns true to write the current row.
using RowFilter = std::function<bool()>;

class ExportColumn
{
public:
    // What a column without value function does for each row.
    enum Command {
        NoOutput = 0,    // query-only: fetched, never written
        WriteText = 1,   // the column text is the field value (a literal)
        EndLine = 2,     // ends the physical line here
        FieldHook = 4,   // hands the query field to PDEWriter::FieldHook
    };

    ExportColumn(DataAccessField* queryField, const XString& text, ValueFunction valueFunction,
                 int command)
        : m_queryField(queryField), m_text(text), m_valueFunction(std::move(valueFunction)),
          m_command(command) {}

    // The data-access field, or nullptr for a literal column. Not owned.
    DataAccessField* GetQueryField() const { return m_queryField; }
    // The source field name it was declared with, or the literal value.
    const XString& GetText() const { return m_text; }
    const ValueFunction& GetValueFunction() const { return m_valueFunction; }
    bool HasValueFunction() const { return static_cast<bool>(m_valueFunction); }
    int GetCommand() const { return m_command; }
    // The value is the clean text of the query field (the data access's
    // TextValue), which a data access may write straight into the line.
    bool IsPlainText() const { return m_plainText; }
    void SetPlainText() { m_plainText = true; }

private:
    DataAccessField* m_queryField;
    XString m_text;
    ValueFunction m_valueFunction;
    int m_command;
    bool m_plainText = false;
};

class DataAccessTable;

// The custom field of the importer that a column fills, as the header file
// lists it: key, title, type and format.
struct CustomFieldDeclaration
{
    XString key;
    XString title;
    XString type;
    XString format;
};

// One column as a table declares it, each part named:
//   ColumnDeclaration("FeeId").From(fees).Value(...).Header("FeeKey").Required()
// `text` is the source column read from the `From` table, or without one the
// literal a command writes. A part left out is absent: no query field, no
// value function, no header field, no custom field, no command; an
// optional source column.
struct ColumnDeclaration
{
    explicit ColumnDeclaration(XString sourceOrText) : text(std::move(sourceOrText)) {}

    ColumnDeclaration& From(DataAccessTable* queryTable) { table = queryTable; return *this; }
    ColumnDeclaration& Value(ValueFunction function) { value = std::move(function); return *this; }
    ColumnDeclaration& Header(XString name) { header = std::move(name); return *this; }
    // A missing source column fails the run instead of leaving the column out.
    ColumnDeclaration& Required(bool isRequired = true) { required = isRequired; return *this; }
    ColumnDeclaration& Custom(CustomFieldDeclaration field) { custom = std::move(field); return *this; }
    // What the column does without a value function (ExportColumn::Command).
    ColumnDeclaration& Does(ExportColumn::Command what) { command = what; return *this; }
    // The value is the source column's clean text, which the row source may
    // write straight into the line (RowSource::WritePlainText).
    ColumnDeclaration& PlainText() { plainText = true; return *this; }

    XString text;
    DataAccessTable* table = nullptr;
    ValueFunction value;
    XString header;
    bool required = false;
    CustomFieldDeclaration custom;
    ExportColumn::Command command = ExportColumn::NoOutput;
    bool plainText = false;
};
