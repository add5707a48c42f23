#include "KivoCore/support/XmlLeafFields.h"

#include "KivoCore/support/Text.h"

#include <QXmlStreamReader>

namespace kivo {

XmlLeafFields readXmlLeafFields(const QByteArray &document, XmlAttributes attributes)
{
    XmlLeafFields result;
    // QXmlStreamReader never resolves external entities: a reference to one
    // arrives as an EntityReference token and is dropped below.
    QXmlStreamReader reader(document);
    // Prefixed names are taken as written, whether or not their namespace is declared.
    reader.setNamespaceProcessing(false);

    QString currentElement;
    QString currentText;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            currentElement = reader.qualifiedName().toString().toLower();
            currentText.clear();
            if (attributes == XmlAttributes::Collected) {
                for (const auto &attribute : reader.attributes())
                    result.fields.insert(attribute.qualifiedName().toString().toLower(), attribute.value().toString());
            }
            break;
        case QXmlStreamReader::Characters:
            if (!reader.isCDATA())
                currentText += reader.text();
            break;
        case QXmlStreamReader::EndElement:
            // An enclosing element never matches here, so only leaves count.
            if (!currentElement.isEmpty() && reader.qualifiedName().toString().toLower() == currentElement)
                result.fields.insert(currentElement, trimmed(currentText));
            currentElement.clear();
            currentText.clear();
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) {
        result.errorText = reader.errorString();
        result.fields.clear();
        return result;
    }
    result.wellFormed = true;
    return result;
}

} // namespace kivo
