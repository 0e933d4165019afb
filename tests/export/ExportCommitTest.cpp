// The all-or-nothing replacement of an export set: whatever step of the
// commit fails, the folder keeps the previous set byte for byte and no
// temporary file; when nothing fails, the new set is complete.
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

// A run's files: two table files (one replacing, one new), a retired table
// file and the header, which must go last.
void Stage(ExportCommit& commit, const TempFolder& folder, bool& actionRan)
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
    commit.AfterCommit([&actionRan] { actionRan = true; });
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
            bool actionRan = false;
            bool failed = false;
            {
                XFileSystem::Scope scope(fs);
                try {
                    ExportCommit commit;
                    Stage(commit, folder, actionRan);
                    commit.Commit();
                } catch (const XException&) {
                    failed = true;
                }
            }
            if (!fs.Failed()) {
                // Past the last call of this kind: the new set is in place.
                EXPECT_FALSE(failed);
                EXPECT_TRUE(actionRan);
                const Snapshot after = Take(folder);
                const Snapshot expected = {{"Students.pef", "new Students.pef\r\n"},
                                           {"Staff.pef", "new Staff.pef\r\n"},
                                           {"MORV.PDE", "new header"},
                                           {"Notes.txt", "not ours"}};
                EXPECT_EQ(after, expected);
                break;
            }
            EXPECT_TRUE(failed);
            EXPECT_FALSE(actionRan);
            EXPECT_EQ(Take(folder), before);
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
