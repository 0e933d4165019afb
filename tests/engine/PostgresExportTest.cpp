// One school, two servers: the demo school exported from its SQLite file and
// from a copy of it in a real PostgreSQL server must give the same files.
// What a networked server does differently (types reported by its driver,
// wide text from a UTF-8 database, no table hints) must not show in them.
#include "demo/DemoDatabase.h"
#include "demo/DemoGenerator.h"
#include "demo/DemoOptions.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PostgresSchoolCopy.h"
#include "tests/support/TestOdbcSource.h"
#include "tests/support/TestPostgresServer.h"
#include "tests/support/WholeFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";

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
        GTEST_SKIP() << missing;
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
        PostgresSchoolCopy::HoldDatesAsText(source);
        std::ostringstream sql;
        PostgresSchoolCopy::Write(source, sql);
        copy = sql.str();
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
