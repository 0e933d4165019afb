// Driver: command-line scanning and normalisation, requirement check, dispatch
// of the six command words, the extraction command with its log set-up and
// status files, and the standard parameters every bridge carries.
#include "app/SISConfig.h"

#include "app/HNConfigReader.h"
#include "app/OptionScanner.h"
#include "app/PasswordFile.h"
#include "app/SISMessageWriter.h"
#include "app/SignalRouting.h"
#include "engine/ExpEngine.h"
#include "log/LogManager.h"
#include "util/XFileSystem.h"
#include "util/XInterrupt.h"

#include <QDir>
#include <QDomElement>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <map>

namespace {
const QString kProcess = QStringLiteral("SISConfig::processCommandLine");
}

SISConfig::SISConfig(QObject *parent) : AppBase(parent)
{
    addGroup(QStringLiteral("connection"));
    addGroup(QStringLiteral("school"));

    addRequirement(QStringLiteral("params"), {QStringLiteral("group")});
    addRequirement(QStringLiteral("params"), {QStringLiteral("paramkey")});
    addRequirement(QStringLiteral("test"), {QStringLiteral("group")});
    addDependency(QStringLiteral("run"), QStringLiteral("connection"));
    addDependency(QStringLiteral("run"), QStringLiteral("school"));
    addRequirement(QStringLiteral("run"), {QStringLiteral("path")});

    auto *engine = new ExpEngine(this);
    m_task = engine;
    m_engine = engine;
    connectTask(m_task, SISMessageWriter::instance(), m_logManager);
}

SISConfig::~SISConfig()
{
    if (m_handlerInstalled)
        qInstallMessageHandler(m_previousHandler);
}

// ---------------------------------------------------------------- task

void SISConfig::connectTask(AppTaskBase *task, SISMessageWriter *writer, LogManager *logManager)
{
    ConnectToWriterAndLog<SignalRouting::Task>(task, writer, logManager);
}

bool SISConfig::runTask(const QMap<QString, QString> &parameters, RunFlags flags, QString &errorText)
{
    // BeginExecute closes its own progress frame and never throws.
    return m_engine->BeginExecute(parameters, flags, errorText);
}

// ---------------------------------------------------------------- registry

ParamRecord *SISConfig::addParam(const QString &group, const QString &key, const QString &displayName,
                                 ParamType type, const QString &help, const QString &defaultValue)
{
    const QString method = QStringLiteral("SISConfig::addParam");
    m_registry.addKey(key, type == ParamType::Switch);

    if (type == ParamType::Password) {
        QString plain = key;
        plain.remove(QStringLiteral("encode"));
        if (plain == key) {
            log(LogLevel::Warning,
                QStringLiteral("Parameter: ") + key
                    + QStringLiteral(" is a Password style parameter, but does not use 'encode' this means it "
                                     "will not be encoded."),
                method);
        } else {
            m_registry.addKey(plain, false);
        }
    }

    QString name = displayName;
    if (type == ParamType::Flag && name.size() > 15) {
        log(LogLevel::Error, QStringLiteral("Parameter: ") + key + QStringLiteral(" has a paramname that is too long: ") + name,
            method);
        name = name.left(15);
    }

    ParamRecord *created = setParam(group, key, name, type, help, defaultValue);

    if (m_registry.valueKeys().contains(QStringLiteral("district"))) {
        if (ParamRecord *school = record(QStringLiteral("school")))
            school->parentKeys.insert(QStringLiteral("district"), QString());
        if (ParamRecord *year = record(QStringLiteral("year")))
            year->parentKeys.insert(QStringLiteral("district"), QString());
    }
    if (ParamRecord *year = record(QStringLiteral("year")))
        year->parentKeys.insert(QStringLiteral("school"), QString());
    return created;
}

ParamRecord *SISConfig::setParam(const QString &group, const QString &key, const QString &displayName,
                                 ParamType type, const QString &help, const QString &defaultValue)
{
    if (!hasGroup(group)) {
        log(LogLevel::Error, QStringLiteral("Tried to set a parameter for a non-existant group, please contact Quillon Support."),
            QStringLiteral("SISConfig::setParam"));
        return nullptr;
    }
    for (ParamRecord *existing : groupRecords(group)) {
        if (existing->key == key) {
            existing->displayName = displayName;
            existing->group = group;
            existing->type = type;
            existing->help = help;
            return existing;
        }
    }
    ParamRecord *created = m_registry.createRecord(group, key);
    created->displayName = displayName;
    created->type = type;
    created->help = help;
    created->defaultValue = defaultValue;
    return created;
}

