// The export folder as a hostile or unlucky user meets it, through the built
// bridge: a second run into a folder in use, symbolic links planted at the
// names a run writes, a folder named with accents and CJK characters, a path
// too long for the export files, a run stopped by SIGTERM, places the run
// may not write, and a full disk.
#include "demo/DemoGenerator.h"
#include "demo/DemoOptions.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Prerequisite.h"
#include "tests/support/TestOdbcSource.h"
#include "tests/support/WholeFile.h"
#include "util/XFolderLock.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";
const char* const kStatusFile = "Data ExtractorStatus.tmp";

using Snapshot = std::map<std::string, QByteArray>;

// Every file of the folder, links shown by their target.
Snapshot Take(const QString& folder)
{
    Snapshot files;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files | QDir::System | QDir::Hidden)) {
        files[info.fileName().toStdString()] =
            info.isSymLink() ? "-> " + info.symLinkTarget().toUtf8() : ReadWholeFile(info.filePath());
    }
    return files;
}

// The export set of `previous` is untouched in `after` and no temporary file
// is left; only the run's own status files and log may have changed.
void ExpectTheSetAsItWas(const Snapshot& previous, const Snapshot& after)
{
    for (const auto& [name, bytes] : previous) {
        if (name.find(".tmp") != std::string::npos || name.find(".log") != std::string::npos)
            continue;
        EXPECT_EQ(after.count(name), 1u) << name;
        if (after.count(name)) {
            EXPECT_EQ(after.at(name), bytes) << name;
        }
    }
    for (const auto& [name, bytes] : after)
        EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

class ExportFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_work.isValid());
        m_export = m_work.filePath("export");
    }

    void Generate(int students = 40)
    {
        const std::string database = m_work.filePath("school.db").toStdString();
        demo::DemoOptions options;
        options.students = students;
        demo::DemoGenerator::WriteFile(database, options);
        m_source.AddDsn("MORVDEMO", database);
    }

    std::vector<std::string> Arguments(const QString& folder) const
    {
        return {"run", "--dsn=MORVDEMO", "--user=clerk", "--pwd=secret",
                std::string("--school=") + demo::school::kMainBuilding,
                "--path=" + folder.toStdString(), "--demo"};
    }

    std::vector<std::string> Environment() const
    {
        std::vector<std::string> environment = m_source.Environment();
        environment.push_back("HOME=" + m_work.path().toStdString());
        return environment;
    }

    ChildResult Run(const std::vector<std::string>& arguments)
    {
        return RunChildProcess(kBridge, arguments, Environment(), m_work.path().toStdString());
    }
    ChildResult Run(const QString& folder) { return Run(Arguments(folder)); }

    // Starts the bridge and returns once its progress lines show it writing
    // its tables (a 3,000-student school then has a second or more to go).
    void StartUntilWritingTables(QProcess& bridge, const std::vector<std::string>& arguments)
    {
        ASSERT_TRUE(StartChildProcess(bridge, kBridge, arguments, Environment(), m_work.path().toStdString()));
        QByteArray seen;
        while (!seen.contains("inc_progress\tReading Student Schedules") && bridge.state() == QProcess::Running) {
            bridge.waitForReadyRead(100);
            seen += bridge.readAllStandardOutput();
        }
        ASSERT_EQ(bridge.state(), QProcess::Running) << "the run ended before the test could act: "
                                                      << seen.left(2000).toStdString();
    }

    // Runs the full and the update export into m_export under the call
    // shim and checks that every file was flushed before it took its name
    // and the folder after it.
    void ExpectEveryFileOnTheDiskBeforeItsName();

    QTemporaryDir m_work;
    TestOdbcSource m_source{"MorvExportFolderScratch"};
    QString m_export;
};

TEST_F(ExportFolder, ASecondRunIntoAFolderInUseFailsAtOnceAndTouchesNothing)
{
    Generate();
    ASSERT_EQ(Run(m_export).exitCode, 0);
    const Snapshot previous = Take(m_export);

    {
        // Another run holds the folder.
        XFolderLock other;
        ASSERT_EQ(other.Acquire(m_export.toStdString()), XFolderLock::Locked);
        const ChildResult second = Run(m_export);
        EXPECT_EQ(second.exitCode, 1);
        EXPECT_NE((second.standardOutput + second.standardError).find("another extraction is running in"),
                  std::string::npos)
            << second.standardOutput;
        EXPECT_EQ(Take(m_export), previous);
    }
    // The lock goes with its holder: the next run goes ahead.
    EXPECT_EQ(Run(m_export).exitCode, 0);
}

