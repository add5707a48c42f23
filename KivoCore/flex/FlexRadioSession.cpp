// The session: connecting (plain or pinned TLS), the bootstrap, the
// heartbeat and cutting the inbound stream into lines.

#include "KivoCore/flex/FlexRadioSession.h"

#include "KivoCore/support/LogCategories.h"
#include "KivoCore/support/ReconnectBackoff.h"

#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/Text.h"

#include <QPointer>
#include <QSslSocket>
#include <QStringDecoder>
#include <QTcpSocket>

#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

constexpr qsizetype maximumInboundBytes = 1024 * 1024;
constexpr qint64 maximumReadBytes = 16384;

} // namespace

FlexRadioSession::FlexRadioSession(FlexRadioSessionOptions options, StateHandler onState,
                                   SnapshotHandler onSnapshot, QObject *parent)
    : RadioBackendBase({std::move(onState), std::move(onSnapshot), options.backoffSecond, std::move(options.random)},
                       parent),
      m_stationName(std::move(options.stationName)), m_sliceLetter(upperCased(options.sliceLetter)),
      m_pinStore(std::move(options.pinStore)), m_timing(options.timing),
      m_value({.frequencyHz = 14074000, .mode = QStringLiteral("DIGU"), .slice = m_sliceLetter, .station = m_stationName})
{
    setObjectName(QString::fromLatin1(lcRadio().categoryName()));
    setTickInterval(m_timing.heartbeatInterval);
}

FlexRadioSession::~FlexRadioSession()
{
    // Work still waiting for the radio ends instead of staying suspended; it
    // touches nothing of this object afterwards.
    dropConnection();
    failAllPending();
    m_clientHandle.fail(KivoError::notConnected());
}

void FlexRadioSession::openSession(qint64 attempt, FlexRadioEndpoint endpoint)
{
    resetSessionState();
    m_endpoint = std::move(endpoint);
    setState(RadioConnectionState::Connecting,
             QStringLiteral("Connecting to %1:%2").arg(m_endpoint.host, QString::number(m_endpoint.port)));
    if (!isCurrent(attempt))
        return;
    if (m_endpoint.port == 0) {
        connectionRefused(attempt, QStringLiteral("Invalid radio port"));
        return;
    }

    QTcpSocket *socket = nullptr;
    if (m_endpoint.useTLS) {
        auto *secure = new QSslSocket(this);
        // Qt's own chain, name and date checks would refuse a radio's
        // self-signed certificate; the pin store alone judges it, once the
        // handshake is done and before a byte of the session is used.
        secure->setPeerVerifyMode(QSslSocket::VerifyNone);
        connect(secure, &QSslSocket::encrypted, this, [this, attempt] { launch(verifyPeer(attempt)); });
        socket = secure;
    } else {
        socket = new QTcpSocket(this);
        connect(socket, &QTcpSocket::connected, this, [this, attempt] { transportConnected(attempt); });
    }
    connect(socket, &QAbstractSocket::readyRead, this, [this, attempt] { readAvailable(attempt); });
    connect(socket, &QAbstractSocket::errorOccurred, this,
            [this, attempt, socket](QAbstractSocket::SocketError error) {
                socketFailed(attempt, socket->errorString(), error);
            });
    connect(socket, &QAbstractSocket::disconnected, this, [this, attempt] {
        if (shouldRun())
            connectionFailed(attempt, QStringLiteral("Connection closed"));
    });
    m_connection = socket;
    if (auto *secure = qobject_cast<QSslSocket *>(socket))
        secure->connectToHostEncrypted(m_endpoint.host, m_endpoint.port);
    else
        socket->connectToHost(m_endpoint.host, m_endpoint.port);
}

QCoro::Task<void> FlexRadioSession::dropTransport()
{
    dropConnection();
    failAllPending();
    m_clientHandle.fail(KivoError::notConnected());
    m_inboundBuffer.clear();
    m_transportReady = false;
    co_return;
}

void FlexRadioSession::sessionEnded()
{
    publishDisconnected();
}

const QLoggingCategory &FlexRadioSession::logCategory() const
{
    return lcRadio();
}

void FlexRadioSession::publishDisconnected()
{
    m_value.isConnected = false;
    publish();
}

void FlexRadioSession::transportConnected(qint64 attempt)
{
    if (!isCurrent(attempt) || !m_connection)
        return;
    m_transportReady = true;
    setState(RadioConnectionState::Connecting,
             m_endpoint.useTLS ? QStringLiteral("Secure transport connected; validating SmartLink session")
                      : QStringLiteral("Connected; starting radio session"));
    if (!isCurrent(attempt) || !m_connection)
        return;
    // Anything the radio sent before this point waited in the socket.
    readAvailable(attempt);
    if (!isCurrent(attempt))
        return;
    launch(runSession(attempt));
}

QCoro::Task<void> FlexRadioSession::verifyPeer(qint64 attempt)
{
    const AttemptGuard current = guard(attempt);
    auto *secure = qobject_cast<QSslSocket *>(m_connection);
    if (!isCurrent(attempt) || !secure)
        co_return;
    const QList<QSslCertificate> chain = secure->peerCertificateChain();
    bool trusted = false;
    if (!chain.isEmpty()) {
        const QString identity = m_endpoint.certificateIdentity.value_or(m_endpoint.host);
        trusted = co_await m_pinStore.verifyOrTrustFirstUse(identity, chain.first().toDer());
        if (!current)
            co_return;
    }
    if (!trusted) {
        connectionFailed(attempt, QStringLiteral("Connection failed: The radio's certificate is not the trusted one"));
        co_return;
    }
    transportConnected(attempt);
}

