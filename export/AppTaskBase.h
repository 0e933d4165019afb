// The root of the task chain: the sink through which a task talks to the
// importer and the log, and the virtual operations every task offers.
// The driver hands the task a sink that reaches the message writer and the
// log manager; a task never writes protocol lines itself.
#pragma once

#include <QMap>
#include <QObject>
#include <QString>

#include "export/RunFlags.h"
#include "log/LogLevel.h"
#include "log/ProtocolSink.h"

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

    // Where the task's progress, warnings, errors and log records go; a
    // task given none is heard by no one.
    ProtocolSink& Sink() const { return *m_sink; }
    void SetSink(ProtocolSink* sink) { m_sink = sink ? sink : &s_silent; }

private:
    static inline ProtocolSink s_silent;
    ProtocolSink* m_sink = &s_silent;
};
