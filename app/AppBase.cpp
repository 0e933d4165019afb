// Application framework: parameter registry, requirement checks, the generic
// command handlers with their validate variants, status files and log header.
#include "app/AppBase.h"

#include "app/SISMessageWriter.h"
#include "app/StatusFiles.h"
#include "log/LogManager.h"
#include "log/ProtocolField.h"
#include "util/XFileSystem.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTime>

#include <algorithm>
#include <exception>

const char *const AppBase::PasswordAlphabet = "Qw7!rT2#mK9$zX4p";
AppBase *AppBase::s_current = nullptr;

AppBase::AppBase(QObject *parent)
    : QObject(parent),
      m_writer(std::make_unique<SISMessageWriter>()),
      m_logManager(std::make_unique<LogManager>(QString(), QString())),
      m_router(m_writer.get(), m_logManager.get(), ProtocolRouter::Routing::Application)
{
    addGroup(QStringLiteral("global"));
}

AppBase::~AppBase()
{
    if (s_current == this)
        s_current = nullptr;
}

// ---------------------------------------------------------------- registry

int AppBase::isMissing(const QString &key)
{
    if (key.isEmpty() || !value(key).isEmpty())
        return 0;
    if (const ParamRecord *r = recordForReport(key))
        sink().Missing(r->key, r->displayName + QStringLiteral(" missing or blank."));
    else
        sink().Missing(key, QStringLiteral("Missing or blank."));
    return 1;
}

int AppBase::checkRequired(const QString &name)
{
    // Dependencies first, so a group is never judged before what it builds on.
    // A dependency that leads back to a name being checked is skipped.
    static QStringList inProgress;
    if (inProgress.contains(name))
        return 0;
    inProgress.append(name);
    struct Pop { ~Pop() { inProgress.removeLast(); } } pop;

    for (const QString &dependency : m_registry.dependencies(name)) {
        if (dependency.isEmpty())
            continue;
        if (const int status = checkRequired(dependency))
            return status;
    }

    const QList<QStringList> sets = m_registry.requirements(name);
    for (const QStringList &set : sets) {
        int missing = 0;
        for (const QString &key : set)
            missing += isMissing(key); // every key, so each missing one is reported
        if (missing == 0)
            return 0;
    }
    if (sets.isEmpty())
        return 0;
    sink().Warning(name, QStringLiteral("Required parameter missing."));
    return 1;
}

QString AppBase::DecodePassword(const QString &encoded)
{
    const QString alphabet = QString::fromLatin1(PasswordAlphabet);
    auto position = [&alphabet](QChar c) {
        const qsizetype at = alphabet.indexOf(c);
        return at < 0 ? 3 : static_cast<int>(at);
    };
    QString plain;
    // Pairs only: an odd trailing character has no partner and is dropped.
    for (qsizetype i = 0; i + 1 < encoded.size(); i += 2)
        plain.append(QChar(position(encoded.at(i)) * 16 + position(encoded.at(i + 1))));
    return plain;
}

QString AppBase::maskSecrets(QString text) const
{
    QStringList secrets = m_secrets;
    // Longest first, so a password that contains another is masked whole.
    std::sort(secrets.begin(), secrets.end(),
              [](const QString &a, const QString &b) { return a.size() > b.size(); });
    for (const QString &secret : std::as_const(secrets)) {
        if (!secret.isEmpty())
            text.replace(secret, mask());
    }
    return text;
}

// ---------------------------------------------------------------- commands

int AppBase::commandHelp()
{
    startProgress(0);
    endProgress();
    return 1;
}

