// Log manager: console "log" lines, daily log files with CR LF lines, the header
// block of each run and the trimming of old daily files.
#include "log/LogManager.h"

#include "log/ProtocolField.h"

#include <QDate>
#include <QDateTime>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>
#include <QLocale>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTime>

#include <cstdio>
#include <ctime>

namespace {

const char *const kSetupMethod = "LogManager::setupLogFile";

QString separatorLine() { return QString(73, u'-'); }

// The program keeps paths in backslash form; the file system wants its own form.
QString toOsPath(QString path)
{
#ifndef Q_OS_WIN
    path.replace(u'\\', u'/');
#endif
    return path;
}

} // namespace

LogManager::LogManager(const QString &name, const QString &fileBase, QIODevice *console, QObject *parent)
    : QObject(parent), m_name(name), m_fileBase(fileBase), m_console(console)
{
    if (!m_console) {
        // On the descriptor, not the C stream: the C library would hold a pipe's
        // lines in its block buffer until exit, and a killed run would lose them.
        m_stdout.open(fileno(stdout), QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle);
        m_console = &m_stdout;
    }
}

LogManager::~LogManager() = default;

bool LogManager::setFolder(const QString &path)
{
    if (path.isEmpty())
        return hasLogFile();
    const QString osPath = toOsPath(path);
    QDir().mkpath(osPath);
    m_folder = QDir(osPath);
    m_hasFolder = true;
    return setupLogFile();
}

bool LogManager::setFileBase(const QString &name)
{
    if (name.isEmpty())
        return true;
    m_fileBase = name;
    return setupLogFile();
}

QString LogManager::logFilePath() const
{
    return m_file.isOpen() ? m_filePath : QString();
}

bool LogManager::setupLogFile()
{
    if (!m_hasFolder || m_fileBase.isEmpty()) {
        const QString text = QStringLiteral("Filename or path not set, cannot setup log file.");
        if (EchoesToConsole(m_mode))
            writeConsole(LogLevel::Debug, text, kSetupMethod);
        if (WritesFile(m_mode))
            writeFile(text, LogLevel::Debug, kSetupMethod);
        return false;
    }

    const QString fileName = m_fileBase + u'-' + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".log");
    const QString path = m_folder.filePath(fileName);
    if (m_file.isOpen())
        m_file.close();
    // Opened by hand so that a symbolic link planted at the log's name is
    // refused instead of followed: the log would otherwise append to any
    // file the link points to.
    m_filePath = path;
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0640);
    const bool opened = fd >= 0 && m_file.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle);
    if (fd >= 0 && !opened)
        ::close(fd);

    removeOldLogFiles(m_folder, m_fileBase, fileName);

    if (opened) {
        const QString text = QStringLiteral("Log file ") + path + QStringLiteral(" setup.");
        if (EchoesToConsole(m_mode))
            writeConsole(LogLevel::Informational, text, kSetupMethod);
        if (WritesFile(m_mode))
            writeFile(text, LogLevel::Informational, kSetupMethod);
        return true;
    }
    const QString text = QStringLiteral("Log file ") + path + QStringLiteral(" cannot be opened.");
    writeConsole(LogLevel::Error, text, kSetupMethod);
    writeFile(text, LogLevel::Error, kSetupMethod);
    return false;
}

// Only files named exactly base-yyyy-MM-dd.log count: a looser pattern would let
// the logs of school "1" delete those of school "10". The file just opened is
// never deleted, even when older-looking names sort after it.
void LogManager::removeOldLogFiles(const QDir &folder, const QString &fileBase, const QString &currentFileName)
{
    const QRegularExpression pattern(u'^' + QRegularExpression::escape(fileBase)
                                     + QStringLiteral("-\\d{4}-\\d{2}-\\d{2}\\.log$"));
    QStringList others;
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &entry : names) {
        if (entry != currentFileName && pattern.match(entry).hasMatch())
            others.append(entry);
    }
    // The current file takes one of the kept places whether or not it opened.
    while (others.size() > KeptFiles - 1)
        QDir(folder).remove(others.takeFirst());
}

void LogManager::log(LogLevel::Level logLevel, const QString &message, const QString &method)
{
    // A negative level (None) compares as a huge unsigned number and goes nowhere.
    const bool severe = static_cast<unsigned>(logLevel) <= static_cast<unsigned>(LogLevel::Error);
    if (EchoesToConsole(m_mode) || severe)
        writeConsole(logLevel, message, method);
    if (WritesFile(m_mode) || severe)
        writeFile(message, logLevel, method);
}

