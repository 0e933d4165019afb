// The full export of demo schools of 2,000, 20,000 and 60,000 students read
// through a real PostgreSQL server (the test suite's own, started here) and
// its ODBC driver, as the importer starts it (`morvbridge run --demo` in its
// own process), against psql running the bridge's own queries in the same
// run; and the smallest school again through a link that holds every byte
// 5 ms in each direction. Peak memory is the child's own largest resident
// set.
//
// Per school size N, in this order:
//   BaselinePg/N      only with MORV_BASELINE_BRIDGE=<morvbridge>: another
//                     build of the bridge, for before and after in one run
//   MorvbridgePg/N    this build's bridge
//   PsqlStatements/N  psql running the queries this build logged (the
//                     tables' SELECTs, not the existence checks), writing
//                     their rows to a file
// and for the smallest size, through the delaying link:
//   BaselinePgDelayed/N, MorvbridgePgDelayed/N
//
// Counters: peak_rss_MiB; statements, what the bridge sent itself (its
// closing log line, or for a build without one the existence checks and
// queries its log shows); lines written; same_rows (1 when both builds wrote
// the same lines into the same files, in any order). PsqlStatements carries
// bridge_ratio and baseline_ratio, each bridge's time over psql's. The
// delayed runs carry ratio_to_loopback (over the same build's run without
// the delay) and round_trips (the client's Query and Sync messages, each of
// which waits for the server, counted by the link).
//
// MORV_BENCH_STUDENTS=2000,20000 picks the sizes (default 2000,20000,60000);
// the 60,000-student school runs once per benchmark, the others three times.
#include "demo/DemoDatabase.h"
#include "demo/DemoGenerator.h"
#include "demo/DemoOptions.h"
#include "tests/support/DelayProxy.h"
#include "tests/support/PostgresSchoolCopy.h"
#include "tests/support/TestPostgresServer.h"
#include "child_process.h"
#include "export_bench_support.h"

#include <benchmark/benchmark.h>

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";
const char* const kDelayedDsn = "MorvPgDelayed";

// The server, the delaying link in front of it and a scratch folder, made
// once for the whole program.
struct Server {
    QTemporaryDir folder;
    TestPostgresServer postgres;
    DelayProxy link{postgres.Port(), std::chrono::milliseconds(5)};
    int students = 0;

    Server() { postgres.AddDsn(kDelayedDsn, "", link.Port()); }

    QString ExportFolder(const std::string& name) const { return folder.filePath(QString::fromStdString("export-" + name)); }
};

Server& TheServer()
{
    static Server server;
    return server;
}

// Makes the school of `students` the server's only one (once per size).
Server& ServerWithSchool(int students)
{
    Server& server = TheServer();
    if (server.students == students)
        return server;
    const std::string database = server.folder.filePath("school.db").toStdString();
    const std::string copy = server.folder.filePath("school.sql").toStdString();
    QFile::remove(QString::fromStdString(database));
    demo::DemoOptions options;
    options.students = students;
    demo::DemoGenerator::WriteFile(database, options);
    {
        demo::DemoDatabase source(database);
        PostgresSchoolCopy::HoldDatesAsText(source);
        std::ofstream out(copy);
        out << "DROP SCHEMA public CASCADE; CREATE SCHEMA public;\n";
        PostgresSchoolCopy::Write(source, out);
    }
    server.postgres.SqlFile(copy);
    QFile::remove(QString::fromStdString(copy));
    server.students = students;
    return server;
}

std::map<std::string, double>& Means()
{
    static std::map<std::string, double> means;
    return means;
}

std::string Key(const std::string& what, int students)
{
    return what + "/" + std::to_string(students);
}

// The lines of the last run in the log files of an export folder (a day's
// log holds every run of that day), level 9 records decoded.
std::vector<QByteArray> LastRunLog(const QString& folder)
{
    std::vector<QByteArray> lines;
    for (const QString& name : QDir(folder).entryList({"*.log"}, QDir::Files)) {
        QFile log(folder + "/" + name);
        if (!log.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& raw : log.readAll().split('\n')) {
            const QByteArray line = raw.trimmed();
            if (line.contains("AppBase::LogHeader: Command: run"))
                lines.clear();
            lines.push_back(line.startsWith("proprietary:") ? QByteArray::fromBase64(line.mid(12)) : line);
        }
    }
    return lines;
}

// What the bridge sent itself, from its log.
double StatementsSent(const std::vector<QByteArray>& log)
{
    long checks = 0, queries = 0;
    for (const QByteArray& line : log) {
        const int at = line.indexOf("Statements sent to the data source: ");
        if (at >= 0)
            return line.mid(at + 36).split(' ').front().toDouble();
        checks += line.contains("Exists query:SELECT ") ? 1 : 0;
        queries += line.contains("ODBCDataAccess::RunQuery: Running Query") ? 1 : 0;
    }
    return static_cast<double>(checks + queries);
}

