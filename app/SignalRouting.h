// The one wiring of the protocol signals. The application object and the
// task declare the same write... signals (the task without
// writeSettingIncrementGrouping); each goes to the message writer's out...
// slot of the same name and writeLog to the log manager. Components only
// emit; no one else connects these signals.
#pragma once

#include "app/SISMessageWriter.h"
#include "log/LogManager.h"

#include <QObject>

// Which signals a source's connections carry.
enum class SignalRouting {
    Application,  // every signal
    Task,         // without tree, hidden, status and manage, which have no use in a run
};

// Connects the signals of `source` for `routing`; a missing writer or log
// manager gets no connections.
template <SignalRouting routing, class Source>
void ConnectToWriterAndLog(Source *source, SISMessageWriter *writer, LogManager *logManager)
{
    if (!source)
        return;
    if (logManager)
        QObject::connect(source, &Source::writeLog, logManager, &LogManager::log);
    if (!writer)
        return;
    using W = SISMessageWriter;
    QObject::connect(source, &Source::writeVersion, writer, &W::outVersion);
    QObject::connect(source, &Source::writeParams, writer, &W::outParams);
    QObject::connect(source, &Source::writeHiddenParam, writer, &W::outHiddenParam);
    QObject::connect(source, &Source::writeList, writer, &W::outList);
    QObject::connect(source, &Source::writeFile, writer, &W::outFile);
    QObject::connect(source, &Source::writeNumber, writer, &W::outNumber);
    QObject::connect(source, &Source::writeDate, writer, &W::outDate);
    QObject::connect(source, &Source::writeTest, writer, &W::outTest);
    QObject::connect(source, &Source::writeProgress, writer, &W::outProgress);
    QObject::connect(source, &Source::writeProgressIncrement, writer, &W::outProgress_increment);
    QObject::connect(source, &Source::writeProgressWarning, writer, &W::outProgress_warning);
    QObject::connect(source, &Source::writeSetting, writer, &W::outSetting);
    QObject::connect(source, &Source::writeSettingIncrement, writer,
                     qOverload<const QString &, const QString &, const QString &, const QString &>(
                         &W::outSetting_increment));
    QObject::connect(source, &Source::writeWarning, writer, &W::outWarning);
    QObject::connect(source, &Source::writeMissing, writer, &W::outMissing);
    QObject::connect(source, &Source::writeError, writer, &W::outError);
    QObject::connect(source, &Source::clearMessages, writer, &W::clearMessages);
    if constexpr (routing == SignalRouting::Application) {
        QObject::connect(source, &Source::writeTree, writer, &W::outTree);
        QObject::connect(source, &Source::writeHidden, writer, &W::outHidden);
        QObject::connect(source, &Source::writeStatus, writer, &W::outStatus);
        QObject::connect(source, &Source::writeManage, writer, &W::outManage);
        QObject::connect(source, &Source::writeSettingIncrementGrouping, writer,
                         qOverload<const QString &, const QString &, const QString &, const QString &,
                                   const QString &>(&W::outSetting_increment));
    }
}