TEST_F(ExportFolder, TwoRunsStartedTogetherIntoOneFolderOneFailsAtOnce)
{
    Generate(3000);
    // Two schools into one folder, as two importer requests would start
    // them: the second while the first is writing its tables.
    QProcess first;
    StartUntilWritingTables(first, Arguments(m_export));
    if (HasFatalFailure())
        return;
    std::vector<std::string> second = Arguments(m_export);
    second[4] = "--school=0202";
    const ChildResult result = Run(second);
    ASSERT_TRUE(first.waitForFinished(120000));
    const QByteArray firstOutput = first.readAllStandardOutput();

    EXPECT_EQ(first.exitCode(), 0) << firstOutput.left(2000).toStdString();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.standardOutput.find("another extraction is running in"), std::string::npos)
        << result.standardOutput.substr(0, 2000);
    // The folder is the first run's alone: its school in the record and the
    // status file of a success.
    EXPECT_TRUE(ReadWholeFile(m_export + "/SchoolConfig.xml").contains(
        QByteArray("LastSchoolNumberValue=\"") + demo::school::kMainBuilding + "\""));
    EXPECT_TRUE(ReadWholeFile(m_export + "/" + kStatusFile).contains("\tSucceeded\tSucceeded\r\n"));
}

TEST_F(ExportFolder, LinksPlantedAtTheRunsNamesAreNeverWrittenThrough)
{
    Generate();
    const QString secret = m_work.filePath("secret.txt");
    {
        QFile file(secret);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    ASSERT_TRUE(QDir().mkpath(m_export));
    const QString log = "MORV--" + QString(demo::school::kMainBuilding) + "-" +
                        QDate::currentDate().toString("yyyy-MM-dd") + ".log";
    for (const QString& name : {QString("BridgeStatus.tmp"), QString(kStatusFile), QString("finished_bridge.tmp"),
                                QString("Students.pef.part"), QString("MORV.PDE.part"), QString("SchoolConfig.xml"),
                                QString("Staff.pef"), log}) {
        ASSERT_TRUE(QFile::link(secret, m_export + "/" + name)) << name.toStdString();
    }

    const ChildResult result = Run(m_export);

    EXPECT_EQ(ReadWholeFile(secret), QByteArray("keep me"));
    EXPECT_EQ(result.exitCode, 0) << result.standardOutput.substr(0, 3000);
    // The run's own files replaced the links.
    for (const char* name : {"BridgeStatus.tmp", kStatusFile, "finished_bridge.tmp", "SchoolConfig.xml", "Staff.pef"})
        EXPECT_FALSE(QFileInfo(m_export + "/" + name).isSymLink()) << name;
    EXPECT_TRUE(ReadWholeFile(m_export + "/" + kStatusFile).contains("\tSucceeded\tSucceeded\r\n"));
}

// The lock file is opened without following a link planted at its name: a
// link to a file elsewhere (which the lock's reserved room would grow) or to
// a name not yet there (which opening would create) fails the run naming the
// lock file, and the place the link points at is left as it was.
TEST_F(ExportFolder, ALinkPlantedAtTheLockFilesNameIsNeverFollowed)
{
    Generate();
    const QString secret = m_work.filePath("secret.txt");
    const QString nowhere = m_work.filePath("created-through-the-link");
    for (const QString& target : {secret, nowhere}) {
        SCOPED_TRACE(target.toStdString());
        QDir(m_export).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(m_export));
        {
            QFile file(secret);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("keep me");
        }
        ASSERT_TRUE(QFile::link(target, m_export + "/" + XFolderLock::FileName));

        const ChildResult result = Run(m_export);

        EXPECT_NE(result.exitCode, 0);
        EXPECT_NE((result.standardOutput + result.standardError).find(XFolderLock::FileName), std::string::npos)
            << result.standardOutput.substr(0, 3000) << result.standardError;
        EXPECT_EQ(ReadWholeFile(secret), QByteArray("keep me"));
        EXPECT_FALSE(QFileInfo::exists(nowhere));
    }
}

