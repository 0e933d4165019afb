// Where a component's words for the importer and the log go: one call per
// kind of protocol line (progress, warnings, errors, lists, settings, test
// answers) and one for log records. The application hands a sink to each
// component it runs; a component never writes protocol lines itself and
// never looks a writer up. Every call does nothing here, so a sink (a test's
// recorder among them) overrides only what it listens to.
#pragma once

#include "log/LogLevel.h"

#include <QString>

class ProtocolSink
{
public:
    ProtocolSink() = default;
    ProtocolSink(const ProtocolSink&) = delete;
    ProtocolSink& operator=(const ProtocolSink&) = delete;
    virtual ~ProtocolSink() = default;

    // One log record: the log manager's console echo and file.
    virtual void Log(LogLevel::Level, const QString& /*message*/, const QString& /*method*/) {}

    // Answers of the "version" and "params" commands.
    virtual void Version(const QString& /*alias*/, const QString& /*version*/, const QString& /*minversion*/,
                         const QString& /*vname*/, const QString& /*guide*/) {}
    virtual void Param(const QString& /*paramkey*/, const QString& /*type*/, const QString& /*paramname*/,
                       const QString& /*help*/, const QString& /*defaultValue*/) {}
    virtual void HiddenParam(const QString& /*paramkey*/, const QString& /*paramvalue*/,
                             const QString& /*defaultValue*/) {}
    virtual void ListEntry(const QString& /*type*/, const QString& /*paramkey*/, const QString& /*displaykey*/,
                           const QString& /*displayname*/, const QString& /*defaultValue*/) {}
    virtual void TreeEntry(const QString& /*paramkey*/, const QString& /*displaykey*/,
                           const QString& /*parentkey*/, const QString& /*displayname*/,
                           const QString& /*defaultValue*/) {}
    virtual void Hidden(const QString&, const QString&, const QString&, const QString&, const QString&) {}
    virtual void FileType(const QString& /*paramkey*/, const QString& /*extension*/,
                          const QString& /*defaultValue*/) {}
    virtual void Number(const QString&, const QString&, const QString&) {}
    virtual void DateRange(const QString& /*paramkey*/, const QString& /*startdate*/, const QString& /*enddate*/,
                           const QString& /*defaultValue*/) {}

    // Answers of "test" and the status and manage lines.
    virtual void TestResult(const QString& /*success*/, const QString& /*group*/, const QString& /*message*/) {}
    virtual void Status(const QString& /*success*/, const QString& /*date*/, const QString& /*message*/) {}
    virtual void Manage(const QString& /*success*/, const QString& /*message*/) {}

    // Progress: "start_progress" with the number of steps, "end_progress",
    // "bridge_complete" (total -1: none); one step; one step's warning.
    virtual void Progress(const QString& /*type*/, int /*total*/ = -1) {}
    virtual void ProgressStep(const QString& /*message*/ = QString()) {}
    virtual void ProgressWarning(const QString& /*message*/ = QString()) {}

    // The settings the "defaults" command sends.
    virtual void Setting(const QString& /*type*/, int /*total*/ = -1) {}
    virtual void SettingEntry(const QString& /*type*/, const QString& /*group*/, const QString& /*key*/,
                              const QString& /*value*/) {}
    virtual void SettingEntry(const QString& /*type*/, const QString& /*group*/, const QString& /*key*/,
                              const QString& /*value*/, const QString& /*grouping*/) {}

    // Problems: a warning, a missing parameter, an error; ClearMessages
    // drops the missing-parameter lines still waiting for one of those.
    virtual void Warning(const QString& /*key*/, const QString& /*message*/) {}
    virtual void Missing(const QString& /*paramkey*/, const QString& /*message*/) {}
    virtual void Error(const QString& /*key*/, const QString& /*message*/) {}
    virtual void ClearMessages() {}
};
