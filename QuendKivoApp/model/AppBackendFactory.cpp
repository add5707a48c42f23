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
    return RadioSnapshot({.frequencyHz = 14074000,
                          .mode = QStringLiteral("DIGU"),
                          .isConnected = true,
                          .slice = configuration.sliceLetter,
                          .station = configuration.stationName});
}

AppBackend makeAppBackend(const AppBackendRequest &request)
{
    using Kind = AppConfiguration::ConnectionKind;
    const AppConfiguration &c = request.configuration;
    AppBackend backend;
    switch (c.connectionKind) {
    case Kind::SmartLink:
        backend.radio = std::make_shared<SmartLinkRadioClient>(
            SmartLinkRadioClient::Options{
                .email = c.smartLinkEmail,
                .password = request.smartLinkPassword,
                .preferredSerial = c.smartLinkRadioSerial,
                .stationName = c.stationName,
                .sliceLetter = c.sliceLetter,
                // The refresh token lives in the model's secret store, as the pins do.
                .authenticator =
                    std::make_shared<SmartLinkAuthenticator>(SmartLinkKeychain(request.secrets, c.smartLinkEmail)),
                .onRadioSelected = request.onRadioSelected,
                .pinStore = SmartLinkCertificatePinStore(request.secrets)},
            request.onState, request.onSnapshot);
        break;
    case Kind::RemoteAgent:
        backend.remoteAgent = std::make_shared<RemoteAgentClient>(
            RemoteAgentClient::Options{.baseURL = request.remoteAgentBaseURL,
                                       .token = request.remoteAgentToken,
                                       .ssl = QSslConfiguration::defaultConfiguration()},
            request.onState, request.onSnapshot);
        backend.radio = backend.remoteAgent;
        break;
    case Kind::Local:
        backend.radio = std::make_shared<FlexRadioClient>(
            FlexRadioClient::Options{.host = c.radioHost,
                                     .port = c.radioPort,
                                     .stationName = c.stationName,
                                     .sliceLetter = c.sliceLetter,
                                     .pinStore = SmartLinkCertificatePinStore(request.secrets)},
            request.onState, request.onSnapshot);
        break;
    case Kind::LegacyKIVO:
        backend.radio = std::make_shared<LegacyKIVOClient>(
            LegacyKIVOClient::Options{.host = c.legacyKIVOHost, .port = c.legacyKIVOPort}, request.onState,
            request.onSnapshot);
        break;
    case Kind::Simulator:
        backend.radio = std::make_shared<SimulatedRadio>(initialSimulatorSnapshot(c), request.onSnapshot);
        break;
    }
    return backend;
}

} // namespace kivo