TEST_F(ExportFolder, AFolderNamedWithAccentsAndCjkHoldsEveryFile)
{
    Generate();
    const QString parent = m_work.filePath("Donn\u00e9es");
    const QString folder = parent + "/\u51fa\u529b \u00e9t\u00e9";
    const ChildResult result = Run(folder);
    EXPECT_EQ(result.exitCode, 0) << result.standardOutput.substr(0, 3000);

    const Snapshot files = Take(folder);
    for (const char* name : {"MORV.PDE", "Students.pef", "Staff.pef", "SchoolConfig.xml", kStatusFile})
        EXPECT_EQ(files.count(name), 1u) << name;
    // Nothing went to a folder of another spelling beside it.
    EXPECT_EQ(QDir(parent).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"\u51fa\u529b \u00e9t\u00e9"});
    EXPECT_EQ(QDir(m_work.path()).entryList({"Donn*"}, QDir::Dirs), QStringList{"Donn\u00e9es"});
}

TEST_F(ExportFolder, APathTooLongForTheExportFilesFailsBeforeWritingAnything)
{
    Generate();
    // Fits the folder itself, not the folder with the longest export file name.
    QString folder = m_work.path() + "/";
    while (folder.toUtf8().size() < 240)
        folder += "d";
    const ChildResult result = Run(folder);
    EXPECT_EQ(result.exitCode, 1);
    const std::string output = result.standardOutput + result.standardError;
    EXPECT_NE(output.find("too long"), std::string::npos) << output.substr(0, 2000);
    EXPECT_NE(output.find("259"), std::string::npos);
    EXPECT_FALSE(QFileInfo::exists(folder));
}

TEST_F(ExportFolder, SigtermEndsTheRunAsFailedAndKeepsThePreviousSet)
{
    Generate(3000);
    ASSERT_EQ(Run(m_export).exitCode, 0);
    Snapshot previous = Take(m_export);

    // The signal goes out once the run is writing its tables, whatever the
    // machine's speed: long before it could finish.
    QProcess bridge;
    StartUntilWritingTables(bridge, Arguments(m_export));
    if (HasFatalFailure())
        return;
    bridge.terminate();
    ASSERT_TRUE(bridge.waitForFinished(60000));

    EXPECT_EQ(bridge.exitStatus(), QProcess::NormalExit) << "the bridge did not end by itself after SIGTERM";
    EXPECT_NE(bridge.exitCode(), 0);
    const Snapshot after = Take(m_export);
    EXPECT_TRUE(after.at(kStatusFile).contains("\tFailed\t")) << after.at(kStatusFile).toStdString();
    EXPECT_TRUE(after.at(kStatusFile).contains("SIGTERM"));
    ExpectTheSetAsItWas(previous, after);
}

// A place the run must write that its user may not: the run fails naming the
// cause and leaves the previous set as it was.
TEST_F(ExportFolder, ReadOnlyPlacesFailTheRunWithTheirCause)
{
    if (!CanRunWithFilePermissions())
        MISSING_PREREQUISITE("file permissions cannot bind the bridge here (as root, setpriv must drop its capabilities)");
    Generate();
    const struct {
        const char* name;
        const char* path;  // inside the export folder
        QFileDevice::Permissions mode;
        const char* cause;
    } cases[] = {
        {"read-only attendance cache", "Attendance/Attendance.db", QFileDevice::ReadOwner | QFileDevice::ReadGroup,
         "attempt to write a readonly database"},
        {"read-only export folder", "", QFileDevice::ReadOwner | QFileDevice::ExeOwner, "Permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(m_export).removeRecursively();
        std::vector<std::string> arguments = Arguments(m_export);
        arguments.pop_back();  // without --demo: the full and the update export
        ASSERT_EQ(Run(arguments).exitCode, 0);
        const Snapshot previous = Take(m_export);

        const QString target = m_export + "/" + c.path;
        const QFileDevice::Permissions before = QFile::permissions(target);
        ASSERT_TRUE(QFile::setPermissions(target, c.mode));
        const ChildResult result = RunChildProcessWithFilePermissions(kBridge, arguments, Environment());
        QFile::setPermissions(target, before);

        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.standardOutput.find(c.cause), std::string::npos) << result.standardOutput.substr(0, 3000);
        const Snapshot after = Take(m_export);
        EXPECT_TRUE(after.at(kStatusFile).contains("\tFailed\t")) << after.at(kStatusFile).toStdString();
        ExpectTheSetAsItWas(previous, after);
    }
}

