// The writer's files, byte for byte: table files, the import header file,
// update-file sections, custom fields, and what a failure leaves behind.
#include "MemoryWriter.h"
#include "tests/support/CallbackSink.h"

#include "util/DelimitedTextWriter.h"
#include "util/XDateSpan.h"
#include "export/BridgeConfig.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <stdexcept>

namespace {

using Rows = std::vector<std::vector<std::string>>;

const ParamMap kAppInfo = {
    {"appTitle_", "Test Bridge"}, {"appType_", "Bridge"},  {"appVersion_", "1.2.3"},
    {"appBuildDate_", "Dec 10 2026 12:00:00"}, {"appAlias_", "TB"}, {"appShortName_", "MORV"},
};

class WriterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        Prepare(writer);
    }

    void Prepare(MemoryWriter& w)
    {
        w.m_parameters = kAppInfo;
        ASSERT_TRUE(w.SetPDEFolder(ToXString(dir.path())));
    }

    QString Path(const QString& name) const { return dir.path() + "/" + name; }

    QTemporaryDir dir;
    MemoryWriter writer;
};

// Declares a value-function column for the source column `name`.
void TextColumn(MemoryWriter& w, const char* name, const char* header)
{
    w.AddColumn(ColumnDeclaration(name).From(&w.table).Value(w.BindValue(&MemoryWriter::Text))
                .Header(header));
}

struct TableCase
{
    const char* name;
    std::vector<std::string> schema;
    Rows rows;
    std::function<void(MemoryWriter&)> declare;
    std::function<RowFilter(MemoryWriter&)> filter;
    std::string expectedFile;
    int expectedCount;
    std::string expectedFields;
};

TEST_F(WriterTest, TableFileHoldsOneLinePerAcceptedRow)
{
    auto keepUnlessDrop = [](MemoryWriter& w) -> RowFilter {
        return [&w] { return w.rows[w.row][0].rfind("drop", 0) != 0; };
    };
    const TableCase cases[] = {
        {"empty value keeps its field", {"a", "b", "c"}, {{"A", "", "C"}},
         [](MemoryWriter& w) {
             TextColumn(w, "a", "A");
             TextColumn(w, "b", "B");
             TextColumn(w, "c", "C");
         },
         nullptr, "A\t\tC\r\n", 1, "A\tB\tC"},
        {"query-only column leaves no trace", {"a", "b", "c"}, {{"A", "hidden", "C"}},
         [](MemoryWriter& w) {
             TextColumn(w, "a", "A");
             w.AddColumn(ColumnDeclaration("b").From(&w.table));
             TextColumn(w, "c", "C");
         },
         nullptr, "A\tC\r\n", 1, "A\tC"},
        {"literal column repeats its text", {"a"}, {{"555"}, {"777"}},
         [](MemoryWriter& w) {
             TextColumn(w, "a", "Number");
             w.AddColumn(ColumnDeclaration("phone").Header("ConComValType").Does(ExportColumn::WriteText));
         },
         nullptr, "555\tphone\r\n777\tphone\r\n", 2, "Number\tConComValType"},
        {"line-break column splits a row; rows are counted, not lines", {"a", "b"}, {{"1", "2"}, {"3", "4"}},
         [](MemoryWriter& w) {
             TextColumn(w, "a", "A");
             w.AddColumn(ColumnDeclaration("").Does(ExportColumn::EndLine));
             TextColumn(w, "b", "B");
         },
         nullptr, "1\r\n2\r\n3\r\n4\r\n", 2, "A\tB"},
        {"hook column writes nothing itself", {"a", "b"}, {{"1", "2"}},
         [](MemoryWriter& w) {
             TextColumn(w, "a", "A");
             w.AddColumn(ColumnDeclaration("b").From(&w.table).Does(ExportColumn::FieldHook));
         },
         nullptr, "1\r\n", 1, "A"},
        {"separators inside values become blanks", {"a", "b"}, {{"a\tb", "c\r\nd"}, {"e\nf", "g\rh"}},
         [](MemoryWriter& w) {
             TextColumn(w, "a", "A");
             TextColumn(w, "b", "B");
         },
         nullptr, "a b\tc  d\r\ne f\tg h\r\n", 2, "A\tB"},
        {"8-bit bytes pass unchanged", {"a"}, {{"caf\xe9 \xa7"}},
         [](MemoryWriter& w) { TextColumn(w, "a", "A"); }, nullptr, "caf\xe9 \xa7\r\n", 1, "A"},
        {"row filter leaves rows out", {"a"}, {{"keep"}, {"drop"}, {"keep too"}},
         [](MemoryWriter& w) { TextColumn(w, "a", "A"); }, keepUnlessDrop, "keep\r\nkeep too\r\n", 2, "A"},
        {"filter rejecting every row gives an empty file", {"a"}, {{"drop"}, {"drop 2"}},
         [](MemoryWriter& w) { TextColumn(w, "a", "A"); }, keepUnlessDrop, "", 0, "A"},
        {"no rows gives an empty file", {"a"}, {},
         [](MemoryWriter& w) { TextColumn(w, "a", "A"); }, nullptr, "", 0, "A"},
        {"header suffix is part of the name", {"a"}, {{"1"}},
         [](MemoryWriter& w) { TextColumn(w, "a", "StdDaysAttended!'0.00'"); }, nullptr, "1\r\n", 1,
         "StdDaysAttended!'0.00'"},
    };
    for (const TableCase& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(Path("T.pef"));
        MemoryWriter w;
        Prepare(w);
        w.schema = c.schema;
        w.rows = c.rows;
        w.StartImport();
        w.StartTable("Test", "T.pef");
        c.declare(w);

        const int count = w.WriteTable(c.filter ? c.filter(w) : RowFilter());
        w.EndTable();
        w.CommitExport();

        EXPECT_EQ(count, c.expectedCount);
        EXPECT_EQ(ReadFile(Path("T.pef")), c.expectedFile);
        EXPECT_EQ(std::string(w.DeclaredTables().back()->JoinFieldNames()), c.expectedFields);
        EXPECT_EQ(FilesIn(dir.path()), QStringList{"T.pef"});
    }
}

