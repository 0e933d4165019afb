// A small school database for engine tests: the demo schema without rows,
// registered as an ODBC data source, plus an engine wired to a temporary
// export folder that records what it logs and reports.
#pragma once

#include "demo/DemoDatabase.h"
#include "tests/support/CallbackSink.h"
#include "demo/DemoOptions.h"
#include "demo/DemoSchema.h"
#include "engine/ExpEngine.h"
#include "tests/support/TestOdbcSource.h"
#include "tests/support/WholeFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

inline const char* const kSchoolDsn = "MorvEngineSchool";

// Empty tables of the demo schema in a file registered as kSchoolDsn.
class EngineTestSchool
{
public:
    explicit EngineTestSchool(const demo::DemoOptions& options = demo::DemoOptions())
        : m_source("MorvEngineScratch")
    {
        m_path = m_source.Folder() + "/school.db";
        {
            demo::DemoDatabase db(m_path);
            demo::DemoSchema::Create(db, options);
        }
        m_source.AddDsn(kSchoolDsn, m_path);
    }

    void Exec(const std::string& sql) const
    {
        demo::DemoDatabase db(m_path);
        db.Execute(sql);
    }

    const TestOdbcSource& Source() const { return m_source; }
    const std::string& Path() const { return m_path; }

private:
    TestOdbcSource m_source;
    std::string m_path;
};

// The engine with access to what tests need to see or set.
class TestEngine : public ExpEngine
{
public:
    TestEngine()
    {
        m_receiver.onLog = [this](int level, const QString& message, const QString&) {
            logs.emplace_back(level, message);
        };
        m_receiver.onMissing = [this](const QString& key, const QString& message) {
            missing.emplace_back(key, message);
        };
        m_receiver.onWarning = [this](const QString& key, const QString& message) {
            warnings.emplace_back(key, message);
        };
        SetSink(&m_receiver);
    }
    // The receiver goes before the engine's own parts, which still log as
    // they close: they fall back to the silent sink.
    ~TestEngine() override { SetSink(nullptr); }

    // The tests read the files right after the import: put the run's files
    // in place at once, as the run's completion step would.
    void FinishImport() override
    {
        ExpEngine::FinishImport();
        CommitExport();
    }

    using ExpEngine::m_parameters;
    using ExpEngine::m_staffCodeMap;
    using ODBCExpEngineBase::m_pluralSchoolTable;

    bool Logged(const QString& text) const
    {
        return std::any_of(logs.begin(), logs.end(),
                           [&](const auto& entry) { return entry.second == text; });
    }

    // Whether an error (level 3) was logged whose text contains `part`.
    bool LoggedError(const QString& part) const
    {
        return std::any_of(logs.begin(), logs.end(), [&](const auto& entry) {
            return entry.first == 3 && entry.second.contains(part);
        });
    }

    std::vector<std::pair<int, QString>> logs;
    std::vector<std::pair<QString, QString>> missing;
    std::vector<std::pair<QString, QString>> warnings;

private:
    // Destroyed before the lists and before the base classes, which still
    // log while they close the connection.
    CallbackSink m_receiver;
};

// Parameters of a run against kSchoolDsn for school 0301.
inline ParamMap RunParameters(const QString& school = "0301")
{
    ParamMap parameters;
    parameters["dsn"] = kSchoolDsn;
    parameters["user"] = "clerk";
    parameters["pwd"] = "secret";
    parameters["school"] = school;
    parameters["appShortName_"] = "MORV";
    parameters["bridgeAlias_"] = "MORV";
    return parameters;
}

// Starts a run the way Execute does, up to the first table: the export
// folder, the run settings with the included-students list, and the import.
// False when the engine refuses the export folder.
inline bool StartExport(TestEngine& engine, const QTemporaryDir& folder,
                        const ParamMap& parameters = RunParameters())
{
    engine.m_parameters = parameters;
    if (!engine.SetPDEFolder(ToXString(folder.path())))
        return false;
    engine.PrepareRun(parameters);
    engine.StartImport();
    return true;
}

