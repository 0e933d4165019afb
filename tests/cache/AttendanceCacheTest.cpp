// The attendance cache's record life: inserted with a NULL old code, updated
// in place (reason included) when read again, never inserted without a code,
// blanked over the dates read again, sent again for any change of what it
// carries, marked in batches that can be undone; the record of a commit; an
// older cache brought up to date; and the cache file's failures.
#include "cache/AttendanceCache.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
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
        while (records.Next()) {
        }
        records.MarkWritten(cache.NewBatch());
    }

    // The records of `header` an update export would send now, as
    // "stdkey|day|perkey|code|excused|reason".
    std::vector<std::string> ToSend(const char* header = "AttPerRef")
    {
        std::vector<std::string> rows;
        AttendanceCache::UnexportedRecords records = cache.Unexported(AttendanceCache::PeriodTable, header, false);
        while (records.Next()) {
            const AttendanceRecord& r = records.Record();
            rows.push_back((r.student + "|" + XString(r.date.GetDay()) + "|" + r.reference + "|" + r.newCode + "|" +
                            r.excused + "|" + r.reason)
                               .str());
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    QTemporaryDir dir;
    XFileSpec folder;
    XFileSpec file;
    AttendanceCache cache;
};

// Whatever the update file carries of a record goes out again when it
// changes, once: the code, the excused flag, the reason, or a blank code for
// a record gone from the source. A record gone before it was ever sent is
// not sent at all.
TEST_F(AttendanceCacheTest, EveryChangeOfWhatARecordCarriesIsSentOnce)
{
    for (const char* period : {"1", "2", "3", "4"})
        cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, period, "A", "Bus", "N"));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 5, "5", "A", "Bus", "N"));
    MarkAllExported("AttPerRef");
    EXPECT_EQ(ToSend(), std::vector<std::string>());

    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1003", 4, "1", "S"));                // new, then gone
    // A refresh of the days 2 to 5 that no longer finds 1001|5 and 1003|4.
    cache.BeginRefresh(AttendanceCache::PeriodTable, XDate(2026, 3, 2), XDate(2026, 3, 5));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "1", "T", "Bus", "N"));    // code
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "2", "A", "Bus", "Y"));    // excused only
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "3", "A", "Sick", "N"));   // reason only
    EXPECT_EQ(cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "4", "A", "Bus", "N")), 0);  // the same
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1002", 3, "1", "U"));                // new
    cache.EndRefresh();
    EXPECT_EQ(ToSend(), (std::vector<std::string>{
                            "1001|2|1|T|N|Bus",
                            "1001|2|2|A|Y|Bus",
                            "1001|2|3|A|N|Sick",
                            "1001|5|5||N|Bus",
                            "1002|3|1|U|N|",
                        }));
    MarkAllExported("AttPerRef");
    EXPECT_EQ(ToSend(), std::vector<std::string>());
}

// A commit that could not put its files in place undoes its batch: what the
// batch marked goes out again, what earlier batches marked stays sent. A
// record the caller skipped stays unmarked.
TEST_F(AttendanceCacheTest, AnUndoneBatchIsSentAgainAndSkippedRecordsStayUnmarked)
{
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "1", "A"));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "2", "A"));
    MarkAllExported("AttPerRef");

    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "1", "T"));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1002", 3, "1", "U"));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1003", 3, "1", "S"));
    const int64_t batch = cache.NewBatch();
    {
        AttendanceCache::UnexportedRecords records = cache.Unexported(AttendanceCache::PeriodTable, "AttPerRef", false);
        while (records.Next())
            if (records.Record().student == "1003")
                records.Skip();
        records.MarkWritten(batch);
    }
    EXPECT_EQ(ToSend(), (std::vector<std::string>{"1003|3|1|S|N|"}));

    cache.UndoBatch(batch);
    EXPECT_EQ(ToSend(), (std::vector<std::string>{"1001|2|1|T|N|", "1002|3|1|U|N|", "1003|3|1|S|N|"}));
    EXPECT_GT(cache.NewBatch(), batch);
}

