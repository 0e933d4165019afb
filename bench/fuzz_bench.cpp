// Fuzzing as a benchmark: each iteration checks one generated input. The
// generator is seeded, so a run can be repeated; MORV_FUZZ_SEED changes the
// seed and MORV_FUZZ_SAVE names a folder that receives the first input of
// every new outcome class (the corpus candidates) and any input that broke a
// check (an input read slower than kSlowMs among them). The baseline is the
// same reader on well-formed inputs only.
#include "tests/support/FuzzTargets.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <cstdlib>
#include <set>

namespace {

uint32_t Seed()
{
    const char *text = std::getenv("MORV_FUZZ_SEED");
    return text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : 20261210u;
}

void Save(const char *kind, const std::string &outcome, const QByteArray &bytes)
{
    const char *folder = std::getenv("MORV_FUZZ_SAVE");
    if (!folder)
        return;
    QDir().mkpath(QString::fromLocal8Bit(folder));
    QString name = QString::fromStdString(outcome);
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("_"));
    QFile file(QString::fromLocal8Bit(folder) + u'/' + QString::fromLatin1(kind) + u'-' + name.left(60));
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

// The outcome classes seen so far, across benchmark repetitions.
std::set<std::string> &Seen()
{
    static std::set<std::string> seen;
    return seen;
}

// An input that keeps a reader busy this long is a fault too: the importer
// waits for the answer (and a file of many attributes once took minutes).
constexpr qint64 kSlowMs = 2000;

// Checks one configuration file, timed.
fuzz::Verdict CheckTimed(const QByteArray &input, int expectedSchools = -1)
{
    QElapsedTimer timer;
    timer.start();
    fuzz::Verdict verdict = fuzz::CheckHNConfig(input, expectedSchools);
    const qint64 elapsed = timer.elapsed();
    if (verdict.fault.empty() && elapsed > kSlowMs)
        verdict.fault = "slow: " + std::to_string(elapsed) + " ms";
    return verdict;
}

void Report(benchmark::State &state, const char *kind, const fuzz::Verdict &verdict, const QByteArray &input,
            int64_t &faults)
{
    if (Seen().insert(std::string(kind) + verdict.outcome).second)
        Save(kind, verdict.outcome, input);
    if (!verdict.fault.empty()) {
        ++faults;
        Save(kind, "fault-" + verdict.fault, input);
        state.SkipWithError(verdict.fault.c_str());
    }
}

void BM_HNConfigWellFormed(benchmark::State &state)
{
    fuzz::Generator generator(Seed());
    int64_t faults = 0;
    for (auto _ : state) {
        int schools = 0;
        const QByteArray input = generator.WellFormedConfig(schools);
        Report(state, "hnconfig", CheckTimed(input, schools), input, faults);
    }
    state.counters["faults"] = static_cast<double>(faults);
}

void BM_HNConfigMutated(benchmark::State &state)
{
    fuzz::Generator generator(Seed());
    int64_t faults = 0;
    for (auto _ : state) {
        int schools = 0;
        const QByteArray input = generator.Mutate(generator.WellFormedConfig(schools));
        Report(state, "hnconfig", CheckTimed(input), input, faults);
    }
    state.counters["faults"] = static_cast<double>(faults);
    state.counters["outcomes"] = static_cast<double>(Seen().size());
}

void BM_CommandLine(benchmark::State &state)
{
    fuzz::Generator generator(Seed());
    int64_t faults = 0;
    for (auto _ : state) {
        std::map<QString, QString> expected;
        bool valid = false;
        const QStringList arguments = generator.CommandLine(expected, valid);
        const fuzz::Verdict verdict = fuzz::CheckCommandLine(arguments, valid ? &expected : nullptr);
        Report(state, "options", verdict, arguments.mid(1).join(u'\n').toUtf8(), faults);
    }
    state.counters["faults"] = static_cast<double>(faults);
}

// Time-bounded, not iteration-bounded: each runs for about two seconds.
BENCHMARK(BM_HNConfigWellFormed)->MinTime(2.0);
BENCHMARK(BM_HNConfigMutated)->MinTime(2.0);
BENCHMARK(BM_CommandLine)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
