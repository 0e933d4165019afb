// The small text files through which the importer learns a command's outcome
// ("<type>Status.tmp", the finished file, "BridgeStatus.tmp"). Each is one
// line ending in CR LF, replaced whole, never written through a link.
#pragma once

#include <QString>

class StatusFiles
{
public:
    // Each takes a folder (program form, backslashes allowed; empty means
    // defaultFolder()) and a file name, and creates the folder when missing.
    static bool writeTextFile(const QString &folder, const QString &name, const QString &text);
    static bool removeTextFile(const QString &folder, const QString &name);
    // Whether the file holds "Succeeded"; false when it cannot be read.
    static bool textFileContains(const QString &folder, const QString &name);

    // Where status files go when no folder is given.
    static QString defaultFolder();
    // "yyyy/MM/dd hh:mm:ss" local time, as status files carry it.
    static QString dateTime();
    // A program path (backslash form) as the file system wants it.
    static QString toOsPath(const QString &path);

private:
    static QString filePath(const QString &folder, const QString &name);
};