TEST_F(WriterTest, HookColumnReceivesItsFieldForEveryRow)
{
    writer.schema = {"a", "b"};
    writer.rows = {{"1", "2"}, {"3", "4"}};
    writer.StartImport();
    writer.StartTable("Test", "T.pef");
    TextColumn(writer, "a", "A");
    writer.AddColumn(ColumnDeclaration("b").From(&writer.table).Does(ExportColumn::FieldHook));
    writer.WriteTable();
    EXPECT_EQ(writer.hookedColumns, (std::vector<int>{1, 1}));
}

TEST_F(WriterTest, MissingOptionalColumnDeclaresNothing)
{
    writer.schema = {"a"};
    writer.missingFields = {"gone"};
    writer.rows = {{"1"}};
    writer.StartImport();
    writer.StartTable("Test", "T.pef");
    TextColumn(writer, "a", "A");
    EXPECT_EQ(writer.AddColumn(ColumnDeclaration("gone").From(&writer.table)
                               .Value(writer.BindValue(&MemoryWriter::Text)).Header("Gone")
                               .Custom({"Ghost", "Ghost", "#customcomfield", "noformat"})),
              nullptr);
    writer.WriteTable();
    writer.EndTable();
    writer.CommitExport();

    EXPECT_EQ(ReadFile(Path("T.pef")), "1\r\n");
    EXPECT_EQ(std::string(writer.DeclaredTables().back()->JoinFieldNames()), "A");
    EXPECT_EQ(writer.CustomFields().GetCount(), 0u);
}

// The header file with the lines that carry the current time replaced by
// placeholders (after checking their form).
std::string Normalised(std::string text)
{
    QString t = QString::fromLatin1(text.c_str(), static_cast<int>(text.size()));
    const QString time = "\\d{1,2}:\\d\\d:\\d\\d";
    t.replace(QRegularExpression("// Generated : [A-Z][a-z]{2} \\d\\d, \\d{4} " + time), "// Generated : <NOW>");
    t.replace(QRegularExpression("#pragma exportdate \"\\d\\d/\\d\\d/\\d{4}\""), "#pragma exportdate \"<DATE>\"");
    t.replace(QRegularExpression("#pragma update \"\\d{14}\""), "#pragma update \"<STAMP>\"");
    t.replace(QRegularExpression("(Start|End|Difference): " + time), "\\1: <T>");
    return t.toLatin1().toStdString();
}

