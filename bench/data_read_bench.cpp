// Read speed of the data access object. One 1,000,000-row, 10-column table is
// made once per run in a private ODBC source and read as an export table is:
// the query built from the query model, run with RunQuery, every row visited
// with GetFirstRecord/GetNextRecord and every column read with GetText.
//   Sqlite3CliDump     the sqlite3 shell printing every row TAB-separated to
//                      /dev/null: the baseline of this run;
//   ReadStatic         the engine's cursor (static, rows held in memory), with
//                      the bytes the result holds and the growth of the
//                      process's peak memory;
//   ReadForwardOnly    the same through a forward-only cursor.
// ratio_to_cli is the mean wall time divided by the baseline's mean,
// cpu_ratio_to_cli the same for processor time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <time.h>

#include "data/DatabaseTypes.h"
#include "data/ODBCDataAccess.h"
#include "data/odbc/AdoRecordset.h"
#include "tests/support/TestOdbcSource.h"

namespace {

const long long kRows = 1000000;
const char* const kColumns[] = {"id", "a", "b", "c", "d", "e", "f", "g", "h", "i"};

TestOdbcSource& Source()
{
    static std::unique_ptr<TestOdbcSource> source;
    if (!source) {
        source = std::make_unique<TestOdbcSource>("MorvDataBench");
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

double g_cliSeconds = 0;     // mean wall time of the baseline in this run
double g_cliCpuSeconds = 0;  // mean processor time of the baseline

double ChildrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
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

// The data access object connected to the bench source, like the engine's.
std::unique_ptr<ODBCDataAccess> Connected(uint32_t options)
{
    auto access = std::make_unique<ODBCDataAccess>(options, DatabaseType::MSSQL);
    access->SetQuoteFieldNames(true);
    access->SetQuoteTableNames(true);
    access->SetDataSource(Source().Dsn().c_str());
    access->Connect(access->BuildConnectionString());
    return access;
}

// Builds and runs the query, reads every value as text; returns a checksum.
size_t ReadTable(ODBCDataAccess& access, size_t* heldBytes)
{
    access.ClearQuery();
    ODBCTable* table = access.AddTable("big", "B", true);
    std::vector<ODBCField*> fields;
    for (const char* column : kColumns)
        fields.push_back(access.AddQueryField(table, column, true));
    if (access.RunQuery(access.BuildQuery()) != 0)
        return 0;
    if (heldBytes)
        *heldBytes = access.HeldResultBytes();
    size_t sum = 0;
    for (bool more = access.GetFirstRecord(); more; more = access.GetNextRecord()) {
        for (ODBCField* field : fields)
            sum += access.GetText(field).GetLength();
    }
    access.CloseQuery();
    return sum;
}

void Sqlite3CliDump(benchmark::State& state)
{
    std::string select = "SELECT id, a, b, c, d, e, f, g, h, i FROM big";
    const std::string command =
        "sqlite3 -separator '\t' '" + Source().DatabasePath() + "' '" + select + "' > /dev/null";
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

void Read(benchmark::State& state, uint32_t options)
{
    auto access = Connected(options);
    ResetPeakRss();
    const long before = PeakRssKiB();
    size_t held = 0;
    double total = 0;
    const double cpuStart = ProcessCpuSeconds();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(ReadTable(*access, &held));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    // Wall time is what a user waits; processor time is steadier on a busy machine.
    const double n = static_cast<double>(state.iterations());
    if (g_cliSeconds > 0)
        state.counters["ratio_to_cli"] = total / n / g_cliSeconds;
    if (g_cliCpuSeconds > 0)
        state.counters["cpu_ratio_to_cli"] = (ProcessCpuSeconds() - cpuStart) / n / g_cliCpuSeconds;
    state.counters["held_MiB"] = static_cast<double>(held) / (1024.0 * 1024.0);
    state.counters["peak_rss_growth_MiB"] = static_cast<double>(PeakRssKiB() - before) / 1024.0;
    state.SetItemsProcessed(state.iterations() * kRows);
}

void ReadStatic(benchmark::State& state)
{
    Read(state, 0);
}

void ReadForwardOnly(benchmark::State& state)
{
    Read(state, DataAccessOption::ForwardOnly);
}

}  // namespace

BENCHMARK(Sqlite3CliDump)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(ReadForwardOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(ReadStatic)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
