// Spot bridge control of the application model.

#include "QuendKivoApp/model/AppModel.h"

#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/LogCategories.h"
#include "KivoCore/station/DXSpot.h"
#include "KivoCore/station/UDPSpotReceiver.h"
#include "KivoCore/support/Async.h"
#include "QuendKivoApp/model/StationStatusTexts.h"

namespace kivo {

std::unique_ptr<UDPSpotReceiver> AppModel::makeSpotReceiver(SpotFeed feed, std::shared_ptr<RadioControlling> radio)
{
    const QString name = rawValue(feed);
    const quint64 bridge = m_spotBridgeGeneration;
    // Datagrams arrive synchronously from the socket: apply them in a later
    // turn, and only while this bridge is the running one.
    auto onDatagram = [this, feed, radio, bridge](const QByteArray &data) {
        QMetaObject::invokeMethod(
            this,
            [this, feed, radio, bridge, data] {
                if (bridge == m_spotBridgeGeneration)
                    handleSpotDatagram(data, feed, radio);
            },
            Qt::QueuedConnection);
    };
    auto onEvent = [this, name](const QString &text) {
        record(QStringLiteral("Spots ") + name + QStringLiteral(": ") + text);
        if (text.contains(QLatin1String("failed")))
            assign(m_spotBridgeStatus, QStringLiteral("Listener error"), &AppModel::spotBridgeStatusChanged);
    };
    return std::make_unique<UDPSpotReceiver>(feed == SpotFeed::Logbook ? lcSpotsLogbook() : lcSpotsContest(),
                                             onDatagram, onEvent);
}

void AppModel::startSpotBridge(std::shared_ptr<RadioControlling> radio, const SpotBridgeConfiguration &spots)
{
    if (spots.logbookPort == spots.contestPort)
        throw KivoError::server(QStringLiteral("Logbook and contest spot ports must be different."));
    ++m_spotBridgeGeneration;
    auto logbook = makeSpotReceiver(SpotFeed::Logbook, radio);
    auto contest = makeSpotReceiver(SpotFeed::Contest, radio);
    // The failure names its feed: the port alone does not say which receiver it is.
    const auto listen = [](UDPSpotReceiver &receiver, SpotFeed feed, quint16 port) {
        try {
            receiver.start(port);
        } catch (...) {
            throw KivoError::server(QStringLiteral("The %1 spot receiver could not start: %2")
                                        .arg(rawValue(feed), describeException(std::current_exception())));
        }
    };
    try {
        listen(*logbook, SpotFeed::Logbook, spots.logbookPort);
        listen(*contest, SpotFeed::Contest, spots.contestPort);
    } catch (...) {
        logbook->stop();
        contest->stop();
        throw;
    }
    m_logbookSpotReceiver = std::move(logbook);
    m_contestSpotReceiver = std::move(contest);
    refreshSpotBridgeStatus();
    record(QStringLiteral("Spots: listening on UDP ") + QString::number(spots.logbookPort) + QStringLiteral(" / ") +
           QString::number(spots.contestPort));
}

void AppModel::stopSpotBridge()
{
    ++m_spotBridgeGeneration;
    if (m_logbookSpotReceiver)
        m_logbookSpotReceiver->stop();
    if (m_contestSpotReceiver)
        m_contestSpotReceiver->stop();
    m_logbookSpotReceiver.reset();
    m_contestSpotReceiver.reset();
}

void AppModel::refreshSpotBridgeStatus()
{
    if (!m_configuration.spotBridge.enabled || !m_logbookSpotReceiver || !m_contestSpotReceiver)
        return;
    const bool lacksSupport = agentLacksSpotSupport(m_configuration.connectionKind, m_remoteStationStatus);
    if (m_isRadioConnected && !lacksSupport)
        m_spotCapabilityWarningShown = false;
    assign(m_spotBridgeStatus, spotBridgeListeningStatus(m_isRadioConnected, lacksSupport),
           &AppModel::spotBridgeStatusChanged);
}

void AppModel::restartSpotBridge(const QString &settingsProblem)
{
    launch(restartSpotBridgeTask(settingsProblem));
}

QCoro::Task<void> AppModel::restartSpotBridgeTask(QString settingsProblem)
{
    if (!co_await saveAskedBy(settingsProblem, {&AppModel::m_spotBridgeStatus, &AppModel::spotBridgeStatusChanged,
                                                   &AppModel::m_spotBridgeSaveFailure, &AppModel::spotBridgeSaveFailureChanged}))
        co_return;
    stopSpotBridge();
    if (!m_configuration.spotBridge.enabled) {
        assign(m_spotBridgeStatus, QStringLiteral("Disabled"), &AppModel::spotBridgeStatusChanged);
        record(QStringLiteral("Spots: bridge disabled"));
        co_return;
    }
    if (m_isRunning && m_radio) {
        try {
            startSpotBridge(m_radio, m_configuration.spotBridge);
        } catch (...) {
            assign(m_spotBridgeStatus, QStringLiteral("Listener error"), &AppModel::spotBridgeStatusChanged);
            record(QStringLiteral("Spots: ") + describeException(std::current_exception()));
        }
        co_return;
    }
    assign(m_spotBridgeStatus, QStringLiteral("Starts with Quend-Kivo"), &AppModel::spotBridgeStatusChanged);
}

void AppModel::handleSpotDatagram(const QByteArray &data, SpotFeed feed, std::shared_ptr<RadioControlling> radio)
{
    assign(m_spotsReceived, m_spotsReceived + 1, &AppModel::spotsReceivedChanged);
    std::optional<FlexSpot> spot;
    DXSpotCategory category = DXSpotCategory::Other;
    try {
        const ParsedRUMlogSpot parsed = RUMlogSpotParser::parse(data, feed);
        category = parsed.category;
        spot = parsed.flexSpot(feed, m_configuration.spotBridge.style(category));
    } catch (...) {
        assign(m_spotsRejected, m_spotsRejected + 1, &AppModel::spotsRejectedChanged);
        assign(m_lastSpotSummary, QStringLiteral("Rejected RUMlog datagram"), &AppModel::lastSpotSummaryChanged);
        record(QStringLiteral("Spots: rejected UDP datagram: ") + describeException(std::current_exception()));
        return;
    }
    assign(m_lastSpotSummary, spotSummary(spot->callsign(), spot->frequencyHz(), category),
           &AppModel::lastSpotSummaryChanged);
    if (agentLacksSpotSupport(m_configuration.connectionKind, m_remoteStationStatus)) {
        assign(m_spotBridgeStatus, SpotBridgeStatusText::agentUpdateRequired(), &AppModel::spotBridgeStatusChanged);
        if (!m_spotCapabilityWarningShown) {
            m_spotCapabilityWarningShown = true;
            record(QStringLiteral(
                "Spots: Windows agent does not yet advertise add_spot; incoming spots remain local"));
        }
        return;
    }
    launch(forwardSpot(*spot, radio, m_spotBridgeGeneration));
}

QCoro::Task<void> AppModel::forwardSpot(FlexSpot spot, std::shared_ptr<RadioControlling> radio, quint64 bridge)
{
    QPointer<AppModel> self(this);
    std::exception_ptr failure;
    try {
        co_await radio->addSpot(spot);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    // A result for a bridge that has since stopped or restarted still counts
    // and logs, but no longer speaks for the bridge's state.
    const bool current = bridge == m_spotBridgeGeneration;
    if (!failure) {
        assign(m_spotsForwarded, m_spotsForwarded + 1, &AppModel::spotsForwardedChanged);
        if (current)
            assign(m_spotBridgeStatus, QStringLiteral("Listening \u2014 forwarding to FLEX"),
                   &AppModel::spotBridgeStatusChanged);
        m_lastSpotError.clear();
        record(QStringLiteral("Spots: sent ") + spot.callsign() + QStringLiteral(" to FLEX"));
        co_return;
    }
    assign(m_spotsRejected, m_spotsRejected + 1, &AppModel::spotsRejectedChanged);
    const QString message = describeException(failure);
    if (current)
        assign(m_spotBridgeStatus, spotRejectedStatus(m_isRadioConnected, message),
               &AppModel::spotBridgeStatusChanged);
    if (message == m_lastSpotError)
        co_return;
    m_lastSpotError = message;
    record(QStringLiteral("Spots: ") + spot.callsign() + QStringLiteral(" rejected: ") + message);
}

} // namespace kivo
