// The nightly runs of a demo school with a full year of absences, as the
// importer starts them (each bridge in its own process), this build against a
// baseline build of the bridge (MORV_BASELINE_BRIDGE) and against the raw
// read of the rows, all in one run and paired within each iteration, so that
// the machine's drift reaches both sides of every ratio alike.
//
//   UpdateExport/N  per iteration: the baseline's first update export
//                   (`run --att` into a new folder) and its second (again,
//                   nothing changed), then this build's two, then the raw
//                   read: the sqlite3 shell running the attendance SELECTs
//                   this build's first run logged.
//                   Counters: first_s, second_s, first_to_raw,
//                   second_to_raw, peak_rss_MiB (this build's first run), and
//                   with a baseline first_to_baseline, second_to_baseline,
//                   baseline_peak_rss_MiB.
//   FullExport/N    per iteration: the baseline's `run --demo`, this build's,
//                   and this build's with every fsync and fdatasync turned
//                   into a no-op by the call shim (MORV_SHIM_NOSYNC).
//                   Counters: s, flush_cost (this build against itself
//                   without flushes, minus 1), peak_rss_MiB, and with a
//                   baseline to_baseline, baseline_peak_rss_MiB.
//
// Each ratio is the median of the iterations' ratios.
// The demo school's absences are moved on to end yesterday (the demo year
// lies in the past), so the second update export reads a real overlap.
// MORV_BENCH_STUDENTS=20000,60000 picks the sizes (default 20000); a school
// of 60,000 students or more runs once, the others three times.
// bench/update-figures builds this and a baseline revision and runs it.
#include "demo/DemoGenerator.h"
#include "demo/DemoOptions.h"
#include "libraries/sqlitewrapper/cpp/database.h"
#include "tests/support/TestOdbcSource.h"
#include "child_process.h"
#include "export_bench_support.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";
const char* const kShim = MORV_BINARY_DIR "/tests/support/libmorv_call_shim.so";

struct School {
    QTemporaryDir folder;
    TestOdbcSource source{"MorvUpdateBenchScratch"};
    std::string database;

    explicit School(int students)
    {
        database = folder.filePath(QString("morv-demo-%1.db").arg(students)).toStdString();
        demo::DemoOptions options;
        options.students = students;
        demo::DemoGenerator::WriteFile(database, options);
        MoveAbsencesUpToToday();
        source.AddDsn("MORVBENCH", database);
    }

    // The demo school's year lies in the past; its absences are moved on so
    // that the year ends yesterday, as a school's does mid-year, and a
    // second update export finds the last weeks' absences in its overlap.
    void MoveAbsencesUpToToday() const
    {
        sqlite::Database db;
        db.Open(database.c_str(), nullptr, sqlite::Database::OpenReadWriteCreate);
        db.Execute(
            "CREATE TEMP TABLE shift AS SELECT CAST(julianday('now', 'localtime', 'start of day', '-1 day') - "
            "julianday(max(CalendarDate)) AS INTEGER) || ' days' AS days FROM StudentDailyAbsence;"
            "UPDATE StudentDailyAbsence SET "
            "CalendarDate = strftime('%Y-%m-%d %H:%M:%f', CalendarDate, (SELECT days FROM shift)), "
            "DateModified = strftime('%Y-%m-%d %H:%M:%f', DateModified, (SELECT days FROM shift));"
            "UPDATE StudentPeriodAbsence SET "
            "CalendarDate = strftime('%Y-%m-%d %H:%M:%f', CalendarDate, (SELECT days FROM shift));");
    }
};

