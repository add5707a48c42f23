#include "KivoCore/support/JsonReader.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <limits>

namespace kivo::json {

namespace {
constexpr qint64 int64Min = std::numeric_limits<qint64>::min();
constexpr qint64 int64Max = std::numeric_limits<qint64>::max();
} // namespace

Reader::Reader(QJsonObject object, QString path) : m_object(std::move(object)), m_path(std::move(path)) {}

Reader Reader::parse(const QByteArray &data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError({.key = QStringLiteral("document"),
                             .problem = QStringLiteral("the data is not valid JSON (%1 at offset %2).")
                                            .arg(error.errorString())
                                            .arg(error.offset)});
    if (!document.isObject())
        throw DecodingError({.key = QStringLiteral("document"), .problem = QStringLiteral("expected an object.")});
    return Reader(document.object());
}

QString Reader::pathOf(const QString &key) const
{
    return m_path.isEmpty() ? key : m_path + QLatin1Char('.') + key;
}

std::optional<bool> Reader::optionalBool(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (isAbsent(value))
        return std::nullopt;
    return toBool(value, pathOf(key));
}

std::optional<QString> Reader::optionalString(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (isAbsent(value))
        return std::nullopt;
    return toString(value, pathOf(key));
}

std::optional<double> Reader::optionalNumber(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (isAbsent(value))
        return std::nullopt;
    return toDouble(value, pathOf(key));
}

std::optional<qint64> Reader::optionalInteger(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (isAbsent(value))
        return std::nullopt;
    return toInt64(value, pathOf(key), int64Min, int64Max);
}

std::optional<int> Reader::optionalInt(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (isAbsent(value))
        return std::nullopt;
    return toInt(value, pathOf(key));
}

std::optional<Reader> Reader::optionalObject(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (isAbsent(value))
        return std::nullopt;
    return Reader(toObject(value, pathOf(key)), pathOf(key));
}

std::optional<QStringList> Reader::optionalStringArray(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (isAbsent(value))
        return std::nullopt;
    const QString path = pathOf(key);
    const QJsonArray array = toArray(value, path);
    QStringList result;
    result.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        result.append(toString(array.at(i), QStringLiteral("%1[%2]").arg(path).arg(i)));
    return result;
}

std::optional<QList<Reader>> Reader::optionalObjectArray(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (isAbsent(value))
        return std::nullopt;
    const QString path = pathOf(key);
    const QJsonArray array = toArray(value, path);
    QList<Reader> result;
    result.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QString itemPath = QStringLiteral("%1[%2]").arg(path).arg(i);
        result.append(Reader(toObject(array.at(i), itemPath), itemPath));
    }
    return result;
}

std::optional<QMap<QString, Reader>> Reader::optionalObjectMap(const QString &key) const
{
    const auto outer = optionalObject(key);
    if (!outer)
        return std::nullopt;
    QMap<QString, Reader> result;
    const QJsonObject &members = outer->object();
    for (auto it = members.begin(); it != members.end(); ++it) {
        const QString path = outer->pathOf(it.key());
        result.insert(it.key(), Reader(toObject(it.value(), path), path));
    }
    return result;
}

QJsonValue Reader::requiredValue(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (isAbsent(value))
        throw DecodingError({.key = pathOf(key), .problem = QStringLiteral("the value is missing.")});
    return value;
}

bool Reader::requiredBool(const QString &key) const
{
    return toBool(requiredValue(key), pathOf(key));
}

QString Reader::requiredString(const QString &key) const
{
    return toString(requiredValue(key), pathOf(key));
}

double Reader::requiredNumber(const QString &key) const
{
    return toDouble(requiredValue(key), pathOf(key));
}

qint64 Reader::requiredInteger(const QString &key) const
{
    return toInt64(requiredValue(key), pathOf(key), int64Min, int64Max);
}

Reader Reader::requiredObject(const QString &key) const
{
    return Reader(toObject(requiredValue(key), pathOf(key)), pathOf(key));
}

QStringList Reader::requiredStringArray(const QString &key) const
{
    requiredValue(key);
    return *optionalStringArray(key);
}

QMap<QString, QString> Reader::requiredStringMap(const QString &key) const
{
    const Reader members = requiredObject(key);
    QMap<QString, QString> result;
    for (auto it = members.object().begin(); it != members.object().end(); ++it)
        result.insert(it.key(), toString(it.value(), members.pathOf(it.key())));
    return result;
}

QMap<QString, qint64> Reader::requiredIntegerMap(const QString &key) const
{
    const Reader members = requiredObject(key);
    QMap<QString, qint64> result;
    for (auto it = members.object().begin(); it != members.object().end(); ++it)
        result.insert(it.key(), toInt64(it.value(), members.pathOf(it.key()), int64Min, int64Max));
    return result;
}

QJsonObject Reader::membersExcept(const QStringList &known) const
{
    QJsonObject rest = m_object;
    for (const QString &key : known)
        rest.remove(key);
    return rest;
}

} // namespace kivo::json
