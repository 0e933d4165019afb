// Random-input checks of the two readers of outside input that run before
// anything else: the HNConfig.xml reader and the option scanner. A seeded
// generator builds inputs (well-formed ones with a known answer, and mutated
// ones that only must not crash, hang or answer inconsistently); the fuzzing
// benchmark runs it for a bounded time, the tests replay a stored corpus.
#pragma once

#include "app/HNConfigReader.h"
#include "app/OptionScanner.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <random>
#include <string>

namespace fuzz {

// What one input did; an empty `fault` means every check held.
struct Verdict
{
    std::string outcome; // a short class of what happened, for telling inputs apart
    std::string fault;
};

// ---------------------------------------------------------------- HNConfig.xml

// Parses `bytes`; when `expectedSchools` >= 0 the input is well-formed and
// must be read with exactly that many schools.
inline Verdict CheckHNConfig(const QByteArray &bytes, int expectedSchools = -1)
{
    Verdict verdict;
    HNConfigReader reader;
    switch (reader.read(bytes)) {
    case HNConfigReader::Outcome::Read:
        verdict.outcome = "read:" + std::to_string(std::min<qsizetype>(reader.schools().size(), 3));
        for (const QDomElement &school : reader.schools()) {
            if (school.tagName() != QLatin1String("HNSchoolConf"))
                verdict.fault = "a school element with another tag";
        }
        if (expectedSchools >= 0 && reader.schools().size() != expectedSchools)
            verdict.fault = "read " + std::to_string(reader.schools().size()) + " schools, expected "
                + std::to_string(expectedSchools);
        break;
    case HNConfigReader::Outcome::ParseError: {
        // The message class: its last two words, without the position and
        // the names quoted from the input.
        const QString text = reader.errorText();
        const QStringList words = text.section(QStringLiteral(": "), 1).split(u' ', Qt::SkipEmptyParts);
        verdict.outcome = "parse:" + words.mid(std::max<qsizetype>(0, words.size() - 2)).join(u'_').toStdString();
        if (!text.startsWith(QLatin1String("XML parse error at line ")))
            verdict.fault = "parse error without its position: " + text.toStdString();
        if (expectedSchools >= 0)
            verdict.fault = "well-formed input refused: " + text.toStdString();
        break;
    }
    case HNConfigReader::Outcome::NotConfigFile:
        verdict.outcome = "not-config";
        if (expectedSchools >= 0)
            verdict.fault = "well-formed input not taken for a configuration file";
        break;
    }
    return verdict;
}

class Generator
{
public:
    explicit Generator(uint32_t seed) : m_random(seed) {}

    int Below(int n) { return static_cast<int>(m_random() % static_cast<uint32_t>(n)); }

    // A well-formed configuration file with `schools` school elements, some
    // nested, with awkward but legal attribute texts.
    QByteArray WellFormedConfig(int &schools)
    {
        static const char *const values[] = {"", "Morv", "C:\\PDE\\", "O'Brien &amp; Co", "&lt;x&gt;", "\xc3\xa9t\xc3\xa9",
                                             "a\tb", "&#233;", "&quot;q&quot;", "0101"};
        static const char *const attributes[] = {"SISImportFolder", "SISDSN", "SISUserName", "SISPassword",
                                                 "SchoolNumber", "Other"};
        schools = Below(5);
        QByteArray xml;
        if (Below(2))
            xml += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        xml += Below(3) == 0 ? "<HNSchoolConfFile xmlns=\"urn:harnoth\">" : "<HNSchoolConfFile>";
        for (int i = 0; i < schools; ++i) {
            const bool nested = Below(3) == 0;
            if (nested)
                xml += "<Group>";
            xml += "<HNSchoolConf";
            for (const char *attribute : attributes) {
                if (Below(3))
                    xml += QByteArray(" ") + attribute + "=\"" + values[Below(10)] + "\"";
            }
            xml += Below(2) ? "/>" : "><!-- c --></HNSchoolConf>";
            if (nested)
                xml += "</Group>";
            if (Below(4) == 0)
                xml += "<Other a=\"1\"/>";
        }
        xml += "</HNSchoolConfFile>";
        return xml;
    }

