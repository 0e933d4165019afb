// The query description and the SELECT text built from it, checked against
// literal statements. No database is involved: with option 0 nothing asks
// the database whether tables and fields exist.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "data/DatabaseTypes.h"
#include "data/ODBCDataAccess.h"
#include "util/XException.h"

namespace {

std::unique_ptr<ODBCDataAccess> MakeAccess(int type, bool quote = true)
{
    auto access = std::make_unique<ODBCDataAccess>(0, type);
    access->SetQuoteFieldNames(quote);
    access->SetQuoteTableNames(quote);
    return access;
}

TEST(BuildQueryTest, StaffPickListComesOutCharacterForCharacter)
{
    auto access = MakeAccess(DatabaseType::MSSQL);
    access->SetDistinct(true);
    // An earlier query: ClearQuery forgets it, keeps the distinct switch,
    // and the next field is at position 0 again.
    access->AddQueryField(access->AddTable("Old", "O", true), "Gone", true);
    access->ClearQuery();

    ODBCTable* staff = access->AddTable("Staff", "STF", true);
    ODBCField* id = access->AddQueryField(staff, "StaffID", true);
    ODBCField* last = access->AddQueryField(staff, "LastName", true);
    ODBCField* first = access->AddQueryField(staff, "FirstName", true);
    ODBCField* middle = access->AddQueryField(staff, "MiddleName", true);
    ODBCField* order1 = access->AddFunctionField("case", last, "when '' then 1 else 0 end", "order1");
    ODBCField* building = access->AddQueryField(staff, "_DistBldg", true);
    ODBCField* year = access->AddQueryField(staff, "_Year", true);
    access->AddCondition(building, "=", "'0101'");
    access->AddCondition(year, "=", "'2009'");
    for (ODBCField* field : {order1, last, first, middle, id})
        access->AddOrder(field);

    EXPECT_STREQ("SELECT DISTINCT STF.\"StaffID\", STF.\"LastName\", STF.\"FirstName\", STF.\"MiddleName\", "
                 "case STF.\"LastName\" when '' then 1 else 0 end as order1, STF.\"_DistBldg\", STF.\"_Year\" "
                 "FROM \"Staff\" STF WITH (NOLOCK)   WHERE STF.\"_DistBldg\" = '0101' AND STF.\"_Year\" = '2009' "
                 "ORDER BY order1, STF.\"LastName\", STF.\"FirstName\", STF.\"MiddleName\", STF.\"StaffID\"",
                 access->BuildQuery().c_str());
    // Positions are the select-list columns, from 0 after ClearQuery.
    EXPECT_EQ(0, id->GetPosition());
    EXPECT_EQ(4, order1->GetPosition());
    EXPECT_EQ(6, year->GetPosition());
}

TEST(BuildQueryTest, ConditionShapes)
{
    using Join = ODBCConditionGroup::Join;
    struct Case
    {
        const char* name;
        std::function<void(ODBCDataAccess&, ODBCField*)> build;
        const char* where;
    } const cases[] = {
        {"status group",
         [](ODBCDataAccess& a, ODBCField* code) {
             a.AddCondition(code, "=", "'0101'");
             a.AddConditionGroup(Join::AnyOf).Add(code, "=", "'A'").Add(code, "=", "'N'").Add(code, "=", "'U'");
         },
         " WHERE STD.\"Code\" = '0101' AND ( STD.\"Code\" = 'A' OR STD.\"Code\" = 'N' OR STD.\"Code\" = 'U')"},
        {"a group first",
         [](ODBCDataAccess& a, ODBCField* code) {
             a.AddConditionGroup(Join::AnyOf).Add(code, "=", "'A'").Add(code, "=", "'B'");
         },
         " WHERE ( STD.\"Code\" = 'A' OR STD.\"Code\" = 'B')"},
        {"groups in a group, then a condition after them",
         [](ODBCDataAccess& a, ODBCField* code) {
             ODBCConditionGroup& either = a.AddConditionGroup(Join::AnyOf);
             either.AddGroup(Join::AllOf).Add(code, ">=", "'B'").Add(code, "<=", "'C'");
             either.Add(code, "=", "'D'");
             a.AddCondition(code, "<>", "'E'");
         },
         " WHERE (( STD.\"Code\" >= 'B' AND STD.\"Code\" <= 'C') OR STD.\"Code\" = 'D') AND STD.\"Code\" <> 'E'"},
        {"an empty group is no condition",
         [](ODBCDataAccess& a, ODBCField* code) {
             a.AddCondition(code, "=", "'A'");
             a.AddConditionGroup(Join::AnyOf).AddGroup(Join::AllOf);
             a.AddCondition(code, "=", "'B'");
         },
         " WHERE STD.\"Code\" = 'A' AND STD.\"Code\" = 'B'"},
        {"nothing but an empty group", [](ODBCDataAccess& a, ODBCField*) { a.AddConditionGroup(Join::AnyOf); }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto access = MakeAccess(DatabaseType::MSSQL);
        ODBCTable* students = access->AddTable("Students", "STD", true);
        ODBCField* code = access->AddQueryField(students, "Code", true);
        c.build(*access, code);
        const std::string expected =
            std::string("SELECT STD.\"Code\" FROM \"Students\" STD WITH (NOLOCK)  ") + c.where;
        EXPECT_EQ(expected, access->BuildQuery().str());
    }
}

TEST(BuildQueryTest, TablesAliasesQuotingAndHintsByType)
{
    struct Case
    {
        const char* name;
        int type;
        bool quote;
        const char* alias;
        bool descending;
        const char* expected;
    } const cases[] = {
        {"alias equal to the name is written once", DatabaseType::MSSQL, true, "",
         false, "SELECT Staff.\"Id\" FROM \"Staff\" WITH (NOLOCK)   ORDER BY Staff.\"Id\""},
        {"quoting off keeps the alias and dot", DatabaseType::MSSQL, false, "S",
         false, "SELECT S.Id FROM Staff S WITH (NOLOCK)   ORDER BY S.Id"},
        {"other types get no table hint", DatabaseType::SQLite, true, "S",
         true, "SELECT S.\"Id\" FROM \"Staff\" S  ORDER BY S.\"Id\" DESC"},
        {"Postgres, unquoted", DatabaseType::Postgres, false, "S",
         false, "SELECT S.Id FROM Staff S  ORDER BY S.Id"},
        {"Access", DatabaseType::Access, true, "S",
         false, "SELECT S.\"Id\" FROM \"Staff\" S  ORDER BY S.\"Id\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto access = MakeAccess(c.type, c.quote);
        ODBCTable* staff = access->AddTable("Staff", c.alias, true);
        access->AddOrder(access->AddQueryField(staff, "Id", true), c.descending);
        EXPECT_STREQ(c.expected, access->BuildQuery().c_str());
    }
}

TEST(BuildQueryTest, OnlyMSSQLGetsTheTableHint)
{
    for (int type = 1; type <= DatabaseType::Last; ++type) {
        if (type == DatabaseType::DBaseXBase)
            continue;  // a file path, not a statement
        auto access = MakeAccess(type, false);
        access->AddQueryField(access->AddTable("T", "A", true), "F", true);
        const std::string expected = type == DatabaseType::MSSQL ? "SELECT A.F FROM T A WITH (NOLOCK)  "
                                                                 : "SELECT A.F FROM T A ";
        EXPECT_EQ(expected, access->BuildQuery().str()) << type;
    }
}

TEST(BuildQueryTest, JoinsFieldAliasesAndFieldConditions)
{
    auto access = MakeAccess(DatabaseType::MSSQL);
    ODBCTable* a = access->AddTable("Contacts", "C", true);
    ODBCTable* b = access->AddTable("StudentDemographic", "S", true);
    ODBCField* name = access->AddQueryField(a, "Name", true);
    ODBCField* expression = access->AddFunctionField("UPPER(", name, "", "upper_name");
    ODBCField joinA(a, "StudentNumber", 0);
    ODBCField joinB(b, "StudentNumber", 0);
    access->AddCondition(&joinA, "=", &joinB);
    access->AddOrder(expression, true);
    EXPECT_STREQ("SELECT C.\"Name\", UPPER( C.\"Name\") as upper_name FROM \"Contacts\" C WITH (NOLOCK) , "
                 "\"StudentDemographic\" S WITH (NOLOCK)   WHERE C.\"StudentNumber\" = S.\"StudentNumber\" "
                 "ORDER BY upper_name DESC",
                 access->BuildQuery().c_str());
    // Condition-only fields take no select position.
    EXPECT_EQ(2, access->GetQueryFieldCount());
}

TEST(BuildQueryTest, TableReadAsItsDistinctRows)
{
    struct Case
    {
        const char* name;
        int type;
        bool distinct;
        bool joined;  // whether the statement names any column of the calendar
        const char* expected;
    } const cases[] = {
        {"derived table of the columns named, with quoting and hint inside", DatabaseType::MSSQL, true, true,
         "SELECT DISTINCT S.\"Id\", C.\"IsDefault\" FROM \"Students\" S WITH (NOLOCK) , "
         "(SELECT DISTINCT C.\"IsDefault\", C.\"Code\", C.\"Year\" FROM \"Calendar\" C WITH (NOLOCK) ) C  "
         "WHERE S.\"Cal\" = C.\"Code\" AND C.\"Year\" = '2026' ORDER BY C.\"IsDefault\""},
        {"no hint for other types", DatabaseType::SQLite, true, true,
         "SELECT DISTINCT S.\"Id\", C.\"IsDefault\" FROM \"Students\" S, "
         "(SELECT DISTINCT C.\"IsDefault\", C.\"Code\", C.\"Year\" FROM \"Calendar\" C) C  "
         "WHERE S.\"Cal\" = C.\"Code\" AND C.\"Year\" = '2026' ORDER BY C.\"IsDefault\""},
        // Without DISTINCT the duplicate rows are part of the result.
        {"plain table without DISTINCT", DatabaseType::SQLite, false, true,
         "SELECT S.\"Id\", C.\"IsDefault\" FROM \"Students\" S, \"Calendar\" C  "
         "WHERE S.\"Cal\" = C.\"Code\" AND C.\"Year\" = '2026' ORDER BY C.\"IsDefault\""},
        {"plain table when no column of it is named", DatabaseType::SQLite, true, false,
         "SELECT DISTINCT S.\"Id\" FROM \"Students\" S, \"Calendar\" C "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto access = MakeAccess(c.type);
        access->SetDistinct(c.distinct);
        ODBCTable* students = access->AddTable("Students", "S", true);
        ODBCTable* calendar = access->AddTable("Calendar", "C", true);
        calendar->SetDistinctRows(true);
        access->AddQueryField(students, "Id", true);
        ODBCField studentCalendar(students, "Cal", 0);
        ODBCField code(calendar, "Code", 0);
        ODBCField year(calendar, "Year", 0);
        if (c.joined) {
            ODBCField* isDefault = access->AddQueryField(calendar, "IsDefault", true);
            access->AddCondition(&studentCalendar, "=", &code);
            access->AddCondition(&year, "=", "'2026'");
            // Named twice, listed once.
            access->AddOrder(isDefault);
        }
        EXPECT_EQ(std::string(c.expected), access->BuildQuery().str());
    }
}

TEST(BuildQueryTest, EmptyFieldListStillBuilds)
{
    auto access = MakeAccess(DatabaseType::MSSQL);
    access->AddTable("T", "", true);
    EXPECT_STREQ("SELECT  FROM \"T\" WITH (NOLOCK)  ", access->BuildQuery().c_str());
    access->SetDistinct(true);
    EXPECT_STREQ("SELECT DISTINCT  FROM \"T\" WITH (NOLOCK)  ", access->BuildQuery().c_str());
}

TEST(BuildQueryTest, FileDatabaseGivesAPathOfOneTable)
{
    auto access = MakeAccess(DatabaseType::DBaseXBase);
    access->SetDataSource("\\data\\dbf\\");
    access->AddTable("STUDENTS", "", true);
    EXPECT_STREQ("\\data\\dbf\\STUDENTS.dbf", access->BuildQuery().c_str());
    access->AddTable("STAFF", "", true);
    EXPECT_THROW(access->BuildQuery(), XException);
}

TEST(QueryModelTest, MissingFieldsAreRefusedWithTheirMessages)
{
    auto access = MakeAccess(DatabaseType::MSSQL);
    ODBCTable* t = access->AddTable("T", "", true);
    ODBCField* f = access->AddQueryField(t, "F", true);
    EXPECT_THROW(access->AddCondition(nullptr, "=", "1"), XException);
    try {
        access->AddCondition(f, "=", static_cast<ODBCField*>(nullptr));
        FAIL() << "no exception";
    } catch (const XException& error) {
        EXPECT_STREQ("Second field with Fis NULL in XODBC::AddCondition.", error.what());
    }
    EXPECT_EQ(nullptr, access->AddOrder(nullptr));
    EXPECT_EQ(nullptr, access->AddQueryField(nullptr, "F", false));
    EXPECT_THROW(access->AddQueryField(nullptr, "F", true), XException);
    EXPECT_STREQ("SELECT T.\"F\" FROM \"T\" WITH (NOLOCK)  ", access->BuildQuery().c_str());
}

TEST(QueryModelTest, FilterAttendanceReplacesTheEarlierRange)
{
    auto access = MakeAccess(DatabaseType::MSSQL);
    ODBCTable* att = access->AddTable("Attendance", "ATT", true);
    ODBCField changed(att, "ChangeDate", 0);
    access->AddQueryField(att, "Code", true);
    access->AddCondition(access->AddQueryField(att, "_Year", true), "=", "'2009'");
    EXPECT_THROW(access->FilterAttendance(XDate(2009, 1, 1), XDate()), XException);

    access->SetChangeDateField(&changed);
    const std::string head =
        "SELECT ATT.\"Code\", ATT.\"_Year\" FROM \"Attendance\" ATT WITH (NOLOCK)   WHERE ATT.\"_Year\" = '2009'";
    struct Case
    {
        XDate from, to;
        const char* tail;
    } const cases[] = {
        {XDate(2009, 3, 1), XDate(2009, 3, 15),
         " AND ATT.\"ChangeDate\" >= '2009-03-01' AND ATT.\"ChangeDate\" <= '2009-03-15'"},
        {XDate(2009, 4, 1), XDate(), " AND ATT.\"ChangeDate\" >= '2009-04-01'"},
        // Day 0 counts as no date, like null.
        {XDate(0), XDate(2009, 5, 2), " AND ATT.\"ChangeDate\" <= '2009-05-02'"},
        {XDate(), XDate(), ""},
    };
    for (const Case& c : cases) {
        access->FilterAttendance(c.from, c.to);
        EXPECT_EQ(head + c.tail, access->BuildQuery().str());
    }

    // With the attendance date too: a row changed in the range or dated in it.
    ODBCField dated(att, "CalendarDate", 0);
    access->SetAttendanceDateField(&dated);
    const Case either[] = {
        {XDate(2009, 3, 1), XDate(2009, 3, 15),
         " AND (( ATT.\"ChangeDate\" >= '2009-03-01' AND ATT.\"ChangeDate\" <= '2009-03-15') OR"
         " ( ATT.\"CalendarDate\" >= '2009-03-01' AND ATT.\"CalendarDate\" <= '2009-03-15'))"},
        {XDate(2009, 4, 1), XDate(), " AND (( ATT.\"ChangeDate\" >= '2009-04-01') OR ( ATT.\"CalendarDate\" >= '2009-04-01'))"},
        {XDate(), XDate(), ""},
    };
    for (const Case& c : either) {
        access->FilterAttendance(c.from, c.to);
        EXPECT_EQ(head + c.tail, access->BuildQuery().str());
    }
}

}  // namespace
