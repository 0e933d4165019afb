// Status files: one line each, replaced whole.
#include "app/StatusFiles.h"

#include "util/XFileSystem.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

QString StatusFiles::toOsPath(const QString &path)
{
#ifdef Q_OS_WIN
    return path;
#else
    QString os = path;
    os.replace(u'\\', u'/');
    return os;
#endif
}

QString StatusFiles::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
        + QStringLiteral("\\Quillon Software\\Logs");
}

QString StatusFiles::dateTime()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd hh:mm:ss"));
}

QString StatusFiles::filePath(const QString &folder, const QString &name)
{
    const QString dir = toOsPath(folder.isEmpty() ? defaultFolder() : folder);
    QDir().mkpath(dir);
    return QDir(dir).filePath(name);
}

bool StatusFiles::writeTextFile(const QString &folder, const QString &name, const QString &text)
{
    // Replaced whole through a new file: a link planted at the name is
    // replaced, never written through, and the importer never reads half a line.
    const QByteArray bytes = text.toUtf8() + "\r\n";
    const std::string path = filePath(folder, name).toStdString();
    if (XFileSystem::ReplaceFile(path, bytes.toStdString()))
        return true;
    // A folder that takes no new file (read-only) may still hold a writable
    // status file: left alone, it would tell the importer the previous run's
    // outcome, "Succeeded" included, for this one.
    return XFileSystem::OverwriteFile(path, bytes.toStdString());
}

bool StatusFiles::removeTextFile(const QString &folder, const QString &name)
{
    return QFile::remove(filePath(folder, name));
}

bool StatusFiles::textFileContains(const QString &folder, const QString &name)
{
    QFile file(filePath(folder, name));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.readAll().contains("Succeeded");
}

