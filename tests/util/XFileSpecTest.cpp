// Tests of XFileSpec: path setting, joining, parents and the length limit.
#include <gtest/gtest.h>

#include <string>

#include "util/XException.h"
#include "util/XFileSpec.h"

namespace {

std::string RaisedMessage(const char* path)
{
    try {
        XFileSpec spec(path);
    } catch (const XException& e) {
        return e.what();
    }
    return "";
}

TEST(XFileSpec, PathSetting)
{
    struct Case {
        const char* text;
        const char* path;        // nullptr when the text is refused
        const char* message;     // start of the refusal message
    } cases[] = {
        {".\\data\\x.pef", "data\\x.pef", nullptr},
        {".\\.\\x.pef", "x.pef", nullptr},
        {"/tmp/x", "\\tmp\\x", nullptr},
        {"C:/out/", "C:\\out\\", nullptr},
        {"", "", nullptr},
        {"..\\x", nullptr, "No support for relative paths: ..\\x"},
        {"./x", nullptr, "No support for relative paths: .\\x"},
        {".hidden", nullptr, "No support for relative paths"},
    };
    for (const Case& c : cases) {
        if (c.path) {
            EXPECT_STREQ(c.path, XFileSpec(c.text).GetPath()) << c.text;
        } else {
            std::string message = RaisedMessage(c.text);
            EXPECT_EQ(0u, message.find(c.message)) << c.text << " gave: " << message;
        }
    }
}

TEST(XFileSpec, LongPathsAreRefusedNotCut)
{
    std::string fits = "\\" + std::string(258, 'a');
    EXPECT_EQ(259u, XFileSpec(fits.c_str()).GetLength());
    std::string tooLong = fits + "b";
    EXPECT_EQ(0u, RaisedMessage(tooLong.c_str()).find("Path too long (260 bytes, maximum 259): \\aaa"));

    // Joining and a trailing backslash obey the same limit.
    XFileSpec folder(("\\" + std::string(250, 'f') + "\\").c_str());
    try {
        folder.AppendName("123456789.txt");
        FAIL() << "no exception";
    } catch (const XException& e) {
        EXPECT_STREQ("Appended length (13) would make path length exceed maximum 7.", e.what());
    }
    EXPECT_EQ(252u, folder.GetLength());   // unchanged by the failed append
    XFileSpec full(fits.c_str());
    EXPECT_THROW(full.EnsureTrailingBackslash(), XException);
}

TEST(XFileSpec, AppendName)
{
    struct Case {
        const char* base;
        const char* name;
        const char* expected;
    } cases[] = {
        {"C:\\out\\", "x.pef", "C:\\out\\x.pef"},
        {"C:\\out", "x.pef", "C:\\x.pef"},                // no trailing backslash: replaces "out"
        {"C:\\out\\old.txt", "x.pef", "C:\\out\\x.pef"},
        {"", "x.pef", "\\x.pef"},
        {"C:\\out\\old.txt", "", "C:\\out\\"},             // no name: keep the folder
        {"C:\\out\\old.txt", nullptr, "C:\\out\\"},
    };
    for (const Case& c : cases) {
        XFileSpec spec(c.base);
        spec.AppendName(c.name);
        EXPECT_STREQ(c.expected, spec.GetPath()) << c.base << " + " << (c.name ? c.name : "(null)");
    }
    XFileSpec folder("C:\\out\\");
    folder.AppendFolder("sub");
    EXPECT_STREQ("C:\\out\\sub\\", folder.GetPath());
    XFileSpec empty;
    EXPECT_STREQ("\\", empty.EnsureTrailingBackslash().GetPath());
}

TEST(XFileSpec, PartsAndParent)
{
    struct Case {
        const char* path;
        const char* filePart;
        const char* extension;
        const char* parent;
        bool folder;
    } cases[] = {
        {"C:\\a\\b\\", "", "", "C:\\a\\", true},
        {"C:\\a\\b.txt", "b.txt", "txt", "C:\\a\\", false},
        {"C:\\a\\b.tar.gz", "b.tar.gz", "gz", "C:\\a\\", false},
        {"C:\\a\\README", "README", "", "C:\\a\\", false},
        {"C:\\", "", "", "", true},
        {"x.pef", "x.pef", "pef", "", false},
        {"", "", "", "", false},
    };
    for (const Case& c : cases) {
        XFileSpec spec(c.path);
        EXPECT_STREQ(c.filePart, spec.GetFilePart()) << c.path;
        EXPECT_STREQ(c.extension, spec.GetExtension()) << c.path;
        EXPECT_STREQ(c.parent, spec.GetParent().GetPath()) << c.path;
        EXPECT_EQ(c.folder, spec.IsFolder()) << c.path;
    }
    EXPECT_EQ("/tmp/a b/x.pef", XFileSpec("\\tmp\\a b\\x.pef").ToNativePath());
}

} // namespace
