// The log manager through its files and console lines: where each record goes
// by mode and level, the file format, and which daily files survive.
#include "log/LogManager.h"
#include "tests/support/WholeFile.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTime>

#include <ctime>

namespace {

QString today() { return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")); }

void touch(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
}

struct Routed
{
    LogManager::Mode mode;
    LogLevel::Level level;
    bool console;
    bool file;
};

TEST(LogManager, RoutesRecordsByModeAndLevel)
{
    const Routed cases[] = {
        {LogManager::Mode::All, LogLevel::Informational, true, true},
        {LogManager::Mode::All, LogLevel::Debug, false, true},  // debug never on the console
        {LogManager::Mode::All, LogLevel::Proprietary, false, true},
        {LogManager::Mode::All, LogLevel::None, false, false},  // None goes nowhere
        {LogManager::Mode::All, LogLevel::ProgressWarning, true, true},  // progress warning, no name
        {LogManager::Mode::ConsoleOff, LogLevel::Error, true, true},  // errors always reach the importer
        {LogManager::Mode::ConsoleOff, LogLevel::Warning, false, true},
        {LogManager::Mode::FileOff, LogLevel::Warning, true, false},
        {LogManager::Mode::FileOff, LogLevel::Critical, true, true},
        {LogManager::Mode::Off, LogLevel::Progress, false, false},
        {LogManager::Mode::Off, LogLevel::Emergency, true, true},
    };
    for (const Routed &c : cases) {
        QTemporaryDir dir;
        QBuffer console;
        console.open(QIODevice::WriteOnly);
        LogManager manager(QStringLiteral("MORV"), QStringLiteral("MORV--1"), &console);
        manager.setMode(LogManager::Mode::Off);
        ASSERT_TRUE(manager.setFolder(dir.path()));
        manager.setMode(c.mode);
        manager.log(c.level, QStringLiteral("the record"), QStringLiteral("Test::method"));

        SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(c.mode) << " level " << c.level);
        const QByteArray file = ReadWholeFile(manager.logFilePath());
        EXPECT_EQ(console.data().contains("the record"), c.console) << console.data().toStdString();
        EXPECT_EQ(file.contains("the record") || file.contains("proprietary:"), c.file) << file.toStdString();
    }
}

TEST(LogManager, WritesLinesTheImporterAndSupportCanRead)
{
    QTemporaryDir dir;
    QBuffer console;
    console.open(QIODevice::WriteOnly);
    LogManager manager(QStringLiteral("MORV"), QStringLiteral("MORV--1"), &console);
    ASSERT_TRUE(manager.setFolder(dir.path()));
    const QString path = dir.path() + QStringLiteral("/MORV--1-") + today() + QStringLiteral(".log");
    EXPECT_EQ(manager.logFilePath(), path);

    manager.log(LogLevel::Warning, QStringLiteral("two\tfields\nand a line"), QStringLiteral("Test::warn"));
    manager.log(LogLevel::Proprietary, QStringLiteral("SELECT * FROM STU"), QStringLiteral("ODBCDataAccess::BuildQuery"));

    // Console: one line per record, fields kept apart.
    const QStringList consoleLines = QString::fromUtf8(console.data()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(consoleLines.size(), 2);
    EXPECT_TRUE(consoleLines.at(0).startsWith(QStringLiteral("log\tInformational\t")));
    const QStringList fields = consoleLines.at(1).split(u'\t');
    ASSERT_EQ(fields.size(), 5);
    EXPECT_EQ(fields.at(1), QStringLiteral("Warning      "));
    EXPECT_EQ(fields.at(3), QStringLiteral("Test::warn"));
    EXPECT_EQ(fields.at(4), QStringLiteral("two fields and a line"));

    // File: CR LF lines with the prefix; the text as given; level 9 in Base64.
    const QList<QByteArray> lines = ReadWholeFile(path).split('\n');
    ASSERT_GE(lines.size(), 4);
    for (qsizetype i : {0, 2, 3})
        EXPECT_TRUE(lines.at(i).endsWith('\r')) << i;
    const QRegularExpression prefix(QStringLiteral("^MORV:\\d\\d:\\d\\d:\\d\\d: Informational LogManager::setupLogFile: "
                                                   "Log file .* setup\\.\\r$"));
    EXPECT_TRUE(prefix.match(QString::fromUtf8(lines.at(0))).hasMatch()) << lines.at(0).toStdString();
    // The embedded line break stays as it was given (line 1 has no CR).
    EXPECT_TRUE(lines.at(1).endsWith("Warning       Test::warn: two\tfields"));
    EXPECT_EQ(lines.at(2), QByteArray("and a line\r"));
    ASSERT_TRUE(lines.at(3).startsWith("proprietary:"));
    const QByteArray decoded = QByteArray::fromBase64(lines.at(3).mid(12).chopped(1));
    const QRegularExpression plain(QStringLiteral("^MORV:\\d\\d:\\d\\d:\\d\\d: Proprietary   "
                                                  "ODBCDataAccess::BuildQuery: SELECT \\* FROM STU$"));
    EXPECT_TRUE(plain.match(QString::fromUtf8(decoded)).hasMatch()) << decoded.toStdString();
}

TEST(LogManager, LinesCarryTheLocalTimeOfDay)
{
    // A zone five and a half hours east of UTC, so neither UTC nor a
    // whole-hour mistake passes.
    const QByteArray savedZone = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", "UTC-5:30");
    tzset();

    QTemporaryDir dir;
    QBuffer console;
    console.open(QIODevice::WriteOnly);
    LogManager manager(QStringLiteral("MORV"), QStringLiteral("MORV--1"), &console);
    ASSERT_TRUE(manager.setFolder(dir.path()));
    const QTime before = QDateTime::currentDateTimeUtc().addSecs(19800).time();
    manager.log(LogLevel::Warning, QStringLiteral("timed"), QStringLiteral("Test::time"));
    const QTime after = QDateTime::currentDateTimeUtc().addSecs(19800).time();

    if (hadZone)
        qputenv("TZ", savedZone);
    else
        qunsetenv("TZ");
    tzset();

    const QString consoleTime = QString::fromUtf8(console.data()).split(u'\n', Qt::SkipEmptyParts).last().split(u'\t').at(2);
    const QString fileLine = QString::fromUtf8(ReadWholeFile(manager.logFilePath())).split(QStringLiteral("\r\n")).at(1);
    ASSERT_TRUE(fileLine.startsWith(QStringLiteral("MORV:"))) << fileLine.toStdString();
    const QString fileTime = fileLine.mid(5, 8);
    for (const QString &text : {consoleTime, fileTime}) {
        const QTime written = QTime::fromString(text, QStringLiteral("hh:mm:ss"));
        ASSERT_TRUE(written.isValid()) << text.toStdString();
        // Around midnight the window wraps.
        const bool inWindow = before <= after ? (written >= before.addMSecs(-before.msec()) && written <= after)
                                              : (written >= before.addMSecs(-before.msec()) || written <= after);
        EXPECT_TRUE(inWindow) << text.toStdString() << " not within " << before.toString().toStdString() << " - "
                              << after.toString().toStdString();
    }
}

TEST(LogManager, HeaderBlockAndAppendingOnTheSameDay)
{
    QTemporaryDir dir;
    QBuffer console;
    console.open(QIODevice::WriteOnly);
    LogManager manager(QStringLiteral("MORV"), QStringLiteral("MORV--1"), &console);
    ASSERT_TRUE(manager.setFolder(dir.path()));
    manager.writeHeader(QStringLiteral("Quillon Data Extractor for MORV"), QStringLiteral("2.1.5.0"),
                        QStringLiteral("Oct 28 2014 18:39:47"));
    ASSERT_TRUE(manager.setupLogFile());
    manager.writeHeader(QString(), QString(), QString());

    const QString file = QString::fromUtf8(ReadWholeFile(manager.logFilePath()));
    const QString separator = QString(73, u'-') + QStringLiteral("\r\n");
    const QString titled = QStringLiteral("\r\n") + separator + QStringLiteral("Quillon Data Extractor for MORV File\r\n");
    EXPECT_TRUE(file.contains(titled)) << file.toStdString();
    EXPECT_TRUE(file.contains(separator + QStringLiteral("\r\nBuilt on       : Oct 28 2014 18:39:47\r\nGenerated on   : ")));
    EXPECT_TRUE(file.contains(QStringLiteral("\r\nVersion        : 2.1.5.0\r\n               : ")));
    EXPECT_TRUE(file.contains(separator + QStringLiteral("Log File\r\n")));
    EXPECT_EQ(file.count(QStringLiteral("Log file ")), 2); // set up twice, one file
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
    EXPECT_TRUE(console.data().contains("\t\tQuillon Data Extractor for MORV started.\n"));
}

TEST(LogManager, KeepsSevenFilesOfItsOwnBaseName)
{
    QTemporaryDir dir;
    const QStringList own = {"MORV--1-2020-01-01.log", "MORV--1-2020-01-02.log", "MORV--1-2020-01-03.log",
                             "MORV--1-2020-01-04.log", "MORV--1-2020-01-05.log", "MORV--1-2020-01-06.log",
                             "MORV--1-2020-01-07.log", "MORV--1-2020-01-08.log"};
    // Other schools and other files must survive, including names that merely
    // start with this base name.
    const QStringList others = {"MORV--10-2019-01-01.log", "MORV--10-2019-01-02.log", "MORV--1-notes.log",
                                "MORV--1-2019-01-01.log.bak", "morv--1-2019-01-01.log"};
    for (const QString &name : own + others)
        touch(dir.filePath(name));
    QDir(dir.path()).mkdir(QStringLiteral("MORV--1-2000-01-01.log"));

    QBuffer console;
    console.open(QIODevice::WriteOnly);
    LogManager manager(QStringLiteral("MORV"), QStringLiteral("MORV--1"), &console);
    ASSERT_TRUE(manager.setFolder(dir.path()));

    QStringList expected = own.mid(2) + others;
    expected << QStringLiteral("MORV--1-") + today() + QStringLiteral(".log");
    expected.sort();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name).join(u' ').toStdString(),
              expected.join(u' ').toStdString());
    EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("MORV--1-2000-01-01.log"))).exists());
}

