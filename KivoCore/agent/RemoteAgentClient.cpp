// The agent client's construction, connection life cycle, state stream and
// reconnection, and the one routine through which every HTTP request goes.

#include "KivoCore/agent/RemoteAgentClient.h"
#include "KivoCore/agent/RemoteAgentReading.h"

#include "KivoCore/support/Async.h"
#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/LogCategories.h"
#include "KivoCore/support/Redaction.h"
#include "KivoCore/support/Text.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QWebSocket>
#include <algorithm>

namespace kivo {

namespace {
QString streamInterrupted(const QString &detail)
{
    return QStringLiteral("Remote Agent stream interrupted: ") + detail;
}

QString requestTimedOut()
{
    return httpFailureSentence(QNetworkReply::TimeoutError, {});
}
} // namespace

RemoteAgentClient::RemoteAgentClient(Options options, StateHandler onState, SnapshotHandler onSnapshot,
                                     QObject *parent)
    : RadioBackendBase({std::move(onState), std::move(onSnapshot), options.timing.backoffSecond,
                        options.timing.jitter},
                       parent),
      m_endpoint(options.baseURL), m_token(trimmed(options.token)), m_ssl(std::move(options.ssl)),
      m_timing(std::move(options.timing)),
      m_value(placeholderSnapshot()),
      m_authoritativeValue(m_value)
{
    if (m_token.isEmpty())
        throw KivoError::server(QStringLiteral("Enter the Remote Agent bearer token."));
    setObjectName(QString::fromLatin1(lcRemoteAgent().categoryName()));
    m_network = new QNetworkAccessManager(this);
    m_pendingWrites.lifetime = m_timing.pendingWriteLifetime;

    setTickInterval(m_timing.watchdogInterval);
    m_streamOpenTimer.setSingleShot(true);
    connect(&m_streamOpenTimer, &QTimer::timeout, this,
            [this] { fail(m_streamGeneration, streamInterrupted(requestTimedOut())); });
}

RemoteAgentClient::~RemoteAgentClient()
{
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
                          .vfos = QList<RadioVFO>{RadioVFO({.letter = a,
                                                            .frequencyHz = 14074000,
                                                            .mode = digu,
                                                            .isReceive = true,
                                                            .isTransmit = true})},
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
    RemoteAgentRequest built = RemoteAgentRequestBuilder::request(
        m_endpoint, {.token = m_token, .timeout = m_timing.requestTimeout}, method, path);
    built.request.setSslConfiguration(m_ssl);
    return built;
}

QCoro::Task<HttpAnswer> RemoteAgentClient::perform(QPointer<QNetworkAccessManager> network,
                                                   RemoteAgentRequest request,
                                                   std::shared_ptr<RemoteAgentCancellation> cancellation)
{
    request.trace = &lcRemoteAgent();
    return sendHttpRequest(std::move(network), std::move(request), std::move(cancellation));
}

void RemoteAgentClient::openTransport(qint64 attempt)
{
    m_failure.reset();
    // From the event loop, so that a manual reconnect's marking is published
    // before "Connecting".
    QTimer::singleShot(0, this, [this, attempt] {
        if (isCurrent(attempt))
            launch(connectToAgent(attempt));
    });
}

QCoro::Task<void> RemoteAgentClient::dropTransport()
{
    closeStream();
    if (m_stateRequest)
        m_stateRequest->cancel();
    // A running client drops its transport without a failure of its own only
    // for a manual reconnect.
    if (shouldRun() && !m_failure) {
        cancelVerifications();
        markDisconnected(QStringLiteral("Manual reconnect requested"));
    }
    co_return;
}

void RemoteAgentClient::sessionEnded()
{
    // A stop abandoned the session's work before its make-safe pass.
    if (!shouldRun()) {
        markDisconnected(QStringLiteral("Stopped"));
    } else if (m_failure) {
        markDisconnected(*m_failure);
    }
    m_failure.reset();
}

const QLoggingCategory &RemoteAgentClient::logCategory() const
{
    return lcRemoteAgent();
}

RemoteAgentClient::InFlight::InFlight(RemoteAgentClient *owner,
                                     std::shared_ptr<RemoteAgentCancellation> cancellation)
    : cancellation(cancellation ? std::move(cancellation) : std::make_shared<RemoteAgentCancellation>()),
      m_owner(owner)
{
    owner->m_commandsInFlight.insert(this->cancellation.get(), this->cancellation);
}

RemoteAgentClient::InFlight::~InFlight()
{
    if (m_owner)
        m_owner->m_commandsInFlight.remove(cancellation.get());
}

void RemoteAgentClient::abandonSessionWork()
{
    cancelVerifications();
    // Configuration saves are not tracked here: they outlive a stop.
    for (const auto &weak : std::as_const(m_commandsInFlight)) {
        if (const auto cancellation = weak.lock())
            cancellation->cancel();
    }
    m_commandsInFlight.clear();
}

QCoro::Task<void> RemoteAgentClient::connectToAgent(qint64 attempt)
{
    setState(RadioConnectionState::Connecting, QStringLiteral("Connecting to Remote Station Agent"));
    const AttemptGuard current = guard(attempt);
    if (!current)
        co_return;

    const auto cancellation = std::make_shared<RemoteAgentCancellation>();
    m_stateRequest = cancellation;
    // The state asked for now is made after every key and unkey that has
    // ended: the agent may act on requests out of order.
    const qint64 settledAt = agent::askFollows(transmitWritesEnded());
    std::optional<RemoteAgentDecodedState> state;
    QString failure;
    try {
        state = co_await fetchState(cancellation);
    } catch (...) {
        failure = describeException(std::current_exception());
    }
    if (!current || !shouldRun())
        co_return;
    if (!state) {
        fail(attempt, failure);
        co_return;
    }
    // A restarted agent counts its revisions from the start again.
    m_reportedRevision = 0;
    m_reportedBehind = 0;
    m_baselines.clear();
    apply(*state, settledAt);
    clearFailures();
    sessionReady(attempt, QStringLiteral("Remote Station Agent connected"));
    if (current && shouldRun())
        openStream(attempt);
}

QCoro::Task<RemoteAgentDecodedState> RemoteAgentClient::fetchState(
    std::shared_ptr<RemoteAgentCancellation> cancellation)
{
    const HttpAnswer answer =
        co_await perform(m_network, request("GET", QStringLiteral("/api/v1/state")), std::move(cancellation));
    validate(answer.status, answer.body);
    co_return RemoteAgentStateDecoder::stateResponse(answer.body, answer.receivedAt);
}

void RemoteAgentClient::openStream(qint64 attempt)
{
    closeStream();
    auto *socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    socket->setSslConfiguration(m_ssl);
    socket->setMaxAllowedIncomingMessageSize(maxStreamMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(maxStreamMessageBytes);
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, attempt](const QString &message) { handleStreamMessage(message.toUtf8(), attempt); });
    connect(socket, &QWebSocket::binaryMessageReceived, this,
            [this, attempt](const QByteArray &message) { handleStreamMessage(message, attempt); });
    connect(socket, &QWebSocket::connected, &m_streamOpenTimer, &QTimer::stop);
    connect(socket, &QWebSocket::disconnected, this, [this, attempt] { handleStreamEnd(attempt); });
    connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            [this, attempt](QAbstractSocket::SocketError) { handleStreamEnd(attempt); });
    m_socket = socket;
    m_streamGeneration = attempt;

    QNetworkRequest open(m_endpoint.url(QStringLiteral("/api/v1/stream"), true));
    open.setRawHeader("Authorization", "Bearer " + m_token.toUtf8());

    qCDebug(lcRemoteAgent) << "stream opening" << qPrintable(redactedSecrets(open.url().toString()));
    m_lastStreamMessage.start();
    m_streamOpenTimer.start(m_timing.streamOpenTimeout);
    socket->open(open);
}

