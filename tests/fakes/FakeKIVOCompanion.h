#pragma once

// A stand-in for the legacy KIVO companion: a Kenwood-style CAT port on
// loopback that answers read commands from its own small radio state, takes
// set commands into that state, and records every byte it receives.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <functional>
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
    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }

    // Everything received on every connection, in order.
    QByteArray received() const { return m_received; }
    void clearReceived() { m_received.clear(); }
    // How many complete "KS;FB;FA;FR;MD;FT;IF;" batches arrived.
    int pollCount() const { return m_received.count("KS;FB;FA;FR;MD;FT;IF;"); }
    int connectionCount() const { return m_connectionCount; }
    bool hasClient() const { return !m_client.isNull(); }
    // Called as each command (without its ";") arrives on the current
    // connection, numbered from 1, before it is acted on.
    void setCommandHandler(std::function<void(int connection, const QByteArray &command)> handler)
    {
        m_handler = std::move(handler);
    }

    // When false, read commands get no answer (set commands still apply).
    void setAnswering(bool answering) { m_answering = answering; }
    bool isAnswering() const { return m_answering; }
    // Each batch of commands that arrives is acted on and answered this much
    // later, in order, as over a remote link.
    void setDelay(std::chrono::milliseconds delay) { m_delay = delay; }
    // Works through one batch at a time, each taking this long once the one
    // before it is done, as a companion that is slow but keeps up.
    void setPace(std::chrono::milliseconds pace) { m_pace = pace; }
    // Batches wait, neither acted on nor answered, until release().
    void stall() { m_stalled = true; }
    void release();
    bool isStalled() const { return m_stalled; }
    // Bytes sent as they are, to the current client.
    void sendRaw(const QByteArray &bytes);
    // Closes the current client's connection; what it sent and the
    // companion has not acted on yet is lost.
    void closeClient();

    // The operator keys by hand at the companion, and lets go.
    void setOperatorKey(bool on);
    // The companion ends every transmission on its own (a time-out, the
    // operator's RX button); its keyer keeps its text.
    void releaseTransmitter();
    // Transmitting because of a client's "TX" that nothing has released since.
    bool keyOfClientStands() const { return transmitting && m_clientKeyed; }
    bool operatorHolds() const { return transmitting && m_operatorKeyed; }
    // A "KY" text that no blank "KY" has emptied since; it holds the
    // transmitter while it sends.
    bool keyerHolds() const { return m_keyerHolds; }

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
    // The same, once, as the next blank "KY" arrives.
    bool closesOnKeyerClear = false;
    // Information answers end before the transmit flag.
    bool shortInformation = false;
    // A "KY" text keys the transmitter as "TX" does: a blank "KY" empties
    // the keyer, and the key stands until "RX".
    bool cwKeys = false;
    // This many information answers are lost on the way.
    int answersToLose = 0;
    // Set commands refused with "?;" and not acted on, named whole ("TX2")
    // or by their two letters ("FA").
    QSet<QByteArray> refusedCommands;

private:
    struct Batch {
        QPointer<QTcpSocket> socket;
        QList<QByteArray> commands;
        QDeadlineTimer due;
        // Its time at the companion's pace has begun.
        bool begun = false;
    };

    void accept();
    void readClient();
    void actOnDue();
    void actOn(const Batch &batch);
    // Acts on `command`; what a read returns goes out only over a live link.
    QByteArray answer(const QByteArray &command, bool live);

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_pending;
    QByteArray m_received;
    int m_connectionCount = 0;
    bool m_answering = true;
    std::chrono::milliseconds m_delay{0};
    std::chrono::milliseconds m_pace{0};
    bool m_stalled = false;
    QList<Batch> m_batches;
    QTimer m_batchTimer;
    std::function<void(int, const QByteArray &)> m_handler;
    bool m_clientKeyed = false;
    bool m_operatorKeyed = false;
    bool m_keyerHolds = false;
};

} // namespace kivo::test
