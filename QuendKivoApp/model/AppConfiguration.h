#pragma once

#include "KivoCore/station/DXSpot.h"
#include "KivoCore/station/Rotator.h"
#include "KivoCore/support/JsonFields.h"

#include <QJsonObject>
#include <QString>
#include <optional>

namespace kivo {

struct AppConfiguration {
    enum class ConnectionKind { SmartLink, RemoteAgent, Local, LegacyKIVO, Simulator };

    ConnectionKind connectionKind = ConnectionKind::SmartLink;
    QString radioHost;
    quint16 radioPort = 4992;
    QString stationName = QStringLiteral("Maestro");
    QString sliceLetter = QStringLiteral("A");
    QString smartLinkEmail;
    QString smartLinkRadioSerial;
    QString remoteAgentBaseURL;
    quint16 catPort = 5002;
    quint16 rigCtlPort = 4532;
    // Every port, here and in the sub-records, is 1 to 65535.
    static constexpr quint16 lowestPort = json::lowestPort;
    QString legacyKIVOHost = QStringLiteral("127.0.0.1");
    quint16 legacyKIVOPort = 5002;
    bool superviseLegacyKIVO = true;
    // How this computer starts the legacy application (program and arguments,
    // split like a shell would) and the process name that shows it runs
    // (empty: the program's base name).
    QString legacyKIVOLaunchCommand;
    QString legacyKIVOProcessName;
    bool allowCATTransmit = false;
    bool launchServersAutomatically = true;
    SpotBridgeConfiguration spotBridge = SpotBridgeConfiguration::defaults();
    RotatorConfiguration rotator;

    bool operator==(const AppConfiguration &) const = default;

    // Simulator, CAT port 15002, rigctld port 14532, everything else the
    // decoding defaults: what a station starts with on first run.
    static AppConfiguration firstRun();

    QJsonObject toJson() const;
    // Tolerant: a missing or null member takes its default; a member of the
    // wrong type fails the whole record with DecodingError.
    static AppConfiguration fromJson(const QJsonValue &value);
};

// The kind's descriptor name, stored and shown ("Local network").
QString rawValue(AppConfiguration::ConnectionKind kind);
std::optional<AppConfiguration::ConnectionKind> connectionKindFromRaw(const QString &raw);

} // namespace kivo
