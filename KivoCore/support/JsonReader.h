#pragma once

// Reads the members of one JSON object with the strict rules of JsonFields.h
// and names every member by its path ("radio.vfos.A.frequency_hz") when it
// fails, so a rejected document says where it went wrong.

#include "KivoCore/support/JsonFields.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QStringList>
#include <optional>

namespace kivo::json {

class Reader {
public:
    explicit Reader(QJsonObject object, QString path = {});

    // The whole text must be one JSON object; throws DecodingError.
    static Reader parse(const QByteArray &data);

    const QJsonObject &object() const { return m_object; }
    QString pathOf(const QString &key) const;

    // Optional members: missing and null are absent, a wrong type throws.
    std::optional<bool> optionalBool(const QString &key) const;
    std::optional<QString> optionalString(const QString &key) const;
    std::optional<double> optionalNumber(const QString &key) const;
    std::optional<qint64> optionalInteger(const QString &key) const;
    // An integer that must also fit an int.
    std::optional<int> optionalInt(const QString &key) const;
    std::optional<Reader> optionalObject(const QString &key) const;
    std::optional<QStringList> optionalStringArray(const QString &key) const;
    std::optional<QList<Reader>> optionalObjectArray(const QString &key) const;
    // An object whose every member is an object, keyed by member name.
    std::optional<QMap<QString, Reader>> optionalObjectMap(const QString &key) const;

    // Required members: missing or null throws as well.
    QJsonValue requiredValue(const QString &key) const;
    bool requiredBool(const QString &key) const;
    QString requiredString(const QString &key) const;
    double requiredNumber(const QString &key) const;
    qint64 requiredInteger(const QString &key) const;
    Reader requiredObject(const QString &key) const;
    QStringList requiredStringArray(const QString &key) const;
    QMap<QString, QString> requiredStringMap(const QString &key) const;
    QMap<QString, qint64> requiredIntegerMap(const QString &key) const;

    // The members whose names are not listed, kept as they came.
    QJsonObject membersExcept(const QStringList &known) const;

private:
    QJsonObject m_object;
    QString m_path;
};

} // namespace kivo::json
