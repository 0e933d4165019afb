// An export folder as tests compare it: every table file and the import
// header file as lines, the header file without its clock (when it was
// generated, how long each table took); and two exports compared as the
// importer reads them.
#pragma once

#include "tests/support/WholeFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <vector>

using ExportFiles = std::map<std::string, std::vector<std::string>>;

inline ExportFiles ReadExport(const QString& folder)
{
    // The hour has no leading zero ("0:05:17"), so one or two digits.
    static const QRegularExpression clock(QStringLiteral("[A-Z][a-z]{2} \\d\\d?, \\d{4} \\d\\d?:\\d\\d:\\d\\d|"
                                                        "\\b\\d\\d?:\\d\\d:\\d\\d\\b"));
    ExportFiles files;
    for (const QString& name : QDir(folder).entryList({"*.pef", "*.PDE"}, QDir::Files)) {
        std::vector<std::string> lines;
        for (const QByteArray& line : ReadWholeFile(folder + "/" + name).split('\n')) {
            QString text = QString::fromLatin1(line);
            if (name == QLatin1String("MORV.PDE"))
                text.replace(clock, QStringLiteral("<time>"));
            lines.push_back(text.toLatin1().toStdString());
        }
        files[name.toStdString()] = lines;
    }
    return files;
}

// Expects `actual` to hold the files of `expected`: the header file line
// for line, each table file's lines as a set, since the importer does not
// rely on their order (tables read with DISTINCT and no ORDER BY come back
// in whatever order a server finds their rows).
inline void ExpectSameExport(const ExportFiles& expected, const ExportFiles& actual)
{
    std::vector<std::string> names, otherNames;
    for (const auto& [name, lines] : expected)
        names.push_back(name);
    for (const auto& [name, lines] : actual)
        otherNames.push_back(name);
    EXPECT_EQ(otherNames, names);
    for (const auto& [name, lines] : expected) {
        SCOPED_TRACE(name);
        if (!actual.count(name))
            continue;
        std::vector<std::string> want = lines, got = actual.at(name);
        if (name == "MORV.PDE") {
            EXPECT_EQ(got, want);
        }
        std::sort(want.begin(), want.end());
        std::sort(got.begin(), got.end());
        std::vector<std::string> onlyExpected, onlyActual;
        std::set_difference(want.begin(), want.end(), got.begin(), got.end(), std::back_inserter(onlyExpected));
        std::set_difference(got.begin(), got.end(), want.begin(), want.end(), std::back_inserter(onlyActual));
        EXPECT_EQ(onlyActual, onlyExpected);
    }
}
