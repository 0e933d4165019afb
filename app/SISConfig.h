// The driver of the bridge: reads the command line into parameter values,
// checks requirements, dispatches the command word, runs the extraction command
// and owns the extraction task with its road to the importer and the log.
#pragma once

#include "app/AppBase.h"
#include "util/XFolderLock.h"

class AppTaskBase;
class EngineServices;
class QDomElement;
class SISMessageWriter;

#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class SISConfig : public AppBase
{
    Q_OBJECT
public:
    explicit SISConfig(QObject *parent = nullptr);
    ~SISConfig() override;

    // Answers one command; the result is the process exit status.
    int processCommandLine(int argc, const char *const *argv);

    // The command line as the driver reads it, before any command runs: the
    // arguments logged as echoedArguments shows them, scanned into parameter
    // values, the secrets among them remembered and the values normalised
    // (an encoded password decoded, a quoted folder's quote turned back).
    struct ScannedLine
    {
        bool parsed = false;       // the whole line was understood
        bool endRequested = false; // a bare "--": nothing was stored
        QString command;
        QString programName;
        QStringList echoed;
    };
    ScannedLine scanArguments(const QStringList &arguments);

    // Registration entry point: keeps the key lists, the plain form of encoded
    // password keys and the short flag names in order, then creates the record.
    ParamRecord *addParam(const QString &group, const QString &key, const QString &displayName,
                          ParamType type, const QString &help, const QString &defaultValue);
    // Creates the record, or updates one the group already holds (its default stays).
    ParamRecord *setParam(const QString &group, const QString &key, const QString &displayName,
                          ParamType type, const QString &help, const QString &defaultValue);

    // Registers the standard parameters and publishes the identity values.
    void publishIdentity();

    int commandRun(RunFlags flags, QString &message) override;

    // "defaults": finds HNConfig.xml and sends its school configurations as
    // setting lines; 1 (framed by start and end progress) when it cannot.
    virtual int commandDefaults(QString &message);
    // The importer's installation folder under the per-user application data.
    virtual QString AppDataPath();
    // Folder below each installation folder that holds the configuration file;
    // empty: the installation folder itself.
    virtual QString configurationSubfolder() const { return QString(); }
    // One "HNSchoolConf" element as setting lines, and the hook after it.
    virtual void readSchoolConfiguration(const QDomElement &element);
    virtual void afterSchoolConfiguration() {}

    // Run flags from the switches: -1 both exports, 1 full, 2 update, 3 both asked
    // for explicitly.
    static RunFlags FlagsFromSwitches(bool all, bool demo, bool att);

    // Per-installation text in the log file name; no deployment supplies one yet.
    virtual QString installationId() const { return QString(); }

    // Folder for the status files of "defaults", whose path names a file.
    static QString defaultsStatusFolder(const QString &path);

    // Which arguments may be echoed as given, index for index (the program
    // first): the command word, a registered key that is not secret, and the
    // value that follows such a key. Anything else may be a password in an
    // unexpected spelling and is masked whole, name and value.
    QList<bool> shownArguments(const QStringList &arguments) const;
    // The arguments as logs, warnings and status files show them.
    QStringList echoedArguments(const QStringList &arguments) const;
    static bool isCommandWord(const QString &word);

    // The engine behind the run, the group tests and the pick lists.
    EngineServices *engine() const { return m_engine; }

protected:
    // Runs the extraction on the engine. False when the run failed, with the
    // reason in errorText.
    bool runTask(const QMap<QString, QString> &parameters, RunFlags flags, QString &errorText);

private:
    // Whether the validate variant of a command ends with status files too.
    enum class ValidateStatus { NotWritten, Written };
    // Which text a failed command leaves in its status file: its own text
    // with the handler's message after it as the cause, or the handler's
    // message alone when it set one.
    enum class FailureText { CommandText, HandlerMessage };
    // Where the status files go: into the export folder, or beside the file
    // the path names (the configuration file "defaults" reads).
    enum class StatusFolder { ExportFolder, BesideConfigurationFile };
    // One command word of the command line and how it is answered.
    struct CommandWord
    {
        const char *word;
        const char *description; // one line of the usage text
        int (*handler)(SISConfig &app, QString &message);
        int (*validate)(SISConfig &app, int number, QString &message);
        const char *failure; // status-file text on failure; null: the command writes its own
        ValidateStatus validateStatus;
        FailureText failureText;
        StatusFolder statusFolder;
    };
    static const std::vector<CommandWord> &commandWords();

    void registerStandardParams();
    // The first option whose value does not parse (a date, the log style, the
    // validate number), with `message` naming it; false when all parse.
    bool findMalformedValue(QString &key, QString &message) const;
    // Remembers the values of keys that are never shown, so that no later
    // toolkit message repeats them.
    void collectSecrets();
    void normaliseValues();
    // Sets `pwd` from the file named by `pwdfile`, when one is named; false
    // with the cause when it cannot be used.
    bool readPasswordFile(QString &cause);
    // The configuration file "defaults" reads; empty, with `notFound` saying
    // why, when the search found no folder to look in.
    QString locateConfigurationFile(QString &notFound);
    QString usageText(const QString &programName) const;
    int runCommand();
    QString claimExportFolder();
    bool setupRunLog();
    void copyLogToExportFolder();

    // The engine's road to the message writer and the log; outlives it.
    ProtocolRouter m_taskRouter;
    std::unique_ptr<AppTaskBase> m_task; // the engine as a task
    EngineServices *m_engine = nullptr;  // the same object: its services
    QString m_logStyle;
    QString m_path;
    RunFlags m_runFlags = RunFlags::Both;
    QtMessageHandler m_previousHandler = nullptr;
    bool m_handlerInstalled = false;
    // Held from the start of "run" to the process's end.
    XFolderLock m_folderLock;
};
