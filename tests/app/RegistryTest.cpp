// The parameter registry of the bridge: requirement rules with dependencies,
// missing reports, registration rules and the "params" command's answers.
#include "app/BridgeBase.h"
#include "tests/support/CallbackSink.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// Records what the application tells the importer, in order.
struct Recorder
{
    QStringList lines;
    CallbackSink sink;

    explicit Recorder(AppBase &app)
    {
        sink.onMissing = [this](const QString &k, const QString &m) { lines << "missing|" + k + "|" + m; };
        sink.onWarning = [this](const QString &k, const QString &m) { lines << "warning|" + k + "|" + m; };
        sink.onError = [this](const QString &k, const QString &m) { lines << "error|" + k + "|" + m; };
        sink.onTest = [this](const QString &s, const QString &g, const QString &m) {
            lines << "test|" + g + "|" + s + "|" + m;
        };
        sink.onList = [this](const QString &t, const QString &k, const QString &dk, const QString &dn,
                             const QString &) { lines << t + "|" + k + "|" + dk + "|" + dn; };
        sink.onLog = [this](int level, const QString &m, const QString &) {
            lines << "log|" + QString::number(level) + "|" + m;
        };
        app.setSink(&sink);
    }
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;
};

struct RequirementCase
{
    const char *name;
    QString check;
    QMap<QString, QString> values;
    int status;
    QStringList lines;
};

class Requirements : public ::testing::TestWithParam<RequirementCase>
{
};

