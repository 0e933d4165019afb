// One school, two servers: the demo school exported from its SQLite file and
// from a copy of it in a real PostgreSQL server must give the same files.
// What a networked server does differently (types reported by its driver,
// wide text from a UTF-8 database, no table hints) must not show in them.
#include "demo/DemoDatabase.h"
#include "demo/DemoGenerator.h"
#include "demo/DemoOptions.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Prerequisite.h"
#include "tests/support/TestOdbcSource.h"
#include "tests/support/TestPostgresServer.h"
#include "tests/support/WholeFile.h"
#include "util/XString.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QString>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";

// SQL Server turns '' into a date where a date column is compared with it;
// PostgreSQL refuses the comparison. The date columns the engine compares
// with '' are held as ISO text in both copies of the school, so that each
// server meets the same statement with the same column.
const std::pair<const char*, const char*> kDatesHeldAsText[] = {
    {"ReportingTerms", "CourseSectionStartDate"},
    {"Staff", "StopDate"},
};

// The same change in the SQLite school: the column declared as text.
void HoldDatesAsText(demo::DemoDatabase& source)
{
    for (const auto& [table, column] : kDatesHeldAsText) {
        const std::string t = table, c = column;
        source.Execute("ALTER TABLE " + t + " RENAME COLUMN " + c + " TO OldDate;"
                       "ALTER TABLE " + t + " ADD COLUMN " + c + " VARCHAR(23);"
                       "UPDATE " + t + " SET " + c + " = OldDate;"
                       "ALTER TABLE " + t + " DROP COLUMN OldDate;");
    }
}

std::string PostgresType(std::string declared)
{
    std::transform(declared.begin(), declared.end(), declared.begin(), ::toupper);
    if (declared == "DATETIME")
        return "timestamp";
    if (declared == "INT")
        return "integer";
    if (declared == "BIT")
        return "smallint";
    return declared;  // VARCHAR(n), CHAR(n), TEXT, NUMERIC(p,s) mean the same there
}

std::string Quoted(const std::string& identifier) { return "\"" + identifier + "\""; }

// A literal of the source's value: its text in code page 1252 becomes UTF-8,
// the server's encoding. The SQLite school writes an unknown date as '',
// which a timestamp column cannot hold: it is NULL there, and both read as
// an empty field.
std::string Literal(sqlite3_stmt* row, int column, bool timestamp)
{
    switch (sqlite3_column_type(row, column)) {
    case SQLITE_NULL:
        return "NULL";
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        return reinterpret_cast<const char*>(sqlite3_column_text(row, column));
    default: {
        if (timestamp && sqlite3_column_bytes(row, column) == 0)
            return "NULL";
        const XString bytes(reinterpret_cast<const char*>(sqlite3_column_text(row, column)));
        const std::u16string wide = bytes.ToUtf16();
        std::string text = QString::fromStdU16String(wide).toUtf8().toStdString();
        std::string quoted = "'";
        for (char c : text)
            quoted += c == '\'' ? std::string("''") : std::string(1, c);
        return quoted + "'";
    }
    }
}

