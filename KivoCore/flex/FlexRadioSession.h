#pragma once

// One session with a FlexRadio over its line-based FLEX API (plain TCP on
// the local network, or TLS with a pinned certificate when SmartLink hands
// over a wide-area session): the numbered commands, the status model and the
// interlock. Both FlexRadio backends are built on it, so they share one
// transmitter ledger, the base's.

#include "KivoCore/support/Async.h"
#include "KivoCore/radio/RadioBackendBase.h"
#include "KivoCore/flex/SmartLinkAuth.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QAbstractSocket>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QTimer>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>

class QTcpSocket;

namespace kivo {

// The radio's answer to one numbered command: "R<seq>|<hex code>|<message>".
namespace FlexCommandResponseParser {
struct Response {
    qint64 sequence = 0;
    quint32 code = 0;
    QString message;

    bool operator==(const Response &) const = default;
};

// Nothing for a line that is not a well-formed reply.
std::optional<Response> parse(QStringView line);
} // namespace FlexCommandResponseParser

// One status line cut into its parts: "S<handle>|<object> [<id>] key=value ...".
struct FlexStatusLine {
    QString object;
    std::optional<QString> identifier;
    QHash<QString, QString> properties;
    // Bare words among the properties, such as "connected" or "disconnected".
    QStringList words;

    bool operator==(const FlexStatusLine &) const = default;
};

// Nothing for a line without "|" or without an object name.
std::optional<FlexStatusLine> parseFlexStatusLine(QStringView line);

// What an "interlock" status line says of the transmitter: whether it is on
// the air, for the snapshot, and for the ledger whether it may be keyed and
// who keyed it. The interlock lags the replies, so it follows none of our
// writes.
struct FlexInterlockReading {
    bool transmitting = false;
    bool keyed = false;
    TransmitterLedger::Source source = TransmitterLedger::Source::Unknown;

    bool operator==(const FlexInterlockReading &) const = default;
};

// Nothing for properties without "state".
std::optional<FlexInterlockReading> readFlexInterlock(const QHash<QString, QString> &properties);

// Every duration of the client, shortened by tests.
struct FlexRadioTiming {
    std::chrono::milliseconds commandTimeout{5000};
    std::chrono::milliseconds closingCommandTimeout{1000};
    std::chrono::milliseconds heartbeatInterval{1000};
    // The wait for the radio's handle line after a SmartLink validation.
    std::chrono::milliseconds handleWait{8000};
    // The unit of the back-off delays (1, 2, 4, 8, 16, 30 of them plus jitter).
    std::chrono::milliseconds backoffSecond{1000};
};

// Where one session goes.
struct FlexRadioEndpoint {
    QString host{};
    quint16 port = 0;
    // TLS, the certificate judged by the pin store; plain TCP otherwise.
    bool useTLS = false;
    // Sent as "wan validate" before the session starts, then the radio's
    // handle line is awaited.
    std::optional<QString> wanValidationHandle{};
    // The pin store's key for the certificate; the host when absent.
    std::optional<QString> certificateIdentity{};
};

// What every session of one backend shares.
struct FlexRadioSessionOptions {
    QString stationName{};
    QString sliceLetter{};
    SmartLinkCertificatePinStore pinStore{};
    FlexRadioTiming timing{};
    // The unit of the backend's reconnection back-off.
    std::chrono::milliseconds backoffSecond{1000};
    // Uniform in [0, 1]: the share of the back-off's random extra.
    std::function<double()> random{};
};

class FlexRadioSession : public RadioBackendBase {
    Q_OBJECT

public:
    using Timing = FlexRadioTiming;

    struct SliceState {
        int id = 0;
        std::optional<double> frequencyMHz;
        std::optional<QString> mode;
        std::optional<QString> clientHandle;
        std::optional<QString> indexLetter;
        bool active = false;
        bool transmit = false;
        bool inUse = true;
    };

    ~FlexRadioSession() override;

    QCoro::Task<RadioSnapshot> snapshot() override;
    QCoro::Task<std::optional<qint64>> primaryFrequency() override;
    QCoro::Task<void> setPrimaryFrequency(qint64 hz) override;
    QCoro::Task<void> setFrequency(qint64 hz) override;
    QCoro::Task<void> setMode(QString mode) override;
    QCoro::Task<std::optional<qint64>> secondaryFrequency() override;
    QCoro::Task<void> setSecondaryFrequency(qint64 hz) override;
    QCoro::Task<void> setSplitTransmit(bool enabled) override;
    QCoro::Task<void> setReceiveVFO(int vfo) override;
    QCoro::Task<int> cwSpeed() override;
    QCoro::Task<void> setCWSpeed(int wordsPerMinute) override;
    QCoro::Task<void> addSpot(FlexSpot spot) override;

