// Driver: command-line scanning and normalisation, requirement check, dispatch
// of the six command words, the extraction command with its log set-up and
// status files, and the standard parameters every bridge carries.
#include "app/SISConfig.h"

#include "app/HNConfigReader.h"
#include "app/OptionScanner.h"
#include "app/PasswordFile.h"
#include "app/SISMessageWriter.h"
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
#include <filesystem>
#include <map>
#include <system_error>

namespace {
const QString kProcess = QStringLiteral("SISConfig::processCommandLine");
// Two status files of a line each, written through new files: a few blocks.
constexpr off_t kStatusReserve = 64 * 1024;
}

SISConfig::SISConfig(QObject *parent)
    : AppBase(parent), m_taskRouter(m_writer.get(), m_logManager.get(), ProtocolRouter::Routing::Task)
{
    addGroup(QStringLiteral("connection"));
    addGroup(QStringLiteral("school"));

    addRequirement(QStringLiteral("params"), {QStringLiteral("group")});
    addRequirement(QStringLiteral("params"), {QStringLiteral("paramkey")});
    addRequirement(QStringLiteral("test"), {QStringLiteral("group")});
    addDependency(QStringLiteral("run"), QStringLiteral("connection"));
    addDependency(QStringLiteral("run"), QStringLiteral("school"));
    addRequirement(QStringLiteral("run"), {QStringLiteral("path")});

    auto engine = std::make_unique<ExpEngine>();
    engine->SetSink(&m_taskRouter);
    m_engine = engine.get();
    m_task = std::move(engine);
}

SISConfig::~SISConfig()
{
    if (m_handlerInstalled)
        qInstallMessageHandler(m_previousHandler);
}

// ---------------------------------------------------------------- task

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

    const bool password = type == ParamType::Password;
    if (password) {
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
    if (created && password)
        created->secret = true;

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

bool SISConfig::isCommandWord(const QString &word)
{
    if (word == QLatin1String("help"))
        return true;
    const auto &words = commandWords();
    return std::any_of(words.begin(), words.end(),
                       [&word](const CommandWord &known) { return word == QLatin1String(known.word); });
}

QList<bool> SISConfig::shownArguments(const QStringList &arguments) const
{
    // The same reading as the scanner's: "--key=value" and "--key value" are
    // one option, a plain argument after an option without "=" is its value.
    // The value of an option that is not shown is not shown either, even when
    // it looks like a command word: "--pwd run" makes "run" the password.
    enum class Next { Argument, ShownValue, HiddenValue };
    QList<bool> shown(arguments.size(), false);
    if (!shown.isEmpty())
        shown[0] = true; // the program
    Next next = Next::Argument;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const bool plain = !argument.startsWith(u'-') || argument.size() == 1;
        if (plain && next != Next::Argument) {
            shown[i] = next == Next::ShownValue;
            next = Next::Argument;
            continue;
        }
        next = Next::Argument;
        if (plain) {
            shown[i] = isCommandWord(argument);
            continue;
        }
        if (!argument.startsWith(QLatin1String("--")) || argument.size() == 2) {
            // A short option or "--": none is registered; what follows may be
            // its value.
            next = Next::HiddenValue;
            continue;
        }
        const qsizetype eq = argument.indexOf(u'=');
        const QString key = argument.mid(2, eq < 0 ? -1 : eq - 2);
        const bool isSwitch = m_registry.switchKeys().contains(key);
        // A switch takes no value: "--all=x" carries something else.
        shown[i] = m_registry.isShownKey(key) && (!isSwitch || eq < 0);
        if (eq < 0 && !isSwitch)
            next = shown[i] ? Next::ShownValue : Next::HiddenValue;
    }
    return shown;
}

QStringList SISConfig::echoedArguments(const QStringList &arguments) const
{
    const QList<bool> shown = shownArguments(arguments);
    QStringList echoed;
    for (qsizetype i = 0; i < arguments.size(); ++i)
        echoed.append(shown.at(i) ? arguments.at(i) : mask());
    return echoed;
}

