// "defaults" hands the importer's stored school configurations back as
// setting lines. Every file it cannot use (missing, empty, broken, foreign,
// huge, a folder, a FIFO, beyond the reader's bounds) must end at once as a
// closed progress, one error line naming the file and the cause, and status
// 1, never a crash or a hang.
#include "tests/app/BridgeProcess.h"
#include "tests/support/Prerequisite.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/resource.h>
#include <sys/stat.h>

#include <ostream>
#include <vector>

namespace {

const QString kStart0 = QStringLiteral("start_progress\t0");
const QString kEnd = QStringLiteral("end_progress");

QStringList settings(const char *path, const char *dsn, const char *user, const char *pwd, const char *school)
{
    return {QStringLiteral("start_setting"),
            QStringLiteral("setting\tdefault\tpath\t") + QString::fromUtf8(path),
            QStringLiteral("setting\tconnection\tdsn\t") + QString::fromUtf8(dsn),
            QStringLiteral("setting\tconnection\tuser\t") + QString::fromUtf8(user),
            QStringLiteral("setting\tconnection\tpwdencode\t") + QString::fromUtf8(pwd),
            QStringLiteral("setting\tschool\tschool\t") + QString::fromUtf8(school),
            QStringLiteral("end_setting")};
}

const QByteArray kOneSchool = "<?xml version=\"1.0\"?>\n<HNSchoolConfFile><HNSchoolConf SISImportFolder=\"C:\\PDE\\\" "
                              "SISDSN=\"Morv\" SISUserName=\"clerk\" SISPassword=\"Qw7!\" SchoolNumber=\"0101\"/>"
                              "</HNSchoolConfFile>";

struct DefaultsCase
{
    const char *name;
    QByteArray content; // the file named by --path
    int exitCode;
    QStringList out; // "{file}" stands for the file's path
    QString error = QString(); // the error line's message on standard error; empty: none
};

// Why a file that was read is refused.
QString parseError(int line, int column, const char *message)
{
    return QStringLiteral("Could not read: {file}: XML parse error at line %1, column %2: %3")
        .arg(line)
        .arg(column)
        .arg(QString::fromUtf8(message));
}

QString repeated(const char *text, int count)
{
    QString all;
    for (int i = 0; i < count; ++i)
        all += QString::fromUtf8(text).arg(i);
    return all;
}

void PrintTo(const DefaultsCase &c, std::ostream *os) { *os << c.name; }

class DefaultsFile : public ::testing::TestWithParam<DefaultsCase>
{
protected:
    QTemporaryDir home;
    QTemporaryDir work;
};

TEST_P(DefaultsFile, AnswersWithSettingsOrAClosedFailure)
{
    const DefaultsCase &c = GetParam();
    const QString path = work.path() + QStringLiteral("/HNConfig.xml");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(c.content);
    file.close();

    const BridgeResult r = runBridge({QStringLiteral("defaults"), QStringLiteral("--path=") + path}, home.path());
    QStringList expected = c.out;
    expected.replaceInStrings(QStringLiteral("{file}"), path);
    QString error = c.error;
    error.replace(QStringLiteral("{file}"), path);
    EXPECT_EQ(r.out.join(u'\n').toStdString(), expected.join(u'\n').toStdString()) << r.err.toStdString();
    EXPECT_EQ(r.err.toStdString(), error.isEmpty() ? std::string() : ("error\tdefaults\t" + error + u'\n').toStdString());
    EXPECT_EQ(r.exitCode, c.exitCode);
    // The status files go beside the configuration file, with the cause.
    const QString status = QString::fromUtf8(ReadWholeFile(work.path() + QStringLiteral("/Data ExtractorStatus.tmp")));
    EXPECT_TRUE(status.endsWith(c.exitCode == 0
                                    ? QStringLiteral("\tSucceeded\tSucceeded\r\n")
                                    : QStringLiteral("\tFailed\tFailed retrieving default settings: ") + error
                                        + QStringLiteral("\r\n")))
        << status.toStdString();
}

QStringList concat(std::initializer_list<QStringList> parts)
{
    QStringList all;
    for (const QStringList &part : parts)
        all += part;
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Files, DefaultsFile,
    ::testing::Values(
        DefaultsCase{"one_school", kOneSchool, 0,
                     concat({{QStringLiteral("start_progress\t1")}, settings("C:\\PDE\\", "Morv", "clerk", "Qw7!", "0101"),
                             {kEnd}})},
        // Anywhere below the root, in document order; absent attributes are empty.
        DefaultsCase{"two_schools_nested_and_sparse",
                     "<HNSchoolConfFile xmlns:h=\"urn:x\"><Group><HNSchoolConf SISDSN=\"A\" SchoolNumber=\"1\"/>"
                     "</Group><h:Other/><HNSchoolConf SISUserName=\"b\"/></HNSchoolConfFile>",
                     0,
                     concat({{QStringLiteral("start_progress\t2")}, settings("", "A", "", "", "1"),
                             settings("", "", "b", "", ""), {kEnd}})},
        DefaultsCase{"no_schools", "<HNSchoolConfFile/>", 0, {kStart0, kEnd}},
        // 8-bit text read through the declared encoding.
        DefaultsCase{"windows_1252",
                     "<?xml version=\"1.0\" encoding=\"windows-1252\"?><HNSchoolConfFile>"
                     "<HNSchoolConf SISDSN=\"Caf\xe9\"/></HNSchoolConfFile>",
                     0, concat({{QStringLiteral("start_progress\t1")}, settings("", "Caf\xc3\xa9", "", "", ""), {kEnd}})},
        DefaultsCase{"internal_entity",
                     "<!DOCTYPE HNSchoolConfFile [<!ENTITY s \"Mo\">]><HNSchoolConfFile>"
                     "<HNSchoolConf SISDSN=\"&s;rv\"/></HNSchoolConfFile>",
                     0, concat({{QStringLiteral("start_progress\t1")}, settings("", "Morv", "", "", ""), {kEnd}})},
        DefaultsCase{"another_root", "<Config><HNSchoolConf SISDSN=\"A\"/></Config>", 1, {kStart0, kEnd},
                     "Could not read: {file}: The file is not a valid HNConfig.xml file.  May be empty."},
        DefaultsCase{"empty", "", 1, {kStart0, kEnd}, parseError(1, 0, "Premature end of document.")},
        DefaultsCase{"truncated", kOneSchool.left(kOneSchool.size() - 10), 1, {kStart0, kEnd},
                     parseError(2, 141, "Premature end of document.")},
        DefaultsCase{"not_xml", "SISDSN=Morv\r\n", 1, {kStart0, kEnd}, parseError(1, 1, "Start tag expected.")},
        DefaultsCase{"invalid_utf8", "<HNSchoolConfFile><HNSchoolConf SISDSN=\"\xff\xfe\xc3\"/></HNSchoolConfFile>", 1,
                     {kStart0, kEnd}, parseError(1, 2, "Encountered incorrectly encoded content.")},
        DefaultsCase{"duplicate_attribute",
                     "<HNSchoolConfFile><HNSchoolConf SISDSN=\"a\" SISDSN=\"b\"/></HNSchoolConfFile>", 1,
                     {kStart0, kEnd}, parseError(1, 55, "Attribute 'SISDSN' redefined.")},
        // Nested entities that would expand to gigabytes are refused by the parser.
        DefaultsCase{"entity_expansion",
                     "<!DOCTYPE HNSchoolConfFile [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
                     "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                     "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                     "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
                     "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
                     "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">]>"
                     "<HNSchoolConfFile><HNSchoolConf SISDSN=\"&f;\"/></HNSchoolConfFile>",
                     1, {kStart0, kEnd},
                     parseError(1, 435, "Entity expands to more characters than the entity expansion limit.")},
        // Deep nesting used to keep the command busy for minutes (the tree's
        // cost grows with the square of its depth); it is refused at once.
        DefaultsCase{"deep_nesting",
                     "<HNSchoolConfFile>" + QByteArray(200000, 'x').replace("x", "<g>") + "<HNSchoolConf/>"
                         + QByteArray(200000, 'x').replace("x", "</g>") + "</HNSchoolConfFile>",
                     1, {kStart0, kEnd}, parseError(1, 318, "elements nested deeper than 100 levels")},
        // So did an element with tens of thousands of attributes (the
        // parser's time grows with the square of their count), written out,
        // given by the document type or brought by an entity.
        DefaultsCase{"hundred_attributes",
                     ("<HNSchoolConfFile><HNSchoolConf " + repeated("a%1=\"v\" ", 99)
                      + "SchoolNumber=\"7\"/></HNSchoolConfFile>").toUtf8(),
                     0, concat({{QStringLiteral("start_progress\t1")}, settings("", "", "", "", "7"), {kEnd}})},
        DefaultsCase{"forty_thousand_attributes",
                     ("<HNSchoolConfFile>\n<HNSchoolConf " + repeated("a%1=\"v\" ", 40000) + "/></HNSchoolConfFile>")
                         .toUtf8(),
                     1, {kStart0, kEnd}, parseError(2, 1, "an element with more than 100 attributes")},
        DefaultsCase{"attributes_by_document_type",
                     ("<!DOCTYPE HNSchoolConfFile [<!-- \"<x> --><!ATTLIST HNSchoolConf " + repeated("a%1 CDATA \"v\" ", 101)
                      + ">]>\n<HNSchoolConfFile><HNSchoolConf/></HNSchoolConfFile>")
                         .toUtf8(),
                     1, {kStart0, kEnd}, parseError(2, 1, "an element with more than 100 attributes")},
        DefaultsCase{"attributes_by_entity",
                     ("<!DOCTYPE HNSchoolConfFile [<!ENTITY s \"<HNSchoolConf " + repeated("a%1='v' ", 101)
                      + "/>\">]>\n<HNSchoolConfFile>&s;</HNSchoolConfFile>")
                         .toUtf8(),
                     1, {kStart0, kEnd}, parseError(2, 21, "an element with more than 100 attributes")},
        // A quoted '>' or a comment does not hide a crowded tag from the check.
        DefaultsCase{"attributes_after_quoted_markup",
                     ("<HNSchoolConfFile><!-- <a b=\" --><HNSchoolConf x=\"<!-- >\" " + repeated("a%1=\"v\" ", 200)
                      + "/></HNSchoolConfFile>")
                         .toUtf8(),
                     1, {kStart0, kEnd}, parseError(1, 34, "an element with more than 100 attributes")},
        // A file of many empty school entries used to take 400 MB.
        DefaultsCase{"many_entries",
                     "<HNSchoolConfFile>" + QByteArray(10001, 'x').replace("x", "<HNSchoolConf/>") + "</HNSchoolConfFile>",
                     1, {kStart0, kEnd}, parseError(1, 150018, "more than 10000 elements")},
        DefaultsCase{"many_attributes_in_all",
                     ("<HNSchoolConfFile>" + ("<HNSchoolConf " + repeated("a%1=\"v\" ", 100) + "/>").repeated(501)
                      + "</HNSchoolConfFile>")
                         .toUtf8(),
                     1, {kStart0, kEnd}, parseError(1, 403824, "more than 50000 attributes")}),
    [](const ::testing::TestParamInfo<DefaultsCase> &info) { return std::string(info.param.name); });

