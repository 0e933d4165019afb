// Benchmark: formatting 1 million dates with an export date format, against
// a plain snprintf of the same text from the split date in the same run.
// The "ratio" counter is XDate::Format time / snprintf time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

#include "util/XDate.h"

namespace {

const int kDates = 1000000;
const int32_t kFirstDay = 150000;   // about 2010

void BM_FormatDates(benchmark::State& state)
{
    double formatSeconds = 0, plainSeconds = 0;
    size_t bytes = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kDates; ++i) {
            XString text = XDate(kFirstDay + i % 20000).Format("MM/DD/YYYY");
            bytes += text.GetLength();
        }
        auto middle = std::chrono::steady_clock::now();
        for (int i = 0; i < kDates; ++i) {
            int y, m, d;
            XDate::Split(kFirstDay + i % 20000, y, m, d);
            char text[32];
            bytes += static_cast<size_t>(std::snprintf(text, sizeof text, "%02d/%02d/%04d", m, d, y));
        }
        auto end = std::chrono::steady_clock::now();
        formatSeconds += std::chrono::duration<double>(middle - start).count();
        plainSeconds += std::chrono::duration<double>(end - middle).count();
    }
    benchmark::DoNotOptimize(bytes);
    state.counters["format_ns_per_date"] = formatSeconds * 1e9 / (kDates * state.iterations());
    state.counters["snprintf_ns_per_date"] = plainSeconds * 1e9 / (kDates * state.iterations());
    state.counters["ratio"] = formatSeconds / plainSeconds;
}

} // namespace

BENCHMARK(BM_FormatDates)->Iterations(3)->Unit(benchmark::kMillisecond);
