// HNConfig.xml parsing with the DOM parser, namespaces on.
#include "app/HNConfigReader.h"

#include <QDomNodeList>
#include <QXmlStreamReader>

HNConfigReader::Outcome HNConfigReader::read(const QByteArray &bytes)
{
    m_schools.clear();
    m_errorText.clear();
    m_document = QDomDocument(QStringLiteral("hnconfig"));

    // Building a DOM tree costs time in the square of its depth: a small file
    // of deeply nested elements would keep the command busy for minutes.
    // A streaming pass refuses such nesting first, in linear time.
    QXmlStreamReader stream(bytes);
    for (int depth = 0; !stream.atEnd() && !stream.hasError();) {
        const QXmlStreamReader::TokenType token = stream.readNext();
        if (token == QXmlStreamReader::EndElement) {
            --depth;
        } else if (token == QXmlStreamReader::StartElement && ++depth > MaxDepth) {
            m_errorText = QStringLiteral("XML parse error at line %1, column %2: %3")
                              .arg(stream.lineNumber())
                              .arg(stream.columnNumber())
                              .arg(QStringLiteral("elements nested deeper than %1 levels").arg(MaxDepth));
            return Outcome::ParseError;
        }
    }

    QString message;
    int line = 0;
    int column = 0;
    if (!m_document.setContent(bytes, true, &message, &line, &column)) {
        m_errorText = QStringLiteral("XML parse error at line %1, column %2: %3").arg(line).arg(column).arg(message);
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