void RemoteAgentClient::closeStream()
{
    m_streamOpenTimer.stop();
    if (QWebSocket *socket = m_socket) {
        m_socket = nullptr;
        socket->disconnect(this);
        socket->close(QWebSocketProtocol::CloseCodeGoingAway);
        socket->deleteLater();
    }
}

void RemoteAgentClient::handleStreamMessage(const QByteArray &bytes, qint64 attempt)
{
    qCDebug(lcRemoteAgent) << "stream message" << redactedSecrets(QString::fromUtf8(bytes));
    if (!isCurrent(attempt) || !shouldRun())
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
        fail(attempt, streamInterrupted(describeException(std::current_exception())));
        return;
    }
    apply(state);
}

void RemoteAgentClient::handleStreamEnd(qint64 attempt)
{
    if (!isCurrent(attempt))
        return;
    QString detail = QStringLiteral("The agent closed the stream.");
    if (m_socket && m_socket->error() != QAbstractSocket::UnknownSocketError)
        detail = asSentence(m_socket->errorString());
    else if (m_socket && !m_socket->closeReason().isEmpty())
        detail = asSentence(m_socket->closeReason());
    qCDebug(lcRemoteAgent) << "stream ended:" << detail;
    fail(attempt, streamInterrupted(detail));
}

