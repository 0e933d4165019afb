// HNConfig.xml parsing with the DOM parser, namespaces on.
#include "app/HNConfigReader.h"

#include <QDomNodeList>

HNConfigReader::Outcome HNConfigReader::read(const QByteArray &bytes)
{
    m_schools.clear();
    m_errorText.clear();
    m_document = QDomDocument(QStringLiteral("hnconfig"));

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
