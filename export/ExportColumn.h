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
