// Runs the built bridge as the importer does: one child process per command,
// with its own home folder so fallback folders never touch the real one.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

struct BridgeResult
{
    int exitCode = -1;
    QStringList out; // standard output lines, clock times replaced by "TIME"
    QString err;     // standard error as written
};

inline QString bridgeProgram() { return QStringLiteral(MORV_BINARY_DIR "/app/morvbridge"); }

// `environment` holds extra "NAME=value" pairs, e.g. a test ODBC source's.
inline BridgeResult runBridge(const QStringList &arguments, const QString &home,
                              const QStringList &environment = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &pair : environment)
        env.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    process.setProcessEnvironment(env);
    process.start(bridgeProgram(), arguments);
    process.waitForFinished(30000);

    BridgeResult result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    static const QRegularExpression clock(QStringLiteral("\\t\\d\\d:\\d\\d:\\d\\d\\t"));
    QString out = QString::fromUtf8(process.readAllStandardOutput());
    out.replace(clock, QStringLiteral("\tTIME\t"));
    result.out = out.split(u'\n', Qt::SkipEmptyParts);
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
