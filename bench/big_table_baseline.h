// Shared parts of the benchmarks that read one large table over ODBC: the
// 1,000,000-row, 10-column table in a private ODBC source, the baseline (the
// sqlite3 shell dumping the same rows), the ratios against that baseline and
// the process's peak memory. Every benchmark is its own executable, so the
// baseline figures below are per run.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <type_traits>

#include <sys/resource.h>
#include <time.h>

#include "tests/support/TestOdbcSource.h"

namespace big_table {

const long long kRows = 1000000;
const char* const kSelect = "SELECT id, a, b, c, d, e, f, g, h, i FROM big";

// The source with table "big", made on the first call of the run.
inline TestOdbcSource& Source(const std::string& dsn)
{
    static std::unique_ptr<TestOdbcSource> source;
    if (!source) {
        source = std::make_unique<TestOdbcSource>(dsn);
        source->Exec("CREATE TABLE big (id INTEGER, a INTEGER, b SMALLINT, c BIGINT, d DOUBLE, e DOUBLE, "
                     "f VARCHAR(20), g VARCHAR(40), h TEXT, i DATE);"
                     "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " +
                     std::to_string(kRows) +
                     ") INSERT INTO big SELECT x, x * 7, x % 1000, x * 100003, x / 3.0, x * 0.25, "
                     "'S' || x, 'Lastname' || (x % 5000) || ' Firstname', 'Note about record number ' || x, "
                     "date('2009-01-01', '+' || (x % 365) || ' days') FROM n;");
    }
    return *source;
}

inline double g_cliSeconds = 0;     // mean wall time of the baseline in this run
inline double g_cliCpuSeconds = 0;  // mean processor time of the baseline

// Processor time of this process, and of its finished children.
inline double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

inline double ChildrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline long PeakRssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

// Resets the peak to the current size and returns it, so that a later
// SetPeakRssGrowth shows only what the measured code added.
inline long StartPeakRss()
{
    std::ofstream("/proc/self/clear_refs") << "5";
    return PeakRssKiB();
}

inline void SetPeakRssGrowth(benchmark::State& state, long startKiB)
{
    state.counters["peak_rss_growth_MiB"] = static_cast<double>(PeakRssKiB() - startKiB) / 1024.0;
}

// Runs `body` once per iteration and reports its wall time as the iteration
// time (the benchmarks use manual time). Returns the mean wall time. A body
// may return bool: on false the benchmark is marked failed with `failure`
// and -1 is returned.
template <typename Body>
double TimeIterations(benchmark::State& state, Body body, const char* failure = "")
{
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        bool ok = true;
        if constexpr (std::is_same_v<decltype(body()), bool>)
            ok = body();
        else
            body();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!ok) {
            state.SkipWithError(failure);
            return -1;
        }
        state.SetIterationTime(seconds);
        total += seconds;
    }
    return total / static_cast<double>(state.iterations());
}

// The baseline: the sqlite3 shell printing every row TAB-separated to
// /dev/null. Stores its mean wall and processor time for the ratios.
inline void Sqlite3CliDump(benchmark::State& state, const std::string& databasePath)
{
    const std::string command =
        "sqlite3 -separator '\t' '" + databasePath + "' '" + kSelect + "' > /dev/null";
    const double cpuStart = ChildrenCpuSeconds();
    const double wallMean =
        TimeIterations(state, [&] { return std::system(command.c_str()) == 0; }, "sqlite3 shell failed");
    if (wallMean < 0)
        return;
    g_cliSeconds = wallMean;
    g_cliCpuSeconds = (ChildrenCpuSeconds() - cpuStart) / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * kRows);
}

// Ratios against the baseline: wall time (what a user waits) and processor
// time (steadier on a busy machine).
inline void SetRatios(benchmark::State& state, double wallMean, double cpuMean)
{
    if (g_cliSeconds > 0)
        state.counters["ratio_to_cli"] = wallMean / g_cliSeconds;
    if (g_cliCpuSeconds > 0)
        state.counters["cpu_ratio_to_cli"] = cpuMean / g_cliCpuSeconds;
}

}  // namespace big_table
