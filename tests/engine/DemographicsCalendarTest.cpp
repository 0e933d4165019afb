// Student Demographics reads the calendar as its distinct rows instead of
// joining every calendar day. The statement the engine runs must give exactly
// the rows of the plain join, which is written out here in full and run
// beside it against generated schools with the awkward calendar cases added.
#include "demo/DemoGenerator.h"
#include "demo/DemoOptions.h"
#include "data/odbc/AdoConnection.h"
#include "data/odbc/AdoRecordset.h"
#include "tests/engine/EngineTestSchool.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The plain join of every student with every calendar day, collapsed by
// DISTINCT; the status group is added per case.
const char* const kPlainJoin =
    "SELECT DISTINCT STU.\"StudentNumber\", STU.\"EMISId\", STU.\"FirstName\", STU.\"MiddleName\", "
    "STU.\"LastName\", STU.\"NameSuffix\", STU.\"CalledName\", STU.\"Address\", STU.\"Address2\", "
    "STU.\"City\", STU.\"State\", STU.\"Zip\", STU.\"Zip4\", STU.\"StudentHomePhone\", STU.\"Gender\", "
    "STU.\"Birthdate\", STU.\"GradeLevel\", STU.\"Status\", STU.\"Homeroom\", STU.\"HomeroomTeacherCode\", "
    "STU.\"Program\", STU.\"Counselor\", STU.\"SpecialEducation\", STU.\"NativeLanguage\", "
    "STU.\"BirthplaceCity\", STU.\"GraduationYear\", STU.\"Ethnicity\", STU.\"CalendarCode\", "
    "CAL.\"DefaultCalendar\" FROM \"StudentDemographic\" STU WITH (NOLOCK) , \"SchoolCalendar\" CAL WITH "
    "(NOLOCK)   WHERE STU.\"_DistBldg\" = '0301' AND STU.\"_Year\" = '2026' AND CAL.\"_DistBldg\" = '0301' "
    "AND CAL.\"_Year\" = '2026' AND STU.\"CalendarCode\" = CAL.\"MasterCalendar_CalendarCode\"";

// What the generator leaves out: one calendar code with both DefaultCalendar
// values (and a NULL one), a code whose only rows belong to another year,
// students without a calendar code or on the other year's code, and
// students whose status an additional active code admits.
const char* const kCalendarCases = R"SQL(
INSERT INTO SchoolCalendar (_DistBldg, _Year, IsLive, MasterCalendar_CalendarCode, DefaultCalendar, Day_CalendarDate)
VALUES ('0301', 2026, 'Y', 'ALT', 'Y', '2026-01-05 00:00:00'), ('0301', 2026, 'Y', 'ALT', NULL, '2026-01-06 00:00:00'),
       ('0301', 2026, 'Y', 'ALT', 'Y', '2026-01-07 00:00:00'), ('0301', 2025, 'Y', 'OLD', 'N', '2025-01-05 00:00:00');
UPDATE StudentDemographic SET CalendarCode = NULL
 WHERE _DistBldg = '0301' AND _Year = 2026 AND StudentNumber IN
   (SELECT StudentNumber FROM StudentDemographic WHERE _DistBldg = '0301' AND _Year = 2026 LIMIT 3);
UPDATE StudentDemographic SET CalendarCode = 'OLD'
 WHERE _DistBldg = '0301' AND _Year = 2026 AND StudentNumber IN
   (SELECT StudentNumber FROM StudentDemographic WHERE _DistBldg = '0301' AND _Year = 2026 LIMIT 2 OFFSET 3);
UPDATE StudentDemographic SET Status = 'X'
 WHERE _DistBldg = '0301' AND _Year = 2026 AND StudentNumber IN
   (SELECT StudentNumber FROM StudentDemographic WHERE _DistBldg = '0301' AND _Year = 2026 LIMIT 4 OFFSET 5);
)SQL";

