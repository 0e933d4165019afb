// "defaults" hands the importer's stored school configurations back as
// setting lines. Every file it cannot use (missing, empty, broken, foreign,
// huge, a folder) must end as a closed progress and status 1, never a crash
// or a hang.
#include "tests/app/BridgeProcess.h"
#include "tests/support/Prerequisite.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

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
};

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
    EXPECT_EQ(r.out.join(u'\n').toStdString(), expected.join(u'\n').toStdString()) << r.err.toStdString();
    EXPECT_EQ(r.exitCode, c.exitCode);
    // The status files go beside the configuration file.
    const QString status = QString::fromUtf8(ReadWholeFile(work.path() + QStringLiteral("/Data ExtractorStatus.tmp")));
    EXPECT_TRUE(status.endsWith(c.exitCode == 0 ? QStringLiteral("\tSucceeded\tSucceeded\r\n")
                                                : QStringLiteral("\tFailed\tFailed retrieving default settings.\r\n")))
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
        DefaultsCase{"another_root", "<Config><HNSchoolConf SISDSN=\"A\"/></Config>", 1, {kStart0, kEnd}},
        DefaultsCase{"empty", "", 1, {kStart0, kEnd}},
        DefaultsCase{"truncated", kOneSchool.left(kOneSchool.size() - 10), 1, {kStart0, kEnd}},
        DefaultsCase{"not_xml", "SISDSN=Morv\r\n", 1, {kStart0, kEnd}},
        DefaultsCase{"invalid_utf8", "<HNSchoolConfFile><HNSchoolConf SISDSN=\"\xff\xfe\xc3\"/></HNSchoolConfFile>", 1,
                     {kStart0, kEnd}},
        // Nested entities that would expand to gigabytes are refused by the parser.
        DefaultsCase{"entity_expansion",
                     "<!DOCTYPE HNSchoolConfFile [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
                     "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                     "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                     "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
                     "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
                     "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">]>"
                     "<HNSchoolConfFile><HNSchoolConf SISDSN=\"&f;\"/></HNSchoolConfFile>",
                     1, {kStart0, kEnd}},
        // Deep nesting used to keep the command busy for minutes (the tree's
        // cost grows with the square of its depth); it is refused at once.
        DefaultsCase{"deep_nesting",
                     "<HNSchoolConfFile>" + QByteArray(200000, 'x').replace("x", "<g>") + "<HNSchoolConf/>"
                         + QByteArray(200000, 'x').replace("x", "</g>") + "</HNSchoolConfFile>",
                     1, {kStart0, kEnd}}),
    [](const ::testing::TestParamInfo<DefaultsCase> &info) { return std::string(info.param.name); });

// Paths that name no readable configuration file.
TEST(DefaultsPath, UnusablePathsFailWithTheirMessage)
{
    QTemporaryDir home, work;
    const QString big = work.path() + QStringLiteral("/big/HNConfig.xml");
    QDir().mkpath(work.path() + QStringLiteral("/big"));
    QFile file(big);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(100LL * 1024 * 1024)); // sparse: costs no disk
    file.close();

    struct Case
    {
        QString path;
        QString message;
    };
    std::vector<Case> cases = {
        {work.path() + QStringLiteral("/missing/HNConfig.xml"), QStringLiteral("Could not open: {path}")},
        {work.path(), QStringLiteral("Could not open: {path}")},
        {big, QStringLiteral("Could not open: {path} (larger than 32 MB)")},
    };
    for (const Case &c : cases) {
        const BridgeResult r =
            runBridge({QStringLiteral("defaults"), QStringLiteral("--path=") + c.path}, home.path(), {}, true);
        QString message = c.message;
        message.replace(QStringLiteral("{path}"), c.path);
        EXPECT_EQ(r.out, (QStringList{kStart0,
                                      QStringLiteral("log\tWarning      \tTIME\tSISConfig::commandDefaults\t") + message,
                                      kEnd}))
            << c.path.toStdString();
        EXPECT_EQ(r.exitCode, 1) << c.path.toStdString();
    }
}

// A good file the bridge's user may not read.
TEST(DefaultsPath, AnUnreadableFileFailsWithItsMessage)
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
    EXPECT_EQ(r.out, (QStringList{kStart0,
                                  QStringLiteral("log\tWarning      \tTIME\tSISConfig::commandDefaults\tCould not open: ") + locked,
                                  kEnd}));
    EXPECT_EQ(r.exitCode, 1);
}

// Without a path the importer's installations under the user's data folder
// are searched: the bridge's own folder first, then every installation in
// name order.
TEST(DefaultsSearch, FindsTheImportersFileUnderTheDataFolder)
{
    struct Case
    {
        const char *name;
        QStringList files; // below the data folder, each holding one school
        int exitCode;
        QStringList out;
    };
    const QString appPath = QStringLiteral("log\tInformational\tTIME\tSISConfig::AppDataPath\tappPath: {data}\\Harnoth\\MORV");
    const Case cases[] = {
        {"own_folder", {QStringLiteral("Harnoth/MORV/HNConfig.xml"), QStringLiteral("Harnoth/Alpha/HNConfig.xml")}, 0,
         {appPath, QStringLiteral("start_progress\t1")}},
        {"first_installation_by_name",
         {QStringLiteral("Harnoth/Zeta/HNConfig.xml"), QStringLiteral("Harnoth/Beta/HNConfig.xml")}, 0,
         {appPath, QStringLiteral("start_progress\t1")}},
        {"none", {}, 1,
         {appPath, kStart0,
          QStringLiteral("log\tWarning      \tTIME\tSISConfig::commandDefaults\tCould not open: {data}/Harnoth/HNConfig.xml"),
          kEnd}},
    };
    for (const Case &c : cases) {
        QTemporaryDir home;
        const QString data = home.path() + QStringLiteral("/data");
        for (const QString &relative : c.files) {
            const QString path = data + u'/' + relative;
            QDir().mkpath(QFileInfo(path).path());
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            // The school number tells which file was read.
            file.write(QByteArray("<HNSchoolConfFile><HNSchoolConf SchoolNumber=\"")
                       + relative.section(u'/', 1, 1).toUtf8() + "\"/></HNSchoolConfFile>");
        }
        const BridgeResult r = runBridge({QStringLiteral("defaults")}, home.path(),
                                         {QStringLiteral("XDG_DATA_HOME=") + data});
        QStringList expected = c.out;
        expected.replaceInStrings(QStringLiteral("{data}"), data);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(r.out.mid(0, expected.size()), expected);
        EXPECT_EQ(r.exitCode, c.exitCode);
        if (c.exitCode == 0) {
            const QString wanted = c.files.first().section(u'/', 1, 1) == QLatin1String("Zeta")
                ? QStringLiteral("Beta")
                : QStringLiteral("MORV");
            EXPECT_TRUE(r.out.contains(QStringLiteral("setting\tschool\tschool\t") + wanted)) << r.out.join(u'\n').toStdString();
        }
    }
}

} // namespace
