// The query description of ODBCDataAccess and the statement builder that
// turns it into one SELECT text. The text is built by plain concatenation
// with fixed spacing, because it is logged and compared as it is; every
// literal of a condition arrives as finished SQL text from its caller.
#include "data/ODBCDataAccess.h"

#include "data/DatabaseTypes.h"
#include "util/XException.h"

#include <vector>

namespace {
const char* const kAddCondition = "ODBCDataAccess::AddCondition";

// A date counts as set unless it is null or day 0 (1 January 1600).
bool IsDateSet(const XDate& date)
{
    return date.GetDayNumber() != -1 && date.GetDayNumber() != 0;
}
}  // namespace

void ODBCDataAccess::ClearQuery()
{
    m_orders.clear();
    m_conditions.clear();
    m_fields.clear();
    m_tables.clear();
    m_fieldCounter = 0;
}

ODBCTable* ODBCDataAccess::AddTable(const XString& name, const XString& alias, bool required,
                                    const XString& sourceText)
{
    if ((m_options & DataAccessOption::VerifySchema) && !TableExists(name)) {
        const XString message = "Table does not exist : " + name;
        if (!required) {
            Log(LogLevel::Debug, message);
            return nullptr;
        }
        LogAndThrow(LogLevel::Critical, message);
    }
    const XString sqlName = sourceText.IsEmpty() ? name : sourceText;
    m_tables.push_back(std::make_unique<ODBCTable>(sqlName, name, alias));
    return m_tables.back().get();
}

ODBCField* ODBCDataAccess::AddQueryField(DataAccessTable* table, const XString& name, bool required)
{
    auto* odbcTable = dynamic_cast<ODBCTable*>(table);
    if (!odbcTable) {
        const XString message = "Table was NULL when searching for: " + name;
        if (!required) {
            Log(LogLevel::Debug, message);
            return nullptr;
        }
        LogAndThrow(LogLevel::Critical, message);
    }

    if (!(m_options & DataAccessOption::VerifySchema) || FieldExists(odbcTable->GetLogicalName(), name)) {
        m_fields.push_back(std::make_unique<ODBCField>(odbcTable, name, m_fieldCounter++));
        return m_fields.back().get();
    }

    const XString message = "Field does not exist : " + name + " in table " + odbcTable->GetSqlName();
    Log(required ? LogLevel::Critical : LogLevel::Debug, message);
    if (m_options & DataAccessOption::DumpOnMissingField)
        LogTableContents(odbcTable);
    if (required)
        LogAndThrow(LogLevel::Critical, "Required " + message);
    return nullptr;
}

ODBCField* ODBCDataAccess::AddFunctionField(const XString& prefix, ODBCField* baseField, const XString& suffix,
                                            const XString& alias)
{
    if (!baseField)
        LogAndThrow(LogLevel::Critical, "Base field NULL in ODBCDataAccess::AddFunctionField.");
    m_fields.push_back(std::make_unique<ODBCField>(baseField->GetTable(), baseField->GetName(), m_fieldCounter++,
                                                   alias, prefix, suffix));
    return m_fields.back().get();
}

ODBCCondition* ODBCDataAccess::AddCondition(const XString& conjunction, ODBCField* field, const XString& op,
                                            const XString& value, int32_t level)
{
    if (!field) {
        Log(LogLevel::Critical, "Primary field NULL in XODBC::AddCondition.", kAddCondition);
        throw XException("Primary field NULL in XODBC::AddCondition.");
    }
    m_conditions.push_back(std::make_unique<ODBCCondition>(conjunction, field, op, value, level));
    return m_conditions.back().get();
}

ODBCCondition* ODBCDataAccess::AddCondition(const XString& conjunction, ODBCField* field, const XString& op,
                                            ODBCField* secondField, int32_t level)
{
    if (!field) {
        Log(LogLevel::Critical, "Primary field NULL in XODBC::AddCondition.", kAddCondition);
        throw XException("Primary field NULL in XODBC::AddCondition.");
    }
    if (!secondField) {
        const XString message = "Second field with " + field->GetName() + "is NULL in XODBC::AddCondition.";
        Log(LogLevel::Critical, message, kAddCondition);
        throw XException(message.c_str());
    }
    m_conditions.push_back(std::make_unique<ODBCCondition>(conjunction, field, op, secondField, level));
    return m_conditions.back().get();
}

