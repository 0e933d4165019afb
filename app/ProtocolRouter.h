// The one road from a sink's calls to the protocol lines and the log: each
// call goes to the message writer's line of the same kind, log records to
// the log manager. The application object and the task it runs each get one.
#pragma once

#include "app/SISMessageWriter.h"
#include "log/LogManager.h"
#include "log/ProtocolSink.h"

class ProtocolRouter final : public ProtocolSink
{
public:
    // Which calls reach the writer.
    enum class Routing {
        Application,  // every call
        Task,         // without tree, hidden, status and manage lines, which have no use in a run
    };

    // A missing writer or log manager drops what would go to it.
    ProtocolRouter(SISMessageWriter* writer, LogManager* logManager, Routing routing)
        : m_writer(writer), m_log(logManager), m_routing(routing)
    {
    }

    void Log(LogLevel::Level level, const QString& message, const QString& method) override
    {
        if (m_log)
            m_log->log(level, message, method);
    }
    void Version(const QString& alias, const QString& version, const QString& minversion, const QString& vname,
                 const QString& guide) override
    {
        if (m_writer)
            m_writer->outVersion(alias, version, minversion, vname, guide);
    }
    void Param(const QString& paramkey, const QString& type, const QString& paramname, const QString& help,
               const QString& defaultValue) override
    {
        if (m_writer)
            m_writer->outParams(paramkey, type, paramname, help, defaultValue);
    }
    void HiddenParam(const QString& paramkey, const QString& paramvalue, const QString& defaultValue) override
    {
        if (m_writer)
            m_writer->outHiddenParam(paramkey, paramvalue, defaultValue);
    }
    void ListEntry(const QString& type, const QString& paramkey, const QString& displaykey,
                   const QString& displayname, const QString& defaultValue) override
    {
        if (m_writer)
            m_writer->outList(type, paramkey, displaykey, displayname, defaultValue);
    }
    void TreeEntry(const QString& paramkey, const QString& displaykey, const QString& parentkey,
                   const QString& displayname, const QString& defaultValue) override
    {
        if (Application())
            m_writer->outTree(paramkey, displaykey, parentkey, displayname, defaultValue);
    }
    void Hidden(const QString& a, const QString& b, const QString& c, const QString& d, const QString& e) override
    {
        if (Application())
            m_writer->outHidden(a, b, c, d, e);
    }
    void FileType(const QString& paramkey, const QString& extension, const QString& defaultValue) override
    {
        if (m_writer)
            m_writer->outFile(paramkey, extension, defaultValue);
    }
    void Number(const QString& a, const QString& b, const QString& c) override
    {
        if (m_writer)
            m_writer->outNumber(a, b, c);
    }
    void DateRange(const QString& paramkey, const QString& startdate, const QString& enddate,
                   const QString& defaultValue) override
    {
        if (m_writer)
            m_writer->outDate(paramkey, startdate, enddate, defaultValue);
    }
    void TestResult(const QString& success, const QString& group, const QString& message) override
    {
        if (m_writer)
            m_writer->outTest(success, group, message);
    }
    void Status(const QString& success, const QString& date, const QString& message) override
    {
        if (Application())
            m_writer->outStatus(success, date, message);
    }
    void Manage(const QString& success, const QString& message) override
    {
        if (Application())
            m_writer->outManage(success, message);
    }
    void Progress(const QString& type, int total) override
    {
        if (m_writer)
            m_writer->outProgress(type, total);
    }
    void ProgressStep(const QString& message) override
    {
        if (m_writer)
            m_writer->outProgress_increment(message);
    }
    void ProgressWarning(const QString& message) override
    {
        if (m_writer)
            m_writer->outProgress_warning(message);
    }
    void Setting(const QString& type, int total) override
    {
        if (m_writer)
            m_writer->outSetting(type, total);
    }
    void SettingEntry(const QString& type, const QString& group, const QString& key, const QString& value) override
    {
        if (m_writer)
            m_writer->outSetting_increment(type, group, key, value);
    }
    void SettingEntry(const QString& type, const QString& group, const QString& key, const QString& value,
                      const QString& grouping) override
    {
        if (Application())
            m_writer->outSetting_increment(type, group, key, value, grouping);
    }
    void Warning(const QString& key, const QString& message) override
    {
        if (m_writer)
            m_writer->outWarning(key, message);
    }
    void Missing(const QString& paramkey, const QString& message) override
    {
        if (m_writer)
            m_writer->outMissing(paramkey, message);
    }
    void Error(const QString& key, const QString& message) override
    {
        if (m_writer)
            m_writer->outError(key, message);
    }
    void ClearMessages() override
    {
        if (m_writer)
            m_writer->clearMessages();
    }

private:
    bool Application() const { return m_writer && m_routing == Routing::Application; }

    SISMessageWriter* m_writer;
    LogManager* m_log;
    Routing m_routing;
};
