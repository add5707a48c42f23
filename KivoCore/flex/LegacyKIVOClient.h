#pragma once

// The backend that reaches the radio through the legacy KIVO companion
// program: its Kenwood-style CAT port over TCP, polled once a second, no
// faster than it answers.

#include "KivoCore/flex/LegacyKIVOReading.h"
#include "KivoCore/support/Async.h"
#include "KivoCore/radio/Models.h"
#include "KivoCore/radio/RadioBackendBase.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

namespace kivo {

struct LegacyKIVOClientTiming {
    // How often the companion is asked for the radio's state.
    std::chrono::milliseconds pollInterval{1000};
    // How long one second of reconnection back-off lasts.
    std::chrono::milliseconds backoffSecond{1000};
    // How long an unkey or keyer clear waits for the information answer
    // that confirms it; one that comes later still counts for the ledger.
    std::chrono::milliseconds unkeyConfirmation{2000};
    std::chrono::milliseconds closingUnkeyConfirmation{1000};
    // How long the link may stay silent (nothing received while answers are
    // awaited) before it counts as lost. A companion taking up to 5 s for
    // each batch, one at a time, is silent through a key or another set
    // command ahead of the poll too: 15 s leaves room for two of them.
    std::chrono::milliseconds silenceLimit{15000};
};

// Where the companion listens, and how often it is polled.
struct LegacyKIVOClientOptions {
    QString host{};
    quint16 port = 0;
    LegacyKIVOClientTiming timing{};
    // Why a connection that reached this peer is not to be served; empty
    // when it may be.
    std::function<QString(const QHostAddress &peer, quint16 port)> refusal{};
};

class LegacyKIVOClient : public RadioBackendBase {
    Q_OBJECT

public:
    using Timing = LegacyKIVOClientTiming;
    using Options = LegacyKIVOClientOptions;
    static constexpr qsizetype kMaximumBufferedBytes = 65536;

    LegacyKIVOClient(Options options, StateHandler onState, SnapshotHandler onSnapshot, QObject *parent = nullptr);
    ~LegacyKIVOClient() override;

    QCoro::Task<RadioSnapshot> snapshot() override;
    QCoro::Task<std::optional<qint64>> primaryFrequency() override;
    QCoro::Task<void> setPrimaryFrequency(qint64 hz) override;
    QCoro::Task<void> setFrequency(qint64 hz) override;
    QCoro::Task<void> setMode(QString mode) override;
    QCoro::Task<std::optional<qint64>> secondaryFrequency() override;
    QCoro::Task<void> setSecondaryFrequency(qint64 hz) override;
    QCoro::Task<void> setSplitTransmit(bool on) override;
    QCoro::Task<void> setReceiveVFO(int vfo) override;
    QCoro::Task<int> cwSpeed() override;
    QCoro::Task<void> setCWSpeed(int wordsPerMinute) override;

protected:
    void openTransport(qint64 attempt) override;
    QCoro::Task<void> dropTransport() override;
    void sessionEnded() override;
    // The poll batch, once the previous one is answered; the companion's
    // answers arrive through the reader.
    QCoro::Task<void> tick() override;
    // Kenwood's "RX;" has no answer: an unkey is confirmed by the transmit
    // flag of the first information answer asked for after it, on the same
    // connection. The companion gives no key source: an owed unkey it
    // cannot confirm is sent again once a session.
    QCoro::Task<void> transmit(bool on) override;
    QCoro::Task<void> transmit(CATTransmitMode mode) override;
    QCoro::Task<void> queueCW(QString text) override;
    // Counts once the companion answers an information request asked after it.
    QCoro::Task<void> clearKeyer() override;
    // The companion's keyer holds the transmitter while it sends.
    bool clearingKeyerUnkeys() const override { return true; }
    bool answersSetCommands() const override { return companion::answersSetCommands; }
    const QLoggingCategory &logCategory() const override;

private:
    struct PendingWrite {
        qint64 endOffset = 0;
        OneShot<> done;
    };
    // What came back for a command followed by "IF;".
    using Confirmation = OneShot<companion::Reply>;
    // A command written on this connection and not yet answered. The
    // companion answers in order: a read ("FA;", "IF;", ...) once, a set
    // only when it refuses it ("?").
    struct Request {
        QByteArray name;
        bool read = false;
        // An unkey or keyer clear awaiting its command's information answer,
        // which a refusal of the command itself fails.
        std::optional<Confirmation> confirmation;
        // The poll batch it belongs to; 0: none.
        qint64 poll = 0;
    };

    void handleConnected(qint64 generation);
    void handleSocketError(qint64 generation, QAbstractSocket::SocketError error);
    void handleDisconnected(qint64 generation);
    void handleBytesWritten(qint64 generation, qint64 bytes);
    // The link is gone: a failure while running; during a stop's goodbye
    // only the socket closes, so the goodbye's writes end.
    void linkLost(qint64 generation, const QString &reason);
    void receive(qint64 generation);
    void consume(const QByteArray &bytes, qint64 generation);
    void parse(const QString &answer);
    void readInformation(const QString &answer, std::optional<Request> asked);
    QCoro::Task<void> send(QByteArray command, std::optional<Confirmation> confirmation = std::nullopt);
    // Sends `command` of `kind` followed by "IF;" and throws unless the
    // companion's answers show it taken.
    QCoro::Task<void> sendAndConfirm(TransmitterLedger::Kind kind, QByteArray command);
    QCoro::Task<void> firstPoll(qint64 generation);
    bool readsOutstanding() const;
    // The newest poll batch still awaits answers: none came yet, or the
    // last came less than a poll interval ago.
    bool pollPending() const;
    // Armed while reads are outstanding, from the last bytes received.
    void watchSilence(bool heard);
    std::chrono::milliseconds answerTime() const;
    void closeSocket();
    void refreshSnapshot();
    void publishValue() { publish(m_value); }
    QCoro::Task<void> setVFOFrequency(int vfo, qint64 hz);

    const QString m_host;
    const quint16 m_port;
    const Timing m_timing;
    const std::function<QString(const QHostAddress &, quint16)> m_refusal;

    QPointer<QTcpSocket> m_socket;
    bool m_socketConnected = false;
    QByteArray m_inboundBuffer;
    // Bytes handed to the socket and bytes it reported written, so a send
    // completes when its own bytes have left.
    qint64 m_bytesQueued = 0;
    qint64 m_bytesWritten = 0;
    QList<PendingWrite> m_pendingWrites;
    QList<Request> m_unanswered;
    QTimer m_silence;
    QElapsedTimer m_clock;
    qint64 m_polls = 0;
    // When the newest poll batch last got an answer, on m_clock; -1: never.
    qint64 m_pollAnsweredAt = -1;

    RadioSnapshot m_value;
    qint64 m_vfoAFrequencyHz = 14074000;
    std::optional<qint64> m_vfoBFrequencyHz;
    QString m_vfoAMode = QStringLiteral("DIGU");
    std::optional<QString> m_vfoBMode;
    int m_receiveVFO = 0;
    int m_transmitVFO = 0;
    qint64 m_wordsPerMinute = 25;
};

} // namespace kivo
