// Whole-process cases that need more than one look at the results: log styles,
// passwords kept out of every output, quoted folders and the log fallback.
#include "tests/app/BridgeProcess.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>

#include <ostream>
#include <vector>

namespace {

QString today() { return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")); }

// The importer's encoding: each character becomes two alphabet characters,
// high half first.
QString encodePassword(const QString &plain)
{
    const QString alphabet = QStringLiteral("Qw7!rT2#mK9$zX4p");
    QString encoded;
    for (QChar c : plain)
        encoded += alphabet.at(c.unicode() / 16) + QString(alphabet.at(c.unicode() % 16));
    return encoded;
}

QStringList runArguments(const QString &dir)
{
    return {QStringLiteral("run"), QStringLiteral("--dsn=d"), QStringLiteral("--user=u"), QStringLiteral("--pwd=p"),
            QStringLiteral("--school=1"), QStringLiteral("--path=") + dir};
}

struct StyleCase
{
    const char *style;
    bool setupOnConsole; // the Informational set-up record
    bool setupInFile;
};

void PrintTo(const StyleCase &c, std::ostream *os) { *os << (*c.style ? c.style : "(none)"); }

class LogStyle : public ::testing::TestWithParam<StyleCase>
{
};

TEST_P(LogStyle, DecidesWhereRecordsGo)
{
    const StyleCase &c = GetParam();
    QTemporaryDir home, work;
    QStringList arguments = runArguments(work.path());
    if (*c.style)
        arguments << QStringLiteral("--log=") + QString::fromLatin1(c.style);

    const BridgeResult r = runBridge(arguments, home.path());
    const QString out = r.out.join(u'\n');
    const QString logFile = work.path() + QStringLiteral("/MORV--1-") + today() + QStringLiteral(".log");
    const QString file = QString::fromUtf8(ReadWholeFile(logFile));

    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(out.contains(QStringLiteral("LogManager::setupLogFile")), c.setupOnConsole) << out.toStdString();
    EXPECT_EQ(file.contains(QStringLiteral("LogManager::setupLogFile")), c.setupInFile);
    // Whatever the style: the header's start line and errors reach the importer,
    // and the file gets its header block.
    EXPECT_TRUE(out.contains(QStringLiteral("log\tInformational\tTIME\t\tQuillon Data Extractor for MORV started.")));
    EXPECT_TRUE(out.contains(QStringLiteral("log\tError        \tTIME\tBridgeTaskBase::BeginExecute\t")))
        << out.toStdString();
    EXPECT_TRUE(file.contains(QStringLiteral("Quillon Data Extractor for MORV File\r\n")));
    // The progress closes the protocol: the task's teardown records go to the
    // log file only, whatever the style.
    EXPECT_EQ(r.out.value(r.out.size() - 1), QStringLiteral("end_progress")) << out.toStdString();
    EXPECT_EQ(file.contains(QStringLiteral("End DataAccessBase Destructor")), c.setupInFile);
}

INSTANTIATE_TEST_SUITE_P(Styles, LogStyle,
                         ::testing::Values(StyleCase{"", true, true}, StyleCase{"off", false, false},
                                           StyleCase{"consoleoff", false, true},
                                           StyleCase{"fileoff", true, false},
                                           StyleCase{"extract", true, true}),
                         [](const ::testing::TestParamInfo<StyleCase> &info) {
                             return *info.param.style ? std::string(info.param.style) : std::string("all");
                         });

// However the password is spelled, it reaches no output, status file or log:
// only the command word and registered keys that are not secret are echoed.
TEST(CommandLineSecrets, PasswordsNeverReachOutputsLogsOrStatusFiles)
{
    const QString plain = QStringLiteral("-x1Secret");
    const QString encoded = encodePassword(plain);
    const QString bare = QStringLiteral("Zx9Secret");
    struct Run
    {
        QStringList extra;
        const char *command; // empty: none, the extra arguments hold the bare word
    };
    const Run runs[] = {
        {{QStringLiteral("--pwdencode=") + encoded}, "run"},
        {{QStringLiteral("--pwd"), plain}, "run"},
        {{QStringLiteral("--pwd=") + plain, QStringLiteral("--pwdencode=") + encoded}, "help"},
        {{QStringLiteral("--pwd"), QStringLiteral("x1Secret"), QStringLiteral("--pwdencode")}, "run"},
        // Spellings the registry does not know fail the scan, whose warning
        // and "args:" line still must not carry the value.
        {{QStringLiteral("--password=") + plain}, "run"},
        {{QStringLiteral("--PWD=") + plain}, "run"},
        {{QStringLiteral("--pwdencoded=") + encoded}, "run"},
        {{QStringLiteral("pwd=") + plain}, "run"},
        {{QStringLiteral("--Pass"), plain}, "run"},
        {{QStringLiteral("--pw=") + bare}, "run"},
        {{QStringLiteral("--pswd=") + bare}, "run"},
        {{QStringLiteral("--pword=") + bare}, "run"},
        {{QStringLiteral("--secret=") + bare}, "run"},
        // The secret inside the option's name.
        {{QStringLiteral("--pwd:") + bare}, "run"},
        {{QStringLiteral("--pwd") + bare}, "run"},
        {{QStringLiteral("/pwd:") + bare}, "run"},
        {{QStringLiteral("\u2014pwd=") + bare}, "run"},
        // A blank after the equals sign: the value is an argument of its own.
        {{QStringLiteral("--pwd="), bare}, "run"},
        // Passwords that look like options.
        {{QStringLiteral("--pwd=--") + bare}, "run"},
        {{QStringLiteral("--pwd"), QStringLiteral("--") + bare}, "run"},
        {{QStringLiteral("--pwd"), QStringLiteral("-") + bare}, "run"},
        // A separate value, on a command line the scan refuses.
        {{QStringLiteral("--pwd"), bare, QStringLiteral("--nosuch")}, "run"},
        // The password taken for the command word.
        {{QStringLiteral("--pwd="), bare}, ""},
    };
    for (const Run &run : runs) {
        QTemporaryDir home, work;
        QStringList arguments = {QStringLiteral("--dsn=d"), QStringLiteral("--user=u"), QStringLiteral("--school=1"),
                                 QStringLiteral("--path=") + work.path()};
        if (*run.command)
            arguments.prepend(QString::fromLatin1(run.command));
        arguments += run.extra;
        const BridgeResult r = runBridge(arguments, home.path());
        const QString everything = r.out.join(u'\n') + r.err + everythingIn(work.path()) + everythingIn(home.path());
        SCOPED_TRACE(arguments.join(u' ').toStdString());
        for (const QString &secret : {plain, encoded, QStringLiteral("Secret")})
            EXPECT_FALSE(everything.contains(secret)) << secret.toStdString() << " in:\n" << everything.toStdString();
        // The command ended through its status file, where the importer looks.
        EXPECT_TRUE(QFile::exists(work.path() + QStringLiteral("/Data ExtractorStatus.tmp")));
    }
}

TEST(CommandLineSecrets, EncodedPasswordStartingWithDashSatisfiesTheRun)
{
    // "7X#m!w" is "-x1" encoded. Only the encoded form is given: the run must
    // take it as the password (no "missing" report, no usage text) and reach
    // the task, and a dash-led school value must not be read as an option.
    QTemporaryDir home, work;
    const BridgeResult r = runBridge({QStringLiteral("run"), QStringLiteral("--dsn=d"), QStringLiteral("--user=u"),
                                      QStringLiteral("--pwdencode=7X#m!w"), QStringLiteral("--school=-5"),
                                      QStringLiteral("--path=") + work.path()},
                                     home.path());
    const QString out = r.out.join(u'\n');
    EXPECT_TRUE(out.contains(QStringLiteral("BridgeTaskBase::BeginExecute"))) << out.toStdString();
    EXPECT_FALSE(out.contains(QStringLiteral("missing\tpwdencode"))) << out.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("Usage:")));
    EXPECT_TRUE(QFile::exists(work.path() + QStringLiteral("/MORV---5-") + today() + QStringLiteral(".log")));
}

