// The last-resort answer when the application object cannot be built or a
// command escapes with an exception: the importer still gets an error line, a
// closed progress frame, "Failed" status files and exit status 1.
#pragma once

#include <QString>
#include <QStringList>

namespace StartupFailure {

// The export folder named by the last --path option, quotes turned back into
// the backslash a quoted Windows argument loses; empty when none is given.
QString pathFromArguments(const QStringList &arguments);

// Writes the error and progress lines and the status files; returns 1.
int report(const QStringList &arguments, const QString &reason, const QString &statusFileName,
           const QString &finishedFileName);

} // namespace StartupFailure
