#include "QuendKivoApp/model/ConnectionKindDescriptor.h"

#include "KivoCore/agent/RemoteAgentClient.h"
#include "KivoCore/flex/FlexRadioClient.h"
#include "KivoCore/flex/LegacyKIVOClient.h"
#include "KivoCore/flex/SmartLinkRadioClient.h"
#include "KivoCore/flex/SmartLinkSignIn.h"
#include "KivoCore/radio/SimulatedRadio.h"
#include "KivoCore/support/SecretStore.h"

#include <QHostAddress>
#include <QSslConfiguration>

#include <algorithm>
#include <array>
#include <cstdlib>

namespace kivo {

namespace {

using Kind = AppConfiguration::ConnectionKind;
using Row = ConnectionRow;

QString noProblem(const AppConfiguration &) { return {}; }

// SmartLink

QString smartLinkProblem(const AppConfiguration &c)
{
    if (c.smartLinkEmail.trimmed().isEmpty())
        return QStringLiteral("Enter the SmartLink email address.");
    return {};
}

AppBackend makeSmartLinkBackend(const AppBackendRequest &request)
{
    const AppConfiguration &c = request.configuration;
    return {.radio = std::make_shared<SmartLinkRadioClient>(
                SmartLinkRadioClient::Options{
                    .email = c.smartLinkEmail,
                    .password = request.smartLinkPassword,
                    .preferredSerial = c.smartLinkRadioSerial,
                    .stationName = c.stationName,
                    .sliceLetter = c.sliceLetter,
                    // The refresh token lives in the model's secret store, as the pins do.
                    .authenticator = std::make_shared<SmartLinkAuthenticator>(
                        SmartLinkKeychain(request.secrets, c.smartLinkEmail)),
                    .onRadioSelected = request.onRadioSelected,
                    .pinStore = SmartLinkCertificatePinStore(request.secrets)},
                request.onState, request.onSnapshot)};
}

// Remote Station Agent

QString remoteAgentProblem(const AppConfiguration &c)
{
    if (c.remoteAgentBaseURL.trimmed().isEmpty())
        return QStringLiteral("Enter the Remote Agent HTTPS URL.");
    return {};
}

AppBackend makeRemoteAgentBackend(const AppBackendRequest &request)
{
    AppBackend backend;
    backend.remoteAgent = std::make_shared<RemoteAgentClient>(
        RemoteAgentClient::Options{.baseURL = request.remoteAgentBaseURL,
                                   .token = request.remoteAgentToken,
                                   .ssl = QSslConfiguration::defaultConfiguration()},
        request.onState, request.onSnapshot);
    backend.radio = backend.remoteAgent;
    return backend;
}

// Local network

QString localProblem(const AppConfiguration &c)
{
    if (c.radioHost.trimmed().isEmpty())
        return QStringLiteral("Enter the local radio host or IP address.");
    return {};
}

AppBackend makeLocalBackend(const AppBackendRequest &request)
{
    const AppConfiguration &c = request.configuration;
    return {.radio = std::make_shared<FlexRadioClient>(
                FlexRadioClient::Options{.host = c.radioHost,
                                         .port = c.radioPort,
                                         .stationName = c.stationName,
                                         .sliceLetter = c.sliceLetter,
                                         .pinStore = SmartLinkCertificatePinStore(request.secrets)},
                request.onState, request.onSnapshot)};
}

// Remote via supervised KIVO

// Whether connecting to `host` reaches this computer: a loopback name or
// address, or the unspecified address, which Linux connects to this
// computer as well.
bool reachesThisComputer(QString host)
{
    host = host.trimmed();
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    if (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    if (!address.setAddress(host))
        return false;
    // An IPv4 address, also when written as an IPv4-mapped IPv6 address.
    bool isIPv4 = false;
    if (const quint32 ipv4 = address.toIPv4Address(&isIPv4); isIPv4)
        return ipv4 == 0 || (ipv4 >> 24) == 127;
    return address.isLoopback() || address == QHostAddress::AnyIPv6;
}

QString ownPortProblem(quint16 port, const QString &own)
{
    if (own.isEmpty())
        return {};
    return QStringLiteral("The KIVO port %1 is this bridge's own %2 port; choose the port KIVO listens on.")
        .arg(port)
        .arg(own);
}

QString legacyKIVOProblem(const AppConfiguration &c)
{
    // A saved record without catPort takes 5002, KIVO's own default: the
    // bridge would poll itself and call that a radio.
    if (c.legacyKIVOPort == 0 || !reachesThisComputer(c.legacyKIVOHost))
        return {};
    return ownPortProblem(c.legacyKIVOPort, c.legacyKIVOPort == c.catPort      ? QStringLiteral("CAT")
                                            : c.legacyKIVOPort == c.rigCtlPort ? QStringLiteral("rigctld")
                                                                               : QString());
}

AppBackend makeLegacyKIVOBackend(const AppBackendRequest &request)
{
    const AppConfiguration &c = request.configuration;
    // Any name may turn out to be this computer: where the connection
    // landed decides, once it is made.
    auto refusal = [ownListenerAt = request.ownListenerAt](const QHostAddress &peer, quint16 port) {
        return ownListenerAt ? ownPortProblem(port, ownListenerAt(peer, port)) : QString();
    };
    return {.radio = std::make_shared<LegacyKIVOClient>(
                LegacyKIVOClient::Options{.host = c.legacyKIVOHost, .port = c.legacyKIVOPort, .refusal = refusal},
                request.onState, request.onSnapshot)};
}

// Simulator

AppBackend makeSimulatorBackend(const AppBackendRequest &request)
{
    return {.radio = std::make_shared<SimulatedRadio>(initialSimulatorSnapshot(request.configuration),
                                                      request.onSnapshot)};
}

const std::array<ConnectionKindDescriptor, 5> &descriptors()
{
    const QString loopbackGuidance =
        QStringLiteral("CAT and RigCtlD listeners bind only to this computer's loopback interface.");
    static const std::array<ConnectionKindDescriptor, 5> table{{
        {.kind = Kind::SmartLink,
         .name = QStringLiteral("SmartLink"),
         .settingsProblem = smartLinkProblem,
         .makeBackend = makeSmartLinkBackend,
         .role = BackendRole::Radio,
         .consumesSmartLinkPassword = true,
         .rows = {Row::SmartLinkEmail, Row::SmartLinkPassword, Row::SmartLinkRadioSerial, Row::Station},
         .guidance = QStringLiteral("The password remains in memory; refresh credentials and the radio "
                                    "certificate pin are stored in the desktop keyring.")},
        {.kind = Kind::RemoteAgent,
         .name = QStringLiteral("Remote Station Agent"),
         .settingsProblem = remoteAgentProblem,
         .makeBackend = makeRemoteAgentBackend,
         .role = BackendRole::RemoteAgent,
         .consumesSmartLinkPassword = false,
         .rows = {Row::RemoteAgentURL, Row::RemoteAgentToken},
         .guidance = QStringLiteral("The bearer token is stored in the desktop keyring. All radio and station "
                                    "commands go through the Windows agent.")},
        {.kind = Kind::Local,
         .name = QStringLiteral("Local network"),
         .settingsProblem = localProblem,
         .makeBackend = makeLocalBackend,
         .role = BackendRole::Radio,
         .consumesSmartLinkPassword = false,
         .rows = {Row::RadioHost, Row::Station},
         .guidance = loopbackGuidance},
        {.kind = Kind::LegacyKIVO,
         .name = QStringLiteral("Remote via supervised KIVO"),
         .settingsProblem = legacyKIVOProblem,
         .makeBackend = makeLegacyKIVOBackend,
         .role = BackendRole::LegacyKIVO,
         .consumesSmartLinkPassword = false,
         .rows = {Row::LegacyKIVOHost, Row::LegacyKIVOPort, Row::LegacyKIVOSupervision, Row::LegacyKIVOLaunchCommand,
                  Row::LegacyKIVOProcessName},
         .guidance = QStringLiteral("RUMlogNG \u2192 Quend-Kivo \u2192 KIVO \u2192 SmartLink \u2192 FlexRadio")},
        {.kind = Kind::Simulator,
         .name = QStringLiteral("Simulator"),
         .settingsProblem = noProblem,
         .makeBackend = makeSimulatorBackend,
         .role = BackendRole::Simulator,
         .consumesSmartLinkPassword = false,
         .rows = {Row::Station},
         .guidance = loopbackGuidance},
    }};
    return table;
}

} // namespace

std::span<const ConnectionKindDescriptor> connectionKindDescriptors() { return descriptors(); }

const ConnectionKindDescriptor &descriptorOf(AppConfiguration::ConnectionKind kind)
{
    const auto &table = descriptors();
    const auto found = std::find_if(table.begin(), table.end(), [kind](const auto &d) { return d.kind == kind; });
    // A kind without its entry is a fault of the table, not of the settings.
    if (found == table.end())
        std::abort();
    return *found;
}

} // namespace kivo
