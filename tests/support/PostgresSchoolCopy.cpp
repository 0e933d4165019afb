// PostgresSchoolCopy: the demo school's tables as psql input.
#include "tests/support/PostgresSchoolCopy.h"

#include "demo/DemoDatabase.h"
#include "util/XString.h"

#include <QString>

#include <sqlite3.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const std::pair<const char*, const char*> kDatesHeldAsText[] = {
    {"ReportingTerms", "CourseSectionStartDate"},
    {"Staff", "StopDate"},
};

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

std::string Quoted(const std::string& identifier)
{
    return "\"" + identifier + "\"";
}

// One value in COPY's text form.
void AppendValue(std::string& line, sqlite3_stmt* row, int column, bool timestamp)
{
    const int type = sqlite3_column_type(row, column);
    if (type == SQLITE_NULL || (timestamp && sqlite3_column_bytes(row, column) == 0)) {
        line += "\\N";
        return;
    }
    const char* bytes = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
    std::string text(bytes, static_cast<size_t>(sqlite3_column_bytes(row, column)));
    if (type == SQLITE_TEXT && std::any_of(text.begin(), text.end(), [](char c) { return c & 0x80; }))
        text = QString::fromStdU16String(XString(text.c_str()).ToUtf16()).toUtf8().toStdString();
    for (const char c : text) {
        switch (c) {
        case '\\': line += "\\\\"; break;
        case '\t': line += "\\t"; break;
        case '\n': line += "\\n"; break;
        case '\r': line += "\\r"; break;
        default: line += c;
        }
    }
}

}  // namespace

void PostgresSchoolCopy::HoldDatesAsText(demo::DemoDatabase& source)
{
    for (const auto& [table, column] : kDatesHeldAsText) {
        const std::string t = table, c = column;
        source.Execute("ALTER TABLE " + t + " RENAME COLUMN " + c + " TO OldDate;"
                       "ALTER TABLE " + t + " ADD COLUMN " + c + " VARCHAR(23);"
                       "UPDATE " + t + " SET " + c + " = OldDate;"
                       "ALTER TABLE " + t + " DROP COLUMN OldDate;");
    }
}

void PostgresSchoolCopy::Write(demo::DemoDatabase& source, std::ostream& out)
{
    for (const std::vector<std::string>& object : source.Query(
             "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' ESCAPE '!' "
             "ORDER BY name")) {
        const std::string& table = object[0];
        std::vector<std::string> columns;
        std::vector<bool> timestamps;
        std::string create = "CREATE TABLE " + Quoted(table) + " (";
        for (const std::vector<std::string>& column :
             source.Query("SELECT name, type FROM pragma_table_info('" + table + "') ORDER BY cid")) {
            const std::string type = PostgresType(column[1]);
            create += (columns.empty() ? "" : ", ") + Quoted(column[0]) + " " + type;
            columns.push_back(Quoted(column[0]));
            timestamps.push_back(type == "timestamp");
        }
        out << create << ");\nCOPY " << Quoted(table) << " FROM stdin;\n";

        sqlite3_stmt* rows = nullptr;
        const std::string select = "SELECT * FROM " + Quoted(table);
        if (sqlite3_prepare_v2(source.Handle(), select.c_str(), -1, &rows, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(source.Handle()));
        std::string line;
        while (sqlite3_step(rows) == SQLITE_ROW) {
            line.clear();
            for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
                if (c)
                    line += '\t';
                AppendValue(line, rows, c, timestamps[c]);
            }
            out << line << '\n';
        }
        sqlite3_finalize(rows);
        out << "\\.\n";
    }
    out << "CREATE VIEW \"School\" AS SELECT * FROM \"Schools\";\n"
           "CREATE VIEW \"StudentLocker_cy\" AS SELECT \"StudentNumber\", \"_DistBldg\", \"_Year\", "
           "\"LockerNumber\", \"CombinationSeries\" FROM \"StudentLocker\" "
           "WHERE \"_Year\" = (SELECT MAX(\"_Year\") FROM \"StudentLocker\");\n"
           "CREATE VIEW sysobjects AS SELECT c.relname::varchar AS name, c.oid::integer AS id, "
           "(CASE c.relkind WHEN 'v' THEN 'V' ELSE 'U' END)::varchar AS xtype, "
           "(CASE c.relkind WHEN 'v' THEN 'V' ELSE 'U' END)::varchar AS type FROM pg_class c "
           "WHERE c.relnamespace = 'public'::regnamespace AND c.relkind IN ('r', 'v');\n"
           "CREATE VIEW syscolumns AS SELECT a.attname::varchar AS name, a.attrelid::integer AS id, "
           "a.attnum::integer AS colid FROM pg_attribute a WHERE a.attnum > 0 AND NOT a.attisdropped;\n"
           "ANALYZE;\n";
}
