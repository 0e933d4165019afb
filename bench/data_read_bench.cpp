// Read speed of the data access object. One 1,000,000-row, 10-column table is
// made once per run in a private ODBC source and read as an export table is:
// the query built from the query model, run with RunQuery, every row visited
// with GetFirstRecord/GetNextRecord and every column read with GetText.
//   Sqlite3CliDump     the sqlite3 shell printing every row TAB-separated to
//                      /dev/null: the baseline of this run;
//   ReadStatic         a static cursor (rows held in memory, as for a query
//                      whose count is needed before its rows), with the
//                      bytes the result holds and the growth of the
//                      process's peak memory;
//   ReadForwardOnly    the same through a forward-only cursor, as export
//                      tables are read.
// ratio_to_cli is the mean wall time divided by the baseline's mean,
// cpu_ratio_to_cli the same for processor time.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "bench/big_table_baseline.h"
#include "data/DatabaseTypes.h"
#include "data/ODBCDataAccess.h"
#include "data/odbc/AdoRecordset.h"

namespace {

using namespace big_table;

const char* const kColumns[] = {"id", "a", "b", "c", "d", "e", "f", "g", "h", "i"};

TestOdbcSource& Source()
{
    return big_table::Source("MorvDataBench");
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
    access.RunQuery(access.BuildQuery());
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
    big_table::Sqlite3CliDump(state, Source().DatabasePath());
}

void Read(benchmark::State& state, uint32_t options)
{
    auto access = Connected(options);
    const long peakStart = StartPeakRss();
    size_t held = 0;
    const double cpuStart = ProcessCpuSeconds();
    const double wallMean = TimeIterations(state, [&] {
        benchmark::DoNotOptimize(ReadTable(*access, &held));
    });
    SetRatios(state, wallMean, (ProcessCpuSeconds() - cpuStart) / static_cast<double>(state.iterations()));
    state.counters["held_MiB"] = static_cast<double>(held) / (1024.0 * 1024.0);
    SetPeakRssGrowth(state, peakStart);
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
