#pragma once

// Everything that differs between connection kinds, one entry per kind, so
// the rest of the application asks the entry instead of naming kinds. A new
// kind is an enumerator, an entry here and its backend.

#include "QuendKivoApp/model/AppBackendFactory.h"
#include "QuendKivoApp/model/AppConfiguration.h"

#include <QList>
#include <QString>
#include <span>

namespace kivo {

// How the application model runs a kind's backend and reads its reports.
enum class BackendRole {
    // A radio session reporting connection states and snapshots.
    Radio,
    // A radio session through the legacy KIVO application, which the model
    // launches before connecting and again when the session is lost.
    LegacyKIVO,
    // The Remote Station Agent: a bearer token from the keyring, snapshots
    // carrying the station status, the station configuration after connecting.
    RemoteAgent,
    // Connected from the start on a seed snapshot; reports snapshots only.
    Simulator,
};

// The Configuration tab's rows under "Radio connection" that a kind uses.
enum class ConnectionRow {
    SmartLinkEmail,
    SmartLinkPassword,
    SmartLinkRadioSerial,
    RemoteAgentURL,
    RemoteAgentToken,
    RadioHost,
    Station,
    LegacyKIVOHost,
    LegacyKIVOPort,
    LegacyKIVOSupervision,
    LegacyKIVOLaunchCommand,
    LegacyKIVOProcessName,
};

struct ConnectionKindDescriptor {
    AppConfiguration::ConnectionKind kind;
    // The stored raw value, also the name shown ("Local network").
    QString name;
    // The sentence that refuses to start with these settings; empty when
    // they do.
    QString (*settingsProblem)(const AppConfiguration &configuration);
    // May throw (the agent client refuses an empty token or a bad address).
    AppBackend (*makeBackend)(const AppBackendRequest &request);
    BackendRole role;
    // The start hands the typed SmartLink password to the backend and
    // forgets it.
    bool consumesSmartLinkPassword;
    // In the tab's order.
    QList<ConnectionRow> rows;
    // The line under the Configuration tab's boxes.
    QString guidance;

    bool isRemoteAgent() const { return role == BackendRole::RemoteAgent; }
};

// In the order the connection picker lists them.
std::span<const ConnectionKindDescriptor> connectionKindDescriptors();
const ConnectionKindDescriptor &descriptorOf(AppConfiguration::ConnectionKind kind);

} // namespace kivo