    // A start tag with `count` attributes, or (as a document type) that many
    // attribute defaults for every school element.
    static QByteArray CrowdedTag(int count, bool byDocumentType)
    {
        QByteArray text = byDocumentType ? "<!DOCTYPE HNSchoolConfFile [<!ATTLIST HNSchoolConf" : "<HNSchoolConf";
        for (int i = 0; i < count; ++i)
            text += " a" + QByteArray::number(i) + (byDocumentType ? " CDATA \"v\"" : "=\"v\"");
        return text + (byDocumentType ? ">]>" : "/>");
    }

    // A changed copy of `input`: flipped, cut, repeated or inserted bytes,
    // including pieces that parsers find hard (entities, deep nesting, bad
    // encodings, elements with many attributes, many elements).
    QByteArray Mutate(QByteArray input)
    {
        // Counts around the reader's bounds and far beyond them, where its
        // time or memory would grow out of hand.
        static const int attributeCounts[] = {99, 100, 101, 1000, 40000};
        static const int entryCounts[] = {9998, 10001, 200000};
        static const char *const pieces[] = {
            "<", ">", "&", "&amp;", "&#0;", "&#xD800;", "<!DOCTYPE a [<!ENTITY e \"&e;\">]>", "&e;",
            "<![CDATA[", "]]>", "<?xml version=\"1.0\" encoding=\"windows-1252\"?>", "\xff\xfe", "\xc3",
            "\xe9", "xmlns:h=\"\"", "<h:HNSchoolConf/>", "<HNSchoolConf", "\"", "'", "\0", "</HNSchoolConfFile>",
            "<HNSchoolConfFile>"};
        const int steps = 1 + Below(4);
        for (int step = 0; step < steps; ++step) {
            const int at = input.isEmpty() ? 0 : Below(static_cast<int>(input.size()) + 1);
            switch (Below(8)) {
            case 0:
                if (!input.isEmpty())
                    input[std::min<qsizetype>(at, input.size() - 1)] = static_cast<char>(Below(256));
                break;
            case 1:
                input.truncate(at);
                break;
            case 2: {
                const char *piece = pieces[Below(sizeof pieces / sizeof *pieces)];
                input.insert(at, *piece ? QByteArray(piece) : QByteArray(1, '\0'));
                break;
            }
            case 3:
                input.insert(at, input.mid(Below(static_cast<int>(input.size()) + 1), Below(64)));
                break;
            case 4: {
                QByteArray deep;
                const int depth = Below(2000);
                for (int i = 0; i < depth; ++i)
                    deep += "<g>";
                input.insert(at, deep);
                break;
            }
            case 5: {
                const int count = attributeCounts[Below(5)];
                if (Below(4) == 0)
                    input.prepend(CrowdedTag(count, true));
                else
                    input.insert(at, CrowdedTag(count, false));
                break;
            }
            case 6:
                input.insert(at, QByteArray("<HNSchoolConf/>").repeated(entryCounts[Below(3)]));
                break;
            default:
                if (!input.isEmpty())
                    input.remove(at, Below(16));
                break;
            }
        }
        return input;
    }

    // ------------------------------------------------------------ command lines

    // Arguments as the importer might send them; `expected` is filled when
    // the line is one the scanner must accept, with the values it must bind
    // (the bare word under "command", switches as "1").
    QStringList CommandLine(std::map<QString, QString> &expected, bool &valid)
    {
        static const char *const words[] = {"run", "params", "test", "defaults", "version", "help"};
        static const char *const values[] = {"", "x", "C:\\Export\\", "a=b", "-v", "--", "\xc3\xa9",
                                             "with space", "\"quoted\""};
        QStringList arguments = {QStringLiteral("morvbridge")};
        expected.clear();
        valid = Below(2) == 0;
        if (valid) {
            QStringList items;
            const QString word = QString::fromLatin1(words[Below(6)]);
            items.append(word);
            expected[QStringLiteral("command")] = word;
            for (const QString &key : ValueKeys()) {
                if (Below(3) == 0) {
                    const QString value = QString::fromUtf8(values[Below(9)]);
                    items.append(QStringLiteral("--") + key + u'=' + value);
                    expected[key] = value;
                }
            }
            for (const QString &key : SwitchKeys()) {
                if (Below(4) == 0) {
                    items.append(QStringLiteral("--") + key);
                    expected[key] = QStringLiteral("1");
                }
            }
            // Order does not matter to the scanner.
            for (qsizetype i = items.size() - 1; i > 0; --i)
                items.swapItemsAt(i, Below(static_cast<int>(i) + 1));
            return arguments + items;
        }
        const int count = Below(8);
        static const char *const junk[] = {"--", "-", "---", "--=", "=", "--path", "--path=", "--all=1",
                                           "--nosuch=1", "-p", "--PATH=x", "run", "--pwd", "\xff", "--group=a=b"};
        for (int i = 0; i < count; ++i) {
            QString argument = QString::fromUtf8(junk[Below(sizeof junk / sizeof *junk)]);
            if (Below(3) == 0)
                argument += QString::fromUtf8(values[Below(9)]);
            arguments.append(argument);
        }
        return arguments;
    }

