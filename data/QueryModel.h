// QueryModel: the description of one SELECT that the data access object holds
// while an export table is declared: the tables (each under an alias), the
// selected fields (each at the position of its result column), the
// conditions and the sort order. ODBCDataAccess owns every element it makes;
// the statement builder turns the description into SQL text.
#pragma once

#include <cstdint>

#include "util/XString.h"

// A table of a query, as the export writer sees it.
class DataAccessTable
{
public:
    virtual ~DataAccessTable() = default;
    // The table's SQL name.
    virtual XString GetName() const = 0;
};

// A selected field of a query, as the export writer sees it.
class DataAccessField
{
public:
    virtual ~DataAccessField() = default;
    // The column name.
    virtual XString GetName() const = 0;
};

class ODBCTable : public DataAccessTable
{
public:
    // An empty alias takes the SQL name, so the table is written once, unaliased.
    ODBCTable(const XString& sqlName, const XString& logicalName, const XString& alias)
        : m_sqlName(sqlName), m_logicalName(logicalName), m_alias(alias.IsEmpty() ? sqlName : alias) {}

    XString GetName() const override { return m_sqlName; }
    // The text written in the FROM list.
    const XString& GetSqlName() const { return m_sqlName; }
    // The name the existence checks are asked about.
    const XString& GetLogicalName() const { return m_logicalName; }
    // Written after the table and before each of its fields.
    const XString& GetAlias() const { return m_alias; }
    // Read in a DISTINCT query as the distinct rows of the columns the query
    // names of this table (a derived table) instead of the table itself: the
    // same result rows, without first joining every duplicate of those
    // columns (a calendar's days, say) only for DISTINCT to drop them again.
    void SetDistinctRows(bool distinctRows) { m_distinctRows = distinctRows; }
    bool GetDistinctRows() const { return m_distinctRows; }

private:
    XString m_sqlName;
    XString m_logicalName;
    XString m_alias;
    bool m_distinctRows = false;
};

class ODBCField : public DataAccessField
{
public:
    // With position 0 and not added to a query this is a condition-only
    // field: written in WHERE only, owned by whoever made it.
    ODBCField(ODBCTable* table, const XString& name, int32_t position)
        : m_table(table), m_name(name), m_position(position) {}
    ODBCField(ODBCTable* table, const XString& name, int32_t position, const XString& alias,
              const XString& prefix, const XString& suffix)
        : m_table(table), m_name(name), m_alias(alias), m_position(position), m_prefix(prefix),
          m_suffix(suffix) {}

    XString GetName() const override { return m_name; }
    ODBCTable* GetTable() const { return m_table; }
    // Empty, or the name written after " as " (and alone in ORDER BY).
    const XString& GetAlias() const { return m_alias; }
    // 0-based column of the field in the result.
    int32_t GetPosition() const { return m_position; }
    // Expression text written before / after the field ("case", "when ...").
    const XString& GetPrefix() const { return m_prefix; }
    const XString& GetSuffix() const { return m_suffix; }

private:
    ODBCTable* m_table;  // not owned
    XString m_name;
    XString m_alias;
    int32_t m_position;
    XString m_prefix;
    XString m_suffix;
};

class ODBCCondition
{
public:
    // Value form: the right side is finished SQL literal text, written unchanged.
    ODBCCondition(const XString& conjunction, ODBCField* field, const XString& op, const XString& value,
                  int32_t level)
        : m_conjunction(conjunction), m_field(field), m_operator(op), m_value(value), m_level(level) {}
    // Field form: the right side is another field.
    ODBCCondition(const XString& conjunction, ODBCField* field, const XString& op, ODBCField* secondField,
                  int32_t level)
        : m_conjunction(conjunction), m_field(field), m_operator(op), m_secondField(secondField),
          m_level(level) {}

    // Written before every condition but the first ("AND", "OR", "AND (").
    const XString& GetConjunction() const { return m_conjunction; }
    ODBCField* GetField() const { return m_field; }
    const XString& GetOperator() const { return m_operator; }
    // nullptr in the value form.
    ODBCField* GetSecondField() const { return m_secondField; }
    const XString& GetValue() const { return m_value; }
    // Parenthesis nesting level.
    int32_t GetLevel() const { return m_level; }

private:
    XString m_conjunction;
    ODBCField* m_field;                   // not owned
    XString m_operator;
    ODBCField* m_secondField = nullptr;   // not owned
    XString m_value;
    int32_t m_level;
};

class ODBCOrder
{
public:
    ODBCOrder(ODBCField* field, bool descending) : m_field(field), m_descending(descending) {}

    ODBCField* GetField() const { return m_field; }
    bool IsDescending() const { return m_descending; }

private:
    ODBCField* m_field;  // not owned
    bool m_descending;
};
