// The whole bridge as the importer starts it: `morvbridge run --demo` against
// a generated demo school, checked the way the importer reads the result
// (status files, the import header file and every table file it names).
#include "demo/DemoGenerator.h"
#include "demo/DemoOptions.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestOdbcSource.h"
#include "tests/support/WholeFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";

// The run's own status file, named after the application type; the fixed
// "BridgeStatus.tmp" only marks that a run started.
QString StatusFile(const QString& folder)
{
    for (const QString& name : QDir(folder).entryList({"*Status.tmp"}, QDir::Files)) {
        if (name != "BridgeStatus.tmp")
            return folder + "/" + name;
    }
    return folder + "/<no status file>";
}

std::string ReadFile(const QString& path)
{
    return ReadWholeFile(path).toStdString();
}

// Splits at CR LF; a line holding a lone CR or LF, or bytes after the last
// CR LF, is a broken line and reported through `broken`.
std::vector<std::string> SplitLines(const std::string& bytes, std::string* broken)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find("\r\n", start);
        const std::string line = bytes.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (end == std::string::npos || line.find_first_of("\r\n") != std::string::npos) {
            if (broken && broken->empty())
                *broken = line.substr(0, 80);
            if (end == std::string::npos)
                break;
        }
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

// One table entry of the import header file.
struct TableEntry {
    std::string name;
    size_t fields = 0;
    std::string file;
};

// The entries between "// name" and "*": name, field line, include line.
std::vector<TableEntry> ReadTableEntries(const std::vector<std::string>& header)
{
    std::vector<TableEntry> entries;
    for (size_t i = 0; i + 3 < header.size(); ++i) {
        const std::string& include = header[i + 2];
        if (header[i].rfind("// ", 0) != 0 || include.rfind("#include \"", 0) != 0 || header[i + 3] != "*")
            continue;
        TableEntry entry;
        entry.name = header[i].substr(3);
        entry.fields = std::count(header[i + 1].begin(), header[i + 1].end(), '\t') + 1;
        entry.file = include.substr(10, include.size() - 11);
        entries.push_back(entry);
    }
    return entries;
}

class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_work.isValid());
        m_export = m_work.filePath("export");
    }

    // Writes a demo school of `options` and registers it as MORVDEMO.
    void Generate(demo::DemoOptions options)
    {
        m_database = m_work.filePath("morv-demo.db").toStdString();
        options.students = 120;
        demo::DemoGenerator::WriteFile(m_database, options);
        m_source.AddDsn("MORVDEMO", m_database);
    }

    // `switches` choose the exports: --demo the tables only, none both.
    ChildResult Run(std::vector<std::string> switches = {"--demo"})
    {
        std::vector<std::string> arguments = {"run", "--dsn=MORVDEMO", "--user=clerk",
                                              "--pwd=secret", std::string("--school=") +
                                              demo::school::kMainBuilding,
                                              "--path=" + m_export.toStdString()};
        arguments.insert(arguments.end(), switches.begin(), switches.end());
        return RunChildProcess(kBridge, arguments, m_source.Environment(), m_work.path().toStdString());
    }

    QTemporaryDir m_work;
    TestOdbcSource m_source{"MorvEndToEndScratch"};
    std::string m_database;
    QString m_export;
};