// A full disk fails the run naming the system's reason and the file, keeps
// the previous set, and still leaves the status files that say so: the run
// removes its temporary files and gives back the room it kept before it
// writes them, even when its own log has taken the last free block.
TEST_F(ExportFolder, AFullDiskFailsTheRunWithItsCauseAndKeepsThePreviousSet)
{
    Generate(300);
    ASSERT_EQ(Run(m_export).exitCode, 0);
    const QString disk = m_work.filePath("disk");
    ASSERT_TRUE(QDir().mkpath(disk));
    if (mount("tmpfs", disk.toUtf8().constData(), "tmpfs", 0, "size=4m") != 0)
        MISSING_PREREQUISITE("a small tmpfs cannot be mounted here (it takes root)");
    struct Unmount {
        QString path;
        ~Unmount() { umount(path.toUtf8().constData()); }
    } unmount{disk};

    const struct {
        const char* name;
        qint64 freeBytes;  // left on the disk when the run starts
        bool logElsewhere; // the log in a folder of its own, off the full disk
        std::vector<std::string> reading; // the tables the run began
        const char* cause; // the status file's reason
    } cases[] = {
        // The tables fill it: a few of them fit.
        {"room for a few tables", 40 * 1024, true, {"Attendance Codes", "Calendar", "Sections"},
         "No space left on device writing Sections.pef"},
        // Not one block: the first file the run writes fails.
        {"no room at all", 0, false, {"Attendance Codes", "Calendar"},
         "No space left on device writing Calendar.pef"},
    };
    const QString folder = disk + "/export";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(folder).removeRecursively();
        QFile::remove(disk + "/filler");
        ASSERT_TRUE(QDir().mkpath(folder));
        for (const QString& name : QDir(m_export).entryList(QDir::Files))
            ASSERT_TRUE(QFile::copy(m_export + "/" + name, folder + "/" + name));
        const Snapshot previous = Take(folder);
        {
            QFile filler(disk + "/filler");
            ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'x');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
        }
        QFile::resize(disk + "/filler", QFileInfo(disk + "/filler").size() - c.freeBytes);

        std::vector<std::string> arguments = Arguments(folder);
        arguments.push_back("--log=consoleoff");
        if (c.logElsewhere)
            arguments.push_back("--logpath=" + m_work.filePath("logs").toStdString());
        const ChildResult result = Run(arguments);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.standardError, "");
        // The whole output, clock, temporary name and statement aside: the
        // log line tells the whole story, the run's failure the cause.
        const std::string file = std::string(c.cause).substr(std::string(c.cause).rfind(' ') + 1);
        std::string expected = "log\tInformational\tTIME\t\tQuillon Data Extractor for MORV started.\n"
                               "inc_progress\tStarting Execution...\nstart_progress\t25\n"
                               "inc_progress\tReading Included Students...\n";
        for (const std::string& table : c.reading)
            expected += "inc_progress\tReading " + table + "...\n";
        expected += "log\tCritical     \tTIME\t\tFailed with error [Error writing to file: " +
                    QString(folder + "/").replace('/', '\\').toStdString() + file +
                    ".TEMP.part: No space left on device] while writing file [" + file + "] with query: QUERY\n" +
                    "log\tError        \tTIME\tBridgeTaskBase::BeginExecute\t" + c.cause + "\nend_progress\n";
        QString out = QString::fromStdString(result.standardOutput);
        out.replace(QRegularExpression("\t\\d\\d:\\d\\d:\\d\\d\t"), "\tTIME\t")
            .replace(QRegularExpression("\\.[A-Za-z0-9]{6}\\.part:"), ".TEMP.part:")
            .replace(QRegularExpression(" with query: [^\n]*"), " with query: QUERY");
        EXPECT_EQ(out.toStdString(), expected);
        const Snapshot after = Take(folder);
        ASSERT_EQ(after.count(kStatusFile), 1u) << "no status file on the full disk";
        EXPECT_TRUE(after.at(kStatusFile).endsWith(QByteArray("\tFailed\tFailed on extraction: ") + c.cause + "\r\n"))
            << after.at(kStatusFile).toStdString();
        EXPECT_EQ(after.count("finished_bridge.tmp"), 1u);
        ExpectTheSetAsItWas(previous, after);
    }
}

