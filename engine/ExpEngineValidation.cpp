// The engine's services for the set-up pages (connection test, school check,
// school and teacher lists) and the live school year lookup they share with
// the run. Each service catches its own errors and answers with a message.
#include "engine/ExpEngine.h"

#include "util/XException.h"

namespace {
// The settings every service needs before it can connect, in the order they
// are reported missing.
const QStringList kLoginKeys = {"user", "pwd", "dsn"};

const char* SchoolTableName(bool plural)
{
    return plural ? "Schools" : "School";
}
} // namespace

bool ExpEngine::CheckRequired(const ParamMap& parameters, const QStringList& keys, QString& message)
{
    for (const QString& key : keys) {
        if (parameters.value(key).isEmpty()) {
            message = key + " missing or blank.";
            Sink().Missing(key, message);
            return false;
        }
    }
    return true;
}

XString ExpEngine::LiveYearRefusal() const
{
    if (!m_schoolYear.IsEmpty())
        return XString();
    if (m_schoolYearUnreadable)
        return XString("The source database could not be read: ") + m_schoolYearError;
    XString refusal = XString("No live school year found for school \"") + m_schoolNumber +
                      "\" in the School or Schools table";
    if (!m_schoolYearError.IsEmpty())
        refusal += XString(" (the lookup failed: ") + m_schoolYearError + ")";
    return refusal;
}

void ExpEngine::SetLogin(const ParamMap& parameters)
{
    SetDataSource(ToXString(parameters.value("dsn")));
    SetUser(ToXString(parameters.value("user")));
    SetPassword(ToXString(parameters.value("pwd")));
}

void ExpEngine::ConnectWith(const ParamMap& parameters)
{
    SetLogin(parameters);
    Connect(BuildConnectionString());
}

void ExpEngine::ConnectWith(const XString& dsn, const XString& user, const XString& pwd)
{
    SetDataSource(dsn);
    SetUser(user);
    SetPassword(pwd);
    Connect(BuildConnectionString());
}

XString ExpEngine::ReadSchoolAndLiveYear(const ParamMap& parameters)
{
    m_schoolNumber = ToXString(parameters.value("school"));
    return GetLiveSchoolYear(ToXString(parameters.value("dsn")), ToXString(parameters.value("user")),
                             ToXString(parameters.value("pwd")), false);
}

void ExpEngine::EndLookupQuery()
{
    SetDistinct(false);
    ReleaseConditionFields();
}

XString ExpEngine::GetLiveSchoolYear(const XString& dsn, const XString& user, const XString& pwd,
                                     bool plural)
{
    Log(LogLevel::Informational, "Getting School Year...", "ExpEngine::GetLiveSchoolYear");
    if (!plural) {
        m_schoolYearError.Clear();
        m_schoolYearUnreadable = false;
    }
    XString year;
    try {
        // The fallback to Schools reuses the first lookup's connection: a
        // server that never answers holds the run for one connect time-out,
        // not two.
        if (!plural || !IsConnected())
            ConnectWith(dsn, user, pwd);
        ClearQuery();
        if (plural)
            m_pluralSchoolTable = true;
        ODBCTable* schools = AddTable(SchoolTableName(plural), "SCH", false);
        if (!schools)
            XException::RaiseError(XErrorKind::Internal, 0, "Table does not exist : %s", SchoolTableName(plural));
        ODBCField* yearField = AddQueryField(schools, "_Year", true);
        AddQueryField(schools, "_DistBldg", true);
        ODBCField* isLive = AddQueryField(schools, "IsLive", false);
        if (isLive)
            AddCondition(isLive, "=", "'Y'");
        if (!m_schoolNumber.IsEmpty())
            AddCondition(ConditionField(schools, "_DistBldg"), "=", QuoteText(m_schoolNumber));
        AddOrder(yearField, false);
        SetDistinct(true);
        OpenCurrentQuery();
        for (bool more = GetFirstRecord(); more; more = GetNextRecord())
            year = GetText(yearField);
        CloseQuery();
        EndLookupQuery();
        // Schools answered: the School table the first lookup missed is no
        // cause of a missing year.
        if (plural)
            m_schoolYearError.Clear();
    } catch (const std::exception& error) {
        // A missing School table is normal for sites that only have Schools,
        // and the fallback below tries that table next. The first lookup's
        // cause is kept: the fallback's "no Schools table" would hide a
        // connection failure.
        if (m_schoolYearError.IsEmpty())
            m_schoolYearError = ErrorCause(error);
        // A database that could not be asked (no connection, locked, not a
        // database) answers no better for the other table.
        if (IsDatabaseFailure(error))
            m_schoolYearUnreadable = true;
        Log(LogLevel::Warning, "Cannot get School Year - Exception Occured", "ExpEngine::GetLiveSchoolYear");
        Log(LogLevel::Debug, error.what(), "ExpEngine::GetLiveSchoolYear");
        EndLookupQuery();
        year.Clear();
    } catch (...) {
        Log(LogLevel::Warning, "Cannot get School Year - Exception Occured", "ExpEngine::GetLiveSchoolYear");
        EndLookupQuery();
        year.Clear();
    }
    if (year.IsEmpty() && !plural && !m_schoolYearUnreadable)
        return GetLiveSchoolYear(dsn, user, pwd, true);
    return year;
}

