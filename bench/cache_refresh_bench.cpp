// The attendance update export of a demo school with a full year of daily and
// period absences.
//   BareBulkInsert     the school's absences inserted into a table of the
//                      cache's shape: one transaction, one prepared statement
//   CacheSaveRecords   the same rows through AttendanceCache::SaveRecord in
//                      one transaction; counter ratio_to_bare: rows per CPU
//                      second against the bare insert (aim: at least 0.7).
//                      CPU time, since a shared machine's load swamps the
//                      wall-clock figures of both.
//   BridgeUpdateRuns/N the built bridge, `run --att`, first into a new export
//                      folder, then again with nothing changed, N students;
//                      counters: first_s, second_ratio (aim: below 0.3),
//                      peak_rss_MiB of the first run (flat as the school grows)
#include "cache/AttendanceCache.h"
#include "demo/DemoGenerator.h"
#include "demo/DemoOptions.h"
#include "tests/support/TestOdbcSource.h"
#include "child_process.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";

struct School {
    QTemporaryDir folder;
    std::unique_ptr<TestOdbcSource> source;
    std::string database;
    std::vector<AttendanceRecord> daily;
    std::vector<AttendanceRecord> period;

    explicit School(int students)
    {
        database = folder.filePath("morv-demo.db").toStdString();
        demo::DemoOptions options;
        options.students = students;
        demo::DemoGenerator::WriteFile(database, options);
        source = std::make_unique<TestOdbcSource>("MorvCacheBench" + std::to_string(students));
        source->AddDsn("MORVCACHEBENCH", database);
    }

    // The school's absences of its live year, as the cache stores them.
    void LoadRecords()
    {
        if (!daily.empty())
            return;
        sqlite::Database db;
        db.Open(database.c_str(), nullptr, sqlite::Database::OpenReadWriteCreate);
        auto load = [&](const char* sql, bool isDaily, std::vector<AttendanceRecord>& out) {
            sqlite::Query q(db, sql);
            while (q.Step()) {
                auto text = [&](int i) { const char* v = q.StringColumn(i); return XString(v ? v : ""); };
                AttendanceRecord r;
                r.student = text(0);
                r.date.Parse("YYYY-MM-DD", text(1));
                r.reference = isDaily ? XString("DAY") : text(2);
                r.referenceHeader = isDaily ? "AttTimeFrameRef" : "AttPerRef";
                r.newCode = text(3);
                r.excused = text(4);
                r.reason = isDaily ? text(5) : XString();
                out.push_back(r);
            }
        };
        load("SELECT StudentNumber, CalendarDate, '', AbsenceTypeCode, IsExcused, Reason FROM StudentDailyAbsence "
             "WHERE _DistBldg = '0301' AND _Year = 2026", true, daily);
        load("SELECT StudentNumber, CalendarDate, CalendarPeriodCode, AbsenceTypeCode, IsExcused FROM "
             "StudentPeriodAbsence WHERE _DistBldg = '0301' AND _Year = 2026", false, period);
    }
};

School& TheSchool(int students = 20000)
{
    static std::map<int, std::unique_ptr<School>> schools;
    auto& school = schools[students];
    if (!school)
        school = std::make_unique<School>(students);
    return *school;
}

XFileSpec NewCacheFile(const QTemporaryDir& folder, const char* name)
{
    const std::string path = folder.filePath(name).toStdString();
    QFile::remove(QString::fromStdString(path));
    return XFileSpec::FromNativePath(path);
}

double g_bareRowsPerSecond = 0;

