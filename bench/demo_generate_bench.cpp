// How long the demo generator takes for a 20,000-student school with a full
// year of attendance, next to the baseline of the same number of rows written
// by plain prepared inserts into one table in one transaction. The ratio of
// the two times is the figure to watch; both run in the same process.
#include "demo/DemoDatabase.h"
#include "demo/DemoGenerator.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <cstdio>

namespace {

const int kStudents = 20000;

std::string FilePath(const QTemporaryDir& dir, const char* name)
{
    return (dir.path() + "/" + name).toStdString();
}

// Total rows of the generated school, measured once.
long long GeneratedRows()
{
    static long long rows = [] {
        QTemporaryDir dir;
        demo::DemoOptions options;
        options.students = kStudents;
        long long total = 0;
        for (const auto& count : demo::DemoGenerator::WriteFile(FilePath(dir, "count.db"), options))
            total += count.rows;
        return total;
    }();
    return rows;
}

void BM_GenerateDemoSchool(benchmark::State& state)
{
    QTemporaryDir dir;
    demo::DemoOptions options;
    options.students = kStudents;
    for (auto _ : state)
        demo::DemoGenerator::WriteFile(FilePath(dir, "school.db"), options);
    state.counters["rows"] = static_cast<double>(GeneratedRows());
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(GeneratedRows()) * state.iterations(),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GenerateDemoSchool)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PlainInsertsBaseline(benchmark::State& state)
{
    QTemporaryDir dir;
    const long long rows = GeneratedRows();
    for (auto _ : state) {
        const std::string path = FilePath(dir, "plain.db");
        std::remove(path.c_str());
        demo::DemoDatabase db(path);
        db.Execute("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; BEGIN;"
                   "CREATE TABLE Plain (StudentNumber VARCHAR(10), _DistBldg VARCHAR(4), _Year INT,"
                   " CalendarDate DATETIME, Code VARCHAR(2), Note VARCHAR(40))");
        demo::DemoInserter insert(db, "Plain", {"StudentNumber", "_DistBldg", "_Year", "CalendarDate", "Code", "Note"});
        for (long long i = 0; i < rows; ++i)
            insert.Insert({std::to_string(100000 + i % kStudents), "0301", 2026, "2025-09-02 00:00:00.000", "A",
                           "Illness"});
        db.Execute("COMMIT");
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows) * state.iterations(),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlainInsertsBaseline)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