// The whole full export of the demo school as the importer runs it: the
// header file names exactly the tables of the site, in run order; every file
// it names exists, has content, and every line has the header's field count,
// ends in CR LF and holds no CR or LF of its own.
TEST_F(EndToEnd, DemoRunWritesEveryTableTheHeaderNames)
{
    const std::vector<std::string> allTables = {
        "AttCodes.pef", "Calendar.pef", "Sections.pef", "Terms.pef", "Days.pef", "Teachers.pef", "Staff.pef",
        "Students.pef", "Students2.pef", "StudentCon.pef", "StudentCon1.pef", "StudentLockers.pef",
        "StudentTransport.pef", "StudentSched.pef", "StudentGrades.pef", "FeeAccounts.pef", "StudentFees.pef",
        "StuFeesPay.pef", "StudentAttendance.pef", "ConductIncident.pef", "ConductOutcome.pef",
        "StudentCndIncident.pef", "StudentMedHist.pef", "StudentNotes.pef"};
    // The tables of an older site, which has no locker view, fee or
    // discipline tables: skipped tables are not offered to the importer.
    std::vector<std::string> olderTables;
    for (const std::string& file : allTables)
        if (file != "StudentLockers.pef" && file != "StudentFees.pef" && file != "StuFeesPay.pef" &&
            file != "ConductIncident.pef" && file != "ConductOutcome.pef")
            olderTables.push_back(file);
    struct Site {
        const char* name;
        bool optionalTables;
        bool schoolIsLive;
        std::vector<std::string> tables;
    };
    // An older site also has no IsLive column.
    for (const Site& site : {Site{"full", true, true, allTables}, Site{"older", false, false, olderTables}}) {
        SCOPED_TRACE(site.name);
        demo::DemoOptions options;
        options.optionalTables = site.optionalTables;
        options.schoolIsLive = site.schoolIsLive;
        Generate(options);
        QDir(m_export).removeRecursively();

        const ChildResult result = Run();
        ASSERT_TRUE(result.started);
        ASSERT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 0) << result.standardError << result.standardOutput.substr(0, 4000);

        // The importer waits for the finished file, then reads the status.
        EXPECT_EQ(ReadFile(m_export + "/finished_bridge.tmp").rfind("finished", 0), 0u);
        const std::string status = ReadFile(StatusFile(m_export));
        EXPECT_NE(status.find("\tSucceeded\tSucceeded\r\n"), std::string::npos) << status;

        std::string broken;
        const std::vector<std::string> header = SplitLines(ReadFile(m_export + "/MORV.PDE"), &broken);
        EXPECT_TRUE(broken.empty()) << "MORV.PDE: " << broken;
        std::vector<std::string> named;
        for (const TableEntry& table : ReadTableEntries(header)) {
            SCOPED_TRACE(table.file);
            named.push_back(table.file);
            const QString path = m_export + "/" + QString::fromStdString(table.file);
            ASSERT_TRUE(QFile::exists(path));
            std::string brokenLine;
            const std::vector<std::string> lines = SplitLines(ReadFile(path), &brokenLine);
            EXPECT_TRUE(brokenLine.empty()) << brokenLine;
            EXPECT_FALSE(lines.empty());
            // A TAB inside a value shows as one field too many.
            for (const std::string& line : lines) {
                const size_t fields = std::count(line.begin(), line.end(), '\t') + 1;
                ASSERT_EQ(fields, table.fields) << line.substr(0, 200);
            }
        }
        EXPECT_EQ(named, site.tables);

        // The demo keeps last year's lunch rows as well; still one lunch line
        // per student.
        const std::vector<std::string> lunch = SplitLines(ReadFile(m_export + "/Students2.pef"), nullptr);
        std::set<std::string> lunchStudents;
        for (const std::string& line : lunch)
            lunchStudents.insert(line.substr(0, line.find('\t')));
        EXPECT_EQ(lunchStudents.size(), lunch.size());
    }
}

// The log file of the last run in the export folder, with the Base64 lines
// (statements and other level 9 records) decoded.
std::vector<std::string> RunLog(const QString& folder)
{
    std::vector<std::string> lines;
    for (const QString& name : QDir(folder).entryList({"*.log"}, QDir::Files)) {
        for (const QByteArray& line : ReadWholeFile(folder + "/" + name).split('\n')) {
            const QByteArray text = line.trimmed();
            lines.push_back(text.startsWith("proprietary:") ? QByteArray::fromBase64(text.mid(12)).toStdString()
                                                            : text.toStdString());
        }
    }
    return lines;
}

