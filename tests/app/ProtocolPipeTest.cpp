// The importer reads the bridge's standard output through a pipe and shows
// progress while the run goes on: each protocol line must arrive when it is
// written, not in one burst when the process ends.
#include "tests/app/BridgeProcess.h"
#include "tests/support/TestOdbcSource.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>

#include <sqlite3.h>

namespace {

TEST(ProtocolPipe, ProgressLinesArriveWhileTheRunIsStillGoing)
{
    TestOdbcSource source("MorvAppPipeSource");
    source.Exec("CREATE TABLE Schools (_DistBldg VARCHAR(4) NOT NULL, _Year INT NOT NULL, "
                "SchoolName VARCHAR(60), IsLive CHAR(1));"
                "INSERT INTO Schools VALUES ('1', 2025, 'Hill', 'Y');");

    // Holding the database exclusively keeps the run waiting in its first
    // query, well after its first progress lines.
    sqlite3 *lock = nullptr;
    ASSERT_EQ(sqlite3_open(source.DatabasePath().c_str(), &lock), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(lock, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    QTemporaryDir home, work;
    QProcess bridge;
    std::vector<std::string> environment = source.Environment();
    environment.push_back("HOME=" + home.path().toStdString());
    ASSERT_TRUE(StartChildProcess(bridge, bridgeProgram().toStdString(),
                                  {"run", "--demo", "--dsn=" + source.Dsn(), "--user=u", "--pwd=p", "--school=1",
                                   "--path=" + work.path().toStdString()},
                                  environment));

    QByteArray seen;
    QElapsedTimer clock;
    clock.start();
    while (!seen.contains("start_progress\t") && clock.elapsed() < 4000 && bridge.state() == QProcess::Running) {
        bridge.waitForReadyRead(200);
        seen += bridge.readAllStandardOutput();
    }
    const bool stillRunning = bridge.state() == QProcess::Running;

    sqlite3_exec(lock, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(lock);
    bridge.kill();
    bridge.waitForFinished();

    EXPECT_TRUE(seen.startsWith("log\t")) << seen.toStdString();
    EXPECT_TRUE(seen.contains("\nstart_progress\t")) << seen.toStdString();
    EXPECT_TRUE(stillRunning) << "the run ended before the test could look: " << seen.toStdString();
    // Whole lines only: a line is written in one piece with its end.
    EXPECT_TRUE(seen.endsWith('\n')) << seen.toStdString();
}

} // namespace
