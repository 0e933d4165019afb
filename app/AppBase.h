// Framework part of the application object: the parameter registry with its
// groups and requirement rules, the sink that reaches the importer and the log,
// the generic command handlers and the status files.
#pragma once

#include "app/ParamRecord.h"
#include "app/ProtocolRouter.h"
#include "log/LogLevel.h"
#include "app/ParamRegistry.h"
#include "app/StatusFiles.h"
#include "export/RunFlags.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <vector>

class AppBase : public QObject
{
    Q_OBJECT
public:
    explicit AppBase(QObject *parent = nullptr);
    ~AppBase() override;

    // --- Identity (the last constructor in the chain wins) ---
    QString title_;
    QString type_;
    QString shortName_;
    QString oldShortName_;
    QString version_;
    QString frameworkVersion_;
    QString minVersion_;
    QString alias_;
    QString userGuideFileName_;
    QString copyright_;
    QString finishedFile_;
    QString buildDate_;

    // --- Parameter registry ---
    ParamRegistry &registry() { return m_registry; }
    const ParamRegistry &registry() const { return m_registry; }
    QString value(const QString &key) const { return m_registry.value(key); }
    void setValue(const QString &key, const QString &value) { m_registry.setValue(key, value); }
    QMap<QString, QString> values() const { return m_registry.values(); }
    bool switchValue(const QString &key) const { return m_registry.switchValue(key); }
    void setSwitch(const QString &key, bool on) { m_registry.setSwitch(key, on); }
    QStringList switchKeys() const { return m_registry.switchKeys(); }
    QStringList valueKeys() const { return m_registry.valueKeys(); }
    bool addGroup(const QString &name) { return m_registry.addGroup(name); }
    bool hasGroup(const QString &name) const { return m_registry.hasGroup(name); }
    QList<ParamRecord *> groupRecords(const QString &name) const { return m_registry.groupRecords(name); }
    ParamRecord *record(const QString &key) const { return m_registry.record(key); }
    ParamRecord *recordForReport(const QString &key) const { return m_registry.recordForReport(key); }
    void addRequirement(const QString &name, const QStringList &keys) { m_registry.addRequirement(name, keys); }
    void addDependency(const QString &name, const QString &otherName) { m_registry.addDependency(name, otherName); }

    // 0 when the key is empty or has a value; otherwise reports it as missing and
    // returns 1.
    virtual int isMissing(const QString &key);
    // 0 when the command or group has what it needs, else 1 (already reported).
    int checkRequired(const QString &name);

    // The plain text of a password in the importer's encoded form: each pair of
    // alphabet characters gives one character (high half first). A character
    // outside the alphabet counts as position 3; a trailing unpaired character is
    // ignored.
    static QString DecodePassword(const QString &encoded);
    static const char *const PasswordAlphabet;

    // --- Command handlers (0 success) ---
    virtual int commandHelp();
    virtual int commandParams(QString &message);
    virtual int commandParamsValidate(int number, QString &message);
    virtual int commandVersion();
    virtual int commandVersionValidate(int number);
    virtual int commandDefaultsValidate(int number);
    virtual int commandTest(QString &message);
    virtual int commandTestValidate(int number, QString &message);
    virtual int commandRun(RunFlags flags, QString &message);
    virtual int commandRunValidate(int number);

    // The bridge's group test behind "test"; the framework knows no groups.
    virtual int groupTest(const QString &group, QString &message);
    // List loaders behind "params --paramkey"; 0 when entries were sent,
    // else 1 with the cause in `message`.
    virtual int loadBridgeList(const ParamRecord &record, QString &message);
    virtual int loadSchoolList(const ParamRecord &record, QString &message);
    virtual int loadDistrictList(const ParamRecord &record, QString &message);
    virtual int loadYearList(const ParamRecord &record, QString &message);
    virtual int loadList(const ParamRecord &record);

    // --- Ending a command ---
    int finishCommand(int status, const QString &folder, const QString &message);
    // A command's failure text with the cause after it: "Failed on
    // extraction." and "No space left on device" give "Failed on extraction:
    // No space left on device". Without a cause the text stays as it is.
    static QString withCause(const QString &failure, const QString &cause);
    virtual void postCommand() {}
    // A program path (backslash form) as the file system wants it.
    static QString toOsPath(const QString &path) { return StatusFiles::toOsPath(path); }

    // A new folder "localDB" for a local database, below a per-process folder
    // in the system's temporary folder; empty (and reported) on failure.
    QString CreateTempLocalDBFolder(const QString &name);

    // Header block plus this run's command line, into the log file only.
    void LogHeader(const QString &extra);

    // Handler for the toolkit's own diagnostics (the scanner's warnings among them).
    static void qMessageOutput(QtMsgType type, const QMessageLogContext &context, const QString &message);


    // A text with every known password value replaced by the mask.
    QString maskSecrets(QString text) const;
    static QString mask() { return QStringLiteral("********"); }

    // Where this object's protocol lines and log records go: the message
    // writer and log manager it owns, unless a test gave another sink.
    ProtocolSink &sink() { return *m_sink; }
    void setSink(ProtocolSink *sink) { m_sink = sink ? sink : &m_router; }
    LogManager &logManager() { return *m_logManager; }

protected:
    void log(LogLevel::Level level, const QString &message, const QString &method) { sink().Log(level, message, method); }
    void startProgress(int total) { sink().Progress(QStringLiteral("start_progress"), total); }
    void endProgress() { sink().Progress(QStringLiteral("end_progress"), -1); }
    // The canned answers every validate variant shares for the numbers it does
    // not answer itself: 2 writes nothing, 3 leaves a progress section open (a
    // command cut short), any other an empty, closed progress section.
    int validateProgress(int number);
    // Reports the values of one parameter, framed by start and end progress.
    int reportParamValues(const ParamRecord &record, QString &message);
    int reportParamValuesByType(const ParamRecord &record, QString &message);

    ParamRegistry m_registry;

    // The process's message writer and log, created with this object and
    // handed to what it runs.
    std::unique_ptr<SISMessageWriter> m_writer;
    std::unique_ptr<LogManager> m_logManager;
    ProtocolRouter m_router;
    ProtocolSink *m_sink = &m_router;
    bool m_validateMode = false;
    int m_validateNumber = 0;
    QString m_programName;
    QStringList m_secrets; // password values seen on the command line

    // The application whose log receives the toolkit's diagnostics.
    static AppBase *s_current;

};