TEST(CommandLineFolders, SchoolValueCannotMoveTheLogFile)
{
    QTemporaryDir home, work;
    const BridgeResult r = runBridge({QStringLiteral("run"), QStringLiteral("--dsn=d"), QStringLiteral("--user=u"),
                                      QStringLiteral("--pwd=p"), QStringLiteral("--school=../evil"),
                                      QStringLiteral("--path=") + work.path() + QStringLiteral("/export")},
                                     home.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(QFile::exists(work.path() + QStringLiteral("/export/MORV--___evil-") + today() + QStringLiteral(".log")));
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files).size(), 0);
}

TEST(CommandLineFolders, QuotedFolderEndingInAQuoteIsTheFolder)
{
    QTemporaryDir home, work;
    const QString folder = work.path() + QStringLiteral("/Export");
    const BridgeResult r =
        runBridge({QStringLiteral("version"), QStringLiteral("--path=") + folder + u'"'}, home.path());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/Data ExtractorStatus.tmp")));
    EXPECT_FALSE(QFile::exists(folder + u'"'));
}

TEST(CommandLineFolders, UnwritableLogFolderFallsBackToDocuments)
{
    QTemporaryDir home, work;
    QFile blocker(work.path() + QStringLiteral("/blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QStringList arguments = runArguments(work.path());
    arguments << QStringLiteral("--logpath=") + work.path() + QStringLiteral("/blocker/logs");

    const BridgeResult r = runBridge(arguments, home.path());

    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("error\tLog File Error\tCould not write to: ") + work.path()
                               + QStringLiteral("/blocker/logs/MORV--1. Will now write to: ") + home.path()
                               + QStringLiteral("/Documents/MORV--1\n")))
        << r.err.toStdString();
    const QString fallback = home.path() + QStringLiteral("/Documents/MORV--1-") + today() + QStringLiteral(".log");
    EXPECT_TRUE(QFile::exists(fallback));
    // The run still ends with its status files and a copy of the log.
    EXPECT_TRUE(ReadWholeFile(work.path() + QStringLiteral("/Data ExtractorStatus.tmp")).contains("\tFailed\tFailed on extraction: "));
    EXPECT_TRUE(QFile::exists(work.path() + QStringLiteral("/MORV--1-") + today() + QStringLiteral(".log")));
}

