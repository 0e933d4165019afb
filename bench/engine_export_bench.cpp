// The full table export of a 20,000-student demo school, as the importer
// starts it (`morvbridge run --demo` in its own process), against the sqlite3
// shell dumping the rows of the same source tables TAB-separated in the same
// run. Both run as child processes, so process start-up is in both figures;
// the bridge's peak resident memory comes from the kernel's accounting of the
// child.
//   Sqlite3TabDump           one SELECT per export table over its source table
//   MorvbridgeDemo           the bridge; counters: ratio_to_dump, peak_rss_MiB,
//                            lines
//   Sqlite3BridgeStatements  the statements the bridge logged in its run, run
//                            by the shell; counter bridge_ratio: how much the
//                            bridge adds to its own queries
#include "demo/DemoGenerator.h"
#include "demo/DemoOptions.h"
#include "tests/support/TestOdbcSource.h"
#include "child_process.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";
const int kStudents = 20000;

// The source table each export table of a full run reads, once per table.
const char* const kDumpSql =
    ".mode tabs\n"
    "SELECT * FROM SchoolCalendar WHERE _DistBldg = '0301' AND _Year = 2026;\n"   // Calendar
    "SELECT * FROM StudentSchedule WHERE _DistBldg = '0301' AND _Year = 2026;\n"  // Sections
    "SELECT * FROM ReportingTerms WHERE _DistBldg = '0301' AND _Year = 2026;\n"   // Terms
    "SELECT * FROM StudentSchedule WHERE _DistBldg = '0301' AND _Year = 2026;\n"  // Teachers
    "SELECT * FROM Staff WHERE _DistBldg = '0301' AND _Year = 2026;\n"
    "SELECT * FROM StudentDemographic WHERE _DistBldg = '0301' AND _Year = 2026;\n"
    "SELECT * FROM StudentEmisFD WHERE _DistBldg = '0301' AND _Year = 2026;\n"
    "SELECT * FROM StudentContacts WHERE _DistBldg = '0301' AND _Year = 2026;\n"  // Contacts
    "SELECT * FROM StudentContacts WHERE _DistBldg = '0301' AND _Year = 2026;\n"  // Contact numbers
    "SELECT * FROM StudentLocker_cy WHERE _DistBldg = '0301' AND _Year = 2026;\n"
    "SELECT * FROM StudentTransportation WHERE _DistBldg = '0301' AND _Year = 2026;\n"
    "SELECT * FROM StudentSchedule WHERE _DistBldg = '0301' AND _Year = 2026;\n"  // Schedules
    "SELECT * FROM StudentCourseMarks WHERE _DistBldg = '0301' AND _Year = 2026;\n"
    "SELECT * FROM StudentFees WHERE _DistBldg = '0301' AND _Year = 2026;\n"      // Fees
    "SELECT * FROM StudentFees WHERE _DistBldg = '0301' AND _Year = 2026;\n"      // Payments
    "SELECT * FROM StudentAbsenceSummary WHERE Building = '0301' AND Year = 2026;\n"
    "SELECT * FROM StudentDiscipline WHERE _DistBldg = '0301' AND _Year = 2026;\n"  // Conduct
    "SELECT * FROM StudentDiscipline WHERE _DistBldg = '0301' AND _Year = 2026;\n"  // Outcomes
    "SELECT * FROM CommunityService WHERE _DistBldg = '0301' AND _Year = 2026;\n"
    "SELECT * FROM StudentMedical WHERE _DistBldg = '0301' AND _Year = 2026;\n"
    "SELECT * FROM StudentAlert WHERE _DistBldg = '0301' AND _Year = 2026;\n";

// The generated school, its data source and a scratch folder, made once.
struct School {
    QTemporaryDir folder;
    TestOdbcSource source{"MorvBenchScratch"};
    std::string database;
    std::string dumpScript;

    School()
    {
        database = folder.filePath("morv-demo-20000.db").toStdString();
        demo::DemoOptions options;
        options.students = kStudents;
        demo::DemoGenerator::WriteFile(database, options);
        source.AddDsn("MORVBENCH", database);
        dumpScript = folder.filePath("dump.sql").toStdString();
        QFile script(QString::fromStdString(dumpScript));
        if (script.open(QIODevice::WriteOnly))
            script.write(kDumpSql);
    }
};

School& TheSchool()
{
    static School school;
    return school;
}


