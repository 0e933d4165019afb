// The bridge as the importer sees it: protocol lines, usage text, exit status
// and status files of whole command lines.
#include "tests/app/BridgeProcess.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <ostream>

namespace {

const QString kStatus = QStringLiteral("Data ExtractorStatus.tmp");
const QString kFinished = QStringLiteral("finished_bridge.tmp");
const QString kStart0 = QStringLiteral("start_progress\t0");
const QString kEnd = QStringLiteral("end_progress");

QString versionLine()
{
    return QStringLiteral("version\tmorv\t2.1.5.0\t2.00.0037\tMORV (Data Extractor)\t") + MORV_BINARY_DIR
        + QStringLiteral("/app/help/MORVGuide.pdf");
}

struct Case
{
    const char *name;
    QStringList arguments;    // "{dir}" stands for a fresh export folder
    int exitCode;
    QStringList out;          // standard output up to the task's teardown records, exactly
    QStringList errLines;     // standard error must hold these lines, in order
    QString status;           // expected status-file tail after the date; empty: no status file
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class CommandLine : public ::testing::TestWithParam<Case>
{
protected:
    QTemporaryDir home;
    QTemporaryDir work;
};

TEST_P(CommandLine, AnswersAsTheImporterExpects)
{
    const Case &c = GetParam();
    const QString dir = work.path() + QStringLiteral("/export");
    QStringList arguments;
    for (QString argument : c.arguments)
        arguments.append(argument.replace(QStringLiteral("{dir}"), dir));

    const BridgeResult r = runBridge(arguments, home.path());
    auto expand = [&dir](QString text) {
        return text.replace(QStringLiteral("{dir}"), dir)
            .replace(QStringLiteral("DATE"), QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    };

    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.out.join(u'\n').toStdString(), expand(c.out.join(u'\n')).toStdString());
    qsizetype from = 0;
    for (const QString &pattern : c.errLines) {
        const QString line = expand(pattern);
        const qsizetype at = r.err.indexOf(line + u'\n', from);
        EXPECT_GE(at, 0) << "missing on standard error: " << line.toStdString() << "\nin:\n"
                         << r.err.toStdString();
        if (at >= 0)
            from = at + line.size();
    }

    const QByteArray status = ReadWholeFile(dir + u'/' + kStatus);
    if (c.status.isEmpty()) {
        EXPECT_FALSE(QFileInfo::exists(dir + u'/' + kStatus)) << status.toStdString();
    } else {
        const QRegularExpression line(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\t")
                                      + QRegularExpression::escape(expand(c.status)) + QStringLiteral("\\r\\n$"));
        EXPECT_TRUE(line.match(QString::fromUtf8(status)).hasMatch()) << status.toStdString();
        EXPECT_EQ(ReadWholeFile(dir + u'/' + kFinished), QByteArray("finished\r\n"));
    }
}

const QStringList kUsageStart = {QStringLiteral("Usage: "), QStringLiteral("morvbridge"), QStringLiteral(" [command]"),
                                 QStringLiteral("  [--all]")};

const QStringList kConnectionParams = {
    QStringLiteral("start_progress\t5"),
    QStringLiteral("params\tdsnheader\theader\tData Source Name and Login Information\t\t"),
    QStringLiteral("params\tdsnlabel\tlabel\tPlease enter the Data Source Name of the ODBC Data Source that you set "
                   "up to connect to the SMS Database\t\t"),
    QStringLiteral("params\tdsn\tedit\tODBC DSN\tName of DSN from existing Data Source\t"),
    QStringLiteral("params\tuser\tedit\tUsername\tUsername corresponding to ODBC DSN\t"),
    QStringLiteral("params\tpwdencode\tpassword\tPassword\tPassword  corresponding to ODBC DSN\t"),
    kEnd,
};

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandLine,
    ::testing::Values(
        Case{"version", {"version", "--path={dir}"}, 0,
             {"start_progress\t1", versionLine(), kEnd}, {}, "Succeeded\tSucceeded"},
        Case{"version_validate0", {"version", "--validate=0"}, 0, {"start_progress\t1", versionLine(), kEnd}, {}, ""},
        Case{"version_validate1", {"version", "--validate=1", "--path={dir}"}, 1, {"start_progress\t1"}, {},
             "Failed\tFailed retrieving version."},
        Case{"version_validate2", {"version", "--validate=2"}, 2, {}, {}, ""},
        Case{"version_validate3", {"version", "--validate=3"}, 3, {kStart0, kEnd}, {}, ""},
        // The exit status keeps only the low byte: 256 would exit 0 beside a
        // "Failed" status file, -256 likewise.
        Case{"version_validate256", {"version", "--validate=256", "--path={dir}"}, 1, {kStart0, kEnd},
             {"error\tvalidate\tThe validate number must be between 0 and 255: 256"},
             "Failed\tValidate number out of range."},
        Case{"version_validate_negative", {"version", "--validate=-256"}, 1, {kStart0, kEnd},
             {"error\tvalidate\tThe validate number must be between 0 and 255: -256"}, ""},
        Case{"version_validate_not_a_number", {"version", "--validate=abc"}, 1, {kStart0, kEnd},
             {"error\tvalidate\tThe value of --validate is not a whole number: abc"}, ""},
        Case{"command_word_anywhere", {"--group=connection", "params"}, 0, kConnectionParams, {}, ""},
        Case{"params_connection", {"params", "--group", "connection"}, 0, kConnectionParams, {}, ""},
        Case{"params_unknown_group", {"params", "--group=nosuch", "--path={dir}"}, 1,
             {"warning\tgroup\tNo parameters for this group", kStart0, kEnd}, {},
             "Failed\tFailed retrieving parameters: No parameters for this group"},
        Case{"params_without_group_or_key", {"params", "--path={dir}"}, 1,
             {"warning\tparams\tRequired parameter missing.", kStart0, kEnd},
             {"missing\tgroup\tGroup missing or blank.", "missing\tparamkey\tParam Key missing or blank."}, ""},
        Case{"params_unknown_key", {"params", "--paramkey=nosuch"}, 1,
             {"warning\tparamkey\tnosuch does not exist in this Application.", kStart0, kEnd}, {}, ""},
        Case{"params_validate_canned_school_list", {"params", "--paramkey=school", "--validate=0", "--dsn=d",
                                                    "--user=u", "--pwd=p"}, 0,
             {kStart0, "school_list\tschool\t1\tElementary (1)\t", "school_list\tschool\t2\tMiddle (2)\t",
              "school_list\tschool\t3\tHigh School (3)\t", kEnd}, {}, ""},
        Case{"params_validate_missing_dsn", {"params", "--paramkey=school", "--validate=1", "--path={dir}"}, 1,
             {"warning\tconnection\tRequired parameter missing.", kStart0, kEnd}, {}, ""},
        Case{"run_without_password_names_encoded_key",
             {"run", "--dsn=d", "--user=u", "--school=1", "--path={dir}"}, 1,
             {"warning\tconnection\tRequired parameter missing.", kStart0, kEnd},
             {"missing\tpwdencode\tPassword missing or blank."}, ""},
        // An argument that is not a command word or a registered key may be a
        // password in an unexpected spelling: it is echoed only as the mask.
        Case{"unknown_command", {"frobnicate", "--path={dir}"}, 1, {},
             {"error\tApp Problem\tThis command has not been defined: ********"},
             "Failed\tCommand not defined."},
        Case{"help_with_path", {"help", "--path={dir}"}, 1, {kStart0, kEnd}, kUsageStart,
             "Failed\targs: " + bridgeProgram() + ", help, --path={dir}"},
        // -h and --help print the usage as help does; help also lists the
        // command words, one line each.
        Case{"help_lists_the_commands", {"help"}, 1, {kStart0, kEnd},
             kUsageStart + QStringList{"Commands:", "  run       export the school's records into the export folder",
                                       "  version   print the bridge's version"},
             ""},
        Case{"short_help", {"-h"}, 1, {kStart0, kEnd}, kUsageStart, ""},
        Case{"long_help", {"--help"}, 1, {kStart0, kEnd}, kUsageStart, ""},
        Case{"no_arguments", {}, 1,
             {"log\tError        \tTIME\tAppBase::qMessageOutput\tLacking required argument", kStart0, kEnd},
             kUsageStart, ""},
        Case{"unknown_option", {"version", "--foo"}, 1,
             {"log\tWarning      \tTIME\tAppBase::qMessageOutput\tUnknown option --********", kStart0, kEnd},
             kUsageStart, ""},
        Case{"second_bare_word", {"run", "extra"}, 1,
             {"log\tError        \tTIME\tAppBase::qMessageOutput\tToo many arguments --********", kStart0, kEnd},
             kUsageStart, ""},
        Case{"bare_double_dash", {"version", "--", "--path={dir}"}, 2,
             {"log\tWarning      \tTIME\tAppBase::qMessageOutput\t'--' feature not supported, yet"}, {}, ""},
        Case{"test_undefined_group", {"test", "--group=global", "--path={dir}"}, 1,
             {kStart0, "inc_progress\tBeginning test...", kEnd},
             {"error\tGroup Undefined\tGroup is undefined, there is a problem with the bridge, please report this "
              "problem to Quillon Support."},
             "Failed\tGroup is undefined, there is a problem with the bridge, please report this problem to "
             "Quillon Support."},
        Case{"test_school_without_connection", {"test", "--group=school", "--school=5"}, 1,
             {kStart0, "warning\tconnection\tRequired parameter missing.", "test\tschool\tfail\tParameter not valid.",
              kEnd},
             {"missing\tdsn\tODBC DSN missing or blank."}, ""},
        Case{"test_validate_success", {"test", "--group=connection", "--validate=0", "--path={dir}"}, 0,
             {kStart0, "inc_progress\tBeginning test...", "test\tconnection\tsuccess\tConnection Successful.", kEnd},
             {}, "Succeeded\tSucceeded"},
        Case{"defaults_file_missing", {"defaults", "--path={dir}/HNConfig.xml"}, 1,
             {kStart0, "log\tWarning      \tTIME\tSISConfig::commandDefaults\tCould not open: {dir}/HNConfig.xml", kEnd},
             {"error\tdefaults\tCould not open: {dir}/HNConfig.xml: No such file or directory"},
             "Failed\tFailed retrieving default settings: Could not open: {dir}/HNConfig.xml: No such file or directory"},
        Case{"run_validate_canned", {"run", "--validate=0", "--dsn=d", "--user=u", "--pwd=p", "--school=1",
                                     "--path={dir}", "--log=fileoff"}, 0,
             {"log\tInformational\tTIME\tLogManager::setupLogFile\tLog file {dir}/MORV--1-DATE.log setup.",
              "log\tInformational\tTIME\t\tQuillon Data Extractor for MORV started.",
              "start_progress\t10", "inc_progress\tStart Extraction...",
              "inc_progress\tValidate Connection Successful, using Oracle (ODBC) with prefix.",
              "inc_progress\tReading Look up Tables", "inc_progress\tReading Custom Field List...",
              "inc_progress\tReading Student Transportation...", "inc_progress\tReading Student Demographics...",
              "inc_progress\tReading Student Grades...",
              "inc_progress\tReading Student Period Attendance (08/25/2008 to 08/31/2008)...",
              "inc_progress\tReading Cached Period Attendance...", "inc_progress\tExport complete.", kEnd},
             {}, "Succeeded\tSucceeded"}),
    [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });


// The quiet variants: validate number 2 makes every command that has a
// validate variant answer with nothing at all on either stream, only its
// status. A run still shows the header's console line, which is written
// whatever the log mode; with the console log off nothing else follows.
TEST(QuietVariants, PrintNothingButTheirStatus)
{
    struct QuietCase
    {
        const char *name;
        QStringList arguments; // "{dir}" stands for a fresh export folder
        QStringList out;
    };
    const QStringList connection = {"--dsn=d", "--user=u", "--pwd=p", "--school=1"};
    const QuietCase cases[] = {
        {"params_group", {"params", "--validate=2", "--group=connection"}, {}},
        {"params_key", {"params", "--validate=2", "--paramkey=school"}, {}},
        {"defaults", {"defaults", "--validate=2", "--path={dir}/HNConfig.xml"}, {}},
        {"test_connection", QStringList{"test", "--validate=2", "--group=connection"} + connection, {}},
        {"test_school", QStringList{"test", "--validate=2", "--group=school"} + connection, {}},
        {"version", {"version", "--validate=2"}, {}},
        {"run_console_off", QStringList{"run", "--validate=2", "--path={dir}", "--log=consoleoff"} + connection,
         {"log\tInformational\tTIME\t\tQuillon Data Extractor for MORV started."}},
    };
    for (const QuietCase &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir home, work;
        QStringList arguments = c.arguments;
        arguments.replaceInStrings(QStringLiteral("{dir}"), work.path() + QStringLiteral("/export"));
        const BridgeResult r = runBridge(arguments, home.path());
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out.join(u'\n').toStdString(), c.out.join(u'\n').toStdString());
        EXPECT_EQ(r.err.toStdString(), "");
    }
}

} // namespace
