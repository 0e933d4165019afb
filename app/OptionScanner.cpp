// Option scanner: a small state machine over the argument list (Start, Expecting
// a value, Optional value) with one extra pass for the end of the line.
#include "app/OptionScanner.h"

#include <QFileInfo>
#include <QtGlobal>

OptionScanner::OptionScanner(int argc, const char *const *argv)
{
    QStringList all;
    for (int i = 0; i < argc; ++i)
        all.append(QString::fromUtf8(argv[i]));
    *this = OptionScanner(all);
}

OptionScanner::OptionScanner(const QStringList &arguments)
{
    if (!arguments.isEmpty()) {
        QString program = arguments.first();
        program.replace(u'\\', u'/');
        m_programName = QFileInfo(program).fileName();
        m_arguments = arguments.mid(1);
    }
}

void OptionScanner::setShownArguments(const QList<bool> &shown)
{
    m_shown = shown.mid(1);
}

QByteArray OptionScanner::quoted(const Token &token, const QString &text) const
{
    const bool shown = token.source < 0 || token.source >= m_shown.size() || m_shown.at(token.source);
    return (shown ? text : mask()).toUtf8();
}

void OptionScanner::addOption(Option option)
{
    if (option.flag)
        *option.flag = false;
    if (option.text)
        *option.text = QString();
    if (option.list)
        option.list->clear();
    m_options.push_back(std::move(option));
}

void OptionScanner::registerSwitch(const QString &longName, bool *target, QChar shortName)
{
    Option o(Kind::Switch, shortName, longName);
    o.flag = target;
    addOption(std::move(o));
}

void OptionScanner::registerOption(QChar shortName, const QString &longName, QString *target,
                                   const QString &defaultValue)
{
    Option o(Kind::OptionalValue, shortName, longName);
    o.text = target;
    o.defaultValue = defaultValue;
    addOption(std::move(o));
}

void OptionScanner::registerValue(QChar shortName, const QString &longName, QString *target)
{
    Option o(Kind::Value, shortName, longName);
    o.text = target;
    addOption(std::move(o));
}

void OptionScanner::registerRepeatable(QChar shortName, const QString &longName, QStringList *target)
{
    Option o(Kind::Repeatable, shortName, longName);
    o.list = target;
    addOption(std::move(o));
}

void OptionScanner::registerVariableLength(QChar shortName, const QString &longName, QStringList *target)
{
    Option o(Kind::VariableLength, shortName, longName);
    o.list = target;
    addOption(std::move(o));
}

void OptionScanner::registerBareArgument(const QString &name, QString *target, bool optional)
{
    *target = QString();
    if (optional) {
        m_hasOptional = true;
        m_optional = {name, target};
    } else {
        m_hasRequired = true;
        m_required = {name, target};
    }
}

OptionScanner::Option *OptionScanner::findLong(const QString &name)
{
    for (Option &o : m_options) {
        if (!o.longName.isEmpty() && o.longName == name)
            return &o;
    }
    return nullptr;
}

OptionScanner::Option *OptionScanner::findShort(QChar name)
{
    for (Option &o : m_options) {
        if (!o.shortName.isNull() && o.shortName == name)
            return &o;
    }
    return nullptr;
}

void OptionScanner::markSet(const Option &option)
{
    if (!option.longName.isEmpty())
        m_setOptions[option.longName] = 1;
    if (!option.shortName.isNull())
        m_setOptions[QString(option.shortName)] = 1;
}