// The status files of "defaults" go beside the configuration file.
QString statusFolder(const QString &path) { return QFileInfo(path).isDir() ? path : QFileInfo(path).path(); }

// Paths that name no readable configuration file: each is refused at once
// (a FIFO would block the open for ever) with the system's reason.
TEST(DefaultsPath, UnusablePathsFailWithTheirCause)
{
    QTemporaryDir home, work;
    const QString big = work.path() + QStringLiteral("/big/HNConfig.xml");
    QDir().mkpath(work.path() + QStringLiteral("/big"));
    QFile file(big);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(100LL * 1024 * 1024)); // sparse: costs no disk
    file.close();
    const QString fifo = work.path() + QStringLiteral("/fifo/HNConfig.xml");
    QDir().mkpath(work.path() + QStringLiteral("/fifo"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    struct Case
    {
        QString path;
        QString cause;
    };
    std::vector<Case> cases = {
        {work.path() + QStringLiteral("/missing/HNConfig.xml"), QStringLiteral("No such file or directory")},
        {work.path(), QStringLiteral("not a regular file (a folder)")},
        {big, QStringLiteral("larger than 8 MB")},
        {fifo, QStringLiteral("not a regular file (a FIFO)")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const BridgeResult r =
            runBridge({QStringLiteral("defaults"), QStringLiteral("--path=") + c.path}, home.path(), {}, true);
        const QString refusal = QStringLiteral("Could not open: ") + c.path;
        EXPECT_EQ(r.out, (QStringList{kStart0,
                                      QStringLiteral("log\tWarning      \tTIME\tSISConfig::commandDefaults\t") + refusal,
                                      kEnd}));
        EXPECT_EQ(r.err, QStringLiteral("error\tdefaults\t") + refusal + QStringLiteral(": ") + c.cause + u'\n');
        EXPECT_EQ(r.exitCode, 1);
        const QString status = QString::fromUtf8(
            ReadWholeFile(statusFolder(c.path) + QStringLiteral("/Data ExtractorStatus.tmp")));
        EXPECT_TRUE(status.endsWith(QStringLiteral("\tFailed\tFailed retrieving default settings: ") + refusal
                                    + QStringLiteral(": ") + c.cause + QStringLiteral("\r\n")))
            << status.toStdString();
    }
}

// A good file the bridge's user may not read.
TEST(DefaultsPath, AnUnreadableFileFailsWithItsCause)
{
    if (!CanRunWithFilePermissions())
        MISSING_PREREQUISITE("file permissions cannot bind the bridge here (as root, setpriv must drop its capabilities)");
    QTemporaryDir home, work;
    const QString locked = work.path() + QStringLiteral("/HNConfig.xml");
    {
        QFile good(locked);
        ASSERT_TRUE(good.open(QIODevice::WriteOnly));
        good.write(kOneSchool);
    }
    ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::Permissions()));
    const BridgeResult r = runBridge({QStringLiteral("defaults"), QStringLiteral("--path=") + locked}, home.path(), {}, true);
    const QString refusal = QStringLiteral("Could not open: ") + locked;
    EXPECT_EQ(r.out, (QStringList{kStart0,
                                  QStringLiteral("log\tWarning      \tTIME\tSISConfig::commandDefaults\t") + refusal,
                                  kEnd}));
    EXPECT_EQ(r.err, QStringLiteral("error\tdefaults\t") + refusal + QStringLiteral(": Permission denied\n"));
    EXPECT_EQ(r.exitCode, 1);
}

