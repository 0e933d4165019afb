// The root of the task chain: the signals through which a task talks to the
// importer and the log, and the virtual operations every task offers.
// The driver connects these signals to the message writer and the log
// manager; a task never writes protocol lines itself.
#pragma once

#include <QMap>
#include <QObject>
#include <QString>

#include "export/RunFlags.h"
#include "log/LogLevel.h"

// The run's parameters: parameter key to value. A key never set reads as empty.
using ParamMap = QMap<QString, QString>;

class AppTaskBase : public QObject
{
    Q_OBJECT

public:
    explicit AppTaskBase(QObject* parent = nullptr);
    ~AppTaskBase() override;

    // Number of progress steps of a run with these flags; 0 for a plain task.
    virtual int GetProgressSize(RunFlags flags);

    // The run itself. Returns true on success; on failure `errorText` says why.
    // A plain task has no run and fails with its own text.
    virtual bool Execute(ParamMap parameters, RunFlags flags, QString& errorText);

    // Fills a pick list; no task of this kind has lists, so it logs and fails.
    virtual bool LoadList(const QString& listType, const QString& paramKey,
                          const QString& parentKey, const QString& extra);

    // A fresh plain task with the same parent.
    virtual AppTaskBase* NewTask();

signals:
    void writeLog(LogLevel::Level loglevel, const QString& message, const QString& method);
    void writeVersion(const QString& alias, const QString& version, const QString& minversion,
                      const QString& vname, const QString& guide);
    void writeParams(const QString& paramkey, const QString& type, const QString& paramname,
                     const QString& help, const QString& defaultValue);
    void writeHiddenParam(const QString& paramkey, const QString& paramvalue,
                          const QString& defaultValue);
    void writeList(const QString& type, const QString& paramkey, const QString& displaykey,
                   const QString& displayname, const QString& defaultValue);
    void writeTree(const QString& paramkey, const QString& displaykey, const QString& parentkey,
                   const QString& displayname, const QString& defaultValue);
    void writeHidden(const QString& text1, const QString& text2, const QString& text3,
                     const QString& text4, const QString& text5);
    void writeFile(const QString& paramkey, const QString& extension, const QString& defaultValue);
    void writeNumber(const QString& text1, const QString& text2, const QString& text3);
    void writeDate(const QString& paramkey, const QString& startdate, const QString& enddate,
                   const QString& defaultValue);
    void writeTest(const QString& success, const QString& group, const QString& message);
    void writeStatus(const QString& success, const QString& date, const QString& message);
    void writeManage(const QString& success, const QString& message);
    void writeProgress(const QString& progress_type, int progress_total = -1);
    void writeProgressIncrement(const QString& progress_message = QString());
    void writeProgressWarning(const QString& progress_message = QString());
    void writeSetting(const QString& setting_type, int setting_total = -1);
    void writeSettingIncrement(const QString& setting_type, const QString& group,
                               const QString& key, const QString& value);
    void writeWarning(const QString& key, const QString& message);
    void writeMissing(const QString& paramkey, const QString& message);
    void writeError(const QString& key, const QString& message);
    void clearMessages();
};
