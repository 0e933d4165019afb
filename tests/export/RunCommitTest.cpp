// The run commit on its own, with no writer: the files of a run go in place
// with their record in the cache of the export folder, and a record an
// interrupted run left is finished by the next one.
#include "export/RunCommit.h"
#include "tests/util/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void OpenCache(AttendanceCache& cache, const XFileSpec& folder)
{
    const XFileSpec file = AttendanceCache::DatabaseFile(folder);
    file.GetParent().Create();
    cache.Open(file);
}

class Host : public RunCommit::Host
{
public:
    Host(AttendanceCache& cache, const XFileSpec& folder) : m_cache(cache), m_folder(folder) {}

    void OpenCommitCache() override
    {
        if (!m_cache.IsOpen())
            OpenCache(m_cache, m_folder);
    }
    [[noreturn]] void FailCommitCache(const XException& error) override { throw error; }
    void LogCommit(LogLevel::Level level, const XString& text) override
    {
        if (level == LogLevel::Warning)
            warnings.push_back(text.str());
    }

    std::vector<std::string> warnings;

private:
    AttendanceCache& m_cache;
    const XFileSpec& m_folder;
};

bool RecordPending(AttendanceCache& cache)
{
    int64_t batch = 0;
    std::vector<CommitStep> steps;
    return cache.PendingCommit(batch, steps);
}

TEST(RunCommit, CommitPutsTheFilesInPlaceAndClearsItsRecord)
{
    TempFolder folder;
    const XFileSpec spec = folder.Spec();
    AttendanceCache cache;
    Host host(cache, spec);
    RunCommit run(host, cache, spec);

    const XFileSpec pending = run.PendingFile("Students.pef");
    WriteNative(pending.ToNativePath(), "new\n");
    // An update export opens the cache and marks its rows before the commit.
    host.OpenCommitCache();
    const int64_t batch = run.Batch();
    run.Commit();

    EXPECT_EQ(ReadNative(folder.Native() + "/Students.pef"), "new\n");
    ASSERT_TRUE(cache.IsOpen());
    EXPECT_FALSE(RecordPending(cache));
    // The next run's marks go under a batch of their own.
    EXPECT_NE(run.Batch(), batch);
    EXPECT_TRUE(host.warnings.empty());
}

// An interrupted run recorded its commit of Students.pef from a temporary
// file and stopped before the rename.
TEST(RunCommit, RecoverFinishesTheRecordOfAnInterruptedRun)
{
    struct Case
    {
        const char* name;
        bool tempStillThere;
        const char* expectFinal;  // nullptr: no final file
        bool expectWarning;
    };
    const Case cases[] = {
        {"temporary file still there is renamed", true, "carried\n", false},
        {"temporary file gone: its rows go out again", false, nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const XFileSpec spec = folder.Spec();
        {
            AttendanceCache cache;
            OpenCache(cache, spec);
            const std::string temp = folder.Native() + "/Students.pef.tmp1";
            WriteNative(temp, "carried\n");
            cache.Begin();
            CommitStep step{"Students.pef.tmp1", "Students.pef", 0, 0, 8};
            cache.RecordCommit(cache.NewBatch(), {step});
            cache.Commit();
            if (!c.tempStillThere)
                std::remove(temp.c_str());
        }

        AttendanceCache cache;
        Host host(cache, spec);
        RunCommit run(host, cache, spec);
        run.Recover();

        const XFileSpec final = folder.Child("Students.pef");
        if (c.expectFinal) {
            EXPECT_EQ(ReadNative(final.ToNativePath()), c.expectFinal);
        } else {
            EXPECT_FALSE(final.Exists());
        }
        EXPECT_FALSE(RecordPending(cache));
        ASSERT_EQ(host.warnings.size(), c.expectWarning ? 1u : 0u);
        if (c.expectWarning) {
            EXPECT_NE(host.warnings[0].find("Students.pef is no longer the file it wrote"), std::string::npos);
        }
    }
}

} // namespace