// A mark taken back (the record skipped by the student filter, or its batch
// undone) puts back all the record had sent before: its code, excused flag
// and reason. A record whose excused flag or reason alone changed is then
// still sent; taking back the code alone would make it look sent.
TEST_F(AttendanceCacheTest, AMarkTakenBackKeepsTheExcusedFlagAndReasonLastSent)
{
    for (const bool undoBatch : {false, true}) {
        SCOPED_TRACE(undoBatch ? "batch undone" : "record skipped");
        cache.DropTable(AttendanceCache::PeriodTable);
        cache.CreateTable(AttendanceCache::PeriodTable);
        cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "1", "A", "Bus", "Y"));
        cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "2", "A", "Bus", "Y"));
        MarkAllExported("AttPerRef");

        cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "1", "A", "Bus", "N"));   // excused only
        cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "2", "A", "Sick", "Y"));  // reason only
        const int64_t batch = cache.NewBatch();
        {
            AttendanceCache::UnexportedRecords records =
                cache.Unexported(AttendanceCache::PeriodTable, "AttPerRef", false);
            while (records.Next())
                if (!undoBatch)
                    records.Skip();
            records.MarkWritten(batch);
        }
        if (undoBatch) {
            EXPECT_EQ(ToSend(), std::vector<std::string>());
            cache.UndoBatch(batch);
        }
        EXPECT_EQ(ToSend(), (std::vector<std::string>{"1001|2|1|A|N|Bus", "1001|2|2|A|Y|Sick"}));
        MarkAllExported("AttPerRef");
        EXPECT_EQ(ToSend(), std::vector<std::string>());
    }
}

// The record of a commit is durable with the transaction that holds it, and
// gone with a rollback or once cleared.
TEST_F(AttendanceCacheTest, ACommitsRecordLastsUntilItIsCleared)
{
    const std::vector<CommitStep> steps = {{"Update 1.PDU.Ab3dE9.part", "Update 1.PDU", 2049, 77, 1234},
                                           {"", "Teachers.pef", 0, 0, 0},
                                           {"SchoolConfig.xml.zzzzzz.part", "SchoolConfig.xml", 2049, 78, 651}};
    auto pending = [&](int64_t& batch) {
        AttendanceCache other;
        other.Open(file);
        std::vector<CommitStep> found;
        const bool any = other.PendingCommit(batch, found);
        EXPECT_EQ(any, !found.empty());
        return found;
    };
    int64_t batch = 0;
    cache.Begin();
    cache.RecordCommit(cache.NewBatch(), steps);
    cache.Rollback();
    EXPECT_TRUE(pending(batch).empty());

    cache.Begin();
    const int64_t recorded = cache.NewBatch();
    cache.RecordCommit(recorded, steps);
    cache.Commit();
    const std::vector<CommitStep> found = pending(batch);
    EXPECT_EQ(batch, recorded);
    ASSERT_EQ(found.size(), steps.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(found[i].tempName, steps[i].tempName);
        EXPECT_EQ(found[i].finalName, steps[i].finalName);
        EXPECT_EQ(found[i].device, steps[i].device);
        EXPECT_EQ(found[i].inode, steps[i].inode);
        EXPECT_EQ(found[i].size, steps[i].size);
    }
    cache.ClearCommit(recorded);
    EXPECT_TRUE(pending(batch).empty());
}

// A cache written by the bridge before it kept what it sent of the excused
// flag and the reason: its records count as sent with what they hold, so the
// upgrade sends no whole year again; a change after it is sent.
TEST_F(AttendanceCacheTest, AnOlderCacheCountsWhatItHoldsAsSent)
{
    cache.Close();
    QFile::remove(QString::fromStdString(file.ToNativePath()));
    {
        sqlite::Database old;
        old.Open(file.ToNativePath().c_str(), nullptr, sqlite::Database::OpenReadWriteCreate);
        old.Execute("CREATE TABLE PERIOD_ATT (stdkey VARCHAR(100), attdate DATETIME, perkey VARCHAR(100), "
                    "reason VARCHAR(100), excused VARCHAR(100), absent VARCHAR(100), tardy VARCHAR(100), "
                    "truant VARCHAR(100), discipline VARCHAR(100), header VARCHAR(10), oldcode VARCHAR(100), "
                    "newcode VARCHAR(100), PRIMARY KEY (stdkey, attdate, perkey, header));"
                    "INSERT INTO PERIOD_ATT VALUES ('1001', '2026-03-02', '1', 'Bus', 'Y', '', '', '', '', "
                    "'AttPerRef', 'A', 'A');"
                    "INSERT INTO PERIOD_ATT VALUES ('1001', '2026-03-02', '2', NULL, NULL, '', '', '', '', "
                    "'AttPerRef', 'A', 'A');"
                    "INSERT INTO PERIOD_ATT VALUES ('1001', '2026-03-02', '3', 'Bus', 'N', '', '', '', '', "
                    "'AttPerRef', 'A', 'T');"
                    "INSERT INTO PERIOD_ATT VALUES ('1002', '2026-03-02', '1', '', 'N', '', '', '', '', "
                    "'AttPerRef', NULL, 'U')");
    }
    cache.Open(file);
    cache.CreateTable(AttendanceCache::PeriodTable);
    EXPECT_EQ(ToSend(), (std::vector<std::string>{"1001|2|3|T|N|Bus", "1002|2|1|U|N|"}));

    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "1", "A", "Bus", "N"));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "2", "A", "", ""));
    EXPECT_EQ(ToSend(), (std::vector<std::string>{"1001|2|1|A|N|Bus", "1001|2|3|T|N|Bus", "1002|2|1|U|N|"}));
}