const std::string kSeparator = std::string(91, '/') + "\r\n";

std::string ExpectedBanner()
{
    return kSeparator +
           "// Test Bridge\r\n"
           "// Bridge\r\n"
           "// 1.2.3\r\n"
           "// Dec 10, 2026\r\n"
           "// \r\n"
           "// Generated : <NOW>\r\n" +
           kSeparator + "\r\n" + kSeparator + kSeparator + "\r\n" + kSeparator +
           "// WARNING!\r\n"
           "// This file is generated automatically by the Test Bridge(Bridge) \r\n"
           "//  Do not edit this file directly. \r\n" +
           kSeparator + "\r\n";
}

TEST_F(WriterTest, ImportHeaderFileListsPragmasCustomFieldsAndTables)
{
    writer.schema = {"key", "name", "mail", "note"};
    writer.rows = {{"1", "Ann", "a@x", "n"}};
    writer.m_pragmas.maxExpectedDays = -3;
    writer.StartImport();

    writer.StartTable("Teachers", "Teachers.pef");
    TextColumn(writer, "key", "StaffKey");
    TextColumn(writer, "name", "TeacherName");
    writer.AddColumn(ColumnDeclaration("mail").From(&writer.table)
                     .Value(writer.BindValue(&MemoryWriter::Text)).Header("Email")
                     .Custom({"Email", "Email", "#customcomfield", "email"}));
    writer.WriteTable();
    writer.EndTable();

    // No header fields: the file is written but the table is not listed.
    writer.StartTable("Helper", "Helper.pef");
    writer.AddColumn(ColumnDeclaration("key").From(&writer.table)
                     .Value(writer.BindValue(&MemoryWriter::Text)));
    writer.WriteTable();
    writer.EndTable();

    writer.StartTable("Notes", "Notes.pef", 1);
    writer.AddColumn(ColumnDeclaration("mail").From(&writer.table)
                     .Value(writer.BindValue(&MemoryWriter::Text)).Header("Email")
                     .Custom({"Email", "E-mail", "#customschoolfield", "noformat"}));
    writer.AddColumn(ColumnDeclaration("mail").From(&writer.table)
                     .Value(writer.BindValue(&MemoryWriter::Text)).Header("email")
                     .Custom({"email", "mail", "#customcomfield", "email"}));
    writer.AddColumn(ColumnDeclaration("note").From(&writer.table)
                     .Value(writer.BindValue(&MemoryWriter::Text)).Header("StdDaysAttended!'0.00'")
                     .Custom({"Ruler", "12\" Ruler", "#customgradefield", "numeric"}));
    writer.WriteTable();
    writer.EndTable();

    writer.FinishImport();
    writer.CommitExport();

    const std::string expected = ExpectedBanner() +
                                 "#pragma creator \"TB\" \"1.2.3\"\r\n\r\n"
                                 "#pragma dateformat \"mm/dd/yyyy\"\r\n\r\n"
                                 "#pragma timeformat \"HH:NN:SS AA\"\r\n\r\n"
                                 "#pragma datetimeformat \"mm/dd/yyyy HH:NN:SS AA\"\r\n\r\n"
                                 "#pragma exportdate \"<DATE>\"\r\n\r\n"
                                 "#pragma attendancedoesntcreatedates\r\n\r\n"
                                 "#pragma maxexpecteddays \"-3\"\r\n\r\n" +
                                 kSeparator +
                                 "// Custom Fields \r\n"
                                 "//\r\n"
                                 "\r\n"
                                 "#customcomfield \"Email\" \"Email\" \"email\"\r\n"
                                 "#customcomfield \"email\" \"mail\" \"email\"\r\n"
                                 "#customgradefield \"Ruler\" \"12 Ruler\" \"numeric\"\r\n"
                                 "\r\n" +
                                 kSeparator +
                                 "// Import Files and Headers\r\n"
                                 "//\r\n"
                                 "\r\n"
                                 "// Teachers\r\n"
                                 "StaffKey\tTeacherName\tEmail\r\n"
                                 "#include \"Teachers.pef\"\r\n"
                                 "*\r\n"
                                 "\r\n"
                                 "// Notes\r\n"
                                 "Email\temail\tStdDaysAttended!'0.00'\r\n"
                                 "#safeinclude \"Notes.pef\"\r\n"
                                 "*\r\n"
                                 "\r\n"
                                 "//  Timing \r\n"
                                 "//  Start: <T>\r\n"
                                 "//  End: <T>\r\n"
                                 "//  Difference: <T>\r\n"
                                 "\r\n";
    EXPECT_EQ(Normalised(ReadFile(Path("MORV.PDE"))), expected);
    EXPECT_EQ(ReadFile(Path("Helper.pef")), "1\r\n");
    EXPECT_EQ(FilesIn(dir.path()), (QStringList{"Helper.pef", "MORV.PDE", "Notes.pef", "Teachers.pef"}));
}

