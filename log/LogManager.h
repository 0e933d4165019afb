// The bridge's log: echoes records to the importer as "log" lines on standard
// output and keeps one log file per day and base name, the last seven of them.
#pragma once

#include <QDir>
#include <QFile>
#include <QMap>
#include <QObject>
#include <QString>

#include "log/LogLevel.h"

class QIODevice;

class LogManager : public QObject
{
    Q_OBJECT
public:
    // Output modes, with their documented numbers: all outputs, none, all
    // but the console echo, all but the file.
    enum class Mode : int { All = -1, Off = 0, ConsoleOff = -2, FileOff = -3 };
    // Whether `mode` echoes records to the console / writes them to the file
    // (records of level Error and more severe go to both whatever the mode).
    static bool EchoesToConsole(Mode mode) { return mode == Mode::All || mode == Mode::FileOff; }
    static bool WritesFile(Mode mode) { return mode == Mode::All || mode == Mode::ConsoleOff; }

    // Daily files kept per base name, the current one included.
    static constexpr int KeptFiles = 7;

    // The manager writes console lines to `console` (standard output when null).
    LogManager(const QString &name, const QString &fileBase, QIODevice *console = nullptr,
               QObject *parent = nullptr);
    ~LogManager() override;

    // Uses `path` as the log folder (created when missing) and sets the file up;
    // false when no file could be opened. An empty path changes nothing.
    bool setFolder(const QString &path);
    // Stores the base name and sets the file up; an empty name changes nothing.
    bool setFileBase(const QString &name);
    // Opens (appending) today's file and trims old files of the same base name.
    bool setupLogFile();

    void setMode(Mode mode) { m_mode = mode; }
    Mode mode() const { return m_mode; }
    void setName(const QString &name) { m_name = name; }
    QString name() const { return m_name; }
    QString fileBase() const { return m_fileBase; }
    QString folder() const { return m_hasFolder ? m_folder.path() : QString(); }
    // Path of the open log file, empty while there is none.
    QString logFilePath() const;
    bool hasLogFile() const { return m_file.isOpen(); }

    // The block that opens each run in the file; written only into an open file.
    void writeHeader(const QString &title, const QString &version, const QString &built);
    // One "log" protocol line (levels up to 7 only).
    void writeConsole(LogLevel::Level level, const QString &message, const QString &method);
    // One prefixed file line; level 9 lines are Base64-encoded.
    void writeFile(const QString &message, LogLevel::Level level, const QString &method);

    // Removes from `folder` the daily files of `fileBase` but the newest
    // KeptFiles, `current` (a file name) always kept among them: the log
    // folder's own trimming, and that of the copies kept beside the export.
    static void removeOldLogFiles(const QDir &folder, const QString &fileBase, const QString &current);

    // The 13-character level name, empty for a level without one.
    static QString levelName(LogLevel::Level level);
    // Text describing the running operating system for the header.
    static QString operatingSystemText();

public slots:
    void log(LogLevel::Level logLevel, const QString &message, const QString &method);

private:
    void writeRawLine(const QString &line);
    // The local time of day "hh:mm:ss" of a log line.
    QString clockText();

    Mode m_mode = Mode::All;
    QString m_name;
    QString m_fileBase;
    QDir m_folder;
    bool m_hasFolder = false;
    QFile m_file;
    QString m_filePath; // m_file is opened on a descriptor and keeps no name

    QIODevice *m_console = nullptr;
    QFile m_stdout;
    // The second clockText last formatted, and its text.
    long long m_clockSecond = -1;
    QString m_clockText;
};