void SISConfig::registerStandardParams()
{
    const QString g = QStringLiteral("global");
    const QString all = QStringLiteral("Extract All Data");
    const QString allHelp = QStringLiteral("Extract all available data.");
    addParam(g, QStringLiteral("all"), all, ParamType::Switch, allHelp, QString());
    addParam(g, QStringLiteral("att"), all, ParamType::Switch, allHelp, QString());
    addParam(g, QStringLiteral("demo"), all, ParamType::Switch, allHelp, QString());
    addParam(g, QStringLiteral("help"), QStringLiteral("Help"), ParamType::Switch,
             QStringLiteral("Show command line usage."), QString());
    addParam(g, QStringLiteral("group"), QStringLiteral("Group"), ParamType::Default,
             QStringLiteral("Set group."), QString());
    addParam(g, QStringLiteral("paramkey"), QStringLiteral("Param Key"), ParamType::Default,
             QStringLiteral("Return parameter information"), QString());
    addParam(g, QStringLiteral("path"), QStringLiteral("PDE Folder"), ParamType::Folder,
             QStringLiteral("Set the PDE Folder"), QString());
    addParam(g, QStringLiteral("logpath"), QStringLiteral("Log Folder"), ParamType::Folder,
             QStringLiteral("Set the Log Folder"), QString());
    addParam(g, QStringLiteral("log"), QStringLiteral("Log"), ParamType::Default,
             QStringLiteral("Set the logging style."), QString());
    addParam(g, QStringLiteral("validate"), QStringLiteral("Validate"), ParamType::Default,
             QStringLiteral("Validate command line interface features."), QString());
    addParam(g, QStringLiteral("inactivedate"), QStringLiteral("Inactive Date"), ParamType::Default,
             QStringLiteral("Include Inactive Staff and Students after this date."), QString());
    addParam(g, QStringLiteral("year"), QStringLiteral("SchoolYear"), ParamType::Default,
             QStringLiteral("School Year, hidden used for testing"), QString());
    addParam(g, QStringLiteral("teacher"), QStringLiteral("Teacher"), ParamType::BridgeList,
             QStringLiteral("List of teachers available in associated bridge"), QString());
    // For unattended runs: the password stays off the command line, which
    // every local user can read. The path itself is not secret.
    addParam(g, QStringLiteral("pwdfile"), QStringLiteral("Password File"), ParamType::File,
             QStringLiteral("Read the password from this file, which only its owner may read."), QString());
}

void SISConfig::publishIdentity()
{
    registerStandardParams();
    buildDate_ = QStringLiteral("Oct 28 2014") + u' ' + QStringLiteral("18:39:47");
    setValue(QStringLiteral("appTitle_"), title_);
    setValue(QStringLiteral("appType_"), type_);
    setValue(QStringLiteral("appShortName_"), shortName_);
    setValue(QStringLiteral("appVersion_"), version_);
    setValue(QStringLiteral("appFrameworkVersion_"), frameworkVersion_);
    setValue(QStringLiteral("appAlias_"), alias_);
    setValue(QStringLiteral("appUserGuideFileName_"), userGuideFileName_);
    setValue(QStringLiteral("appCopyright_"), copyright_);
    setValue(QStringLiteral("appFinishedFile_"), finishedFile_);
    setValue(QStringLiteral("appBuildDate_"), buildDate_);
}

// ---------------------------------------------------------------- helpers

RunFlags SISConfig::FlagsFromSwitches(bool all, bool demo, bool att)
{
    Q_UNUSED(all); // "all" asks for both exports, which is also the default
    if (!demo && !att)
        return RunFlags::Both;
    // Each switch adds its export; both together ask for both.
    if (demo && att)
        return RunFlags::FullAndUpdate;
    return demo ? RunFlags::Full : RunFlags::Update;
}

bool SISConfig::isSecretKey(const QString &key)
{
    // Mistyped and unknown spellings count too: a "--password=" or "--PWD="
    // is still somebody's password.
    return key.contains(QLatin1String("pwd"), Qt::CaseInsensitive)
        || key.contains(QLatin1String("pass"), Qt::CaseInsensitive);
}

