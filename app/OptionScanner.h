// Command-line scanner: turns the process arguments into values bound to the
// caller's variables (switches, --key=value options and one bare command word).
// Problems are raised as toolkit warnings, which the driver logs.
#pragma once

#include <QByteArray>
#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>
#include <map>
#include <vector>

class OptionScanner
{
public:
    enum class Kind { Unknown, End, Switch, Value, OptionalValue, Repeatable, VariableLength };

    OptionScanner(int argc, const char *const *argv);
    explicit OptionScanner(const QStringList &arguments); // first entry is the program

    // Each registration resets its target: switches to false, texts to null.
    void registerSwitch(const QString &longName, bool *target, QChar shortName = QChar());
    void registerOption(QChar shortName, const QString &longName, QString *target,
                        const QString &defaultValue = QString());
    void registerValue(QChar shortName, const QString &longName, QString *target);
    void registerRepeatable(QChar shortName, const QString &longName, QStringList *target);
    void registerVariableLength(QChar shortName, const QString &longName, QStringList *target);
    void registerBareArgument(const QString &name, QString *target, bool optional);

    // Which arguments a warning may quote, index for index with the
    // constructor's list (the program first). A warning about a piece of an
    // argument not shown names it by the mask instead. Without this call
    // every argument is shown.
    void setShownArguments(const QList<bool> &shown);
    static QString mask() { return QStringLiteral("********"); }

    // True when the whole command line was understood.
    bool scan(bool stopAtFirstSwitch = false);

    bool wasGiven(const QString &name) const { return m_setOptions.count(name) != 0; }
    QString programName() const { return m_programName; }
    // True when the scan stopped at a bare "--", which ends the process with status 2.
    bool endRequested() const { return m_endRequested; }

private:
    struct Option
    {
        Option(Kind kind, QChar shortName, const QString &longName)
            : kind(kind), shortName(shortName), longName(longName)
        {
        }

        Kind kind = Kind::Unknown;
        QChar shortName;
        QString longName;
        bool *flag = nullptr;
        QString *text = nullptr;
        QStringList *list = nullptr;
        QString defaultValue;
    };
    struct BareArgument
    {
        QString name;
        QString *target = nullptr;
    };
    // One argument waiting to be read. A value split off "--key=value" is literal:
    // it is the value as given, even when it starts with "-".
    struct Token
    {
        QString text;
        bool literal = false;
        qsizetype source = -1; // the argument it came from, in m_arguments
    };

    void addOption(Option option);
    Option *findLong(const QString &name);
    Option *findShort(QChar name);
    void markSet(const Option &option);
    // `text` (a piece of `token`) as a warning may quote it, in UTF-8.
    QByteArray quoted(const Token &token, const QString &text) const;

    QString m_programName;
    QStringList m_arguments;
    QList<bool> m_shown; // per entry of m_arguments; empty: all shown
    std::vector<Option> m_options;
    std::map<QString, int> m_setOptions;
    bool m_hasRequired = false;
    bool m_hasOptional = false;
    BareArgument m_required;
    BareArgument m_optional;
    bool m_endRequested = false;
};
