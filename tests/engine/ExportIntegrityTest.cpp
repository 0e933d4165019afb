// What a run leaves in the export folder when it fails: a failure at any step
// (a file created, written or renamed, a previous file kept aside, a retired
// file removed, a query, an interrupt) leaves the previous export set byte for
// byte and no temporary file; a run that succeeds replaces the whole set and
// retires the table files it no longer writes.
#include "demo/DemoDatabase.h"
#include "demo/DemoGenerator.h"
#include "demo/DemoOptions.h"
#include "tests/engine/EngineTestSchool.h"
#include "tests/support/FailingFileSystem.h"
#include "tests/support/TestOdbcSource.h"
#include "tests/support/WholeFile.h"
#include "util/XInterrupt.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using Snapshot = std::map<std::string, QByteArray>;

Snapshot Take(const QString& folder)
{
    Snapshot files;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        files[name.toStdString()] = ReadWholeFile(folder + "/" + name);
    return files;
}

// The names of the files that differ between two snapshots; empty when equal.
std::string Differences(const Snapshot& a, const Snapshot& b)
{
    std::string names;
    for (const auto& [name, bytes] : a)
        if (!b.count(name) || b.at(name) != bytes)
            names += name + " ";
    for (const auto& [name, bytes] : b)
        if (!a.count(name))
            names += name + "(gone) ";
    return names;
}

class ExportIntegrity : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_database = m_source.Folder() + "/demo.db";
        demo::DemoOptions options;
        options.students = 20;
        demo::DemoGenerator::WriteFile(m_database, options);
        m_source.AddDsn(kSchoolDsn, m_database);
    }

    // One whole full export into `folder`; false with `error` when it failed.
    bool Run(const QString& folder, bool filterStaff, QString* error = nullptr)
    {
        ParamMap parameters = RunParameters(demo::school::kMainBuilding);
        parameters["path"] = folder;
        parameters["filterstaff"] = filterStaff ? "true" : "false";
        // The plain engine: the test engine puts files in place early.
        ExpEngine engine;
        QString text;
        const bool ok = engine.BeginExecute(parameters, RunFlags::Full, text);
        if (error)
            *error = text;
        return ok;
    }

    void Exec(const std::string& sql) const
    {
        demo::DemoDatabase db(m_database);
        db.Execute(sql);
    }

    TestOdbcSource m_source{"MorvIntegrityScratch"};
    std::string m_database;
};

TEST_F(ExportIntegrity, AFailureAtAnyStepLeavesThePreviousSet)
{
    struct Case {
        FailingFileSystem::Kind kind;
        const char* step;
    };
    const Case cases[] = {
        {FailingFileSystem::OpenCall, "creating or opening a file"},
        {FailingFileSystem::WriteCall, "writing a file (disk full)"},
        {FailingFileSystem::LinkCall, "keeping a previous file aside"},
        {FailingFileSystem::RenameCall, "putting a file in place"},
        {FailingFileSystem::UnlinkCall, "removing a retired table file"},
        {FailingFileSystem::FlushCall, "flushing a file or the folder to the disk"},
    };
    // The second run differs in every way a run can: new rows, fewer tables.
    const std::string change = "UPDATE StudentDemographic SET LastName = 'Changed';";
    for (const Case& c : cases) {
        QTemporaryDir folder;
        ASSERT_TRUE(Run(folder.path(), false));
        const Snapshot previous = Take(folder.path());
        ASSERT_EQ(previous.count("Teachers.pef"), 1u);
        Exec(change);

        for (int nth = 1;; ++nth) {
            SCOPED_TRACE(std::string(c.step) + " #" + std::to_string(nth));
            FailingFileSystem fs(c.kind, nth, ENOSPC);
            QString error;
            bool ok = false;
            {
                XFileSystem::Scope scope(fs);
                ok = Run(folder.path(), true, &error);
            }
            if (!fs.Failed()) {
                ASSERT_TRUE(ok) << error.toStdString();
                const Snapshot after = Take(folder.path());
                EXPECT_NE(after.at("Students.pef"), previous.at("Students.pef"));
                EXPECT_EQ(after.count("Teachers.pef") + after.count("Staff.pef"), 0u);
                break;
            }
            EXPECT_FALSE(ok);
            EXPECT_FALSE(error.isEmpty());
            ASSERT_EQ(Differences(Take(folder.path()), previous), "") << error.toStdString();
        }
    }
}