QStringList SISConfig::maskedArguments(const QStringList &arguments) const
{
    const QStringList secret = secretKeys();
    QStringList shown;
    bool maskNext = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (i == 0) { // the program itself
            shown.append(argument);
            continue;
        }
        if (maskNext && !argument.startsWith(QLatin1String("--"))) {
            shown.append(mask());
            maskNext = false;
            continue;
        }
        maskNext = false;
        qsizetype start = 0;
        while (start < argument.size() && start < 2 && argument.at(start) == u'-')
            ++start;
        const qsizetype eq = argument.indexOf(u'=', start);
        const QString key = argument.mid(start, eq >= 0 ? eq - start : -1);
        if (isSecretKey(key) || (start > 0 && secret.contains(key))) {
            if (eq >= 0) {
                shown.append(argument.left(eq + 1) + mask());
                continue;
            }
            // "--pwd value": the value is the next argument.
            maskNext = start > 0;
        }
        shown.append(argument);
    }
    return shown;
}

void SISConfig::collectSecrets(const QStringList &arguments)
{
    const QStringList masked = maskedArguments(arguments);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (masked.at(i) == arguments.at(i))
            continue;
        const QString &argument = arguments.at(i);
        const QString &shown = masked.at(i);
        // The masked form keeps everything up to the value.
        const QString secret = shown.endsWith(mask()) && shown.size() > mask().size()
            ? argument.mid(shown.size() - mask().size())
            : argument;
        if (!secret.isEmpty())
            m_secrets.append(secret);
    }
}

void SISConfig::normaliseValues()
{
    for (const QString &key : m_registry.valueKeys()) {
        const ParamRecord *r = record(key);
        if (!r)
            continue;
        QString v = value(key);
        if (r->type == ParamType::Folder || r->type == ParamType::File) {
            // A quoted folder such as "C:\Export\" arrives with its last backslash
            // turned into a quote character.
            if (v.contains(u'"'))
                setValue(key, v.replace(u'"', u'\\'));
        } else if (r->type == ParamType::Password && !v.isEmpty()) {
            QString plain = key;
            plain.remove(QStringLiteral("encode"));
            if (plain != key) {
                const QString decoded = DecodePassword(v);
                setValue(plain, decoded);
                if (!decoded.isEmpty())
                    m_secrets.append(decoded);
            }
        }
    }
}

bool SISConfig::readPasswordFile(QString &cause)
{
    const QString file = value(QStringLiteral("pwdfile"));
    if (file.isEmpty())
        return true;
    if (!value(QStringLiteral("pwd")).isEmpty()) {
        // Two passwords: which one the run used would be a guess.
        cause = QStringLiteral("The password is given twice: --pwdfile cannot be combined with --pwd or --pwdencode.");
        return false;
    }
    QString password;
    if (!PasswordFile::Read(toOsPath(file), password, cause))
        return false;
    setValue(QStringLiteral("pwd"), password);
    m_secrets.append(password);
    return true;
}

QString SISConfig::usageText(const QString &programName) const
{
    QString usage = programName + u'\n' + QStringLiteral(" [") + QStringLiteral("command") + QStringLiteral("]\n");
    for (const QString &key : m_registry.switchKeys())
        usage += QStringLiteral("  [--") + key + QStringLiteral("]\n");
    for (const QString &key : m_registry.valueKeys()) {
        const ParamRecord *r = record(key);
        if (r && IsHiddenFromUsage(r->type))
            continue;
        usage += QStringLiteral("   [--") + key + QStringLiteral("=value]\n");
    }
    return usage;
}

// For "defaults" the path names the configuration file itself; its status files
// go beside it instead of into a new folder named like the file.
QString SISConfig::defaultsStatusFolder(const QString &path)
{
    if (path.isEmpty() || QFileInfo(toOsPath(path)).isDir())
        return path;
    const qsizetype cut = std::max(path.lastIndexOf(u'\\'), path.lastIndexOf(u'/'));
    return cut > 0 ? path.left(cut) : QString();
}

// ---------------------------------------------------------------- driver

