// The run frame of an extraction: parameters, PDE folder, progress total,
// logging with progress, and the guard that turns every failure of a run
// into a failed run with its message and a closed progress.
#include "export/BridgeTaskBase.h"

#include "export/BridgeConfig.h"
#include "export/ExportCommit.h"
#include "util/XException.h"
#include "util/XInterrupt.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace {
const char* const kBeginExecute = "BridgeTaskBase::BeginExecute";
}

BridgeTaskBase::BridgeTaskBase(QObject* parent) : AppTaskBase(parent) {}

BridgeTaskBase::~BridgeTaskBase() = default;

int BridgeTaskBase::GetProgressSize(RunFlags flags)
{
    return CalculateProgressSize(flags, m_setupTotal, m_lutTotal, m_importTotal, m_dailyAttTotal,
                                 m_periodAttTotal, m_pdeFolder);
}

bool BridgeTaskBase::LoadList(const QString&, const QString&, const QString&, const QString&)
{
    Sink().Log(LogLevel::Error, QStringLiteral("Not set up yet."), QStringLiteral("BridgeTaskBase::LoadList"));
    return false;
}

bool BridgeTaskBase::BeginExecute(ParamMap parameters, RunFlags flags, QString& errorText)
{
    // Every step is guarded, not only Execute: a record that cannot be read
    // or a path that does not fit must end as a failed run, never as an
    // exception out of the driver or a progress bar left open.
    try {
        Log(LogLevel::Progress, "Starting Execution...", kBeginExecute);
        m_parameters = parameters;

        // No progress has started yet, so none is ended: the error line is
        // the last thing the run says.
        if (!SetPDEFolder(Parameters().value("path"))) {
            if (errorText.isEmpty())
                errorText = m_pdeFolderError;
            AbandonRun();
            return false;
        }
        // The folder's bytes are UTF-8; the log shows them as the user typed them.
        Sink().Log(LogLevel::Informational, QStringLiteral("PDE Folder is: ") +
                             QString::fromUtf8(m_pdeFolder.GetPath(), m_pdeFolder.GetLength()),
                      QString());
        // A run stopped while it put its files in place left a record of
        // them: finished first, since its temporary files are not leftovers.
        RecoverExportFolder();
        // Temporary files of a run that was killed before it could clean up.
        const int leftovers = ExportCommit::RemoveLeftovers(m_pdeFolder);
        if (leftovers > 0)
            Log(LogLevel::Informational, "Removed " + XString(static_cast<int32_t>(leftovers)) +
                       " temporary file(s) an interrupted run left in the export folder.",
                kBeginExecute);

        m_updateDate = GetUpdateDate(m_pdeFolder);
        m_updateDateTime = GetUpdateDateTime(m_pdeFolder);
        Log(LogLevel::Informational, XString("Update Date is: ") + m_updateDate.Format("MMM DD YYYY"), kBeginExecute);

        m_progressTotal = GetProgressSize(flags);
        Sink().Progress(QStringLiteral("start_progress"), m_progressTotal);
    } catch (const XException& e) {
        return FailRun(e.what(), errorText);
    } catch (const std::exception& e) {
        return FailRun(e.what(), errorText);
    } catch (...) {
        return FailRun("Execute failed for an unkown reason, please consult Quillon support.", errorText);
    }

    return RunGuarded(parameters, flags, errorText);
}

bool BridgeTaskBase::RunGuarded(ParamMap& parameters, RunFlags flags, QString& errorText)
{
    try {
        if (Execute(parameters, flags, errorText))
            return true;
        if (errorText.isEmpty())
            errorText = QStringLiteral("Bridge execution failed, consult logs for more information.");
        return FailRun(ToXString(errorText), errorText);
    } catch (const XException& e) {
        Log(LogLevel::Informational, "Caught Exception", kBeginExecute);
        return FailRun(e.what(), errorText);
    } catch (const std::exception& e) {
        Log(LogLevel::Informational, "Caught Exception", kBeginExecute);
        return FailRun(e.what(), errorText);
    } catch (...) {
        return FailRun("Execute failed for an unkown reason, please consult Quillon support.", errorText);
    }
}

bool BridgeTaskBase::FailRun(const XString& message, QString& errorText)
{
    // The caller reads the error text afterwards; a failure without one
    // would reach the importer as a failed run without a reason.
    if (errorText.isEmpty())
        errorText = ToQString(message);
    try {
        Log(LogLevel::Error, message, kBeginExecute);
        AbandonRun();
    } catch (...) {
        // Clean-up of a failed run must not hide the run's own failure.
    }
    Sink().Progress(QStringLiteral("end_progress"), -1);
    return false;
}

void BridgeTaskBase::AbandonRun() {}

void BridgeTaskBase::RecoverExportFolder() {}

int BridgeTaskBase::CalculateProgressSize(RunFlags flags, int setupTotal, int lutTotal, int importTotal,
                                          int dailyTotal, int periodTotal,
                                          const XFileSpec& pdeFolder)
{
    const QString method = QStringLiteral("BridgeTaskBase::CalculateProgressSize");
    const struct { int value; const char* message; } parts[] = {
        {setupTotal, "Calculating Progress Size: Setup total is 0 or less"},
        {lutTotal, "Calculating Progress Size: LUT total is 0 or less"},
        {importTotal, "Calculating Progress Size: Import total is 0 or less"},
        {dailyTotal, "Calculating Progress Size: Daily Att total is 0 or less"},
        {periodTotal, "Calculating Progress Size: Period Att total is 0 or less"},
    };
    for (const auto& part : parts)
        if (part.value <= 0)
            Sink().Log(LogLevel::Informational, QString::fromLatin1(part.message), method);

    XDate storedUpdate;
    if (RunsUpdateExport(flags))
        storedUpdate = GetUpdateDate(pdeFolder);
    return ProgressSteps(flags, setupTotal, lutTotal, importTotal, dailyTotal, periodTotal,
                         storedUpdate, XDate::Today(), Param("filterdaily") == "true",
                         Param("filterperiod") == "true");
}