// An upgrade that fails part way (here a column the older table holds under
// another case) leaves the table as it was: a table with the new columns but
// without their values would send every record again.
TEST_F(AttendanceCacheTest, AnUpgradeThatFailsLeavesTheTableAsItWas)
{
    cache.Close();
    QFile::remove(QString::fromStdString(file.ToNativePath()));
    const char* const columns = "stdkey, attdate, perkey, reason, excused, absent, tardy, truant, discipline, header, "
                                "oldcode, newcode, PREVCODE";
    auto tableColumns = [&] {
        sqlite::Database db;
        db.Open(file.ToNativePath().c_str(), nullptr, sqlite::Database::OpenReadWriteCreate);
        sqlite::Query query(db, "SELECT group_concat(name, ', ') FROM pragma_table_info('PERIOD_ATT')");
        query.Step();
        return std::string(query.StringColumn(0));
    };
    {
        sqlite::Database old;
        old.Open(file.ToNativePath().c_str(), nullptr, sqlite::Database::OpenReadWriteCreate);
        old.Execute("CREATE TABLE PERIOD_ATT (stdkey VARCHAR(100), attdate DATETIME, perkey VARCHAR(100), "
                    "reason VARCHAR(100), excused VARCHAR(100), absent VARCHAR(100), tardy VARCHAR(100), "
                    "truant VARCHAR(100), discipline VARCHAR(100), header VARCHAR(10), oldcode VARCHAR(100), "
                    "newcode VARCHAR(100), PREVCODE VARCHAR(100), PRIMARY KEY (stdkey, attdate, perkey, header));"
                    "INSERT INTO PERIOD_ATT VALUES ('1001', '2026-03-02', '1', 'Bus', 'Y', '', '', '', '', "
                    "'AttPerRef', 'A', 'A', NULL)");
    }
    ASSERT_EQ(tableColumns(), columns);
    cache.Open(file);
    EXPECT_THROW(cache.CreateTable(AttendanceCache::PeriodTable), XException);
    cache.Close();
    EXPECT_EQ(tableColumns(), columns);
}

TEST_F(AttendanceCacheTest, RecordsAreInsertedUpdatedAndBlankedInPlace)
{
    // Created twice: the second run finds the table and keeps its rows.
    EXPECT_EQ(cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "1", "A", "Dr's note")), 1);
    cache.CreateTable(AttendanceCache::PeriodTable);
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "2", "T"));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1002", 9, "1", "U"));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1002", 12, "1", "T"));
    // No code and not cached yet: nothing to remember.
    EXPECT_EQ(cache.SaveRecord(AttendanceCache::PeriodTable, Record("1003", 2, "1", "")), 0);
    MarkAllExported("AttPerRef");

    // Read again: a changed code brings its reason along, and the old code
    // stays what was exported. Only the dates read again are blanked: a
    // record after them (dated after a today the clock moved back) keeps
    // its code.
    cache.BeginRefresh(AttendanceCache::PeriodTable, XDate(2026, 3, 5), XDate(2026, 3, 9));
    EXPECT_EQ(cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "2", "A", "Bus late", "Y")), 1);
    cache.EndRefresh();

    EXPECT_EQ(Rows(), (std::vector<std::string>{
                          "1001|2026-03-02|1|Dr's note|N|A|A",
                          "1001|2026-03-02|2|Bus late|Y|T|A",
                          "1002|2026-03-09|1||N|U|",
                          "1002|2026-03-12|1||N|T|T",
                      }));
}

TEST_F(AttendanceCacheTest, ARefreshRolledBackLeavesNoTrace)
{
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "1", "A"));
    cache.Begin();
    cache.BeginRefresh(AttendanceCache::PeriodTable, XDate(2026, 3, 1), XDate(2026, 3, 9));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1002", 3, "1", "T"));
    cache.EndRefresh();
    cache.Rollback();
    EXPECT_FALSE(cache.InTransaction());
    EXPECT_EQ(Rows(), (std::vector<std::string>{"1001|2026-03-02|1||N|<null>|A"}));
}

