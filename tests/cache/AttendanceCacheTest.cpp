// The attendance cache's record life: inserted with a NULL old code, updated
// in place (reason included) when read again, never inserted without a code,
// blanked from a date on; and the cache file's failures.
#include "cache/AttendanceCache.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

#include <string>
#include <vector>

namespace {

AttendanceRecord Record(const char* student, int day, const char* period, const char* code,
                        const char* reason = "", const char* excused = "N")
{
    AttendanceRecord r;
    r.student = student;
    r.date = XDate(2026, 3, day);
    r.reference = period;
    r.referenceHeader = "AttPerRef";
    r.newCode = code;
    r.reason = reason;
    r.excused = excused;
    return r;
}

class AttendanceCacheTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        folder = XFileSpec::FromNativePath(dir.path().toStdString() + "/");
        file = AttendanceCache::DatabaseFile(folder);
        file.GetParent().Create();
        cache.Open(file);
        cache.CreateTable(AttendanceCache::PeriodTable);
    }

    // Every row as "stdkey|attdate|perkey|reason|excused|oldcode|newcode",
    // an old code never exported shown as <null>.
    std::vector<std::string> Rows()
    {
        std::vector<std::string> rows;
        for (const CachedAttendance& c : cache.Records(AttendanceCache::PeriodTable)) {
            const AttendanceRecord& r = c.record;
            rows.push_back((r.student + "|" + r.date.Format("yyyy-mm-dd") + "|" + r.reference + "|" + r.reason +
                            "|" + r.excused + "|" + (c.oldCode ? *c.oldCode : XString("<null>")) + "|" + r.newCode)
                               .str());
        }
        return rows;
    }

    // Marks every cached record of `header` exported, as an update export does.
    void MarkAllExported(const char* header)
    {
        AttendanceCache::UnexportedRecords records = cache.Unexported(AttendanceCache::PeriodTable, header, false);
        while (records.Next())
            records.MarkExported();
    }

    QTemporaryDir dir;
    XFileSpec folder;
    XFileSpec file;
    AttendanceCache cache;
};

TEST_F(AttendanceCacheTest, RecordsAreInsertedUpdatedAndBlankedInPlace)
{
    // Created twice: the second run finds the table and keeps its rows.
    EXPECT_EQ(cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "1", "A", "Dr's note")), 1);
    cache.CreateTable(AttendanceCache::PeriodTable);
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "2", "T"));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1002", 9, "1", "U"));
    // No code and not cached yet: nothing to remember.
    EXPECT_EQ(cache.SaveRecord(AttendanceCache::PeriodTable, Record("1003", 2, "1", "")), 0);
    MarkAllExported("AttPerRef");

    // Read again: a changed code brings its reason along, and the old code
    // stays what was exported.
    EXPECT_EQ(cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "2", "A", "Bus late", "Y")), 1);
    cache.BlankNewCode(AttendanceCache::PeriodTable, XDate(2026, 3, 5));

    EXPECT_EQ(Rows(), (std::vector<std::string>{
                          "1001|2026-03-02|1|Dr's note|N|A|A",
                          "1001|2026-03-02|2|Bus late|Y|T|A",
                          "1002|2026-03-09|1||N|U|",
                      }));
}

TEST_F(AttendanceCacheTest, ARefreshRolledBackLeavesNoTrace)
{
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "1", "A"));
    cache.Begin();
    cache.BlankNewCode(AttendanceCache::PeriodTable, XDate(2026, 3, 1));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1002", 3, "1", "T"));
    cache.Rollback();
    EXPECT_FALSE(cache.InTransaction());
    EXPECT_EQ(Rows(), (std::vector<std::string>{"1001|2026-03-02|1||N|<null>|A"}));
}

// A window read again after a lost link goes back to its savepoint: what it
// stored is gone, what came before it stays, and the refresh's transaction
// goes on and commits.
TEST_F(AttendanceCacheTest, AWindowRolledBackToItsSavepointKeepsTheRefreshBeforeIt)
{
    cache.Begin();
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "1", "A"));
    cache.SetSavepoint();
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1002", 3, "1", "T"));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "1", "U"));
    cache.RollbackToSavepoint();
    EXPECT_TRUE(cache.InTransaction());
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1003", 4, "1", "T"));
    cache.ReleaseSavepoint();
    cache.Commit();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"1001|2026-03-02|1||N|<null>|A", "1003|2026-03-04|1||N|<null>|T"}));
}

TEST_F(AttendanceCacheTest, BrokenCacheFilesFailToOpen)
{
    cache.Close();
    const QString path = QString::fromStdString(file.ToNativePath());
    const struct {
        const char* name;
        std::function<void()> damage;
    } cases[] = {
        {"garbage", [&] {
             QFile f(path);
             f.open(QIODevice::WriteOnly | QIODevice::Truncate);
             f.write(QByteArray(8192, 'x'));
         }},
        {"truncated header", [&] {
             QFile f(path);
             f.open(QIODevice::WriteOnly | QIODevice::Truncate);
             f.write("SQLite format 3", 16);
             f.write(QByteArray(40, '\xff'));
         }},
        {"a folder in its place", [&] {
             QFile::remove(path);
             QDir().mkpath(path);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.damage();
        AttendanceCache broken;
        EXPECT_THROW(broken.Open(file), sqlite::SqlError);
        EXPECT_FALSE(broken.IsOpen());
    }
}

TEST_F(AttendanceCacheTest, UpdateConfigDecidesWhenATableExpires)
{
    EXPECT_THROW(cache.LastUpdated("DAILY_ATT"), sqlite::SqlError);  // no UPDATECONFIG at all
    {
        // This bridge never writes UPDATECONFIG; the rows are those another
        // writer of the file may have left.
        sqlite::Database other;
        other.Open(file.ToNativePath().c_str(), nullptr, sqlite::Database::OpenReadWriteCreate);
        other.Execute("CREATE TABLE UPDATECONFIG (ELEMENT TEXT, UPDATED TEXT);"
                      "INSERT INTO UPDATECONFIG VALUES ('DAILY_ATT', '2026-03-01 10:00:00.000'),"
                      "('DAILY_ATT', '2026-03-02 11:30:00.000')");
    }
    EXPECT_TRUE(cache.LastUpdated("DAILY_ATT") == XDateTime(XDate(2026, 3, 2), XTime(11, 30, 0)));
    EXPECT_TRUE(cache.LastUpdated("PERIOD_ATT").GetDate().IsNull());
}

} // namespace
