// The agent client's construction, connection life cycle, state stream and
// reconnection, and the one routine through which every HTTP request goes.

#include "KivoCore/agent/RemoteAgentClient.h"

#include "KivoCore/support/Async.h"
#include "KivoCore/radio/KivoError.h"
#include "KivoCore/support/ConnectionLifecycle.h"
#include "KivoCore/support/ReconnectBackoff.h"
#include "KivoCore/support/Text.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QWebSocket>
#include <algorithm>

namespace kivo {

namespace {
Q_LOGGING_CATEGORY(lcAgent, "com.tarnvale.QuendKivo.remote-agent")

QString streamInterrupted(const QString &detail)
{
    return QStringLiteral("Remote Agent stream interrupted: ") + detail;
}

QString requestTimedOut()
{
    return httpFailureSentence(QNetworkReply::TimeoutError, {});
}
} // namespace

RemoteAgentClient::RemoteAgentClient(const QString &baseURL, const QString &token, const QSslConfiguration &ssl,
                                     StateHandler onState, SnapshotHandler onSnapshot, Timing timing,
                                     QObject *parent)
    : QObject(parent), m_endpoint(baseURL), m_token(trimmed(token)), m_ssl(ssl), m_timing(std::move(timing)),
      m_life(this, [this] { launch(connectToAgent()); },
             {std::move(onState), std::move(onSnapshot), m_timing.backoffSecond, m_timing.jitter}),
      m_value(placeholderSnapshot()),
      m_authoritativeValue(m_value)
{
    if (m_token.isEmpty())
        throw KivoError::server(QStringLiteral("Enter the Remote Agent bearer token."));
    setObjectName(QStringLiteral("com.tarnvale.QuendKivo.remote-agent"));
    m_network = new QNetworkAccessManager(this);
    m_pendingWrites.lifetime = m_timing.pendingWriteLifetime;

    m_watchdog.setInterval(m_timing.watchdogInterval);
    connect(&m_watchdog, &QTimer::timeout, this, &RemoteAgentClient::checkHeartbeat);
    m_streamOpenTimer.setSingleShot(true);
    connect(&m_streamOpenTimer, &QTimer::timeout, this,
            [this] { connectionFailed(streamInterrupted(requestTimedOut()), m_streamGeneration); });
}

RemoteAgentClient::~RemoteAgentClient()
{
    m_life.end();
    m_life.advance();
    cancelVerifications();
    closeStream();
    // Ends every request in flight, so no caller waits for an answer that
    // can no longer arrive.
    abortHttpRequests(m_network);
}

RadioSnapshot RemoteAgentClient::placeholderSnapshot()
{
    RemoteStationStatus status;
    status.revision = 0;
    status.radioKnown = false;
    status.radioStale = true;
    status.stationBound = false;
    status.commissioned = false;
    status.coordinatorState = QStringLiteral("unknown");
    status.inhibitors = {QStringLiteral("Agent state is not available")};
    status.kpaSummary = QStringLiteral("KPA unknown");
    status.katSummary = QStringLiteral("KAT unknown");
    status.routeSummary = QStringLiteral("Route unknown");
    status.alarmSummary = QStringLiteral("ALARM unknown");
    status.band = QStringLiteral("--");
    status.routeAlignment = QStringLiteral("unknown");
    status.interlockState = QStringLiteral("--");
    status.swrIsLive = false;
    status.kpaDetailPrimary = QStringLiteral("KPA500 --");
    status.kpaDetailSecondary = QStringLiteral("Telemetry unavailable");
    status.katDetailPrimary = QStringLiteral("KAT500 --");
    status.katDetailSecondary = QStringLiteral("Telemetry unavailable");
    status.routeDetail = QStringLiteral("Route unavailable");

    const QString a = QStringLiteral("A");
    const QString digu = QStringLiteral("DIGU");
    return RadioSnapshot({.frequencyHz = 14074000,
                          .mode = digu,
                          .slice = a,
                          .station = QStringLiteral("Remote Agent"),
                          .transmitSlice = a,
                          .transmitFrequencyHz = 14074000,
                          .vfos = QList<RadioVFO>{RadioVFO(a, 14074000, digu, true, true, false, 0, false, 0)},
                          .remoteStationStatus = status});
}

RadioSnapshot RemoteAgentClient::markedDisconnected(RadioSnapshot snapshot, const QString &reason)
{
    snapshot.isConnected = false;
    snapshot.isTransmitting = false;
    if (snapshot.remoteStationStatus) {
        RemoteStationStatus &status = *snapshot.remoteStationStatus;
        status.radioKnown = false;
        status.radioStale = true;
        QStringList inhibitors{reason};
        for (const QString &inhibitor : std::as_const(status.inhibitors)) {
            if (inhibitor != reason)
                inhibitors.append(inhibitor);
        }
        status.inhibitors = inhibitors;
    }
    return snapshot;
}

void RemoteAgentClient::validate(std::optional<int> httpStatus, const QByteArray &body)
{
    if (!httpStatus)
        throw KivoError::server(QStringLiteral("Remote Agent returned an invalid response."));
    if (*httpStatus >= 200 && *httpStatus <= 299)
        return;
    std::optional<QString> sentence;
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (document.isObject()) {
        const QJsonObject object = document.object();
        const QJsonValue error = object.value(QStringLiteral("error"));
        const QJsonValue message = error.toObject().value(QStringLiteral("message"));
        const QJsonValue detail = object.value(QStringLiteral("detail"));
        if (error.isObject() && message.isString())
            sentence = message.toString();
        else if (detail.isString())
            sentence = detail.toString();
    }
    throw KivoError::server(
        sentence.value_or(QStringLiteral("Remote Agent request failed (HTTP %1).").arg(*httpStatus)));
}

RemoteAgentRequest RemoteAgentClient::request(const QByteArray &method, const QString &path) const
{
    RemoteAgentRequest built =
        RemoteAgentRequestBuilder::request(m_endpoint, m_token, method, path, m_timing.requestTimeout);
    built.request.setSslConfiguration(m_ssl);
    return built;
}

QCoro::Task<HttpAnswer> RemoteAgentClient::perform(QPointer<QNetworkAccessManager> network,
                                                   RemoteAgentRequest request,
                                                   std::shared_ptr<RemoteAgentCancellation> cancellation)
{
    return sendHttpRequest(std::move(network), std::move(request), std::move(cancellation));
}

void RemoteAgentClient::start()
{
    if (m_life.begin())
        m_life.retryAfter(std::chrono::milliseconds(0));
}

void RemoteAgentClient::abandonConnection(const QString &reason)
{
    cancelVerifications();
    m_life.cancelRetry();
    closeStream();
    markDisconnected(reason);
}

QCoro::Task<void> RemoteAgentClient::stop()
{
    m_life.end();
    m_life.advance();
    abandonConnection(QStringLiteral("Stopped"));
    m_life.reportStopped();
    co_return;
}

void RemoteAgentClient::reconnectNow()
{
    if (!m_life.shouldRun()) {
        start();
        return;
    }
    m_life.clearFailures();
    m_life.advance();
    abandonConnection(QStringLiteral("Manual reconnect requested"));
    m_life.retryAfter(std::chrono::milliseconds(0));
}

QCoro::Task<void> RemoteAgentClient::connectToAgent()
{
    if (!m_life.shouldRun())
        co_return;
    const qint64 generation = m_life.advance();
    report(RadioConnectionState::Connecting, QStringLiteral("Connecting to Remote Station Agent"));

    const AttemptGuard current = m_life.guard(generation);
    std::optional<RemoteAgentDecodedState> state;
    QString failure;
    try {
        state = co_await fetchState();
    } catch (...) {
        failure = describeException(std::current_exception());
    }
    if (!current.ownerAlive())
        co_return;
    if (!state) {
        connectionFailed(failure, generation);
        co_return;
    }
    if (!current || !m_life.shouldRun())
        co_return;
    apply(*state);
    m_life.clearFailures();
    report(RadioConnectionState::Ready, QStringLiteral("Remote Station Agent connected"));
    openStream(generation);
}

QCoro::Task<RemoteAgentDecodedState> RemoteAgentClient::fetchState()
{
    const HttpAnswer answer = co_await perform(m_network, request("GET", QStringLiteral("/api/v1/state")));
    validate(answer.status, answer.body);
    co_return RemoteAgentStateDecoder::stateResponse(answer.body, answer.receivedAt);
}

void RemoteAgentClient::openStream(qint64 generation)
{
    closeStream();
    auto *socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    socket->setSslConfiguration(m_ssl);
    socket->setMaxAllowedIncomingMessageSize(maxStreamMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(maxStreamMessageBytes);
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, generation](const QString &message) { handleStreamMessage(message.toUtf8(), generation); });
    connect(socket, &QWebSocket::binaryMessageReceived, this,
            [this, generation](const QByteArray &message) { handleStreamMessage(message, generation); });
    connect(socket, &QWebSocket::connected, &m_streamOpenTimer, &QTimer::stop);
    connect(socket, &QWebSocket::disconnected, this, [this, generation] { handleStreamEnd(generation); });
    connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            [this, generation](QAbstractSocket::SocketError) { handleStreamEnd(generation); });
    m_socket = socket;
    m_streamGeneration = generation;

    QNetworkRequest open(m_endpoint.url(QStringLiteral("/api/v1/stream"), true));
    open.setRawHeader("Authorization", "Bearer " + m_token.toUtf8());

    m_lastStreamMessage.start();
    m_streamOpenTimer.start(m_timing.streamOpenTimeout);
    m_watchdog.start();
    socket->open(open);
}