School& TheSchool(int students)
{
    return OneSchoolAtATime<School>(students);
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

ChildStats RunBridge(const School& school, const std::string& bridge, const char* flag, const QString& folder,
                     std::vector<std::string> environment = {})
{
    const std::vector<std::string> base = school.source.Environment();
    environment.insert(environment.end(), base.begin(), base.end());
    return Spawn({bridge, "run", flag, "--dsn=MORVBENCH", "--user=bench", "--pwd=bench",
                  std::string("--school=") + demo::school::kMainBuilding, "--path=" + folder.toStdString()},
                 environment);
}

// A run's figures over the iterations.
struct Figures {
    std::vector<double> seconds;
    long peakKiB = 0;
    void Add(const ChildStats& stats)
    {
        seconds.push_back(stats.seconds);
        peakKiB = std::max(peakKiB, stats.peakRssKiB);
    }
};

std::vector<double> Ratios(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (b[i] > 0)
            ratios.push_back(a[i] / b[i]);
    return ratios;
}

void UpdateExport(benchmark::State& state, int students, const char* baseline)
{
    School& school = TheSchool(students);
    const QString folder = school.folder.filePath("export-update");
    const QString baselineFolder = school.folder.filePath("export-update-baseline");
    Figures first, second, baseFirst, baseSecond, raw;
    for (auto _ : state) {
        if (baseline) {
            QDir(baselineFolder).removeRecursively();
            const ChildStats a = RunBridge(school, baseline, "--att", baselineFolder);
            const ChildStats b = RunBridge(school, baseline, "--att", baselineFolder);
            if (!a.ok || !b.ok) {
                state.SkipWithError("the baseline bridge's run --att failed");
                return;
            }
            baseFirst.Add(a);
            baseSecond.Add(b);
        }
        QDir(folder).removeRecursively();
        const ChildStats a = RunBridge(school, kBridge, "--att", folder);
        const std::string statements = BridgeStatements(folder, "Absence");
        const ChildStats b = RunBridge(school, kBridge, "--att", folder);
        if (!a.ok || !b.ok || statements.empty()) {
            state.SkipWithError("morvbridge run --att failed; see the log in the export folder");
            return;
        }
        first.Add(a);
        second.Add(b);
        const std::string script = school.folder.filePath("attendance.sql").toStdString();
        QFile file(QString::fromStdString(script));
        if (!file.open(QIODevice::WriteOnly) || file.write(statements.c_str()) < 0) {
            state.SkipWithError("cannot write the statement script");
            return;
        }
        file.close();
        const ChildStats read = Spawn({"sqlite3", school.database}, {}, script);
        if (!read.ok) {
            state.SkipWithError("sqlite3 shell failed");
            return;
        }
        raw.Add(read);
        state.SetIterationTime(a.seconds + b.seconds);
    }
    state.counters["first_s"] = Median(first.seconds);
    state.counters["second_s"] = Median(second.seconds);
    state.counters["raw_s"] = Median(raw.seconds);
    state.counters["first_to_raw"] = Median(Ratios(first.seconds, raw.seconds));
    state.counters["second_to_raw"] = Median(Ratios(second.seconds, raw.seconds));
    state.counters["peak_rss_MiB"] = static_cast<double>(first.peakKiB) / 1024.0;
    if (baseline) {
        state.counters["first_to_baseline"] = Median(Ratios(first.seconds, baseFirst.seconds));
        state.counters["second_to_baseline"] = Median(Ratios(second.seconds, baseSecond.seconds));
        state.counters["baseline_first_to_raw"] = Median(Ratios(baseFirst.seconds, raw.seconds));
        state.counters["baseline_second_to_raw"] = Median(Ratios(baseSecond.seconds, raw.seconds));
        state.counters["baseline_peak_rss_MiB"] = static_cast<double>(baseFirst.peakKiB) / 1024.0;
    }
}

void FullExport(benchmark::State& state, int students, const char* baseline)
{
    School& school = TheSchool(students);
    const QString folder = school.folder.filePath("export-full");
    const QString baselineFolder = school.folder.filePath("export-full-baseline");
    const std::vector<std::string> noSync = {std::string("LD_PRELOAD=") + kShim, "MORV_SHIM_NOSYNC=1"};
    Figures bridge, unflushed, base;
    for (auto _ : state) {
        if (baseline) {
            const ChildStats b = RunBridge(school, baseline, "--demo", baselineFolder);
            if (!b.ok) {
                state.SkipWithError("the baseline bridge's run --demo failed");
                return;
            }
            base.Add(b);
        }
        const ChildStats a = RunBridge(school, kBridge, "--demo", folder);
        const ChildStats u = RunBridge(school, kBridge, "--demo", folder, noSync);
        if (!a.ok || !u.ok) {
            state.SkipWithError("morvbridge run --demo failed; see the log in the export folder");
            return;
        }
        bridge.Add(a);
        unflushed.Add(u);
        state.SetIterationTime(a.seconds);
    }
    state.counters["s"] = Median(bridge.seconds);
    state.counters["flush_cost"] = Median(Ratios(bridge.seconds, unflushed.seconds)) - 1;
    state.counters["peak_rss_MiB"] = static_cast<double>(bridge.peakKiB) / 1024.0;
    if (baseline) {
        state.counters["to_baseline"] = Median(Ratios(bridge.seconds, base.seconds));
        state.counters["baseline_peak_rss_MiB"] = static_cast<double>(base.peakKiB) / 1024.0;
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const char* baseline = std::getenv("MORV_BASELINE_BRIDGE");
    for (const int students : BenchSizes("20000")) {
        const int iterations = students >= 60000 ? 1 : 3;
        const auto add = [&](const char* name, auto function) {
            benchmark::RegisterBenchmark((std::string(name) + "/" + std::to_string(students)).c_str(), function)
                ->UseManualTime()
                ->Iterations(iterations)
                ->Unit(benchmark::kMillisecond);
        };
        add("UpdateExport", [students, baseline](benchmark::State& state) { UpdateExport(state, students, baseline); });
        add("FullExport", [students, baseline](benchmark::State& state) { FullExport(state, students, baseline); });
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
