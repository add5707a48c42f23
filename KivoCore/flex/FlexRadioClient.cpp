// The session: connecting (plain or pinned TLS), the bootstrap, the
// heartbeat, cutting the inbound stream into lines, failure and back-off.

#include "KivoCore/flex/FlexRadioClient.h"

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

FlexRadioClient::FlexRadioClient(QString host, quint16 port, QString stationName, QString sliceLetter,
                                 std::optional<QString> wanValidationHandle,
                                 std::optional<QString> certificateIdentity, StateHandler onState,
                                 SnapshotHandler onSnapshot, SmartLinkCertificatePinStore pinStore, Timing timing,
                                 RandomSource random, QObject *parent)
    : QObject(parent), m_host(std::move(host)), m_port(port), m_stationName(std::move(stationName)),
      m_sliceLetter(upperCased(sliceLetter)), m_wanValidationHandle(std::move(wanValidationHandle)),
      m_certificateIdentity(std::move(certificateIdentity)), m_onState(std::move(onState)),
      m_onSnapshot(std::move(onSnapshot)), m_pinStore(std::move(pinStore)), m_timing(timing),
      m_random(random ? std::move(random) : RandomSource(randomJitter)),
      m_value(14074000, QStringLiteral("DIGU"), false, false, m_sliceLetter, m_stationName)
{
    setObjectName(QStringLiteral("com.tarnvale.QuendKivo.radio"));
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &FlexRadioClient::connectToRadio);
}

FlexRadioClient::~FlexRadioClient() = default;

void FlexRadioClient::start()
{
    if (m_shouldRun)
        return;
    m_shouldRun = true;
    m_reconnectAttempt = 0;
    connectToRadio();
}

void FlexRadioClient::reconnectNow()
{
    m_reconnectAttempt = 0;
    if (!m_shouldRun) {
        m_shouldRun = true;
    } else {
        ++m_generation;
        dropConnection();
    }
    connectToRadio();
}

QCoro::Task<void> FlexRadioClient::stop()
{
    QPointer<FlexRadioClient> self(this);
    m_shouldRun = false;
    m_reconnectTimer.stop();
    cancelHeartbeat();
    if (m_transportReady) {
        // Leave the transmitter unkeyed and the CW buffer empty, whether or
        // not the radio still answers.
        const QStringList closing{QStringLiteral("transmit tune 0"), QStringLiteral("cwx clear"),
                                  QStringLiteral("xmit 0")};
        for (const QString &command : closing) {
            try {
                co_await sendCommand(command, m_timing.closingCommandTimeout);
            } catch (...) {
            }
            if (!self)
                co_return;
        }
    }
    ++m_generation;
    dropConnection();
    failAllPending();
    m_inboundBuffer.clear();
    m_value.isConnected = false;
    publish();
    setState(RadioConnectionState::Stopped, QStringLiteral("Stopped"));
}

void FlexRadioClient::connectToRadio()
{
    if (!m_shouldRun || m_connection)
        return;
    const qint64 generation = ++m_generation;
    resetSessionState();
    setState(RadioConnectionState::Connecting,
             QStringLiteral("Connecting to %1:%2").arg(m_host, QString::number(m_port)));
    if (!isCurrent(generation))
        return;
    if (m_port == 0) {
        setState(RadioConnectionState::Failed, QStringLiteral("Invalid radio port"));
        return;
    }

    QTcpSocket *socket = nullptr;
    if (m_wanValidationHandle) {
        auto *secure = new QSslSocket(this);
        // Qt's own chain, name and date checks would refuse a radio's
        // self-signed certificate; the pin store alone judges it, once the
        // handshake is done and before a byte of the session is used.
        secure->setPeerVerifyMode(QSslSocket::VerifyNone);
        connect(secure, &QSslSocket::encrypted, this, [this, generation] { launch(verifyPeer(generation)); });
        socket = secure;
    } else {
        socket = new QTcpSocket(this);
        connect(socket, &QTcpSocket::connected, this, [this, generation] { transportConnected(generation); });
    }
    connect(socket, &QAbstractSocket::readyRead, this, [this, generation] { readAvailable(generation); });
    connect(socket, &QAbstractSocket::errorOccurred, this,
            [this, generation, socket](QAbstractSocket::SocketError error) {
                socketFailed(generation, socket->errorString(), error);
            });
    connect(socket, &QAbstractSocket::disconnected, this, [this, generation] {
        if (m_shouldRun)
            connectionFailed(QStringLiteral("Connection closed"), generation);
    });
    m_connection = socket;
    if (auto *secure = qobject_cast<QSslSocket *>(socket))
        secure->connectToHostEncrypted(m_host, m_port);
    else
        socket->connectToHost(m_host, m_port);
}

