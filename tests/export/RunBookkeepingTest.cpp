// The run record SchoolConfig.xml, the clean-up after a change of source and
// the refresh of the attendance cache from declared attendance tables.
#include "MemoryWriter.h"
#include "tests/support/CallbackSink.h"

#include "export/BridgeConfig.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const ParamMap kAppInfo = {
    {"appTitle_", "Test Bridge"}, {"appType_", "Bridge"},  {"appVersion_", "1.2.3"},
    {"appBuildDate_", "Dec 10 2026 12:00:00"}, {"appAlias_", "TB"}, {"appShortName_", "MORV"},
};

// A writer that records its log lines.
class RecordingWriter : public MemoryWriter
{
public:
    RecordingWriter()
    {
        receiver.onLog = [this](int level, const QString& text, const QString&) {
            if (level == 7 && text.contains("Changed. Old="))
                changeLines.push_back(text.toStdString());
        };
        SetSink(&receiver);
    }
    using PDEWriter::m_overlapText;
    std::vector<std::string> changeLines;
    CallbackSink receiver;
};

class BookkeepingTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    void Prepare(MemoryWriter& w)
    {
        w.m_parameters = kAppInfo;
        ASSERT_TRUE(w.SetPDEFolder(ToXString(dir.path())));
    }
    QString Path(const QString& name) const { return dir.path() + "/" + name; }

    // The record a run of this writer leaves.
    std::string SavedRecord()
    {
        MemoryWriter w;
        Prepare(w);
        w.SaveBridgeConfig();
        w.CommitExport();
        return ReadFile(Path("SchoolConfig.xml"));
    }

    static std::string Replaced(std::string text, const std::string& from, const std::string& to)
    {
        text.replace(text.find(from), from.size(), to);
        return text;
    }

    QTemporaryDir dir;
};