bool ExpEngine::ValidateConnection(const ParamMap& parameters, QString& message)
{
    Log(LogLevel::Informational, "Validating Connection...", "ExpEngine::ValidateConnection");
    if (!CheckRequired(parameters, kLoginKeys, message))
        return false;
    try {
        m_schoolNumber = ToXString(parameters.value("school"));
        SetLogin(parameters);
        // Sites keep their schools in either table and the run reads either,
        // so a database with only "School" is a working connection too.
        const XString connection = BuildConnectionString();
        if (!TableExistsConnected(connection, "Schools", true) &&
            !TableExistsConnected(connection, "School", false)) {
            message = "School Table does not exist";
            Log(LogLevel::Debug, ToXString(message), "ExpEngine::ValidateConnection");
            return false;
        }
        message = "Connection Succeeded";
        return true;
    } catch (std::exception& error) {
        if (HandleException_ValidateConnection(error, message) == 2)
            Sink().Missing("dsn", "dsn does not exist.");
        return false;
    }
}

bool ExpEngine::ValidateSchoolNumber(const ParamMap& parameters, QString& message)
{
    Log(LogLevel::Informational, "Validating School Number...", "ExpEngine::ValidateSchoolNumber");
    if (!CheckRequired(parameters, kLoginKeys, message))
        return false;
    // The test agrees with the run: a school the run would refuse (no live
    // year, a source that cannot be read) fails with the run's own words.
    m_schoolYear = ReadSchoolAndLiveYear(parameters);
    if (m_schoolYearUnreadable) {
        message = ToQString(LiveYearRefusal());
        Log(LogLevel::Informational, ToXString(message), "ExpEngine::ValidateSchoolNumber");
        return false;
    }
    int rows = 0;
    try {
        ConnectWith(parameters);
        ClearQuery();
        ODBCTable* schools = AddTable(SchoolTableName(m_pluralSchoolTable), "SCH", true);
        AddQueryField(schools, "_DistBldg", true);
        AddCondition(ConditionField(schools, "_DistBldg"), "=", QuoteText(m_schoolNumber));
        if (OpenCurrentQuery()) {
            for (bool more = GetFirstRecord(); more; more = GetNextRecord())
                ++rows;
        }
        CloseQuery();
        ReleaseConditionFields();
    } catch (std::exception& error) {
        ReleaseConditionFields();
        // The year lookup may already have said why (a school table the
        // site does not have); the run would say the same.
        message = m_schoolYear.IsEmpty() ? ToQString(LiveYearRefusal())
                                         : QString("Exception Occured :") + ToQString(ErrorCause(error));
        Log(LogLevel::Informational, ToXString(message), "ExpEngine::ValidateSchoolNumber)");
        return false;
    }
    if (rows < 1) {
        message = "No School Numbers found";
        return false;
    }
    if (m_schoolYear.IsEmpty()) {
        message = ToQString(LiveYearRefusal());
        Log(LogLevel::Informational, ToXString(message), "ExpEngine::ValidateSchoolNumber");
        return false;
    }
    message.clear();
    return true;
}

bool ExpEngine::LoadSchoolList(const ParamMap& parameters, EntryList& entries, QString& message)
{
    if (!CheckRequired(parameters, kLoginKeys, message))
        return false;
    // Every school with a live row, each by its own live year: during a year
    // rollover the schools of a district are live in different years, and
    // the list must not depend on which school the caller has chosen. The
    // lookup over all schools only decides between School and Schools.
    m_schoolNumber.Clear();
    GetLiveSchoolYear(ToXString(parameters.value("dsn")), ToXString(parameters.value("user")),
                      ToXString(parameters.value("pwd")), false);
    m_schoolNumber = ToXString(parameters.value("school"));
    auto fail = [&](const QString& cause) {
        SetDistinct(false);
        message = cause;
        Log(LogLevel::Informational, XString("School List Failed: ") + ToXString(cause), "ExpEngine::LoadSchoolList");
        Sink().Warning("school", "School List Failed.");
        return false;
    };
    if (m_schoolYearUnreadable)
        return fail(ToQString(m_schoolYearError));
    try {
        Log(LogLevel::Progress, "Loading School List", "ExpEngine::LoadSchoolList");
        entries.clear();
        ConnectWith(parameters);
        ClearQuery();
        ODBCTable* schools = AddTable(SchoolTableName(m_pluralSchoolTable), "SCH", true);
        ODBCField* number = AddQueryField(schools, "_DistBldg", true);
        ODBCField* name = AddQueryField(schools, "SchoolName", true);
        ODBCField* yearField = AddQueryField(schools, "_Year", true);
        ODBCField* isLive = AddQueryField(schools, "IsLive", false);
        if (isLive)
            AddCondition(isLive, "=", "'Y'");
        // Each school's rows together, its live (or, without IsLive, its
        // highest) year last: that row names the school.
        AddOrder(number, false);
        AddOrder(yearField, false);
        SetDistinct(true);

        bool any = false;
        if (OpenCurrentQuery()) {
            for (bool more = GetFirstRecord(); more; more = GetNextRecord()) {
                if (!any)
                    Log(LogLevel::Progress, "Found Schools...", "ExpEngine::LoadSchoolList");
                any = true;
                const QString key = ToQString(GetText(number));
                if (key.isEmpty())
                    continue;
                if (!entries.isEmpty() && entries.last().first == key)
                    entries.last().second = ToQString(GetText(name));
                else
                    entries.append({key, ToQString(GetText(name))});
            }
        }
        CloseQuery();
        SetDistinct(false);
        if (!any) {
            message = "School List Returned 0 Schools.";
            Log(LogLevel::Error, ToXString(message), "ExpEngine::LoadSchoolList");
            return false;
        }
        message = "School Found";
        return true;
    } catch (std::exception& error) {
        return fail(ToQString(ErrorCause(error)));
    }
}