void SISConfig::collectSecrets()
{
    for (const QString &key : m_registry.valueKeys()) {
        const QString v = value(key);
        if (!v.isEmpty() && !m_registry.isShownKey(key) && !m_secrets.contains(v))
            m_secrets.append(v);
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
    if (!PasswordFile::Read(toOsPath(file), password, cause)) {
        // Under the service manager the file read is a credential's copy;
        // the unit names the file the administrator edits.
        const QString source = qEnvironmentVariable("MORV_PWDFILE_SOURCE");
        if (!source.isEmpty())
            cause += QStringLiteral(" It is a copy of ") + source + QStringLiteral(", the file to correct.");
        return false;
    }
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
    usage += QStringLiteral("Commands:\n");
    for (const CommandWord &word : commandWords())
        usage += QStringLiteral("  ") + QString::fromLatin1(word.word).leftJustified(10)
            + QString::fromLatin1(word.description) + u'\n';
    usage += QStringLiteral("  ") + QStringLiteral("help").leftJustified(10) + QStringLiteral("print this text\n");
    return usage;
}

// For "defaults" the path names the configuration file itself; its status files
// go beside it instead of into a new folder named like the file.
QString SISConfig::defaultsStatusFolder(const QString &path)
{
    if (path.isEmpty() || QFileInfo(toOsPath(path)).isDir())
        return path;
    const qsizetype cut = std::max(path.lastIndexOf(u'\\'), path.lastIndexOf(u'/'));
    // A bare file name is in the current folder; "/HNConfig.xml" in the root.
    if (cut < 0)
        return QDir::currentPath();
    return cut == 0 ? path.left(1) : path.left(cut);
}

// ---------------------------------------------------------------- driver

bool SISConfig::findMalformedValue(QString &key, QString &message) const
{
    struct Check
    {
        const char *key;
        bool (*parses)(const QString &value);
        const char *expected;
    };
    static const Check checks[] = {
        {"inactivedate", [](const QString &v) { return ExpEngine::IsExportDate(ToXString(v)); },
         "a date in the form yyyy-mm-dd"},
        {"log",
         [](const QString &v) {
             return v == QLatin1String("off") || v == QLatin1String("consoleoff") || v == QLatin1String("fileoff")
                 || v == QLatin1String("extract");
         },
         "one of off, consoleoff, fileoff or extract"},
        {"validate",
         [](const QString &v) {
             bool number = false;
             v.toInt(&number, 10);
             return number;
         },
         "a whole number"},
    };
    for (const Check &check : checks) {
        const QString name = QString::fromLatin1(check.key);
        const QString text = value(name);
        if (text.isEmpty() || check.parses(text))
            continue;
        const ParamRecord *r = record(name);
        const bool secret = r && r->secret;
        key = name;
        // A secret's value is never echoed, whatever it holds.
        message = QStringLiteral("The value of --") + name + QStringLiteral(" is not ")
            + QString::fromLatin1(check.expected) + (secret ? QStringLiteral(".") : QStringLiteral(": ") + text);
        return true;
    }
    return false;
}

SISConfig::ScannedLine SISConfig::scanArguments(const QStringList &arguments)
{
    s_current = this;
    ScannedLine line;

    // 2-3. Program path and the arguments, logged with passwords masked.
    setValue(QStringLiteral("apppath"), arguments.value(0));
    const QList<bool> shown = shownArguments(arguments);
    line.echoed = echoedArguments(arguments);
    for (const QString &argument : line.echoed)
        log(LogLevel::Debug, QStringLiteral("Arguments: ") + argument, kProcess);
    m_programName = arguments.value(0);

    // 4. The scanner, bound to local stores that are copied back afterwards.
    OptionScanner scanner(arguments);
    scanner.setShownArguments(shown);
    std::map<QString, bool> switches;
    std::map<QString, QString> scanned;
    // -h and --help alone ask for the usage: no command word is missing.
    const QStringList options = arguments.mid(1);
    const bool helpAsked = options.contains(QStringLiteral("-h")) || options.contains(QStringLiteral("--help"));
    scanner.registerBareArgument(QStringLiteral("command"), &line.command, helpAsked);
    for (const QString &key : m_registry.switchKeys())
        scanner.registerSwitch(key, &switches[key], key == QLatin1String("help") ? QChar(u'h') : QChar());
    for (const QString &key : m_registry.valueKeys())
        scanner.registerOption(QChar(), key, &scanned[key], QStringLiteral(""));

    // 5. The scanner's warnings reach the log through the toolkit handler.
    if (!m_handlerInstalled) {
        m_previousHandler = qInstallMessageHandler(AppBase::qMessageOutput);
        m_handlerInstalled = true;
    }

    // 6. Parse.
    line.parsed = scanner.scan(false);
    line.programName = scanner.programName();
    line.endRequested = scanner.endRequested();
    if (line.endRequested)
        return line;
    setValue(QStringLiteral("command"), line.command);
    for (const auto &entry : switches)
        setSwitch(entry.first, entry.second);
    for (const auto &entry : scanned)
        setValue(entry.first, entry.second);
    collectSecrets();
    log(LogLevel::Debug, QStringLiteral("Parsing arguments ") + (line.parsed ? QStringLiteral("succeeded.") : QStringLiteral("failed.")),
        QStringLiteral("SISConfig:::processCommandLine"));

    // 8. Normalised before the usage step as well, so that even a failed command
    // line writes its status file into the folder the user meant.
    normaliseValues();
    return line;
}

int SISConfig::processCommandLine(int argc, const char *const *argv)
{
    s_current = this;

    // 1. The log manager under this bridge's name.
    m_logManager->setName(shortName_);

    // 2-8. The arguments read into parameter values.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromUtf8(argv[i]));
    const ScannedLine line = scanArguments(arguments);
    if (line.endRequested)
        return 2;
    const bool parsed = line.parsed;
    const QString &command = line.command;
    const QStringList &echoed = line.echoed;

    // 7. Usage.
    if (!parsed || command == QLatin1String("help") || switchValue(QStringLiteral("help"))) {
        const QByteArray usage =
            (QStringLiteral("Usage: \n") + usageText(line.programName) + u'\n').toUtf8();
        fwrite(usage.constData(), 1, static_cast<size_t>(usage.size()), stderr);
        fflush(stderr);
        commandHelp();
        return finishCommand(1, value(QStringLiteral("path")), QStringLiteral("args: ") + echoed.join(QStringLiteral(", ")));
    }

    // 7b. A value that does not parse would otherwise be dropped silently
    // (a run without inactive students, a validate mode never entered):
    // refused before anything is read or written.
    QString malformedKey, malformed;
    if (findMalformedValue(malformedKey, malformed)) {
        sink().Error(malformedKey, malformed);
        startProgress(0);
        endProgress();
        const QString path = value(QStringLiteral("path"));
        return finishCommand(1, command == QLatin1String("defaults") ? defaultsStatusFolder(path) : path, malformed);
    }

    // The password from a file, before the requirement check counts it.
    QString passwordFailure;
    if (!readPasswordFile(passwordFailure)) {
        sink().Error(QStringLiteral("pwdfile"), passwordFailure);
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
        sink().Error(QStringLiteral("validate"),
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
        // The handler's message is the cause of a failure: the caller reads
        // it in the status file after the command's own text.
        const QString failure = word.failureText == FailureText::HandlerMessage && !message.isEmpty()
                                    ? message
                                    : withCause(QString::fromLatin1(word.failure), message);
        return finishCommand(status, folder, failure);
    }
    // Not a command word, so it may be anything, a password among them.
    sink().Error(QStringLiteral("App Problem"), QStringLiteral("This command has not been defined: ") + mask());
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
        {"params", "list the parameters of a group, or the values one parameter may take",
         [](SISConfig &app, QString &message) { return app.commandParams(message); },
         [](SISConfig &app, int number, QString &message) { return app.commandParamsValidate(number, message); },
         "Failed retrieving parameters.", V::NotWritten, T::CommandText, F::ExportFolder},
        {"defaults", "print the school configurations of the importer's configuration file",
         [](SISConfig &app, QString &message) { return app.commandDefaults(message); },
         [](SISConfig &app, int number, QString &) { return app.commandDefaultsValidate(number); },
         "Failed retrieving default settings.", V::Written, T::CommandText, F::BesideConfigurationFile},
        {"test", "test the connection or the school settings",
         [](SISConfig &app, QString &message) {
             app.LogHeader(QString());
             return app.commandTest(message);
         },
         [](SISConfig &app, int number, QString &message) { return app.commandTestValidate(number, message); },
         "Failed testing parameters.", V::Written, T::HandlerMessage, F::ExportFolder},
        {"run", "export the school's records into the export folder",
         [](SISConfig &app, QString &) { return app.runCommand(); },
         [](SISConfig &app, int, QString &) { return app.runCommand(); }, nullptr, V::Written, T::CommandText,
         F::ExportFolder},
        {"version", "print the bridge's version",
         [](SISConfig &app, QString &) { return app.commandVersion(); },
         [](SISConfig &app, int number, QString &) { return app.commandVersionValidate(number); },
         "Failed retrieving version.", V::Written, T::CommandText, F::ExportFolder},
    };
    return words;
}

// ---------------------------------------------------------------- run command

// A file name after its folder, with the separator the folder's path uses.
static QString inFolder(const QString &folder, const QString &name)
{
    if (folder.endsWith(u'/') || folder.endsWith(u'\\'))
        return folder + name;
    const QChar separator = folder.contains(u'/') || !folder.contains(u'\\') ? u'/' : u'\\';
    return folder + separator + name;
}

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
    sink().Error(QStringLiteral("Log File Error"), QStringLiteral("Could not write to: ") + inFolder(folder, base)
                        + QStringLiteral(". Will now write to: ") + inFolder(documents, base));
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
    // The folder is made before it is locked. One that cannot be made is no
    // refusal here: the run goes on as it would without the lock, and the log
    // set-up and the task report it the way the importer knows ("Could not
    // create pde folder: ..." under the key "file").
    std::error_code made;
    std::filesystem::create_directories(toOsPath(m_path).toUtf8().toStdString(), made);
    if (!QFileInfo(toOsPath(m_path)).isDir())
        return QString();
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
        sink().Error(QStringLiteral("run"), refused);
        endProgress();
        return 1;
    }
    // From here on SIGTERM and SIGINT end the run as failed instead of
    // killing it half-way.
    XInterrupt::Install();

    setupRunLog();

    // An export folder that could not be made holds no status file to remove,
    // read or write; the task's "Could not create pde folder" says so, and
    // nothing else is said about each file.
    const bool folderMade = QFileInfo(toOsPath(m_path)).isDir();
    const QString statusFolder = folderMade ? m_path : QString();

    // 4. A previous run's files must not speak for this one: the importer would
    // read an old "Succeeded" if this run's status file could not be written.
    if (folderMade) {
        StatusFiles::removeTextFile(m_path, QStringLiteral("finished.tmp"));
        StatusFiles::removeTextFile(m_path, finishedFile_);
        StatusFiles::removeTextFile(m_path, type_ + QStringLiteral("Status.tmp"));
    }
    // Room for the status files at the end, should the run fill the disk
    // (the log grows in the export folder too): given back just before
    // they are written.
    m_folderLock.ReserveSpace(kStatusReserve);

    // 5. Whether the schema was already logged by a successful run.
    setValue(QStringLiteral("logSchema"),
             folderMade && StatusFiles::textFileContains(m_path, QStringLiteral("BridgeStatus.tmp"))
                 ? QStringLiteral("false")
                 : QStringLiteral("true"));

    // 6. Tell the importer the run is under way.
    if (folderMade && !StatusFiles::writeTextFile(m_path, QStringLiteral("BridgeStatus.tmp"),
                                                  StatusFiles::dateTime() + QStringLiteral("\tExtract Running")))
        log(LogLevel::Warning, QStringLiteral("Could not write BridgeStatus.tmp in ") + m_path, QStringLiteral("SISConfig::runCommand"));

    // 7-8. Header, then the quiet console of the extract style.
    LogHeader(QString());
    if (value(QStringLiteral("log")) == QLatin1String("extract"))
        m_logManager->setMode(LogManager::Mode::ConsoleOff);

    // 9-10. The run itself.
    QString message;
    const int status = m_validateMode ? commandRunValidate(m_validateNumber) : commandRun(m_runFlags, message);
    // The cause follows the command's own text: the status file is all the
    // importer shows of a failed run.
    QString failure = withCause(QStringLiteral("Failed on extraction."), message);
    if (status != 0 && XInterrupt::Pending())
        failure = QStringLiteral("Failed on extraction: interrupted by ") +
                  QString::fromLatin1(XInterrupt::SignalName(XInterrupt::Pending())) +
                  QStringLiteral("; the previous export files were left as they were.");
    m_folderLock.ReleaseSpace();
    return finishCommand(status, statusFolder, failure);
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
    // A folder the run could not make has been reported already.
    if (source.isEmpty() || m_path.isEmpty() || !QFileInfo(toOsPath(m_path)).isDir())
        return;
    const QString target = QDir(toOsPath(m_path)).filePath(QFileInfo(source).fileName());
    // When the log already lives in the export folder there is nothing to copy,
    // and replacing the target would delete the log itself.
    if (QFileInfo(source).canonicalFilePath() == QFileInfo(target).canonicalFilePath())
        return;
    QFile log(source);
    std::string error = "cannot read " + source.toStdString();
    const bool copied = log.open(QIODevice::ReadOnly) &&
                        XFileSystem::ReplaceFile(target.toStdString(), log.readAll().toStdString(), &error);
    // The copies are kept as the log folder keeps its files: the last
    // seven days.
    LogManager::removeOldLogFiles(QDir(toOsPath(m_path)), m_logManager->fileBase(), QFileInfo(target).fileName());
    if (!copied)
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