int AppBase::commandParams(QString &message)
{
    const QString paramkey = value(QStringLiteral("paramkey"));
    const QString group = value(QStringLiteral("group"));

    if (paramkey.isEmpty()) {
        if (!hasGroup(group)) {
            message = QStringLiteral("No parameters for this group");
            sink().Warning(QStringLiteral("group"), message);
            startProgress(0);
            endProgress();
            return 1;
        }
        const QList<ParamRecord *> records = groupRecords(group);
        startProgress(static_cast<int>(records.size()));
        for (const ParamRecord *r : records)
            sink().Param(r->key, ParamTypeWord(r->type), r->displayName, r->help, r->defaultValue);
        endProgress();
        return 0;
    }

    const ParamRecord *r = record(paramkey);
    if (!r) {
        message = paramkey + QStringLiteral(" does not exist in this Application.");
        sink().Warning(QStringLiteral("paramkey"), message);
        startProgress(0);
        endProgress();
        return 1;
    }
    for (const QString &dependency : m_registry.dependencies(r->group)) {
        if (dependency.isEmpty())
            continue;
        if (const int status = checkRequired(dependency)) {
            startProgress(0);
            endProgress();
            message = QStringLiteral("Requirements for group were not met, ie missing/incorrect parameters.");
            return status;
        }
    }
    int missing = 0;
    for (const QString &parent : r->parentKeys.keys())
        missing += isMissing(parent);
    if (missing) {
        message = QStringLiteral("Required params missing.");
        sink().Warning(QStringLiteral("params"), message);
        startProgress(0);
        endProgress();
        return 1;
    }
    sink().ClearMessages();
    return reportParamValues(*r, message);
}

int AppBase::reportParamValues(const ParamRecord &record, QString &message)
{
    startProgress(0);
    int status = 1;
    try {
        status = reportParamValuesByType(record, message);
    } catch (...) {
        sink().Error(QStringLiteral("App Problem"),
                        QStringLiteral("Application threw an uncaught exception, please contact Quillon "
                                       "Software Support to fix this issue."));
        status = 1;
    }
    endProgress();
    return status;
}

int AppBase::reportParamValuesByType(const ParamRecord &r, QString &message)
{
    const ParamType type = r.type;
    const QString &key = r.key;

    if (m_validateMode) {
        // Canned answers let the importer exercise its handling without a database.
        auto cannedList = [&](const QList<QPair<QString, QString>> &entries) {
            for (const auto &entry : entries)
                sink().ListEntry(ParamTypeWord(type), key, entry.first, entry.second, QString());
            return 0;
        };
        if (type == ParamType::List)
            return cannedList({{"1", "List 1"}, {"2", "List 2"}, {"3", "List 3"}});
        if (type == ParamType::DistrictList)
            return cannedList({{"1", "First District (1)"}, {"2", "Second District (2)"}, {"3", "Third District (3)"}});
        if (type == ParamType::SchoolList)
            return cannedList({{"1", "Elementary (1)"}, {"2", "Middle (2)"}, {"3", "High School (3)"}});
        if (type == ParamType::YearList)
            return cannedList({{"2008", "2008-2009"}, {"2009", "2009-2010"}, {"2010", "2010-2011"}});
        if (type == ParamType::BridgeList)
            return cannedList({{"1", "Adams, Ruth"}, {"2", "Baker, Thomas"}, {"3", "Chen, Lily"}});
        if (type == ParamType::File) {
            for (const char *extension : {"*.dat", "*.exe", "*.*"})
                sink().FileType(key, QString::fromLatin1(extension), QString());
            return 0;
        }
        if (type == ParamType::Number) {
            sink().Number(key, QStringLiteral("min=3"), QString());
            sink().Number(key, QStringLiteral("max=9"), QString());
            return 0;
        }
        if (type == ParamType::Date) {
            sink().DateRange(key, QStringLiteral("2009-09-08"), QStringLiteral("2010-06-18"), QString());
            return 0;
        }
    }

    if (type == ParamType::BridgeList)
        return loadBridgeList(r, message);
    if (type == ParamType::SchoolList)
        return loadSchoolList(r, message);
    if (type == ParamType::DistrictList)
        return loadDistrictList(r, message);
    if (type == ParamType::YearList)
        return loadYearList(r, message);
    if (type == ParamType::List)
        return loadList(r);
    if (type == ParamType::File) {
        for (const QString &item : r.items)
            sink().FileType(key, item, QString());
        return 0;
    }
    if (type == ParamType::Number) {
        for (const QString &item : r.items)
            sink().Number(key, item, QString());
        return 0;
    }
    if (type == ParamType::Date) {
        switch (r.items.size()) {
        case 0:
            return 0;
        case 2:
            sink().DateRange(key, r.items.at(0), r.items.at(1), QString());
            return 0;
        case 3:
            sink().DateRange(key, r.items.at(0), r.items.at(1), r.items.at(2));
            return 0;
        default:
            sink().Error(QStringLiteral("Date Settings Incorrect"),
                            QStringLiteral("Incorrect application settings for this date parameter: ") + key);
            return 1;
        }
    }
    if (type == ParamType::Tree || type == ParamType::Hidden) {
        sink().Error(QStringLiteral("App Problem"),
                        QStringLiteral("Method to handle parameter has not been defined for: ") + key);
        return 1;
    }
    sink().Error(QStringLiteral("No Parameter Return Type Set"),
                    QStringLiteral("No parameter return set for type: ") + ParamTypeWord(type));
    return 1;
}