void FlexRadioClient::transportConnected(qint64 generation)
{
    if (!isCurrent(generation) || !m_connection)
        return;
    m_transportReady = true;
    setState(RadioConnectionState::Connecting,
             m_wanValidationHandle ? QStringLiteral("Secure transport connected; validating SmartLink session")
                                   : QStringLiteral("Connected; starting radio session"));
    if (!isCurrent(generation) || !m_connection)
        return;
    // Anything the radio sent before this point waited in the socket.
    readAvailable(generation);
    if (!isCurrent(generation))
        return;
    launch(runSession(generation));
}

QCoro::Task<void> FlexRadioClient::verifyPeer(qint64 generation)
{
    QPointer<FlexRadioClient> self(this);
    auto *secure = qobject_cast<QSslSocket *>(m_connection);
    if (!isCurrent(generation) || !secure)
        co_return;
    const QList<QSslCertificate> chain = secure->peerCertificateChain();
    bool trusted = false;
    if (!chain.isEmpty()) {
        const QString identity = m_certificateIdentity.value_or(m_host);
        trusted = co_await m_pinStore.verifyOrTrustFirstUse(identity, chain.first().toDer());
        if (!self || !isCurrent(generation))
            co_return;
    }
    if (!trusted) {
        connectionFailed(QStringLiteral("Connection failed: The radio's certificate is not the trusted one"),
                         generation);
        co_return;
    }
    transportConnected(generation);
}

QCoro::Task<void> FlexRadioClient::runSession(qint64 generation)
{
    QPointer<FlexRadioClient> self(this);
    std::exception_ptr failure;
    try {
        if (m_wanValidationHandle) {
            co_await sendCommand(QStringLiteral("wan validate handle=") + *m_wanValidationHandle,
                                 m_timing.commandTimeout);
            if (!self || !isCurrent(generation))
                co_return;
            int waited = 0;
            while (!m_clientHandleReceived) {
                co_await sleepFor(m_timing.handleWaitStep);
                if (!self || !isCurrent(generation))
                    co_return;
                if (++waited >= m_timing.handleWaitSteps)
                    throw KivoError::server(
                        QStringLiteral("The remote radio did not validate the SmartLink session."));
            }
        }
        co_await bootstrap(generation);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        connectionFailed(QStringLiteral("Bootstrap failed: ") + describeException(failure), generation);
        co_return;
    }
    if (!isCurrent(generation))
        co_return;
    setState(RadioConnectionState::Ready, readySentence());
    if (isCurrent(generation))
        startPingLoop(generation);
}

QCoro::Task<void> FlexRadioClient::bootstrap(qint64 generation)
{
    QPointer<FlexRadioClient> self(this);
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
        if (!self || !isCurrent(generation))
            co_return;
    }
}

void FlexRadioClient::cancelHeartbeat()
{
    ++m_heartbeatLoop;
}

void FlexRadioClient::startPingLoop(qint64 generation)
{
    cancelHeartbeat();
    launch(heartbeat(generation, m_heartbeatLoop));
}

QCoro::Task<void> FlexRadioClient::heartbeat(qint64 generation, quint64 loop)
{
    QPointer<FlexRadioClient> self(this);
    for (;;) {
        co_await sleepFor(m_timing.heartbeatInterval);
        if (!self || loop != m_heartbeatLoop)
            co_return;
        bool answered = true;
        try {
            co_await sendCommand(QStringLiteral("ping"), m_timing.commandTimeout);
        } catch (...) {
            answered = false;
        }
        if (!self || loop != m_heartbeatLoop)
            co_return;
        if (!answered) {
            connectionFailed(QStringLiteral("Radio heartbeat failed"), generation);
            co_return;
        }
    }
}

