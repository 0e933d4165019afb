// The password of an unattended run comes from a file only its owner can
// read: what the file yields, which files are refused and why, and that a run
// given such a file neither shows the password nor starts when it is refused.
#include "app/PasswordFile.h"
#include "tests/app/BridgeProcess.h"
#include "tests/support/TestOdbcSource.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <sys/types.h>

namespace {

// Writes `bytes` to `path` with exactly `mode` (umask aside).
void writeFile(const QString &path, const QByteArray &bytes, mode_t mode)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

TEST(PasswordFile, YieldsThePasswordOrNamesWhatIsWrong)
{
    struct Case
    {
        const char *name;
        QByteArray bytes;
        mode_t mode;
        QString password; // expected when `cause` is empty
        QString cause;    // expected part of the refusal
    };
    const Case cases[] = {
        {"line_feed_ends_it", "s3cret\n", 0600, QStringLiteral("s3cret"), {}},
        {"cr_lf_ends_it", "s3cret\r\n", 0400, QStringLiteral("s3cret"), {}},
        {"no_line_break", "s3cret", 0600, QStringLiteral("s3cret"), {}},
        // Blanks belong to the password; only one line break is taken off.
        {"blanks_kept", " s3 cret \n", 0600, QStringLiteral(" s3 cret "), {}},
        // Read as the command line is: UTF-8.
        {"utf8", "p\xc3\xa4ss\n", 0600, QString::fromUtf8("p\xc3\xa4ss"), {}},
        // Others may write but not read: nothing leaks.
        {"group_may_write", "s3cret\n", 0620, QStringLiteral("s3cret"), {}},
        {"group_may_read", "s3cret\n", 0640, {}, QStringLiteral("may be read by its group or others (mode 0640)")},
        {"others_may_read", "s3cret\n", 0604, {}, QStringLiteral("may be read by its group or others (mode 0604)")},
        {"empty", "", 0600, {}, QStringLiteral(" is empty.")},
        {"only_a_line_break", "\n", 0600, {}, QStringLiteral(" is empty.")},
        {"two_lines", "s3cret\nother\n", 0600, {}, QStringLiteral("holds more than one line")},
        {"two_line_breaks", "s3cret\n\n", 0600, {}, QStringLiteral("holds more than one line")},
        // A carriage return anywhere but before the last line feed is part
        // of no password a data source takes.
        {"lone_carriage_return", "s3c\rret\n", 0600, {}, QStringLiteral("holds more than one line")},
        {"carriage_return_ends_it", "s3cret\r", 0600, {}, QStringLiteral("holds more than one line")},
        {"two_carriage_returns", "s3cret\r\r\n", 0600, {}, QStringLiteral("holds more than one line")},
        {"only_cr_lf", "\r\n", 0600, {}, QStringLiteral(" is empty.")},
    };
    QTemporaryDir folder;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = folder.filePath(QString::fromLatin1(c.name));
        writeFile(path, c.bytes, c.mode);
        QString password = QStringLiteral("left over");
        QString cause;
        const bool read = PasswordFile::Read(path, password, cause);
        EXPECT_EQ(read, c.cause.isEmpty()) << cause.toStdString();
        if (c.cause.isEmpty()) {
            EXPECT_EQ(password, c.password);
        } else {
            EXPECT_TRUE(cause.startsWith(QStringLiteral("The password file ") + path)) << cause.toStdString();
            EXPECT_TRUE(cause.contains(c.cause)) << cause.toStdString();
            EXPECT_TRUE(password.isEmpty());
            EXPECT_FALSE(cause.contains(QStringLiteral("s3cret")));
        }
    }
}

TEST(PasswordFile, RefusesWhatIsNoRegularFile)
{
    QTemporaryDir folder;
    const QString fifo = folder.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const struct
    {
        QString path;
        QString cause;
    } cases[] = {
        {folder.filePath(QStringLiteral("missing")), QStringLiteral(" cannot be read: No such file or directory.")},
        {folder.path(), QStringLiteral(" is not a regular file.")},
        // Opening a pipe nobody writes to must not hang the run.
        {fifo, QStringLiteral(" is not a regular file.")},
    };
    for (const auto &c : cases) {
        QString password;
        QString cause;
        EXPECT_FALSE(PasswordFile::Read(c.path, password, cause)) << c.path.toStdString();
        EXPECT_EQ(cause, QStringLiteral("The password file ") + c.path + c.cause);
    }
}

class PasswordFileRun : public ::testing::Test
{
protected:
    // A source without school tables: the run connects, then fails, which
    // shows the password passed the requirement check and reached the
    // connection without being given on the command line.
    TestOdbcSource source{"MorvAppPasswordFile"};
    QTemporaryDir home;
    QTemporaryDir work;
    QTemporaryDir credentials; // apart, so a search of `work` does not find the file itself
    const QString exportFolder = work.path() + QStringLiteral("/export");
    const QString passwordPath = credentials.path() + QStringLiteral("/site.pwd");

