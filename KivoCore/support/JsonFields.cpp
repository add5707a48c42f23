#include "KivoCore/support/JsonFields.h"

#include <cmath>
#include <limits>

namespace kivo {

DecodingError::DecodingError(const DecodingProblem &failure)
    : std::runtime_error(QStringLiteral("Could not decode \"%1\": %2").arg(failure.key, failure.problem).toStdString()),
      m_key(failure.key), m_message(QString::fromStdString(what()))
{
}

namespace json {

QJsonObject toObject(const QJsonValue &value, const QString &key)
{
    if (!value.isObject())
        throw DecodingError({.key = key, .problem = QStringLiteral("expected an object.")});
    return value.toObject();
}

QJsonArray toArray(const QJsonValue &value, const QString &key)
{
    if (!value.isArray())
        throw DecodingError({.key = key, .problem = QStringLiteral("expected an array.")});
    return value.toArray();
}

bool toBool(const QJsonValue &value, const QString &key)
{
    if (!value.isBool())
        throw DecodingError({.key = key, .problem = QStringLiteral("expected a boolean.")});
    return value.toBool();
}

QString toString(const QJsonValue &value, const QString &key)
{
    if (!value.isString())
        throw DecodingError({.key = key, .problem = QStringLiteral("expected a string.")});
    return value.toString();
}

double toDouble(const QJsonValue &value, const QString &key)
{
    if (!value.isDouble())
        throw DecodingError({.key = key, .problem = QStringLiteral("expected a number.")});
    return value.toDouble();
}

qint64 toInt64(const QJsonValue &value, const QString &key, qint64 minimum, qint64 maximum)
{
    if (!value.isDouble())
        throw DecodingError({.key = key, .problem = QStringLiteral("expected an integer.")});
    // Two different defaults tell "not a whole qint64" from a real value.
    const qint64 a = value.toInteger(std::numeric_limits<qint64>::min());
    const qint64 b = value.toInteger(std::numeric_limits<qint64>::max());
    if (a != b)
        throw DecodingError({.key = key, .problem = QStringLiteral("expected an integer.")});
    if (a < minimum || a > maximum)
        throw DecodingError({.key = key, .problem = QStringLiteral("the number is out of range.")});
    return a;
}

int toInt(const QJsonValue &value, const QString &key)
{
    return int(toInt64(value, key, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

quint16 toPort(const QJsonValue &value, const QString &key)
{
    return quint16(toInt64(value, key, lowestPort, 65535));
}

QJsonValue required(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (isAbsent(value))
        throw DecodingError({.key = key, .problem = QStringLiteral("the value is missing.")});
    return value;
}

} // namespace json
} // namespace kivo