int SISConfig::processCommandLine(int argc, const char *const *argv)
{
    s_current = this;

    // 1. The log manager under this bridge's name.
    m_logManager = LogManager::instance(shortName_);

    // 2-3. Program path and the arguments, logged with passwords masked.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromUtf8(argv[i]));
    setValue(QStringLiteral("apppath"), arguments.value(0));
    collectSecrets(arguments);
    const QStringList shown = maskedArguments(arguments);
    for (const QString &argument : shown)
        log(LogLevel::Debug, QStringLiteral("Arguments: ") + argument, kProcess);
    m_programName = arguments.value(0);

    // 4. The scanner, bound to local stores that are copied back afterwards.
    OptionScanner scanner(arguments);
    QString command;
    std::map<QString, bool> switches;
    std::map<QString, QString> scanned;
    scanner.registerBareArgument(QStringLiteral("command"), &command, false);
    for (const QString &key : m_registry.switchKeys())
        scanner.registerSwitch(key, &switches[key]);
    for (const QString &key : m_registry.valueKeys())
        scanner.registerOption(QChar(), key, &scanned[key], QStringLiteral(""));

    // 5. The scanner's warnings reach the log through the toolkit handler.
    if (!m_handlerInstalled) {
        m_previousHandler = qInstallMessageHandler(AppBase::qMessageOutput);
        m_handlerInstalled = true;
    }

    // 6. Parse.
    const bool parsed = scanner.scan(false);
    if (scanner.endRequested())
        return 2;
    setValue(QStringLiteral("command"), command);
    for (const auto &entry : switches)
        setSwitch(entry.first, entry.second);
    for (const auto &entry : scanned)
        setValue(entry.first, entry.second);
    log(LogLevel::Debug, QStringLiteral("Parsing arguments ") + (parsed ? QStringLiteral("succeeded.") : QStringLiteral("failed.")),
        QStringLiteral("SISConfig:::processCommandLine"));

    // 8. Normalised before the usage step as well, so that even a failed command
    // line writes its status file into the folder the user meant.
    normaliseValues();

    // 7. Usage.
    if (!parsed || command == QLatin1String("help") || switchValue(QStringLiteral("help"))) {
        const QByteArray usage =
            (QStringLiteral("Usage: \n") + usageText(scanner.programName()) + u'\n').toUtf8();
        fwrite(usage.constData(), 1, static_cast<size_t>(usage.size()), stderr);
        fflush(stderr);
        commandHelp();
        return finishCommand(1, value(QStringLiteral("path")), QStringLiteral("args: ") + shown.join(QStringLiteral(", ")));
    }

    // The password from a file, before the requirement check counts it.
    QString passwordFailure;
    if (!readPasswordFile(passwordFailure)) {
        emit writeError(QStringLiteral("pwdfile"), passwordFailure);
        startProgress(0);
        endProgress();
        const QString path = value(QStringLiteral("path"));
        return finishCommand(1, command == QLatin1String("defaults") ? defaultsStatusFolder(path) : path,
                             passwordFailure);
    }

    // 9. Validate mode.
    bool valid = false;
    const int number = value(QStringLiteral("validate")).toInt(&valid, 10);
    m_validateMode = valid;
    m_validateNumber = valid ? number : 0;
    if (valid && (number < 0 || number > 255)) {
        // The number becomes the exit status, which keeps only its low byte:
        // 256 would exit 0 while the status file says "Failed".
        emit writeError(QStringLiteral("validate"),
                        QStringLiteral("The validate number must be between 0 and 255: ") + value(QStringLiteral("validate")));
        startProgress(0);
        endProgress();
        const QString path = value(QStringLiteral("path"));
        return finishCommand(1, command == QLatin1String("defaults") ? defaultsStatusFolder(path) : path,
                             QStringLiteral("Validate number out of range."));
    }

    // 10. Required parameters of the command.
    if (const int status = checkRequired(command)) {
        startProgress(0);
        endProgress();
        return finishCommand(status, QString(), QString());
    }

    // 11. The export folder receives the status files.
    m_path = value(QStringLiteral("path"));

    // 12. Log style.
    const QString style = value(QStringLiteral("log"));
    m_logManager->setMode(LogManager::Mode::All);
    if (style == QLatin1String("off")) {
        m_logManager->setMode(LogManager::Mode::Off);
    } else if (style == QLatin1String("consoleoff")) {
        m_logManager->setMode(LogManager::Mode::ConsoleOff);
    } else if (style == QLatin1String("fileoff")) {
        m_logManager->setMode(LogManager::Mode::FileOff);
    } else if (style == QLatin1String("extract")) {
        m_logStyle = style;
        m_logManager->setMode(LogManager::Mode::All);
    }

    // 13. Run flags.
    m_runFlags = FlagsFromSwitches(switchValue(QStringLiteral("all")), switchValue(QStringLiteral("demo")),
                          switchValue(QStringLiteral("att")));

    // 14-15. Dispatch.
    for (const CommandWord &word : commandWords()) {
        if (command != QLatin1String(word.word))
            continue;
        QString message;
        const int status = m_validateMode ? word.validate(*this, m_validateNumber, message) : word.handler(*this, message);
        if (!word.failure)
            return status; // the command has written its own status files
        if (m_validateMode && word.validateStatus == ValidateStatus::NotWritten)
            return finishCommand(status, QString(), QString());
        const QString folder =
            word.statusFolder == StatusFolder::BesideConfigurationFile ? defaultsStatusFolder(m_path) : m_path;
        const QString failure = word.failureText == FailureText::HandlerMessageFirst && !message.isEmpty()
                                    ? message
                                    : QString::fromLatin1(word.failure);
        return finishCommand(status, folder, failure);
    }
    emit writeError(QStringLiteral("App Problem"), QStringLiteral("This command has not been defined: ") + command);
    return finishCommand(1, m_path, QStringLiteral("Command not defined."));
}