bool OptionScanner::scan(bool stopAtFirstSwitch)
{
    enum class State { Start, Expecting, Optional };
    enum class TokenType { Plain, Long, Short, End };

    // Arguments are taken from the back, so the stack holds them reversed.
    std::vector<Token> stack;
    for (qsizetype i = m_arguments.size(); i-- > 0;)
        stack.push_back({m_arguments.at(i), false, i});

    State state = State::Start;
    Option *current = nullptr;
    bool currentShort = false;

    for (;;) {
        const bool atEnd = stack.empty();
        Token token;
        if (!atEnd) {
            token = stack.back();
            stack.pop_back();
        }

        // 1. Classify without side effects; the split-off rest is pushed only once
        // the token is really consumed.
        TokenType type = TokenType::Plain;
        QString name;
        Token rest;
        bool hasRest = false;
        if (atEnd) {
            type = TokenType::End;
        } else if (token.literal) {
            type = TokenType::Plain;
        } else if (token.text.startsWith(QLatin1String("--"))) {
            name = token.text.mid(2);
            if (name.isEmpty()) {
                qWarning("'--' feature not supported, yet");
                m_endRequested = true;
                return false;
            }
            const qsizetype eq = name.indexOf(u'=');
            if (eq >= 0) {
                rest = {name.mid(eq + 1), true, token.source};
                hasRest = true;
                name.truncate(eq);
            }
            type = TokenType::Long;
        } else if (token.text.size() == 1) {
            type = TokenType::Plain;
        } else if (token.text.startsWith(u'-')) {
            name = token.text.mid(1, 1);
            if (token.text.size() > 2) {
                rest = {token.text.mid(2), false, token.source};
                hasRest = true;
            }
            type = TokenType::Short;
        }

        // 2. Look the option up.
        Option *option = nullptr;
        if (type == TokenType::Long || type == TokenType::Short) {
            option = type == TokenType::Long ? findLong(name) : findShort(name.at(0));
            if (!option) {
                const bool collecting = state == State::Optional && current
                    && current->kind == Kind::VariableLength;
                if (!collecting) {
                    if (type == TokenType::Long)
                        qWarning("Unknown option --%s", quoted(token, name).constData());
                    else
                        qWarning("Unknown option -%s", quoted(token, name).constData());
                    return false;
                }
                type = TokenType::Plain;
                hasRest = false;
            }
        }
        if (hasRest)
            stack.push_back(rest);

        // 3. Act on the state.
        switch (state) {
        case State::Start:
            if (type == TokenType::Plain) {
                BareArgument *bare = m_hasRequired ? &m_required : (m_hasOptional ? &m_optional : nullptr);
                if (bare) {
                    if (bare->target->isNull()) {
                        *bare->target = token.text;
                    } else {
                        qWarning("Too many arguments --%s", quoted(token, token.text).constData());
                        return false;
                    }
                }
            } else if (option) {
                markSet(*option);
                current = option;
                currentShort = type == TokenType::Short;
                switch (option->kind) {
                case Kind::Switch:
                    *option->flag = true;
                    if (stopAtFirstSwitch)
                        return true;
                    break;
                case Kind::Value:
                case Kind::Repeatable:
                    state = State::Expecting;
                    break;
                case Kind::OptionalValue:
                case Kind::VariableLength:
                    state = State::Optional;
                    break;
                default:
                    break;
                }
            }
            break;

        case State::Expecting:
            if (type == TokenType::Plain) {
                if (current->kind == Kind::Repeatable)
                    current->list->append(token.text);
                else
                    *current->text = token.text;
                state = State::Start;
            } else {
                const QString shown = currentShort ? QString(current->shortName) : current->longName;
                qWarning("Expected an argument after '%s' option", shown.toUtf8().constData());
                return false;
            }
            break;

        case State::Optional:
            if (type == TokenType::Plain) {
                if (current->kind == Kind::VariableLength) {
                    current->list->append(token.text);
                } else {
                    *current->text = token.text;
                    state = State::Start;
                }
            } else {
                if (current->kind == Kind::OptionalValue)
                    *current->text = current->defaultValue;
                if (type != TokenType::End) {
                    // Read this token again from the Start state, unsplit.
                    if (hasRest)
                        stack.pop_back();
                    stack.push_back(token);
                }
                state = State::Start;
            }
            break;
        }

        if (atEnd)
            break;
    }

    if (m_hasRequired && m_required.target->isNull()) {
        qWarning("Lacking required argument");
        return false;
    }
    return true;
}