// An export folder that cannot be created takes the road the importer knows:
// the log falls back to the documents folder, the run ends with the task's
// "Could not create pde folder" under the key "file" (no progress started),
// and the system's reason follows in the log.
TEST(CommandLineFolders, UncreatableExportFolderFailsAsCouldNotCreatePdeFolder)
{
    QTemporaryDir home, work;
    QFile blocker(work.path() + QStringLiteral("/blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QDir().mkpath(work.path() + QStringLiteral("/locked"));
    struct Case
    {
        QString path;
        const char *cause;
    };
    std::vector<Case> cases = {{work.path() + QStringLiteral("/blocker/export"), "Not a directory"},
                               {work.path() + QStringLiteral("/blocker"), "Not a directory"}};
    if (CanRunWithFilePermissions()) {
        ASSERT_TRUE(QFile::setPermissions(work.path() + QStringLiteral("/locked"),
                                          QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        cases.push_back({work.path() + QStringLiteral("/locked/export"), "Permission denied"});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        QStringList arguments = runArguments(c.path);
        const BridgeResult r = runBridge(arguments, home.path(), {}, true);
        const QString documents = home.path() + QStringLiteral("/Documents");
        const QString pde = QStringLiteral("Could not create pde folder: ") + c.path;
        EXPECT_EQ(r.out.join(u'\n').toStdString(),
                  (QStringList{
                       QStringLiteral("log\tError        \tTIME\tLogManager::setupLogFile\tLog file ") + c.path
                           + QStringLiteral("/MORV--1-") + today() + QStringLiteral(".log cannot be opened."),
                       QStringLiteral("log\tInformational\tTIME\tLogManager::setupLogFile\tLog file ") + documents
                           + QStringLiteral("/MORV--1-") + today() + QStringLiteral(".log setup."),
                       QStringLiteral("log\tInformational\tTIME\t\tQuillon Data Extractor for MORV started."),
                       QStringLiteral("inc_progress\tStarting Execution..."),
                       QStringLiteral("log\tProgress     \tTIME\tBridgeTaskBase::BeginExecute\tStarting Execution..."),
                       QStringLiteral("log\tError        \tTIME\tBridgeTaskBase::SetPDEFolder\t") + pde,
                       QStringLiteral("log\tInformational\tTIME\tBridgeTaskBase::SetPDEFolder\t") + pde
                           + QStringLiteral(": ") + QString::fromLatin1(c.cause),
                   })
                      .join(u'\n')
                      .toStdString());
        EXPECT_EQ(r.err.toStdString(), (QStringLiteral("error\tLog File Error\tCould not write to: ") + c.path
                                        + QStringLiteral("/MORV--1. Will now write to: ") + documents
                                        + QStringLiteral("/MORV--1\nerror\tfile\t") + pde + u'\n')
                                           .toStdString());
        EXPECT_EQ(r.exitCode, 1);
        // Nothing was written beside the folder that could not be made.
        EXPECT_EQ(QDir(work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  (QStringList{QStringLiteral("blocker"), QStringLiteral("locked")}));
        EXPECT_TRUE(QFile::exists(documents + QStringLiteral("/MORV--1-") + today() + QStringLiteral(".log")));
    }
    QFile::setPermissions(work.path() + QStringLiteral("/locked"), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                     | QFileDevice::ExeOwner);
}

TEST(CommandLineFolders, UnwritableStatusFolderIsLoggedAndKeepsTheStatus)
{
    QTemporaryDir home, work;
    QFile blocker(work.path() + QStringLiteral("/blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    const BridgeResult r = runBridge({QStringLiteral("version"), QStringLiteral("--path=") + work.path()
                                          + QStringLiteral("/blocker/export")},
                                     home.path());

    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("log\tWarning      \tTIME\tAppBase::finishCommand\tCould not write the "
                                              "status file Data ExtractorStatus.tmp in ")
                               + work.path() + QStringLiteral("/blocker/export")))
        << r.out.join(u'\n').toStdString();
}

TEST(CommandLineFolders, RunReplacesThePreviousRunsStatus)
{
    QTemporaryDir home, work;
    QFile old(work.path() + QStringLiteral("/Data ExtractorStatus.tmp"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("2020/01/01 00:00:00\tSucceeded\tSucceeded\r\n");
    old.close();
    QFile bridgeStatus(work.path() + QStringLiteral("/BridgeStatus.tmp"));
    ASSERT_TRUE(bridgeStatus.open(QIODevice::WriteOnly));
    bridgeStatus.write("2020/01/01 00:00:00\tSucceeded\tSucceeded\r\n");
    bridgeStatus.close();

    const BridgeResult r = runBridge(runArguments(work.path()), home.path());

    EXPECT_EQ(r.exitCode, 1);
    const QByteArray status = ReadWholeFile(work.path() + QStringLiteral("/Data ExtractorStatus.tmp"));
    EXPECT_FALSE(status.contains("Succeeded")) << status.toStdString();
    EXPECT_TRUE(ReadWholeFile(work.path() + QStringLiteral("/BridgeStatus.tmp")).endsWith("\tExtract Running\r\n"));
}

} // namespace
