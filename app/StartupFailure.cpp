// Start-up failure path: works without the application object, the registry or
// the log manager, since any of them may be what failed.
#include "app/StartupFailure.h"

#include "app/StatusFiles.h"
#include "log/ProtocolField.h"

#include <cstdio>

namespace StartupFailure {

QString pathFromArguments(const QStringList &arguments)
{
    QString path;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument.startsWith(QLatin1String("--path=")))
            path = argument.mid(7);
        else if (argument == QLatin1String("--path") && i + 1 < arguments.size()
                 && !arguments.at(i + 1).startsWith(u'-'))
            path = arguments.at(i + 1);
    }
    path.replace(u'"', u'\\');
    return path;
}

int report(const QStringList &arguments, const QString &reason, const QString &statusFileName,
           const QString &finishedFileName)
{
    const QString message = protocolField(
        QStringLiteral("The bridge could not complete the command: ")
        + (reason.isEmpty() ? QStringLiteral("unexpected error.") : reason));
    const QByteArray error = (QStringLiteral("error\tApp Problem\t") + message + u'\n').toUtf8();
    fwrite(error.constData(), 1, static_cast<size_t>(error.size()), stderr);
    fflush(stderr);
    fputs("start_progress\t0\nend_progress\n", stdout);
    fflush(stdout);

    const QString folder = pathFromArguments(arguments);
    if (!folder.isEmpty()) {
        // Static helpers only: no application object may exist at this point.
        StatusFiles::writeTextFile(folder, statusFileName,
                                   StatusFiles::dateTime() + QStringLiteral("\tFailed\t") + message);
        StatusFiles::writeTextFile(folder, finishedFileName, QStringLiteral("finished"));
    }
    return 1;
}

} // namespace StartupFailure
