// Runs the built bridge as the importer does, through the shared child-process
// runner: one child per command, with its own home folder so fallback folders
// never touch the real one.
#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/WholeFile.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <ostream>
#include <string>
#include <vector>

struct BridgeResult
{
    int exitCode = -1;
    QStringList out; // standard output lines, clock times replaced by "TIME"
    QString err;     // standard error as written
};

// Readable failures: a QString (and so a QStringList) is shown as its text,
// not as a dump of its bytes.
inline void PrintTo(const QString &text, std::ostream *os) { *os << '"' << text.toStdString() << '"'; }

inline QString bridgeProgram() { return QStringLiteral(MORV_BINARY_DIR "/app/morvbridge"); }

// `environment` holds extra "NAME=value" pairs, e.g. a test ODBC source's.
// `withFilePermissions`: file modes bind the bridge even when the tests run
// as root, where that can be arranged (see CanRunWithFilePermissions).
// `workingFolder`: the child's current folder (this process's when empty).
inline BridgeResult runBridge(const QStringList &arguments, const QString &home,
                              const QStringList &environment = {}, bool withFilePermissions = false,
                              const QString &workingFolder = QString())
{
    std::vector<std::string> args;
    for (const QString &argument : arguments)
        args.push_back(argument.toStdString());
    std::vector<std::string> env;
    for (const QString &pair : environment)
        env.push_back(pair.toStdString());
    env.push_back("HOME=" + home.toStdString());
    env.push_back("XDG_CONFIG_HOME=" + home.toStdString() + "/.config");
    const std::string folder = workingFolder.toStdString();
    const ChildResult child = withFilePermissions && CanRunWithFilePermissions()
                                  ? RunChildProcessWithFilePermissions(bridgeProgram().toStdString(), args, env, folder)
                                  : RunChildProcess(bridgeProgram().toStdString(), args, env, folder);

    BridgeResult result;
    result.exitCode = child.exitCode;
    static const QRegularExpression clock(QStringLiteral("\\t\\d\\d:\\d\\d:\\d\\d\\t"));
    QString out = QString::fromStdString(child.standardOutput);
    out.replace(clock, QStringLiteral("\tTIME\t"));
    result.out = out.split(u'\n', Qt::SkipEmptyParts);
    result.err = QString::fromStdString(child.standardError);
    return result;
}

// Every file below `folder`, with the "proprietary:" records of log files
// decoded, since those hide their text from a plain search.
inline QString everythingIn(const QString &folder)
{
    QString text;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        text += path + u'\n';
        const QByteArray bytes = ReadWholeFile(path);
        text += QString::fromUtf8(bytes);
        for (const QByteArray &line : bytes.split('\n')) {
            if (line.startsWith("proprietary:"))
                text += QString::fromUtf8(QByteArray::fromBase64(line.mid(12).trimmed()));
        }
    }
    return text;
}
