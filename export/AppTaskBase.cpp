// The plain task: every operation reports that this task has nothing to run.
#include "export/AppTaskBase.h"

AppTaskBase::AppTaskBase(QObject* parent) : QObject(parent) {}

AppTaskBase::~AppTaskBase() = default;

int AppTaskBase::GetProgressSize(RunFlags /*flags*/)
{
    return 0;
}

bool AppTaskBase::Execute(ParamMap /*parameters*/, RunFlags /*flags*/, QString& errorText)
{
    errorText = QStringLiteral("Execute not defined correctly in ExpEngine.");
    return false;
}

bool AppTaskBase::LoadList(const QString&, const QString&, const QString&, const QString&)
{
    Sink().Log(LogLevel::Error, QStringLiteral("Not set up yet."), QStringLiteral("AppTaskBase::LoadList"));
    return false;
}
