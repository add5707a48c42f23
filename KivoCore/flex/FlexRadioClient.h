#pragma once

// The backend for one FlexRadio reached over its line-based FLEX API: plain
// TCP on the local network, or TLS with a pinned certificate when SmartLink
// hands over a wide-area session.

#include "KivoCore/support/Async.h"
#include "KivoCore/support/ConnectionLifecycle.h"
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
    std::chrono::milliseconds handleWait{8000};
    // The unit of the back-off delays (1, 2, 4, 8, 16, 30 of them plus jitter).
    std::chrono::milliseconds backoffSecond{1000};
};

// What a FlexRadioClient connects to and how.
struct FlexRadioClientOptions {
    QString host;
    quint16 port = 0;
    QString stationName;
    QString sliceLetter;
    // TLS, the certificate judged by the pin store; plain TCP otherwise.
    bool useTLS = false;
    // Sent as "wan validate" before the session starts, then the radio's
    // handle line is awaited.
    std::optional<QString> wanValidationHandle;
    // The pin store's key for the certificate; the host when absent.
    std::optional<QString> certificateIdentity;
    SmartLinkCertificatePinStore pinStore;
    FlexRadioTiming timing;
    // Uniform in [0, 1]: the share of the back-off's random extra.
    std::function<double()> random;
};

class FlexRadioClient : public QObject, public RadioBackend {
    Q_OBJECT

public:
    using RandomSource = RadioLifecycle::RandomSource;
    using Timing = FlexRadioTiming;
    using Options = FlexRadioClientOptions;

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

    // Starts nothing.
    FlexRadioClient(Options options, StateHandler onState, SnapshotHandler onSnapshot, QObject *parent = nullptr);
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
    QCoro::Task<void> heartbeat(qint64 generation);
    void socketFailed(qint64 generation, const QString &description, QAbstractSocket::SocketError error);
    void readAvailable(qint64 generation);
    void consume(const QByteArray &chunk, qint64 generation);
    void parse(const QString &line);
    void connectionFailed(const QString &reason, qint64 generation);
    void resetSessionState();
    void dropConnection();
    void setState(RadioConnectionState state, const QString &status) { m_life.setState(state, status); }
    // Reports without changing the state (the announcements of stations and slices).
    void report(RadioConnectionState state, const QString &status) { m_life.report(state, status); }
    void publish() { m_life.publish(m_value); }

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
    bool isCurrent(qint64 generation) const { return m_life.isCurrent(generation); }

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
    const bool m_useTLS;
    const std::optional<QString> m_wanValidationHandle;
    const std::optional<QString> m_certificateIdentity;
    const SmartLinkCertificatePinStore m_pinStore;
    const Timing m_timing;

    RadioLifecycle m_life;
    QTcpSocket *m_connection = nullptr;
    // Waits between the radio's answer to one ping and the next ping.
    QTimer m_heartbeatTimer;
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
