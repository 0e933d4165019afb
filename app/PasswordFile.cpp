// Password files: opened once, checked on the opened file (not on the name,
// which could be swapped in between), read whole.
#include "app/PasswordFile.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PasswordFile {

namespace {

// Closes the descriptor on every way out.
struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

QString fileText(const QString &osPath) { return QStringLiteral("The password file ") + osPath; }

} // namespace

bool Read(const QString &osPath, QString &password, QString &cause)
{
    password.clear();
    const QByteArray name = osPath.toLocal8Bit();
    Descriptor file{::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)};
    if (file.fd < 0) {
        cause = fileText(osPath) + QStringLiteral(" cannot be read: ") + QString::fromLocal8Bit(std::strerror(errno))
            + u'.';
        return false;
    }
    struct stat status {};
    if (::fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        cause = fileText(osPath) + QStringLiteral(" is not a regular file.");
        return false;
    }
    if (status.st_mode & (S_IRGRP | S_IROTH)) {
        cause = fileText(osPath) + QStringLiteral(" may be read by its group or others (mode ")
            + QString::number(status.st_mode & 07777, 8).rightJustified(4, u'0')
            + QStringLiteral("); allow only its owner to read it, for example with chmod 600.");
        return false;
    }

    QByteArray bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            cause = fileText(osPath) + QStringLiteral(" cannot be read: ")
                + QString::fromLocal8Bit(std::strerror(errno)) + u'.';
            return false;
        }
        bytes.append(buffer, n);
    }

    if (bytes.endsWith("\r\n"))
        bytes.chop(2);
    else if (bytes.endsWith('\n'))
        bytes.chop(1);
    if (bytes.isEmpty()) {
        cause = fileText(osPath) + QStringLiteral(" is empty.");
        return false;
    }
    // A second line is a sign of the wrong file, and no data source takes a
    // line break inside a password.
    if (bytes.contains('\n') || bytes.contains('\r')) {
        cause = fileText(osPath) + QStringLiteral(" holds more than one line; it must hold only the password.");
        return false;
    }
    // The same bytes as the password typed on the command line.
    password = QString::fromUtf8(bytes);
    return true;
}

} // namespace PasswordFile