TEST_F(WriterTest, HeaderFileWithoutCustomFieldsClosesTheSectionAtOnce)
{
    writer.m_pragmas.bridgeAlias = "Bridge Alias";
    writer.StartImport();
    writer.FinishImport();
    writer.CommitExport();
    const std::string text = ReadFile(Path("MORV.PDE"));
    EXPECT_NE(text.find("#pragma creator \"Bridge Alias\" \"1.2.3\"\r\n\r\n"), std::string::npos);
    EXPECT_NE(text.find("// Custom Fields \r\n//\r\n\r\n\r\n" + kSeparator + "// Import Files"), std::string::npos);
}

TEST_F(WriterTest, RefusedPragmaKeepsThePreviousHeaderFile)
{
    WriteFile(Path("MORV.PDE"), "previous");
    writer.m_pragmas.crsKeyInSecKey = true;
    writer.StartImport();
    try {
        writer.FinishImport();
        FAIL() << "FinishImport accepted the deprecated pragma";
    } catch (const XException& e) {
        EXPECT_STREQ(e.what(), "CrsKeyInSecKey Pragma is deprecated. Do not use!");
    }
    EXPECT_EQ(ReadFile(Path("MORV.PDE")), "previous");
    EXPECT_EQ(FilesIn(dir.path()), QStringList{"MORV.PDE"});
}

