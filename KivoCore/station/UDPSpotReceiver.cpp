#include "KivoCore/station/UDPSpotReceiver.h"

#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/LogCategories.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QNetworkDatagram>

namespace kivo {

namespace {
const QString alreadyRunningText = QStringLiteral("The RUMlog UDP port is invalid or already running.");

QString listenerFailedEvent(const QString &description)
{
    return QStringLiteral("UDP listener failed: ") + description;
}
} // namespace

UDPSpotReceiver::UDPSpotReceiver(const QLoggingCategory &category, DatagramHandler onDatagram, EventHandler onEvent,
                                 QObject *parent)
    : QObject(parent), m_onDatagram(std::move(onDatagram)), m_onEvent(std::move(onEvent)), m_log(&category)
{
    setObjectName(QString::fromLatin1(category.categoryName()));
}

UDPSpotReceiver::~UDPSpotReceiver()
{
    stop();
}

void UDPSpotReceiver::start(quint16 port)
{
    if (m_socket)
        throw KivoError::server(alreadyRunningText);

    auto *socket = new QUdpSocket(this);
    // Exclusive: a shared port would let a second receiver take every datagram.
    if (!socket->bind(QHostAddress::LocalHost, port, QAbstractSocket::DontShareAddress)) {
        const QString reason = socket->errorString();
        delete socket;
        postEvent(listenerFailedEvent(reason));
        throw KivoError::server(QStringLiteral("Could not listen on 127.0.0.1:") + QString::number(port)
                                + QStringLiteral(": ") + reason);
    }

    connect(socket, &QUdpSocket::readyRead, this, [this, socket] { readPending(socket); });
    // After it was ready a failure is only reported; the owner decides.
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket] {
        if (socket == m_socket)
            postEvent(listenerFailedEvent(socket->errorString()));
    });
    m_socket = socket;
    postEvent(QStringLiteral("Listening on 127.0.0.1:") + QString::number(socket->localPort()));
}

void UDPSpotReceiver::stop()
{
    if (!m_socket)
        return;
    QUdpSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    socket->close();
    // stop() may be called from inside onDatagram, while the socket is being read.
    socket->deleteLater();
}

quint16 UDPSpotReceiver::port() const
{
    return m_socket ? m_socket->localPort() : 0;
}

void UDPSpotReceiver::readPending(QUdpSocket *socket)
{
    while (socket == m_socket && socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        if (!datagram.isValid())
            break;
        qCDebug(*m_log) << "datagram from port" << datagram.senderPort() << datagram.data();
        // An empty datagram carries nothing to hand on.
        if (!datagram.data().isEmpty() && m_onDatagram)
            m_onDatagram(datagram.data());
    }
}

void UDPSpotReceiver::postEvent(const QString &event)
{
    if (!m_onEvent)
        return;
    // Posted, so the owner is never re-entered from inside start().
    QMetaObject::invokeMethod(
        this, [this, event] { m_onEvent(event); }, Qt::QueuedConnection);
}

} // namespace kivo