const std::vector<SISConfig::CommandWord> &SISConfig::commandWords()
{
    // Word, handler, validate variant, status-file text on failure, then how
    // the status files are written.
    using V = ValidateStatus;
    using T = FailureText;
    using F = StatusFolder;
    static const std::vector<CommandWord> words = {
        {"params", [](SISConfig &app, QString &message) { return app.commandParams(message); },
         [](SISConfig &app, int number, QString &message) { return app.commandParamsValidate(number, message); },
         "Failed retrieving parameters.", V::NotWritten, T::Fixed, F::ExportFolder},
        {"defaults", [](SISConfig &app, QString &message) { return app.commandDefaults(message); },
         [](SISConfig &app, int number, QString &) { return app.commandDefaultsValidate(number); },
         "Failed retrieving default settings.", V::Written, T::Fixed, F::BesideConfigurationFile},
        {"test",
         [](SISConfig &app, QString &message) {
             app.LogHeader(QString());
             return app.commandTest(message);
         },
         [](SISConfig &app, int number, QString &message) { return app.commandTestValidate(number, message); },
         "Failed testing parameters.", V::Written, T::HandlerMessageFirst, F::ExportFolder},
        {"run", [](SISConfig &app, QString &) { return app.runCommand(); },
         [](SISConfig &app, int, QString &) { return app.runCommand(); }, nullptr, V::Written, T::Fixed,
         F::ExportFolder},
        {"version", [](SISConfig &app, QString &) { return app.commandVersion(); },
         [](SISConfig &app, int number, QString &) { return app.commandVersionValidate(number); },
         "Failed retrieving version.", V::Written, T::Fixed, F::ExportFolder},
    };
    return words;
}

// ---------------------------------------------------------------- run command

bool SISConfig::setupRunLog()
{
    // 1-2. Log folder and file name.
    const QString logpath = value(QStringLiteral("logpath"));
    const QString folder = CleanFolderName(logpath.isEmpty() ? m_path : logpath);
    const QString base = CleanFileName(shortName_ + u'-' + installationId() + u'-' + value(QStringLiteral("school")));
    m_logManager->setFileBase(base);
    if (m_logManager->setFolder(folder))
        return true;

    // 3. Fall back to the documents folder.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    emit writeError(QStringLiteral("Log File Error"), QStringLiteral("Could not write to: ") + folder + base
                        + QStringLiteral(". Will now write to: ") + documents + u'\\' + base);
    return m_logManager->setFolder(documents);
}

// Before the run touches the export folder: the path must fit, and no other
// run may be writing into the same folder. Empty when the folder is ours.
QString SISConfig::claimExportFolder()
{
    if (m_path.isEmpty())
        return QString();
    const QString tooLong = BridgeTaskBase::CheckExportFolderLength(m_path);
    if (!tooLong.isEmpty())
        return tooLong;
    std::string error;
    switch (m_folderLock.Acquire(toOsPath(m_path).toStdString(), &error)) {
    case XFolderLock::Locked:
        return QString();
    case XFolderLock::Busy:
        return QStringLiteral("Failed on extraction: another extraction is running in ") + m_path +
               QStringLiteral("; try again when it has finished.");
    case XFolderLock::Failed:
        break;
    }
    return QStringLiteral("Failed on extraction: the export folder ") + m_path +
           QStringLiteral(" cannot be used: ") + QString::fromStdString(error);
}

