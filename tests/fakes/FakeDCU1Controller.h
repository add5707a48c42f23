#pragma once

// A DCU-1 rotator controller on loopback TCP: answers each "AI1;" poll with
// the azimuth it holds, records every byte it receives (and the commands
// as each link closed), and can send raw (split) replies, drop its clients
// and stop listening.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <optional>

namespace kivo::test {

class FakeDCU1Controller : public QObject {
    Q_OBJECT
public:
    explicit FakeDCU1Controller(QObject *parent = nullptr);

    // Listens on 127.0.0.1; port 0 lets the system choose.
    bool listen(quint16 port = 0);
    void stopListening();
    quint16 port() const { return m_port; }

    // The reply to every poll, three digits and ";". Absent: polls go unanswered.
    void setAzimuth(std::optional<int> degrees) { m_azimuth = degrees; }

    QByteArray received() const { return m_received; }
    // What was received apart from the polls.
    QByteArray commands() const;
    int pollCount() const;
    QList<QByteArray> commandsAtClose() const { return m_commandsAtClose; }
    int connectionCount() const { return m_connectionCount; }
    bool hasClient() const;

    // Writes to the client connected last.
    void sendRaw(const QByteArray &bytes);
    void dropClients();

private:
    void readFrom(QTcpSocket *socket);

    quint16 m_port = 0;
    std::optional<int> m_azimuth = 123;
    QList<QPointer<QTcpSocket>> m_clients;
    QByteArray m_received;
    QByteArray m_pollScan;
    QList<QByteArray> m_commandsAtClose;
    int m_connectionCount = 0;
    // Last, so gone first: its sockets still report their close as it goes.
    QTcpServer m_server;
};

} // namespace kivo::test