// A window read again after a lost link goes back to its savepoint: what it
// stored is gone (also as found again by the refresh), what came before it
// stays, and the refresh's transaction goes on and commits.
TEST_F(AttendanceCacheTest, AWindowRolledBackToItsSavepointKeepsTheRefreshBeforeIt)
{
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1002", 3, "2", "S"));
    cache.Begin();
    cache.BeginRefresh(AttendanceCache::PeriodTable, XDate(2026, 3, 2), XDate(2026, 3, 4));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "1", "A"));
    cache.SetSavepoint();
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1002", 3, "1", "T"));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1002", 3, "2", "S"));
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1001", 2, "1", "U"));
    cache.RollbackToSavepoint();
    EXPECT_TRUE(cache.InTransaction());
    cache.SaveRecord(AttendanceCache::PeriodTable, Record("1003", 4, "1", "T"));
    cache.ReleaseSavepoint();
    cache.EndRefresh();
    cache.Commit();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"1001|2026-03-02|1||N|<null>|A", "1002|2026-03-03|2||N|<null>|",
                                                "1003|2026-03-04|1||N|<null>|T"}));
}

TEST_F(AttendanceCacheTest, BrokenCacheFilesFailToOpen)
{
    cache.Close();
    const QString path = QString::fromStdString(file.ToNativePath());
    const struct {
        const char* name;
        std::function<void()> damage;
        const char* problem;  // how the failure is told, where it matters
    } cases[] = {
        // SQLite opens a file whose header names a format it cannot write
        // read-only: that is a damaged file, not a matter of permissions.
        {"a header naming a format it cannot write", [&] {
             QFile f(path);
             f.open(QIODevice::ReadWrite);
             f.seek(18);
             f.write("\x03", 1);
         }, "is damaged or is not an attendance cache"},
        {"garbage", [&] {
             QFile f(path);
             f.open(QIODevice::WriteOnly | QIODevice::Truncate);
             f.write(QByteArray(8192, 'x'));
         }, nullptr},
        {"truncated header", [&] {
             QFile f(path);
             f.open(QIODevice::WriteOnly | QIODevice::Truncate);
             f.write("SQLite format 3", 16);
             f.write(QByteArray(40, '\xff'));
         }, nullptr},
        {"a folder in its place", [&] {
             QFile::remove(path);
             QDir().mkpath(path);
         }, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.damage();
        AttendanceCache broken;
        try {
            broken.Open(file);
            ADD_FAILURE() << "opened";
        } catch (const sqlite::SqlError& e) {
            if (c.problem) {
                EXPECT_EQ(AttendanceCache::Problem(e).str().rfind(c.problem, 0), 0u) << AttendanceCache::Problem(e).str();
            }
        }
        EXPECT_FALSE(broken.IsOpen());
    }
}

// Every way the cache file fails is named with what to do about it.
TEST(AttendanceCacheProblem, EachFailureSaysWhatToDo)
{
    const struct {
        int code;
        const char* cause;
        const char* remedy;
    } cases[] = {
        {11, "is damaged or is not an attendance cache", "Delete it to rebuild it"},    // corrupt
        {26, "is damaged or is not an attendance cache", "Delete it to rebuild it"},    // not a database
        {1, "is damaged or is not an attendance cache", "Delete it to rebuild it"},     // foreign tables
        // SQLite's "out of memory" for some damaged files, with memory to spare.
        {7, "is damaged or is not an attendance cache", "Delete it to rebuild it"},
        {5, "is held by another program", "Close the program"},                          // busy
        {6, "is held by another program", "Close the program"},                          // locked
        {13, "the disk is full", "Free space on the disk"},                               // full
        {8, "cannot be written", "Let the bridge's user write the file"},                 // read-only
        {14, "cannot be opened", "remove what stands in its place"},                      // cannot open
        {10 | (3 << 8), "could not be read or written", "Check the disk"},                // an I/O error
        {-1, "failed", "Delete it to rebuild it if the failure stays"},                   // not SQLite's
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        const std::string text = AttendanceCache::Problem(c.code, "the cause").str();
        EXPECT_NE(text.find(c.cause), std::string::npos) << text;
        EXPECT_NE(text.find("(the cause)"), std::string::npos) << text;
        EXPECT_NE(text.find(c.remedy), std::string::npos) << text;
    }
    EXPECT_NE(AttendanceCache::Problem(sqlite::BusyError("sqlite::Query::Step", "database is locked", "failed", 5)).str().find("another program"),
              std::string::npos);
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
