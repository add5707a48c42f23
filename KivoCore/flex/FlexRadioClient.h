#pragma once

// The backend for one FlexRadio reached over its line-based FLEX API: plain
// TCP on the local network, or TLS with a pinned certificate when SmartLink
// hands over a wide-area session.

#include "KivoCore/support/Async.h"
#include "KivoCore/radio/RadioBackend.h"
#include "KivoCore/flex/SmartLinkAuth.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QAbstractSocket>
#include <QObject>
#include <QSet>
#include <QString>
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

    bool operator==(const FlexStatusLine &) const = default;
};

// Nothing for a line without "|" or without an object name.
std::optional<FlexStatusLine> parseFlexStatusLine(QStringView line);

// Every duration of the client, shortened by tests.
struct FlexRadioTiming {
    std::chrono::milliseconds commandTimeout{5000};
    std::chrono::milliseconds closingCommandTimeout{1000};
    std::chrono::milliseconds heartbeatInterval{1000};
    // The wait for the radio's handle line after a SmartLink validation.
    std::chrono::milliseconds handleWaitStep{100};
    int handleWaitSteps = 80;
    // The unit of the back-off delays (1, 2, 4, 8, 16, 30 of them plus jitter).
    std::chrono::milliseconds backoffSecond{1000};
};

class FlexRadioClient : public QObject, public RadioBackend {
    Q_OBJECT

public:
    // Uniform in [0, 1]: the share of the back-off's random extra.
    using RandomSource = std::function<double()>;

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

    // A validation handle selects TLS; the certificate is judged by the pin
    // store under `certificateIdentity` (the host when absent). Starts nothing.
    FlexRadioClient(QString host, quint16 port, QString stationName, QString sliceLetter,
                    std::optional<QString> wanValidationHandle, std::optional<QString> certificateIdentity,
                    StateHandler onState, SnapshotHandler onSnapshot,
                    SmartLinkCertificatePinStore pinStore = SmartLinkCertificatePinStore(), Timing timing = {},
                    RandomSource random = {}, QObject *parent = nullptr);
    ~FlexRadioClient() override;

    void start() override;
    // Closing commands while the session is up, then "Stopped".
    QCoro::Task<void> stop() override;
    void reconnectNow() override;

    QCoro::Task<RadioSnapshot> snapshot() override;
    QCoro::Task<std::optional<qint64>> primaryFrequency() override;
    QCoro::Task<void> setPrimaryFrequency(qint64 hz) override;
    QCoro::Task<void> setFrequency(qint64 hz) override;
    QCoro::Task<void> setMode(QString mode) override;
    QCoro::Task<void> setTransmit(bool on) override;
    QCoro::Task<std::optional<qint64>> secondaryFrequency() override;
    QCoro::Task<void> setSecondaryFrequency(qint64 hz) override;
    QCoro::Task<void> setSplitTransmit(bool enabled) override;
    QCoro::Task<void> setReceiveVFO(int vfo) override;
    QCoro::Task<int> cwSpeed() override;
    QCoro::Task<void> setCWSpeed(int wordsPerMinute) override;
    QCoro::Task<void> sendCW(QString text) override;
    QCoro::Task<void> clearCW() override;
    bool clearCWUnkeys() const override { return true; }
    QCoro::Task<void> setTransmit(CATTransmitMode mode) override;
    QCoro::Task<void> addSpot(FlexSpot spot) override;

    // Handles compare in this form: "0x00AB", "0xab" and "AB" are all "ab".
    static std::optional<QString> normalizedHandle(const std::optional<QString> &handle);

private:
    struct PendingCommand {
        OneShot<> reply;
        QTimer *timeout = nullptr;
        // Where the command's line ends in the bytes handed to the connection.
        qint64 endOfLine = 0;
    };

    // Session and transport.
    void connectToRadio();
    void transportConnected(qint64 generation);
    QCoro::Task<void> verifyPeer(qint64 generation);
    void transportReadyFor(qint64 generation);
    QCoro::Task<void> runSession(qint64 generation);
    QCoro::Task<void> bootstrap(qint64 generation);
    void startPingLoop(qint64 generation);
    QCoro::Task<void> heartbeat(qint64 generation, quint64 loop);
    void socketFailed(qint64 generation, const QString &description, QAbstractSocket::SocketError error);
    void readAvailable(qint64 generation);
    void consume(const QByteArray &chunk, qint64 generation);
    void parse(const QString &line);
    void connectionFailed(const QString &reason, qint64 generation);
    void scheduleReconnect(const QString &reason);
    void resetSessionState();
    void dropConnection();
    void cancelHeartbeat();
    void setState(RadioConnectionState state, const QString &status);
    // Reports without changing the state (the announcements of stations and slices).
    void report(RadioConnectionState state, const QString &status);
    void publish();

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
    bool isCurrent(qint64 generation) const { return generation == m_generation; }

    // Status model.
    void applyStatus(const QString &line);
    void applyClient(const std::optional<QString> &identifier, const QHash<QString, QString> &properties);
    void applySlice(const std::optional<QString> &identifier, const QHash<QString, QString> &properties);
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

    const QString m_host;
    const quint16 m_port;
    const QString m_stationName;
    const QString m_sliceLetter;
    const std::optional<QString> m_wanValidationHandle;
    const std::optional<QString> m_certificateIdentity;
    const StateHandler m_onState;
    const SnapshotHandler m_onSnapshot;
    const SmartLinkCertificatePinStore m_pinStore;
    const Timing m_timing;
    const RandomSource m_random;

    QTcpSocket *m_connection = nullptr;
    qint64 m_generation = 0;
    bool m_shouldRun = false;
    qint64 m_reconnectAttempt = 0;
    QTimer m_reconnectTimer;
    // Bumped to end the running heartbeat loop.
    quint64 m_heartbeatLoop = 0;
    QByteArray m_inboundBuffer;
    qint64 m_commandSequence = 1;
    // Bytes of command lines handed to connections, ever.
    qint64 m_bytesQueued = 0;
    RadioConnectionState m_state = RadioConnectionState::Stopped;
    RadioSnapshot m_value;
    QMap<int, SliceState> m_slices;
    std::optional<int> m_selectedSliceID;
    std::optional<QString> m_followedClientHandle;
    std::optional<QString> m_followedClientID;
    bool m_clientHandleReceived = false;
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
