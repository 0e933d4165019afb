// The command line as the driver reads it (scan, secrets, normalisation),
// one argument per input line. No part of a password may reach what the
// bridge echoes: the logged arguments, the scanner's warnings, the status
// file's "args:" text. Each argument in turn is given a marker character
// that no other argument holds; when the marker lands in a secret value,
// that argument carries a secret, and the marker must appear nowhere in
// what the run echoed.
#include "app/BridgeBase.h"
#include "tests/support/CallbackSink.h"
#include "tests/fuzz/FuzzCheck.h"

#include <QObject>
#include <QStringList>

namespace {

const QChar kMarker(0xE000); // a private-use character

struct Echo
{
    SISConfig::ScannedLine line;
    QStringList logged;
    QMap<QString, QString> secrets; // key -> value, for keys never shown
};

Echo Scan(const QStringList &arguments)
{
    Echo echo;
    BridgeBase bridge;
    CallbackSink sink;
    sink.onLog = [&echo](LogLevel::Level, const QString &message, const QString &) { echo.logged.append(message); };
    bridge.setSink(&sink);
    echo.line = bridge.scanArguments(arguments);
    for (const QString &key : bridge.valueKeys()) {
        if (!bridge.registry().isShownKey(key))
            echo.secrets[key] = bridge.value(key);
    }
    return echo;
}

bool Shows(const Echo &echo, QChar c)
{
    for (const QString &text : echo.line.echoed + echo.logged) {
        if (text.contains(c))
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Toolkit warnings of the scanner reach the log through the bridge's own
    // handler; nothing else of the toolkit may print.
    QStringList arguments = {QStringLiteral("morvbridge")};
    for (const QByteArray &line : QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)).split('\n')) {
        if (arguments.size() > 12)
            break;
        arguments.append(QString::fromUtf8(line).replace(kMarker, QChar(u'x')));
    }
    const Echo plain = Scan(arguments);
    FUZZ_CHECK(!Shows(plain, kMarker), "marker without a marked argument");
    if (plain.line.endRequested)
        return 0;
    FUZZ_CHECK(plain.line.echoed.size() == arguments.size(), "one echoed entry per argument");

    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QStringList marked = arguments;
        marked[i].append(kMarker);
        const Echo echo = Scan(marked);
        if (echo.line.endRequested)
            continue;
        bool secret = false;
        for (const QString &value : echo.secrets)
            secret = secret || value.contains(kMarker);
        if (secret)
            FUZZ_CHECK(!Shows(echo, kMarker),
                       "argument " + std::to_string(i) + " carries a secret and is echoed: "
                           + marked.join(QStringLiteral(" | ")).toStdString());
        // The argument's own entry is the argument or the mask, nothing between.
        FUZZ_CHECK(echo.line.echoed.at(i) == marked.at(i) || echo.line.echoed.at(i) == AppBase::mask(),
                   "echoed entry is neither the argument nor the mask");
    }
    return 0;
}