// A full export asks each existence question of the source once, also the
// ones answered "no" at a site without some optional tables and columns, and
// its closing count of statements sent is what the driver manager saw (its
// trace of every SQLExecDirect, kept apart from the bridge).
TEST_F(EndToEnd, EachExistenceQuestionIsSentOnceAndTheRunCountsItsStatements)
{
    for (const bool older : {false, true}) {
        SCOPED_TRACE(older ? "older site" : "full site");
        demo::DemoOptions options;
        options.optionalTables = !older;
        options.schoolIsLive = !older;
        Generate(options);
        QDir(m_export).removeRecursively();
        const QString trace = m_work.filePath(older ? "older.trace" : "full.trace");
        {
            QFile config(QString::fromStdString(m_source.Folder() + "/odbcinst.ini"));
            ASSERT_TRUE(config.open(QIODevice::Append));
            config.write(("\n[ODBC]\nTrace=Yes\nTraceFile=" + trace + "\n").toUtf8());
        }
        const ChildResult result = Run();
        ASSERT_EQ(result.exitCode, 0) << result.standardOutput.substr(0, 4000);

        long long sentByTrace = 0;
        for (const QByteArray& line : ReadWholeFile(trace).split('\n'))
            sentByTrace += line.contains("[SQLExecDirect.c]") && !line.contains("Exit") ? 1 : 0;
        sentByTrace /= 2;  // an entry record and an exit record each
        std::set<std::string> questions;
        long long queries = 0, asked = 0, rememberedNo = 0;
        long long logged = -1;
        for (const std::string& line : RunLog(m_export)) {
            for (const char* label : {"Table Exists query:SELECT ", "Field Exists query:SELECT "}) {
                const size_t at = line.find(label);
                if (at != std::string::npos) {
                    questions.insert(line.substr(at));
                    ++asked;
                }
            }
            queries += line.find("ODBCDataAccess::RunQuery: Running Query") != std::string::npos ? 1 : 0;
            rememberedNo += line.find("not asked again") != std::string::npos &&
                            line.find("does not exist.") != std::string::npos;
            const size_t count = line.find("Statements sent to the data source: ");
            if (count != std::string::npos)
                logged = std::stoll(line.substr(count + 36));
        }
        EXPECT_GT(asked, static_cast<long long>(questions.size()));  // questions come up more than once
        EXPECT_EQ(sentByTrace, static_cast<long long>(questions.size()) + queries);
        EXPECT_EQ(logged, sentByTrace);
        if (older) {
            EXPECT_GT(rememberedNo, 0);  // a missing table or column is not asked about again either
        }
    }
}

TEST_F(EndToEnd, EveryRunFlagSucceedsAndOnlyChangedAttendanceIsSentAgain)
{
    Generate(demo::DemoOptions());
    // Rows of the update file's attendance sections, and how many files there are.
    auto updateRows = [&](size_t& files) {
        const QStringList names = QDir(m_export).entryList({"*.PDU"}, QDir::Files, QDir::Name);
        files = names.size();
        size_t rows = 0;
        if (names.isEmpty())
            return rows;
        std::string broken;
        bool inSection = false;
        for (const std::string& line : SplitLines(ReadFile(m_export + "/" + names.last()), &broken)) {
            if (line.rfind("AttStdRef\t", 0) == 0)
                inSection = true;
            else if (line == "*")
                inSection = false;
            else if (inSection) {
                ++rows;
                EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 9) << line;
            }
        }
        EXPECT_TRUE(broken.empty()) << broken;
        return rows;
    };
    const struct {
        const char* name;
        std::vector<std::string> switches;
        bool header;       // MORV.PDE written
        size_t files;      // update files in the folder afterwards
        bool rows;         // the newest update file carries attendance
    } runs[] = {
        {"tables and attendance", {}, true, 1, true},
        {"attendance alone, nothing changed", {"--att"}, true, 2, false},
        {"tables alone", {"--demo"}, true, 2, false},
        {"both switches", {"--demo", "--att"}, true, 3, false},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.name);
        const ChildResult result = Run(run.switches);
        ASSERT_TRUE(result.started);
        EXPECT_EQ(result.exitCode, 0) << result.standardError << result.standardOutput.substr(0, 4000);
        const std::string status = ReadFile(StatusFile(m_export));
        EXPECT_NE(status.find("\tSucceeded\tSucceeded\r\n"), std::string::npos) << status;
        EXPECT_EQ(QFile::exists(m_export + "/MORV.PDE"), run.header);
        size_t files = 0;
        const size_t rows = updateRows(files);
        EXPECT_EQ(files, run.files);
        EXPECT_EQ(rows > 0, run.rows) << rows;
    }
}

} // namespace
