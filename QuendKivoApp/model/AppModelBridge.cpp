// Bridge start and stop, the backend and server callbacks, and legacy
// supervision.

#include "QuendKivoApp/model/AppModel.h"

#include "KivoCore/agent/RemoteAgentAuth.h"
#include "KivoCore/agent/RemoteAgentClient.h"
#include "KivoCore/support/KivoError.h"
#include "KivoCore/station/UDPSpotReceiver.h"
#include "KivoCore/support/Async.h"
#include "QuendKivoApp/model/CommandBridge.h"
#include "QuendKivoApp/model/ConnectionKindDescriptor.h"

#include <QScopedValueRollback>
#include <QTimer>

namespace kivo {

void AppModel::post(std::function<void()> work)
{
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void AppModel::start()
{
    if (m_isRunning || m_stopping || m_starting)
        return;
    m_starting = true;
    m_legacyMissingCommandReported = false;
    launch(startTask(++m_generation));
}

AppBackend AppModel::buildBackend(quint64 generation, const AppConfiguration &configuration,
                                  const AgentAccess &agent)
{
    QPointer<AppModel> self(this);
    // Every report is queued and carries the generation of this start.
    auto queued = [self, generation](auto handler) {
        return [self, generation, handler](auto... arguments) {
            if (self)
                self->post([self, generation, handler, arguments...] {
                    if (self)
                        (self.data()->*handler)(generation, arguments...);
                });
        };
    };
    AppBackendRequest request;
    request.configuration = configuration;
    request.remoteAgentBaseURL = agent.baseURL;
    request.remoteAgentToken = agent.token;
    request.smartLinkPassword = m_smartLinkPassword;
    request.secrets = m_dependencies.secrets;
    request.ownListenerAt = [self, generation](const QHostAddress &address, quint16 port) {
        return self && generation == self->m_generation && self->m_bridge ? self->m_bridge->listenerAt(address, port)
                                                                          : QString();
    };
    switch (descriptorOf(configuration.connectionKind).role) {
    case BackendRole::LegacyKIVO:
        request.onState = queued(&AppModel::handleLegacyState);
        request.onSnapshot = queued(&AppModel::handleSnapshot);
        break;
    case BackendRole::RemoteAgent:
        request.onState = queued(&AppModel::handleAgentState);
        request.onSnapshot = [self, generation](const RadioSnapshot &snapshot) {
            if (self)
                self->post([self, generation, snapshot] {
                    if (self && generation == self->m_generation)
                        self->applyRemoteAgentSnapshot(snapshot);
                });
        };
        break;
    case BackendRole::Simulator:
        request.onSnapshot = queued(&AppModel::handleSimulatorSnapshot);
        break;
    case BackendRole::Radio:
        request.onState = queued(&AppModel::handleRadioState);
        request.onSnapshot = queued(&AppModel::handleSnapshot);
        request.onRadioSelected = queued(&AppModel::handleRadioSelected);
        break;
    }
    AppBackend backend = m_dependencies.backendFactory(request);
    if (backend.radio)
        // Kept after a stop too: a backend tells of an unconfirmed unkey as it stops.
        backend.radio->setEventHandler([self](const QString &line) {
            if (self)
                self->post([self, line] {
                    if (self)
                        self->record(QStringLiteral("Radio: ") + line);
                });
        });
    return backend;
}

QCoro::Task<void> AppModel::startTask(quint64 generation)
{
    QPointer<AppModel> self(this);
    // Edits made while the keyring answers belong to the next start.
    const AppConfiguration configuration = m_configuration;
    const ConnectionKindDescriptor &kind = descriptorOf(configuration.connectionKind);
    auto secrets = m_dependencies.secrets;
    QString failure;
    try {
        if (const QString problem = kind.settingsProblem(configuration); !problem.isEmpty())
            throw KivoError::server(problem);
        AppBackend backend;
        switch (kind.role) {
        case BackendRole::RemoteAgent: {
            const QString agentBaseURL = configuration.remoteAgentBaseURL.trimmed();
            QString agentToken = m_remoteAgentToken.trimmed();
            const bool typedToken = !agentToken.isEmpty();
            if (!typedToken) {
                const auto stored = co_await RemoteAgentKeychain(agentBaseURL, *secrets).loadToken();
                if (!self || generation != m_generation)
                    co_return;
                agentToken = stored.value_or(QString());
            }
            backend = buildBackend(generation, configuration, {.baseURL = agentBaseURL, .token = agentToken});
            if (typedToken) {
                co_await RemoteAgentKeychain(agentBaseURL, *secrets).saveToken(agentToken);
                if (!self || generation != m_generation)
                    co_return;
            }
            setRemoteAgentToken(QString());
            break;
        }
        case BackendRole::LegacyKIVO:
            ensureLegacyKIVORunning();
            backend = buildBackend(generation, configuration, {});
            break;
        case BackendRole::Radio:
        case BackendRole::Simulator:
            backend = buildBackend(generation, configuration, {});
            break;
        }
        if (kind.consumesSmartLinkPassword)
            setSmartLinkPassword(QString());
        m_radio = backend.radio;
        m_remoteAgent = backend.remoteAgent;

        auto bridge = std::make_unique<CommandBridge>(m_radio, [self, generation](const QString &line) {
            if (self && self->m_drivingServers)
                self->handleServerEvent(generation, line);
            else if (self)
                self->post([self, generation, line] {
                    if (self)
                        self->handleServerEvent(generation, line);
                });
        });
        {
            const QScopedValueRollback<bool> driving(m_drivingServers, true);
            bridge->start(configuration);
            // Every listener is up before the bridge says it started.
            if (configuration.spotBridge.enabled) {
                try {
                    startSpotBridge(m_radio, configuration.spotBridge);
                } catch (...) {
                    bridge->stop();
                    throw;
                }
            }
        }
        m_bridge = std::move(bridge);

        m_starting = false;
        assign(m_isRunning, true, &AppModel::isRunningChanged);
        const bool simulator = kind.role == BackendRole::Simulator;
        assign(m_isRadioConnected, simulator, &AppModel::isRadioConnectedChanged);
        refreshSpotBridgeStatus();
        if (simulator) {
            // Ready at once: its ledger then undoes what a departed client
            // keyed, and the stop unkeys it, as on any radio.
            m_radio->start();
            // The seed is the simulated radio until its first change: a window
            // opened before that change shows it like any later snapshot.
            handleSimulatorSnapshot(generation, initialSimulatorSnapshot(configuration));
        }
        else
            setStatus(QStringLiteral("Connecting to radio"));
        record(QStringLiteral("Quend-Kivo started"));

        if (!simulator) {
            auto radio = m_radio;
            auto agent = m_remoteAgent;
            // Begins only after start returned, and only for this very start.
            QTimer::singleShot(0, this, [this, generation, radio, agent] {
                launch(connectBackend(generation, radio, agent));
            });
        }
        startRotatorIfNeeded();
        co_return;
    } catch (...) {
        failure = describeException(std::current_exception());
    }
    if (self && generation == m_generation)
        failStart(failure);
}

QCoro::Task<void> AppModel::connectBackend(quint64 generation, std::shared_ptr<RadioBackend> backend,
                                           std::shared_ptr<RemoteAgentClient> agent)
{
    if (!isCurrent(generation) || m_radio != backend)
        co_return;
    backend->start();
    if (agent)
        co_await loadRemoteConfiguration(agent);
}

void AppModel::failStart(const QString &description)
{
    record(QStringLiteral("Start failed: ") + description);
    stop();
    setStatus(description);
    emit startFailed(description);
}

void AppModel::stop()
{
    if (m_stopping)
        return;
    // Said once, and only after a start, which may have failed.
    const bool started = m_isRunning || m_starting;
    ++m_generation;
    m_starting = false;
    {
        const QScopedValueRollback<bool> driving(m_drivingServers, true);
        m_bridge.reset();
    }
    stopSpotBridge();
    stopRotator();
    std::shared_ptr<RadioBackend> radio = std::move(m_radio);
    m_radio.reset();
    m_remoteAgent.reset();
    // A save still in flight only leaves its line in the events log.
    ++m_remoteConfigurationTicket;

    assign(m_isRunning, false, &AppModel::isRunningChanged);
    assign(m_isRadioConnected, false, &AppModel::isRadioConnectedChanged);
    assign(m_isRemoteAgentConnected, false, &AppModel::isRemoteAgentConnectedChanged);
    assign(m_radioSnapshot, std::optional<RadioSnapshot>(), &AppModel::radioSnapshotChanged);
    assign(m_lastSnapshotAt, std::optional<QDateTime>(), &AppModel::lastSnapshotAtChanged);
    assign(m_telemetryLatencySummary, QStringLiteral("Waiting for a frequency change"),
           &AppModel::telemetryLatencySummaryChanged);
    m_lastTimedFrequency.reset();
    m_pendingTelemetryTiming.reset();
    assign(m_remoteStationStatus, std::optional<RemoteStationStatus>(), &AppModel::remoteStationStatusChanged);
    assign(m_remoteConfigurationLoaded, false, &AppModel::remoteConfigurationLoadedChanged);
    assign(m_remoteConfigurationStatus, QStringLiteral("Connect to load station settings"),
           &AppModel::remoteConfigurationStatusChanged);
    assign(m_remoteConfigurationBusy, false, &AppModel::remoteConfigurationBusyChanged);
    assign(m_spotBridgeStatus, QStringLiteral("Stopped"), &AppModel::spotBridgeStatusChanged);
    m_spotCapabilityWarningShown = false;
    m_lastSpotError.clear();
    setStatus(QStringLiteral("Stopped"));
    if (started)
        record(QStringLiteral("Quend-Kivo stopped"));

    m_stopping = true;
    launch(stopBackend(std::move(radio)));
}

QCoro::Task<void> AppModel::stopBackend(std::shared_ptr<RadioBackend> radio)
{
    QPointer<AppModel> self(this);
    // The backend's stop makes safe what the bridge still holds, once.
    if (radio)
        co_await radio->stop();
    if (self) {
        m_stopping = false;
        emit stopTaskFinished();
    }
}

void AppModel::startAutomatically()
{
    if (m_configuration.launchServersAutomatically)
        start();
    else
        startRotatorIfNeeded();
}

quint16 AppModel::catServerPort() const
{
    return m_bridge ? m_bridge->catPort() : 0;
}

void AppModel::publishSnapshot(const RadioSnapshot &snapshot)
{
    assign(m_isRadioConnected, snapshot.isConnected, &AppModel::isRadioConnectedChanged);
    assign(m_radioSnapshot, std::optional<RadioSnapshot>(snapshot), &AppModel::radioSnapshotChanged);
    assign(m_lastSnapshotAt, std::optional<QDateTime>(m_dependencies.now()), &AppModel::lastSnapshotAtChanged);
}

void AppModel::handleRadioState(quint64 generation, RadioConnectionState state, const QString &message)
{
    if (generation == m_generation && state != RadioConnectionState::Ready) {
        assign(m_isRadioConnected, false, &AppModel::isRadioConnectedChanged);
        setStatus(message);
    }
    record(QStringLiteral("Radio: ") + message);
}

void AppModel::handleLegacyState(quint64 generation, RadioConnectionState state, const QString &message)
{
    const bool current = generation == m_generation;
    if (current) {
        setStatus(message);
        if (state != RadioConnectionState::Ready)
            assign(m_isRadioConnected, false, &AppModel::isRadioConnectedChanged);
    }
    record(QStringLiteral("Radio: ") + message);
    if (current && (state == RadioConnectionState::Retrying || state == RadioConnectionState::Failed))
        ensureLegacyKIVORunning();
}

void AppModel::handleAgentState(quint64 generation, RadioConnectionState state, const QString &message)
{
    if (generation == m_generation) {
        assign(m_isRemoteAgentConnected, state == RadioConnectionState::Ready,
               &AppModel::isRemoteAgentConnectedChanged);
        if (state != RadioConnectionState::Ready) {
            assign(m_isRadioConnected, false, &AppModel::isRadioConnectedChanged);
            setStatus(message);
        }
    }
    record(QStringLiteral("Agent: ") + message);
}

void AppModel::handleSnapshot(quint64 generation, const RadioSnapshot &snapshot)
{
    if (generation != m_generation)
        return;
    publishSnapshot(snapshot);
    if (snapshot.isConnected)
        setStatus(radioStatusText(snapshot));
}

void AppModel::handleSimulatorSnapshot(quint64 generation, const RadioSnapshot &snapshot)
{
    if (generation != m_generation)
        return;
    publishSnapshot(snapshot);
    setStatus(radioStatusText(snapshot));
}

void AppModel::applyRemoteAgentSnapshot(const RadioSnapshot &snapshot)
{
    publishSnapshot(snapshot);
    assign(m_remoteStationStatus, snapshot.remoteStationStatus, &AppModel::remoteStationStatusChanged);
    setStatus(radioStatusText(snapshot));
    refreshSpotBridgeStatus();
    startTimingSample(snapshot);
}

void AppModel::handleRadioSelected(quint64 generation, const SmartLinkRadio &radio)
{
    if (generation != m_generation || m_configuration.smartLinkRadioSerial == radio.serial)
        return;
    m_configuration.smartLinkRadioSerial = radio.serial;
    emit configurationChanged();
    persistConfiguration();
    record(QStringLiteral("Selected SmartLink radio ") + radio.nickname + QStringLiteral(" (") + radio.serial +
           QStringLiteral(")"));
}

void AppModel::handleServerEvent(quint64 generation, const QString &line)
{
    record(line);
    const qsizetype cut = line.indexOf(QStringLiteral(": "));
    const QString event = cut < 0 ? line : line.mid(cut + 2);
    if (generation == m_generation && event.contains(QStringLiteral("failed")))
        setStatus(event);
}

void AppModel::ensureLegacyKIVORunning()
{
    if (descriptorOf(m_configuration.connectionKind).role != BackendRole::LegacyKIVO ||
        !m_configuration.superviseLegacyKIVO)
        return;
    const std::chrono::milliseconds now = m_dependencies.monotonic();
    if (!legacyLaunchDue(m_lastLegacyKIVOLaunch, now))
        return;
    const QString command = m_configuration.legacyKIVOLaunchCommand.trimmed();
    const QStringList words = legacyLaunchArguments(command);
    if (words.isEmpty()) {
        if (!m_legacyMissingCommandReported)
            record(QStringLiteral("Could not start legacy KIVO: no launch command is configured."));
        m_legacyMissingCommandReported = true;
        return;
    }
    if ((m_legacyKIVOProcess && m_legacyKIVOProcess()) ||
        m_dependencies.isProcessRunning(legacyProcessName(command, m_configuration.legacyKIVOProcessName)))
        return;
    m_lastLegacyKIVOLaunch = now;
    m_legacyKIVOProcess = m_dependencies.launchProcess(words.first(), words.mid(1));
    if (m_legacyKIVOProcess)
        record(QStringLiteral("Started legacy KIVO for SmartLink transport"));
    else
        record(QStringLiteral("Could not start ") + command);
}

} // namespace kivo
