// Bridge application: identity values, the set-up pages "connection" and
// "school", and the group tests and pick lists that ask the engine.
#include "app/BridgeBase.h"

#include "export/EngineServices.h"

#include <QDomElement>

const char *const BridgeBase::Type = "Data Extractor";
const char *const BridgeBase::FinishedFile = "finished_bridge.tmp";

BridgeBase::BridgeBase(QObject *parent) : SISConfig(parent)
{
    title_ = QStringLiteral("Quillon Data Extractor for MORV");
    type_ = QString::fromLatin1(Type);
    shortName_ = QStringLiteral("MORV");
    oldShortName_ = QStringLiteral("MORV");
    version_ = QStringLiteral(MORV_VERSION);
    frameworkVersion_ = QStringLiteral("1.0.0.2");
    minVersion_ = QStringLiteral("2.00.0037");
    alias_ = QStringLiteral("morv");
    userGuideFileName_ = QStringLiteral("MORVGuide.pdf");
    finishedFile_ = QString::fromLatin1(FinishedFile);
    publishIdentity();
    registerGroups();
}

void BridgeBase::registerGroups()
{
    const QString c = QStringLiteral("connection");
    addParam(c, QStringLiteral("dsnheader"), QStringLiteral("Data Source Name and Login Information"),
             ParamType::Header, QString(), QString());
    addParam(c, QStringLiteral("dsnlabel"),
             QStringLiteral("Please enter the Data Source Name of the ODBC Data Source that you set up to connect "
                            "to the SMS Database"),
             ParamType::Label, QString(), QString());
    addParam(c, QStringLiteral("dsn"), QStringLiteral("ODBC DSN"), ParamType::Edit,
             QStringLiteral("Name of DSN from existing Data Source"), QString());
    addParam(c, QStringLiteral("user"), QStringLiteral("Username"), ParamType::Edit,
             QStringLiteral("Username corresponding to ODBC DSN"), QString());
    addParam(c, QStringLiteral("pwdencode"), QStringLiteral("Password"), ParamType::Password,
             QStringLiteral("Password  corresponding to ODBC DSN"), QString());

    const QString s = QStringLiteral("school");
    addParam(s, QStringLiteral("schoolheader"), QStringLiteral("School Information"), ParamType::Header,
             QString(), QString());
    addParam(s, QStringLiteral("schoollabel"), QStringLiteral("Please select the School Number of this school:"),
             ParamType::Label, QString(), QString());
    addParam(s, QStringLiteral("school"), QStringLiteral("School Number"), ParamType::SchoolList,
             QStringLiteral("Choose the School or Building number for your school"), QString());
    addParam(s, QStringLiteral("configheader"), QStringLiteral("MORV Configuration"), ParamType::Header,
             QString(), QString());
    addParam(s, QStringLiteral("configlabel"),
             QStringLiteral("Please enter the optional student status codes that are considered as active codes.  "
                            "Multiple codes can be separated by commas(,).  If left blank, the extractor will "
                            "consider only A,N and U as Active Status Codes."),
             ParamType::Label, QString(), QString());
    addParam(s, QStringLiteral("activecodes"), QStringLiteral("Active Codes"), ParamType::Edit,
             QStringLiteral("Enter the codes you wish to consider active."), QString());
    addParam(s, QStringLiteral("exportheader"), QStringLiteral("Extra Dates"), ParamType::Header, QString(),
             QString());
    addParam(s, QStringLiteral("exportlabel"),
             QStringLiteral("Sometimes attendance is entered for dates not in session.  Check this option if you "
                            "want to include these extra dates.  Use this if you have no calendar exported."),
             ParamType::Label, QString(), QString());
    addParam(s, QStringLiteral("pragmaattdates"), QStringLiteral("Dates from Att"), ParamType::Flag,
             QStringLiteral("Leave checked to allow attendance to create dates in calendar."), QString());
    addParam(s, QStringLiteral("filterheader"), QStringLiteral("Filter Configuration"), ParamType::Header,
             QString(), QString());
    addParam(s, QStringLiteral("filterlabel"),
             QStringLiteral("You can remove the types of data that are exported by selecting the checkboxes below:"),
             ParamType::Label, QString(), QString());
    addParam(s, QStringLiteral("filterstaff"), QStringLiteral("Staff"), ParamType::Flag,
             QStringLiteral("Do not include any staff information"), QString());
    log(LogLevel::Debug, QStringLiteral("School Params set."), QStringLiteral("BridgeBase::BridgeBase"));

    addRequirement(s, {QStringLiteral("school")});
    addDependency(s, c);
    addRequirement(c, {QStringLiteral("dsn"), QStringLiteral("user"), QStringLiteral("pwd")});
    addRequirement(c, {QStringLiteral("dsn"), QStringLiteral("user"), QStringLiteral("pwdencode")});
}

