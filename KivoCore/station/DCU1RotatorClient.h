#pragma once

// The DCU-1 rotator controller: its command texts, the reading of its
// azimuth replies, and the TCP client that keeps the link up and polls.

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include "KivoCore/support/Async.h"
#include "KivoCore/support/ConnectionLifecycle.h"

#include <chrono>
#include <functional>
#include <optional>

namespace kivo {

namespace DCU1Protocol {
inline constexpr char pollCommand[] = "AI1;";
inline constexpr char stopCommand[] = ";";
inline constexpr char clockwiseCommand[] = "U";
inline constexpr char counterclockwiseCommand[] = "D";

// "AP1nnn;AM1;" for the bearing folded into 0...359; nothing when the
// bearing is not a finite number.
std::optional<QByteArray> turnCommand(double bearing);
// Every azimuth reply (";" ended) in the text, folded into 0 up to 360.
QList<double> azimuths(const QString &text);
} // namespace DCU1Protocol

// The text received from the controller and not yet consumed. ASCII only;
// it never stays above 4096 characters.
class DCU1ReplyBuffer {
public:
    static constexpr qsizetype limit = 4096;
    static constexpr qsizetype keptAfterCut = 1024;

    // Appends the bytes and returns the azimuths now complete, in order.
    // Bytes that are not ASCII are dropped whole.
    QList<double> append(const QByteArray &data);
    void clear() { m_text.clear(); }
    const QString &text() const { return m_text; }

private:
    QString m_text;
};

// After the n-th failure in a row the client waits min(first * 2^(n-1), longest):
// 2, 4, 8, then 15 seconds.
struct DCU1RotatorTiming {
    std::chrono::milliseconds firstRetryDelay{2000};
    std::chrono::milliseconds longestRetryDelay{15000};
};

// Where the controller listens and how often its azimuth is asked for.
struct DCU1RotatorClientOptions {
    QString host{};
    quint16 port = 4001;
    // Clamped to 100...5000 by the client.
    int pollMilliseconds = 100;
    DCU1RotatorTiming timing{};
    // A continuous rotation an earlier client began and could not stop.
    bool rotationUnderWay = false;
};

class DCU1RotatorClient : public QObject {
    Q_OBJECT
public:
    enum class State { Stopped, Connecting, Connected, Reconnecting, Failed };

    using StateHandler = std::function<void(State state, const QString &status)>;
    using AzimuthHandler = std::function<void(double degrees)>;
    // A line for the station's events log.
    using EventHandler = std::function<void(const QString &line)>;

    using Timing = DCU1RotatorTiming;
    using Options = DCU1RotatorClientOptions;

    static constexpr int minimumPollMilliseconds = 100;
    static constexpr int maximumPollMilliseconds = 5000;
    static constexpr qsizetype receiveChunkBytes = 2048;

    // The callbacks are posted through the event loop, in order, never
    // called from inside a call on the client.
    DCU1RotatorClient(Options options, StateHandler onState, AzimuthHandler onAzimuth, EventHandler onEvent = {},
                      QObject *parent = nullptr);
    ~DCU1RotatorClient() override;

    void start();
    // A continuous rotation this client began, and ended neither by a stop
    // nor by a turn, would run on to the end stop: the stop command goes out
    // on the link before it closes, and as soon as a dropped link is back.
    void stop();
    // Such a rotation may still be under way: the link went down before
    // its stop could go out.
    bool rotationMayBeUnderWay() const { return m_rotationUnderWay; }
    // A status with the caution such a rotation puts before it.
    static QString withTurningCaution(const QString &status);

    // Complete once the bytes were handed to the network; throw KivoError
    // ("Rotator is not connected." while the link is down).
    QCoro::Task<void> turn(double bearing);
    QCoro::Task<void> stopRotation();
    QCoro::Task<void> rotate(bool clockwise);

    int pollMilliseconds() const { return m_pollMilliseconds; }
    int reconnectAttempt() const { return static_cast<int>(m_life.failures()); }
    static std::chrono::milliseconds retryDelay(int failures, const Timing &timing);

private:
    struct PendingSend {
        qint64 endOffset;
        OneShot<> done;
    };

    void connectToController(bool reconnecting);
    void handleConnected(QTcpSocket *socket);
    void handleError(QTcpSocket *socket);
    void handleClosed(QTcpSocket *socket);
    void handleDisconnect(const QString &reason);
    void readAvailable(QTcpSocket *socket);
    void startPolling();
    void stopPolling();
    qint64 writeBytes(const QByteArray &bytes);
    void bytesWritten(QTcpSocket *socket, qint64 count);
    void failPendingSends(const QString &message);
    void dropSocket();
    void stopRotationBeforeClosing();
    QCoro::Task<void> sendCommand(QByteArray command);
    void reportState(State state, const QString &status);
    void reportEvent(const QString &line);
    QString endpointText() const;

    const QString m_host;
    const quint16 m_port;
    const int m_pollMilliseconds;
    const StateHandler m_onState;
    const AzimuthHandler m_onAzimuth;
    const EventHandler m_onEvent;
    const Timing m_timing;

    QPointer<QTcpSocket> m_socket;
    bool m_linkUp = false;
    QTimer m_pollTimer;
    ConnectionLifecycle m_life;
    DCU1ReplyBuffer m_receiveBuffer;
    // Bytes queued on and flushed from the current socket, for send completion.
    qint64 m_bytesQueued = 0;
    qint64 m_bytesFlushed = 0;
    QList<PendingSend> m_pendingSends;
    // "U" or "D" was the last command written; kept across reconnections,
    // since the controller turns on whatever becomes of the link.
    bool m_rotationUnderWay = false;
};

QString rawValue(DCU1RotatorClient::State state);

} // namespace kivo