void LogManager::writeConsole(LogLevel::Level level, const QString &message, const QString &method)
{
    if (static_cast<unsigned>(level) > static_cast<unsigned>(LogLevel::Informational) || !m_console)
        return;
    const QString line = QStringLiteral("log\t") + levelName(level) + u'\t'
        + clockText() + u'\t' + protocolField(method) + u'\t'
        + protocolField(message) + u'\n';
    m_console->write(line.toUtf8());
}

void LogManager::writeFile(const QString &message, LogLevel::Level level, const QString &method)
{
    if (static_cast<unsigned>(level) > static_cast<unsigned>(LogLevel::Proprietary) || !m_file.isOpen())
        return;
    QString line = m_name + u':' + clockText() + QStringLiteral(": ") + levelName(level)
        + u' ' + method + QStringLiteral(": ") + message;
    if (level == LogLevel::Proprietary)
        line = QStringLiteral("proprietary:") + QString::fromLatin1(line.toUtf8().toBase64());
    writeRawLine(line);
}

// The toolkit's clock has the C library check the time zone file again on
// every call, a file-system call per log line; localtime_r reads the zone
// once per process. The text is made once per second.
QString LogManager::clockText()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec != m_clockSecond) {
        tm local {};
        localtime_r(&now.tv_sec, &local);
        char text[16];
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
        m_clockText = QString::fromLatin1(text);
        m_clockSecond = now.tv_sec;
    }
    return m_clockText;
}

void LogManager::writeRawLine(const QString &line)
{
    if (!m_file.isOpen())
        return;
    m_file.write(line.toUtf8());
    m_file.write("\r\n");
    m_file.flush();
}

void LogManager::writeHeader(const QString &title, const QString &version, const QString &built)
{
    if (!m_file.isOpen())
        return;
    const QString separator = separatorLine();
    const QString year = QDate::currentDate().toString(QStringLiteral("yyyy"));

    writeRawLine(QString());
    writeRawLine(separator);
    writeRawLine(title.isEmpty() ? QStringLiteral("Log File") : title + QStringLiteral(" File"));
    writeRawLine(QStringLiteral("Copyright (c) 2004-") + year + QStringLiteral(" Quillon Software. All rights reserved."));
    writeRawLine(QStringLiteral("Web: www.quillonsoftware.com"));
    writeRawLine(separator);
    writeRawLine(QString());
    if (!built.isEmpty())
        writeRawLine(QStringLiteral("Built on       : ") + built);
    writeRawLine(QStringLiteral("Generated on   : ")
                 + QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("MMM dd yyyy hh:mm:ss AP")));
    if (!version.isEmpty())
        writeRawLine(QStringLiteral("Version        : ") + version);
    writeRawLine(QStringLiteral("               : ") + operatingSystemText());
    writeRawLine(separator);
    writeRawLine(QString());

    if (!title.isEmpty())
        writeConsole(LogLevel::Informational, title + QStringLiteral(" started."), QString());
}

QString LogManager::levelName(LogLevel::Level level)
{
    switch (level) {
    case LogLevel::None: return QStringLiteral("None         ");
    case LogLevel::Emergency: return QStringLiteral("Emergency    ");
    case LogLevel::Alert: return QStringLiteral("Alert        ");
    case LogLevel::Critical: return QStringLiteral("Critical     ");
    case LogLevel::Error: return QStringLiteral("Error        ");
    case LogLevel::Warning: return QStringLiteral("Warning      ");
    case LogLevel::Progress: return QStringLiteral("Progress     ");
    case LogLevel::Informational: return QStringLiteral("Informational");
    case LogLevel::Debug: return QStringLiteral("Debug        ");
    case LogLevel::Proprietary: return QStringLiteral("Proprietary  ");
    default: return QString();
    }
}

QString LogManager::operatingSystemText()
{
    const QString product = QSysInfo::prettyProductName();
    const QString kernel = QSysInfo::kernelType() + u' ' + QSysInfo::kernelVersion();
    if (product.isEmpty())
        return QStringLiteral("No OS set.");
    return product + QStringLiteral(" (") + kernel.trimmed() + QStringLiteral(", ") + QSysInfo::currentCpuArchitecture() + u')';
}
