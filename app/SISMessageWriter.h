// The only writer of protocol lines for the importer: every sink call of the
// application and of the task ends in one of these, which format one
// TAB-separated line on standard output or standard error.
#pragma once

#include <QObject>
#include <QFile>
#include <QString>
#include <QStringList>

class QIODevice;

class SISMessageWriter : public QObject
{
    Q_OBJECT
public:
    // Writes to `output` and `error` (standard output and standard error when null).
    explicit SISMessageWriter(QIODevice *output = nullptr, QIODevice *error = nullptr,
                              QObject *parent = nullptr);


public slots:
    void outVersion(const QString &alias, const QString &version, const QString &minversion,
                    const QString &vname, const QString &guide);
    void outParams(const QString &paramkey, const QString &type, const QString &paramname,
                   const QString &help, const QString &defaultValue);
    void outHiddenParam(const QString &paramkey, const QString &paramvalue, const QString &defaultValue);
    void outList(const QString &type, const QString &paramvalue, const QString &displaykey,
                 const QString &displayname, const QString &defaultValue);
    void outTree(const QString &paramvalue, const QString &displaykey, const QString &parentkey,
                 const QString &displayname, const QString &defaultValue);
    void outHidden(const QString &a, const QString &b, const QString &c, const QString &d,
                   const QString &e);
    void outFile(const QString &paramkey, const QString &extension, const QString &defaultValue);
    void outNumber(const QString &a, const QString &b, const QString &c);
    void outDate(const QString &paramkey, const QString &startdate, const QString &enddate,
                 const QString &defaultValue);
    void outTest(const QString &success, const QString &group, const QString &message);
    void outStatus(const QString &success, const QString &date, const QString &message);
    void outManage(const QString &success, const QString &message);
    void outProgress(const QString &progress_type, int progress_total);
    void outProgress_increment(const QString &progress_message);
    void outProgress_warning(const QString &progress_message);
    void outSetting(const QString &setting_type, int setting_total);
    void outSetting_increment(const QString &setting_type, const QString &group, const QString &key,
                              const QString &value);
    void outSetting_increment(const QString &setting_type, const QString &group, const QString &key,
                              const QString &value, const QString &grouping);
    void outWarning(const QString &key, const QString &message);
    void outMissing(const QString &paramkey, const QString &message);
    void outError(const QString &key, const QString &message);
    void clearMessages();

private:
    void writeOutput(const QStringList &fields);
    void writeError(const QStringList &fields);
    void flushPending();
    static QByteArray formatLine(const QStringList &fields);

    QIODevice *m_output = nullptr;
    QIODevice *m_error = nullptr;
    QFile m_stdout;
    QFile m_stderr;
    QStringList m_pending;
};