TEST_F(WriterTest, FailedTableKeepsThePreviousCompleteFile)
{
    const struct
    {
        const char* name;
        std::function<void()> fail;
        const char* expected;
        XErrorKind kind = XErrorKind::Internal;  // a failure keeps the kind of its cause
    } cases[] = {
        {"XException", [] { throw XException("disk full"); },
         "Failed with error [disk full] while writing file [T.pef] with query: SELECT * FROM Memory"},
        {"lost connection",
         [] { throw XException(XErrorKind::ConnectionLost, "link gone", -2146824579, "08S01", 10054); },
         "Failed with error [link gone] while writing file [T.pef] with query: SELECT * FROM Memory",
         XErrorKind::ConnectionLost},
        {"standard exception", [] { throw std::runtime_error("bad value"); },
         "Failed with error [bad value] while writing file [T.pef] with query: SELECT * FROM Memory"},
        // Nothing throws plain text; it is no failure the writer knows.
        {"plain text", [] { throw "no memory"; },
         "Failed with unknown error while writing file [T.pef] with query: SELECT * FROM Memory"},
        {"anything else", [] { throw 7; },
         "Failed with unknown error while writing file [T.pef] with query: SELECT * FROM Memory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(Path("T.pef"), "complete\r\n");
        MemoryWriter w;
        Prepare(w);
        w.schema = {"a"};
        w.rows = {{"1"}, {"2"}, {"3"}};
        w.StartImport();
        w.StartTable("Test", "T.pef");
        w.AddColumn(ColumnDeclaration("a").From(&w.table).Value([&w, &c]() -> XString {
            if (w.row == 1)
                c.fail();
            return w.Text();
        }).Header("A"));
        try {
            w.WriteTable();
            ADD_FAILURE() << "WriteTable reported success";
        } catch (const XException& e) {
            EXPECT_STREQ(e.what(), c.expected);
            EXPECT_EQ(e.Kind(), c.kind);
            if (c.kind == XErrorKind::ConnectionLost) {
                EXPECT_EQ(e.SqlState(), "08S01");
                EXPECT_EQ(e.NativeCode(), 10054);
            }
        }
        EXPECT_EQ(w.CurrentColumn(), nullptr);
        EXPECT_EQ(ReadFile(Path("T.pef")), "complete\r\n");
        EXPECT_EQ(FilesIn(dir.path()), QStringList{"T.pef"});
    }
}

TEST_F(WriterTest, TableThatCannotBeOpenedIsNeitherWrittenNorListed)
{
    WriteFile(Path("T.pef"), "complete\r\n");
    writer.schema = {"a"};
    writer.openFails = true;
    writer.StartImport();
    writer.StartTable("Test", "T.pef");
    TextColumn(writer, "a", "A");
    EXPECT_EQ(writer.WriteTable(), 0);
    writer.EndTable();
    writer.FinishImport();

    EXPECT_EQ(ReadFile(Path("T.pef")), "complete\r\n");
    EXPECT_EQ(ReadFile(Path("MORV.PDE")).find("T.pef"), std::string::npos);
}

TEST_F(WriterTest, FailedRunLeavesThePreviousExportAndReportsFailure)
{
    WriteFile(Path("MORV.PDE"), "previous header");
    WriteFile(Path("B.pef"), "previous B\r\n");
    MemoryWriter task;
    task.schema = {"a"};
    task.rows = {{"1"}, {"2"}};
    task.run = [](MemoryWriter& w, QString&) {
        w.StartImport();
        w.StartTable("A", "A.pef");
        TextColumn(w, "a", "A");
        w.WriteTable();
        w.EndTable();
        w.StartTable("B", "B.pef");
        w.AddColumn(ColumnDeclaration("a").From(&w.table).Value([&w]() -> XString {
            if (w.row == 1)
                throw XException("connection lost");
            return w.Text();
        }).Header("B"));
        w.WriteTable();
        w.EndTable();
        w.FinishImport();
        return true;
    };
    std::vector<std::string> progress;
    CallbackSink sink;
    sink.onProgress = [&](const QString& type, int) { progress.push_back(type.toStdString()); };
    task.SetSink(&sink);
    ParamMap parameters = kAppInfo;
    parameters["path"] = dir.path();
    QString error;

    EXPECT_FALSE(task.BeginExecute(parameters, RunFlags::Full, error));

    EXPECT_EQ(error.toStdString(),
              "Failed with error [connection lost] while writing file [B.pef] with query: SELECT * FROM Memory");
    EXPECT_EQ(progress, (std::vector<std::string>{"start_progress", "end_progress"}));
    // All or nothing: the table that was complete is not put in place either,
    // so the previous header never meets a new table file.
    EXPECT_EQ(ReadFile(Path("MORV.PDE")), "previous header");
    EXPECT_EQ(ReadFile(Path("B.pef")), "previous B\r\n");
    EXPECT_EQ(FilesIn(dir.path()), (QStringList{"B.pef", "MORV.PDE"}));
}

// The one update file of the folder.
QString UpdateFileIn(const QString& folder)
{
    const QStringList files = QDir(folder).entryList({"Update *.PDU"}, QDir::Files);
    return files.size() == 1 ? folder + "/" + files[0] : QString();
}

TEST_F(WriterTest, UpdateFileHoldsOneSectionPerTable)
{
    writer.schema = {"std", "date"};
    writer.rows = {{"1", "2"}, {"3", "4"}};
    DelimitedTextWriter updateFile('\t');
    writer.StartUpdate(&updateFile);

    writer.StartTable("Cached Daily Attendance", "StudentDailyAtt.pef");
    TextColumn(writer, "std", "AttStdRef");
    TextColumn(writer, "date", "AttDate");
    EXPECT_EQ(writer.WriteTable(), 2);
    writer.EndTable();

    writer.StartTable("Empty", "Empty.pef");
    TextColumn(writer, "std", "AttStdRef");
    writer.WriteTable([] { return false; });
    writer.EndTable();

    writer.StartTable("No Fields", "None.pef");
    writer.rows.clear();
    writer.WriteTable();
    writer.EndTable();
    writer.FinishUpdate();
    writer.CommitExport();

    const QString path = UpdateFileIn(dir.path());
    ASSERT_FALSE(path.isEmpty()) << FilesIn(dir.path()).join(",").toStdString();
    EXPECT_TRUE(QRegularExpression("/Update \\d{14}\\.PDU$").match(path).hasMatch());
    EXPECT_EQ(FilesIn(dir.path()).size(), 1);

    const std::string expected = ExpectedBanner() +
                                 "#pragma update \"<STAMP>\"\r\n\r\n"
                                 "#pragma creator \"TB\" \"1.2.3\"\r\n\r\n"
                                 "#pragma dateformat \"mm/dd/yyyy\"\r\n\r\n"
                                 "#pragma timeformat \"HH:NN:SS AA\"\r\n\r\n"
                                 "#pragma datetimeformat \"mm/dd/yyyy HH:NN:SS AA\"\r\n\r\n"
                                 "#pragma exportdate \"<DATE>\"\r\n\r\n"
                                 "#pragma attendancedoesntcreatedates\r\n\r\n" +
                                 kSeparator +
                                 "// Import Files and Headers\r\n"
                                 "//\r\n"
                                 "\r\n"
                                 "// Cached Daily Attendance\r\n"
                                 "AttStdRef\tAttDate\r\n"
                                 "1\t2\r\n"
                                 "3\t4\r\n"
                                 "*\r\n\r\n"
                                 "// Empty\r\n"
                                 "AttStdRef\r\n"
                                 "*\r\n\r\n"
                                 "// No Fields\r\n"
                                 "\r\n"
                                 "*\r\n\r\n"
                                 "//  Timing \r\n"
                                 "//  Start: <T>\r\n"
                                 "//  End: <T>\r\n"
                                 "//  Difference: <T>\r\n"
                                 "\r\n";
    EXPECT_EQ(Normalised(ReadFile(path)), expected);
}

TEST_F(WriterTest, UpdateFileNeverReplacesAnEarlierOne)
{
    // Earlier update files named for this second and the next two.
    XDateTime stamp = XDateTime::Now();
    QStringList earlier;
    for (int i = 0; i < 3; ++i) {
        earlier << "Update " + ToQString(stamp.Format("YYYYMMDDHHNNSS")) + ".PDU";
        WriteFile(Path(earlier.back()), "earlier");
        stamp.Add(XDateSpan(0, 0, 0, 0, 0, 1));
    }

    DelimitedTextWriter updateFile('\t');
    writer.StartUpdate(&updateFile);
    writer.FinishUpdate();
    writer.CommitExport();

    for (const QString& name : earlier)
        EXPECT_EQ(ReadFile(Path(name)), "earlier") << name.toStdString();
    EXPECT_EQ(FilesIn(dir.path()).size(), 4);
}

// The commit retires the table files an earlier run wrote only when a full
// export belongs to it, also when the run's update export followed it.
TEST_F(WriterTest, OnlyACommitWithAFullExportRetiresOldTableFiles)
{
    const struct {
        const char* name;
        bool full;
        bool update;
        const char* staleFile;
    } cases[] = {
        {"full export", true, false, "<missing>"},
        {"full then update export", true, true, "<missing>"},
        {"update export alone", false, true, "old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        MemoryWriter w;
        w.m_parameters = kAppInfo;
        ASSERT_TRUE(w.SetPDEFolder(ToXString(folder.path())));
        WriteFile(folder.path() + "/Staff.pef", "old");
        w.schema = {"a"};
        w.rows = {{"1"}};
        if (c.full) {
            w.StartImport();
            w.StartTable("Teachers", "Teachers.pef");
            TextColumn(w, "a", "A");
            w.WriteTable();
            w.EndTable();
            w.FinishImport();
        }
        DelimitedTextWriter updateFile('\t');
        if (c.update) {
            w.StartUpdate(&updateFile);
            w.FinishUpdate();
        }
        w.CommitExport();
        EXPECT_EQ(ReadFile(folder.path() + "/Staff.pef"), c.staleFile);
    }
}

// A call that its mode does not allow is refused as an internal failure
// before it writes anything.
TEST_F(WriterTest, CallsOutsideTheirModeAreRefused)
{
    const struct {
        const char* name;
        std::function<void(MemoryWriter&, DelimitedTextWriter&)> call;
    } cases[] = {
        {"table before any export",
         [](MemoryWriter& w, DelimitedTextWriter&) {
             w.StartTable("T", "Teachers.pef");
             TextColumn(w, "a", "A");
             w.WriteTable();
         }},
        {"header file in an update export",
         [](MemoryWriter& w, DelimitedTextWriter& u) {
             w.StartUpdate(&u);
             w.FinishImport();
         }},
        {"a second update file",
         [](MemoryWriter& w, DelimitedTextWriter& u) {
             w.StartUpdate(&u);
             DelimitedTextWriter second('\t');
             w.StartUpdate(&second);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        MemoryWriter w;
        w.m_parameters = kAppInfo;
        ASSERT_TRUE(w.SetPDEFolder(ToXString(folder.path())));
        w.schema = {"a"};
        w.rows = {{"1"}};
        DelimitedTextWriter updateFile('\t');
        try {
            c.call(w, updateFile);
            ADD_FAILURE() << "not refused";
        } catch (const XException& e) {
            EXPECT_EQ(e.Kind(), XErrorKind::Internal) << e.what();
        }
        w.AbandonRun();
        EXPECT_TRUE(FilesIn(folder.path()).filter(".pef").isEmpty()) << FilesIn(folder.path()).join(",").toStdString();
    }
}

// The newest update file in the folder decides the new one's name when the
// clock is behind it; a name of the form that is no time (a day 0) still
// has a name after it, and a file of another form is no update file.
TEST_F(WriterTest, ANewUpdateFileSortsAfterTheNewestOneOfItsForm)
{
    const struct
    {
        const char* newest;
        const char* expected;  // nullptr: named for the clock
    } cases[] = {
        {"Update 29991231235959.PDU", "Update 30000101000000.PDU"},
        {"Update 29991200000000.PDU", "Update 29991200000001.PDU"},
        {"Update 2999.PDU", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.newest);
        for (const QString& name : QDir(dir.path()).entryList({"Update *.PDU"}, QDir::Files))
            ASSERT_TRUE(QFile::remove(Path(name)));
        QFile planted(Path(c.newest));
        ASSERT_TRUE(planted.open(QIODevice::WriteOnly));
        planted.close();
        MemoryWriter w;
        Prepare(w);
        DelimitedTextWriter updateFile('\t');
        w.StartUpdate(&updateFile);
        w.FinishUpdate();
        w.CommitExport();
        QStringList names = QDir(dir.path()).entryList({"Update *.PDU"}, QDir::Files, QDir::Name);
        names.removeAll(c.newest);
        ASSERT_EQ(names.size(), 1);
        if (c.expected) {
            EXPECT_EQ(names.front().toStdString(), c.expected);
        } else {
            EXPECT_TRUE(PDEWriter::IsUpdateFileName(XString(names.front().toUtf8().constData())))
                << names.front().toStdString();
        }
    }
}

TEST_F(WriterTest, FailedUpdateTableLeavesNoUpdateFile)
{
    writer.schema = {"a"};
    writer.rows = {{"1"}};
    DelimitedTextWriter updateFile('\t');
    writer.StartUpdate(&updateFile);
    writer.StartTable("Cached", "C.pef");
    writer.AddColumn(ColumnDeclaration("a").From(&writer.table)
                     .Value([]() -> XString { throw XException("cache locked"); }).Header("A"));
    EXPECT_THROW(writer.WriteTable(), XException);
    EXPECT_EQ(FilesIn(dir.path()), QStringList());
}

TEST_F(WriterTest, RunFailingWithUpdateFileOpenLeavesNoUpdateFile)
{
    MemoryWriter task;
    DelimitedTextWriter updateFile('\t');
    task.run = [&](MemoryWriter& w, QString&) -> bool {
        w.StartUpdate(&updateFile);
        w.LogAndThrow(LogLevel::Critical, "attendance window failed");
    };
    ParamMap parameters = kAppInfo;
    parameters["path"] = dir.path();
    QString error;
    EXPECT_FALSE(task.BeginExecute(parameters, RunFlags::Update, error));
    EXPECT_EQ(error.toStdString(), "attendance window failed");
    EXPECT_EQ(FilesIn(dir.path()), QStringList());
}

TEST_F(WriterTest, BridgeConfigRecordMovesTheUpdateDateBackOneDay)
{
    // Reading a missing record gives no date and creates nothing.
    EXPECT_TRUE(GetUpdateDate(writer.PDEFolder()).IsNull());
    EXPECT_TRUE(GetUpdateDateTime(writer.PDEFolder()).IsNull());
    EXPECT_EQ(FilesIn(dir.path()), QStringList());

    writer.SetExportedUpdate(XDate(2026, 3, 10), XDateTime(XDate(2026, 3, 10), XTime(21, 5, 3)));
    writer.SaveBridgeConfig();
    writer.CommitExport();

    const std::string record = ReadFile(Path("SchoolConfig.xml"));
    EXPECT_EQ(record.rfind("<SchoolConfig>\r\n<SIS SISValue=\"\"/>\r\n"
                           "<LastBridgeVersion LastBridgeVersionValue=\"1.2.3\"/>\r\n", 0),
              0u)
        << record;
    EXPECT_NE(record.find("<LastDSN LastDSNValue=\"MemoryDSN\"/>\r\n"), std::string::npos);
    EXPECT_NE(record.find("<UpdateDate UpdateDateValue=\"09-Mar-2026\"/>\r\n"), std::string::npos);
    EXPECT_NE(record.find("<UpdateDateTime UpdateDateTimeValue=\"09-Mar-2026 21:05:03\"/>\r\n"),
              std::string::npos);
    EXPECT_NE(record.find("<LastBridgeLogLevel LastBridgeLogLevelValue=\"7\"/>\r\n</SchoolConfig>\r\n"),
              std::string::npos);

    EXPECT_EQ(GetUpdateDate(writer.PDEFolder()), XDate(2026, 3, 9));
    EXPECT_TRUE(GetUpdateDateTime(writer.PDEFolder()) == XDateTime(XDate(2026, 3, 9), XTime(21, 5, 3)));
    BridgeConfigItems items;
    ReadBridgeConfig(writer.PDEFolder(), items);
    EXPECT_EQ(items.size(), 14u);
}

TEST_F(WriterTest, DeletePDEFilesRemovesHeaderFilesOnly)
{
    for (const char* name : {"MORV.PDE", "old.pde", "CustomFieldConfig.pde", "T.pef", "Update 1.PDU"})
        WriteFile(Path(name), "x");
    writer.DeletePDEFiles(writer.PDEFolder());
    EXPECT_EQ(FilesIn(dir.path()), (QStringList{"CustomFieldConfig.pde", "T.pef", "Update 1.PDU"}));
}

} // namespace

namespace {

// The export folder's path check must count every file a run writes there:
// a name longer than the allowance would pass the check and fail half-way.
TEST(ExportFolderLength, AllowanceCoversEveryFileAndCountsBytes)
{
    std::vector<std::string> names = {"MORV.PDE", "SchoolConfig.xml", "Update 20261210165524.PDU",
                                      "Data ExtractorStatus.tmp", "finished_bridge.tmp", "BridgeStatus.tmp"};
    for (const char* name : PDEWriter::TableFileNames())
        names.push_back(name);
    for (const std::string& name : names)
        EXPECT_LE(static_cast<int>(name.size() + std::string(".XXXXXX.part").size()),
                  BridgeTaskBase::kLongestExportFileName)
            << name;

    const int room = static_cast<int>(XFileSpec::MaxPath) - BridgeTaskBase::kLongestExportFileName - 1;
    struct Case {
        const char* name;
        QString folder;
        bool fits;
    };
    const Case cases[] = {
        {"ASCII at the limit", "/" + QString(room - 1, 'a'), true},
        {"ASCII one over", "/" + QString(room, 'a'), false},
        // Two bytes each: half as many accented letters fill the same room.
        {"accents counted as bytes", "/" + QString(room / 2, QChar(0xE9)), true},
        {"accents one over", "/" + QString(room / 2 + 1, QChar(0xE9)), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString message = BridgeTaskBase::CheckExportFolderLength(c.folder);
        EXPECT_EQ(message.isEmpty(), c.fits) << message.toStdString();
        if (!c.fits) {
            EXPECT_TRUE(message.contains(c.folder));
            EXPECT_TRUE(message.contains("259"));
        }
    }
}

} // namespace