// After a power cut the folder must hold the old file or the new one, never
// a name whose content was lost: every file is flushed before it is renamed
// onto its name and the folder after the renames, and the attendance cache
// keeps SQLite's own flushes. The calls are watched by a preloaded shim.
void ExportFolder::ExpectEveryFileOnTheDiskBeforeItsName()
{
    const QString trace = m_work.filePath("trace.txt");
    std::vector<std::string> environment = Environment();
    environment.push_back(PreloadEntry({MORV_BINARY_DIR "/tests/support/libmorv_call_shim.so"}));
    environment.push_back("MORV_SHIM_TRACE=" + trace.toStdString());
    std::vector<std::string> arguments = Arguments(m_export);
    arguments.pop_back();  // without --demo: the full and the update export
    const ChildResult result = RunChildProcess(kBridge, arguments, environment, m_work.path().toStdString());
    ASSERT_EQ(result.exitCode, 0) << result.standardError;

    const std::string folder = QFileInfo(m_export).canonicalFilePath().toStdString();
    std::vector<std::vector<std::string>> calls;
    for (const QByteArray& line : ReadWholeFile(trace).split('\n'))
        if (!line.isEmpty())
            calls.push_back([&] {
                std::vector<std::string> fields;
                for (const QByteArray& field : line.split('\t'))
                    fields.push_back(field.toStdString());
                return fields;
            }());
    auto canonical = [](const std::string& path) {
        const QFileInfo info(QString::fromStdString(path));
        return (QFileInfo(info.path()).canonicalFilePath() + "/" + info.fileName()).toStdString();
    };
    // The export files must be durable before the run says it succeeded.
    size_t statusWritten = calls.size();
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i][0] == "rename" && calls[i].size() > 2 && calls[i][2] == m_export.toStdString() + "/" + kStatusFile)
            statusWritten = i;
    ASSERT_LT(statusWritten, calls.size()) << "the status file was never renamed onto its name";
    std::set<std::string> named;
    bool cacheFlushed = false;
    for (size_t i = 0; i < calls.size(); ++i) {
        const std::vector<std::string>& call = calls[i];
        if (call[0] == "sync" && call[1] == folder + "/Attendance/Attendance.db")
            cacheFlushed = true;
        if (call[0] != "rename" || call.size() < 3 || QFileInfo(QString::fromStdString(call[2])).path() != m_export)
            continue;
        const std::string from = canonical(call[1]);
        const std::string to = call[2].substr(call[2].rfind('/') + 1);
        named.insert(to);
        bool before = false, after = false;
        for (size_t j = 0; j < i; ++j)
            before = before || (calls[j][0] == "sync" && calls[j][1] == from);
        const bool exportFile = to.find(".tmp") == std::string::npos && to.find(".log") == std::string::npos;
        for (size_t j = i + 1; j < (exportFile ? statusWritten : calls.size()); ++j)
            after = after || (calls[j][0] == "sync" && calls[j][1] == folder);
        EXPECT_TRUE(before) << to << " was renamed onto its name before it was flushed";
        EXPECT_TRUE(after) << "the folder was not flushed after " << to << " was renamed onto its name"
                           << (exportFile ? " and before the run reported its outcome" : "");
    }
    // The run's files, its record, its status files and its log all took
    // their names this way.
    for (const char* name : {"Students.pef", "MORV.PDE", "SchoolConfig.xml", "Data ExtractorStatus.tmp",
                             "BridgeStatus.tmp", "finished_bridge.tmp"})
        EXPECT_EQ(named.count(name), 1u) << name;
    EXPECT_EQ(std::count_if(named.begin(), named.end(),
                            [](const std::string& name) { return name.rfind("Update ", 0) == 0; }),
              1);
    EXPECT_TRUE(cacheFlushed) << "the attendance cache was never flushed";

    // The marks go with the record of the renames: that commit is on the
    // disk, the removal of its journal included, before the update file
    // takes its name.
    size_t updateRenamed = 0, journalRemoved = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i][0] == "rename" && calls[i].size() > 2 && calls[i][2].find("/Update ") != std::string::npos)
            updateRenamed = i;
        if (calls[i][0] == "unlink" && calls[i][1].find("Attendance.db-journal") != std::string::npos &&
            updateRenamed == 0)
            journalRemoved = i;
    }
    ASSERT_GT(journalRemoved, 0u);
    bool folderFlushed = false;
    for (size_t i = journalRemoved + 1; i < updateRenamed; ++i)
        folderFlushed = folderFlushed || (calls[i][0] == "sync" && calls[i][1] == folder + "/Attendance");
    EXPECT_TRUE(folderFlushed) << "the cache's commit was not on the disk before the update file took its name";
}

