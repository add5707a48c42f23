#include "QuendKivoApp/model/AppBackendFactory.h"

#include "KivoCore/agent/RemoteAgentClient.h"
#include "KivoCore/flex/FlexRadioClient.h"
#include "KivoCore/flex/LegacyKIVOClient.h"
#include "KivoCore/flex/SmartLinkRadioClient.h"
#include "KivoCore/flex/SmartLinkSignIn.h"
#include "KivoCore/radio/SimulatedRadio.h"
#include "KivoCore/support/SecretStore.h"

#include <QSslConfiguration>

namespace kivo {

RadioSnapshot initialSimulatorSnapshot(const AppConfiguration &configuration)
{
    return RadioSnapshot(14074000, QStringLiteral("DIGU"), true, false, configuration.sliceLetter,
                         configuration.stationName);
}

AppBackend makeAppBackend(const AppBackendRequest &request)
{
    using Kind = AppConfiguration::ConnectionKind;
    const AppConfiguration &c = request.configuration;
    AppBackend backend;
    switch (c.connectionKind) {
    case Kind::SmartLink:
        backend.radio = std::make_shared<SmartLinkRadioClient>(
            c.smartLinkEmail, request.smartLinkPassword, c.smartLinkRadioSerial, c.stationName, c.sliceLetter,
            // The refresh token lives in the model's secret store, as the pins do.
            std::make_shared<SmartLinkAuthenticator>(SmartLinkKeychain(request.secrets, c.smartLinkEmail)),
            request.onState, request.onSnapshot, request.onRadioSelected, SmartLinkBrokerEndpoint{},
            SmartLinkCertificatePinStore(request.secrets));
        break;
    case Kind::RemoteAgent:
        backend.remoteAgent = std::make_shared<RemoteAgentClient>(
            request.remoteAgentBaseURL, request.remoteAgentToken, QSslConfiguration::defaultConfiguration(),
            request.onState, request.onSnapshot);
        backend.radio = backend.remoteAgent;
        break;
    case Kind::Local:
        backend.radio = std::make_shared<FlexRadioClient>(c.radioHost, c.radioPort, c.stationName, c.sliceLetter,
                                                          std::nullopt, std::nullopt, request.onState,
                                                          request.onSnapshot,
                                                          SmartLinkCertificatePinStore(request.secrets));
        break;
    case Kind::LegacyKIVO:
        backend.radio = std::make_shared<LegacyKIVOClient>(c.legacyKIVOHost, c.legacyKIVOPort, request.onState,
                                                           request.onSnapshot);
        break;
    case Kind::Simulator:
        backend.radio = std::make_shared<SimulatedRadio>(initialSimulatorSnapshot(c), request.onSnapshot);
        break;
    }
    return backend;
}

} // namespace kivo
