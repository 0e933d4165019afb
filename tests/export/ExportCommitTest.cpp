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

#include <functional>
#include <map>
#include <string>
#include <sys/stat.h>
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

// A step whose temporary file is gone was renamed by the interrupted run;
// its final file counts as delivered only while it is the very file the
// record names (device, inode and size). Anything else is told as lost, so
// the rows it carried go out again.
TEST(ExportCommitTest, RollForwardTellsAFinalFileThatIsNotTheOneRecorded)
{
    const struct
    {
        const char* name;
        std::function<void(const std::string& path, ExportCommit::Step& step)> change;
        bool lost;
    } cases[] = {
        {"left as it was", [](const std::string&, ExportCommit::Step&) {}, false},
        {"removed", [](const std::string& path, ExportCommit::Step&) { ASSERT_EQ(::unlink(path.c_str()), 0); }, true},
        // Another file of the same size under the name (a copy put back).
        {"replaced by a file of the same size",
         [](const std::string& path, ExportCommit::Step&) {
             WriteNative(path + ".other", "NEW ROWS\r\n");
             ASSERT_EQ(::rename((path + ".other").c_str(), path.c_str()), 0);
         },
         true},
        // The same file, written over in place.
        {"rewritten in place",
         [](const std::string& path, ExportCommit::Step&) { WriteNative(path, "cut"); }, true},
        // The record was made on another disk than the file now lies on.
        {"on another device", [](const std::string&, ExportCommit::Step& step) { ++step.device; }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::string path = folder.Native() + "/Update 1.PDU";
        WriteNative(path, "new rows\r\n");
        struct stat st;
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        ExportCommit::Step step{folder.Native() + "/Update 1.PDU.Ab3dE9.part", path, static_cast<int64_t>(st.st_dev),
                                static_cast<int64_t>(st.st_ino), static_cast<int64_t>(st.st_size)};
        c.change(path, step);
        const std::vector<std::string> lost = ExportCommit::RollForward({step});
        EXPECT_EQ(lost, c.lost ? std::vector<std::string>{path} : std::vector<std::string>{});
    }
}

// Each step of a roll-forward that fails stops it with the file and the
// system's reason; the folder flush after the renames is one of them, as a
// rename is not on the disk before it.
TEST(ExportCommitTest, RollForwardFailsOnEveryStepThatFails)
{
    const struct
    {
        FailingFileSystem::Kind kind;
        const char* message;
    } cases[] = {
        {FailingFileSystem::RenameCall, "Could not replace file ( 28 ): "},
        {FailingFileSystem::UnlinkCall, "Could not remove "},
        {FailingFileSystem::FlushCall, "Could not flush the folder "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        TempFolder folder;
        Put(folder, "Students.pef.Ab3dE9.part", "new students");
        Put(folder, "Teachers.pef", "old teachers");
        const std::vector<ExportCommit::Step> steps = {
            {folder.Native() + "/Students.pef.Ab3dE9.part", folder.Native() + "/Students.pef", 0, 0, 0},
            {"", folder.Native() + "/Teachers.pef", 0, 0, 0}};
        FailingFileSystem fs(c.kind, 1, ENOSPC);
        XFileSystem::Scope scope(fs);
        try {
            ExportCommit::RollForward(steps);
            ADD_FAILURE() << "the roll-forward succeeded";
        } catch (const XException& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(folder.Native()), std::string::npos) << e.what();
        }
    }
    // Nothing fails: the file is in place, the retired one gone, and a step
    // finished already (its temporary file and its final file both gone) is
    // passed over.
    TempFolder folder;
    Put(folder, "Students.pef.Ab3dE9.part", "new students");
    Put(folder, "Teachers.pef", "old teachers");
    const std::vector<ExportCommit::Step> steps = {
        {folder.Native() + "/Students.pef.Ab3dE9.part", folder.Native() + "/Students.pef", 0, 0, 0},
        {"", folder.Native() + "/Teachers.pef", 0, 0, 0},
        {"", folder.Native() + "/Staff.pef", 0, 0, 0}};
    FailingFileSystem fs;
    XFileSystem::Scope scope(fs);
    EXPECT_TRUE(ExportCommit::RollForward(steps).empty());
    EXPECT_EQ(Take(folder), (Snapshot{{"Students.pef", "new students"}}));
    EXPECT_EQ(fs.Calls(FailingFileSystem::FlushCall), 1);
}

// The journal itself may fail. Failing to record stops the commit with
// nothing changed and nothing left behind; failing to undo after a failed
// rename leaves the record standing, and the temporary files it names stay,
// so the next run finishes the commit from the record alone.
TEST(ExportCommitTest, AJournalThatFailsLeavesWhatItsRecordNeeds)
{
    struct FailingJournal : TestJournal
    {
        bool failRecord = false;
        void Record(const std::vector<ExportCommit::Step>& recorded) override
        {
            TestJournal::Record(recorded);
            if (failRecord)
                throw XException("injected: the cache is full");
        }
        void Undo() override
        {
            TestJournal::Undo();
            throw XException("injected: the cache is locked");
        }
    };
    const Snapshot previous = {{"Students.pef", "old students\r\n"}, {"Teachers.pef", "old teachers\r\n"},
                               {"MORV.PDE", "old header"}};
    for (const bool failRecord : {true, false}) {
        SCOPED_TRACE(failRecord ? "recording fails" : "undoing fails");
        TempFolder folder;
        for (const auto& [name, bytes] : previous)
            Put(folder, name.c_str(), bytes);
        FailingJournal journal;
        journal.failRecord = failRecord;
        // Without a failing record, the second rename fails.
        FailingFileSystem fs(FailingFileSystem::RenameCall, failRecord ? 0 : 2, EIO);
        {
            XFileSystem::Scope scope(fs);
            ExportCommit commit;
            Stage(commit, folder);
            EXPECT_THROW(commit.Commit(&journal), XException);
        }
        if (failRecord) {
            EXPECT_EQ(journal.calls, (std::vector<std::string>{"record"}));
            EXPECT_EQ(Take(folder), previous);
            continue;
        }
        EXPECT_EQ(journal.calls, (std::vector<std::string>{"record", "undo"}));
        // The previous set is in place, and the temporary files not yet
        // renamed stay for the record.
        const Snapshot left = Take(folder);
        for (const auto& [name, bytes] : previous)
            EXPECT_EQ(left.at(name), bytes) << name;
        ASSERT_EQ(journal.steps.size(), 4u);
        for (const ExportCommit::Step& step : journal.steps) {
            if (step.tempPath.empty())
                continue;
            const bool renamedAndPutBack = step.finalPath == folder.Native() + "/Students.pef";
            EXPECT_EQ(left.count(step.tempPath.substr(step.tempPath.rfind('/') + 1)), renamedAndPutBack ? 0u : 1u)
                << step.tempPath;
        }
        // The next run finishes from the record; the file that was put back
        // is not the one recorded, so what it carried is told as lost.
        EXPECT_EQ(ExportCommit::RollForward(journal.steps),
                  (std::vector<std::string>{folder.Native() + "/Students.pef"}));
        ExportCommit::RemoveLeftovers(folder.Spec());
        EXPECT_EQ(Take(folder), (Snapshot{{"Students.pef", "old students\r\n"},
                                          {"Staff.pef", "new Staff.pef\r\n"},
                                          {"MORV.PDE", "new header"}}));
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
