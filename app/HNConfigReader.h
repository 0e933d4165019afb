// Reads the importer's configuration file HNConfig.xml: fetches its bytes
// (a regular file of bounded size only), checks that it is one and finds its
// school configurations. Reporting belongs to the defaults command; this class
// only reads and judges.
#pragma once

#include <QByteArray>
#include <QDomDocument>
#include <QDomElement>
#include <QList>
#include <QString>

class HNConfigReader
{
public:
    enum class Outcome {
        Read,         // a configuration file, with zero or more schools
        ParseError,   // not well-formed XML, or beyond the bounds below; errorText() says where
        NotConfigFile // XML, but empty or with another root element
    };

    // Files the importer writes are a few kilobytes. The bounds keep the
    // parser's time and memory small whatever a file holds: anything beyond
    // them is not the importer's configuration and is refused before the
    // document is built.
    static constexpr qint64 MaxSize = 8 * 1024 * 1024;
    // Its elements lie two or three levels deep.
    static constexpr int MaxDepth = 100;
    // A school configuration has a handful of attributes; the parser's time
    // grows with the square of an element's attribute count.
    static constexpr int MaxAttributes = 100;
    static constexpr int MaxAllAttributes = 50000;
    // A few hundred schools at most.
    static constexpr int MaxElements = 10000;

    // The bytes of the file at `path` (the system's form), which must be a
    // regular file no larger than MaxSize: a FIFO or a device would block or
    // never end. False with `cause` set (the system's error text, or what the
    // file is instead) when it cannot be read.
    static bool ReadFile(const QString &path, QByteArray &bytes, QString &cause);

    Outcome read(const QByteArray &bytes);

    // "XML parse error at line L, column C: message" after a ParseError.
    const QString &errorText() const { return m_errorText; }
    // The "HNSchoolConf" elements anywhere below the root, in document order.
    const QList<QDomElement> &schools() const { return m_schools; }

private:
    // The bounds above, checked in linear time before the tree is built.
    bool WithinBounds(const QByteArray &bytes);
    void SetError(qint64 line, qint64 column, const QString &message);

    QDomDocument m_document{QStringLiteral("hnconfig")};
    QList<QDomElement> m_schools;
    QString m_errorText;
};