TEST_F(ExportFolder, EveryFileIsOnTheDiskBeforeItsNameAndTheFolderAfterwards)
{
    Generate();
    ExpectEveryFileOnTheDiskBeforeItsName();
}

// A service's state folder, or a folder an administrator moved to another
// disk, is reached through a symbolic link: the run writes through it, and
// flushes the folder the link leads to.
TEST_F(ExportFolder, ThroughASymbolicLinkEveryFileIsOnTheDiskBeforeItsNameAndTheFolderAfterwards)
{
    Generate();
    const QString real = m_work.filePath("elsewhere");
    ASSERT_TRUE(QDir().mkpath(real));
    ASSERT_TRUE(QFile::link(real, m_export));
    ExpectEveryFileOnTheDiskBeforeItsName();
    EXPECT_TRUE(QFileInfo(m_export).isSymLink()) << "the link was replaced";
    EXPECT_TRUE(QFileInfo::exists(real + "/Students.pef"));
}

} // namespace

// Student records are private by default: whatever the umask the bridge is
// started with, what it creates (export folder, export and status files, the
// attendance cache, the log folder and its files) is readable by the owner
// and the group only, and written by the owner only. A stricter umask
// narrows this further; a folder that already exists keeps its mode.
TEST_F(ExportFolder, WhatARunCreatesIsReadableByOwnerAndGroupOnlyWhateverTheUmask)
{
    Generate();
    struct Case
    {
        mode_t umask;
        bool folderExists;
        mode_t widestFile;
        mode_t widestFolder;
    };
    const Case cases[] = {
        {0000, false, 0640, 0750},
        {0022, false, 0640, 0750},
        {0077, false, 0600, 0700},
        {0000, true, 0640, 0750},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("umask " + QString::number(c.umask, 8).toStdString() + (c.folderExists ? ", folder exists" : ""));
        const QString run = m_work.filePath(QString("umask%1%2").arg(c.umask, 0, 8).arg(c.folderExists ? "-existing" : ""));
        const QString exportFolder = run + "/export", logFolder = run + "/logs";
        ASSERT_TRUE(QDir().mkpath(run));
        if (c.folderExists) {
            ASSERT_TRUE(QDir().mkpath(exportFolder));
            ASSERT_EQ(::chmod(exportFolder.toUtf8().constData(), 0755), 0);
        }
        std::vector<std::string> arguments = Arguments(exportFolder);
        arguments.pop_back();  // the full and the update export: the cache too
        arguments.push_back("--logpath=" + logFolder.toStdString());
        const mode_t previous = ::umask(c.umask);
        const ChildResult result = Run(arguments);
        ::umask(previous);
        ASSERT_EQ(result.exitCode, 0) << result.standardError;

        std::vector<std::string> seen;
        const auto check = [&](const QString& path, bool isFolder) {
            struct stat st {};
            ASSERT_EQ(::lstat(path.toUtf8().constData(), &st), 0) << path.toStdString();
            const mode_t mode = st.st_mode & 07777;
            const mode_t widest = isFolder ? c.widestFolder : c.widestFile;
            EXPECT_EQ(mode & ~widest, 0u) << path.toStdString() << " has mode " << std::oct << mode;
            seen.push_back(QFileInfo(path).fileName().toStdString());
        };
        for (const QString& top : {exportFolder, logFolder}) {
            if (!(c.folderExists && top == exportFolder))
                check(top, true);
            QDirIterator it(top, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString path = it.next();
                check(path, it.fileInfo().isDir());
            }
        }
        for (const char* name : {"Students.pef", "MORV.PDE", "Data ExtractorStatus.tmp", "BridgeStatus.tmp", "Attendance.db"})
            EXPECT_NE(std::find(seen.begin(), seen.end(), name), seen.end()) << name << " was not checked";
        if (c.folderExists) {
            struct stat st {};
            ASSERT_EQ(::stat(exportFolder.toUtf8().constData(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0755u) << "the existing export folder's mode was changed";
        }
    }
}

// Ten nights of runs, a day apart on the clock (libfaketime): the log folder
// and the export folder each keep the last seven daily logs, whether the log
// lives in the export folder or in its own (--logpath) with a copy beside the
// export files.
TEST_F(ExportFolder, TenNightsKeepTheLastSevenLogsInEveryFolder)
{
    const char* const library = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
    if (::access(library, R_OK) != 0)
        MISSING_PREREQUISITE("libfaketime is not installed (scripts/setup installs libfaketime)");
    Generate();
    const QRegularExpression dailyLog("^MORV-.*-\\d{4}-\\d{2}-\\d{2}\\.log$");
    const auto logsIn = [&](const QString& folder) {
        QStringList logs;
        for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name))
            if (dailyLog.match(name).hasMatch())
                logs.append(name.right(14));  // yyyy-MM-dd.log
        return logs;
    };
    QStringList lastSeven;
    for (int night = 4; night <= 10; ++night)
        lastSeven.append(QString("2027-03-%1.log").arg(night, 2, 10, QChar('0')));

    for (const bool ownLogFolder : {false, true}) {
        SCOPED_TRACE(ownLogFolder ? "with --logpath" : "without --logpath");
        const QString run = m_work.filePath(ownLogFolder ? "with-logpath" : "without-logpath");
        const QString exportFolder = run + "/export", logFolder = run + "/logs";
        std::vector<std::string> arguments = Arguments(exportFolder);
        if (ownLogFolder)
            arguments.push_back("--logpath=" + logFolder.toStdString());
        for (int night = 1; night <= 10; ++night) {
            std::vector<std::string> environment = Environment();
            environment.push_back(PreloadEntry({library}));
            // An offset from now, not an absolute time: libfaketime reads an
            // absolute one with mktime on the first clock call, which under
            // AddressSanitizer comes from inside its allocator and deadlocks.
            const qint64 offset = QDateTime(QDate(2027, 3, night), QTime(1, 30)).toSecsSinceEpoch()
                - QDateTime::currentSecsSinceEpoch();
            environment.push_back("FAKETIME=" + std::string(offset < 0 ? "" : "+") + std::to_string(offset));
            environment.push_back("FAKETIME_DONT_FAKE_MONOTONIC=1");
            const ChildResult result = RunChildProcess(kBridge, arguments, environment, m_work.path().toStdString());
            ASSERT_EQ(result.exitCode, 0) << "night " << night << ": " << result.standardError;
        }
        EXPECT_EQ(logsIn(exportFolder), lastSeven) << "in the export folder";
        if (ownLogFolder) {
            EXPECT_EQ(logsIn(logFolder), lastSeven) << "in the log folder";
        }
    }
}

