#pragma once

// The station configuration the agent keeps (radio link, Elecraft serial
// ports, commissioning, policy), loaded, edited and saved back whole.
//
// Every object keeps the members this program does not know and writes them
// back unchanged, so saving from here never deletes what a newer agent
// stores. Equality compares the typed fields only.

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace kivo {

struct RemoteFlexConfiguration {
    QString model;
    QString host;
    qint64 port = 0;
    qint64 sliceID = 0;
    QString stationName;
    QJsonObject unknownMembers;

    bool operator==(const RemoteFlexConfiguration &other) const;
    QJsonObject toJson() const;
    static RemoteFlexConfiguration fromJson(const QJsonValue &value, const QString &path = QStringLiteral("flex"));
};

struct RemoteSerialDeviceConfiguration {
    bool enabled = false;
    QString port;
    qint64 baudrate = 0;
    QJsonObject unknownMembers;

    bool operator==(const RemoteSerialDeviceConfiguration &other) const;
    QJsonObject toJson() const;
    static RemoteSerialDeviceConfiguration fromJson(const QJsonValue &value, const QString &path);
};

struct RemoteFlexAntennaPolicy {
    bool enabled = false;
    QMap<QString, QString> bands;
    QJsonObject unknownMembers;

    bool operator==(const RemoteFlexAntennaPolicy &other) const;
    QJsonObject toJson() const;
    static RemoteFlexAntennaPolicy fromJson(const QJsonValue &value, const QString &path);
};

struct RemoteStationPolicy {
    bool followRadio = false;
    QString digitalKPAPolicy;
    RemoteFlexAntennaPolicy flexAntenna;
    QMap<QString, qint64> katAntenna;
    QMap<QString, QString> katAntennaNames;
    QStringList amplifierAllowedBands;
    QMap<QString, qint64> amplifierDriveW;
    QMap<QString, qint64> barefootDriveW;
    QStringList digitalAmplifierAllowedBands;
    QMap<QString, qint64> digitalAmplifierDriveW;
    qint64 tunePowerW = 0;
    double tuneTargetSWR = 0;
    double tuneAbortSWR = 0;
    double tuneTimeoutSeconds = 0;
    QJsonObject unknownMembers;

    static const RemoteStationPolicy &placeholder();

    bool operator==(const RemoteStationPolicy &other) const;
    QJsonObject toJson() const;
    static RemoteStationPolicy fromJson(const QJsonValue &value, const QString &path = QStringLiteral("policy"));
};

struct RemoteStationConfiguration {
    qint64 schemaVersion = 1;
    RemoteFlexConfiguration flex;
    RemoteSerialDeviceConfiguration kpa500;
    RemoteSerialDeviceConfiguration kat500;
    bool commissioned = false;
    RemoteStationPolicy policy;
    QJsonObject unknownMembers;

    // "160m" through "6m", the rows of every per-band table.
    static const QStringList &bands();
    static const RemoteStationConfiguration &placeholder();

    bool operator==(const RemoteStationConfiguration &other) const;
    QJsonObject toJson() const;
    // Every key is required; throws DecodingError.
    static RemoteStationConfiguration fromJson(const QJsonValue &value,
                                               const QString &path = QStringLiteral("config"));
};

// The agent's answer to reading and to writing the configuration.
struct RemoteConfigResponse {
    bool success = false;
    RemoteStationConfiguration config;
    std::optional<bool> restartRequired;

    static RemoteConfigResponse fromJson(const QByteArray &data);
};

// The body of the write: {"config": {...}}.
struct RemoteConfigUpdateRequest {
    RemoteStationConfiguration config;

    QByteArray toJson() const;
};

} // namespace kivo
