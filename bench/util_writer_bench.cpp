// Benchmark: DelimitedTextWriter writing 1 million rows of 20 fields, timed
// against writing the same bytes with plain buffered fwrite in the same run.
// The "ratio" counter is writer time / fwrite time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "util/DelimitedTextWriter.h"
#include "util/XFileSpec.h"
#include "util/XString.h"

namespace {

const int kRows = 1000000;
const int kFields = 20;

// Field values of export-like sizes: codes, names, dates, empty fields.
std::vector<XString> SampleFields()
{
    const char* samples[] = {"100234", "Smith", "Jonathan", "2026-07-08", "", "M", "07/08/2026",
                             "555-0100", "123 Main Street", "Springfield", "A", "12", "Homeroom 4B",
                             "true", "0", "Grade 10", "x", "3.75", "Active", "N"};
    return std::vector<XString>(std::begin(samples), std::end(samples));
}

std::string OutputPath(const char* name)
{
    return std::string(MORV_BINARY_DIR) + "/" + name;
}

double WriteWithWriter(const std::vector<XString>& fields, const std::string& path)
{
    auto start = std::chrono::steady_clock::now();
    DelimitedTextWriter writer;
    writer.Open(XFileSpec::FromNativePath(path));
    for (int row = 0; row < kRows; ++row) {
        for (const XString& field : fields)
            writer.WriteField(field);
        writer.EndLine();
    }
    writer.Close();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double WriteWithFwrite(const std::vector<XString>& fields, const std::string& path)
{
    auto start = std::chrono::steady_clock::now();
    FILE* out = std::fopen(path.c_str(), "wb");
    for (int row = 0; row < kRows; ++row) {
        for (int i = 0; i < kFields; ++i) {
            if (i > 0)
                std::fputc('\t', out);
            std::fwrite(fields[i].GetText(), 1, fields[i].GetLength(), out);
        }
        std::fwrite("\r\n", 1, 2, out);
    }
    std::fclose(out);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_DelimitedWriterVsFwrite(benchmark::State& state)
{
    std::vector<XString> fields = SampleFields();
    std::string writerPath = OutputPath("util_bench_writer.pef");
    std::string plainPath = OutputPath("util_bench_fwrite.pef");
    double writerSeconds = 0, plainSeconds = 0;
    for (auto _ : state) {
        plainSeconds += WriteWithFwrite(fields, plainPath);
        writerSeconds += WriteWithWriter(fields, writerPath);
    }
    state.counters["writer_s"] = writerSeconds / state.iterations();
    state.counters["fwrite_s"] = plainSeconds / state.iterations();
    state.counters["ratio"] = writerSeconds / plainSeconds;
    unlink(writerPath.c_str());
    unlink(plainPath.c_str());
}

} // namespace

BENCHMARK(BM_DelimitedWriterVsFwrite)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