ODBCOrder* ODBCDataAccess::AddOrder(ODBCField* field, bool descending)
{
    if (!field) {
        Log(LogLevel::Warning, "Field NULL in ODBC::AddOrder.");
        return nullptr;
    }
    m_orders.push_back(std::make_unique<ODBCOrder>(field, descending));
    return m_orders.back().get();
}

void ODBCDataAccess::FilterAttendance(const XDate& from, const XDate& to)
{
    if (!m_changeDateField) {
        Log(LogLevel::Progress, "FilterAttendance: There is no change date set! So cannot filter.");
        throw XException("FilterAttendance: There is no change date set! So cannot filter.");
    }
    // The previous range's conditions are the last ones added.
    for (int32_t i = 0; i < m_filterConditionCount && !m_conditions.empty(); ++i)
        m_conditions.pop_back();
    m_filterConditionCount = 0;

    struct Bound { const char* op; XString value; };
    std::vector<Bound> bounds;
    if (IsDateSet(from))
        bounds.push_back({">=", SQLDate(from)});
    if (IsDateSet(to))
        bounds.push_back({"<=", SQLDate(to)});
    if (bounds.empty())
        return;
    if (!m_attendanceDateField) {
        for (const Bound& bound : bounds) {
            AddCondition("AND", m_changeDateField, bound.op, bound.value, 0);
            ++m_filterConditionCount;
        }
        return;
    }
    // AND ((change in range) OR (date in range)): the parentheses ride on
    // the conjunctions and the last value, as the condition list holds no
    // groups of its own.
    for (ODBCField* field : {m_changeDateField, m_attendanceDateField}) {
        for (size_t i = 0; i < bounds.size(); ++i) {
            XString conjunction = i > 0 ? "AND" : field == m_changeDateField ? "AND ((" : "OR (";
            XString value = bounds[i].value;
            if (i + 1 == bounds.size())
                value += field == m_changeDateField ? ")" : "))";
            AddCondition(conjunction, field, bounds[i].op, value, 0);
            ++m_filterConditionCount;
        }
    }
}

void ODBCDataAccess::ClearFilter()
{
    m_changeDateField = nullptr;
    m_attendanceDateField = nullptr;
    m_filterConditionCount = 0;
}

XString ODBCDataAccess::FieldText(const ODBCField* field) const
{
    const XString name = m_quoteFieldNames ? field->GetName().Quoted() : field->GetName();
    return field->GetTable()->GetAlias() + "." + name;
}

XString ODBCDataAccess::TableText(const ODBCTable& table) const
{
    XString text = m_quoteTableNames ? table.GetSqlName().Quoted() : table.GetSqlName();
    if (table.GetAlias() != table.GetSqlName())
        text += " " + table.GetAlias();
    if (m_databaseType == DatabaseType::MSSQL)
        text += " WITH (NOLOCK) ";
    return text;
}

XString ODBCDataAccess::FromText(const ODBCTable& table) const
{
    // Without DISTINCT the duplicates are part of the result.
    if (!table.GetDistinctRows() || !m_distinct)
        return TableText(table);

    // Every column of the table that the statement names, once, so the
    // outer statement reads exactly what it read from the table itself.
    std::vector<const ODBCField*> columns;
    auto use = [&](const ODBCField* field) {
        if (!field || field->GetTable() != &table)
            return;
        for (const ODBCField* column : columns) {
            if (column->GetName() == field->GetName())
                return;
        }
        columns.push_back(field);
    };
    for (const auto& field : m_fields)
        use(field.get());
    for (const auto& condition : m_conditions) {
        use(condition->GetField());
        use(condition->GetSecondField());
    }
    for (const auto& order : m_orders)
        use(order->GetField());
    if (columns.empty())
        return TableText(table);

    XString text = "(SELECT DISTINCT ";
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i > 0)
            text += ", ";
        text += FieldText(columns[i]);
    }
    // The inner alias is the outer one, so the column texts read the same
    // inside and outside.
    return text + " FROM " + TableText(table) + ") " + table.GetAlias();
}