void BridgeRun(benchmark::State& state, int students, const std::string& bridge, const std::string& name,
               bool delayed)
{
    Server& server = ServerWithSchool(students);
    const std::string run = delayed ? name + "-delayed" : name;
    const QString exportFolder = server.ExportFolder(run);
    std::vector<std::string> environment = server.postgres.Environment();
    environment.push_back("HOME=" + server.folder.path().toStdString());
    double total = 0;
    long peak = 0;
    long roundTrips = 0;
    for (auto _ : state) {
        server.link.ResetRoundTrips();
        const ChildStats stats =
            Spawn({bridge, "run", "--demo", std::string("--dsn=") + (delayed ? kDelayedDsn : "MorvPgSource"),
                   std::string("--user=") + TestPostgresServer::User,
                   std::string("--pwd=") + TestPostgresServer::Password,
                   std::string("--school=") + demo::school::kMainBuilding, "--path=" + exportFolder.toStdString()},
                  environment);
        if (!stats.ok) {
            state.SkipWithError("morvbridge run --demo failed; see the log in the export folder");
            return;
        }
        state.SetIterationTime(stats.seconds);
        total += stats.seconds;
        peak = std::max(peak, stats.peakRssKiB);
        roundTrips = server.link.RoundTrips();
    }
    const double mean = total / static_cast<double>(state.iterations());
    Means()[Key(run, students)] = mean;
    state.counters["peak_rss_MiB"] = static_cast<double>(peak) / 1024.0;
    state.counters["statements"] = StatementsSent(LastRunLog(exportFolder));
    long lines = 0;
    const auto written = SortedExport(exportFolder, &lines);
    state.counters["lines"] = static_cast<double>(lines);
    if (name == "bridge" && Means().count(Key(delayed ? "baseline-delayed" : "baseline", students)))
        state.counters["same_rows"] =
            SortedExport(server.ExportFolder(delayed ? "baseline-delayed" : "baseline"), nullptr) == written ? 1 : 0;
    if (delayed) {
        state.counters["round_trips"] = static_cast<double>(roundTrips);
        const double loopback = Means()[Key(name, students)];
        if (loopback > 0)
            state.counters["ratio_to_loopback"] = mean / loopback;
    }
}

// The SELECTs of this build's last run, as psql input; the rows go to a file.
std::string PsqlScript(const QString& exportFolder, const std::string& output)
{
    return StatementScript(LastRunLog(exportFolder), "\\o " + output + "\n");
}

void PsqlStatements(benchmark::State& state, int students)
{
    Server& server = ServerWithSchool(students);
    const std::string statements =
        PsqlScript(server.ExportFolder("bridge"), server.folder.filePath("psql-rows.txt").toStdString());
    if (statements.empty()) {
        state.SkipWithError("no logged statements; the bridge's run comes first");
        return;
    }
    const std::string script = server.folder.filePath("statements.sql").toStdString();
    std::ofstream(script) << statements;
    std::vector<std::string> environment{std::string("PGPASSWORD=") + TestPostgresServer::Password};
    double total = 0;
    for (auto _ : state) {
        const ChildStats stats = Spawn({"psql", "-X", "-q", "-A", "-t", "-F", "\t", "-v", "ON_ERROR_STOP=1", "-h",
                                        "127.0.0.1", "-p", std::to_string(server.postgres.Port()), "-U",
                                        TestPostgresServer::User, "-d", "postgres", "-f", script},
                                       environment);
        if (!stats.ok) {
            state.SkipWithError("psql failed on the bridge's statements");
            return;
        }
        state.SetIterationTime(stats.seconds);
        total += stats.seconds;
    }
    const double mean = total / static_cast<double>(state.iterations());
    for (const char* name : {"bridge", "baseline"}) {
        const double bridge = Means()[Key(name, students)];
        if (bridge > 0 && mean > 0)
            state.counters[std::string(name) + "_ratio"] = bridge / mean;
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const std::string missing = TestPostgresServer::Missing();
    if (!missing.empty()) {
        fprintf(stderr, "postgres_bench: %s\n", missing.c_str());
        return 1;
    }
    const char* baselineBridge = std::getenv("MORV_BASELINE_BRIDGE");
    const std::string baseline = baselineBridge ? baselineBridge : "";
    const std::vector<int> sizes = BenchSizes();
    for (const int students : sizes) {
        const int iterations = students >= 60000 ? 1 : 3;
        const auto add = [&](const std::string& name, auto function) {
            benchmark::RegisterBenchmark((name + "/" + std::to_string(students)).c_str(), function)
                ->UseManualTime()
                ->Iterations(iterations)
                ->Unit(benchmark::kMillisecond);
        };
        const auto bridges = [&](bool delayed) {
            const std::string suffix = delayed ? "Delayed" : "";
            if (!baseline.empty())
                add("BaselinePg" + suffix, [students, baseline, delayed](benchmark::State& state) {
                    BridgeRun(state, students, baseline, "baseline", delayed);
                });
            add("MorvbridgePg" + suffix, [students, delayed](benchmark::State& state) {
                BridgeRun(state, students, kBridge, "bridge", delayed);
            });
        };
        bridges(false);
        add("PsqlStatements", [students](benchmark::State& state) { PsqlStatements(state, students); });
        if (students == sizes.front())
            bridges(true);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
