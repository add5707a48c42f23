#include "KivoCore/station/DCU1RotatorClient.h"

#include "KivoCore/station/RotatorGeometry.h"

#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/LogCategories.h"
#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/Text.h"

#include <QMetaObject>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace kivo {

namespace {
const QString notConnectedText = QStringLiteral("Rotator is not connected.");
const QString invalidBearingText = QStringLiteral("The rotator bearing is invalid.");
// First, so that a status cut short still shows it.
const QString turningCaution = QStringLiteral("The antenna may still be turning \u00B7 ");

// The compass fold: 0 up to 360, as fmod plus one turn for negative angles.
bool isASCII(const QByteArray &bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}
} // namespace

namespace DCU1Protocol {

std::optional<QByteArray> turnCommand(double bearing)
{
    // Folding first keeps any finite number inside the integer range.
    if (!std::isfinite(bearing))
        return std::nullopt;
    const auto whole = roundedToInt64(RotatorGeometry::normalized(bearing));
    if (!whole)
        return std::nullopt;
    const qint64 degrees = *whole % 360;
    return QByteArrayLiteral("AP1") + zeroPadded(degrees, 3).toLatin1() + QByteArrayLiteral(";AM1;");
}

QList<double> azimuths(const QString &text)
{
    static const QRegularExpression reply(QStringLiteral(R"((?:^|;)\s*(\d{1,3}(?:\.\d)?)\s*;)"));
    QList<double> values;
    if (!reply.isValid())
        return values;
    auto matches = reply.globalMatch(text);
    while (matches.hasNext()) {
        const auto match = matches.next();
        const auto value = parseDecimal(match.capturedView(1));
        if (!value || *value < 0 || *value > 450)
            continue;
        values.append(std::fmod(*value, 360.0));
    }
    return values;
}

} // namespace DCU1Protocol

QList<double> DCU1ReplyBuffer::append(const QByteArray &data)
{
    if (data.isEmpty() || !isASCII(data))
        return {};
    m_text.append(QString::fromLatin1(data));
    if (m_text.size() > limit)
        m_text = m_text.right(keptAfterCut);
    const QList<double> values = DCU1Protocol::azimuths(m_text);
    // Without a complete reply the text waits for the rest.
    if (!values.isEmpty())
        m_text.remove(0, m_text.lastIndexOf(QLatin1Char(';')) + 1);
    return values;
}

QString rawValue(DCU1RotatorClient::State state)
{
    switch (state) {
    case DCU1RotatorClient::State::Stopped:
        return QStringLiteral("stopped");
    case DCU1RotatorClient::State::Connecting:
        return QStringLiteral("connecting");
    case DCU1RotatorClient::State::Connected:
        return QStringLiteral("connected");
    case DCU1RotatorClient::State::Reconnecting:
        return QStringLiteral("reconnecting");
    case DCU1RotatorClient::State::Failed:
        return QStringLiteral("failed");
    }
    return {};
}

DCU1RotatorClient::DCU1RotatorClient(Options options, StateHandler onState, AzimuthHandler onAzimuth,
                                     EventHandler onEvent, QObject *parent)
    : QObject(parent),
      m_host(std::move(options.host)),
      m_port(options.port),
      m_pollMilliseconds(std::clamp(options.pollMilliseconds, minimumPollMilliseconds, maximumPollMilliseconds)),
      m_onState(std::move(onState)),
      m_onAzimuth(std::move(onAzimuth)),
      m_onEvent(std::move(onEvent)),
      m_timing(options.timing),
      m_life(this, [this] { connectToController(true); }),
      m_rotationUnderWay(options.rotationUnderWay)
{
    setObjectName(QString::fromLatin1(lcRotator().categoryName()));
    m_pollTimer.setInterval(m_pollMilliseconds);
    connect(&m_pollTimer, &QTimer::timeout, this, [this] {
        // A broken link shows up in the socket's own signals, not here.
        if (m_socket)
            writeBytes(DCU1Protocol::pollCommand);
    });
}

DCU1RotatorClient::~DCU1RotatorClient()
{
    m_life.end();
    stopPolling();
    failPendingSends(notConnectedText);
    dropSocket();
}

void DCU1RotatorClient::start()
{
    if (m_life.begin())
        connectToController(false);
}