// "Name (key)", or the key alone when the name adds nothing.
static QString listText(const EngineServices::Entry &entry)
{
    return entry.second.isEmpty() || entry.second == entry.first
        ? entry.first
        : entry.second + QStringLiteral(" (") + entry.first + u')';
}

int BridgeBase::groupTest(const QString &group, QString &message)
{
    sink().ProgressStep(QStringLiteral("Beginning test..."));
    auto report = [&](bool ok, const QString &success, const QString &failure) {
        if (message.isEmpty())
            message = ok ? success : failure;
        sink().TestResult(ok ? QStringLiteral("success") : QStringLiteral("fail"), group, message);
        return ok ? 0 : 1;
    };
    if (group == QLatin1String("connection"))
        return report(engine()->ValidateConnection(values(), message), QStringLiteral("Connection Successful."),
                      QStringLiteral("Connection Failed."));
    if (group == QLatin1String("school"))
        return report(engine()->ValidateSchoolNumber(values(), message), QStringLiteral("School Number Validated."),
                      QStringLiteral("School Number Not Valid."));
    return AppBase::groupTest(group, message);
}

// A failed list names its cause in the warning the importer shows: no
// command but "run" keeps a log to consult.
static QString listFailure(const char *failure, const QString &cause)
{
    return AppBase::withCause(QString::fromLatin1(failure), cause);
}

int BridgeBase::loadSchoolList(const ParamRecord &record, QString &message)
{
    EngineServices::EntryList entries;
    if (!engine()->LoadSchoolList(values(), entries, message)) {
        sink().Warning(QStringLiteral("Loading Schools Failed"), listFailure("Loading Schools failed.", message));
        return 1;
    }
    message.clear();
    for (const EngineServices::Entry &entry : std::as_const(entries))
        sink().ListEntry(QStringLiteral("school_list"), record.key, entry.first, listText(entry), QString());
    return 0;
}

int BridgeBase::loadBridgeList(const ParamRecord &record, QString &message)
{
    EngineServices::EntryList entries;
    if (!engine()->LoadBridgeList(record.key, values(), entries, message)) {
        if (message.isEmpty())
            message = QStringLiteral("Loading Bridgelist failed.");
        sink().Warning(record.key, message);
        return 1;
    }
    message.clear();
    for (const EngineServices::Entry &entry : std::as_const(entries))
        sink().ListEntry(QStringLiteral("bridgelist"), record.key, entry.first, entry.second, QString());
    return 0;
}

// Both lists show entries the way the school list does.
int BridgeBase::loadDistrictList(const ParamRecord &record, QString &message)
{
    EngineServices::EntryList entries;
    if (!engine()->LoadSchoolDistrictList(values(), entries, message)) {
        log(LogLevel::Error, message, QStringLiteral("BridgeBase::loadDistrictList"));
        sink().Warning(QStringLiteral("Loading District Failed"), listFailure("Loading Districts failed.", message));
        return 1;
    }
    message.clear();
    for (const EngineServices::Entry &entry : std::as_const(entries))
        sink().ListEntry(QStringLiteral("district_list"), record.key, entry.first, listText(entry), QString());
    return 0;
}

int BridgeBase::loadYearList(const ParamRecord &record, QString &message)
{
    EngineServices::EntryList entries;
    if (!engine()->LoadSchoolYearList(values(), entries, message)) {
        log(LogLevel::Error, message, QStringLiteral("BridgeBase::loadYearList"));
        sink().Warning(QStringLiteral("Loading School Years Failed"),
                          listFailure("Loading School Years failed.", message));
        return 1;
    }
    message.clear();
    for (const EngineServices::Entry &entry : std::as_const(entries))
        sink().ListEntry(QStringLiteral("year_list"), record.key, entry.first, entry.second, QString());
    return 0;
}

void BridgeBase::readSchoolConfiguration(const QDomElement &element)
{
    // The importer stores the password already encoded.
    static const char *const rows[][3] = {
        {"SISImportFolder", "default", "path"}, {"SISDSN", "connection", "dsn"},
        {"SISUserName", "connection", "user"},  {"SISPassword", "connection", "pwdencode"},
        {"SchoolNumber", "school", "school"},
    };
    for (const auto &row : rows)
        sink().SettingEntry(QStringLiteral("setting"), QString::fromLatin1(row[1]), QString::fromLatin1(row[2]),
                                   element.attribute(QString::fromLatin1(row[0])));
}
