// The full export of a 2,000-student demo school read through FreeTDS from
// the test suite's stand-in SQL Server (the production path), against the
// same school read straight from its SQLite file. Each run is the bridge as
// the importer starts it (`morvbridge run --demo` in its own process).
//
// Counters: bridge_cpu_share, the bridge's CPU time (user and system) over
// the run's wall time, and bridge_cpu_s, that time per run; server_cpu_share
// and server_cpu_s, the stand-in's over the same time (it runs in Python and
// answers from SQLite, so it stands for a server, not for SQL Server's own
// speed). On a busy machine the shares fall with the CPU the runs get, the
// seconds do not; lines written; same_rows (1 when the FreeTDS
// run wrote the same lines into the same files as the SQLite run, in any
// order).
//
// MORV_BENCH_STUDENTS=N picks other sizes (default 2000).
#include "demo/DemoGenerator.h"
#include "demo/DemoOptions.h"
#include "tests/support/TestOdbcSource.h"
#include "tests/support/TestTdsServer.h"
#include "child_process.h"
#include "export_bench_support.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";
const char* const kLiteDsn = "MorvBenchLite";

struct School {
    QTemporaryDir folder;
    int students = 0;
    std::unique_ptr<TestOdbcSource> lite;
    std::unique_ptr<TestTdsServer> server;
};

School& SchoolOf(int students)
{
    static School school;
    if (school.students == students)
        return school;
    school.server.reset();
    school.lite.reset();
    const std::string file = school.folder.filePath("school-" + QString::number(students) + ".db").toStdString();
    demo::DemoOptions options;
    options.students = students;
    demo::DemoGenerator::WriteFile(file, options);
    school.lite = std::make_unique<TestOdbcSource>("MorvBenchLiteOwn");
    school.lite->AddDsn(kLiteDsn, file);
    school.server = std::make_unique<TestTdsServer>(file);
    school.students = students;
    return school;
}

double ChildrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds a running process has used so far (utime and stime of
// /proc/<pid>/stat).
double ProcessCpuSeconds(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void Export(benchmark::State& state, int students, bool throughTds)
{
    School& school = SchoolOf(students);
    const QString folder = school.folder.filePath(throughTds ? "export-tds" : "export-lite");
    std::vector<std::string> environment = throughTds ? school.server->Environment() : school.lite->Environment();
    environment.push_back("HOME=" + school.folder.path().toStdString());
    environment.push_back("LANG=C.UTF-8");
    double wall = 0, bridgeCpu = 0, serverCpu = 0;
    for (auto _ : state) {
        const double childrenBefore = ChildrenCpuSeconds();
        const double serverBefore = ProcessCpuSeconds(school.server->Pid());
        const ChildStats stats =
            Spawn({kBridge, "run", "--demo", std::string("--dsn=") + (throughTds ? TestTdsServer::Dsn : kLiteDsn),
                   std::string("--user=") + TestTdsServer::User, std::string("--pwd=") + TestTdsServer::Password,
                   std::string("--school=") + demo::school::kMainBuilding, "--path=" + folder.toStdString()},
                  environment);
        if (!stats.ok) {
            state.SkipWithError("morvbridge run --demo failed; see the log in the export folder");
            return;
        }
        state.SetIterationTime(stats.seconds);
        wall += stats.seconds;
        bridgeCpu += ChildrenCpuSeconds() - childrenBefore;
        serverCpu += ProcessCpuSeconds(school.server->Pid()) - serverBefore;
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["bridge_cpu_share"] = wall > 0 ? bridgeCpu / wall : 0;
    state.counters["bridge_cpu_s"] = bridgeCpu / runs;
    if (throughTds) {
        state.counters["server_cpu_share"] = wall > 0 ? serverCpu / wall : 0;
        state.counters["server_cpu_s"] = serverCpu / runs;
    }
    long lines = 0;
    const auto written = SortedExport(folder, &lines);
    state.counters["lines"] = static_cast<double>(lines);
    if (throughTds)
        state.counters["same_rows"] = SortedExport(school.folder.filePath("export-lite"), nullptr) == written ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const std::string missing = TestTdsServer::Missing();
    if (!missing.empty()) {
        fprintf(stderr, "freetds_bench: %s\n", missing.c_str());
        return 1;
    }
    for (const int students : BenchSizes("2000")) {
        for (const bool throughTds : {false, true}) {
            const std::string name = std::string(throughTds ? "MorvbridgeFreeTds/" : "MorvbridgeSqlite/") +
                                     std::to_string(students);
            benchmark::RegisterBenchmark(name.c_str(), [students, throughTds](benchmark::State& state) {
                Export(state, students, throughTds);
            })
                ->UseManualTime()
                ->Iterations(3)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
