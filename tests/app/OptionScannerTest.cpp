// The option scanner over the driver's registrations: one required command
// word, switches and optional-value options.
#include "app/OptionScanner.h"

#include <gtest/gtest.h>

#include <QMap>
#include <QStringList>

namespace {

QStringList g_warnings;

void collectWarning(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_warnings.append(message);
}

struct ScanCase
{
    const char *name;
    QStringList arguments; // without the program
    bool ok;
    QString command;       // "<null>" when never set
    QMap<QString, QString> values; // "<null>" marks a value never given
    bool all;
    QString warning;       // expected warning, empty for none
};

class Scanner : public ::testing::TestWithParam<ScanCase>
{
};

QString shown(const QString &text) { return text.isNull() ? QStringLiteral("<null>") : text; }

TEST_P(Scanner, BindsValuesOrReportsTheProblem)
{
    const ScanCase &c = GetParam();
    OptionScanner scanner(QStringList{QStringLiteral("C:\\Bridge\\morvbridge.exe")} + c.arguments);
    QString command;
    bool all = true;
    QString school, key, pwd;
    scanner.registerBareArgument(QStringLiteral("command"), &command, false);
    scanner.registerSwitch(QStringLiteral("all"), &all);
    scanner.registerOption(QChar(), QStringLiteral("school"), &school, QStringLiteral(""));
    scanner.registerOption(QChar(), QStringLiteral("key"), &key, QStringLiteral(""));
    scanner.registerOption(QChar(), QStringLiteral("pwd"), &pwd, QStringLiteral(""));

    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectWarning);
    const bool ok = scanner.scan(false);
    qInstallMessageHandler(previous);

    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(shown(command).toStdString(), c.command.toStdString());
    EXPECT_EQ(all, c.all);
    const QMap<QString, QString> got{{"school", shown(school)}, {"key", shown(key)}, {"pwd", shown(pwd)}};
    for (auto it = c.values.cbegin(); it != c.values.cend(); ++it)
        EXPECT_EQ(got.value(it.key()).toStdString(), it.value().toStdString()) << it.key().toStdString();
    EXPECT_EQ(g_warnings.join(u'|').toStdString(), c.warning.toStdString());
    EXPECT_EQ(scanner.programName().toStdString(), "morvbridge.exe");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Scanner,
    ::testing::Values(
        ScanCase{"one_character_value", {"run", "--school=5"}, true, "run", {{"school", "5"}}, false, ""},
        ScanCase{"empty_value_is_not_null", {"run", "--school="}, true, "run", {{"school", ""}, {"key", "<null>"}},
                 false, ""},
        ScanCase{"value_keeps_later_equals", {"run", "--key=a=b"}, true, "run", {{"key", "a=b"}}, false, ""},
        ScanCase{"split_value_starting_with_dash", {"run", "--school=-5", "--pwd=-x1"}, true, "run",
                 {{"school", "-5"}, {"pwd", "-x1"}}, false, ""},
        ScanCase{"split_value_that_looks_like_an_option", {"--pwd=--all", "run"}, true, "run", {{"pwd", "--all"}},
                 false, ""},
        ScanCase{"separate_value", {"--school", "7", "run"}, true, "run", {{"school", "7"}}, false, ""},
        ScanCase{"separate_dash_value_is_a_short_option", {"run", "--school", "-5"}, false, "run", {}, false,
                 "Unknown option -5"},
        ScanCase{"option_followed_by_option_gets_default", {"run", "--school", "--all"}, true, "run",
                 {{"school", ""}}, true, ""},
        ScanCase{"option_at_end_gets_default", {"run", "--school"}, true, "run", {{"school", ""}}, false, ""},
        ScanCase{"command_anywhere", {"--school=3", "params"}, true, "params", {{"school", "3"}}, false, ""},
        ScanCase{"second_bare_word", {"run", "extra"}, false, "run", {}, false, "Too many arguments --extra"},
        ScanCase{"no_command", {"--all"}, false, "<null>", {}, true, "Lacking required argument"},
        ScanCase{"unknown_long_option", {"run", "--foo"}, false, "run", {}, false, "Unknown option --foo"},
        ScanCase{"option_names_are_case_sensitive", {"run", "--School=1"}, false, "run", {}, false,
                 "Unknown option --School"},
        ScanCase{"switch_with_value_competes_for_command", {"run", "--all=true"}, false, "run", {}, true,
                 "Too many arguments --true"},
        ScanCase{"single_dash_is_plain", {"-"}, true, "-", {}, false, ""},
        ScanCase{"empty_argument_is_plain", {""}, true, "", {}, false, ""}),
    [](const ::testing::TestParamInfo<ScanCase> &info) { return std::string(info.param.name); });

