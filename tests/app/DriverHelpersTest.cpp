// Driver helpers with decisions of their own: run flags, log name cleaning,
// argument masking, the defaults status folder and the start-up failure path.
#include "app/BridgeBase.h"
#include "app/StartupFailure.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

TEST(DriverHelpers, RunFlagsFromSwitches)
{
    struct Case
    {
        bool all, demo, att;
        int flags;
    };
    const Case cases[] = {
        {false, false, false, -1}, {true, false, false, -1}, {false, true, false, 1},
        {false, false, true, 2},   {false, true, true, 3},   {true, true, true, 3},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SISConfig::RunFlags(c.all, c.demo, c.att), c.flags) << c.all << c.demo << c.att;
}

TEST(DriverHelpers, LogNamesStayInsideTheirFolder)
{
    EXPECT_EQ(SISConfig::CleanLogFileName("MORV--0101"), QStringLiteral("MORV--0101"));
    EXPECT_EQ(SISConfig::CleanLogFileName("MORV--../../etc/x"), QStringLiteral("MORV--______etc_x"));
    EXPECT_EQ(SISConfig::CleanLogFileName("MORV--a b:c\\d"), QStringLiteral("MORV--a_b_c_d"));
    EXPECT_EQ(SISConfig::CleanLogFolderName("C:\\Logs\\My (old) & new"), QStringLiteral("C:\\Logs\\My (old) & new"));
    EXPECT_EQ(SISConfig::CleanLogFolderName("/tmp/a*b?\"c"), QStringLiteral("/tmp/a_b__c"));
}

TEST(DriverHelpers, MaskedArguments)
{
    BridgeBase bridge;
    const QStringList given = {"prog", "--pwd=abc", "--pwdencode=2w2w", "--pwd", "xyz", "--pwd", "--dsn=d", "--user=u"};
    const QStringList expected = {"prog", "--pwd=********", "--pwdencode=********", "--pwd", "********", "--pwd",
                                  "--dsn=d", "--user=u"};
    EXPECT_EQ(bridge.maskedArguments(given), expected);
}

TEST(DriverHelpers, DefaultsStatusFolder)
{
    QTemporaryDir dir;
    EXPECT_EQ(SISConfig::defaultsStatusFolder(""), QString());
    EXPECT_EQ(SISConfig::defaultsStatusFolder(dir.path()), dir.path());
    EXPECT_EQ(SISConfig::defaultsStatusFolder(dir.path() + "/HNConfig.xml"), dir.path());
    EXPECT_EQ(SISConfig::defaultsStatusFolder("C:\\Harnoth\\HNConfig.xml"), QStringLiteral("C:\\Harnoth"));
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
