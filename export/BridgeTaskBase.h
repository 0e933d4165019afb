// The base of every extraction task: it takes the run's parameters, creates
// the export (PDE) folder, announces the progress total, turns log calls into
// progress and log signals, and is the outermost guard of a run. It also
// carries the text helpers that the data-access layer, the engine and the
// driver share.
#pragma once

#include "export/AppTaskBase.h"
#include "util/XDate.h"
#include "util/XDateTime.h"
#include "util/XException.h"
#include "util/XFileSpec.h"
#include "util/XString.h"

#include <QString>

#include <exception>

class DelimitedTextWriter;

class BridgeTaskBase : public AppTaskBase
{
    Q_OBJECT

public:
    explicit BridgeTaskBase(QObject* parent = nullptr);
    ~BridgeTaskBase() override;

    // CalculateProgressSize over this task's progress parts and PDE folder.
    int GetProgressSize(RunFlags flags) override;

    // Logs "Not set up yet." and fails: a bridge task has no pick lists here.
    bool LoadList(const QString& listType, const QString& paramKey,
                  const QString& parentKey, const QString& extra) override;

    // Runs one extraction: creates the PDE folder, reads the previous run's
    // update date, announces the progress total and calls Execute. Never
    // throws; returns true when the run succeeded. On failure `errorText`
    // holds the reason and the progress has been closed with "end_progress".
    virtual bool BeginExecute(ParamMap parameters, RunFlags flags, QString& errorText);

    // Number of progress steps of a run.
    // Parts of 0 or less are logged and counted as they are.
    int CalculateProgressSize(RunFlags flags, int setupTotal, int lutTotal, int importTotal,
                              int dailyTotal, int periodTotal, const XFileSpec& pdeFolder);

    // The same count for a stored update date (null when none) and today;
    // the filter flags stand for the parameters "filterdaily"/"filterperiod".
    static int ProgressSteps(RunFlags flags, int setupTotal, int lutTotal, int importTotal,
                             int dailyTotal, int periodTotal, const XDate& storedUpdate,
                             const XDate& today, bool filterDaily, bool filterPeriod);

    // Creates `path` with all missing parents and makes it the PDE folder
    // (absolute, backslash-separated, ending in a backslash). Reports and
    // returns false when the folder cannot be created; m_pdeFolderError then
    // says why.
    bool SetPDEFolder(const XString& path);
    // The same for a path as the user gave it (any characters); the folder
    // is named to the OS in UTF-8, as every other path of the program.
    bool SetPDEFolder(const QString& path);
    bool SetPDEFolder(const char* path) { return SetPDEFolder(XString(path)); }

    // Empty when every file a run writes into the export folder `path` fits
    // the path limit; otherwise the message that names the folder and the
    // limit. Checked before anything is written.
    static QString CheckExportFolderLength(const QString& path);
    // The longest file name a run writes into the export folder, its
    // temporary-file suffix included.
    static constexpr int kLongestExportFileName = 25 + 12;

    // Raises XException when SIGTERM or SIGINT asked the run to stop.
    void CheckInterrupt();

    // One progress step with `text`, also logged at level 7.
    void PutJobText(const XString& text);

    // One log record; Progress also makes a progress step, ProgressWarning
    // a progress warning.
    void Log(LogLevel::Level level, const XString& text, const XString& method = XString());

    // Logs `text` with an empty method and raises it as XException (an
    // internal failure).
    [[noreturn]] void LogAndThrow(LogLevel::Level level, const XString& text);
    // The same for a failure caused by `cause`: the exception raised keeps
    // the cause's kind and numbers (see XException::Rephrase).
    [[noreturn]] void LogAndThrow(LogLevel::Level level, const XString& text, const std::exception& cause);
    // Logs the message of `failure` with an empty method and raises it.
    [[noreturn]] void LogAndThrow(LogLevel::Level level, const XException& failure);

    // The value of a run parameter as 8-bit text; empty when never set.
    XString Param(const QString& key) const;

    const ParamMap& Parameters() const { return m_parameters; }
    const XFileSpec& PDEFolder() const { return m_pdeFolder; }

    const XDate& UpdateDate() const { return m_updateDate; }
    const XDateTime& UpdateDateTime() const { return m_updateDateTime; }
    void SetUpdateDate(const XDate& date) { m_updateDate = date; }
    void SetUpdateDateTime(const XDateTime& dateTime) { m_updateDateTime = dateTime; }

protected:
    // Called on every failed run before BeginExecute returns, so that an
    // unfinished export file never outlives the run. Nothing to do here.
    virtual void AbandonRun();
    // Called once the export folder is known, before the temporary files of
    // an interrupted run are removed or anything else is read or written
    // there: finishes what an interrupted run left to finish. Nothing to do
    // here.
    virtual void RecoverExportFolder();

    ParamMap m_parameters;

    // Progress parts, set by the engine's constructor.
    int m_setupTotal = 0;
    int m_lutTotal = 0;
    int m_importTotal = 0;
    int m_periodAttTotal = 0;
    int m_dailyAttTotal = 0;

    int m_progressTotal = 0;
    XFileSpec m_pdeFolder;
    QString m_pdeFolderError;
    XDate m_updateDate;
    XDateTime m_updateDateTime;

    // The update export's writer while one is open; owned by its creator.
    DelimitedTextWriter* m_updateFile = nullptr;

private:
    bool RunGuarded(ParamMap& parameters, RunFlags flags, QString& errorText);
    bool FailRun(const XString& message, QString& errorText);
};

// Latin-1 bridges between the 8-bit task texts and the application's QString:
// every byte maps to the code point of the same value and back.
QString ToQString(const XString& text);
XString ToXString(const QString& text);

// Phone number as the importer shows it (7, 10 to 14 digits get separators;
// an extension after "ext", "Ext" or "x" is kept as " x" + extension). A
// number that cannot be formatted comes back unchanged and `warning` says so.
XString FormatPhoneNumber(const XString& text, XString& warning);

// "+country area exchange-number xextension", leaving out empty parts.
XString BuildPhoneNumber(const XString& areaCode, const XString& exchange, const XString& number,
                         const XString& extension, const XString& countryCode);

// a + separator + b, or whichever of them is not empty.
XString JoinNonEmpty(const XString& a, const XString& b, const XString& separator);

// A name that is safe as one file name inside a folder: every byte other than
// letters, digits and the punctuation ",-.;=@[]^_" (blank, path separators,
// drive colon and wildcards included) becomes "_", and ".." becomes "__".
XString CleanFileName(const XString& text);
QString CleanFileName(const QString& text);

// A folder path as the user gave it: only bytes that no file system accepts
// in a path (control characters and * ? " < > |) become "_"; separators,
// blanks, parentheses, "&", "~" and 8-bit characters are kept.
XString CleanFolderName(const XString& text);
QString CleanFolderName(const QString& text);
