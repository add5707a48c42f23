#pragma once

// Receives whole UDP datagrams on one port of 127.0.0.1. It serves both spot
// feeds and the RUMlog rotator feed, and never interprets the bytes.

#include <QByteArray>
#include <QLoggingCategory>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUdpSocket>

#include <functional>

class QLoggingCategory;

namespace kivo {

class UDPSpotReceiver : public QObject {
    Q_OBJECT
public:
    using DatagramHandler = std::function<void(const QByteArray &datagram)>;
    using EventHandler = std::function<void(const QString &event)>;

    // `category` traces the datagrams and names the receiver (lcSpotsLogbook, say).
    UDPSpotReceiver(const QLoggingCategory &category, DatagramHandler onDatagram, EventHandler onEvent,
                    QObject *parent = nullptr);
    ~UDPSpotReceiver() override;

    // Binds 127.0.0.1 on `port` (0 lets the system choose). Throws KivoError
    // when already started or when the port cannot be bound.
    void start(quint16 port);
    // Harmless on a stopped receiver.
    void stop();

    bool isRunning() const { return m_socket != nullptr; }
    // The bound port while running, else 0.
    quint16 port() const;

private:
    void readPending(QUdpSocket *socket);
    void postEvent(const QString &event);

    DatagramHandler m_onDatagram;
    EventHandler m_onEvent;
    const QLoggingCategory *m_log;
    QPointer<QUdpSocket> m_socket;
};

} // namespace kivo
