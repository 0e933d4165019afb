// "defaults" as the importer starts it (`morvbridge defaults --path=FILE`, a
// process each time) on the configuration files that once hung it or took
// hundreds of megabytes, against the importer's own one-school file in the
// same run. Process start-up is in every figure.
//
//   OneSchool                    the baseline: a file the importer writes
//   FortyThousandAttributes      one element with 40,000 attributes
//   FiveHundredThousandAttributes  one element with 500,000 attributes
//   TenMegabytesOfEntries        10 MB of empty school entries
//   LargestAccepted              9,998 full entries, just under every bound
//   Baseline*/...                only with MORV_BASELINE_BRIDGE=<morvbridge>:
//                                another build of the bridge on the first
//                                files (the 500,000 attributes once took more
//                                than five minutes, so it is left out)
//
// Counters: ratio_to_one_school (time against the baseline file, same
// bridge), peak_rss_MiB (the child's largest resident set as the kernel
// reports it at exit; it starts from this process's own few MiB, which the
// one-school line shows), exit (the bridge's exit status).
#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";

struct Child {
    double seconds = 0;
    long peakRssKiB = 0;
    int exitCode = -1;
};

// One run of `bridge defaults --path=file`, its output discarded.
Child RunDefaults(const std::string& bridge, const std::string& file)
{
    const std::string path = "--path=" + file;
    std::vector<char*> argv = {const_cast<char*>(bridge.c_str()), const_cast<char*>("defaults"),
                               const_cast<char*>(path.c_str()), const_cast<char*>("--log=off"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Child child;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return child;
    int status = 0;
    struct rusage usage = {};
    if (wait4(pid, &status, 0, &usage) != pid)
        return child;
    child.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    child.peakRssKiB = usage.ru_maxrss;
    child.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return child;
}

// The input files, written once, piece by piece (this process's own memory
// would be counted in the child's figure).
class Inputs {
public:
    static Inputs& Get()
    {
        static Inputs inputs;
        return inputs;
    }
    std::string Path(const std::string& name) const { return m_folder.filePath(QString::fromStdString(name)).toStdString(); }

private:
    Inputs()
    {
        Write("OneSchool", "<HNSchoolConf SISImportFolder=\"C:\\PDE\\\" SISDSN=\"Morv\" SISUserName=\"clerk\" "
                           "SISPassword=\"Qw7!\" SchoolNumber=\"0101\"/>",
              1);
        WriteAttributes("FortyThousandAttributes", 40000);
        WriteAttributes("FiveHundredThousandAttributes", 500000);
        Write("TenMegabytesOfEntries", "<HNSchoolConf/>", 10 * 1024 * 1024 / 15);
        const QByteArray value(148, 'v');
        Write("LargestAccepted",
              "<HNSchoolConf SISImportFolder=\"" + value + "\" SISDSN=\"" + value + "\" SISUserName=\"" + value +
                  "\" SISPassword=\"" + value + "\" SchoolNumber=\"" + value + "\"/>",
              9998);
    }
    void Write(const std::string& name, const QByteArray& entry, int count)
    {
        QFile file(QString::fromStdString(Path(name)));
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        file.write("<?xml version=\"1.0\"?>\n<HNSchoolConfFile>");
        for (int i = 0; i < count; ++i)
            file.write(entry);
        file.write("</HNSchoolConfFile>\n");
    }
    void WriteAttributes(const std::string& name, int count)
    {
        QFile file(QString::fromStdString(Path(name)));
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        file.write("<?xml version=\"1.0\"?>\n<HNSchoolConfFile><HNSchoolConf");
        for (int i = 0; i < count; ++i)
            file.write(" a" + QByteArray::number(i) + "=\"v\"");
        file.write("/></HNSchoolConfFile>\n");
    }

    QTemporaryDir m_folder;
};

// Seconds of the one-school file, per bridge, for the ratios.
std::map<std::string, double>& OneSchoolSeconds()
{
    static std::map<std::string, double> seconds;
    return seconds;
}

void Measure(benchmark::State& state, const std::string& bridge, const std::string& input)
{
    const std::string file = Inputs::Get().Path(input);
    double total = 0;
    long peak = 0;
    int exitCode = -1;
    for (auto _ : state) {
        const Child child = RunDefaults(bridge, file);
        state.SetIterationTime(child.seconds);
        total += child.seconds;
        peak = std::max(peak, child.peakRssKiB);
        exitCode = child.exitCode;
    }
    const double mean = total / static_cast<double>(state.iterations());
    if (input == "OneSchool")
        OneSchoolSeconds()[bridge] = mean;
    if (OneSchoolSeconds().count(bridge) && OneSchoolSeconds()[bridge] > 0)
        state.counters["ratio_to_one_school"] = mean / OneSchoolSeconds()[bridge];
    state.counters["peak_rss_MiB"] = static_cast<double>(peak) / 1024.0;
    state.counters["exit"] = exitCode;
}

void Register(const char* prefix, const std::string& bridge, const std::vector<std::string>& inputs)
{
    for (const std::string& input : inputs)
        benchmark::RegisterBenchmark((std::string(prefix) + input).c_str(),
                                     [bridge, input](benchmark::State& state) { Measure(state, bridge, input); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (const char* baseline = std::getenv("MORV_BASELINE_BRIDGE"))
        Register("Baseline", baseline, {"OneSchool", "FortyThousandAttributes", "TenMegabytesOfEntries"});
    Register("", kBridge,
             {"OneSchool", "FortyThousandAttributes", "FiveHundredThousandAttributes", "TenMegabytesOfEntries",
              "LargestAccepted"});
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