double g_dumpSeconds = 0;
double g_bridgeSeconds = 0;

void Sqlite3TabDump(benchmark::State& state)
{
    School& school = TheSchool();
    double total = 0;
    for (auto _ : state) {
        const ChildStats stats = Spawn({"sqlite3", school.database}, {}, school.dumpScript);
        if (!stats.ok) {
            state.SkipWithError("sqlite3 shell failed");
            return;
        }
        state.SetIterationTime(stats.seconds);
        total += stats.seconds;
    }
    g_dumpSeconds = total / static_cast<double>(state.iterations());
}

long CountLines(const QString& folder)
{
    long lines = 0;
    for (const QString& name : QDir(folder).entryList({"*.pef"}, QDir::Files)) {
        QFile file(folder + "/" + name);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        lines += file.readAll().count('\n');
    }
    return lines;
}

void MorvbridgeDemo(benchmark::State& state)
{
    School& school = TheSchool();
    const QString exportFolder = school.folder.filePath("export");
    double total = 0;
    long peak = 0;
    for (auto _ : state) {
        const ChildStats stats =
            Spawn({kBridge, "run", "--demo", "--dsn=MORVBENCH", "--user=bench", "--pwd=bench",
                   std::string("--school=") + demo::school::kMainBuilding,
                   "--path=" + exportFolder.toStdString()},
                  school.source.Environment());
        if (!stats.ok) {
            state.SkipWithError("morvbridge run --demo failed; see the log in the export folder");
            return;
        }
        state.SetIterationTime(stats.seconds);
        total += stats.seconds;
        peak = std::max(peak, stats.peakRssKiB);
    }
    const double mean = total / static_cast<double>(state.iterations());
    g_bridgeSeconds = mean;
    if (g_dumpSeconds > 0)
        state.counters["ratio_to_dump"] = mean / g_dumpSeconds;
    state.counters["peak_rss_MiB"] = static_cast<double>(peak) / 1024.0;
    state.counters["lines"] = static_cast<double>(CountLines(exportFolder));
}

// The SELECT texts of the bridge's last run, from its log file, where each
// statement is logged Base64-encoded as "BuildQuery Finished:" + text.
std::string BridgeStatements(const QString& exportFolder)
{
    std::string script = ".mode tabs\n";
    QStringList seen;
    for (const QString& name : QDir(exportFolder).entryList({"*.log"}, QDir::Files)) {
        QFile log(exportFolder + "/" + name);
        if (!log.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : log.readAll().split('\n')) {
            const int colon = line.indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray text = QByteArray::fromBase64(line.mid(colon + 1).trimmed());
            const int start = text.indexOf("BuildQuery Finished:");
            if (start < 0)
                continue;
            QString statement = QString::fromLatin1(text.mid(start + 20));
            // The shell speaks SQLite, which has no table hints.
            statement.replace(" WITH (NOLOCK) ", " ");
            if (!seen.contains(statement)) {
                seen << statement;
                script += statement.toStdString() + ";\n";
            }
        }
    }
    return seen.isEmpty() ? std::string() : script;
}

void Sqlite3BridgeStatements(benchmark::State& state)
{
    School& school = TheSchool();
    const std::string statements = BridgeStatements(school.folder.filePath("export"));
    if (statements.empty()) {
        state.SkipWithError("no logged statements; run MorvbridgeDemo first");
        return;
    }
    const std::string scriptPath = school.folder.filePath("statements.sql").toStdString();
    QFile script(QString::fromStdString(scriptPath));
    if (!script.open(QIODevice::WriteOnly) || script.write(statements.c_str()) < 0) {
        state.SkipWithError("cannot write the statement script");
        return;
    }
    script.close();
    double total = 0;
    for (auto _ : state) {
        const ChildStats stats = Spawn({"sqlite3", school.database}, {}, scriptPath);
        if (!stats.ok) {
            state.SkipWithError("sqlite3 shell failed on the bridge's statements");
            return;
        }
        state.SetIterationTime(stats.seconds);
        total += stats.seconds;
    }
    const double mean = total / static_cast<double>(state.iterations());
    if (mean > 0 && g_bridgeSeconds > 0)
        state.counters["bridge_ratio"] = g_bridgeSeconds / mean;
}

BENCHMARK(Sqlite3TabDump)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(MorvbridgeDemo)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Sqlite3BridgeStatements)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