int SISConfig::runCommand()
{
    // A refused folder is left exactly as it is: no log, no status file.
    const QString refused = claimExportFolder();
    if (!refused.isEmpty()) {
        startProgress(0);
        log(LogLevel::Error, refused, QStringLiteral("SISConfig::runCommand"));
        emit writeError(QStringLiteral("run"), refused);
        endProgress();
        return 1;
    }
    // From here on SIGTERM and SIGINT end the run as failed instead of
    // killing it half-way.
    XInterrupt::Install();

    setupRunLog();

    // 4. A previous run's files must not speak for this one: the importer would
    // read an old "Succeeded" if this run's status file could not be written.
    StatusFiles::removeTextFile(m_path, QStringLiteral("finished.tmp"));
    StatusFiles::removeTextFile(m_path, finishedFile_);
    StatusFiles::removeTextFile(m_path, type_ + QStringLiteral("Status.tmp"));

    // 5. Whether the schema was already logged by a successful run.
    setValue(QStringLiteral("logSchema"),
             StatusFiles::textFileContains(m_path, QStringLiteral("BridgeStatus.tmp")) ? QStringLiteral("false")
                                                                            : QStringLiteral("true"));

    // 6. Tell the importer the run is under way.
    if (!StatusFiles::writeTextFile(m_path, QStringLiteral("BridgeStatus.tmp"), StatusFiles::dateTime() + QStringLiteral("\tExtract Running")))
        log(LogLevel::Warning, QStringLiteral("Could not write BridgeStatus.tmp in ") + m_path, QStringLiteral("SISConfig::runCommand"));

    // 7-8. Header, then the quiet console of the extract style.
    LogHeader(QString());
    if (value(QStringLiteral("log")) == QLatin1String("extract"))
        m_logManager->setMode(LogManager::Mode::ConsoleOff);

    // 9-10. The run itself.
    QString message;
    const int status = m_validateMode ? commandRunValidate(m_validateNumber) : commandRun(m_runFlags, message);
    QString failure = QStringLiteral("Failed on extraction.");
    if (status != 0 && XInterrupt::Pending())
        failure = QStringLiteral("Failed on extraction: interrupted by ") +
                  QString::fromLatin1(XInterrupt::SignalName(XInterrupt::Pending())) +
                  QStringLiteral("; the previous export files were left as they were.");
    return finishCommand(status, m_path, failure);
}

int SISConfig::commandRun(RunFlags flags, QString &message)
{
    if (m_logStyle == QLatin1String("extract"))
        m_logManager->setMode(LogManager::Mode::ConsoleOff);
    const bool succeeded = runTask(values(), flags, message);
    copyLogToExportFolder();
    return succeeded ? 0 : 1;
}

void SISConfig::copyLogToExportFolder()
{
    const QString source = m_logManager ? m_logManager->logFilePath() : QString();
    if (source.isEmpty() || m_path.isEmpty())
        return;
    const QString target = QDir(toOsPath(m_path)).filePath(QFileInfo(source).fileName());
    // When the log already lives in the export folder there is nothing to copy,
    // and replacing the target would delete the log itself.
    if (QFileInfo(source).canonicalFilePath() == QFileInfo(target).canonicalFilePath())
        return;
    QFile log(source);
    std::string error = "cannot read " + source.toStdString();
    if (!log.open(QIODevice::ReadOnly) ||
        !XFileSystem::ReplaceFile(target.toStdString(), log.readAll().toStdString(), &error))
        this->log(LogLevel::Warning, QStringLiteral("Could not copy the log file to ") + target + QStringLiteral(": ") +
                         QString::fromStdString(error),
                  QStringLiteral("SISConfig::commandRun"));
}

// ---------------------------------------------------------------- defaults

QString SISConfig::AppDataPath()
{
    const QString method = QStringLiteral("SISConfig::AppDataPath");
    // The per-user data folder stands in for the application-data folder.
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!base.isEmpty())
        QDir().mkpath(base);
    else
        base = QStringLiteral("C:\\Documents and Settings\\All Users\\Application Data\\");
    if (base.isEmpty() || !QFileInfo(toOsPath(base)).isDir()) {
        log(LogLevel::Warning, QStringLiteral("appPath: ") + base + QStringLiteral(" doesn't exist or is blank"), method);
        return base;
    }
    if (oldShortName_.isEmpty()) {
        log(LogLevel::Error, QStringLiteral("oldShortName_ not defined, please set in ApplicationBase, will try from base appPath "
                              "folder"),
            method);
        return base + QStringLiteral("\\Harnoth\\");
    }
    const QString path = base + QStringLiteral("\\Harnoth\\") + oldShortName_;
    log(LogLevel::Informational, QStringLiteral("appPath: ") + path, method);
    return path;
}

