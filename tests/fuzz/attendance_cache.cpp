// The attendance cache opened from a damaged Attendance.db (the fuzzer
// mutates a valid one) and used as an update export uses it: the pending
// commit of an interrupted run undone, both tables made ready, a refresh
// stored, the records to send walked and marked, a commit recorded. The
// cache either works or fails with its damaged-cache message; it never
// crashes or hangs, and writes nothing but its own file in its own folder.
#include "cache/AttendanceCache.h"
#include "tests/fuzz/FuzzCheck.h"
#include "util/XException.h"

#include <dirent.h>
#include <sys/stat.h>

#include <set>

namespace {

std::set<std::string> Entries(const std::string &folder)
{
    std::set<std::string> names;
    if (DIR *dir = ::opendir(folder.c_str())) {
        while (const dirent *entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.insert(name);
        }
        ::closedir(dir);
    }
    return names;
}

AttendanceRecord Record(const char *student, int day, const char *reference, const char *header, const char *code)
{
    AttendanceRecord r;
    r.student = student;
    r.date = XDate(2026, 3, day);
    r.reference = reference;
    r.referenceHeader = header;
    r.newCode = code;
    r.excused = "N";
    return r;
}

// What an update export does with the cache, in its order.
void UseAsARunDoes(AttendanceCache &cache, const XFileSpec &file)
{
    cache.Open(file);
    int64_t pending = 0;
    std::vector<CommitStep> steps;
    for (const char *table : {AttendanceCache::DailyTable, AttendanceCache::PeriodTable})
        cache.CreateTable(table);
    if (cache.PendingCommit(pending, steps)) {
        cache.Begin();
        cache.UndoBatch(pending);
        cache.ClearCommit(pending);
        cache.Commit();
    }
    cache.Begin();
    cache.BeginRefresh(AttendanceCache::DailyTable, XDate(2026, 3, 1), XDate(2026, 3, 31));
    cache.SaveRecord(AttendanceCache::DailyTable, Record("1001", 2, "AM", "AttDayRef", "A"));
    cache.SaveRecord(AttendanceCache::DailyTable, Record("1002", 3, "PM", "AttDayRef", "T"));
    cache.EndRefresh();
    cache.BeginRefresh(AttendanceCache::PeriodTable, XDate(), XDate(2026, 3, 31));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "3", "AttPerRef", "A"));
    cache.EndRefresh();
    cache.Commit();

    cache.Begin();
    const int64_t batch = cache.NewBatch();
    for (const char *table : {AttendanceCache::DailyTable, AttendanceCache::PeriodTable}) {
        AttendanceCache::UnexportedRecords records =
            cache.Unexported(table, table == AttendanceCache::DailyTable ? "AttDayRef" : "AttPerRef", true);
        while (records.Next()) {
        }
        records.MarkWritten(batch);
    }
    cache.RecordCommit(batch, {{"Update.tmp", "Update.PDU", 1, 2, 3}});
    cache.Commit();
    (void)cache.Records(AttendanceCache::PeriodTable);
    cache.Close();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string root = FuzzScratchFolder() + "/export";
    static const std::string folder = root + "/Attendance";
    static const int made = ::mkdir(root.c_str(), 0700) + ::mkdir(folder.c_str(), 0700);
    (void)made;
    for (const std::string &name : Entries(folder))
        ::unlink((folder + "/" + name).c_str());
    FuzzWriteFile(folder + "/Attendance.db", data, size);

    const XFileSpec file = AttendanceCache::DatabaseFile(XFileSpec::FromNativePath(root + "/"));
    AttendanceCache cache;
    try {
        UseAsARunDoes(cache, file);
    } catch (const XException &e) {
        const XString problem = AttendanceCache::Problem(e);
        FUZZ_CHECK(problem.str().rfind("is damaged or is not an attendance cache of this bridge", 0) == 0,
                   "not the damaged-cache message: " + problem.str());
        cache.Close();
    }

    FUZZ_CHECK(Entries(root) == std::set<std::string>{"Attendance"}, "a file beside the cache's folder");
    FUZZ_CHECK(Entries(folder) == std::set<std::string>{"Attendance.db"}, "a file beside the cache");
    // A fresh seed for the corpus: the cache as a run leaves it.
    if (const char *seed = std::getenv("MORV_FUZZ_SEED_OUT"); seed && size == 0)
        FUZZ_CHECK(std::system(("cp '" + folder + "/Attendance.db' '" + seed + "'").c_str()) == 0, "seed copy");
    return 0;
}
