// The agent client's construction, connection life cycle, state stream and
// reconnection, and the one routine through which every HTTP request goes.

#include "KivoCore/agent/RemoteAgentClient.h"

#include "KivoCore/support/Async.h"
#include "KivoCore/radio/KivoError.h"
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
    : QObject(parent), m_endpoint(baseURL), m_token(trimmed(token)), m_ssl(ssl), m_onState(std::move(onState)),
      m_onSnapshot(std::move(onSnapshot)), m_timing(std::move(timing)), m_value(placeholderSnapshot()),
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
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, [this] { launch(connectToAgent()); });
}

RemoteAgentClient::~RemoteAgentClient()
{
    m_shouldRun = false;
    ++m_generation;
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
    return RadioSnapshot(14074000, digu, false, false, a, QStringLiteral("Remote Agent"), a, 14074000,
                         QList<RadioVFO>{RadioVFO(a, 14074000, digu, true, true, false, 0, false, 0)}, status);
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

void RemoteAgentClient::report(RadioConnectionState state, const QString &status)
{
    m_connectionState = state;
    if (m_onState)
        m_onState(state, status);
}

void RemoteAgentClient::publish()
{
    if (m_onSnapshot)
        m_onSnapshot(m_value);
}

void RemoteAgentClient::start()
{
    if (m_shouldRun)
        return;
    m_shouldRun = true;
    m_reconnectAttempt = 0;
    QTimer::singleShot(0, this, [this] { launch(connectToAgent()); });
}

void RemoteAgentClient::abandonConnection(const QString &reason)
{
    cancelVerifications();
    m_reconnectTimer.stop();
    closeStream();
    markDisconnected(reason);
}

QCoro::Task<void> RemoteAgentClient::stop()
{
    m_shouldRun = false;
    ++m_generation;
    abandonConnection(QStringLiteral("Stopped"));
    report(RadioConnectionState::Stopped, QStringLiteral("Stopped"));
    co_return;
}

void RemoteAgentClient::reconnectNow()
{
    if (!m_shouldRun) {
        start();
        return;
    }
    m_reconnectAttempt = 0;
    ++m_generation;
    abandonConnection(QStringLiteral("Manual reconnect requested"));
    QTimer::singleShot(0, this, [this] { launch(connectToAgent()); });
}

QCoro::Task<void> RemoteAgentClient::connectToAgent()
{
    if (!m_shouldRun)
        co_return;
    const int generation = ++m_generation;
    report(RadioConnectionState::Connecting, QStringLiteral("Connecting to Remote Station Agent"));

    QPointer<RemoteAgentClient> self(this);
    std::optional<RemoteAgentDecodedState> state;
    QString failure;
    try {
        state = co_await fetchState();
    } catch (...) {
        failure = describeException(std::current_exception());
    }
    if (!self)
        co_return;
    if (!state) {
        connectionFailed(failure, generation);
        co_return;
    }
    if (m_generation != generation || !m_shouldRun)
        co_return;
    apply(*state);
    m_reconnectAttempt = 0;
    report(RadioConnectionState::Ready, QStringLiteral("Remote Station Agent connected"));
    openStream(generation);
}

QCoro::Task<RemoteAgentDecodedState> RemoteAgentClient::fetchState()
{
    const HttpAnswer answer = co_await perform(m_network, request("GET", QStringLiteral("/api/v1/state")));
    validate(answer.status, answer.body);
    co_return RemoteAgentStateDecoder::stateResponse(answer.body, answer.receivedAt);
}

void RemoteAgentClient::openStream(int generation)
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

void RemoteAgentClient::handleStreamMessage(const QByteArray &bytes, int generation)
{
    if (generation != m_generation || !m_shouldRun)
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

void RemoteAgentClient::handleStreamEnd(int generation)
{
    if (generation != m_generation)
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
    if (m_streamGeneration != m_generation || !m_shouldRun) {
        m_watchdog.stop();
        return;
    }
    if (m_lastStreamMessage.elapsed() > m_timing.heartbeatTimeout.count())
        connectionFailed(QStringLiteral("Remote Agent stream heartbeat timed out"), m_streamGeneration);
}

void RemoteAgentClient::connectionFailed(const QString &reason, int generation)
{
    if (generation != m_generation)
        return;
    ++m_generation;
    qCInfo(lcAgent).noquote() << reason;
    closeStream();
    markDisconnected(reason);
    if (m_shouldRun)
        scheduleReconnect(reason);
    else
        report(RadioConnectionState::Stopped, QStringLiteral("Stopped"));
}

void RemoteAgentClient::scheduleReconnect(const QString &reason)
{
    m_reconnectTimer.stop();
    const qint64 attempt = std::max(0, m_reconnectAttempt) + 1;
    ++m_reconnectAttempt;
    const double delay = m_timing.jitter ? reconnectDelaySeconds(attempt, m_timing.jitter())
                                         : drawReconnectDelaySeconds(attempt);
    report(RadioConnectionState::Retrying, retryingSentence(reason, delay));
    m_reconnectTimer.start(scaledDelay(delay, m_timing.backoffSecond));
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
    // QCoro 0.8 moves from a non-const lvalue given to co_return: copy first.
    const RadioSnapshot copy = m_value;
    co_return copy;
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