TEST(LogManager, NeverDeletesTheFileItJustOpened)
{
    // Files dated after today sort after the new file; the new one stays anyway.
    QTemporaryDir dir;
    for (int day = 1; day <= 8; ++day)
        touch(dir.filePath(QStringLiteral("MORV--1-2999-01-0%1.log").arg(day)));
    QBuffer console;
    console.open(QIODevice::WriteOnly);
    LogManager manager(QStringLiteral("MORV"), QStringLiteral("MORV--1"), &console);
    ASSERT_TRUE(manager.setFolder(dir.path()));
    EXPECT_TRUE(QFile::exists(manager.logFilePath()));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), LogManager::KeptFiles);
}

TEST(LogManager, UnopenableFileIsReportedAsAnError)
{
    QTemporaryDir dir;
    touch(dir.filePath(QStringLiteral("blocker")));
    QBuffer console;
    console.open(QIODevice::WriteOnly);
    LogManager manager(QStringLiteral("MORV"), QStringLiteral("MORV--1"), &console);
    manager.setMode(LogManager::Mode::Off);
    EXPECT_FALSE(manager.setFolder(dir.filePath(QStringLiteral("blocker/logs"))));
    EXPECT_FALSE(manager.hasLogFile());
    EXPECT_TRUE(console.data().startsWith("log\tError        \t"));
    EXPECT_TRUE(console.data().contains("cannot be opened.\n"));

    LogManager unnamed(QStringLiteral("MORV"), QString(), &console);
    EXPECT_FALSE(unnamed.setFolder(dir.path()));
}

} // namespace
