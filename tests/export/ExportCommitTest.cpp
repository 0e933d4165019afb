// The all-or-nothing replacement of an export set: whatever step of the
// commit fails, the folder keeps the previous set byte for byte and no
// temporary file, and the journal's record is undone; when nothing fails,
// the new set is complete. A commit stopped after its record is finished
// from the record alone.
#include "export/ExportCommit.h"
#include "tests/support/FailingFileSystem.h"
#include "tests/util/TempFolder.h"
#include "util/DelimitedTextWriter.h"
#include "util/XException.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Snapshot = std::map<std::string, std::string>;

// Every entry of the folder: name to content (a link shows as "-> target").
Snapshot Take(const TempFolder& folder)
{
    Snapshot files;
    for (const QFileInfo& info : QDir(QString::fromStdString(folder.Native()))
                                     .entryInfoList(QDir::Files | QDir::System | QDir::Hidden)) {
        const std::string name = info.fileName().toStdString();
        files[name] = info.isSymLink() ? "-> " + info.symLinkTarget().toStdString()
                                       : ReadNative(info.filePath().toStdString());
    }
    return files;
}

void Put(const TempFolder& folder, const char* name, const std::string& bytes)
{
    QFile file(QString::fromStdString(folder.Native() + "/" + name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

// A journal that remembers what it was asked.
struct TestJournal : ExportCommit::Journal
{
    void Record(const std::vector<ExportCommit::Step>& recorded) override
    {
        calls.push_back("record");
        steps = recorded;
    }
    void Done() override { calls.push_back("done"); }
    void Undo() override { calls.push_back("undo"); }

    std::vector<std::string> calls;
    std::vector<ExportCommit::Step> steps;
};

// A run's files: two table files (one replacing, one new), a retired table
// file and the header, which must go last.
void Stage(ExportCommit& commit, const TempFolder& folder)
{
    for (const char* name : {"Students.pef", "Staff.pef"}) {
        DelimitedTextWriter writer('\t');
        writer.Open(commit.Add(folder.Child(name)));
        writer.WriteField((std::string("new ") + name).c_str());
        writer.EndLine();
        writer.Close();
    }
    commit.Remove(folder.Child("Teachers.pef"));
    DelimitedTextWriter header('\t');
    header.Open(commit.Add(folder.Child("MORV.PDE"), ExportCommit::Last));
    header.WriteRaw("new header");
    header.Close();
}

TEST(ExportCommitTest, AFailureAtAnyStepLeavesThePreviousSet)
{
    struct Case {
        FailingFileSystem::Kind kind;
        const char* step;
    };
    const Case cases[] = {
        {FailingFileSystem::OpenCall, "creating or opening a file"},
        {FailingFileSystem::WriteCall, "writing"},
        {FailingFileSystem::LinkCall, "keeping a previous file"},
        {FailingFileSystem::RenameCall, "renaming"},
        {FailingFileSystem::UnlinkCall, "removing a retired file"},
        {FailingFileSystem::FlushCall, "flushing a file or the folder to the disk"},
    };
    for (const Case& c : cases) {
        // Call N of this kind fails; the first N that does not fail ends it.
        for (int nth = 1;; ++nth) {
            SCOPED_TRACE(std::string(c.step) + " #" + std::to_string(nth));
            TempFolder folder;
            Put(folder, "Students.pef", "old students\r\n");
            Put(folder, "Teachers.pef", "old teachers\r\n");
            Put(folder, "MORV.PDE", "old header");
            Put(folder, "Notes.txt", "not ours");
            const Snapshot before = Take(folder);

            FailingFileSystem fs(c.kind, nth, ENOSPC);
            TestJournal journal;
            bool failed = false;
            {
                XFileSystem::Scope scope(fs);
                try {
                    ExportCommit commit;
                    Stage(commit, folder);
                    commit.Commit(&journal);
                } catch (const XException&) {
                    failed = true;
                }
            }
            if (!fs.Failed()) {
                // Past the last call of this kind: the new set is in place.
                EXPECT_FALSE(failed);
                EXPECT_EQ(journal.calls, (std::vector<std::string>{"record", "done"}));
                const Snapshot after = Take(folder);
                const Snapshot expected = {{"Students.pef", "new Students.pef\r\n"},
                                           {"Staff.pef", "new Staff.pef\r\n"},
                                           {"MORV.PDE", "new header"},
                                           {"Notes.txt", "not ours"}};
                EXPECT_EQ(after, expected);
                break;
            }
            EXPECT_TRUE(failed);
            // Nothing recorded, or the record undone.
            if (!journal.calls.empty()) {
                EXPECT_EQ(journal.calls, (std::vector<std::string>{"record", "undo"}));
            }
            EXPECT_EQ(Take(folder), before);
        }
    }
}

// A run killed after the record and after any number of its renames (a
// child process that dies at the rename): the steps of the record alone put
// the whole new set in place. A file of the record that someone removed
// meanwhile is told, so what it carried can be sent again.
TEST(ExportCommitTest, ACommitKilledAfterItsRecordIsFinishedFromIt)
{
    const Snapshot expected = {{"Students.pef", "new Students.pef\r\n"},
                               {"Staff.pef", "new Staff.pef\r\n"},
                               {"MORV.PDE", "new header"}};
    for (int renames = 0; renames <= 3; ++renames) {
        for (const bool removedMeanwhile : {false, true}) {
            SCOPED_TRACE("killed after " + std::to_string(renames) + " renames" +
                         (removedMeanwhile ? ", Staff.pef removed meanwhile" : ""));
            TempFolder folder;
            Put(folder, "Students.pef", "old students\r\n");
            Put(folder, "Teachers.pef", "old teachers\r\n");
            Put(folder, "MORV.PDE", "old header");
            int pipeEnds[2];
            ASSERT_EQ(pipe(pipeEnds), 0);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                // The record goes to the parent; the process then dies at
                // rename number `renames` + 1, as under kill -9.
                struct PipeJournal : TestJournal {
                    int fd = -1;
                    void Record(const std::vector<ExportCommit::Step>& recorded) override
                    {
                        std::string text;
                        for (const ExportCommit::Step& step : recorded)
                            text += step.tempPath + "\t" + step.finalPath + "\t" + std::to_string(step.device) + "\t" +
                                    std::to_string(step.inode) + "\t" + std::to_string(step.size) + "\n";
                        if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
                            _exit(2);
                    }
                } journal;
                journal.fd = pipeEnds[1];
                FailingFileSystem fs;
                fs.OnCall(FailingFileSystem::RenameCall, renames + 1, [] { _exit(0); });
                XFileSystem::Scope scope(fs);
                ExportCommit commit;
                Stage(commit, folder);
                commit.Commit(&journal);
                _exit(0);
            }
            close(pipeEnds[1]);
            std::string text;
            char buffer[4096];
            for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
                text.append(buffer, static_cast<size_t>(n));
            close(pipeEnds[0]);
            int status = 0;
            waitpid(child, &status, 0);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

            std::vector<ExportCommit::Step> steps;
            for (const QString& line : QString::fromStdString(text).split('\n', Qt::SkipEmptyParts)) {
                const QStringList f = line.split('\t');
                ASSERT_EQ(f.size(), 5);
                steps.push_back({f[0].toStdString(), f[1].toStdString(), f[2].toLongLong(), f[3].toLongLong(),
                                 f[4].toLongLong()});
            }
            ASSERT_EQ(steps.size(), 4u);
            const bool staffRenamed = renames >= 2;  // Students.pef first, then Staff.pef
            if (removedMeanwhile && staffRenamed)
                QFile::remove(QString::fromStdString(folder.Native() + "/Staff.pef"));

            const std::vector<std::string> lost = ExportCommit::RollForward(steps);
            // The second names the commit made are leftovers for the next run.
            ExportCommit::RemoveLeftovers(folder.Spec());
            Snapshot wanted = expected;
            if (removedMeanwhile && staffRenamed) {
                EXPECT_EQ(lost, (std::vector<std::string>{folder.Native() + "/Staff.pef"}));
                wanted.erase("Staff.pef");
            } else {
                EXPECT_TRUE(lost.empty());
            }
            EXPECT_EQ(Take(folder), wanted);
        }
    }
}

TEST(ExportCommitTest, TheHeaderIsRenamedLast)
{
    TempFolder folder;
    ExportCommit commit;
    commit.Add(folder.Child("MORV.PDE"), ExportCommit::Last);
    commit.Add(folder.Child("A.pef"));
    commit.Add(folder.Child("B.pef"));
    // When the header's rename comes, both tables must be in place already.
    FailingFileSystem fs;
    Snapshot atThirdRename;
    fs.OnCall(FailingFileSystem::RenameCall, 3, [&] { atThirdRename = Take(folder); });
    XFileSystem::Scope scope(fs);
    commit.Commit();
    EXPECT_EQ(atThirdRename.count("A.pef") + atThirdRename.count("B.pef"), 2u);
    EXPECT_EQ(atThirdRename.count("MORV.PDE"), 0u);
    EXPECT_EQ(Take(folder).count("MORV.PDE"), 1u);
}

TEST(ExportCommitTest, TemporaryFilesAreNewAndLeftoversAreRemoved)
{
    TempFolder folder;
    Put(folder, "secret", "do not touch");
    // A link planted at every name a careless writer might use.
    const std::string target = folder.Native() + "/secret";
    for (const char* name : {"Students.pef.part", "Students.pef.tmp"})
        ASSERT_EQ(symlink(target.c_str(), (folder.Native() + "/" + name).c_str()), 0);
    {
        ExportCommit commit;
        DelimitedTextWriter writer('\t');
        const XFileSpec temp = commit.Add(folder.Child("Students.pef"));
        EXPECT_TRUE(XFileSystem::IsUniqueTempName(temp.GetFilePart().str()));
        writer.Open(temp);
        writer.WriteField("rows");
        writer.Close();
        commit.Commit();
    }
    EXPECT_EQ(ReadNative(target), "do not touch");
    EXPECT_EQ(ReadNative(folder.Native() + "/Students.pef"), "rows");

    // What a killed run leaves: temporary names only go, other files stay.
    Put(folder, "Students.pef.Ab3dE9.part", "half");
    Put(folder, "Staff.pef.zzzzzz.part", "half");
    EXPECT_EQ(ExportCommit::RemoveLeftovers(folder.Spec()), 2);
    const Snapshot left = Take(folder);
    EXPECT_EQ(left.count("Students.pef.Ab3dE9.part") + left.count("Staff.pef.zzzzzz.part"), 0u);
    EXPECT_EQ(left.count("Students.pef.part"), 1u);
    EXPECT_EQ(left.at("secret"), "do not touch");
}

} // namespace
