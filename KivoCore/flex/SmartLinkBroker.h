#pragma once

// The SmartLink broker dialogue: register with the identity token, take the
// account's radio list, choose a radio, ask for a connection to it and hand
// back its public address with a one-time validation handle. The broker's
// connection then stays open with pings until the owner stops it.

#include "KivoCore/support/Async.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QString>
#include <QTimer>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>

namespace kivo {

struct SmartLinkRadio {
    QString serial;
    QString nickname;
    QString model;
    QString status;
    QString publicIP;
    quint16 tlsPort = 0;
    std::optional<quint16> udpPort;

    bool operator==(const SmartLinkRadio &) const = default;
};

struct SmartLinkWANSession {
    SmartLinkRadio radio;
    // Sent to the radio as "wan validate handle=" once connected.
    QString validationHandle;

    bool operator==(const SmartLinkWANSession &) const = default;
};

class SmartLinkBrokerError : public std::exception {
public:
    enum class Kind { Disconnected, NoRadio, MalformedResponse };

    static SmartLinkBrokerError disconnected(const QString &message);
    static SmartLinkBrokerError noRadio();
    static SmartLinkBrokerError malformedResponse();

    Kind kind() const { return m_kind; }
    QString message() const { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    SmartLinkBrokerError(Kind kind, const QString &message);

    Kind m_kind;
    QString m_message;
    QByteArray m_what;
};

// The broker's lines, read without any connection.
namespace SmartLinkBrokerParser {

// The usable radios of a "radio list " line, in the order listed; none for
// any other line.
QList<SmartLinkRadio> radios(const QString &line);

struct ConnectReady {
    QString handle;
    QString serial;

    bool operator==(const ConnectReady &) const = default;
};

// The handle and serial of a "radio connect_ready" line that has both.
std::optional<ConnectReady> connectReady(const QString &line);

} // namespace SmartLinkBrokerParser

// Where the broker is and how patient to be with it; tests point it at
// loopback and shorten the waits.
struct SmartLinkBrokerEndpoint {
    static constexpr std::chrono::milliseconds kResponseTimeout{12000};
    static constexpr std::chrono::milliseconds kPingInterval{10000};

    static QString defaultHost();

    QString host = defaultHost();
    quint16 port = 443;
    // Absent: the system's trust store. Verification is never relaxed.
    std::optional<QSslConfiguration> sslConfiguration{};
    std::chrono::milliseconds responseTimeout = kResponseTimeout;
    std::chrono::milliseconds pingInterval = kPingInterval;
};

// Who signs in to the broker, which radio is wanted and where the broker is.
struct SmartLinkBrokerOptions {
    QString idToken{};
    // Empty: the first available radio listed, or the first of all.
    QString preferredSerial{};
    SmartLinkBrokerEndpoint endpoint{};
};

class SmartLinkBroker : public QObject {
    Q_OBJECT

public:
    using DisconnectHandler = std::function<void(const QString &message)>;
    using Options = SmartLinkBrokerOptions;

    static constexpr qsizetype kMaximumBufferedBytes = 1048576;

    // `onDisconnect` hears, through the event loop, every failure or loss of
    // the broker's connection, also after connect() has returned; never
    // after stop().
    SmartLinkBroker(Options options, DisconnectHandler onDisconnect, QObject *parent = nullptr);
    ~SmartLinkBroker() override;

    // Runs the dialogue once. Throws SmartLinkBrokerError.
    QCoro::Task<SmartLinkWANSession> connect();
    // Ends everything; safe at any time and more than once.
    void stop();

private:
    void open();
    void handleReady();
    void handleSocketError(QAbstractSocket::SocketError error);
    void handleDisconnected();
    void receive();
    void consume(const QByteArray &data);
    void parse(const QString &line);
    void send(const QString &text);
    void fail(const QString &message);
    void finish(SmartLinkWANSession session);
    void finish(const SmartLinkBrokerError &error);
    void reportDisconnect(const QString &message);
    void endSocketEvents();

    const QString m_idToken;
    const QString m_preferredSerial;
    const DisconnectHandler m_onDisconnect;
    const SmartLinkBrokerEndpoint m_endpoint;

    QPointer<QSslSocket> m_socket;
    bool m_ready = false;
    bool m_opened = false;
    bool m_stopped = false;
    // Past the size limit nothing more is read.
    bool m_readingStopped = false;
    QByteArray m_buffer;
    std::optional<SmartLinkRadio> m_selectedRadio;
    OneShot<SmartLinkWANSession> m_result;
    QTimer m_pingTimer;
    QTimer m_timeoutTimer;
    bool m_completed = false;
};

} // namespace kivo
