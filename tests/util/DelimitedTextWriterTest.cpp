// Tests of DelimitedTextWriter: exact bytes, values that would break a
// line, and that buffered lines reach the file on close, on destruction and
// before an error is reported.
#include <gtest/gtest.h>

#include <QStringList>
#include <QtGlobal>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "TempFolder.h"
#include "tests/support/Prerequisite.h"
#include "util/DelimitedTextWriter.h"
#include "util/XException.h"

namespace {

TEST(DelimitedTextWriter, LineStructure)
{
    using Step = void (*)(DelimitedTextWriter&);
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::string expected;
    } cases[] = {
        {"fields and lines",
         {[](DelimitedTextWriter& w) { w.WriteField("a"); }, [](DelimitedTextWriter& w) { w.WriteField("b"); },
          [](DelimitedTextWriter& w) { w.EndLine(); }, [](DelimitedTextWriter& w) { w.WriteField("c"); },
          [](DelimitedTextWriter& w) { w.EndLine(); }},
         "a\tb\r\nc\r\n"},
        {"empty fields keep their separators",
         {[](DelimitedTextWriter& w) { w.WriteField(""); }, [](DelimitedTextWriter& w) { w.WriteField(""); },
          [](DelimitedTextWriter& w) { w.WriteField(XString()); }, [](DelimitedTextWriter& w) { w.EndLine(); }},
         "\t\t\r\n"},
        {"TAB, CR and LF inside a value become blanks",
         {[](DelimitedTextWriter& w) { w.WriteField("x\ty"); },
          [](DelimitedTextWriter& w) { w.WriteField("line1\r\nline2\n"); },
          [](DelimitedTextWriter& w) { w.EndLine(); }},
         "x y\tline1  line2 \r\n"},
        {"raw bytes keep the line state",
         {[](DelimitedTextWriter& w) { w.WriteRaw("#pragma x\r\n"); }, [](DelimitedTextWriter& w) { w.WriteField("a"); },
          [](DelimitedTextWriter& w) { w.WriteRaw("|"); }, [](DelimitedTextWriter& w) { w.WriteField("b"); },
          [](DelimitedTextWriter& w) { w.EndLine(); }},
         "#pragma x\r\na|\tb\r\n"},
        // As a value's clean text reads: trimmed, TABs dropped, CR and LF as
        // blanks, nothing after a NUL.
        {"clean fields",
         {[](DelimitedTextWriter& w) { w.WriteCleanField(" \tJo\tan\r\nSmith \v", 16); },
          [](DelimitedTextWriter& w) { w.WriteCleanField("ab\0cd", 5); },
          [](DelimitedTextWriter& w) { w.WriteCleanField(" \t\r\n ", 5); },
          [](DelimitedTextWriter& w) { w.WriteCleanField("caf\xe9", 4); }, [](DelimitedTextWriter& w) { w.EndLine(); }},
         "Joan  Smith\tab\t\tcaf\xe9\r\n"},
        {"high bytes unchanged",
         {[](DelimitedTextWriter& w) { w.WriteField("caf\xe9"); }, [](DelimitedTextWriter& w) { w.EndLine(); }},
         "caf\xe9\r\n"},
        {"nothing written gives an empty file", {}, ""},
    };
    for (const Case& c : cases) {
        TempFolder tmp;
        DelimitedTextWriter writer;
        writer.Open(tmp.Child("t.pef"));
        for (Step step : c.steps)
            step(writer);
        writer.Close();
        EXPECT_EQ(c.expected, ReadNative(tmp.Native() + "/t.pef")) << c.name;
    }
}

TEST(DelimitedTextWriter, FlushesOnCloseAndDestruction)
{
    TempFolder tmp;
    std::string path = tmp.Native() + "/t.pef";
    {
        DelimitedTextWriter writer;
        writer.Open(tmp.Child("t.pef"));
        writer.WriteField("kept");
        writer.EndLine();
        writer.WriteField("partial");
        // Leaving the scope (as an exception would) closes and flushes.
    }
    EXPECT_EQ("kept\r\npartial", ReadNative(path));

    // Large output reaches the disk while writing, not only at the end.
    DelimitedTextWriter writer;
    writer.Open(tmp.Child("big.pef"));
    std::string field(100, 'v');
    for (int i = 0; i < 2000; ++i) {
        writer.WriteField(field.c_str());
        writer.EndLine();
    }
    EXPECT_GT(ReadNative(tmp.Native() + "/big.pef").size(), 0u);
    writer.Close();
    EXPECT_EQ(2000u * 102u, ReadNative(tmp.Native() + "/big.pef").size());
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_THROW(writer.WriteField("after close"), XException);

    // Re-opening an existing file truncates it.
    writer.Open(tmp.Child("big.pef"));
    writer.Close();
    EXPECT_EQ("", ReadNative(tmp.Native() + "/big.pef"));
}

TEST(DelimitedTextWriter, CloseReportsAFailedFlush)
{
    if (access("/dev/full", W_OK) != 0)
        MISSING_PREREQUISITE("no writable /dev/full");
    DelimitedTextWriter writer;
    writer.Open(XFileSpec::FromNativePath("/dev/full"));
    writer.WriteField("lost");
    writer.EndLine();
    try {
        writer.Close();
        FAIL() << "no exception";
    } catch (const XException& e) {
        // The system's reason is part of the message, and the writer
        // remembers it for the caller that must tell a refused write apart.
        EXPECT_STREQ("Error writing to file: \\dev\\full: No space left on device", e.what());
        EXPECT_EQ(ENOSPC, e.GetCode());
    }
    EXPECT_EQ(ENOSPC, writer.WriteError());
    EXPECT_FALSE(writer.IsOpen());

    // The destructor cannot throw: it reports the lost lines as a warning.
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtWarningMsg)
            warnings << text;
    });
    {
        DelimitedTextWriter dying;
        dying.Open(XFileSpec::FromNativePath("/dev/full"));
        dying.WriteField("lost");
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings.join(u'\n').toStdString(), "DelimitedTextWriter: Error writing to file: \\dev\\full: No space left on device");
}

TEST(DelimitedTextWriter, OpenFailureNamesThePath)
{
    TempFolder tmp;
    XFileSpec blocker = tmp.Child("file");
    blocker.Create();
    DelimitedTextWriter writer;
    // A folder cannot be made where a file stands, so the open fails.
    XFileSpec target = tmp.Child("file\\t.pef");
    try {
        writer.Open(target);
        FAIL() << "no exception";
    } catch (const XException& e) {
        EXPECT_EQ(XString().Format("Could not open file ( %d ): %s", ENOTDIR, target.GetPath()), e.what());
    }
    EXPECT_FALSE(writer.IsOpen());
}

} // namespace