// A warning quotes a piece of an argument only when that argument may be
// shown; a piece split off a hidden one (after "=", after a short option's
// letter) is named by the mask.
TEST(Scanner, WarningsQuoteOnlyShownArguments)
{
    const struct {
        QStringList arguments; // without the program
        QList<bool> shown;     // with the program
        const char *warning;
    } cases[] = {
        {{"run", "--pwd:abc"}, {true, true, false}, "Unknown option --********"},
        {{"run", "--foo"}, {true, true, true}, "Unknown option --foo"},
        {{"run", "-xSecret"}, {true, true, false}, "Unknown option -********"},
        {{"run", "--pwd", "--Secret"}, {true, true, false, false}, "Unknown option --********"},
        {{"run", "--school", "-5"}, {true, true, true, true}, "Unknown option -5"},
        {{"run", "--all=Secret"}, {true, true, false}, "Too many arguments --********"},
        {{"run", "Secret"}, {true, true, false}, "Too many arguments --********"},
    };
    for (const auto &c : cases) {
        OptionScanner scanner(QStringList{QStringLiteral("morvbridge")} + c.arguments);
        scanner.setShownArguments(c.shown);
        QString command, school, pwd;
        bool all = false;
        scanner.registerBareArgument(QStringLiteral("command"), &command, false);
        scanner.registerSwitch(QStringLiteral("all"), &all);
        scanner.registerOption(QChar(), QStringLiteral("school"), &school, QStringLiteral(""));
        scanner.registerOption(QChar(), QStringLiteral("pwd"), &pwd, QStringLiteral(""));
        g_warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectWarning);
        EXPECT_FALSE(scanner.scan(false));
        qInstallMessageHandler(previous);
        EXPECT_EQ(g_warnings.join(u'|').toStdString(), c.warning) << c.arguments.join(u' ').toStdString();
    }
}

TEST(Scanner, BareDoubleDashEndsTheScan)
{
    OptionScanner scanner(QStringList{QStringLiteral("morvbridge"), QStringLiteral("run"), QStringLiteral("--")});
    QString command;
    scanner.registerBareArgument(QStringLiteral("command"), &command, false);
    const QtMessageHandler previous = qInstallMessageHandler(collectWarning);
    g_warnings.clear();
    EXPECT_FALSE(scanner.scan(false));
    qInstallMessageHandler(previous);
    EXPECT_TRUE(scanner.endRequested());
    EXPECT_EQ(g_warnings, QStringList{QStringLiteral("'--' feature not supported, yet")});
}

TEST(Scanner, ValueAndListKinds)
{
    OptionScanner scanner(QStringList{"p", "--name", "x", "--tag=a", "--tag", "b", "--files", "f1", "-z", "--name=y"});
    QString name;
    QStringList tags, files;
    scanner.registerValue(QChar(), QStringLiteral("name"), &name);
    scanner.registerRepeatable(QChar(), QStringLiteral("tag"), &tags);
    scanner.registerVariableLength(QChar(), QStringLiteral("files"), &files);
    EXPECT_TRUE(scanner.scan(false));
    EXPECT_EQ(name, QStringLiteral("y"));
    EXPECT_EQ(tags, (QStringList{"a", "b"}));
    // Unknown options are collected as they are while a list is open.
    EXPECT_EQ(files, (QStringList{"f1", "-z"}));
    EXPECT_TRUE(scanner.wasGiven(QStringLiteral("files")));
    EXPECT_FALSE(scanner.wasGiven(QStringLiteral("other")));

    OptionScanner missing(QStringList{"p", "--name"});
    missing.registerValue(QChar(), QStringLiteral("name"), &name);
    const QtMessageHandler previous = qInstallMessageHandler(collectWarning);
    g_warnings.clear();
    EXPECT_FALSE(missing.scan(false));
    qInstallMessageHandler(previous);
    EXPECT_EQ(g_warnings, QStringList{QStringLiteral("Expected an argument after 'name' option")});
}

} // namespace