TEST_P(Requirements, ReportEveryMissingKeyThenWarn)
{
    const RequirementCase &c = GetParam();
    BridgeBase bridge;
    for (auto it = c.values.cbegin(); it != c.values.cend(); ++it)
        bridge.setValue(it.key(), it.value());
    Recorder recorder(bridge);

    EXPECT_EQ(bridge.checkRequired(c.check), c.status);
    EXPECT_EQ(recorder.lines.join(u'\n').toStdString(), c.lines.join(u'\n').toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Requirements,
    ::testing::Values(
        RequirementCase{"connection_with_plain_password", "connection", {{"dsn", "d"}, {"user", "u"}, {"pwd", "p"}}, 0,
                        {}},
        RequirementCase{"connection_with_encoded_password_only", "connection",
                        {{"dsn", "d"}, {"user", "u"}, {"pwdencode", "2w"}}, 0,
                        // the first alternative's report stays pending in the writer
                        {"missing|pwdencode|Password missing or blank."}},
        RequirementCase{"missing_password_uses_registered_key", "connection", {{"dsn", "d"}, {"user", "u"}}, 1,
                        {"missing|pwdencode|Password missing or blank.", "missing|pwdencode|Password missing or blank.",
                         "warning|connection|Required parameter missing."}},
        RequirementCase{"school_checks_connection_first", "school", {{"school", "5"}}, 1,
                        {"missing|dsn|ODBC DSN missing or blank.", "missing|user|Username missing or blank.",
                         "missing|pwdencode|Password missing or blank.", "missing|dsn|ODBC DSN missing or blank.",
                         "missing|user|Username missing or blank.", "missing|pwdencode|Password missing or blank.",
                         "warning|connection|Required parameter missing."}},
        RequirementCase{"params_needs_group_or_key", "params", {}, 1,
                        {"missing|group|Group missing or blank.", "missing|paramkey|Param Key missing or blank.",
                         "warning|params|Required parameter missing."}},
        RequirementCase{"run_needs_path_after_groups", "run",
                        {{"dsn", "d"}, {"user", "u"}, {"pwd", "p"}, {"school", "1"}}, 1,
                        {"missing|path|PDE Folder missing or blank.", "warning|run|Required parameter missing."}},
        RequirementCase{"name_without_rules", "global", {}, 0, {}},
        RequirementCase{"name_never_registered", "custom", {}, 0, {}}),
    [](const ::testing::TestParamInfo<RequirementCase> &info) { return std::string(info.param.name); });

TEST(Registry, RegistrationRules)
{
    BridgeBase bridge;
    Recorder recorder(bridge);

    // A flag's display name is cut to 15 characters, with an error logged.
    const ParamRecord *flag = bridge.addParam("school", "longflag", "Twenty-four characters!!", ParamType::Flag, "h", "");
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(flag->displayName, QStringLiteral("Twenty-four cha"));
    // Registering an existing key again updates it but keeps the first default.
    bridge.addParam("school", "again", "First", ParamType::Edit, "h", "one");
    const ParamRecord *again = bridge.addParam("school", "again", "Second", ParamType::Edit, "h2", "two");
    EXPECT_EQ(again->displayName, QStringLiteral("Second"));
    EXPECT_EQ(again->defaultValue, QStringLiteral("one"));
    EXPECT_EQ(bridge.valueKeys().count(QStringLiteral("again")), 1);
    // No record for a group that does not exist.
    EXPECT_EQ(bridge.addParam("nosuch", "orphan", "Orphan", ParamType::Edit, "", ""), nullptr);
    EXPECT_EQ(bridge.record("orphan"), nullptr);
    // A password key without "encode" gets no plain form.
    bridge.addParam("connection", "secret", "Secret", ParamType::Password, "", "");
    EXPECT_EQ(bridge.valueKeys().count(QStringLiteral("secret")), 1);

    EXPECT_EQ(recorder.lines.size(), 3);
    EXPECT_TRUE(recorder.lines.value(0).startsWith("log|3|Parameter: longflag has a paramname that is too long: "));
    EXPECT_EQ(recorder.lines.value(1).toStdString(),
              "log|3|Tried to set a parameter for a non-existant group, please contact Quillon Support.");
    EXPECT_TRUE(recorder.lines.value(2).startsWith("log|4|Parameter: secret is a Password style parameter"));
}

TEST(Registry, KeysAndGroupsInRegistrationOrder)
{
    BridgeBase bridge;
    EXPECT_EQ(bridge.switchKeys(), (QStringList{"all", "att", "demo", "help"}));
    const QStringList values = bridge.valueKeys();
    EXPECT_EQ(values.mid(0, 10), (QStringList{"group", "paramkey", "path", "logpath", "log", "validate", "inactivedate",
                                              "year", "teacher", "pwdfile"}));
    EXPECT_EQ(values.indexOf("pwd"), values.indexOf("pwdencode") + 1);
    EXPECT_EQ(bridge.groupRecords("global").size(), 14);
    EXPECT_EQ(bridge.groupRecords("connection").size(), 5);
    EXPECT_EQ(bridge.groupRecords("school").size(), 12);
    EXPECT_TRUE(bridge.record("year")->parentKeys.contains("school"));
    EXPECT_EQ(bridge.value("appShortName_"), QStringLiteral("MORV"));
    EXPECT_EQ(bridge.value("appBuildDate_"), QStringLiteral("Oct 28 2014 18:39:47"));
}

TEST(Registry, ParamKeyReportsItsListOrFailsClearly)
{
    struct Case
    {
        QString paramkey;
        QMap<QString, QString> values;
        int status;
        QString lastLine;
    };
    const Case cases[] = {
        // The year list needs its parent school.
        {"year", {}, 1, "warning|params|Required params missing."},
        // A failed list names its cause: no command but "run" keeps a log.
        {"school", {{"dsn", "d"}, {"user", "u"}, {"pwd", "p"}},
         1, "warning|Loading Schools Failed|Loading Schools failed: [unixODBC][Driver Manager]Data source name not "
            "found and no default driver specified"},
        {"teacher", {}, 1, "warning|teacher|user missing or blank."},
        {"path", {}, 1, "error|No Parameter Return Type Set|No parameter return set for type: folder"},
    };
    for (const Case &c : cases) {
        BridgeBase bridge;
        bridge.setValue("paramkey", c.paramkey);
        for (auto it = c.values.cbegin(); it != c.values.cend(); ++it)
            bridge.setValue(it.key(), it.value());
        Recorder recorder(bridge);
        QString message;
        EXPECT_EQ(bridge.commandParams(message), c.status) << c.paramkey.toStdString();
        EXPECT_EQ(recorder.lines.value(recorder.lines.size() - 1).toStdString(), c.lastLine.toStdString());
    }
}

struct ThrowingBridge : BridgeBase
{
    int groupTest(const QString &, QString &) override { throw std::runtime_error("database went away"); }
};

TEST(Registry, GroupTestThatThrowsFailsTheCommand)
{
    ThrowingBridge bridge;
    bridge.setValue("group", "global");
    Recorder recorder(bridge);
    QString message;
    EXPECT_EQ(bridge.commandTest(message), 1);
    EXPECT_EQ(message.toStdString(), "Data Extractor threw an uncaught exception, please contact Quillon Software "
                                     "Support to fix this issue.");
    EXPECT_EQ(recorder.lines.last().toStdString(), "error|Data Extractor Problem|" + message.toStdString());
}

TEST(Registry, DecodePassword)
{
    struct Case
    {
        QString encoded;
        QString plain;
    };
    const Case cases[] = {
        {"", ""},
        {"2w", "a"},                     // 0x61: positions 6 and 1
        {"7X#m!w", "-x1"},               // a password that starts with a dash
        {"2w2", "a"},                    // odd length: the unpaired tail is dropped
        {"2", ""},
        {"??", QString(QChar(0x33))},    // outside the alphabet: position 3
        {"pp", QString(QChar(0xFF))},    // highest pair
        {QString::fromUtf8("\xC3\xA9\xC3\xA9"), QString(QChar(0x33))},
    };
    for (const Case &c : cases)
        EXPECT_EQ(AppBase::DecodePassword(c.encoded), c.plain) << c.encoded.toStdString();
}

} // namespace
