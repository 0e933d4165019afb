// The full table export of demo schools of 2,000, 20,000 and 60,000 students,
// as the importer starts it (`morvbridge run --demo` in its own process),
// against the sqlite3 shell doing the database's share of the work in the
// same run. Every program runs as a child process, so process start-up is in
// every figure; peak memory is the child's own largest resident set.
//
// Per school size N, in this order:
//   Sqlite3TabDump/N           the shell dumping, TAB-separated, every source
//                              table the export reads (once per export table)
//   BaselineDemo/N             only with MORV_BASELINE_BRIDGE=<morvbridge>:
//                              another build of the bridge, for before and
//                              after figures from one run
//   Sqlite3BaselineStatements/N  the statements that build logged, run by
//                              the shell
//   MorvbridgeDemo/N           this build's bridge
//   Sqlite3BridgeStatements/N  the statements this bridge logged, run by the
//                              shell
// Counters of the bridge runs: ratio_to_dump (against the dump of the same
// size), peak_rss_MiB, lines (export lines written) and, with a baseline,
// same_rows (1 when both builds wrote the same lines into the same files,
// in any order). The statement runs add ratio_to_statements: the bridge's
// time divided by the shell's for the bridge's own statements.
//
// MORV_BENCH_STUDENTS=2000,20000 picks the sizes (default 2000,20000,60000);
// the 60,000-student school runs once per benchmark, the others three times.
#include "demo/DemoGenerator.h"
#include "demo/DemoOptions.h"
#include "tests/support/TestOdbcSource.h"
#include "child_process.h"
#include "export_bench_support.h"

#include <benchmark/benchmark.h>

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>


namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";

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

// A generated school of one size, its data source and its scratch folders,
// made when a benchmark of that size first runs.
struct School {
    QTemporaryDir folder;
    TestOdbcSource source{"MorvBenchScratch"};
    std::string database;
    std::string dumpScript;

    explicit School(int students)
    {
        database = folder.filePath(QString("morv-demo-%1.db").arg(students)).toStdString();
        demo::DemoOptions options;
        options.students = students;
        demo::DemoGenerator::WriteFile(database, options);
        source.AddDsn("MORVBENCH", database);
        dumpScript = folder.filePath("dump.sql").toStdString();
        QFile script(QString::fromStdString(dumpScript));
        if (script.open(QIODevice::WriteOnly))
            script.write(kDumpSql);
    }

    QString ExportFolder(const char* bridge) const { return folder.filePath(QString("export-") + bridge); }
};

School& TheSchool(int students)
{
    return OneSchoolAtATime<School>(students);
}

// Mean seconds per benchmark name and size, for the ratios.
std::map<std::string, double>& Means()
{
    static std::map<std::string, double> means;
    return means;
}

std::string Key(const char* what, int students)
{
    return std::string(what) + "/" + std::to_string(students);
}

// Runs `command` on the school's dump or statement script; the mean is
// stored under `key`.
void RunShell(benchmark::State& state, const School& school, const std::string& script, const std::string& key)
{
    double total = 0;
    for (auto _ : state) {
        const ChildStats stats = Spawn({"sqlite3", school.database}, {}, script);
        if (!stats.ok) {
            state.SkipWithError("sqlite3 shell failed");
            return;
        }
        state.SetIterationTime(stats.seconds);
        total += stats.seconds;
    }
    Means()[key] = total / static_cast<double>(state.iterations());
}

void Sqlite3TabDump(benchmark::State& state, int students)
{
    School& school = TheSchool(students);
    RunShell(state, school, school.dumpScript, Key("dump", students));
}

void BridgeDemo(benchmark::State& state, int students, const std::string& bridge, const char* name)
{
    School& school = TheSchool(students);
    const QString exportFolder = school.ExportFolder(name);
    double total = 0;
    long peak = 0;
    for (auto _ : state) {
        const ChildStats stats =
            Spawn({bridge, "run", "--demo", "--dsn=MORVBENCH", "--user=bench", "--pwd=bench",
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
    Means()[Key(name, students)] = mean;
    const double dump = Means()[Key("dump", students)];
    if (dump > 0)
        state.counters["ratio_to_dump"] = mean / dump;
    state.counters["peak_rss_MiB"] = static_cast<double>(peak) / 1024.0;
    long lines = 0;
    const auto written = SortedExport(exportFolder, &lines);
    state.counters["lines"] = static_cast<double>(lines);
    if (std::string(name) == "bridge" && Means().count(Key("baseline", students))) {
        const auto before = SortedExport(school.ExportFolder("baseline"), nullptr);
        state.counters["same_rows"] = before == written ? 1 : 0;
    }
}

void Sqlite3Statements(benchmark::State& state, int students, const char* name)
{
    School& school = TheSchool(students);
    const std::string statements = BridgeStatements(school.ExportFolder(name));
    if (statements.empty()) {
        state.SkipWithError("no logged statements; the bridge's run comes first");
        return;
    }
    const std::string scriptPath = school.folder.filePath(QString("statements-") + name + ".sql").toStdString();
    QFile script(QString::fromStdString(scriptPath));
    if (!script.open(QIODevice::WriteOnly) || script.write(statements.c_str()) < 0) {
        state.SkipWithError("cannot write the statement script");
        return;
    }
    script.close();
    const std::string key = Key((std::string(name) + "-statements").c_str(), students);
    RunShell(state, school, scriptPath, key);
    const double bridge = Means()[Key(name, students)];
    if (Means()[key] > 0 && bridge > 0)
        state.counters["ratio_to_statements"] = bridge / Means()[key];
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const char* baseline = std::getenv("MORV_BASELINE_BRIDGE");
    for (const int students : BenchSizes()) {
        const int iterations = students >= 60000 ? 1 : 3;
        const auto add = [&](const char* name, auto function) {
            benchmark::RegisterBenchmark((std::string(name) + "/" + std::to_string(students)).c_str(), function)
                ->UseManualTime()
                ->Iterations(iterations)
                ->Unit(benchmark::kMillisecond);
        };
        add("Sqlite3TabDump", [students](benchmark::State& state) { Sqlite3TabDump(state, students); });
        if (baseline) {
            const std::string path(baseline);
            add("BaselineDemo", [students, path](benchmark::State& state) {
                BridgeDemo(state, students, path, "baseline");
            });
            add("Sqlite3BaselineStatements",
                [students](benchmark::State& state) { Sqlite3Statements(state, students, "baseline"); });
        }
        add("MorvbridgeDemo",
            [students](benchmark::State& state) { BridgeDemo(state, students, kBridge, "bridge"); });
        add("Sqlite3BridgeStatements",
            [students](benchmark::State& state) { Sqlite3Statements(state, students, "bridge"); });
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