void RemoteAgentClient::closeStream()
{
    m_watchdog.stop();
    m_streamOpenTimer.stop();
    if (QWebSocket *socket = m_socket) {
        m_socket = nullptr;
        socket->disconnect(this);
        socket->close(QWebSocketProtocol::CloseCodeGoingAway);
        socket->deleteLater();
    }
}

void RemoteAgentClient::handleStreamMessage(const QByteArray &bytes, qint64 generation)
{
    if (!m_life.isCurrent(generation) || !m_life.shouldRun())
        return;
    // Any message is a heartbeat, whatever it holds.
    m_lastStreamMessage.restart();
    const QDateTime arrivedAt = QDateTime::currentDateTimeUtc();
    RemoteAgentDecodedState state;
    try {
        const StreamMessage message = StreamMessage::fromJson(bytes);
        if (message.type != QLatin1String("state") || !message.state)
            return;
        state = RemoteAgentStateDecoder::decode(*message.state, arrivedAt);
    } catch (...) {
        connectionFailed(streamInterrupted(describeException(std::current_exception())), generation);
        return;
    }
    apply(state);
}

void RemoteAgentClient::handleStreamEnd(qint64 generation)
{
    if (!m_life.isCurrent(generation))
        return;
    QString detail = QStringLiteral("The agent closed the stream.");
    if (m_socket && m_socket->error() != QAbstractSocket::UnknownSocketError)
        detail = asSentence(m_socket->errorString());
    else if (m_socket && !m_socket->closeReason().isEmpty())
        detail = asSentence(m_socket->closeReason());
    connectionFailed(streamInterrupted(detail), generation);
}

