// The password file read as --pwdfile reads it. The password handed on is
// the file's one line exactly (one trailing LF or CR LF is not part of
// it), or the file is refused with a cause that names it; a line break
// never ends up inside a password, and nothing is taken from an empty file.
#include "app/PasswordFile.h"
#include "tests/fuzz/FuzzCheck.h"

#include <QByteArray>
#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = FuzzScratchFolder() + "/morv.pwd";
    FuzzWriteFile(path, data, size);

    QString password = QStringLiteral("stale");
    QString cause;
    const bool read = PasswordFile::Read(QString::fromStdString(path), password, cause);

    QByteArray line(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    if (line.endsWith("\r\n"))
        line.chop(2);
    else if (line.endsWith('\n'))
        line.chop(1);
    const bool oneLine = !line.isEmpty() && !line.contains('\n') && !line.contains('\r');
    FUZZ_CHECK(read == oneLine, "accepted " + std::to_string(read) + " for " + line.toStdString());
    if (read) {
        FUZZ_CHECK(password == QString::fromUtf8(line), "password differs from the file's line");
        FUZZ_CHECK(!password.contains(u'\n') && !password.contains(u'\r'), "line break inside the password");
    } else {
        FUZZ_CHECK(password.isEmpty(), "a refused file still set a password");
        FUZZ_CHECK(cause.contains(QString::fromStdString(path)), "the cause does not name the file: " + cause.toStdString());
    }
    return 0;
}
