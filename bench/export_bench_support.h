// What the export benchmarks share: the school sizes to run and an export
// folder's table files read for comparison.
#pragma once

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <vector>

// MORV_BENCH_STUDENTS=2000,20000 picks the sizes (default 2000,20000,60000).
inline std::vector<int> BenchSizes()
{
    const char* text = std::getenv("MORV_BENCH_STUDENTS");
    std::vector<int> sizes;
    for (const QString& part : QString(text ? text : "2000,20000,60000").split(',', Qt::SkipEmptyParts)) {
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
