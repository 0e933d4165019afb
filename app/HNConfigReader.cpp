// HNConfig.xml: a bounded read of a regular file, a linear check of the
// bounds, then parsing with the DOM parser, namespaces on.
#include "app/HNConfigReader.h"

#include <QDomNodeList>
#include <QFile>
#include <QXmlStreamReader>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// What a path is when it is not a regular file, for the refusal.
QString NotRegular(mode_t mode)
{
    const char *what = S_ISDIR(mode) ? "a folder" : S_ISFIFO(mode) ? "a FIFO" : S_ISSOCK(mode) ? "a socket"
        : S_ISCHR(mode) || S_ISBLK(mode) ? "a device" : "not a plain file";
    return QStringLiteral("not a regular file (%1)").arg(QLatin1String(what));
}

// ---------------------------------------------------------------- the lexical check
//
// The stream parser's time grows with the square of an element's attribute
// count, so a written start tag is measured before any parser sees it. The
// scan follows the XML lexical structure only as far as needed: comments,
// CDATA sections and processing instructions end at their first closing
// sequence, quoted literals are skipped whole, so no '<' or '>' inside one
// is mistaken for markup.

bool StartsAt(const QByteArray &bytes, qsizetype at, const char *text)
{
    const qsizetype length = static_cast<qsizetype>(std::strlen(text));
    return at + length <= bytes.size() && std::memcmp(bytes.constData() + at, text, static_cast<size_t>(length)) == 0;
}

// Just past the first `end` from `from`, or the end of the bytes.
qsizetype SkipPast(const QByteArray &bytes, qsizetype from, const char *end)
{
    const qsizetype at = bytes.indexOf(end, from);
    return at < 0 ? bytes.size() : at + static_cast<qsizetype>(std::strlen(end));
}

// Just past the quoted literal opening at `at`.
qsizetype SkipLiteral(const QByteArray &bytes, qsizetype at)
{
    const qsizetype close = bytes.indexOf(bytes.at(at), at + 1);
    return close < 0 ? bytes.size() : close + 1;
}

// Just past the tag whose name starts at `at`; `equals` counts the '=' outside
// its quoted values, at least one per attribute the parser can find in it.
qsizetype SkipTag(const QByteArray &bytes, qsizetype at, int &equals)
{
    for (qsizetype i = at; i < bytes.size();) {
        const char c = bytes.at(i);
        if (c == '"' || c == '\'') {
            i = SkipLiteral(bytes, i);
        } else if (c == '>') {
            return i + 1;
        } else {
            if (c == '=')
                ++equals;
            ++i;
        }
    }
    return bytes.size();
}

qsizetype SkipDeclaration(const QByteArray &bytes, qsizetype at, int &defaults);

// Just past the internal subset of a DOCTYPE, which starts at `at` (after its '[').
qsizetype SkipSubset(const QByteArray &bytes, qsizetype at, int &defaults)
{
    for (qsizetype i = at; i < bytes.size();) {
        if (bytes.at(i) == ']')
            return i + 1;
        if (StartsAt(bytes, i, "<!--"))
            i = SkipPast(bytes, i + 4, "-->");
        else if (StartsAt(bytes, i, "<?"))
            i = SkipPast(bytes, i + 2, "?>");
        else if (StartsAt(bytes, i, "<!"))
            i = SkipDeclaration(bytes, i, defaults);
        else
            ++i;
    }
    return bytes.size();
}

// Just past the markup declaration ("<!DOCTYPE", "<!ATTLIST", ...) at `at`.
// Each literal of an ATTLIST may give every element of a kind one more
// attribute, so `defaults` counts them.
qsizetype SkipDeclaration(const QByteArray &bytes, qsizetype at, int &defaults)
{
    const bool attlist = StartsAt(bytes, at, "<!ATTLIST");
    for (qsizetype i = at + 2; i < bytes.size();) {
        const char c = bytes.at(i);
        if (c == '"' || c == '\'') {
            if (attlist)
                ++defaults;
            i = SkipLiteral(bytes, i);
        } else if (c == '[') {
            i = SkipSubset(bytes, i + 1, defaults);
        } else if (c == '>') {
            return i + 1;
        } else {
            ++i;
        }
    }
    return bytes.size();
}

