#pragma once

// RUMlog's datagrams are small XML documents read only by the text of their
// leaf elements: names in any letter case, nesting and the root ignored.

#include <QByteArray>
#include <QHash>
#include <QString>

namespace kivo {

enum class XmlAttributes { Ignored, Collected };

struct XmlLeafFields {
    bool wellFormed = false;
    // The reader's description of the fault when not well formed.
    QString errorText;
    // Lower-cased element (and, when collected, attribute) name to text.
    QHash<QString, QString> fields;
};

// Each leaf element's text, trimmed; a later element of the same name
// replaces an earlier one. CDATA sections are not collected, and external
// entities are never fetched.
XmlLeafFields readXmlLeafFields(const QByteArray &document, XmlAttributes attributes);

} // namespace kivo
