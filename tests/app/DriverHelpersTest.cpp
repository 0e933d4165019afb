// Driver helpers with decisions of their own: run flags, the task's sink routing,
// argument masking, the defaults status folder and the start-up failure path.
#include "app/BridgeBase.h"
#include "app/ProtocolRouter.h"
#include "app/SISMessageWriter.h"
#include "app/StartupFailure.h"
#include "export/AppTaskBase.h"
#include "log/LogManager.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>

namespace {

TEST(DriverHelpers, RunFlagsFromSwitches)
{
    struct Case
    {
        bool all, demo, att;
        RunFlags flags;
    };
    const Case cases[] = {
        {false, false, false, RunFlags::Both},         {true, false, false, RunFlags::Both},
        {false, true, false, RunFlags::Full},          {false, false, true, RunFlags::Update},
        {false, true, true, RunFlags::FullAndUpdate},  {true, true, true, RunFlags::FullAndUpdate},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SISConfig::FlagsFromSwitches(c.all, c.demo, c.att), c.flags) << c.all << c.demo << c.att;
}

TEST(DriverHelpers, TaskSinkReachesWriterAndLog)
{
    QBuffer out, err, console;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    console.open(QIODevice::WriteOnly);
    SISMessageWriter writer(&out, &err);
    LogManager log(QStringLiteral("MORV"), QString(), &console);
    ProtocolRouter router(&writer, &log, ProtocolRouter::Routing::Task);
    AppTaskBase task;
    task.SetSink(&router);

    task.Sink().Progress(QStringLiteral("start_progress"), 3);
    task.Sink().ProgressStep(QStringLiteral("Reading STU..."));
    task.Sink().Missing(QStringLiteral("dsn"), QStringLiteral("DSN missing or blank."));
    task.Sink().Error(QStringLiteral("file"), QStringLiteral("Could not create pde folder: x"));
    task.Sink().Status(QStringLiteral("success"), QStringLiteral("d"), QStringLiteral("unrouted"));
    task.Sink().Log(LogLevel::Warning, QStringLiteral("a warning"), QStringLiteral("BridgeTaskBase::Log"));
    task.Sink().Progress(QStringLiteral("end_progress"), -1);

    EXPECT_EQ(out.data().toStdString(), "start_progress\t3\ninc_progress\tReading STU...\nend_progress\n");
    EXPECT_EQ(err.data().toStdString(),
              "missing\tdsn\tDSN missing or blank.\nerror\tfile\tCould not create pde folder: x\n");
    EXPECT_TRUE(console.data().contains("\tBridgeTaskBase::Log\ta warning\n"));
}

// Only the command word, registered keys that are not secret and their
// values are echoed; anything else is masked whole, name and value.
TEST(DriverHelpers, EchoedArguments)
{
    BridgeBase bridge;
    const QString m = AppBase::mask();
    const struct {
        QStringList given;
        QStringList echoed;
    } cases[] = {
        {{"prog", "run", "--dsn=d", "--user", "u", "--path=/x", "--demo"},
         {"prog", "run", "--dsn=d", "--user", "u", "--path=/x", "--demo"}},
        {{"prog", "--pwd=abc", "--pwdencode=2w2w", "--pwd", "xyz", "--pwd", "--dsn=d"},
         {"prog", m, m, m, m, m, "--dsn=d"}},
        // The value of a hidden option stays hidden even when it reads as a
        // command word; a switch carries no value.
        {{"prog", "--pwd", "run", "--all=secret", "--all", "version"}, {"prog", m, m, m, "--all", "version"}},
        // Spellings of a password the registry does not know.
        {{"prog", "--pw=a", "--PWD=b", "--pwd:c", "--pwdd", "/pwd:e", "\u2014pwd=f", "-p", "g", "--", "h"},
         {"prog", m, m, m, m, m, m, m, m, m, m}},
        {{"prog", "frobnicate", "--school=-5", "-"}, {"prog", m, "--school=-5", m}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(bridge.echoedArguments(c.given), c.echoed) << c.given.join(u' ').toStdString();
}

// A parameter's own declaration decides whether it is shown: a new option
// is handled by declaring it, not by its name.
TEST(DriverHelpers, SecretIsDeclaredByTheParameter)
{
    BridgeBase bridge;
    ParamRecord *file = bridge.addParam("connection", "pwdfile", "Password File", ParamType::File, "", "");
    ASSERT_NE(file, nullptr);
    ParamRecord *token = bridge.addParam("connection", "token", "Token", ParamType::Edit, "", "");
    ASSERT_NE(token, nullptr);
    token->secret = true;
    EXPECT_EQ(bridge.echoedArguments({"prog", "--pwdfile=/etc/morv/pw", "--token=t"}),
              (QStringList{"prog", "--pwdfile=/etc/morv/pw", AppBase::mask()}));
}

TEST(DriverHelpers, DefaultsStatusFolder)
{
    QTemporaryDir dir;
    EXPECT_EQ(SISConfig::defaultsStatusFolder(""), QString());
    EXPECT_EQ(SISConfig::defaultsStatusFolder(dir.path()), dir.path());
    EXPECT_EQ(SISConfig::defaultsStatusFolder(dir.path() + "/HNConfig.xml"), dir.path());
    EXPECT_EQ(SISConfig::defaultsStatusFolder("C:\\Harnoth\\HNConfig.xml"), QStringLiteral("C:\\Harnoth"));
    EXPECT_EQ(SISConfig::defaultsStatusFolder("HNConfig.xml"), QDir::currentPath());
    EXPECT_EQ(SISConfig::defaultsStatusFolder("/HNConfig.xml"), QStringLiteral("/"));
}

TEST(DriverHelpers, StartupFailureLeavesFailedStatusFiles)
{
    QTemporaryDir dir;
    const QStringList arguments = {"morvbridge", "run", "--path=" + dir.path() + "/out\""};
    EXPECT_EQ(StartupFailure::pathFromArguments(arguments), dir.path() + "/out\\");
    EXPECT_EQ(StartupFailure::report(arguments, "no memory\nleft", "Data ExtractorStatus.tmp", "finished_bridge.tmp"), 1);

    QFile status(dir.path() + "/out/Data ExtractorStatus.tmp");
    ASSERT_TRUE(status.open(QIODevice::ReadOnly));
    const QByteArray line = status.readAll();
    EXPECT_TRUE(line.contains("\tFailed\tThe bridge could not complete the command: no memory left\r\n"))
        << line.toStdString();
    EXPECT_EQ(line.count('\n'), 1);
    QFile finished(dir.path() + "/out/finished_bridge.tmp");
    ASSERT_TRUE(finished.open(QIODevice::ReadOnly));
    EXPECT_EQ(finished.readAll(), QByteArray("finished\r\n"));
}

} // namespace

namespace {

TEST(DriverHelpers, TempLocalDatabaseFolderIsPerProcessAndNeedsAName)
{
    BridgeBase bridge;
    EXPECT_TRUE(bridge.CreateTempLocalDBFolder(QString()).isEmpty());

    const QString folder = bridge.CreateTempLocalDBFolder(QStringLiteral("att"));
    ASSERT_FALSE(folder.isEmpty());
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_TRUE(folder.endsWith(QStringLiteral("/localDB")));
    const QString perProcess = QFileInfo(folder).dir().dirName();
    EXPECT_TRUE(perProcess.startsWith(QStringLiteral("morv.att."))) << perProcess.toStdString();
    EXPECT_TRUE(perProcess.endsWith(u'.' + QString::number(QCoreApplication::applicationPid())));
    EXPECT_EQ(QFileInfo(folder).dir().absolutePath(), QDir::tempPath() + QStringLiteral("/vrk/") + perProcess);
    QDir(QFileInfo(folder).dir().absolutePath()).removeRecursively();
}

} // namespace
