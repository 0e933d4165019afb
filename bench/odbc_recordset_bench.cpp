// Recordset read speed and memory. One 1,000,000-row, 10-column table is made
// once per run in a private ODBC source. Three measurements, in this order:
//   Sqlite3CliDump       the sqlite3 shell printing every row TAB-separated to
//                        /dev/null: the baseline;
//   RecordsetForwardOnly every row through a forward-only recordset, every
//                        value touched; its counter ratio_to_cli is its time
//                        divided by the baseline's mean of the same run;
//   RecordsetStatic      the same through a static (buffered) recordset, with
//                        the bytes it holds and the process's peak memory.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include <sys/resource.h>
#include <time.h>

#include "data/odbc/AdoConnection.h"
#include "data/odbc/AdoRecordset.h"
#include "tests/support/TestOdbcSource.h"

namespace {

const long long kRows = 1000000;
const char* const kSelect = "SELECT id, a, b, c, d, e, f, g, h, i FROM big";

TestOdbcSource& Source()
{
    static std::unique_ptr<TestOdbcSource> source;
    if (!source) {
        source = std::make_unique<TestOdbcSource>("MorvBench");
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

std::string Connection()
{
    return "Provider=MSDASQL;Persist Security Info=False;Data Source=" + Source().Dsn() + ";Trusted_Connection=yes;";
}

double g_cliSeconds = 0;     // mean wall time of the baseline in this run
double g_cliCpuSeconds = 0;  // mean processor time of the baseline

// Processor time of this process, and of its finished children.
double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double ChildrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Ratios against the baseline: wall time (what a user waits) and processor
// time (steadier on a busy machine).
void SetRatios(benchmark::State& state, double wallMean, double cpuMean)
{
    if (g_cliSeconds > 0)
        state.counters["ratio_to_cli"] = wallMean / g_cliSeconds;
    if (g_cliCpuSeconds > 0)
        state.counters["cpu_ratio_to_cli"] = cpuMean / g_cliCpuSeconds;
}

// Reads every value so that no reading can be skipped; returns a checksum.
size_t Walk(AdoRecordset& rs)
{
    size_t sum = 0;
    AdoFields& fields = rs.Fields();
    const long count = fields.Count();
    for (; !rs.IsEOF(); rs.MoveNext()) {
        for (long i = 0; i < count; ++i) {
            const AdoVariant& v = fields.Item(i).Value();
            sum += v.Text().size() + static_cast<size_t>(v.AsInt64()) + static_cast<size_t>(v.AsDouble());
        }
    }
    return sum;
}

long PeakRssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

void ResetPeakRss()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

void Sqlite3CliDump(benchmark::State& state)
{
    const std::string command = "sqlite3 -separator '\t' '" + Source().DatabasePath() + "' '" + kSelect +
                                "' > /dev/null";
    double total = 0;
    const double cpuStart = ChildrenCpuSeconds();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int rc = std::system(command.c_str());
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (rc != 0) {
            state.SkipWithError("sqlite3 shell failed");
            return;
        }
        state.SetIterationTime(seconds);
        total += seconds;
    }
    g_cliSeconds = total / static_cast<double>(state.iterations());
    g_cliCpuSeconds = (ChildrenCpuSeconds() - cpuStart) / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * kRows);
}

void RecordsetForwardOnly(benchmark::State& state)
{
    AdoConnection connection;
    connection.Open(Connection());
    double total = 0;
    const double cpuStart = ProcessCpuSeconds();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        AdoRecordset rs;
        rs.Open(kSelect, connection, adOpenForwardOnly);
        benchmark::DoNotOptimize(Walk(rs));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    const double n = static_cast<double>(state.iterations());
    SetRatios(state, total / n, (ProcessCpuSeconds() - cpuStart) / n);
    state.SetItemsProcessed(state.iterations() * kRows);
}

void RecordsetStatic(benchmark::State& state)
{
    AdoConnection connection;
    connection.Open(Connection());
    ResetPeakRss();
    const long before = PeakRssKiB();
    size_t held = 0;
    double total = 0;
    const double cpuStart = ProcessCpuSeconds();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        AdoRecordset rs;
        rs.Open(kSelect, connection, adOpenStatic);
        held = rs.BufferedBytes();
        benchmark::DoNotOptimize(Walk(rs));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    state.counters["held_MiB"] = static_cast<double>(held) / (1024.0 * 1024.0);
    state.counters["peak_rss_growth_MiB"] = static_cast<double>(PeakRssKiB() - before) / 1024.0;
    const double n = static_cast<double>(state.iterations());
    SetRatios(state, total / n, (ProcessCpuSeconds() - cpuStart) / n);
    state.SetItemsProcessed(state.iterations() * kRows);
}

}  // namespace

BENCHMARK(Sqlite3CliDump)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(RecordsetForwardOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(RecordsetStatic)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