int AppBase::commandParamsValidate(int number, QString &message)
{
    if (number == 0)
        return commandParams(message);
    const bool single = !value(QStringLiteral("paramkey")).isEmpty();
    switch (number) {
    case 1:
        if (single) {
            sink().Warning(QStringLiteral("connection"), QStringLiteral("Required parameter missing."));
            sink().Missing(QStringLiteral("dsn"), QStringLiteral("DSN missing or blank."));
            message = QStringLiteral("Requirements for group were not met, ie missing/incorrect parameters.");
        }
        break;
    case 4:
        if (single) {
            message = value(QStringLiteral("paramkey")) + QStringLiteral(" does not exist in this App.");
            sink().Warning(QStringLiteral("paramkey"), message);
        } else {
            message = QStringLiteral("No parameters for this group");
            sink().Warning(QStringLiteral("group"), message);
        }
        break;
    }
    return validateProgress(number);
}

int AppBase::commandVersion()
{
    startProgress(1);
    const QString name = type_ == QLatin1String("Provider") ? shortName_
                                                            : shortName_ + QStringLiteral(" (") + type_ + u')';
    const QString folder = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    sink().Version(alias_, version_, minVersion_, name, folder + QStringLiteral("/help/") + userGuideFileName_);
    endProgress();
    return 0;
}

int AppBase::commandVersionValidate(int number)
{
    switch (number) {
    case 0:
        commandVersion();
        break;
    case 1:
        startProgress(1);
        break;
    case 2:
        break;
    default:
        startProgress(0);
        endProgress();
        break;
    }
    return number;
}

int AppBase::commandDefaultsValidate(int number)
{
    return validateProgress(number);
}

int AppBase::validateProgress(int number)
{
    if (number == 2)
        return number;
    startProgress(0);
    if (number != 3)
        endProgress();
    return number;
}

int AppBase::commandTest(QString &message)
{
    const QString group = value(QStringLiteral("group"));
    startProgress(0);
    int status = checkRequired(group);
    if (status != 0) {
        message = QStringLiteral("Parameter not valid.");
        sink().TestResult(QStringLiteral("fail"), group, message);
    } else {
        QString reason;
        try {
            status = groupTest(group, message);
        } catch (const std::exception &e) {
            reason = QString::fromLocal8Bit(e.what());
            status = -1;
        } catch (...) {
            status = -1;
        }
        if (status == -1) {
            // A test that blew up has not passed: report it and fail the command.
            if (!reason.isEmpty())
                log(LogLevel::Error, reason, QStringLiteral("AppBase::commandTest"));
            message = type_ + QStringLiteral(" threw an uncaught exception, please contact Quillon Software "
                                             "Support to fix this issue.");
            sink().Error(type_ + QStringLiteral(" Problem"), message);
            status = 1;
        }
    }
    endProgress();
    return status;
}

int AppBase::commandTestValidate(int number, QString &message)
{
    const QString group = value(QStringLiteral("group"));
    switch (number) {
    case 0:
        startProgress(0);
        sink().ProgressStep(QStringLiteral("Beginning test..."));
        message = QStringLiteral("Connection Successful.");
        sink().TestResult(QStringLiteral("success"), group, message);
        endProgress();
        break;
    case 1:
        startProgress(0);
        message = QStringLiteral("Parameter not valid.");
        sink().TestResult(QStringLiteral("fail"), group, message);
        endProgress();
        break;
    default:
        return validateProgress(number);
    }
    return number;
}