int BridgeTaskBase::ProgressSteps(RunFlags flags, int setupTotal, int lutTotal, int importTotal,
                                  int dailyTotal, int periodTotal, const XDate& storedUpdate,
                                  const XDate& today, bool filterDaily, bool filterPeriod)
{
    // The 2 are "Starting Execution..." and "Export complete.".
    int total = setupTotal + lutTotal + 2;
    if (RunsFullExport(flags))
        total += importTotal;
    if (!RunsUpdateExport(flags))
        return total;

    // Attendance is read in windows of about six days from the last update
    // (or from the start of the school year when there was none).
    XDate from = storedUpdate;
    if (from.IsNull()) {
        int year = today.GetYear();
        if (today.GetMonth() < 9)
            --year;
        from = XDate(year, 9, 3);
    }
    int blocks = 1;
    if (from < today)
        blocks = (today.GetDayNumber() - from.GetDayNumber()) / 6;
    if (blocks < 1)
        blocks = 1;

    const int dailySteps = (!filterDaily && dailyTotal > 0) ? blocks * dailyTotal + 1 : 0;
    const int periodSteps = (!filterPeriod && periodTotal > 0) ? blocks * periodTotal + 1 : 0;
    return total + dailySteps + periodSteps;
}

bool BridgeTaskBase::SetPDEFolder(const XString& path)
{
    return SetPDEFolder(ToQString(path));
}

QString BridgeTaskBase::CheckExportFolderLength(const QString& path)
{
    QString native = path;
    native.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString absolute = native.isEmpty() ? QString() : QDir(native).absolutePath();
    // Bytes, as the OS sees them: one accented letter takes two, a CJK one three.
    const qsizetype folderBytes = absolute.toUtf8().size() + 1;
    if (folderBytes + kLongestExportFileName <= static_cast<qsizetype>(XFileSpec::MaxPath))
        return QString();
    return QStringLiteral("The export folder path is too long: %1 (%2 bytes). With the longest export "
                          "file name (%3 bytes) a path must stay within %4 bytes; nothing was written.")
        .arg(absolute)
        .arg(folderBytes)
        .arg(kLongestExportFileName)
        .arg(XFileSpec::MaxPath);
}

void BridgeTaskBase::CheckInterrupt()
{
    if (const int signal = XInterrupt::Pending())
        LogAndThrow(LogLevel::Error, XException(XErrorKind::Interrupted,
                                  (XString("The extraction was interrupted by ") + XInterrupt::SignalName(signal) +
                                   "; the previous export files were left as they were.")
                                      .c_str()));
}

bool BridgeTaskBase::SetPDEFolder(const QString& path)
{
    // The parameter may come in either separator form; the OS wants '/'.
    QString native = path;
    native.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString absolute = native.isEmpty() ? QString() : QDir(native).absolutePath();

    const QString method = QStringLiteral("BridgeTaskBase::SetPDEFolder");
    const QString tooLong = CheckExportFolderLength(absolute);
    if (!tooLong.isEmpty()) {
        Sink().Log(LogLevel::Error, tooLong, method);
        Sink().Error(QStringLiteral("file"), tooLong);
        m_pdeFolderError = tooLong;
        return false;
    }
    std::error_code error;
    if (!absolute.isEmpty())
        std::filesystem::create_directories(absolute.toUtf8().toStdString(), error);
    if (absolute.isEmpty() || !QFileInfo(absolute).isDir()) {
        const QString message = QStringLiteral("Could not create pde folder: ") + absolute;
        Sink().Log(LogLevel::Error, message, method);
        Sink().Error(QStringLiteral("file"), message);
        // The system's reason follows in the log and in the run's failure.
        m_pdeFolderError = message;
        if (error) {
            m_pdeFolderError += QStringLiteral(": ") + QString::fromLocal8Bit(error.message().c_str());
            Sink().Log(LogLevel::Informational, m_pdeFolderError, method);
        }
        return false;
    }
    m_pdeFolderError.clear();

    // UTF-8, like the driver's status files and the log: a folder named
    // with accents or CJK characters is one folder for all of them.
    m_pdeFolder = XFileSpec::FromNativePath(absolute.toUtf8().toStdString());
    m_pdeFolder.EnsureTrailingBackslash();
    return true;
}

void BridgeTaskBase::PutJobText(const XString& text)
{
    CheckInterrupt();
    Sink().ProgressStep(ToQString(text));
    Log(LogLevel::Informational, text, "BridgeTaskBase::PutJobText");
}

void BridgeTaskBase::Log(LogLevel::Level level, const XString& text, const XString& method)
{
    const QString message = ToQString(text);
    if (level == LogLevel::Progress)
        Sink().ProgressStep(message);
    else if (level == LogLevel::ProgressWarning)
        Sink().ProgressWarning(message);
    Sink().Log(level, message, ToQString(method));
}

void BridgeTaskBase::LogAndThrow(LogLevel::Level level, const XString& text)
{
    LogAndThrow(level, XException(text.GetText()));
}

void BridgeTaskBase::LogAndThrow(LogLevel::Level level, const XString& text, const std::exception& cause)
{
    LogAndThrow(level, XException::Rephrase(cause, text.GetText()));
}

void BridgeTaskBase::LogAndThrow(LogLevel::Level level, const XException& failure)
{
    Log(level, failure.what());
    throw failure;
}

XString BridgeTaskBase::Param(const QString& key) const
{
    return ToXString(m_parameters.value(key));
}