// A value that does not parse is refused before the run reads or writes
// anything, naming the option: it would otherwise change the export
// silently (no inactive students, no validate mode, the default log style).
// The data source works, so a run that went ahead would write its tables.
TEST_F(ExportFolder, MalformedOptionValuesAreRefusedBeforeTheRunStarts)
{
    Generate();
    struct Case
    {
        const char* option;
        const char* key;
    };
    const Case cases[] = {
        {"--inactivedate=garbage", "inactivedate"},
        {"--inactivedate=2027-13-45", "inactivedate"},
        {"--inactivedate=01/02/2027", "inactivedate"},
        {"--log=verbose", "log"},
        {"--log=CONSOLEOFF", "log"},
        {"--validate=abc", "validate"},
        {"--validate=1x", "validate"},
    };
    const std::string secret = "Pw-never-shown-42";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        const QString folder = m_work.filePath(QString("refused-%1").arg(&c - cases));
        std::vector<std::string> arguments = Arguments(folder);
        for (std::string& argument : arguments)
            if (argument.rfind("--pwd=", 0) == 0)
                argument = "--pwd=" + secret;
        arguments.push_back(c.option);
        const ChildResult result = Run(arguments);
        const std::string output = result.standardOutput + result.standardError;
        EXPECT_EQ(result.exitCode, 1) << output;
        EXPECT_NE(output.find(std::string("error\t") + c.key + "\t"), std::string::npos) << output;
        EXPECT_NE(output.find(std::string("--") + c.key), std::string::npos) << output;
        EXPECT_EQ(output.find(secret), std::string::npos) << "the password was echoed";
        for (const QString& name : QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
            EXPECT_FALSE(name.endsWith(".pef") || name == "MORV.PDE" || name.startsWith("Update ") ||
                         name == "Attendance" || name.endsWith(".log"))
                << name.toStdString() << " was written";
        }
    }
}
