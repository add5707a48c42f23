#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>
#include <optional>

namespace kivo {

// The root dictionary of a property-list file, binary or XML. Booleans
// arrive as bool, integers as qint64, reals as double, strings as QString;
// any other value is present but invalid. Nothing when the file cannot be
// read or parsed, its root is not a dictionary, or property lists are not
// supported by this build.
std::optional<QVariantMap> readPropertyListDictionary(const QString &path);
// The same for the bytes of such a file.
std::optional<QVariantMap> parsePropertyListDictionary(const QByteArray &bytes);

} // namespace kivo