int AppBase::commandRun(RunFlags, QString &message)
{
    message = QStringLiteral("This application cannot run an extraction.");
    startProgress(0);
    sink().Error(QStringLiteral("run"), message);
    endProgress();
    return 1;
}

int AppBase::commandRunValidate(int number)
{
    switch (number) {
    case 0: {
        startProgress(10);
        static const char *const steps[] = {
            "Start Extraction...",
            "Validate Connection Successful, using Oracle (ODBC) with prefix.",
            "Reading Look up Tables",
            "Reading Custom Field List...",
            "Reading Student Transportation...",
            "Reading Student Demographics...",
            "Reading Student Grades...",
            "Reading Student Period Attendance (08/25/2008 to 08/31/2008)...",
            "Reading Cached Period Attendance...",
            "Export complete.",
        };
        for (const char *step : steps)
            sink().ProgressStep(QString::fromLatin1(step));
        endProgress();
        break;
    }
    default:
        return validateProgress(number);
    }
    return number;
}

int AppBase::groupTest(const QString &, QString &message)
{
    message = QStringLiteral("Group is undefined, there is a problem with the bridge, please report this problem "
                             "to Quillon Support.");
    sink().Error(QStringLiteral("Group Undefined"), message);
    return 1;
}

static int listNotProvided(AppBase *app, const ParamRecord &record, QString &message)
{
    message = QStringLiteral("No list is provided for this parameter.");
    app->sink().Warning(record.key, message);
    return 1;
}

int AppBase::loadBridgeList(const ParamRecord &record, QString &message) { return listNotProvided(this, record, message); }
int AppBase::loadSchoolList(const ParamRecord &record, QString &message) { return listNotProvided(this, record, message); }
int AppBase::loadDistrictList(const ParamRecord &record, QString &message) { return listNotProvided(this, record, message); }
int AppBase::loadYearList(const ParamRecord &record, QString &message) { return listNotProvided(this, record, message); }

int AppBase::loadList(const ParamRecord &record)
{
    for (int i = 1; i <= 3; ++i)
        sink().ListEntry(QStringLiteral("list"), record.key, QString::number(i), QStringLiteral("List %1").arg(i),
                       QString());
    return m_validateMode ? m_validateNumber : 0;
}

// ---------------------------------------------------------------- status files

QString AppBase::withCause(const QString &failure, const QString &cause)
{
    if (cause.isEmpty())
        return failure;
    QString text = failure;
    if (text.endsWith(u'.'))
        text.chop(1);
    return text + QStringLiteral(": ") + cause;
}

int AppBase::finishCommand(int status, const QString &folder, const QString &message)
{
    if (!folder.isEmpty()) {
        const bool ok = status == 0;
        const QString line = StatusFiles::dateTime() + u'\t' + (ok ? QStringLiteral("Succeeded") : QStringLiteral("Failed"))
            + u'\t' + (ok ? QStringLiteral("Succeeded") : protocolField(message));
        const QString statusName = type_ + QStringLiteral("Status.tmp");
        // The importer learns the outcome from the exit status as well; a status
        // file that cannot be written is logged and the status stays as it is.
        if (!StatusFiles::writeTextFile(folder, statusName, line))
            log(LogLevel::Warning, QStringLiteral("Could not write the status file ") + statusName + QStringLiteral(" in ") + folder,
                QStringLiteral("AppBase::finishCommand"));
        if (!StatusFiles::writeTextFile(folder, finishedFile_, QStringLiteral("finished")))
            log(LogLevel::Warning, QStringLiteral("Could not write the file ") + finishedFile_ + QStringLiteral(" in ") + folder,
                QStringLiteral("AppBase::finishCommand"));
    }
    postCommand();
    return status;
}

// ---------------------------------------------------------------- local database folder