bool ExpEngine::LoadBridgeList(const QString& paramKey, const ParamMap& parameters,
                               EntryList& entries, QString& message)
{
    Log(LogLevel::Informational, "Loading list of teachers...", "ExpEngine::LoadBridgeList");
    if (paramKey != "teacher") {
        message = "This bridge is not set up for this type of paramkey:  " + paramKey;
        Log(LogLevel::Warning, ToXString(message), "ExpEngine::LoadBridgeList");
        return false;
    }
    if (!CheckRequired(parameters, kLoginKeys + QStringList{"school"}, message))
        return false;
    try {
        const XString year = ReadSchoolAndLiveYear(parameters);

        ConnectWith(parameters);
        Log(LogLevel::Progress, "Loading Teacher List", "ExpEngine::LoadBridgeList");
        entries.clear();
        ClearQuery();
        SetDistinct(true);
        ODBCTable* staff = nullptr;
        try {
            staff = AddTable("Staff", "STF", true);
        } catch (XException&) {
            SetDistinct(false);
            message = "Bridge List Failed, cannot find Staff table";
            Log(LogLevel::Informational, ToXString(message), "ExpEngine::LoadBridgeList");
            Sink().Warning("teacher", message);
            return false;
        }
        ODBCField* staffId = AddQueryField(staff, "StaffID", true);
        ODBCField* last = AddQueryField(staff, "LastName", true);
        ODBCField* first = AddQueryField(staff, "FirstName", true);
        ODBCField* middle = AddQueryField(staff, "MiddleName", true);
        ODBCField* order1 = AddFunctionField("case", last, "when '' then 1 else 0 end", "order1");
        AddOrder(order1, false);
        AddOrder(last, false);
        AddOrder(first, false);
        AddOrder(middle, false);
        AddOrder(staffId, false);
        ODBCField* building = AddQueryField(staff, "_DistBldg", true);
        ODBCField* yearField = AddQueryField(staff, "_Year", true);
        AddCondition(building, "=", QuoteText(m_schoolNumber));
        AddCondition(yearField, "=", QuoteText(year));

        bool any = false;
        if (OpenCurrentQuery()) {
            for (bool more = GetFirstRecord(); more; more = GetNextRecord()) {
                if (!any)
                    Log(LogLevel::Progress, "Found Teachers...", "ExpEngine::LoadBridgeList");
                any = true;
                const XString key = GetText(staffId);
                if (key.IsEmpty())
                    continue;
                const XString given = JoinNonEmpty(GetText(first), GetText(middle), " ");
                entries.append({ToQString(key), ToQString(JoinNonEmpty(GetText(last), given, ", "))});
            }
        }
        CloseQuery();
        EndLookupQuery();
        if (!any) {
            message = "Bridge List Returned 0 Teachers.";
            Log(LogLevel::Informational, ToXString(message), "ExpEngine::LoadBridgeList");
            return false;
        }
        message = "Bridge List Succeeded";
        return true;
    } catch (std::exception& error) {
        EndLookupQuery();
        // The cause is the caller's only clue: no command but "run" keeps a log.
        message = QString("Bridge List Failed: ") + ToQString(ErrorCause(error));
        Log(LogLevel::Informational, ToXString(message), "ExpEngine::LoadBridgeList");
        Sink().Warning("teacher", message);
        return false;
    }
}

bool ExpEngine::LoadSchoolDistrictList(const ParamMap&, EntryList&, QString& message)
{
    message = "LoadSchoolDistrictList undefined.";
    return false;
}

bool ExpEngine::LoadSchoolYearList(const ParamMap&, EntryList&, QString& message)
{
    message = "LoadSchoolYearList undefined.";
    return false;
}
