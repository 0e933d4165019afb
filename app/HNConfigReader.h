// Parses the importer's configuration file HNConfig.xml: checks that it is one
// and finds its school configurations. Reading the file and reporting belong
// to the defaults command; this class only judges the bytes.
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
        ParseError,   // not well-formed XML; errorText() says where
        NotConfigFile // XML, but empty or with another root element
    };

    // Files the importer writes are a few kilobytes; anything beyond this is
    // not its configuration and is refused before parsing.
    static constexpr qint64 MaxSize = 32 * 1024 * 1024;
    // Its elements lie two or three levels deep.
    static constexpr int MaxDepth = 100;

    Outcome read(const QByteArray &bytes);

    // "XML parse error at line L, column C: message" after a ParseError.
    const QString &errorText() const { return m_errorText; }
    // The "HNSchoolConf" elements anywhere below the root, in document order.
    const QList<QDomElement> &schools() const { return m_schools; }

private:
    QDomDocument m_document{QStringLiteral("hnconfig")};
    QList<QDomElement> m_schools;
    QString m_errorText;
};
