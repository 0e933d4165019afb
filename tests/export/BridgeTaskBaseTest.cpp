// The run frame: how BeginExecute ends each kind of run, the progress total,
// and the shared text helpers.
#include "MemoryWriter.h"
#include "tests/support/CallbackSink.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <csignal>

#include "util/XInterrupt.h"

namespace {

// Protocol-visible signals of a task, in emission order.
struct SignalLog
{
    std::vector<std::string> lines;

    explicit SignalLog(AppTaskBase& task)
    {
        sink.onProgress = [this](const QString& type, int total) {
            lines.push_back("progress " + type.toStdString() + (total == -1 ? "" : " " + std::to_string(total)));
        };
        sink.onStep = [this](const QString& text) { lines.push_back("inc " + text.toStdString()); };
        sink.onError = [this](const QString& key, const QString& text) {
            lines.push_back("error " + key.toStdString() + " " + text.toStdString());
        };
        task.SetSink(&sink);
    }
    SignalLog(const SignalLog&) = delete;
    SignalLog& operator=(const SignalLog&) = delete;
    CallbackSink sink;

    int Count(const std::string& line) const { return static_cast<int>(std::count(lines.begin(), lines.end(), line)); }
};

struct RunCase
{
    const char* name;
    std::function<bool(MemoryWriter&, QString&)> run;   // empty: the plain Execute
    bool expectedResult;
    const char* expectedError;
};

TEST(BeginExecute, EndsEveryKindOfRunWithItsStatusAndClosedProgress)
{
    const RunCase cases[] = {
        {"plain task", nullptr, false, "Execute not defined correctly in ExpEngine."},
        {"succeeds", [](MemoryWriter&, QString&) { return true; }, true, ""},
        {"fails without text", [](MemoryWriter&, QString&) { return false; }, false,
         "Bridge execution failed, consult logs for more information."},
        {"fails with text",
         [](MemoryWriter&, QString& e) {
             e = "No school";
             return false;
         },
         false, "No school"},
        {"throws XException",
         [](MemoryWriter& w, QString&) -> bool { w.LogAndThrow(LogLevel::Critical, "Lost connection"); }, false,
         "Lost connection"},
        {"throws something else", [](MemoryWriter&, QString&) -> bool { throw 42; }, false,
         "Execute failed for an unkown reason, please consult Quillon support."},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        MemoryWriter task;
        task.run = c.run;
        SignalLog log(task);
        QString error;

        const bool result = task.BeginExecute({{"path", dir.path() + "/pde"}}, RunFlags::Full, error);

        EXPECT_EQ(result, c.expectedResult);
        EXPECT_EQ(error.toStdString(), c.expectedError);
        ASSERT_GE(log.lines.size(), 2u);
        EXPECT_EQ(log.lines[0], "inc Starting Execution...");
        EXPECT_EQ(log.lines[1], "progress start_progress 2");
        // A successful run closes its progress in its completion step; a
        // failed one is closed by BeginExecute, exactly once.
        EXPECT_EQ(log.Count("progress end_progress"), c.expectedResult ? 0 : 1);
        EXPECT_TRUE(QDir(dir.path() + "/pde").exists());
    }
}

// Nothing has started a progress yet, so none is ended: the error line is the
// run's last word, and the failure names the system's reason.
TEST(BeginExecute, FolderThatCannotBeCreatedFailsBeforeAnyProgress)
{
    QTemporaryDir dir;
    WriteFile(dir.path() + "/file", "x");
    MemoryWriter task;
    bool executed = false;
    task.run = [&](MemoryWriter&, QString&) { return executed = true; };
    SignalLog log(task);
    QString error;

    EXPECT_FALSE(task.BeginExecute({{"path", dir.path() + "/file/pde"}}, RunFlags::Full, error));

    EXPECT_FALSE(executed);
    const std::string message = "Could not create pde folder: " + (dir.path() + "/file/pde").toStdString();
    EXPECT_EQ(log.Count("error file " + message), 1);
    EXPECT_EQ(log.Count("progress end_progress"), 0);
    EXPECT_EQ(log.Count("progress start_progress 2"), 0);
    EXPECT_EQ(error.toStdString(), message + ": Not a directory");
}

TEST(BeginExecute, PathTooLongForTheWriterFailsTheRunInsteadOfEscaping)
{
    // The folder can be made, but its path does not fit the writer's paths.
    QTemporaryDir dir;
    QString path = dir.path();
    for (int i = 0; i < 30; ++i)
        path += "/folder" + QString::number(100 + i);
    MemoryWriter task;
    bool executed = false;
    task.run = [&](MemoryWriter&, QString&) { return executed = true; };
    SignalLog log(task);
    QString error;

    EXPECT_FALSE(task.BeginExecute({{"path", path}}, RunFlags::Full, error));
    EXPECT_FALSE(executed);
    EXPECT_TRUE(error.startsWith("The export folder path is too long: ")) << error.toStdString();
    EXPECT_EQ(log.Count("progress end_progress"), 0);
}

TEST(BeginExecute, FolderIsStoredWithBackslashesAndTrailingSeparator)
{
    QTemporaryDir dir;
    MemoryWriter task;
    task.run = [](MemoryWriter&, QString&) { return true; };
    QString error;
    ASSERT_TRUE(task.BeginExecute({{"path", dir.path() + "/a/b"}}, RunFlags::Full, error));

    QString expected = dir.path() + "/a/b/";
    expected.replace('/', '\\');
    EXPECT_EQ(std::string(task.PDEFolder().GetPath()), expected.toStdString());
}

TEST(TaskLog, ProgressLevelsAlsoMoveTheProgressBar)
{
    const struct
    {
        LogLevel::Level level;
        std::vector<std::string> expected;
    } cases[] = {
        {LogLevel::Progress, {"inc step", "log 5 step M"}},
        {LogLevel::ProgressWarning, {"warn step", "log 6 step M"}},
        {LogLevel::Informational, {"log 7 step M"}},
        {LogLevel::Error, {"log 3 step M"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        MemoryWriter task;
        std::vector<std::string> seen;
        CallbackSink sink;
        sink.onStep = [&](const QString& t) { seen.push_back("inc " + t.toStdString()); };
        sink.onStepWarning = [&](const QString& t) { seen.push_back("warn " + t.toStdString()); };
        sink.onLog = [&](int level, const QString& t, const QString& m) {
            seen.push_back("log " + std::to_string(level) + " " + t.toStdString() + " " + m.toStdString());
        };
        task.SetSink(&sink);
        task.Log(c.level, "step", "M");
        EXPECT_EQ(seen, c.expected);
    }
}

// A stop request ends the run as an interruption, not as some other failure.
TEST(TaskLog, AStopRequestRaisesAnInterruption)
{
    MemoryWriter task;
    XInterrupt::Install();
    std::raise(SIGTERM);
    try {
        task.CheckInterrupt();
        ADD_FAILURE() << "the stop request was not noticed";
    } catch (const XException& e) {
        EXPECT_EQ(e.Kind(), XErrorKind::Interrupted);
        EXPECT_STREQ(e.what(), "The extraction was interrupted by SIGTERM; the previous export files were left "
                               "as they were.");
    }
    XInterrupt::Clear();
}

TEST(ProgressSteps, CountsSetupImportAndAttendanceWindows)
{
    const XDate march15(2010, 3, 15);
    const struct
    {
        const char* name;
        RunFlags flags;
        XDate stored;
        bool filterDaily, filterPeriod;
        int dailyTotal, periodTotal;
        int expected;
    } cases[] = {
        {"full export only", RunFlags::Full, XDate(), false, false, 1, 1, 1 + 1 + 21 + 2},
        // No stored date: from 3 September 2009, 193 days, 32 windows.
        {"update without stored date", RunFlags::Update, XDate(), false, false, 1, 1, 1 + 1 + 2 + 33 + 33},
        {"both", RunFlags::Both, XDate(), false, false, 1, 1, 1 + 1 + 21 + 2 + 33 + 33},
        {"stored today", RunFlags::Update, march15, false, false, 1, 1, 1 + 1 + 2 + 2 + 2},
        {"stored in the future", RunFlags::Update, march15 + 10, false, false, 1, 1, 1 + 1 + 2 + 2 + 2},
        {"stored 5 days ago rounds up to one window", RunFlags::Update, march15 - 5, false, false, 1, 1, 4 + 2 + 2},
        {"stored 12 days ago", RunFlags::Update, march15 - 12, false, false, 1, 1, 4 + 3 + 3},
        {"period filtered", RunFlags::Update, XDate(), false, true, 1, 1, 4 + 33},
        {"no period total", RunFlags::Update, XDate(), false, false, 1, 0, 4 + 33},
        {"daily filtered", RunFlags::Update, XDate(), true, false, 1, 1, 4 + 33},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(BridgeTaskBase::ProgressSteps(c.flags, 1, 1, 21, c.dailyTotal, c.periodTotal, c.stored,
                                                march15, c.filterDaily, c.filterPeriod),
                  c.expected);
    }
}

TEST(ProgressSteps, StartOfSchoolYearInAutumnIsThisYears)
{
    // On 20 September 2010 without a stored date the year started on
    // 3 September 2010: 17 days, 2 windows.
    EXPECT_EQ(BridgeTaskBase::ProgressSteps(RunFlags::Update, 0, 0, 0, 1, 0, XDate(), XDate(2010, 9, 20), false, false),
              2 + 3);
}

TEST(TextFunctions, FormatPhoneNumber)
{
    const struct
    {
        const char* input;
        const char* expected;
        bool warns;
    } cases[] = {
        {"555 1234", "555-1234", false},
        {"(555) 123-4567 ext 89", "555 123-4567 x89", false},
        {"(555) 123-4567 Ext12", "555 123-4567 x12", false},
        {"1 (555) 123-4567", "+1-555-123-4567", false},
        {"12345678", "12345678", false},
        {"441234567890", "+44 123 456-7890", false},
        {"12345678901234", "+1234 567 890-1234", false},
        {"12345", "12345", true},
        {"123456789012345", "123456789012345", true},
        {"555-12-34 x", "555-1234", false},
        {"555-CALL", "555-CALL", true},
        {"", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        XString warning = "stale";
        EXPECT_EQ(std::string(FormatPhoneNumber(c.input, warning)), c.expected);
        EXPECT_EQ(!warning.IsEmpty(), c.warns);
    }
    XString warning;
    FormatPhoneNumber("12345", warning);
    EXPECT_EQ(std::string(warning), "Phone number: 12345, cannot parse into right format.  This means that the "
                                    "phone number in your database is not in phone number format.");
}

TEST(TextFunctions, BuildPhoneNumberLeavesOutEmptyParts)
{
    EXPECT_EQ(std::string(BuildPhoneNumber("", "", "555-1234", "12", "")), "555-1234 x12");
    EXPECT_EQ(std::string(BuildPhoneNumber("555", "123", "4567", "", "1")), "+1 555 123-4567");
}

TEST(TextFunctions, CleanFileNameCannotLeaveTheFolder)
{
    const struct
    {
        const char* input;
        const char* expected;
    } cases[] = {
        {"Room #4/B", "Room__4_B"},
        {"..\\..\\etc", "______etc"},
        {"../x", "___x"},
        {"C:file", "C_file"},
        {"a*b?c<d>e|f\"g", "a_b_c_d_e_f_g"},
        {"Main-School_2026.log", "Main-School_2026.log"},
        {".", "_"},
        {"caf\xe9", "caf_"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(std::string(CleanFileName(XString(c.input))), c.expected);
        EXPECT_EQ(CleanFileName(QString::fromLatin1(c.input)).toStdString(), c.expected);
    }
}

TEST(TextFunctions, CleanFolderNameKeepsWhatFoldersMayHold)
{
    const struct
    {
        const char* input;
        const char* expected;
    } cases[] = {
        {"Room #4/B", "Room #4/B"},
        {"C:\\Data (2009) & ~old\\caf\xe9", "C:\\Data (2009) & ~old\\caf\xe9"},
        {"/tmp/a\tb", "/tmp/a_b"},
        {"x*?\"<>|", "x______"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(std::string(CleanFolderName(XString(c.input))), c.expected);
    }
}

TEST(TextFunctions, SignalTextsKeepEightBitBytes)
{
    const XString text("caf\xe9");
    EXPECT_EQ(ToQString(text), QString::fromUtf8("caf\xc3\xa9"));
    EXPECT_EQ(std::string(ToXString(ToQString(text))), "caf\xe9");
}

} // namespace