void FlexRadioClient::socketFailed(qint64 generation, const QString &description, QAbstractSocket::SocketError error)
{
    if (!isCurrent(generation))
        return;
    failUnwrittenCommands(description);
    if (!m_transportReady)
        connectionFailed((isWaitingSocketError(error) ? QStringLiteral("Network waiting: ")
                                                      : QStringLiteral("Connection failed: "))
                             + description,
                         generation);
    else if (error == QAbstractSocket::RemoteHostClosedError)
        connectionFailed(QStringLiteral("Radio closed the connection"), generation);
    else
        connectionFailed(QStringLiteral("Receive failed: ") + description, generation);
}

void FlexRadioClient::readAvailable(qint64 generation)
{
    // Nothing is believed before the transport is trusted.
    if (!m_transportReady)
        return;
    while (isCurrent(generation) && m_connection && m_connection->bytesAvailable() > 0)
        consume(m_connection->read(maximumReadBytes), generation);
}

void FlexRadioClient::consume(const QByteArray &chunk, qint64 generation)
{
    if (!isCurrent(generation))
        return;
    m_inboundBuffer.append(chunk);
    if (m_inboundBuffer.size() > maximumInboundBytes) {
        m_inboundBuffer.clear();
        return;
    }
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = m_inboundBuffer.indexOf('\n', start);
        if (end < 0)
            break;
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString line = decoder(QByteArrayView(m_inboundBuffer).sliced(start, end - start));
        start = end + 1;
        if (decoder.hasError())
            continue;
        line = trimmed(line);
        if (line.isEmpty())
            continue;
        parse(line);
        // A callback may have replaced the session and its buffer.
        if (!isCurrent(generation))
            return;
    }
    m_inboundBuffer.remove(0, start);
}

void FlexRadioClient::parse(const QString &line)
{
    switch (line.front().unicode()) {
    case 'R':
        completeCommand(line);
        break;
    case 'H':
        m_clientHandleReceived = true;
        break;
    case 'S':
        applyStatus(line);
        break;
    default:
        break;
    }
}

void FlexRadioClient::connectionFailed(const QString &reason, qint64 generation)
{
    if (!isCurrent(generation))
        return;
    cancelHeartbeat();
    ++m_generation;
    dropConnection();
    failAllPending();
    m_value.isConnected = false;
    publish();
    if (!m_shouldRun)
        setState(RadioConnectionState::Stopped, QStringLiteral("Stopped"));
    else
        scheduleReconnect(reason);
}

void FlexRadioClient::scheduleReconnect(const QString &reason)
{
    m_reconnectTimer.stop();
    const double delay = reconnectDelaySeconds(std::max<qint64>(++m_reconnectAttempt, 1), m_random());
    setState(RadioConnectionState::Retrying, retryingSentence(reason, delay));
    m_reconnectTimer.start(scaledDelay(delay, m_timing.backoffSecond));
}

void FlexRadioClient::resetSessionState()
{
    cancelHeartbeat();
    m_inboundBuffer.clear();
    m_commandSequence = 1;
    m_slices.clear();
    m_selectedSliceID.reset();
    m_followedClientHandle.reset();
    m_followedClientID.reset();
    m_clientHandleReceived = false;
    m_reportedClientHandles.clear();
    m_reportedSliceIDs.clear();
    m_awaitingStation = false;
    m_transportReady = false;
    failAllPending();
}

void FlexRadioClient::dropConnection()
{
    if (!m_connection)
        return;
    QTcpSocket *socket = std::exchange(m_connection, nullptr);
    // Its last signals (the disconnect that abort() causes) must not arrive.
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void FlexRadioClient::setState(RadioConnectionState state, const QString &status)
{
    m_state = state;
    report(state, status);
}

void FlexRadioClient::report(RadioConnectionState state, const QString &status)
{
    if (m_onState)
        m_onState(state, status);
}

void FlexRadioClient::publish()
{
    if (m_onSnapshot)
        m_onSnapshot(m_value);
}

} // namespace kivo
