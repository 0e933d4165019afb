// A protocol sink for tests: each kind of line goes to the function a test
// sets for it; a kind without one is dropped.
#pragma once

#include "log/ProtocolSink.h"

#include <functional>

struct CallbackSink : ProtocolSink
{
    using Pair = std::function<void(const QString&, const QString&)>;

    std::function<void(LogLevel::Level, const QString&, const QString&)> onLog;
    std::function<void(const QString&, int)> onProgress;
    std::function<void(const QString&)> onStep;
    std::function<void(const QString&)> onStepWarning;
    Pair onWarning;
    Pair onMissing;
    Pair onError;
    std::function<void(const QString&, const QString&, const QString&)> onTest;
    std::function<void(const QString&, const QString&, const QString&, const QString&, const QString&)> onList;

    void Log(LogLevel::Level level, const QString& message, const QString& method) override
    {
        if (onLog)
            onLog(level, message, method);
    }
    void Progress(const QString& type, int total) override
    {
        if (onProgress)
            onProgress(type, total);
    }
    void ProgressStep(const QString& message) override
    {
        if (onStep)
            onStep(message);
    }
    void ProgressWarning(const QString& message) override
    {
        if (onStepWarning)
            onStepWarning(message);
    }
    void Warning(const QString& key, const QString& message) override
    {
        if (onWarning)
            onWarning(key, message);
    }
    void Missing(const QString& key, const QString& message) override
    {
        if (onMissing)
            onMissing(key, message);
    }
    void Error(const QString& key, const QString& message) override
    {
        if (onError)
            onError(key, message);
    }
    void TestResult(const QString& success, const QString& group, const QString& message) override
    {
        if (onTest)
            onTest(success, group, message);
    }
    void ListEntry(const QString& type, const QString& key, const QString& displayKey, const QString& displayName,
                   const QString& defaultValue) override
    {
        if (onList)
            onList(type, key, displayKey, displayName, defaultValue);
    }
};