void BareBulkInsert(benchmark::State& state)
{
    School& school = TheSchool();
    school.LoadRecords();
    int64_t rows = 0;
    double seconds = 0;
    for (auto _ : state) {
        const std::clock_t start = std::clock();
        sqlite::Database db;
        db.Open(NewCacheFile(school.folder, "bare.db").ToNativePath().c_str(), nullptr,
                sqlite::Database::OpenReadWriteCreate);
        for (const char* table : {"DAILY_ATT", "PERIOD_ATT"})
            db.ExecuteFormat("CREATE TABLE %s (stdkey VARCHAR(100), attdate DATETIME, ref VARCHAR(100), "
                             "reason VARCHAR(100), excused VARCHAR(100), absent VARCHAR(100), tardy VARCHAR(100), "
                             "truant VARCHAR(100), discipline VARCHAR(100), header VARCHAR(10), "
                             "oldcode VARCHAR(100), newcode VARCHAR(100), PRIMARY KEY (stdkey, attdate, ref, header))",
                             table);
        db.Execute("begin transaction");
        for (const auto* set : {&school.daily, &school.period}) {
            sqlite::Query insert(db);
            insert.PrepareFormat("INSERT OR REPLACE INTO %s (stdkey, attdate, ref, reason, excused, absent, tardy, "
                                 "truant, discipline, header, newcode) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, "
                                 "?10, ?11)",
                                 set == &school.daily ? "DAILY_ATT" : "PERIOD_ATT");
            for (const AttendanceRecord& r : *set) {
                insert.Bind(1, r.student);
                insert.Bind(2, r.date.Format("yyyy-mm-dd"));
                insert.Bind(3, r.reference);
                insert.Bind(4, r.reason);
                insert.Bind(5, r.excused);
                insert.Bind(6, r.absent);
                insert.Bind(7, r.tardy);
                insert.Bind(8, r.truant);
                insert.Bind(9, r.discipline);
                insert.Bind(10, r.referenceHeader);
                insert.Bind(11, r.newCode);
                insert.Step();
                insert.Reset();
            }
        }
        db.Execute("commit transaction");
        seconds += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        rows += static_cast<int64_t>(school.daily.size() + school.period.size());
    }
    g_bareRowsPerSecond = static_cast<double>(rows) / seconds;
    state.counters["rows_per_s"] = g_bareRowsPerSecond;
    state.counters["rows"] = static_cast<double>(school.daily.size() + school.period.size());
}

void CacheSaveRecords(benchmark::State& state)
{
    School& school = TheSchool();
    school.LoadRecords();
    int64_t rows = 0;
    double seconds = 0;
    for (auto _ : state) {
        const std::clock_t start = std::clock();
        AttendanceCache cache;
        cache.Open(NewCacheFile(school.folder, "cache.db"));
        cache.CreateTable(AttendanceCache::DailyTable);
        cache.CreateTable(AttendanceCache::PeriodTable);
        cache.Begin();
        for (const AttendanceRecord& r : school.daily)
            cache.SaveRecord(AttendanceCache::DailyTable, r);
        for (const AttendanceRecord& r : school.period)
            cache.SaveRecord(AttendanceCache::PeriodTable, r);
        cache.Commit();
        seconds += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        rows += static_cast<int64_t>(school.daily.size() + school.period.size());
    }
    const double rate = static_cast<double>(rows) / seconds;
    state.counters["rows_per_s"] = rate;
    if (g_bareRowsPerSecond > 0)
        state.counters["ratio_to_bare"] = rate / g_bareRowsPerSecond;
}


void BridgeUpdateRuns(benchmark::State& state)
{
    School& school = TheSchool(static_cast<int>(state.range(0)));
    const QString exportFolder = school.folder.filePath("export");
    const std::vector<std::string> run = {kBridge, "run", "--att", "--dsn=MORVCACHEBENCH", "--user=bench",
                                          "--pwd=bench", std::string("--school=") + demo::school::kMainBuilding,
                                          "--path=" + exportFolder.toStdString()};
    double first = 0, second = 0;
    long peak = 0;
    for (auto _ : state) {
        QDir(exportFolder).removeRecursively();
        const ChildStats a = Spawn(run, school.source->Environment());
        const ChildStats b = Spawn(run, school.source->Environment());
        if (!a.ok || !b.ok) {
            state.SkipWithError("morvbridge run --att failed; see the log in the export folder");
            return;
        }
        state.SetIterationTime(a.seconds + b.seconds);
        first += a.seconds;
        second += b.seconds;
        peak = std::max(peak, a.peakRssKiB);
    }
    state.counters["first_s"] = first / static_cast<double>(state.iterations());
    state.counters["second_ratio"] = second / first;
    state.counters["peak_rss_MiB"] = static_cast<double>(peak) / 1024.0;
}

} // namespace

BENCHMARK(BareBulkInsert)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(CacheSaveRecords)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BridgeUpdateRuns)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

BENCHMARK_MAIN();