QString SISConfig::locateConfigurationFile(bool &failed)
{
    const QString method = QStringLiteral("SISConfig::commandDefaults");
    const QString name = QStringLiteral("HNConfig.xml");
    failed = false;
    const QString given = value(QStringLiteral("path"));
    if (!given.isEmpty())
        return given;

    // Program paths keep backslashes; the walk works on the system's form.
    QString folder = QDir::cleanPath(toOsPath(AppDataPath()));
    const QFileInfo direct(QDir(folder).filePath(name));
    if (direct.isFile() && !direct.isSymLink())
        return direct.filePath();

    while (QFileInfo(folder).fileName() != QLatin1String("Harnoth")) {
        const qsizetype cut = folder.lastIndexOf(u'/');
        if (cut < 0 || folder == QLatin1String("/")) {
            startProgress(0);
            log(LogLevel::Debug, QStringLiteral("Cannot find AppDataPath: ") + folder, method);
            endProgress();
            failed = true;
            return QString();
        }
        folder = cut == 0 ? QStringLiteral("/") : folder.left(cut);
    }
    // Installations in name order, as the folder lists them to the user.
    const QFileInfoList installations =
        QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &installation : installations) {
        QDir holder(installation.filePath());
        const QString sub = configurationSubfolder();
        if (!sub.isEmpty() && !holder.cd(sub))
            continue;
        const QFileInfo candidate(holder.filePath(name));
        if (candidate.isFile())
            return candidate.filePath();
    }
    return QDir(folder).filePath(name);
}

int SISConfig::commandDefaults(QString &)
{
    const QString method = QStringLiteral("SISConfig::commandDefaults");
    auto fail = [this, &method](LogLevel::Level level, const QString &text) {
        startProgress(0);
        log(level, text, method);
        endProgress();
        return 1;
    };

    bool failed = false;
    const QString path = locateConfigurationFile(failed);
    if (failed)
        return 1;
    log(LogLevel::Debug, QStringLiteral("Path to HNConfig.xml: ") + path, method);
    if (path.isEmpty())
        return fail(LogLevel::Warning, QStringLiteral("No default HNConfig.xml file found"));

    QFile file(toOsPath(path));
    const QFileInfo info(file);
    if (info.isDir() || !file.open(QIODevice::ReadOnly))
        return fail(LogLevel::Warning, QStringLiteral("Could not open: ") + path);
    // Reading a huge file whole would take the memory of the machine.
    if (file.size() > HNConfigReader::MaxSize)
        return fail(LogLevel::Warning, QStringLiteral("Could not open: ") + path + QStringLiteral(" (larger than %1 MB)")
                           .arg(HNConfigReader::MaxSize / (1024 * 1024)));

    HNConfigReader reader;
    const QByteArray bytes = file.read(HNConfigReader::MaxSize + 1);
    if (file.error() != QFileDevice::NoError)
        return fail(LogLevel::Warning, QStringLiteral("Could not open: ") + path);
    switch (reader.read(bytes)) {
    case HNConfigReader::Outcome::ParseError:
        log(LogLevel::Debug, reader.errorText(), method);
        startProgress(0);
        endProgress();
        return 1;
    case HNConfigReader::Outcome::NotConfigFile:
        log(LogLevel::Debug, QStringLiteral("The file is not a valid HNConfig.xml file.  May be empty."), method);
        startProgress(0);
        endProgress();
        return 1;
    case HNConfigReader::Outcome::Read:
        break;
    }

    startProgress(static_cast<int>(reader.schools().size()));
    for (const QDomElement &element : reader.schools()) {
        emit writeSetting(QStringLiteral("start_setting"), -1);
        readSchoolConfiguration(element);
        afterSchoolConfiguration();
        emit writeSetting(QStringLiteral("end_setting"), -1);
    }
    endProgress();
    return 0;
}

void SISConfig::readSchoolConfiguration(const QDomElement &) {}