    // Handles compare in this form: "0x00AB", "0xab" and "AB" are all "ab".
    static std::optional<QString> normalizedHandle(const std::optional<QString> &handle);

protected:
    // Starts nothing.
    FlexRadioSession(FlexRadioSessionOptions options, StateHandler onState, SnapshotHandler onSnapshot,
                     QObject *parent);

    // Opens the session of attempt `attempt`; it becomes ready once bootstrapped.
    void openSession(qint64 attempt, FlexRadioEndpoint endpoint);
    QCoro::Task<void> dropTransport() override;
    void sessionEnded() override;
    // Closing words go out while the transport is up, station or not.
    bool canSayGoodbye() const override { return m_transportReady; }
    // The session is usable (again): the first time, and when the followed
    // station returns.
    virtual void becameReady() {}
    // A slice is followed. Default: the back-off starts over.
    virtual void followingSlice() { clearFailures(); }
    void publishDisconnected();
    QCoro::Task<void> tick() override;
    QCoro::Task<void> transmit(bool on) override;
    QCoro::Task<void> transmit(CATTransmitMode mode) override;
    QCoro::Task<void> queueCW(QString text) override;
    QCoro::Task<void> clearKeyer() override;
    bool clearingKeyerUnkeys() const override { return true; }
    // The interlock says who keyed: the API, or the operator's own jacks.
    bool reportsKeySource() const override { return true; }
    const QLoggingCategory &logCategory() const override;

private:
    struct PendingCommand {
        OneShot<> reply;
        QTimer *timeout = nullptr;
        // Where the command's line ends in the bytes handed to the connection.
        qint64 endOfLine = 0;
    };

    // Session and transport.
    void transportConnected(qint64 attempt);
    QCoro::Task<void> verifyPeer(qint64 attempt);
    QCoro::Task<void> runSession(qint64 attempt);
    QCoro::Task<void> bootstrap(qint64 attempt);
    void socketFailed(qint64 attempt, const QString &description, QAbstractSocket::SocketError error);
    void readAvailable(qint64 attempt);
    void consume(const QByteArray &chunk, qint64 attempt);
    void parse(const QString &line);
    void resetSessionState();
    void dropConnection();
    void publish() { RadioBackendBase::publish(m_value); }
    // The closing time-outs while a stop's make-safe pass runs.
    std::chrono::milliseconds keyingTimeout() const;

    // Command exchange.
    QCoro::Task<void> sendCommand(QString command, std::chrono::milliseconds timeout);
    std::optional<PendingCommand> takePending(qint64 sequence);
    void completeCommand(QStringView line);
    void commandTimedOut(qint64 sequence);
    void failCommand(qint64 sequence, std::exception_ptr error);
    void failAllPending();
    // A connection that fails before a command's line has left ends that
    // command with the connection's own error.
    void failUnwrittenCommands(const QString &error);

    // Status model.
    void applyStatus(const QString &line);
    void applyClient(const std::optional<QString> &identifier, const QHash<QString, QString> &properties);
    void applySlice(const std::optional<QString> &identifier, const QHash<QString, QString> &properties);
    void applyInterlock(const FlexInterlockReading &reading);
    void selectBestSlice();
    std::optional<SliceState> stationSlice(const QString &letter) const;
    // What the ready state says: the followed slice, or what is awaited.
    QString readySentence() const;
    static QString vfoSentence(const SliceState &slice);

    // Control.
    QCoro::Task<void> tune(QString slice, qint64 hz);
    QString requireSelectedSlice() const;
    QString requireStationSlice(const QString &letter, const KivoError &missing) const;
    void requireReadyToKey() const;

    const QString m_stationName;
    const QString m_sliceLetter;
    const SmartLinkCertificatePinStore m_pinStore;
    FlexRadioEndpoint m_endpoint;
    const Timing m_timing;

    QTcpSocket *m_connection = nullptr;
    // The radio's handle line of the current session.
    OneShot<> m_clientHandle;
    QByteArray m_inboundBuffer;
    qint64 m_commandSequence = 1;
    // Bytes of command lines handed to connections, ever.
    qint64 m_bytesQueued = 0;
    RadioSnapshot m_value;
    QMap<int, SliceState> m_slices;
    std::optional<int> m_selectedSliceID;
    std::optional<QString> m_followedClientHandle;
    std::optional<QString> m_followedClientID;
    bool m_transportReady = false;
    QHash<qint64, PendingCommand> m_pendingCommands;
    int m_wordsPerMinute = 25;
    QSet<QString> m_reportedClientHandles;
    QSet<int> m_reportedSliceIDs;
    // The followed station left after the session was ready; its return
    // makes the session ready again.
    bool m_awaitingStation = false;
};

} // namespace kivo