    BridgeResult run(const QStringList &extra)
    {
        QStringList environment;
        for (const std::string &pair : source.Environment())
            environment.append(QString::fromStdString(pair));
        return runBridge(QStringList{QStringLiteral("run"), QStringLiteral("--demo"),
                                     QStringLiteral("--dsn=") + QString::fromStdString(source.Dsn()),
                                     QStringLiteral("--user=clerk"), QStringLiteral("--school=1"),
                                     QStringLiteral("--path=") + exportFolder}
                             + extra,
                         home.path(), environment);
    }
    QString log() const
    {
        return QString::fromUtf8(ReadWholeFile(exportFolder + QStringLiteral("/MORV--1-")
                                               + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))
                                               + QStringLiteral(".log")));
    }
    QString status() const
    {
        return QString::fromUtf8(ReadWholeFile(exportFolder + QStringLiteral("/Data ExtractorStatus.tmp")));
    }
};

TEST_F(PasswordFileRun, GivesThePasswordWithoutShowingIt)
{
    const QString password = QStringLiteral("Vk9-FromTheFile!");
    writeFile(passwordPath, password.toUtf8() + '\n', 0600);

    const BridgeResult r = run({QStringLiteral("--pwdfile=") + passwordPath});
    const QString out = r.out.join(u'\n');

    EXPECT_FALSE(r.err.contains(QStringLiteral("missing"))) << r.err.toStdString();
    EXPECT_TRUE(log().contains(QStringLiteral("Connected to data source."))) << log().toStdString();
    EXPECT_EQ(r.exitCode, 1); // no school in this source
    const QString everything = out + r.err + everythingIn(work.path()) + everythingIn(home.path());
    EXPECT_FALSE(everything.contains(password)) << everything.toStdString();
    // The path is no secret: support sees which file the run was given.
    EXPECT_TRUE(log().contains(QStringLiteral("pwdfile=") + passwordPath)) << log().toStdString();
}

TEST_F(PasswordFileRun, EchoedArgumentsShowThePathNotThePassword)
{
    QDir().mkpath(exportFolder);
    const BridgeResult r = runBridge({QStringLiteral("help"), QStringLiteral("--pwdfile=") + passwordPath,
                                      QStringLiteral("--pwd=Vk9-OnTheLine"), QStringLiteral("--path=") + exportFolder},
                                     home.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(status().contains(QStringLiteral(", --pwdfile=") + passwordPath + QStringLiteral(", ")))
        << status().toStdString();
    EXPECT_FALSE(status().contains(QStringLiteral("Vk9-OnTheLine"))) << status().toStdString();
}

TEST_F(PasswordFileRun, RefusedFileStopsTheRunWithItsCause)
{
    struct Case
    {
        const char *name;
        mode_t mode;       // 0: no file at all
        QStringList extra; // beside --pwdfile
        QString cause;
    };
    const Case cases[] = {
        {"readable_by_others", 0644, {}, QStringLiteral("may be read by its group or others (mode 0644)")},
        {"missing", 0, {}, QStringLiteral("cannot be read: No such file or directory.")},
        {"with_pwd", 0600, {QStringLiteral("--pwd=other")},
         QStringLiteral("The password is given twice: --pwdfile cannot be combined with --pwd or --pwdencode.")},
        {"with_pwdencode", 0600, {QStringLiteral("--pwdencode=wrwr")},
         QStringLiteral("The password is given twice: --pwdfile cannot be combined with --pwd or --pwdencode.")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(passwordPath);
        QDir(exportFolder).removeRecursively();
        if (c.mode)
            writeFile(passwordPath, "s3cret\n", c.mode);

        const BridgeResult r = run(QStringList{QStringLiteral("--pwdfile=") + passwordPath} + c.extra);

        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains(QStringLiteral("error\tpwdfile\t"))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.cause)) << r.err.toStdString();
        EXPECT_EQ(r.out, (QStringList{QStringLiteral("start_progress\t0"), QStringLiteral("end_progress")}));
        EXPECT_TRUE(status().contains(QStringLiteral("\tFailed\t"))) << status().toStdString();
        EXPECT_TRUE(status().contains(c.cause)) << status().toStdString();
        // Refused before the source was opened.
        EXPECT_FALSE(log().contains(QStringLiteral("Connected"))) << log().toStdString();
        EXPECT_FALSE((r.out.join(u'\n') + r.err + everythingIn(work.path())).contains(QStringLiteral("s3cret")));
    }
}

} // namespace