void RemoteAgentClient::checkHeartbeat()
{
    if (!m_life.isCurrent(m_streamGeneration) || !m_life.shouldRun()) {
        m_watchdog.stop();
        return;
    }
    if (m_lastStreamMessage.elapsed() > m_timing.heartbeatTimeout.count())
        connectionFailed(QStringLiteral("Remote Agent stream heartbeat timed out"), m_streamGeneration);
}

void RemoteAgentClient::connectionFailed(const QString &reason, qint64 generation)
{
    if (!m_life.isCurrent(generation))
        return;
    m_life.advance();
    qCInfo(lcAgent).noquote() << reason;
    closeStream();
    markDisconnected(reason);
    m_life.retryUnlessStopped(reason);
}

void RemoteAgentClient::markDisconnected(const QString &reason)
{
    m_disconnectedBase = markedDisconnected(m_disconnectedBase.value_or(m_authoritativeValue), reason);
    m_value = markedDisconnected(m_value, reason);
    publish();
}

void RemoteAgentClient::apply(const RemoteAgentDecodedState &state)
{
    m_authoritativeValue = state.snapshot;
    m_disconnectedBase.reset();
    RadioSnapshot reconciled = state.snapshot;
    m_pendingWrites.reconcile(reconciled, PendingRadioWrites::Clock::now());
    m_value = reconciled;
    m_wordsPerMinute = state.cwSpeed;
    publish();
}

void RemoteAgentClient::publishPendingWrites()
{
    RadioSnapshot reconciled = m_disconnectedBase.value_or(m_authoritativeValue);
    m_pendingWrites.reconcile(reconciled, PendingRadioWrites::Clock::now());
    m_value = reconciled;
    publish();
}

QCoro::Task<RadioSnapshot> RemoteAgentClient::snapshot()
{
    return snapshotCopy(m_value);
}

QCoro::Task<std::optional<qint64>> RemoteAgentClient::primaryFrequency()
{
    std::optional<qint64> hz;
    if (const auto vfo = m_value.vfo(QStringLiteral("A")))
        hz = vfo->frequencyHz;
    co_return hz;
}

QCoro::Task<std::optional<qint64>> RemoteAgentClient::secondaryFrequency()
{
    std::optional<qint64> hz;
    if (const auto vfo = m_value.vfo(QStringLiteral("B")))
        hz = vfo->frequencyHz;
    co_return hz;
}

QCoro::Task<int> RemoteAgentClient::cwSpeed()
{
    co_return m_wordsPerMinute;
}

} // namespace kivo