// A bare file name names a file in the current folder, and the status files
// go there too.
TEST(DefaultsPath, BareFileNameIsInTheCurrentFolder)
{
    QTemporaryDir home, work;
    QFile file(work.path() + QStringLiteral("/HNConfig.xml"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(kOneSchool);
    file.close();
    const BridgeResult r =
        runBridge({QStringLiteral("defaults"), QStringLiteral("--path=HNConfig.xml")}, home.path(), {}, false, work.path());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, concat({{QStringLiteral("start_progress\t1")}, settings("C:\\PDE\\", "Morv", "clerk", "Qw7!", "0101"),
                             {kEnd}}));
    EXPECT_TRUE(ReadWholeFile(work.path() + QStringLiteral("/Data ExtractorStatus.tmp")).endsWith("\tSucceeded\tSucceeded\r\n"));
    EXPECT_EQ(ReadWholeFile(work.path() + QStringLiteral("/finished_bridge.tmp")), QByteArray("finished\r\n"));
}

// Without a path the importer's installations under the user's data folder
// are searched: the bridge's own folder first, then every installation in
// name order. Only regular files count; a FIFO where the search ends is
// refused at once.
TEST(DefaultsSearch, FindsTheImportersFileUnderTheDataFolder)
{
    struct Case
    {
        const char *name;
        QStringList files; // below the data folder, each holding one school named after its folder
        QStringList fifos; // below the data folder
        int exitCode;
        QStringList out;
        QString err;
    };
    const QString appPath = QStringLiteral("log\tInformational\tTIME\tSISConfig::AppDataPath\tappPath: {data}\\Harnoth\\MORV");
    const QString notFound = QStringLiteral("Could not open: {data}/Harnoth/HNConfig.xml");
    auto found = [&appPath](const char *school) {
        return concat({{appPath, QStringLiteral("start_progress\t1")}, settings("", "", "", "", school), {kEnd}});
    };
    const QStringList refused = {appPath, kStart0,
                                 QStringLiteral("log\tWarning      \tTIME\tSISConfig::commandDefaults\t") + notFound, kEnd};
    const Case cases[] = {
        {"own_folder", {QStringLiteral("Harnoth/MORV/HNConfig.xml"), QStringLiteral("Harnoth/Alpha/HNConfig.xml")}, {},
         0, found("MORV"), QString()},
        {"first_installation_by_name",
         {QStringLiteral("Harnoth/Zeta/HNConfig.xml"), QStringLiteral("Harnoth/Beta/HNConfig.xml")}, {}, 0,
         found("Beta"), QString()},
        {"none", {}, {}, 1, refused, QStringLiteral("error\tdefaults\t") + notFound + QStringLiteral(": No such file or directory\n")},
        {"fifo_in_own_folder", {QStringLiteral("Harnoth/Alpha/HNConfig.xml")}, {QStringLiteral("Harnoth/MORV/HNConfig.xml")},
         0, found("Alpha"), QString()},
        {"fifo_in_an_installation", {QStringLiteral("Harnoth/Zeta/HNConfig.xml")},
         {QStringLiteral("Harnoth/Beta/HNConfig.xml")}, 0, found("Zeta"), QString()},
        {"fifo_where_the_search_ends", {}, {QStringLiteral("Harnoth/HNConfig.xml"), QStringLiteral("Harnoth/MORV/HNConfig.xml")},
         1, refused, QStringLiteral("error\tdefaults\t") + notFound + QStringLiteral(": not a regular file (a FIFO)\n")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir home;
        const QString data = home.path() + QStringLiteral("/data");
        QDir().mkpath(data + QStringLiteral("/Harnoth/MORV"));
        for (const QString &relative : c.files) {
            const QString path = data + u'/' + relative;
            QDir().mkpath(QFileInfo(path).path());
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            // The school number tells which file was read.
            file.write(QByteArray("<HNSchoolConfFile><HNSchoolConf SchoolNumber=\"")
                       + relative.section(u'/', 1, 1).toUtf8() + "\"/></HNSchoolConfFile>");
        }
        for (const QString &relative : c.fifos) {
            const QString path = data + u'/' + relative;
            QDir().mkpath(QFileInfo(path).path());
            ASSERT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        const BridgeResult r = runBridge({QStringLiteral("defaults")}, home.path(),
                                         {QStringLiteral("XDG_DATA_HOME=") + data});
        QStringList expected = c.out;
        expected.replaceInStrings(QStringLiteral("{data}"), data);
        QString err = c.err;
        err.replace(QStringLiteral("{data}"), data);
        EXPECT_EQ(r.out.join(u'\n').toStdString(), expected.join(u'\n').toStdString());
        EXPECT_EQ(r.err.toStdString(), err.toStdString());
        EXPECT_EQ(r.exitCode, c.exitCode);
    }
}

} // namespace

namespace {

// Writes `count` copies of `entry` between the root's tags without holding
// the whole file here: this process's memory is carried into the child's
// figure when it starts.
void WriteEntries(const QString &path, const QByteArray &entry, int count)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<HNSchoolConfFile>");
    for (int i = 0; i < count; ++i)
        file.write(entry);
    file.write("</HNSchoolConfFile>");
}

// The largest memory any child of this test took, in MiB.
long PeakChildMiB()
{
    struct rusage usage = {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss / 1024;
}

// The files that once took minutes or hundreds of megabytes are answered in
// bounded memory, and so is the largest file the reader accepts: each is
// read within a fixed budget of the machine the importer runs on.
TEST(DefaultsBounds, LargeFilesAreAnsweredInBoundedMemory)
{
    QTemporaryDir home, work;
    const QByteArray value(148, 'v');
    const QByteArray fullEntry = "<HNSchoolConf SISImportFolder=\"" + value + "\" SISDSN=\"" + value + "\" SISUserName=\""
                                 + value + "\" SISPassword=\"" + value + "\" SchoolNumber=\"" + value + "\"/>";
    QByteArray attributes = "<HNSchoolConf";
    for (int i = 0; i < 40000; ++i)
        attributes += " a" + QByteArray::number(i) + "=\"v\"";
    attributes += "/>";
    const struct
    {
        const char *name;
        QByteArray entry;
        int count;
        int exitCode;
        QString error; // "{file}" for the file's path; empty: none
    } cases[] = {
        // 10 MB of empty school entries once took 411 MB.
        {"ten_megabytes_of_entries", "<HNSchoolConf/>", 10 * 1024 * 1024 / 15, 1,
         QStringLiteral("Could not open: {file}: larger than 8 MB")},
        {"entries_up_to_the_size_bound", "<HNSchoolConf/>", 8 * 1024 * 1024 / 15 - 10, 1,
         parseError(1, 150018, "more than 10000 elements")},
        {"forty_thousand_attributes", attributes, 1, 1,
         parseError(1, 19, "an element with more than 100 attributes")},
        // Just under every bound: 9,998 full entries, nearly 8 MB.
        {"largest_file_accepted", fullEntry, 9998, 0, QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = work.path() + u'/' + QString::fromLatin1(c.name) + QStringLiteral(".xml");
        WriteEntries(path, c.entry, c.count);
        const BridgeResult r = runBridge({QStringLiteral("defaults"), QStringLiteral("--path=") + path,
                                          QStringLiteral("--log=off")},
                                         home.path());
        QString error = c.error;
        error.replace(QStringLiteral("{file}"), path);
        EXPECT_EQ(r.err.toStdString(), error.isEmpty() ? std::string() : ("error\tdefaults\t" + error + u'\n').toStdString());
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.out.filter(QStringLiteral("setting\tschool\tschool\t")).size(), c.exitCode == 0 ? c.count : 0);
    }
#ifndef __SANITIZE_ADDRESS__
    // The sanitizer's own bookkeeping would be counted too.
    EXPECT_LT(PeakChildMiB(), 150) << "MiB at the peak";
#endif
}

} // namespace