// The tables of the SQLite school as PostgreSQL statements: tables with
// their rows, the two views, and SQL Server's catalogue views.
std::string CopyOfTheSchool(demo::DemoDatabase& source)
{
    std::string sql;
    for (const std::vector<std::string>& object : source.Query(
             "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' ESCAPE '!' "
             "ORDER BY name")) {
        const std::string& table = object[0];
        std::vector<std::string> columns;
        std::vector<bool> timestamps;
        sql += "CREATE TABLE " + Quoted(table) + " (";
        for (const std::vector<std::string>& column :
             source.Query("SELECT name, type FROM pragma_table_info('" + table + "') ORDER BY cid")) {
            const std::string type = PostgresType(column[1]);
            sql += (columns.empty() ? "" : ", ") + Quoted(column[0]) + " " + type;
            columns.push_back(column[0]);
            timestamps.push_back(type == "timestamp");
        }
        sql += ");\n";

        sqlite3_stmt* rows = nullptr;
        const std::string select = "SELECT * FROM " + Quoted(table);
        if (sqlite3_prepare_v2(source.Handle(), select.c_str(), -1, &rows, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(source.Handle()));
        while (sqlite3_step(rows) == SQLITE_ROW) {
            sql += "INSERT INTO " + Quoted(table) + " VALUES (";
            for (int c = 0; c < static_cast<int>(columns.size()); ++c)
                sql += (c ? ", " : "") + Literal(rows, c, timestamps[c]);
            sql += ");\n";
        }
        sqlite3_finalize(rows);
    }
    sql += "CREATE VIEW \"School\" AS SELECT * FROM \"Schools\";\n"
           "CREATE VIEW \"StudentLocker_cy\" AS SELECT \"StudentNumber\", \"_DistBldg\", \"_Year\", "
           "\"LockerNumber\", \"CombinationSeries\" FROM \"StudentLocker\" "
           "WHERE \"_Year\" = (SELECT MAX(\"_Year\") FROM \"StudentLocker\");\n"
           "CREATE VIEW sysobjects AS SELECT c.relname::varchar AS name, c.oid::integer AS id, "
           "(CASE c.relkind WHEN 'v' THEN 'V' ELSE 'U' END)::varchar AS xtype, "
           "(CASE c.relkind WHEN 'v' THEN 'V' ELSE 'U' END)::varchar AS type FROM pg_class c "
           "WHERE c.relnamespace = 'public'::regnamespace AND c.relkind IN ('r', 'v');\n"
           "CREATE VIEW syscolumns AS SELECT a.attname::varchar AS name, a.attrelid::integer AS id, "
           "a.attnum::integer AS colid FROM pg_attribute a WHERE a.attnum > 0 AND NOT a.attisdropped;\n";
    return sql;
}

using Files = std::map<std::string, std::vector<std::string>>;

// Every file of an export folder as lines; in the header file, without the
// clock (when it was generated and how long each table took).
Files Export(const QString& folder)
{
    // The hour has no leading zero ("0:05:17"), so one or two digits.
    static const QRegularExpression clock(QStringLiteral("[A-Z][a-z]{2} \\d\\d?, \\d{4} \\d\\d?:\\d\\d:\\d\\d|"
                                                        "\\b\\d\\d?:\\d\\d:\\d\\d\\b"));
    Files files;
    for (const QString& name : QDir(folder).entryList({"*.pef", "*.PDE"}, QDir::Files)) {
        std::vector<std::string> lines;
        for (const QByteArray& line : ReadWholeFile(folder + "/" + name).split('\n')) {
            QString text = QString::fromLatin1(line);
            if (name == QLatin1String("MORV.PDE"))
                text.replace(clock, QStringLiteral("<time>"));
            lines.push_back(text.toLatin1().toStdString());
        }
        files[name.toStdString()] = lines;
    }
    return files;
}

TEST(PostgresExport, TheSameSchoolGivesTheSameFilesFromPostgresqlAsFromSqlite)
{
    const std::string missing = TestPostgresServer::Missing();
    if (!missing.empty())
        MISSING_PREREQUISITE(missing);
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());

    // The demo school, with a name in code page 1252 ("Zoë") and one the code
    // page cannot hold ("Łoś"): SQLite holds the bytes the export must show.
    const std::string file = work.filePath("school.db").toStdString();
    demo::DemoOptions options;
    options.students = 60;
    demo::DemoGenerator::WriteFile(file, options);
    const std::string firstStudent = " WHERE StudentNumber = (SELECT MIN(StudentNumber) FROM StudentDemographic);";
    std::string copy;
    {
        demo::DemoDatabase source(file);
        source.Execute("UPDATE StudentDemographic SET FirstName = 'Zo' || CAST(X'EB' AS TEXT)" + firstStudent);
        HoldDatesAsText(source);
        copy = CopyOfTheSchool(source);
        source.Execute("UPDATE StudentDemographic SET LastName = '?o?'" + firstStudent);
    }
    copy += "UPDATE \"StudentDemographic\" SET \"LastName\" = '\xc5\x81o\xc5\x9b' WHERE \"StudentNumber\" = "
            "(SELECT MIN(\"StudentNumber\") FROM \"StudentDemographic\");\n";

    TestOdbcSource sqlite("MorvExportSqlite");
    sqlite.AddDsn("MORVLITE", file);
    TestPostgresServer server;
    server.Sql(copy);

    auto run = [&](const std::string& dsn, const std::string& user, const std::string& password,
                   std::vector<std::string> environment, const QString& folder) {
        environment.push_back("HOME=" + work.path().toStdString());
        const ChildResult result =
            RunChildProcess(kBridge,
                            {"run", "--demo", "--dsn=" + dsn, "--user=" + user, "--pwd=" + password,
                             std::string("--school=") + demo::school::kMainBuilding,
                             "--path=" + folder.toStdString(), "--log=consoleoff"},
                            environment, work.path().toStdString());
        EXPECT_EQ(result.exitCode, 0) << dsn << ": " << result.standardOutput.substr(0, 4000);
        return Export(folder);
    };
    const Files fromSqlite = run("MORVLITE", "clerk", "secret", sqlite.Environment(), work.filePath("lite"));
    const Files fromPostgres = run("MorvPgSource", TestPostgresServer::User, TestPostgresServer::Password,
                                   server.Environment(), work.filePath("pg"));

    ASSERT_GT(fromSqlite.size(), 20u);
    // The names went through the server as UTF-8 and came back in the code
    // page, the one it lacks a character for with "?".
    const std::vector<std::string> students =
        fromPostgres.count("Students.pef") ? fromPostgres.at("Students.pef") : std::vector<std::string>();
    EXPECT_TRUE(std::any_of(students.begin(), students.end(), [](const std::string& line) {
        return line.find("\tZo\xeb\t") != std::string::npos && line.find("\t?o?\t") != std::string::npos;
    }));
    std::vector<std::string> names, otherNames;
    for (const auto& [name, lines] : fromSqlite)
        names.push_back(name);
    for (const auto& [name, lines] : fromPostgres)
        otherNames.push_back(name);
    EXPECT_EQ(otherNames, names);
    // Lines are compared as sets: Sections, Teachers and Terms are read with
    // DISTINCT and no ORDER BY, and PostgreSQL (hashing) returns them in
    // another order than SQLite (scanning); the importer does not rely on
    // the order of a table file's lines. Every other file came out in the
    // same order when this was written. The header file must match line for
    // line but for its clock.
    for (const auto& [name, lines] : fromSqlite) {
        SCOPED_TRACE(name);
        if (!fromPostgres.count(name))
            continue;
        std::vector<std::string> expected = lines, actual = fromPostgres.at(name);
        if (name == "MORV.PDE") {
            EXPECT_EQ(actual, expected);
        }
        std::sort(expected.begin(), expected.end());
        std::sort(actual.begin(), actual.end());
        std::vector<std::string> onlySqlite, onlyPostgres;
        std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(),
                            std::back_inserter(onlySqlite));
        std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(),
                            std::back_inserter(onlyPostgres));
        EXPECT_EQ(onlyPostgres, onlySqlite);
    }
}

}  // namespace
