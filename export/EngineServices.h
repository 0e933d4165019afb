// What the application asks of an extraction engine: the run, the set-up
// page tests and the pick lists. The driver holds the engine only through
// this interface, so every command reaches the engine by the same road and a
// service an engine lacks is a compile error instead of a silent stub.
#pragma once

#include "export/AppTaskBase.h"

#include <QList>
#include <QPair>
#include <QString>

class EngineServices
{
public:
    using Entry = QPair<QString, QString>; // (key, text)
    using EntryList = QList<Entry>;

    virtual ~EngineServices() = default;

    // One extraction; never throws. On failure `errorText` says why and the
    // progress has been closed.
    virtual bool BeginExecute(ParamMap parameters, RunFlags flags, QString& errorText) = 0;

    // Set-up page services: each catches its own errors and answers false
    // with a message (which may stay empty) when the check or list fails.
    virtual bool ValidateConnection(const ParamMap& parameters, QString& message) = 0;
    virtual bool ValidateSchoolNumber(const ParamMap& parameters, QString& message) = 0;
    virtual bool LoadSchoolList(const ParamMap& parameters, EntryList& entries, QString& message) = 0;
    virtual bool LoadBridgeList(const QString& paramKey, const ParamMap& parameters, EntryList& entries,
                                QString& message) = 0;
    virtual bool LoadSchoolDistrictList(const ParamMap& parameters, EntryList& entries, QString& message) = 0;
    virtual bool LoadSchoolYearList(const ParamMap& parameters, EntryList& entries, QString& message) = 0;
};