TEST_F(ExportIntegrity, QueryErrorAndInterruptLeaveThePreviousSet)
{
    struct Case {
        const char* name;
        std::function<void(FailingFileSystem&)> arrange;
        const char* sql;
        const char* message;
    };
    const Case cases[] = {
        {"SIGTERM during the run",
         [](FailingFileSystem& fs) { fs.OnCall(FailingFileSystem::WriteCall, 5, [] { std::raise(SIGTERM); }); },
         "", "interrupted by SIGTERM"},
        {"SIGINT between two tables",
         [](FailingFileSystem& fs) { fs.OnCall(FailingFileSystem::OpenCall, 3, [] { std::raise(SIGINT); }); },
         "", "interrupted by SIGINT"},
        {"a table's query fails", [](FailingFileSystem&) {}, "DROP TABLE StudentDemographic;", "StudentDemographic"},
    };
    XInterrupt::Install();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        ASSERT_TRUE(Run(folder.path(), false));
        const Snapshot previous = Take(folder.path());
        if (*c.sql)
            Exec(c.sql);
        FailingFileSystem fs;
        c.arrange(fs);
        QString error;
        bool ok = false;
        {
            XFileSystem::Scope scope(fs);
            ok = Run(folder.path(), true, &error);
        }
        XInterrupt::Clear();
        EXPECT_FALSE(ok);
        EXPECT_TRUE(error.contains(c.message)) << error.toStdString();
        EXPECT_EQ(Differences(Take(folder.path()), previous), "");
    }
}

TEST_F(ExportIntegrity, AFullExportRetiresOnlyTheTableFilesItNoLongerWrites)
{
    QTemporaryDir folder;
    ASSERT_TRUE(Run(folder.path(), false));
    const QString path = folder.path();
    // The school's own codes file and files the bridge never writes stay.
    QFile own(path + "/AttCodes.pef");
    ASSERT_TRUE(own.open(QIODevice::WriteOnly | QIODevice::Truncate));
    own.write("Z\tZoo trip\t0\t0\tY\r\n");
    own.close();
    for (const char* name : {"Notes.txt", "Teachers.pef.bak"}) {
        QFile other(path + "/" + name);
        ASSERT_TRUE(other.open(QIODevice::WriteOnly));
        other.write("not the bridge's");
    }
    // A temporary file a killed run left behind.
    QFile leftover(path + "/Students.pef.Xy12ab.part");
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.close();

    ASSERT_TRUE(Run(path, true));

    const Snapshot after = Take(path);
    EXPECT_EQ(after.count("Teachers.pef"), 0u);
    EXPECT_EQ(after.count("Staff.pef"), 0u);
    EXPECT_EQ(after.count("Students.pef.Xy12ab.part"), 0u);
    EXPECT_EQ(after.at("AttCodes.pef"), QByteArray("Z\tZoo trip\t0\t0\tY\r\n"));
    EXPECT_EQ(after.at("Notes.txt"), QByteArray("not the bridge's"));
    EXPECT_EQ(after.at("Teachers.pef.bak"), QByteArray("not the bridge's"));
    EXPECT_EQ(after.at("MORV.PDE").indexOf("Teachers.pef"), -1);
    EXPECT_NE(after.at("MORV.PDE").indexOf("\"AttCodes.pef\""), -1);
}


// A full export after an optional source went away removes the old files of
// that source's tables, whichever source it was; the other tables' files stay.
TEST_F(ExportIntegrity, AFullExportRetiresTheFilesOfAnOptionalSourceThatWentAway)
{
    const struct
    {
        const char* name;
        const char* drop;
        std::vector<std::string> files;
    } cases[] = {
        {"locker view", "DROP VIEW StudentLocker_cy;", {"StudentLockers.pef"}},
        {"fee table", "DROP TABLE StudentFees;", {"StudentFees.pef", "StuFeesPay.pef"}},
        {"discipline table", "DROP TABLE StudentDiscipline;", {"ConductIncident.pef", "ConductOutcome.pef"}},
        {"discipline's student numbers", "ALTER TABLE StudentDiscipline DROP COLUMN StudentNumber;",
         {"ConductIncident.pef", "ConductOutcome.pef"}},
        {"alert table", "DROP TABLE StudentAlert;", {"StudentNotes.pef"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(QString::fromStdString(m_database));
        demo::DemoOptions options;
        options.students = 20;
        demo::DemoGenerator::WriteFile(m_database, options);
        // A school this small may have no alerts: every active student gets one.
        Exec("INSERT INTO StudentAlert SELECT StudentNumber, _DistBldg, _Year, 'Asthma', 'Y', "
             "'2026-09-01 00:00:00.000', 'Inhaler' FROM StudentDemographic WHERE Status = 'A';");
        QTemporaryDir folder;
        QString error;
        ASSERT_TRUE(Run(folder.path(), true, &error)) << error.toStdString();
        const Snapshot before = Take(folder.path());
        for (const std::string& file : c.files)
            ASSERT_TRUE(before.count(file) && !before.at(file).isEmpty()) << file << " was not written";

        Exec(c.drop);
        ASSERT_TRUE(Run(folder.path(), true, &error)) << error.toStdString();

        const Snapshot after = Take(folder.path());
        for (const std::string& file : c.files) {
            EXPECT_EQ(after.count(file), 0u) << file;
            EXPECT_EQ(after.at("MORV.PDE").indexOf(QByteArray::fromStdString(file)), -1) << file;
        }
        for (const auto& [name, bytes] : before) {
            if (std::find(c.files.begin(), c.files.end(), name) == c.files.end()) {
                EXPECT_EQ(after.count(name), 1u) << name;
            }
        }
    }
}

} // namespace