// A value with its kind, so NULL and the empty text stay apart.
std::string ValueText(const AdoVariant& value)
{
    std::string text = std::to_string(static_cast<int>(value.Type())) + ":";
    switch (value.Type()) {
    case AdoVarType::Null:
        return text;
    case AdoVarType::String:
    case AdoVarType::ByteArray:
        return text + value.Text();
    case AdoVarType::R4:
    case AdoVarType::R8:
        return text + std::to_string(value.AsDouble());
    case AdoVarType::Date:
        return text + std::to_string(value.AsOleDate());
    case AdoVarType::Bool:
        return text + (value.AsBool() ? "1" : "0");
    default:
        return text + std::to_string(value.AsInt64());
    }
}

// Every row of a statement, each value as its kind and text, sorted.
std::vector<std::string> Rows(const std::string& statement)
{
    AdoConnection connection;
    connection.Open(std::string("Provider=MSDASQL;Data Source=") + kSchoolDsn + ";");
    AdoRecordset rs;
    rs.Open(statement, connection, adOpenForwardOnly);
    std::vector<std::string> rows;
    for (; !rs.IsEOF(); rs.MoveNext()) {
        std::string row;
        AdoFields& fields = rs.Fields();
        for (long i = 0; i < fields.Count(); ++i) {
            row += ValueText(fields.Item(i).Value()) + "\t";
        }
        rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

// The last statement the engine logged as built.
std::string LastStatement(const TestEngine& engine)
{
    const QString prefix = "BuildQuery Finished:";
    for (auto entry = engine.logs.rbegin(); entry != engine.logs.rend(); ++entry) {
        if (entry->second.startsWith(prefix))
            return entry->second.mid(prefix.size()).toStdString();
    }
    return std::string();
}

TEST(DemographicsCalendar, DistinctCalendarRowsGiveThePlainJoinsRows)
{
    const char* const kStatusGroup = " AND ( STU.\"Status\" = 'A' OR STU.\"Status\" = 'N' OR STU.\"Status\" = 'U')";
    struct Case {
        const char* activeCodes;
        const char* inactiveDate;
        std::string statusGroup;
    } const cases[] = {
        {"", "", kStatusGroup},
        {"X,P", "", " AND ( STU.\"Status\" = 'A' OR STU.\"Status\" = 'N' OR STU.\"Status\" = 'X' OR "
                    "STU.\"Status\" = 'P' OR STU.\"Status\" = 'U')"},
        // With a cut-off date every status is read.
        {"", "2025-12-01", ""},
    };
    for (const std::uint32_t seed : {20260101u, 7u}) {
        TestOdbcSource source("MorvDemographicsScratch");
        const std::string path = source.Folder() + "/school.db";
        demo::DemoOptions options;
        options.students = 120;
        options.seed = seed;
        demo::DemoGenerator::WriteFile(path, options);
        source.AddDsn(kSchoolDsn, path);
        {
            demo::DemoDatabase db(path);
            db.Execute(kCalendarCases);
            ASSERT_GT(db.QueryInt("SELECT COUNT(*) FROM StudentDemographic WHERE CalendarCode = 'ALT'"), 0);
        }

        for (const Case& c : cases) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", codes '" + c.activeCodes + "', cut-off '" +
                         c.inactiveDate + "'");
            TestEngine engine;
            QTemporaryDir folder;
            ParamMap parameters = RunParameters();
            parameters["activecodes"] = c.activeCodes;
            parameters["inactivedate"] = c.inactiveDate;
            ASSERT_TRUE(StartExport(engine, folder, parameters));
            engine.CreateStudentDemographics();

            const std::string executed = LastStatement(engine);
            ASSERT_NE(executed.find("(SELECT DISTINCT "), std::string::npos) << executed;
            const std::vector<std::string> expected = Rows(kPlainJoin + c.statusGroup);
            // Enough rows to mean something: defaults, other calendars,
            // several statuses.
            EXPECT_GT(expected.size(), 60u);
            EXPECT_EQ(Rows(executed), expected);
        }
    }
}

} // namespace