QString SISConfig::locateConfigurationFile(QString &notFound)
{
    const QString name = QStringLiteral("HNConfig.xml");
    notFound.clear();
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
            notFound = QStringLiteral("Cannot find AppDataPath: ") + folder;
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

int SISConfig::commandDefaults(QString &message)
{
    const QString method = QStringLiteral("SISConfig::commandDefaults");
    // Each refusal keeps its log record and tells the caller, in one error
    // line inside the progress frame, which file it was and why: no command
    // but "run" keeps a log file.
    auto refuse = [&](LogLevel::Level level, const QString &logText, const QString &cause) {
        startProgress(0);
        log(level, logText, method);
        sink().Error(QStringLiteral("defaults"), cause);
        endProgress();
        message = cause;
        return 1;
    };

    QString notFound;
    const QString path = locateConfigurationFile(notFound);
    if (!notFound.isEmpty())
        return refuse(LogLevel::Debug, notFound, notFound);
    log(LogLevel::Debug, QStringLiteral("Path to HNConfig.xml: ") + path, method);
    if (path.isEmpty()) {
        const QString text = QStringLiteral("No default HNConfig.xml file found");
        return refuse(LogLevel::Warning, text, text);
    }

    QByteArray bytes;
    QString cause;
    if (!HNConfigReader::ReadFile(toOsPath(path), bytes, cause)) {
        const QString text = QStringLiteral("Could not open: ") + path;
        return refuse(LogLevel::Warning, text, text + QStringLiteral(": ") + cause);
    }

    HNConfigReader reader;
    switch (reader.read(bytes)) {
    case HNConfigReader::Outcome::ParseError:
        return refuse(LogLevel::Debug, reader.errorText(), QStringLiteral("Could not read: ") + path + QStringLiteral(": ")
                                                 + reader.errorText());
    case HNConfigReader::Outcome::NotConfigFile: {
        const QString text = QStringLiteral("The file is not a valid HNConfig.xml file.  May be empty.");
        return refuse(LogLevel::Debug, text, QStringLiteral("Could not read: ") + path + QStringLiteral(": ") + text);
    }
    case HNConfigReader::Outcome::Read:
        break;
    }

    startProgress(static_cast<int>(reader.schools().size()));
    for (const QDomElement &element : reader.schools()) {
        sink().Setting(QStringLiteral("start_setting"), -1);
        readSchoolConfiguration(element);
        afterSchoolConfiguration();
        sink().Setting(QStringLiteral("end_setting"), -1);
    }
    endProgress();
    return 0;
}

void SISConfig::readSchoolConfiguration(const QDomElement &) {}
