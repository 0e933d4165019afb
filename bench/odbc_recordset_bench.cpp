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

#include <string>

#include "bench/big_table_baseline.h"
#include "data/odbc/AdoConnection.h"
#include "data/odbc/AdoRecordset.h"

namespace {

using namespace big_table;

TestOdbcSource& Source()
{
    return big_table::Source("MorvBench");
}

std::string Connection()
{
    return "Provider=MSDASQL;Persist Security Info=False;Data Source=" + Source().Dsn() + ";Trusted_Connection=yes;";
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

void Sqlite3CliDump(benchmark::State& state)
{
    big_table::Sqlite3CliDump(state, Source().DatabasePath());
}

void RecordsetForwardOnly(benchmark::State& state)
{
    AdoConnection connection;
    connection.Open(Connection());
    const double cpuStart = ProcessCpuSeconds();
    const double wallMean = TimeIterations(state, [&] {
        AdoRecordset rs;
        rs.Open(kSelect, connection, adOpenForwardOnly);
        benchmark::DoNotOptimize(Walk(rs));
    });
    SetRatios(state, wallMean, (ProcessCpuSeconds() - cpuStart) / static_cast<double>(state.iterations()));
    state.SetItemsProcessed(state.iterations() * kRows);
}

void RecordsetStatic(benchmark::State& state)
{
    AdoConnection connection;
    connection.Open(Connection());
    const long peakStart = StartPeakRss();
    size_t held = 0;
    const double cpuStart = ProcessCpuSeconds();
    const double wallMean = TimeIterations(state, [&] {
        AdoRecordset rs;
        rs.Open(kSelect, connection, adOpenStatic);
        held = rs.BufferedBytes();
        benchmark::DoNotOptimize(Walk(rs));
    });
    state.counters["held_MiB"] = static_cast<double>(held) / (1024.0 * 1024.0);
    SetPeakRssGrowth(state, peakStart);
    SetRatios(state, wallMean, (ProcessCpuSeconds() - cpuStart) / static_cast<double>(state.iterations()));
    state.SetItemsProcessed(state.iterations() * kRows);
}

}  // namespace

BENCHMARK(Sqlite3CliDump)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(RecordsetForwardOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(RecordsetStatic)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