TEST_F(BookkeepingTest, RecordComparedWithTheCurrentRun)
{
    const std::string saved = SavedRecord();
    const std::string item = "<LastDSN LastDSNValue=\"MemoryDSN\"/>\r\n";
    const struct {
        const char* name;
        std::string record;
        bool changed;
        std::vector<std::string> lines;
    } cases[] = {
        {"missing", "<missing>", true, {}},
        {"same source", saved, false, {}},
        {"case of the data source only", Replaced(saved, "MemoryDSN", "MEMORYdsn"), false, {}},
        {"version and data source",
         Replaced(Replaced(saved, "\"1.2.3\"", "\"1.0\""), "MemoryDSN", "OtherDSN"), true,
         {"Version Changed. Old=1.0 new=1.2.3", "DSN Changed. Old=OtherDSN new=MemoryDSN"}},
        {"duplicated item", Replaced(saved, item, item + item), true, {}},
        {"empty", "", true, {}},
        {"binary", std::string("\0\xff<\x01\"SchoolConfig\n\x80", 14), true, {}},
        {"cut short", saved.substr(0, saved.size() / 2), true, {}},
        {"huge", Replaced(saved, "</SchoolConfig>", std::string(2 << 20, 'x') + "</SchoolConfig>"), false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(Path("SchoolConfig.xml"));
        if (c.record != "<missing>")
            WriteFile(Path("SchoolConfig.xml"), c.record);
        RecordingWriter w;
        Prepare(w);
        EXPECT_EQ(w.BridgeConfigChanged(), c.changed);
        EXPECT_EQ(w.changeLines, c.lines);
    }
}

// A value with "<" is none the record's writer makes: a run that took the
// hand-edited overlap or global folder as read would carry it into its own
// save, which refuses it, and fail on every run after. Such a line reads as
// missing.
TEST_F(BookkeepingTest, ALineNoSaveCouldWriteReadsAsMissing)
{
    const std::string saved = SavedRecord();
    WriteFile(Path("SchoolConfig.xml"), Replaced(Replaced(saved, "OverlapValue=\"", "OverlapValue=\"1<4"),
                                                 "GlobalFolderValue=\"", "GlobalFolderValue=\"/srv/<g>/"));
    const XFileSpec folder = XFileSpec::FromNativePath(dir.path().toStdString() + "/");
    EXPECT_EQ(GetOverlapInDays(folder), "");
    EXPECT_TRUE(GetGlobalFolder(folder).IsEmpty());
    BridgeConfigItems items;
    ReadBridgeConfig(folder, items);
    EXPECT_EQ(items.size(), kRunRecordFieldCount - 2);
    EXPECT_NO_THROW(WriteBridgeConfig(folder, items));
}

TEST_F(BookkeepingTest, ChangeOfSourceRemovesWhatBelongedToTheOldOne)
{
    QTemporaryDir global;
    QDir pde(dir.path());
    for (const char* folder : {"PAT/sub", "DAT", "AATP01/x", "Attendance"})
        pde.mkpath(folder);
    for (const char* file : {"Update 20260301101010.PDU", "old.pdu", "PAT/sub/a.txt", "DAT/b.txt",
                             "AATP01/x/c.txt", "AATD.dat", "Students.pef", "MORV.PDE"})
        WriteFile(Path(file), "x");
    {
        // Cached attendance of the old source, in the PDE folder and in the
        // global folder (named without its trailing backslash).
        MemoryWriter w;
        Prepare(w);
        w.Cache().Open(AttendanceCache::DatabaseFile(w.PDEFolder()));
        w.Cache().CreateTable(AttendanceCache::DailyTable);
        QDir(global.path()).mkpath("Attendance");
        AttendanceCache old;
        old.Open(AttendanceCache::DatabaseFile(XFileSpec::FromNativePath(global.path().toStdString() + "/")));
        old.CreateTable(AttendanceCache::DailyTable);
        old.CreateTable(AttendanceCache::PeriodTable);
    }
    WriteFile(Path("SchoolConfig.xml"),
              Replaced(SavedRecord(), "GlobalFolderValue=\"\"",
                       std::string("GlobalFolderValue=\"") + XFileSpec::FromNativePath(global.path().toStdString()).GetPath() + "\""));
    const std::string changed = Replaced(ReadFile(Path("SchoolConfig.xml")), "\"1.2.3\"", "\"1.0\"");
    WriteFile(Path("SchoolConfig.xml"), changed);

    MemoryWriter w;
    Prepare(w);
    w.SetUpdateDate(XDate(2026, 3, 1));
    w.StartPDEWriter();

    EXPECT_TRUE(w.UpdateDate().IsNull());
    EXPECT_EQ(FilesIn(dir.path()), (QStringList{"MORV.PDE", "Students.pef"}));
    EXPECT_EQ(pde.entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"Attendance"});
    EXPECT_FALSE(QFile::exists(Path("Attendance/Attendance.db")));
    // The global cache lost its tables and is closed again: the run keeps
    // one cache, its own.
    EXPECT_FALSE(w.Cache().IsOpen());
    AttendanceCache old;
    old.Open(AttendanceCache::DatabaseFile(XFileSpec::FromNativePath(global.path().toStdString() + "/")));
    EXPECT_FALSE(old.TableExists(AttendanceCache::DailyTable));
    EXPECT_FALSE(old.TableExists(AttendanceCache::PeriodTable));
}

TEST_F(BookkeepingTest, CacheThatCannotBeDeletedFailsTheCleanUp)
{
    // A non-empty folder in the place of the cache file cannot be removed
    // as a file: the clean-up fails instead of running on with the old cache.
    QDir(dir.path()).mkpath("Attendance/Attendance.db/inner");
    MemoryWriter w;
    Prepare(w);
    try {
        w.DeleteUpdateFiles(w.PDEFolder());
        ADD_FAILURE() << "the clean-up succeeded";
    } catch (const XException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Error: Failed while trying to remove PDU Files.\n", 0), 0u)
            << e.what();
    }
}

