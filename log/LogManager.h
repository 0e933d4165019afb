// The process-wide log: echoes records to the importer as "log" lines on standard
// output and keeps one log file per day and base name, the last seven of them.
#pragma once

#include <QDir>
#include <QFile>
#include <QMap>
#include <QObject>
#include <QString>

class QIODevice;

class LogManager : public QObject
{
    Q_OBJECT
public:
    // Output modes: bit 1 is the console echo, bit 2 the file.
    enum Mode { ModeAll = -1, ModeOff = 0, ModeConsoleOff = -2, ModeFileOff = -3 };

    // Daily files kept per base name, the current one included.
    static constexpr int KeptFiles = 7;

    // The manager writes console lines to `console` (standard output when null).
    LogManager(const QString &name, const QString &fileBase, QIODevice *console = nullptr,
               QObject *parent = nullptr);
    ~LogManager() override;

    // The process-wide manager. The first call creates it; later calls replace the
    // name and base when given and set the folder up again when one is given.
    // Every call appends a header block to an open log file.
    static LogManager *instance(const QString &name = QString(), const QString &fileBase = QString(),
                                const QString &folder = QString(), const QString &title = QString(),
                                const QString &version = QString(), const QString &built = QString());

    // Uses `path` as the log folder (created when missing) and sets the file up;
    // false when no file could be opened. An empty path changes nothing.
    bool setFolder(const QString &path);
    // Stores the base name and sets the file up; an empty name changes nothing.
    bool setFileBase(const QString &name);
    // Opens (appending) today's file and trims old files of the same base name.
    bool setupLogFile();

    void setMode(int mode) { m_mode = mode; }
    int mode() const { return m_mode; }
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
    void writeConsole(int level, const QString &message, const QString &method);
    // One prefixed file line; level 9 lines are Base64-encoded.
    void writeFile(const QString &message, int level, const QString &method);

    // The 13-character level name, empty for a level without one.
    static QString levelName(int level);
    // Text describing the running operating system for the header.
    static QString operatingSystemText();

public slots:
    void log(int logLevel, const QString &message, const QString &method);

private:
    void writeRawLine(const QString &line);
    void removeOldLogFiles(const QString &currentFileName);

    int m_mode = ModeAll;
    QString m_name;
    QString m_fileBase;
    QDir m_folder;
    bool m_hasFolder = false;
    QFile m_file;
    QString m_filePath; // m_file is opened on a descriptor and keeps no name

    QIODevice *m_console = nullptr;
    QFile m_stdout;
};