QString AppBase::CreateTempLocalDBFolder(const QString &name)
{
    if (name.isEmpty()) {
        log(LogLevel::Error, QStringLiteral("No signifigant folder name, cannot create local DB."),
            QStringLiteral("AppBase::CreateTempLocalDBFolder"));
        return QString();
    }
    // Folders are entered on a directory object, not the process's current
    // folder, which the rest of the run relies on.
    QDir dir(QDir::tempPath());
    dir.mkdir(QStringLiteral("vrk"));
    dir.cd(QStringLiteral("vrk"));

    const QString folder = alias_ + u'.' + name + u'.' + QTime::currentTime().toString(QStringLiteral("hhmmsszzz"))
        + u'.' + QString::number(QCoreApplication::applicationPid());
    if (!dir.mkdir(folder)) {
        sink().Error(QStringLiteral("Initialize"),
                        QStringLiteral("Problem creating folder: ") + folder + QStringLiteral(" in ") + dir.absolutePath());
        return QString();
    }
    if (!dir.cd(folder)) {
        sink().Error(QStringLiteral("Initialize"),
                        QStringLiteral("Problem moving to folder: ") + folder + QStringLiteral(" in ") + dir.absolutePath());
        return QString();
    }
    if (!dir.mkdir(QStringLiteral("localDB"))) {
        sink().Error(QStringLiteral("Initialize"),
                        QStringLiteral("Problem creating localDB path: ") + dir.absolutePath());
        return QString();
    }
    if (!dir.cd(QStringLiteral("localDB"))) {
        sink().Error(QStringLiteral("Initialize"),
                        QStringLiteral("Problem moving to localDB folder in: ") + dir.absolutePath());
        return QString();
    }
    log(LogLevel::Debug, QStringLiteral("Loading local database: ") + dir.absolutePath(),
        QStringLiteral("AppBase::CreateTempLocalDBFolder"));
    return dir.absolutePath();
}

// ---------------------------------------------------------------- log header

void AppBase::LogHeader(const QString &extra)
{
    LogManager *manager = m_logManager.get();
    // An untitled block ahead of the titled one, as every log file has had.
    manager->writeHeader(QString(), QString(), QString());
    manager->writeHeader(title_, version_, buildDate_);
    const QString method = QStringLiteral("AppBase::LogHeader");
    manager->writeFile(QStringLiteral("App Framework Version: ") + frameworkVersion_, LogLevel::Debug, method);
    manager->writeFile(extra, LogLevel::Debug, method);
    manager->writeFile(QStringLiteral("Command: ") + value(QStringLiteral("command")), LogLevel::Debug, method);

    QStringList setSwitches;
    for (const QString &key : m_registry.switchKeys()) {
        if (switchValue(key))
            setSwitches.append(key);
    }
    manager->writeFile(setSwitches.isEmpty() ? QString() : QStringLiteral("Switches: ") + setSwitches.join(QStringLiteral(", ")),
                       LogLevel::Debug, method);

    for (const QString &key : m_registry.valueKeys()) {
        const QString v = value(key);
        if (v.isEmpty())
            continue;
        if (!m_registry.isShownKey(key))
            manager->writeFile(key + QStringLiteral(" is internal only."), LogLevel::Debug, method);
        else
            manager->writeFile(key + u'=' + v, LogLevel::Debug, method);
    }
    manager->writeFile(QStringLiteral("appath=") + value(QStringLiteral("apppath")), LogLevel::Debug, method);
}

// ---------------------------------------------------------------- toolkit messages

void AppBase::qMessageOutput(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    AppBase *app = s_current;
    if (!app)
        return;
    const QString text = app->maskSecrets(message);
    LogLevel::Level level = LogLevel::Warning;
    if (text.contains(QLatin1String("Clipboard"))) {
        level = LogLevel::Debug;
    } else {
        switch (type) {
        case QtDebugMsg:
        case QtInfoMsg:
            level = LogLevel::Debug;
            break;
        case QtWarningMsg:
            if (text.contains(QLatin1String("argument")))
                level = LogLevel::Error;
            else if (text.contains(QLatin1String("valid record")))
                level = LogLevel::Warning;
            else if (text.contains(QLatin1String("qt_sql_default_connection")))
                level = LogLevel::Debug;
            else
                level = LogLevel::Warning;
            break;
        case QtCriticalMsg:
            level = LogLevel::Error;
            break;
        case QtFatalMsg:
            level = LogLevel::Critical;
            break;
        }
    }
    app->sink().Log(level, text, QStringLiteral("AppBase::qMessageOutput"));
    if (level <= LogLevel::Error && (type == QtCriticalMsg || type == QtFatalMsg))
        app->sink().Error(QStringLiteral("options"), text);
}