TEST_F(BookkeepingTest, SavedRecordKeepsWhatTheRunDidNotChange)
{
    WriteFile(Path("SchoolConfig.xml"),
              Replaced(Replaced(Replaced(SavedRecord(), "UpdateDateValue=\"\"", "UpdateDateValue=\"05-Mar-2026\""),
                                "UpdateDateTimeValue=\"\"", "UpdateDateTimeValue=\"05-Mar-2026 21:00:00\""),
                       "OverlapValue=\"\"", "OverlapValue=\"30\""));
    // Full exports alone: the update date and the overlap stay as stored.
    for (int run = 0; run < 2; ++run) {
        MemoryWriter w;
        Prepare(w);
        w.SetUpdateDate(GetUpdateDate(w.PDEFolder()));
        w.SetUpdateDateTime(GetUpdateDateTime(w.PDEFolder()));
        w.StartPDEWriter();
        w.SaveBridgeConfig();
        w.CommitExport();
    }
    EXPECT_EQ(GetUpdateDate(XFileSpec::FromNativePath(dir.path().toStdString() + "/")), XDate(2026, 3, 5));
    const std::string record = ReadFile(Path("SchoolConfig.xml"));
    EXPECT_NE(record.find("UpdateDateTimeValue=\"05-Mar-2026 21:00:00\""), std::string::npos) << record;
    EXPECT_NE(record.find("OverlapValue=\"30\""), std::string::npos) << record;

    // A value the record cannot hold is refused and the record stays whole.
    {
        RecordingWriter w;
        Prepare(w);
        w.m_pragmas.bridgeAlias = "My \"bridge\"";
        EXPECT_THROW(w.SaveBridgeConfig(), XException);
    }
    EXPECT_EQ(ReadFile(Path("SchoolConfig.xml")), record);
    EXPECT_EQ(FilesIn(dir.path()), QStringList{"SchoolConfig.xml"});

    // A month name that is none reads as no date (a full re-read).
    WriteFile(Path("SchoolConfig.xml"), Replaced(record, "05-Mar-2026\"", "05-Xyz-2026\""));
    EXPECT_TRUE(GetUpdateDate(XFileSpec::FromNativePath(dir.path().toStdString() + "/")).IsNull());
}

// The overlap moves the refresh back from the stored update date; an edited
// value that is no day count must not read as 0 (changes inside the overlap
// would never be re-read) or as a move into the future.
TEST_F(BookkeepingTest, TheOverlapFallsBackToFourteenDaysWhenItIsNoDayCount)
{
    const std::string stored =
        Replaced(SavedRecord(), "UpdateDateValue=\"\"", "UpdateDateValue=\"20-Mar-2026\"");
    const struct {
        const char* overlap;
        XDate refreshFrom;
    } cases[] = {
        {"", XDate(2026, 3, 6)},      {"7", XDate(2026, 3, 13)},   {"0", XDate(2026, 3, 20)},
        {"-3", XDate(2026, 3, 6)},    {"abc", XDate(2026, 3, 6)},  {"7x", XDate(2026, 3, 6)},
        {"99999", XDate(2026, 3, 6)},
    };
    {
        // The cache of the run that stored the date, whole.
        const XFileSpec file = AttendanceCache::DatabaseFile(XFileSpec::FromNativePath(dir.path().toStdString() + "/"));
        file.GetParent().Create();
        AttendanceCache cache;
        cache.Open(file);
        cache.CreateTable(AttendanceCache::DailyTable);
        cache.CreateTable(AttendanceCache::PeriodTable);
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("overlap \"") + c.overlap + "\"");
        WriteFile(Path("SchoolConfig.xml"),
                  Replaced(stored, "OverlapValue=\"\"", std::string("OverlapValue=\"") + c.overlap + "\""));
        MemoryWriter w;
        Prepare(w);
        w.SetUpdateDate(GetUpdateDate(w.PDEFolder()));
        w.StartPDEWriter();
        w.Attendance().Start(AttendanceCache::PeriodTable, true, false);
        EXPECT_EQ(w.UpdateDate(), c.refreshFrom);
        w.EndTable();
    }
}

