// What the export benchmarks share: the school sizes to run, one school at a
// time, an export folder's table files read for comparison, and the
// statements a bridge's run logged, for the sqlite3 shell to run.
#pragma once

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
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

// The benchmark's school of `students`, made on first use: one school at a
// time, on disk and in the page cache, as the benchmarks run size by size
// (the previous one is removed before the next is made).
template <class School>
School& OneSchoolAtATime(int students)
{
    static std::unique_ptr<School> school;
    static int made = 0;
    if (!school || made != students) {
        school.reset();
        school = std::make_unique<School>(students);
        made = students;
    }
    return *school;
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

// A script of every distinct statement among `logLines` (decoded log
// lines) logged as "BuildQuery Finished:" + text, each once after `script`
// (the shell's settings), with SQL Server's table hints dropped: neither the
// sqlite3 shell nor PostgreSQL speaks them. Only the statements that contain
// `part` when it is given. Empty when there is none.
inline std::string StatementScript(const std::vector<QByteArray>& logLines, std::string script,
                                   const char* part = nullptr)
{
    QStringList seen;
    for (const QByteArray& line : logLines) {
        const int start = line.indexOf("BuildQuery Finished:");
        if (start < 0 || (part && !line.contains(part)))
            continue;
        // The log holds the bridge's code-page bytes.
        QString statement = QString::fromLatin1(line.mid(start + 20));
        statement.replace(" WITH (NOLOCK) ", " ");
        if (!seen.contains(statement)) {
            seen << statement;
            script += statement.toStdString() + ";\n";
        }
    }
    return seen.isEmpty() ? std::string() : script;
}

// The SELECT texts a bridge logged in `exportFolder`, where each statement
// is logged Base64-encoded, as a script for the sqlite3 shell (see
// StatementScript).
inline std::string BridgeStatements(const QString& exportFolder, const char* part = nullptr)
{
    std::vector<QByteArray> texts;
    for (const QString& name : QDir(exportFolder).entryList({"*.log"}, QDir::Files)) {
        QFile log(exportFolder + "/" + name);
        if (!log.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : log.readAll().split('\n')) {
            const int colon = line.indexOf(':');
            if (colon >= 0)
                texts.push_back(QByteArray::fromBase64(line.mid(colon + 1).trimmed()));
        }
    }
    return StatementScript(texts, ".mode tabs\n", part);
}
