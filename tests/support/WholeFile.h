// Reading a file whole, for tests that compare what a run wrote.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <string>

// The file's bytes; empty when it is missing or unreadable (a test that must
// tell the two apart checks QFile::exists first).
inline QByteArray ReadWholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QByteArray ReadWholeFile(const std::string& path)
{
    return ReadWholeFile(QString::fromStdString(path));
}
