// QueryModel: the description of one SELECT that the data access object holds
// while an export table is declared: the tables (each under an alias), the
// selected fields (each at the position of its result column), the
// conditions and the sort order. ODBCDataAccess owns every element it makes;
// the statement builder turns the description into SQL text.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

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

// One comparison of a WHERE clause: "field op value", where the value is
// finished SQL literal text written unchanged, or "field op second field".
class ODBCCondition
{
public:
    ODBCCondition(ODBCField* field, const XString& op, const XString& value)
        : m_field(field), m_operator(op), m_value(value) {}
    ODBCCondition(ODBCField* field, const XString& op, ODBCField* secondField)
        : m_field(field), m_operator(op), m_secondField(secondField) {}

    ODBCField* GetField() const { return m_field; }
    const XString& GetOperator() const { return m_operator; }
    // nullptr in the value form.
    ODBCField* GetSecondField() const { return m_secondField; }
    const XString& GetValue() const { return m_value; }

private:
    ODBCField* m_field;                   // not owned
    XString m_operator;
    ODBCField* m_secondField = nullptr;   // not owned
    XString m_value;
};

// Conditions and nested groups joined by one conjunction: all of them must
// hold, or any one of them. The query's own conditions are an all-of group;
// a nested group is written in parentheses. Null fields are refused with an
// XException.
class ODBCConditionGroup
{
public:
    enum class Join { AllOf, AnyOf };

    explicit ODBCConditionGroup(Join join) : m_join(join) {}

    ODBCConditionGroup& Add(ODBCField* field, const XString& op, const XString& value);
    ODBCConditionGroup& Add(ODBCField* field, const XString& op, ODBCField* secondField);
    // A nested group, added after the members so far; filled by the caller.
    ODBCConditionGroup& AddGroup(Join join);

    // "AND" or "OR".
    const char* Conjunction() const { return m_join == Join::AllOf ? "AND" : "OR"; }
    // One of a condition and a group per member.
    struct Member
    {
        std::unique_ptr<ODBCCondition> condition;
        std::unique_ptr<ODBCConditionGroup> group;
    };
    const std::vector<Member>& Members() const { return m_members; }
    // Whether a condition is in it, nested ones included: a group without
    // one is written as nothing, not as "()".
    bool HasConditions() const;
    // Drops the last `count` members (the most recently added first).
    void RemoveLast(size_t count);
    void Clear() { m_members.clear(); }
    // Calls `visit` for every condition, nested ones included, in order.
    void ForEachCondition(const std::function<void(const ODBCCondition&)>& visit) const;

private:
    Join m_join;
    std::vector<Member> m_members;
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