// Where the first start tag with more than `limit` attributes (written, or
// given by the document's ATTLIST declarations) begins; -1 when none has.
qsizetype FindCrowdedTag(const QByteArray &bytes, int limit)
{
    int defaults = 0;
    for (qsizetype i = bytes.indexOf('<'); i >= 0 && i < bytes.size(); i = bytes.indexOf('<', i)) {
        if (StartsAt(bytes, i, "<!--")) {
            i = SkipPast(bytes, i + 4, "-->");
        } else if (StartsAt(bytes, i, "<![CDATA[")) {
            i = SkipPast(bytes, i + 9, "]]>");
        } else if (StartsAt(bytes, i, "<?")) {
            i = SkipPast(bytes, i + 2, "?>");
        } else if (StartsAt(bytes, i, "<!")) {
            i = SkipDeclaration(bytes, i, defaults);
        } else {
            int equals = 0;
            const qsizetype end = SkipTag(bytes, i + 1, equals);
            if (!StartsAt(bytes, i, "</") && equals + defaults > limit)
                return i;
            i = end;
        }
    }
    return -1;
}

} // namespace

bool HNConfigReader::ReadFile(const QString &path, QByteArray &bytes, QString &cause)
{
    bytes.clear();
    const QByteArray name = QFile::encodeName(path);
    // Judged before opening: opening a FIFO for reading waits for a writer.
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        cause = SystemError(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        cause = NotRegular(st.st_mode);
        return false;
    }
    // Should the name be replaced in between, opening without blocking and
    // judging the opened file again refuses what it became.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        cause = SystemError(errno);
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::fstat(fd, &st) != 0) {
        cause = SystemError(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        cause = NotRegular(st.st_mode);
        return false;
    }
    const QString tooLarge = QStringLiteral("larger than %1 MB").arg(MaxSize / (1024 * 1024));
    if (st.st_size > MaxSize) {
        cause = tooLarge;
        return false;
    }
    // Read to the end, not to the size seen: the file may be growing.
    bytes.resize(MaxSize + 1);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, static_cast<size_t>(bytes.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            cause = SystemError(errno);
            bytes.clear();
            return false;
        }
        if (got == 0)
            break;
        done += got;
    }
    if (done > MaxSize) {
        cause = tooLarge;
        bytes.clear();
        return false;
    }
    bytes.truncate(done);
    bytes.squeeze();
    return true;
}

void HNConfigReader::SetError(qint64 line, qint64 column, const QString &message)
{
    m_errorText = QStringLiteral("XML parse error at line %1, column %2: %3").arg(line).arg(column).arg(message);
}

bool HNConfigReader::WithinBounds(const QByteArray &bytes)
{
    const qsizetype crowded = FindCrowdedTag(bytes, MaxAttributes);
    if (crowded >= 0) {
        const qsizetype lineStart = bytes.lastIndexOf('\n', crowded) + 1;
        SetError(bytes.left(crowded).count('\n') + 1, crowded - lineStart + 1,
                 QStringLiteral("an element with more than %1 attributes").arg(MaxAttributes));
        return false;
    }

    // Building a tree costs time in the square of its depth and memory for
    // every node; entities may also bring elements the lexical check cannot
    // see. A streaming pass counts them all in linear time.
    QXmlStreamReader stream(bytes);
    int depth = 0;
    int elements = 0;
    qint64 attributes = 0;
    while (!stream.atEnd() && !stream.hasError()) {
        const QXmlStreamReader::TokenType token = stream.readNext();
        if (token == QXmlStreamReader::EndElement) {
            --depth;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        const qsizetype own = stream.attributes().size();
        attributes += own;
        QString problem;
        if (++depth > MaxDepth)
            problem = QStringLiteral("elements nested deeper than %1 levels").arg(MaxDepth);
        else if (own > MaxAttributes)
            problem = QStringLiteral("an element with more than %1 attributes").arg(MaxAttributes);
        else if (++elements > MaxElements)
            problem = QStringLiteral("more than %1 elements").arg(MaxElements);
        else if (attributes > MaxAllAttributes)
            problem = QStringLiteral("more than %1 attributes").arg(MaxAllAttributes);
        if (!problem.isEmpty()) {
            SetError(stream.lineNumber(), stream.columnNumber(), problem);
            return false;
        }
    }
    return true;
}

HNConfigReader::Outcome HNConfigReader::read(const QByteArray &bytes)
{
    m_schools.clear();
    m_errorText.clear();
    m_document = QDomDocument(QStringLiteral("hnconfig"));

    if (!WithinBounds(bytes))
        return Outcome::ParseError;

    QString message;
    int line = 0;
    int column = 0;
    if (!m_document.setContent(bytes, true, &message, &line, &column)) {
        SetError(line, column, message);
        return Outcome::ParseError;
    }

    const QDomElement root = m_document.documentElement();
    if (root.isNull() || root.tagName() != QLatin1String("HNSchoolConfFile"))
        return Outcome::NotConfigFile;

    const QDomNodeList found = root.elementsByTagName(QStringLiteral("HNSchoolConf"));
    for (int i = 0; i < found.size(); ++i) {
        const QDomElement element = found.at(i).toElement();
        if (!element.isNull())
            m_schools.append(element);
    }
    return Outcome::Read;
}
