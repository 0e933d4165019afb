// Tests of XFile, folder creation, iteration and deletion on a real file
// system, in a fresh temporary folder per test.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "TempFolder.h"
#include "util/XException.h"
#include "util/XFile.h"
#include "util/XFolderIterator.h"

namespace {

bool NativeExists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

TEST(XFile, OpeningForReadNeverCreates)
{
    TempFolder tmp;
    XFileSpec missing = tmp.Child("no\\such\\file.txt");
    XFile file;
    try {
        file.Open(missing, XFile::ModeRead, true);
        FAIL() << "no exception";
    } catch (const XException& e) {
        EXPECT_EQ(XString().Format("Could not open file ( %d ): %s", ENOENT, missing.GetPath()), e.what());
    }
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(NativeExists(tmp.Native() + "/no"));
}

TEST(XFile, OpenRefusals)
{
    TempFolder tmp;
    struct Case {
        XFileSpec spec;
        int mode;
        const char* message;
    } cases[] = {
        {tmp.Spec(), XFile::ModeRead, "Can't open non-file: "},
        {XFileSpec("x.pef"), XFile::ModeWrite, "Error creating folder, volume does not exist: "},
        {XFileSpec::FromNativePath(tmp.Native()), XFile::ModeRead, "Could not open file ( 21 ): "},
    };
    for (const Case& c : cases) {
        XFile file;
        try {
            file.Open(c.spec, c.mode);
            ADD_FAILURE() << "no exception for " << c.spec.GetPath();
        } catch (const XException& e) {
            EXPECT_EQ(0u, std::string(e.what()).find(c.message)) << e.what();
        }
        EXPECT_FALSE(file.IsOpen());
    }
}

TEST(XFile, WriteCreatesFoldersAndTruncates)
{
    TempFolder tmp;
    XFileSpec spec = tmp.Child("a\\b\\out.txt");
    {
        XFile file;
        file.Open(spec, XFile::ModeWrite);
        file.WriteText("first version, long");
        EXPECT_EQ(19u, file.GetSize());
    }
    XFile file;
    file.Open(spec, XFile::ModeWrite);
    file.WriteText(XString("second"));
    file.Close();
    EXPECT_EQ("second", ReadNative(tmp.Native() + "/a/b/out.txt"));

    XFile append;
    append.Open(spec, XFile::ModeWrite | XFile::ModeAppend);
    append.WriteText("+more");
    append.Close();
    EXPECT_EQ("second+more", ReadNative(tmp.Native() + "/a/b/out.txt"));
}

TEST(XFile, BufferedReadsAcrossTheWindow)
{
    TempFolder tmp;
    std::string bytes;
    for (int i = 0; i < 3000; ++i)
        bytes.push_back(static_cast<char>('a' + i % 26));
    WriteNative(tmp.Native() + "/in.bin", bytes);

    for (bool buffered : {true, false}) {
        XFile file;
        file.Open(tmp.Child("in.bin"), XFile::ModeRead, buffered);
        EXPECT_EQ(3000u, file.GetSize());
        std::string got;
        // Reads of sizes that straddle the 1024-byte window, then one past the end.
        for (uint32_t count : {1u, 1000u, 100u, 1024u, 2000u, 10u}) {
            std::vector<char> chunk(count);
            uint32_t n = file.Read(chunk.data(), count);
            got.append(chunk.data(), n);
            if (count == 1000u) {
                file.StepBack();
                char again;
                ASSERT_EQ(1u, file.Read(&again, 1));
                EXPECT_EQ(got.back(), again);
            }
        }
        EXPECT_EQ(bytes, got) << (buffered ? "buffered" : "direct");
        EXPECT_EQ(3000u, file.GetPosition());
        char none;
        EXPECT_EQ(0u, file.Read(&none, 1));
    }
}

TEST(XFile, ReadingAWriteOnlyFileRaises)
{
    TempFolder tmp;
    XFile file;
    file.Open(tmp.Child("w.txt"), XFile::ModeWrite);
    char byte;
    EXPECT_THROW(file.Read(&byte, 1), XException);
    file.Close();
    EXPECT_THROW(file.WriteText("x"), XException);
}

TEST(XFileSpec, CreateExistsDelete)
{
    TempFolder tmp;
    XFileSpec deep = tmp.Child("one\\two\\three\\");
    EXPECT_FALSE(deep.Exists());
    deep.Create();
    EXPECT_TRUE(deep.Exists());

    XFileSpec file = tmp.Child("one\\new.txt");
    file.Create();
    EXPECT_TRUE(file.Exists());
    file.Create();   // existing: nothing happens
    EXPECT_THROW(tmp.Child("missing\\x.txt").Create(), XException);   // a file spec makes no folders

    chmod((tmp.Native() + "/one/new.txt").c_str(), 0444);
    file.Delete();   // read-only files go too
    EXPECT_FALSE(file.Exists());
    file.Delete();   // missing: nothing happens
    EXPECT_FALSE(XFileSpec().Exists());
}

TEST(XFolderIterator, FilesFoldersAndPatterns)
{
    TempFolder tmp;
    for (const char* name : {"b.txt", "a.pef", "C.PEF", ".hidden"})
        WriteNative(tmp.Native() + "/" + name, "x");
    mkdir((tmp.Native() + "/sub").c_str(), 0777);
    mkdir((tmp.Native() + "/.git").c_str(), 0777);

    struct Case {
        const char* pattern;
        bool folders;
        std::vector<std::string> expected;
    } cases[] = {
        {"*.*", false, {".hidden", "C.PEF", "a.pef", "b.txt"}},
        {"*.*", true, {".hidden", "C.PEF", "a.pef", "b.txt", "sub\\"}},
        {"*.pef", false, {"C.PEF", "a.pef"}},
        {"?.txt", false, {"b.txt"}},
        {"*.xyz", false, {}},
    };
    for (const Case& c : cases) {
        XFolderIterator it(tmp.Spec(), c.pattern, c.folders);
        std::vector<std::string> names;
        XFileSpec entry;
        uint32_t attributes = 0;
        for (bool more = it.First(entry, &attributes); more; more = it.Next(entry, &attributes)) {
            std::string path = entry.GetPath();
            names.push_back(path.substr(tmp.Spec().GetLength()));
            EXPECT_EQ(entry.IsFolder(), (attributes & XFolderIterator::AttrDirectory) != 0) << path;
        }
        EXPECT_EQ(c.expected, names) << c.pattern;
    }
    XFileSpec entry;
    XFolderIterator missing(tmp.Child("nope\\"));
    EXPECT_FALSE(missing.First(entry));
}

TEST(XFileSpec, FolderDeletionNeverFollowsLinks)
{
    TempFolder tmp;
    // outside\keep.txt must survive the deletion of victim, which links to it.
    mkdir((tmp.Native() + "/outside").c_str(), 0777);
    WriteNative(tmp.Native() + "/outside/keep.txt", "keep");
    mkdir((tmp.Native() + "/victim").c_str(), 0777);
    mkdir((tmp.Native() + "/victim/sub").c_str(), 0777);
    WriteNative(tmp.Native() + "/victim/sub/f.txt", "x");
    WriteNative(tmp.Native() + "/victim/g.txt", "x");
    ASSERT_EQ(0, symlink((tmp.Native() + "/outside").c_str(), (tmp.Native() + "/victim/link").c_str()));
    ASSERT_EQ(0, symlink((tmp.Native() + "/nowhere").c_str(), (tmp.Native() + "/victim/dangling").c_str()));

    tmp.Child("victim\\").Delete();
    EXPECT_FALSE(NativeExists(tmp.Native() + "/victim"));
    EXPECT_EQ("keep", ReadNative(tmp.Native() + "/outside/keep.txt"));

    // A folder spec that is itself a link: the link goes, the target stays.
    ASSERT_EQ(0, symlink((tmp.Native() + "/outside").c_str(), (tmp.Native() + "/alias").c_str()));
    tmp.Child("alias\\").Delete();
    EXPECT_FALSE(NativeExists(tmp.Native() + "/alias"));
    EXPECT_EQ("keep", ReadNative(tmp.Native() + "/outside/keep.txt"));
}

TEST(XFileSpec, PointFoldersSurviveDeletion)
{
    TempFolder tmp;
    mkdir((tmp.Native() + "/f").c_str(), 0777);
    mkdir((tmp.Native() + "/f/.keep").c_str(), 0777);
    WriteNative(tmp.Native() + "/f/x.txt", "x");
    tmp.Child("f\\").Delete();
    EXPECT_TRUE(NativeExists(tmp.Native() + "/f/.keep"));
    EXPECT_FALSE(NativeExists(tmp.Native() + "/f/x.txt"));
}

TEST(XFileSpec, PatternDeleteAndMove)
{
    TempFolder tmp;
    for (const char* name : {"Update 1.PDU", "Update 2.pdu", "keep.pef"})
        WriteNative(tmp.Native() + "/" + name, "x");
    tmp.Spec().PatternDelete("*.PDU");
    EXPECT_FALSE(NativeExists(tmp.Native() + "/Update 1.PDU"));
    EXPECT_FALSE(NativeExists(tmp.Native() + "/Update 2.pdu"));
    EXPECT_TRUE(NativeExists(tmp.Native() + "/keep.pef"));

    tmp.Child("keep.pef").MoveTo(tmp.Child("moved.pef"));
    EXPECT_TRUE(NativeExists(tmp.Native() + "/moved.pef"));
    EXPECT_THROW(tmp.Child("keep.pef").MoveTo(tmp.Child("x.pef")), XException);
}

} // namespace
