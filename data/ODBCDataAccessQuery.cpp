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

// The members of a group that write any text: its conditions and the
// groups that hold one.
std::vector<const ODBCConditionGroup::Member*> WrittenMembers(const ODBCConditionGroup& group)
{
    std::vector<const ODBCConditionGroup::Member*> written;
    for (const ODBCConditionGroup::Member& member : group.Members()) {
        if (member.condition || member.group->HasConditions())
            written.push_back(&member);
    }
    return written;
}

// A date counts as set unless it is null or day 0 (1 January 1600).
bool IsDateSet(const XDate& date)
{
    return date.GetDayNumber() != -1 && date.GetDayNumber() != 0;
}
}  // namespace

ODBCConditionGroup& ODBCConditionGroup::Add(ODBCField* field, const XString& op, const XString& value)
{
    if (!field)
        throw XException("Primary field NULL in XODBC::AddCondition.");
    m_members.push_back(Member{std::make_unique<ODBCCondition>(field, op, value), nullptr});
    return *this;
}

ODBCConditionGroup& ODBCConditionGroup::Add(ODBCField* field, const XString& op, ODBCField* secondField)
{
    if (!field)
        throw XException("Primary field NULL in XODBC::AddCondition.");
    if (!secondField) {
        const XString message = "Second field with " + field->GetName() + "is NULL in XODBC::AddCondition.";
        throw XException(message.c_str());
    }
    m_members.push_back(Member{std::make_unique<ODBCCondition>(field, op, secondField), nullptr});
    return *this;
}

ODBCConditionGroup& ODBCConditionGroup::AddGroup(Join join)
{
    m_members.push_back(Member{nullptr, std::make_unique<ODBCConditionGroup>(join)});
    return *m_members.back().group;
}

bool ODBCConditionGroup::HasConditions() const
{
    for (const Member& member : m_members) {
        if (member.condition || member.group->HasConditions())
            return true;
    }
    return false;
}

void ODBCConditionGroup::RemoveLast(size_t count)
{
    m_members.resize(m_members.size() > count ? m_members.size() - count : 0);
}

void ODBCConditionGroup::ForEachCondition(const std::function<void(const ODBCCondition&)>& visit) const
{
    for (const Member& member : m_members) {
        if (member.condition)
            visit(*member.condition);
        else
            member.group->ForEachCondition(visit);
    }
}

void ODBCDataAccess::ClearQuery()
{
    m_orders.clear();
    m_where.Clear();
    m_filterConditionCount = 0;  // the range's conditions went with the rest
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

void ODBCDataAccess::AddCondition(ODBCField* field, const XString& op, const XString& value)
{
    try {
        m_where.Add(field, op, value);
    } catch (const XException& error) {
        Log(LogLevel::Critical, error.what(), kAddCondition);
        throw;
    }
}

void ODBCDataAccess::AddCondition(ODBCField* field, const XString& op, ODBCField* secondField)
{
    try {
        m_where.Add(field, op, secondField);
    } catch (const XException& error) {
        Log(LogLevel::Critical, error.what(), kAddCondition);
        throw;
    }
}

ODBCConditionGroup& ODBCDataAccess::AddConditionGroup(ODBCConditionGroup::Join join)
{
    return m_where.AddGroup(join);
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
    m_where.RemoveLast(m_filterConditionCount);
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
            m_where.Add(m_changeDateField, bound.op, bound.value);
            ++m_filterConditionCount;
        }
        return;
    }
    // (change date in range) OR (attendance date in range).
    ODBCConditionGroup& either = m_where.AddGroup(ODBCConditionGroup::Join::AnyOf);
    ++m_filterConditionCount;
    for (ODBCField* field : {m_changeDateField, m_attendanceDateField}) {
        ODBCConditionGroup& range = either.AddGroup(ODBCConditionGroup::Join::AllOf);
        for (const Bound& bound : bounds)
            range.Add(field, bound.op, bound.value);
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
    m_where.ForEachCondition([&](const ODBCCondition& condition) {
        use(condition.GetField());
        use(condition.GetSecondField());
    });
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

void ODBCDataAccess::AppendConditionMember(XString& q, const ODBCConditionGroup::Member& member)
{
    if (member.condition) {
        const ODBCCondition& condition = *member.condition;
        q += FieldText(condition.GetField()) + " " + condition.GetOperator() + " ";
        q += condition.GetSecondField() ? FieldText(condition.GetSecondField()) : condition.GetValue();
        return;
    }
    // "( a OR b)", "(( a AND b) OR ( c AND d))": the spacing the statement
    // has always had, as statements are logged and compared as text. The
    // text so far is logged after each member but a group's last, which is
    // logged with the parenthesis that ends it.
    const ODBCConditionGroup& group = *member.group;
    const std::vector<const ODBCConditionGroup::Member*> members = WrittenMembers(group);
    q += "(";
    for (size_t i = 0; i < members.size(); ++i) {
        if (i > 0)
            q += XString(" ") + group.Conjunction() + " ";
        else if (members[i]->condition)
            q += " ";
        AppendConditionMember(q, *members[i]);
        if (i + 1 < members.size())
            Log(LogLevel::Proprietary, "BuildQuery: Conditions:\n" + q);
    }
    q += ")";
}

XString ODBCDataAccess::BuildQuery()
{
    if (FileDatabaseStep(FileStep::Query))
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
    const std::vector<const ODBCConditionGroup::Member*> members = WrittenMembers(m_where);
    for (size_t i = 0; i < members.size(); ++i) {
        q += i == 0 ? " WHERE " : " AND ";
        AppendConditionMember(q, *members[i]);
        Log(LogLevel::Proprietary, "BuildQuery: Conditions:\n" + q);
    }
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
