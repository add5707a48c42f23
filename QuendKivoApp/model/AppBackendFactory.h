#pragma once

// What the application model hands a connection kind's backend factory, and
// what it gets back.

#include "KivoCore/flex/SmartLinkBroker.h"
#include "QuendKivoApp/model/AppConfiguration.h"
#include "KivoCore/radio/RadioBackend.h"

#include <QHostAddress>

#include <functional>
#include <memory>

namespace kivo {

class RemoteAgentClient;
class SecretStore;

struct AppBackendRequest {
    AppConfiguration configuration;
    // Trimmed agent address and the token to present (typed or stored).
    QString remoteAgentBaseURL;
    QString remoteAgentToken;
    QString smartLinkPassword;
    std::shared_ptr<SecretStore> secrets;
    RadioBackend::StateHandler onState;
    RadioBackend::SnapshotHandler onSnapshot;
    std::function<void(const SmartLinkRadio &radio)> onRadioSelected;
    // Which of the bridge's own servers ("CAT", "rigctld") a connection to
    // this address and port lands on; empty when none.
    std::function<QString(const QHostAddress &address, quint16 port)> ownListenerAt;
};

struct AppBackend {
    std::shared_ptr<RadioBackend> radio{};
    // The same object under its concrete type when the agent was built.
    std::shared_ptr<RemoteAgentClient> remoteAgent{};
};

// May throw (the agent client refuses an empty token or a bad address).
using AppBackendFactory = std::function<AppBackend(const AppBackendRequest &request)>;

// The configured kind's own factory.
AppBackend makeAppBackend(const AppBackendRequest &request);

// 14.074 MHz DIGU, connected, on the configured slice and station.
RadioSnapshot initialSimulatorSnapshot(const AppConfiguration &configuration);

} // namespace kivo