XString ODBCDataAccess::BuildXBasePath()
{
    XString path = m_dataSource;
    if (m_tables.size() > 1) {
        Log(LogLevel::Debug, "Cannot use more than 1 table in XBase query");
        throw XException("Cannot use more than 1 table in XBase query");
    }
    if (!m_tables.empty())
        path += m_tables.front()->GetSqlName() + ".dbf";
    return path;
}

XString ODBCDataAccess::BuildQuery()
{
    if (m_databaseType == DatabaseType::DBaseXBase)
        return BuildXBasePath();

    if (m_databaseType == DatabaseType::Access)
        Log(LogLevel::Warning, "Joins may not work for this DB Type: " + GetTypeName(), "ODBCDataAccess::BuildQuery");

    XString q = "SELECT ";
    if (m_distinct)
        q += "DISTINCT ";

    for (size_t i = 0; i < m_fields.size(); ++i) {
        const ODBCField& field = *m_fields[i];
        if (i > 0)
            q += ", ";
        if (!field.GetPrefix().IsEmpty())
            q += field.GetPrefix() + " ";
        q += FieldText(&field);
        if (!field.GetPrefix().IsEmpty())
            q += field.GetSuffix().IsEmpty() ? XString(")") : " " + field.GetSuffix();
        if (!field.GetAlias().IsEmpty())
            q += " as " + field.GetAlias();
    }
    Log(LogLevel::Proprietary, "BuildQuery: Fields Finished:\n" + q);

    q += " FROM ";
    for (size_t i = 0; i < m_tables.size(); ++i) {
        if (i > 0)
            q += ", ";
        q += FromText(*m_tables[i]);
    }
    Log(LogLevel::Proprietary, "BuildQuery: Tables Finished:\n" + q);
    Log(LogLevel::Proprietary, "BuildQuery: Join Count: 0:\n" + q);
    Log(LogLevel::Proprietary, "BuildQuery: Joins Finished:\n" + q);

    q += " ";
    int32_t previousLevel = 0;
    int32_t openCount = 0;
    for (size_t i = 0; i < m_conditions.size(); ++i) {
        const ODBCCondition& condition = *m_conditions[i];
        const bool first = i == 0;
        q += first ? XString(" WHERE ") : " " + condition.GetConjunction() + " ";
        if (previousLevel < condition.GetLevel()) {
            q += "(";
            ++openCount;
        }
        if (first && condition.GetConjunction().GetAt(0) == '(')
            q += condition.GetConjunction() + " ";
        q += FieldText(condition.GetField()) + " ";
        q += condition.GetOperator() + " ";
        q += condition.GetSecondField() ? FieldText(condition.GetSecondField()) : condition.GetValue();
        if (previousLevel > condition.GetLevel()) {
            q += ")";
            --openCount;
        }
        previousLevel = condition.GetLevel();
        Log(LogLevel::Proprietary, "BuildQuery: Conditions:\n" + q);
    }
    for (; openCount > 0; --openCount)
        q += ")";
    Log(LogLevel::Proprietary, "BuildQuery: Conditions Finished:\n" + q);

    for (size_t i = 0; i < m_orders.size(); ++i) {
        const ODBCOrder& order = *m_orders[i];
        q += i == 0 ? " ORDER BY " : ", ";
        const ODBCField* field = order.GetField();
        q += field->GetAlias().IsEmpty() ? FieldText(field) : field->GetAlias();
        if (order.IsDescending())
            q += " DESC";
    }
    Log(LogLevel::Proprietary, "BuildQuery: Orders Finished:\n" + q);
    Log(LogLevel::Proprietary, "BuildQuery Finished:" + q);
    return q;
}