TEST_F(BookkeepingTest, AttendanceRowsReachTheCacheAndAFailedRefreshLeavesNoTrace)
{
    auto refresh = [&](std::vector<std::vector<std::string>> rows) {
        MemoryWriter w;
        Prepare(w);
        w.schema = {"std", "date", "from", "to", "code", "reason"};
        w.rows = std::move(rows);
        w.Attendance().Start(AttendanceCache::PeriodTable, true, false);
        const char* headers[] = {"AttStdRef", "AttDate", "AttStartPerRef", "AttEndPerRef", "AttAttCodeRef",
                                 "AttAttReasonRef"};
        for (size_t i = 0; i < w.schema.size(); ++i)
            w.AddColumn(ColumnDeclaration(w.schema[i].c_str()).From(&w.table)
                        .Value(w.BindValue(&MemoryWriter::Text)).Header(headers[i]));
        w.Attendance().Write(XDate(0), XDate(876581), RowFilter());
        EXPECT_EQ(w.Attendance().PeriodReferenceHeaders(), std::set<XString>{"AttPerRef"});
    };
    auto cached = [&]() {
        AttendanceCache cache;
        cache.Open(AttendanceCache::DatabaseFile(XFileSpec::FromNativePath(dir.path().toStdString() + "/")));
        std::vector<std::string> rows;
        for (const CachedAttendance& c : cache.Records(AttendanceCache::PeriodTable)) {
            const AttendanceRecord& r = c.record;
            rows.push_back((r.student + "|" + r.date.Format("yyyy-mm-dd") + "|" + r.reference + "|" +
                            r.referenceHeader + "|" + r.newCode + "|" + r.reason)
                               .str());
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    };
    const std::vector<std::string> expected = {
        "1001|2026-03-02|3|AttPerRef|A|Dr's note",
        "1001|2026-03-02|4|AttPerRef|A|Dr's note",
        "1001|2026-03-02|5|AttPerRef|A|Dr's note",
    };
    refresh({{"1001", "03/02/2026", "3", "5", "A", "Dr's note"}});
    EXPECT_EQ(cached(), expected);

    // A range that is no number stops the refresh; the blanking that began
    // it is undone with the rows read before the bad one.
    try {
        refresh({{"1002", "03/02/2026", "1", "1", "T", ""}, {"1003", "03/02/2026", "2a", "3", "T", ""}});
        ADD_FAILURE() << "the refresh succeeded";
    } catch (const XException& e) {
        EXPECT_STREQ(e.what(), "SQLite Attendance: Unsupported header: AttPerRef, cannot continue.");
    }
    EXPECT_EQ(cached(), expected);
}

TEST(AttendanceWindows, WindowsAdvanceSixDaysUpToTodayOrTheEnd)
{
    const XDate today(2026, 3, 20);
    const XDate dayZero(0);
    const XDate lastDay(876581);
    const struct {
        const char* name;
        XDate cursor, start, end;
        std::vector<std::pair<XDate, XDate>> windows;
    } cases[] = {
        {"first run, whole range", XDate(), dayZero, lastDay, {{XDate(), today}}},
        {"school start, no update", XDate(), XDate(2026, 3, 1), lastDay,
         {{XDate(2026, 3, 1), XDate(2026, 3, 7)}, {XDate(2026, 3, 7), XDate(2026, 3, 13)},
          {XDate(2026, 3, 13), XDate(2026, 3, 19)}, {XDate(2026, 3, 19), today}}},
        {"school end before today", XDate(2026, 3, 8), dayZero, XDate(2026, 3, 10),
         {{XDate(2026, 3, 8), XDate(2026, 3, 10)}}},
        {"update yesterday", XDate(2026, 3, 19), dayZero, lastDay, {{XDate(2026, 3, 19), today}}},
        {"update in the future", XDate(2026, 4, 1), dayZero, lastDay, {{today, today}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        XDate cursor = c.cursor;
        std::vector<std::pair<XDate, XDate>> windows;
        bool more = true;
        while (more && windows.size() < 10) {
            XDate from, to;
            more = AttendanceRefresh::NextWindow(cursor, c.start, c.end, today, from, to);
            windows.emplace_back(from, to);
        }
        ASSERT_EQ(windows.size(), c.windows.size());
        for (size_t i = 0; i < windows.size(); ++i) {
            EXPECT_EQ(windows[i].first.Format("YYYY-MM-DD"), c.windows[i].first.Format("YYYY-MM-DD")) << i;
            EXPECT_EQ(windows[i].second.Format("YYYY-MM-DD"), c.windows[i].second.Format("YYYY-MM-DD")) << i;
        }
    }
}

} // namespace