QCoro::Task<void> RemoteAgentClient::tick()
{
    if (m_socket && m_lastStreamMessage.isValid()
        && m_lastStreamMessage.elapsed() > m_timing.heartbeatTimeout.count()) {
        m_failure = QStringLiteral("Remote Agent stream heartbeat timed out");
        throw KivoError::server(*m_failure);
    }
    co_return;
}

void RemoteAgentClient::fail(qint64 attempt, const QString &reason)
{
    if (!isCurrent(attempt))
        return;
    qCInfo(lcRemoteAgent).noquote() << reason;
    m_failure = reason;
    connectionFailed(attempt, reason);
}

void RemoteAgentClient::markDisconnected(const QString &reason)
{
    m_disconnectedBase = markedDisconnected(m_disconnectedBase.value_or(m_authoritativeValue), reason);
    m_value = markedDisconnected(m_value, reason);
    publish();
}

void RemoteAgentClient::apply(const RemoteAgentDecodedState &state, std::optional<qint64> answersWrites)
{
    m_authoritativeValue = state.snapshot;
    m_disconnectedBase.reset();
    RadioSnapshot reconciled = state.snapshot;
    m_pendingWrites.reconcile(reconciled, PendingRadioWrites::Clock::now());
    m_value = reconciled;
    m_wordsPerMinute = state.cwSpeed;
    if (const auto &status = state.snapshot.remoteStationStatus)
        reportTransmitter(state.snapshot, status->revision, answersWrites);
    publish();
}

void RemoteAgentClient::reportTransmitter(const RadioSnapshot &snapshot, qint64 revision,
                                          std::optional<qint64> answersWrites)
{
    if (answersWrites)
        noteBaseline(*answersWrites, revision);
    // The stream and command answers arrive in no fixed order: only a newer
    // revision, or the same one now known to be made after more of our
    // writes, tells the ledger anything. The agent names no key source.
    qint64 behind = 0;
    for (const Baseline &baseline : std::as_const(m_baselines)) {
        if (baseline.fromRevision <= revision)
            behind = std::max(behind, baseline.writes);
    }
    if (revision < m_reportedRevision || (revision == m_reportedRevision && behind <= m_reportedBehind))
        return;
    m_reportedRevision = revision;
    m_reportedBehind = behind;
    transmitterReported(snapshot.isTransmitting, KeySource::Unknown, behind);
}

void RemoteAgentClient::noteBaseline(qint64 writes, qint64 revision)
{
    // Every revision still to come is newer than the one reported: of the
    // baselines that hold for it already, the newest writes are all that count.
    qint64 settled = 0;
    m_baselines.removeIf([&](const Baseline &baseline) {
        if (baseline.fromRevision > m_reportedRevision)
            return baseline.writes <= writes && baseline.fromRevision >= revision;
        settled = std::max(settled, baseline.writes);
        return true;
    });
    if (settled > 0)
        m_baselines.append({.writes = settled, .fromRevision = 0});
    m_baselines.append({.writes = writes, .fromRevision = revision});
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