void DCU1RotatorClient::stop()
{
    m_life.end();
    stopPolling();
    failPendingSends(notConnectedText);
    stopRotationBeforeClosing();
    dropSocket();
    m_receiveBuffer.clear();
    reportState(State::Stopped, QStringLiteral("Disconnected"));
}

QCoro::Task<void> DCU1RotatorClient::turn(double bearing)
{
    const auto command = DCU1Protocol::turnCommand(bearing);
    if (!command)
        throw KivoError::server(invalidBearingText);
    co_await sendCommand(*command);
}

QCoro::Task<void> DCU1RotatorClient::stopRotation()
{
    return sendCommand(DCU1Protocol::stopCommand);
}

QCoro::Task<void> DCU1RotatorClient::rotate(bool clockwise)
{
    return sendCommand(clockwise ? DCU1Protocol::clockwiseCommand : DCU1Protocol::counterclockwiseCommand);
}

std::chrono::milliseconds DCU1RotatorClient::retryDelay(int failures, const Timing &timing)
{
    const int doublings = std::clamp(failures, 1, 4) - 1;
    return std::min(timing.firstRetryDelay * (1 << doublings), timing.longestRetryDelay);
}

void DCU1RotatorClient::connectToController(bool reconnecting)
{
    if (!m_life.shouldRun() || m_socket)
        return;
    const QString host = trimmed(m_host);
    if (host.isEmpty() || m_port == 0) {
        reportState(State::Failed, QStringLiteral("Enter the rotator TCP host and port"));
        return;
    }
    if (reconnecting)
        reportState(State::Reconnecting, QStringLiteral("Reconnecting to ") + endpointText());
    else
        reportState(State::Connecting, QStringLiteral("Connecting to ") + endpointText());

    auto *socket = new QTcpSocket(this);
    m_socket = socket;
    m_bytesQueued = 0;
    m_bytesFlushed = 0;
    // Every handler checks that its socket is still the current one.
    connect(socket, &QTcpSocket::connected, this, [this, socket] { handleConnected(socket); });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readAvailable(socket); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket](qint64 count) { bytesWritten(socket, count); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { handleError(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { handleClosed(socket); });
    socket->connectToHost(host, m_port);
}

void DCU1RotatorClient::handleConnected(QTcpSocket *socket)
{
    if (socket != m_socket)
        return;
    m_linkUp = true;
    m_life.clearFailures();
    // Nothing newer can have been sent while the link was down.
    const bool stopping = std::exchange(m_rotationUnderWay, false);
    if (stopping)
        writeBytes(DCU1Protocol::stopCommand);
    reportState(State::Connected, QStringLiteral("Connected to ") + endpointText());
    if (stopping)
        reportEvent(QStringLiteral("the link is back: stop sent to end the continuous rotation"));
    startPolling();
}

void DCU1RotatorClient::handleError(QTcpSocket *socket)
{
    if (socket != m_socket)
        return;
    if (!m_linkUp) {
        handleDisconnect(QStringLiteral("Connection failed: ") + socket->errorString());
        return;
    }
    // Whatever arrived before the end still counts.
    readAvailable(socket);
    if (socket->error() == QAbstractSocket::RemoteHostClosedError)
        handleDisconnect(QStringLiteral("Connection closed"));
    else
        handleDisconnect(QStringLiteral("Connection lost: ") + socket->errorString());
}

void DCU1RotatorClient::handleClosed(QTcpSocket *socket)
{
    if (socket != m_socket)
        return;
    readAvailable(socket);
    handleDisconnect(QStringLiteral("Connection closed"));
}

void DCU1RotatorClient::handleDisconnect(const QString &reason)
{
    const bool wasUp = m_linkUp;
    stopPolling();
    if (m_socket)
        failPendingSends(m_socket->error() == QAbstractSocket::UnknownSocketError ? notConnectedText
                                                                                  : m_socket->errorString());
    dropSocket();
    if (!m_life.shouldRun())
        return;
    const qint64 failures = m_life.countFailure();
    reportState(State::Reconnecting, reason + QStringLiteral(" \u2014 retrying"));
    if (wasUp && m_rotationUnderWay)
        reportEvent(QStringLiteral("the link dropped during a continuous rotation; the antenna may still be turning"));
    m_life.retryAfter(retryDelay(static_cast<int>(std::min<qint64>(failures, 1 << 20)), m_timing));
}

void DCU1RotatorClient::readAvailable(QTcpSocket *socket)
{
    while (socket == m_socket && socket->bytesAvailable() > 0) {
        const QByteArray bytes = socket->read(receiveChunkBytes);
        qCDebug(lcRotator) << "received" << bytes;
        const QList<double> values = m_receiveBuffer.append(bytes);
        for (double value : values) {
            if (m_onAzimuth)
                QMetaObject::invokeMethod(this, [this, value] { m_onAzimuth(value); }, Qt::QueuedConnection);
        }
    }
}

void DCU1RotatorClient::startPolling()
{
    stopPolling();
    // The first poll goes out at once, the rest on the interval.
    if (m_socket)
        writeBytes(DCU1Protocol::pollCommand);
    m_pollTimer.start();
}

void DCU1RotatorClient::stopPolling()
{
    m_pollTimer.stop();
}

qint64 DCU1RotatorClient::writeBytes(const QByteArray &bytes)
{
    qCDebug(lcRotator) << "sent" << bytes;
    const qint64 written = m_socket->write(bytes);
    if (written > 0)
        m_bytesQueued += written;
    return written;
}

void DCU1RotatorClient::bytesWritten(QTcpSocket *socket, qint64 count)
{
    if (socket != m_socket)
        return;
    m_bytesFlushed += count;
    while (!m_pendingSends.isEmpty() && m_pendingSends.first().endOffset <= m_bytesFlushed)
        m_pendingSends.takeFirst().done.resolve();
}

void DCU1RotatorClient::failPendingSends(const QString &message)
{
    const auto pending = std::exchange(m_pendingSends, {});
    for (auto send : pending)
        send.done.fail(KivoError::server(message));
}

void DCU1RotatorClient::dropSocket()
{
    if (!m_socket)
        return;
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    m_linkUp = false;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void DCU1RotatorClient::stopRotationBeforeClosing()
{
    if (!m_rotationUnderWay)
        return;
    if (!m_socket || !m_linkUp) {
        qCWarning(lcRotator) << "the link is down: a continuous rotation may still be under way";
        return;
    }
    m_rotationUnderWay = false;
    // Nagle's rule would hold the byte back behind an unanswered poll, and
    // the close that follows would drop it.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    writeBytes(DCU1Protocol::stopCommand);
    // Into the system's hands now, without waiting: the link closes next,
    // and the program may be about to end.
    m_socket->flush();
    if (m_socket->bytesToWrite() > 0)
        qCWarning(lcRotator) << "the controller takes no data: the stop command was not sent";
}

QCoro::Task<void> DCU1RotatorClient::sendCommand(QByteArray command)
{
    if (!m_socket || !m_linkUp)
        throw KivoError::server(notConnectedText);
    if (writeBytes(command) != command.size())
        throw KivoError::server(m_socket->errorString());
    // A turn ends by itself at its bearing; only "U" and "D" need a stop.
    m_rotationUnderWay = command == DCU1Protocol::clockwiseCommand || command == DCU1Protocol::counterclockwiseCommand;
    OneShot<> done;
    m_pendingSends.append(PendingSend{m_bytesQueued, done});
    co_await done;
}

void DCU1RotatorClient::reportState(State state, const QString &reported)
{
    const bool cautious = m_rotationUnderWay && state != State::Connected && state != State::Stopped;
    const QString status = cautious ? withTurningCaution(reported) : reported;
    qCDebug(lcRotator).noquote() << rawValue(state) << status;
    if (!m_onState)
        return;
    QMetaObject::invokeMethod(
        this, [this, state, status] { m_onState(state, status); }, Qt::QueuedConnection);
}

void DCU1RotatorClient::reportEvent(const QString &line)
{
    qCDebug(lcRotator).noquote() << line;
    if (m_onEvent)
        QMetaObject::invokeMethod(this, [this, line] { m_onEvent(line); }, Qt::QueuedConnection);
}

QString DCU1RotatorClient::withTurningCaution(const QString &status)
{
    return turningCaution + status;
}

QString DCU1RotatorClient::endpointText() const
{
    return m_host + QLatin1Char(':') + QString::number(m_port);
}

} // namespace kivo
