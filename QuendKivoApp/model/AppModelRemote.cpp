// Remote station control, station configuration load and save, and the
// telemetry latency of the agent backend.

#include "QuendKivoApp/model/AppModel.h"

#include "KivoCore/agent/RemoteAgentClient.h"
#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/Async.h"
#include "QuendKivoApp/model/ConnectionKindDescriptor.h"

namespace kivo {

namespace {

const QString savedOnWindows = QStringLiteral("Station configuration saved on Windows; agent restart required");

} // namespace

std::optional<RemoteStationAction> AppModel::amplifierToggleAction() const
{
    return amplifierToggle(m_remoteStationStatus);
}

bool AppModel::remoteActionAllowed(RemoteStationAction action) const
{
    return remoteActionPermitted(action, m_isRunning, m_isRadioConnected, m_remoteStationStatus,
                                 m_configuration.allowCATTransmit);
}

void AppModel::runRemoteControl(const QString &label, RemoteOperation operation)
{
    if (!m_remoteAgent) {
        record(label + QStringLiteral(" unavailable: Remote Agent is not running"));
        return;
    }
    launch(runRemoteControlTask(label, std::move(operation), m_remoteAgent));
}

QCoro::Task<void> AppModel::runRemoteControlTask(QString label, RemoteOperation operation,
                                                 std::shared_ptr<RemoteAgentClient> client)
{
    QPointer<AppModel> self(this);
    QString failure;
    try {
        co_await operation(client);
    } catch (...) {
        failure = describeException(std::current_exception());
    }
    if (!self)
        co_return;
    record(failure.isEmpty() ? label + QStringLiteral(" accepted by Remote Agent")
                             : label + QStringLiteral(" rejected: ") + failure);
}

void AppModel::applyRemoteRIT()
{
    runRemoteControl(QStringLiteral("RIT"), [this](std::shared_ptr<RemoteAgentClient> client) {
        return client->setRIT(m_remoteRITEnabled, m_remoteRITOffsetHz, std::nullopt);
    });
}

void AppModel::applyRemoteXIT()
{
    runRemoteControl(QStringLiteral("XIT"), [this](std::shared_ptr<RemoteAgentClient> client) {
        return client->setXIT(m_remoteXITEnabled, m_remoteXITOffsetHz, std::nullopt);
    });
}

void AppModel::applyRemoteRFPower()
{
    runRemoteControl(QStringLiteral("RF power"), [this](std::shared_ptr<RemoteAgentClient> client) {
        return client->setRFPower(m_remoteRFPowerWatts);
    });
}

void AppModel::performRemoteStationAction(RemoteStationAction action)
{
    const QString label = QStringLiteral("Station ") + rawValue(action);
    // The settings forbid keying; the agent is not asked.
    const bool keys = action == RemoteStationAction::Operate || action == RemoteStationAction::Tune;
    if (keys && !m_configuration.allowCATTransmit) {
        record(label + QStringLiteral(" rejected: Transmit actions are not allowed in the settings."));
        return;
    }
    runRemoteControl(label, [action](std::shared_ptr<RemoteAgentClient> client) {
        return client->performStationAction(action);
    });
}

void AppModel::reconnectRemoteAgent()
{
    if (!m_isRunning || !m_remoteAgent) {
        record(QStringLiteral("Agent reconnect unavailable: Remote Agent is not running"));
        return;
    }
    assign(m_isRadioConnected, false, &AppModel::isRadioConnectedChanged);
    setStatus(QStringLiteral("Reconnecting to Remote Station Agent"));
    record(QStringLiteral("Agent: Manual reconnect requested"));
    // A stop in between must not be undone by a late reconnect.
    auto client = m_remoteAgent;
    post([this, client] {
        if (m_remoteAgent == client)
            client->reconnectNow();
    });
}

QCoro::Task<void> AppModel::loadRemoteConfiguration(std::shared_ptr<RemoteAgentClient> client)
{
    QPointer<AppModel> self(this);
    const quint64 generation = m_generation;
    const quint64 ticket = ++m_remoteConfigurationTicket;
    assign(m_remoteConfigurationBusy, true, &AppModel::remoteConfigurationBusyChanged);
    assign(m_remoteConfigurationStatus, QStringLiteral("Loading from Windows"),
           &AppModel::remoteConfigurationStatusChanged);
    std::optional<RemoteStationConfiguration> loaded;
    QString failure;
    try {
        loaded = co_await client->fetchConfiguration();
    } catch (...) {
        failure = describeException(std::current_exception());
    }
    // A stop abandons the load and says all there is to say.
    if (!self || generation != m_generation)
        co_return;
    // A newer load or save owns the status; this one still leaves its line.
    if (ticket != m_remoteConfigurationTicket) {
        if (!loaded)
            record(QStringLiteral("Station configuration unavailable: ") + failure);
        co_return;
    }
    if (loaded) {
        setRemoteConfiguration(*loaded);
        assign(m_remoteConfigurationLoaded, true, &AppModel::remoteConfigurationLoadedChanged);
        assign(m_remoteConfigurationBusy, false, &AppModel::remoteConfigurationBusyChanged);
        assign(m_remoteConfigurationStatus, QStringLiteral("Loaded from Windows"),
               &AppModel::remoteConfigurationStatusChanged);
        co_return;
    }
    assign(m_remoteConfigurationLoaded, false, &AppModel::remoteConfigurationLoadedChanged);
    assign(m_remoteConfigurationBusy, false, &AppModel::remoteConfigurationBusyChanged);
    assign(m_remoteConfigurationStatus, QStringLiteral("Load failed: ") + failure,
           &AppModel::remoteConfigurationStatusChanged);
    record(QStringLiteral("Station configuration unavailable: ") + failure);
}

void AppModel::reloadRemoteConfiguration()
{
    if (!m_remoteAgent) {
        assign(m_remoteConfigurationStatus, QStringLiteral("Remote Station Agent is not running"),
               &AppModel::remoteConfigurationStatusChanged);
        return;
    }
    launch(loadRemoteConfiguration(m_remoteAgent));
}

void AppModel::saveRemoteConfiguration()
{
    if (!m_remoteAgent) {
        assign(m_remoteConfigurationStatus, QStringLiteral("Remote Station Agent is not running"),
               &AppModel::remoteConfigurationStatusChanged);
        return;
    }
    const quint64 ticket = ++m_remoteConfigurationTicket;
    assign(m_remoteConfigurationBusy, true, &AppModel::remoteConfigurationBusyChanged);
    assign(m_remoteConfigurationStatus, QStringLiteral("Saving on Windows"),
           &AppModel::remoteConfigurationStatusChanged);
    launch(saveRemoteConfigurationTask(m_remoteAgent, m_remoteConfiguration, ticket));
}

QCoro::Task<void> AppModel::saveRemoteConfigurationTask(std::shared_ptr<RemoteAgentClient> client,
                                                        RemoteStationConfiguration copy, quint64 ticket)
{
    QPointer<AppModel> self(this);
    std::optional<RemoteStationConfiguration> stored;
    QString failure;
    try {
        stored = co_await client->saveConfiguration(copy);
    } catch (...) {
        failure = describeException(std::current_exception());
    }
    if (!self)
        co_return;
    if (ticket != m_remoteConfigurationTicket) {
        record(stored ? savedOnWindows : QStringLiteral("Station configuration rejected: ") + failure);
        co_return;
    }
    assign(m_remoteConfigurationBusy, false, &AppModel::remoteConfigurationBusyChanged);
    if (stored) {
        setRemoteConfiguration(*stored);
        assign(m_remoteConfigurationLoaded, true, &AppModel::remoteConfigurationLoadedChanged);
        assign(m_remoteConfigurationStatus, QStringLiteral("Saved — restart the Windows agent to apply"),
               &AppModel::remoteConfigurationStatusChanged);
        record(savedOnWindows);
        co_return;
    }
    assign(m_remoteConfigurationStatus, QStringLiteral("Save failed: ") + failure,
           &AppModel::remoteConfigurationStatusChanged);
    record(QStringLiteral("Station configuration rejected: ") + failure);
}

void AppModel::startTimingSample(const RadioSnapshot &snapshot)
{
    const qint64 frequency = snapshot.frequencyHz;
    if (m_lastTimedFrequency == frequency || !snapshot.transportReceivedAt)
        return;
    TelemetryTiming timing;
    timing.frequencyHz = frequency;
    timing.receivedAt = *snapshot.transportReceivedAt;
    if (snapshot.agentObservedAt)
        timing.transportMilliseconds = elapsedMilliseconds(*snapshot.agentObservedAt, timing.receivedAt);
    m_lastTimedFrequency = frequency;
    m_pendingTelemetryTiming = timing;
    assign(m_telemetryLatencySummary, latencySummary(timing), &AppModel::telemetryLatencySummaryChanged);
}

void AppModel::noteTelemetryRendered(const QString &surface)
{
    if (!descriptorOf(m_configuration.connectionKind).isRemoteAgent() || !m_radioSnapshot || !m_pendingTelemetryTiming)
        return;
    TelemetryTiming &timing = *m_pendingTelemetryTiming;
    if (timing.frequencyHz != m_radioSnapshot->frequencyHz || timing.renderMilliseconds.contains(surface))
        return;
    const bool first = timing.renderMilliseconds.isEmpty();
    // An absurd arrival stamp gives no figure rather than a wrong one.
    const auto rendered = elapsedMilliseconds(timing.receivedAt, m_dependencies.now());
    if (!rendered)
        return;
    timing.renderMilliseconds.insert(surface, *rendered);
    assign(m_telemetryLatencySummary, latencySummary(timing), &AppModel::telemetryLatencySummaryChanged);
    if (first)
        record(QStringLiteral("Latency ") + surface + QStringLiteral(": ") + m_telemetryLatencySummary);
}

} // namespace kivo