// The lines of a file split at CR LF; a missing file gives no lines and
// `exists` false.
inline std::vector<std::string> ReadLines(const QString& path, bool* exists = nullptr)
{
    if (exists)
        *exists = QFile::exists(path);
    std::vector<std::string> lines;
    const std::string bytes = ReadWholeFile(path).toStdString();
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start) + "<no CR LF>");
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The attendance rows of the update file at `path`, appended to `daily` and
// `period` by the section they stand in (header lines left out).
inline void ReadAttendanceRows(const QString& path, std::vector<std::string>& daily,
                               std::vector<std::string>& period)
{
    std::vector<std::string>* section = nullptr;
    for (const std::string& line : ReadLines(path)) {
        if (line == "// Cached Daily Attendance")
            section = &daily;
        else if (line == "// Cached Period Attendance")
            section = &period;
        else if (line == "*")
            section = nullptr;
        else if (section && line.rfind("AttStdRef", 0) != 0)
            section->push_back(line);
    }
}

inline std::vector<std::string> Sorted(std::vector<std::string> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The fields of one expected line joined by TAB.
inline std::string Line(std::initializer_list<const char*> fields)
{
    std::string line;
    bool first = true;
    for (const char* field : fields) {
        if (!first)
            line += '\t';
        line += field;
        first = false;
    }
    return line;
}

// Field `index` (from 0) of a TAB-separated line; empty past the last field.
inline std::string Field(const std::string& line, size_t index)
{
    size_t start = 0;
    for (; index > 0; --index) {
        start = line.find('\t', start);
        if (start == std::string::npos)
            return std::string();
        ++start;
    }
    return line.substr(start, line.find('\t', start) - start);
}

// The pairs of columns (numbered from 1) that hold the same value in every
// line: a fixture like that cannot show the two columns' sources swapped.
// Columns in `fixed` hold one value by design and are left out. Empty when
// every pair differs somewhere.
inline std::string AlikeColumns(const std::vector<std::string>& lines, const std::set<size_t>& fixed = {})
{
    if (lines.empty())
        return "no lines";
    const size_t columns = static_cast<size_t>(std::count(lines[0].begin(), lines[0].end(), '\t')) + 1;
    std::string pairs;
    for (size_t a = 0; a < columns; ++a) {
        for (size_t b = a + 1; b < columns; ++b) {
            if (fixed.count(a + 1) || fixed.count(b + 1))
                continue;
            const bool alike = std::all_of(lines.begin(), lines.end(),
                                           [&](const std::string& line) { return Field(line, a) == Field(line, b); });
            if (alike)
                pairs += std::to_string(a + 1) + "=" + std::to_string(b + 1) + " ";
        }
    }
    return pairs;
}

// A table test: the school filled with `rows`, an export folder and an engine.
class SchoolTableTest : public ::testing::Test
{
protected:
    explicit SchoolTableTest(std::initializer_list<const char*> rows)
        : m_rows(rows)
    {
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        for (const char* sql : m_rows)
            m_school.Exec(sql);
    }

    // The lines of a file of the export folder, as written or sorted.
    std::vector<std::string> Lines(const char* file, bool* exists = nullptr)
    {
        m_engine.CommitExport();
        return ReadLines(m_folder.filePath(file), exists);
    }
    std::vector<std::string> SortedLines(const char* file, bool* exists = nullptr)
    {
        return Sorted(Lines(file, exists));
    }

    // No table file the export wrote has two columns alike in every line.
    void ExpectEveryPairOfColumnsToDiffer()
    {
        m_engine.CommitExport();
        const QStringList files = QDir(m_folder.path()).entryList({"*.pef"}, QDir::Files);
        EXPECT_GE(files.size(), 3) << files.join(' ').toStdString();
        for (const QString& file : files) {
            SCOPED_TRACE(file.toStdString());
            const std::vector<std::string> lines = Lines(file.toStdString().c_str());
            EXPECT_EQ(AlikeColumns(lines), "") << lines.size() << " lines";
        }
    }

    std::vector<const char*> m_rows;
    EngineTestSchool m_school;
    QTemporaryDir m_folder;
    TestEngine m_engine;
};
