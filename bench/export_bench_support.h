// What the export benchmarks share: the school sizes to run, an export
// folder's table files read for comparison, and the statements a bridge's
// run logged, for the sqlite3 shell to run.
#pragma once

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

// MORV_BENCH_STUDENTS=2000,20000 picks the sizes (default `fallback`).
inline std::vector<int> BenchSizes(const char* fallback = "2000,20000,60000")
{
    const char* text = std::getenv("MORV_BENCH_STUDENTS");
    std::vector<int> sizes;
    for (const QString& part : QString(text ? text : fallback).split(',', Qt::SkipEmptyParts)) {
        const int students = part.trimmed().toInt();
        if (students > 0)
            sizes.push_back(students);
    }
    return sizes;
}

// Every .pef file of a folder with its lines sorted: the rows of an export
// without the order a query without ORDER BY happens to deliver them in.
// `lines` (when given) grows by the number of lines read.
inline std::map<QString, QByteArrayList> SortedExport(const QString& folder, long* lines)
{
    std::map<QString, QByteArrayList> files;
    for (const QString& name : QDir(folder).entryList({"*.pef"}, QDir::Files)) {
        QFile file(folder + "/" + name);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QByteArrayList content = file.readAll().split('\n');
        std::sort(content.begin(), content.end());
        if (lines)
            *lines += static_cast<long>(content.size()) - 1;
        files[name] = content;
    }
    return files;
}

// The SELECT texts of a bridge's last run, from its log file, where each
// statement is logged Base64-encoded as "BuildQuery Finished:" + text, as a
// script for the sqlite3 shell (each distinct statement once); only those
// that contain `part` when it is given. Empty when there is none.
inline std::string BridgeStatements(const QString& exportFolder, const char* part = nullptr)
{
    std::string script = ".mode tabs\n";
    QStringList seen;
    for (const QString& name : QDir(exportFolder).entryList({"*.log"}, QDir::Files)) {
        QFile log(exportFolder + "/" + name);
        if (!log.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : log.readAll().split('\n')) {
            const int colon = line.indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray text = QByteArray::fromBase64(line.mid(colon + 1).trimmed());
            const int start = text.indexOf("BuildQuery Finished:");
            if (start < 0 || (part && !text.contains(part)))
                continue;
            QString statement = QString::fromLatin1(text.mid(start + 20));
            // The shell speaks SQLite, which has no table hints.
            statement.replace(" WITH (NOLOCK) ", " ");
            if (!seen.contains(statement)) {
                seen << statement;
                script += statement.toStdString() + ";\n";
            }
        }
    }
    return seen.isEmpty() ? std::string() : script;
}
