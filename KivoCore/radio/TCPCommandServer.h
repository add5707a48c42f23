#pragma once

// Serves one text protocol to logging programs on 127.0.0.1: cuts each
// client's byte stream at a one-byte delimiter, hands every request to the
// handler in arrival order and writes the answers back in the same order.

#include "KivoCore/radio/ClientActivity.h"
#include "KivoCore/support/LogCategories.h"

#include <QByteArray>
#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QHostAddress;
class QLoggingCategory;
class QTcpServer;

namespace kivo {

class CommandConnection;
struct TCPCommandServerOptions;

class TCPCommandServer : public QObject {
    Q_OBJECT

public:
    enum class Framing { Semicolon, Newline };

    // `activity` is the requesting client's own record; the handler notes in
    // it what the client set going, and the disconnect handler receives it.
    using Handler =
        std::function<QCoro::Task<std::optional<QString>>(QString request, std::shared_ptr<ClientActivity> activity)>;
    using DisconnectHandler = std::function<QCoro::Task<void>(ClientActivity activity)>;
    using EventHandler = std::function<void(const QString &event)>;

    // Inbound bytes without a delimiter beyond this are thrown away.
    static constexpr qsizetype maximumBufferedBytes = 65536;
    // One read takes at most this many bytes.
    static constexpr qsizetype readChunkBytes = 8192;

    struct Timing {
        // After a failed accept (descriptor table full) the listener waits
        // this long before it accepts again.
        std::chrono::milliseconds acceptRetryPause{1000};
        // Clients served at once; the next one is closed on arrival. Two
        // servers at this cap stay well inside a 1,024-descriptor table,
        // which Qt needs room in for the wake-up pipes of its threads.
        int maximumClients{256};
    };

    using Options = TCPCommandServerOptions;

    // Nothing starts yet.
    explicit TCPCommandServer(Options options, QObject *parent = nullptr);
    ~TCPCommandServer() override;

    // Listens on 127.0.0.1:port (0 lets the system choose). A running server
    // swaps its listener; clients already connected keep being served.
    // Throws KivoError with "Could not listen on 127.0.0.1:<port>: <reason>".
    void start(quint16 port);
    // Closes the listener and every client. Safe to call at any time.
    void stop();

    bool isListening() const;
    // The port actually bound (useful after start(0)); 0 when not listening.
    quint16 serverPort() const;
    // Whether a connection to `address`:`port` lands on this listener.
    bool listensAt(const QHostAddress &address, quint16 port) const;

private:
    friend class CommandConnection;

    void accept(qintptr descriptor);
    void forget(CommandConnection *connection);
    void closeListener();
    void acceptFailed();

    char m_delimiter;
    Handler m_handler;
    DisconnectHandler m_onDisconnect;
    EventHandler m_onEvent;
    Timing m_timing;
    const QLoggingCategory *m_log;
    QTcpServer *m_listener = nullptr;
    // Set from a failed accept until one succeeds: the failure is told once.
    bool m_acceptFailing = false;
    // Set from a refused client until one is served: told once per burst.
    bool m_refusing = false;
    quint16 m_requestedPort = 0;
    QHash<CommandConnection *, QPointer<CommandConnection>> m_connections;
};

// What a command server serves, and to whom it tells what happens.
struct TCPCommandServerOptions {
    // Where the traffic is traced; its name is also the server object's.
    const QLoggingCategory *category = &lcGeneral();
    TCPCommandServer::Framing framing = TCPCommandServer::Framing::Semicolon;
    TCPCommandServer::Handler handler{};
    TCPCommandServer::DisconnectHandler onDisconnect{};
    TCPCommandServer::EventHandler onEvent{};
    TCPCommandServer::Timing timing{};
};

} // namespace kivo
