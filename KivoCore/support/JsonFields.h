#pragma once

// Strict readers for JSON members: a present value of the wrong type fails
// the whole document, integers are kept exact, and nothing is converted
// through the user's locale.

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <optional>
#include <stdexcept>

namespace kivo {

// Which member failed to decode, and why (a sentence ending in ".").
struct DecodingProblem {
    QString key{};
    QString problem{};
};

class DecodingError : public std::runtime_error {
public:
    explicit DecodingError(const DecodingProblem &failure);
    QString key() const { return m_key; }
    QString message() const { return m_message; }

private:
    QString m_key;
    QString m_message;
};

namespace json {

// Missing and null both count as absent.
inline bool isAbsent(const QJsonValue &value) { return value.isUndefined() || value.isNull(); }

QJsonObject toObject(const QJsonValue &value, const QString &key);
QJsonArray toArray(const QJsonValue &value, const QString &key);
bool toBool(const QJsonValue &value, const QString &key);
QString toString(const QJsonValue &value, const QString &key);
double toDouble(const QJsonValue &value, const QString &key);
// Whole numbers only, exactly representable in the target range.
qint64 toInt64(const QJsonValue &value, const QString &key, qint64 minimum, qint64 maximum);
int toInt(const QJsonValue &value, const QString &key);
// Port 0 is refused like any port out of range: listening there binds a
// port the system picks, one no peer is told, and connecting there reaches
// nothing.
inline constexpr quint16 lowestPort = 1;
quint16 toPort(const QJsonValue &value, const QString &key);

// Required members: missing or null fails.
QJsonValue required(const QJsonObject &object, const QString &key);

// Optional members with a default for missing or null.
template <typename Reader, typename T>
T valueOr(const QJsonObject &object, const QString &key, T fallback, Reader read)
{
    const QJsonValue value = object.value(key);
    if (isAbsent(value))
        return fallback;
    return read(value, key);
}

} // namespace json
} // namespace kivo