QCoro::Task<void> FlexRadioSession::runSession(qint64 attempt)
{
    const AttemptGuard current = guard(attempt);
    std::exception_ptr failure;
    try {
        if (m_endpoint.wanValidationHandle) {
            co_await sendCommand(QStringLiteral("wan validate handle=") + *m_endpoint.wanValidationHandle,
                                 m_timing.commandTimeout);
            if (!current)
                co_return;
            co_await awaitWithin(m_clientHandle, m_timing.handleWait,
                                 KivoError::server(
                                     QStringLiteral("The remote radio did not validate the SmartLink session.")));
            if (!current)
                co_return;
        }
        co_await bootstrap(attempt);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!current)
        co_return;
    if (failure) {
        connectionFailed(attempt, QStringLiteral("Bootstrap failed: ") + describeException(failure));
        co_return;
    }
    sessionReady(attempt, readySentence());
    if (isCurrent(attempt))
        becameReady();
}

QCoro::Task<void> FlexRadioSession::bootstrap(qint64 attempt)
{
    const AttemptGuard current = guard(attempt);
    const QStringList commands{QStringLiteral("sub client all"), QStringLiteral("sub slice all"),
                               QStringLiteral("sub radio all"),  QStringLiteral("keepalive enable"),
                               QStringLiteral("slice list"),     QStringLiteral("ping")};
    for (const QString &command : commands) {
        std::exception_ptr failure;
        try {
            co_await sendCommand(command, m_timing.commandTimeout);
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure)
            throw KivoError::server(command + QStringLiteral(": ") + describeException(failure));
        if (!current)
            co_return;
    }
}

QCoro::Task<void> FlexRadioSession::tick()
{
    bool answered = true;
    try {
        co_await sendCommand(QStringLiteral("ping"), m_timing.commandTimeout);
    } catch (...) {
        answered = false;
    }
    if (!answered)
        throw KivoError::server(QStringLiteral("Radio heartbeat failed"));
}

void FlexRadioSession::socketFailed(qint64 attempt, const QString &description, QAbstractSocket::SocketError error)
{
    if (!isCurrent(attempt))
        return;
    failUnwrittenCommands(description);
    if (!m_transportReady)
        connectionFailed(attempt, (isWaitingSocketError(error) ? QStringLiteral("Network waiting: ")
                                                               : QStringLiteral("Connection failed: "))
                                      + description);
    else if (error == QAbstractSocket::RemoteHostClosedError)
        connectionFailed(attempt, QStringLiteral("Radio closed the connection"));
    else
        connectionFailed(attempt, QStringLiteral("Receive failed: ") + description);
}

void FlexRadioSession::readAvailable(qint64 attempt)
{
    // Nothing is believed before the transport is trusted.
    if (!m_transportReady)
        return;
    while (isCurrent(attempt) && m_connection && m_connection->bytesAvailable() > 0)
        consume(m_connection->read(maximumReadBytes), attempt);
}

void FlexRadioSession::consume(const QByteArray &chunk, qint64 attempt)
{
    if (!isCurrent(attempt))
        return;
    m_inboundBuffer.append(chunk);
    if (m_inboundBuffer.size() > maximumInboundBytes) {
        qCDebug(lcRadio) << "dropped" << m_inboundBuffer.size() << "bytes without a line end";
        m_inboundBuffer.clear();
        return;
    }
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = m_inboundBuffer.indexOf('\n', start);
        if (end < 0)
            break;
        const QByteArrayView raw = QByteArrayView(m_inboundBuffer).sliced(start, end - start);
        start = end + 1;
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString line = decoder(raw);
        if (decoder.hasError()) {
            qCDebug(lcRadio) << "received non-UTF-8, dropped:" << raw.toByteArray();
            continue;
        }
        line = trimmed(line);
        if (line.isEmpty())
            continue;
        qCDebug(lcRadio) << "received" << line;
        parse(line);
        // A callback may have replaced the session and its buffer.
        if (!isCurrent(attempt))
            return;
    }
    m_inboundBuffer.remove(0, start);
}

void FlexRadioSession::parse(const QString &line)
{
    switch (line.front().unicode()) {
    case 'R':
        completeCommand(line);
        break;
    case 'H':
        m_clientHandle.resolve();
        break;
    case 'S':
        applyStatus(line);
        break;
    default:
        break;
    }
}

void FlexRadioSession::resetSessionState()
{
    // Whoever still waits for the last session's handle line gives up.
    m_clientHandle.fail(KivoError::notConnected());
    m_clientHandle = OneShot<>();
    m_inboundBuffer.clear();
    m_commandSequence = 1;
    m_slices.clear();
    m_selectedSliceID.reset();
    m_followedClientHandle.reset();
    m_followedClientID.reset();
    m_reportedClientHandles.clear();
    m_reportedSliceIDs.clear();
    m_awaitingStation = false;
    m_transportReady = false;
    failAllPending();
}

void FlexRadioSession::dropConnection()
{
    if (!m_connection)
        return;
    QTcpSocket *socket = std::exchange(m_connection, nullptr);
    // Its last signals (the disconnect that abort() causes) must not arrive.
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

} // namespace kivo