    static QStringList ValueKeys()
    {
        return {QStringLiteral("group"), QStringLiteral("paramkey"), QStringLiteral("path"), QStringLiteral("log"),
                QStringLiteral("validate"), QStringLiteral("dsn"), QStringLiteral("pwd"), QStringLiteral("pwdencode")};
    }
    static QStringList SwitchKeys()
    {
        return {QStringLiteral("all"), QStringLiteral("att"), QStringLiteral("demo"), QStringLiteral("help")};
    }

private:
    std::mt19937 m_random;
};

// Scans `arguments` as the driver registers its keys. With `expected` set
// (a valid line), the scan must succeed and bind exactly those values.
inline Verdict CheckCommandLine(const QStringList &arguments, const std::map<QString, QString> *expected = nullptr)
{
    // The scanner reports through toolkit warnings; they are not the subject.
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    Verdict verdict;
    OptionScanner scanner(arguments);
    QString command;
    std::map<QString, bool> switches;
    std::map<QString, QString> values;
    scanner.registerBareArgument(QStringLiteral("command"), &command, false);
    for (const QString &key : Generator::SwitchKeys())
        scanner.registerSwitch(key, &switches[key]);
    for (const QString &key : Generator::ValueKeys())
        scanner.registerOption(QChar(), key, &values[key], QStringLiteral(""));
    const bool parsed = scanner.scan(false);
    qInstallMessageHandler(previous);

    verdict.outcome = scanner.endRequested() ? "end" : parsed ? "parsed" : "refused";
    if (parsed && command.isEmpty() && !scanner.endRequested())
        verdict.fault = "accepted without a command word";
    if (parsed && !command.isEmpty()) {
        // A switch written with a value leaves the value as a plain argument,
        // which may become the command word.
        bool found = false;
        for (const QString &argument : arguments.mid(1))
            found = found || argument == command || argument.endsWith(u'=' + command);
        if (!found)
            verdict.fault = "command word not among the arguments: " + command.toStdString();
    }
    if (!expected)
        return verdict;
    if (!parsed) {
        verdict.fault = "valid line refused";
        return verdict;
    }
    const auto want = [expected](const QString &key) {
        const auto it = expected->find(key);
        return it == expected->end() ? QString() : it->second;
    };
    if (command != want(QStringLiteral("command")))
        verdict.fault = "command " + command.toStdString();
    for (const auto &entry : values) {
        if (entry.second != want(entry.first))
            verdict.fault = "--" + entry.first.toStdString() + " bound to '" + entry.second.toStdString() + "'";
    }
    for (const auto &entry : switches) {
        if (entry.second != !want(entry.first).isEmpty())
            verdict.fault = "--" + entry.first.toStdString() + " switch wrong";
    }
    return verdict;
}

// A command line stored in a corpus file: one argument per line, after the
// program name.
inline QStringList ArgumentsFromCorpus(const QByteArray &bytes)
{
    QStringList arguments = {QStringLiteral("morvbridge")};
    for (const QByteArray &line : bytes.split('\n')) {
        if (!line.isEmpty())
            arguments.append(QString::fromUtf8(line));
    }
    return arguments;
}

} // namespace fuzz
