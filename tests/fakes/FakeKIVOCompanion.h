#pragma once

// A stand-in for the legacy KIVO companion: a Kenwood-style CAT port on
// loopback that answers read commands from its own small radio state, takes
// set commands into that state, and records every byte it receives.

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <optional>

namespace kivo::test {

class FakeKIVOCompanion : public QObject {
    Q_OBJECT

public:
    explicit FakeKIVOCompanion(QObject *parent = nullptr);

    // Port 0 lets the system choose; a fixed port lets a test bring the
    // companion up where a client already retries.
    bool listen(quint16 port = 0);
    void stopListening();
    quint16 port() const { return m_server.serverPort(); }

    // Everything received on every connection, in order.
    QByteArray received() const { return m_received; }
    void clearReceived() { m_received.clear(); }
    // How many complete "KS;FB;FA;FR;MD;FT;IF;" batches arrived.
    int pollCount() const { return m_received.count("KS;FB;FA;FR;MD;FT;IF;"); }
    int connectionCount() const { return m_connectionCount; }
    bool hasClient() const { return !m_client.isNull(); }

    // When false, read commands get no answer (set commands still apply).
    void setAnswering(bool answering) { m_answering = answering; }
    // Bytes sent as they are, to the current client.
    void sendRaw(const QByteArray &bytes);
    // Closes the current client's connection.
    void closeClient();

    // The radio state the answers come from.
    qint64 vfoAHz = 14074000;
    std::optional<qint64> vfoBHz;
    int modeDigit = 9;
    int receiveVFO = 0;
    int transmitVFO = 0;
    int wordsPerMinute = 25;
    bool transmitting = false;
    // The companion closes the link as an "RX;" arrives, before acting on it.
    bool closesOnUnkey = false;

private:
    void accept();
    void readClient();
    QByteArray answer(const QByteArray &command);

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_pending;
    QByteArray m_received;
    int m_connectionCount = 0;
    bool m_answering = true;
};

} // namespace kivo::test
