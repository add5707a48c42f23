#pragma once

// A Remote Station Agent on one loopback port: HTTPS requests and the WSS
// state stream, with the test certificate of TestTls.h (clients trust it
// through clientConfigurationTrustingTestCA()), an optional base path, a
// bearer check and scripted answers per command.

#include "fakes/HttpMessages.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class QSslServer;
class QSslSocket;
class QWebSocket;
class QWebSocketServer;

namespace kivo::test {

class FakeRemoteAgent : public QObject {
    Q_OBJECT

public:
    struct Request : HttpRequest {
        // The members of a command's body.
        QString command() const;
        QJsonObject arguments() const;
        QString requestID() const;
    };

    struct Reply {
        int status = 200;
        QByteArray body;
        // Answer after this long; never when negative.
        int delayMs = 0;
        // When set, the agent acts only once the delay has passed, while
        // the request's connection still stands: this makes the reply then.
        std::function<Reply()> actLater{};

        static Reply json(const QJsonObject &object, int status = 200);
        static Reply text(const QByteArray &body, int status);
        // {"success": false, "error": {"code": "rejected", "message": <message>}}
        static Reply failure(const QString &message);
        static Reply silent() { return Reply{200, {}, -1, {}}; }
    };
    using Handler = std::function<Reply(const Request &request)>;

    // `basePath` such as "/agent" puts every resource under it.
    explicit FakeRemoteAgent(const QString &basePath = {}, QObject *parent = nullptr);
    ~FakeRemoteAgent() override;

    // Listens on 127.0.0.1 with a port the system chooses, or after close()
    // on the port it had, as an agent that comes back.
    bool listen();
    // Stops listening and drops every connection, answers still owed and
    // streams alike, as an agent that goes down; the port then refuses
    // connections.
    void close();
    quint16 port() const;
    QString baseURL() const;

    // Every command the client can send.
    static QStringList allCommands();
    // A connected radio on 14.074 MHz DIGU, VFO A receiving and
    // transmitting, a commissioned station and every command advertised.
    static QJsonObject defaultState();

    QString token = QStringLiteral("test-token");
    // The state document that GET /api/v1/state, command replies and the
    // stream carry; commands change it unless followCommands is off.
    QJsonObject state = defaultState();
    bool followCommands = true;
    // The configuration that GET /api/v1/config serves and PUT replaces.
    QJsonObject configuration;
    // Sends the state to a stream as soon as it opens.
    bool greetStreams = true;
    // Refuses stream upgrades with HTTP 401.
    bool refuseStreams = false;
    // Leaves stream upgrades unanswered.
    bool ignoreStreams = false;
    // Records commands but neither performs nor answers them, as a stalled
    // link loses them.
    bool stallCommands = false;
    // Keys and unkeys stalled meanwhile are acted on, unanswered, long after
    // the client gave up on them.
    void actOnStalled();
    // A command left unanswered, to be acted on as a stalled one is.
    void keep(const Request &request) { m_stalled.append(request); }

    // Scripted answers; they win over the defaults.
    void setStateHandler(Handler handler) { m_stateHandler = std::move(handler); }
    void setConfigHandler(Handler handler) { m_configHandler = std::move(handler); }
    void setCommandHandler(const QString &command, Handler handler) { m_commandHandlers[command] = std::move(handler); }
    // Stalled commands that have a handler, kept for actOnStalled(); otherwise they are lost.
    bool keepsStalled = false;

    // Every request in arrival order, stream upgrades included.
    QList<Request> requests;
    QList<Request> commandRequests(const QString &command = {}) const;
    int requestCount(const QByteArray &method, const QString &resource) const;

    int streamCount() const;
    void pushState();
    // A state document of the agent's making other than the current one.
    void pushState(const QJsonObject &document);
    void sendText(const QByteArray &text);
    void sendBinary(const QByteArray &data);
    // Pings every open stream. A client answers once it has read everything
    // sent before: `pongs` counts the answers.
    void ping();
    int pongs = 0;
    // Closes every open stream from the agent's side.
    void closeStreams();

    // The reply the default handler gives a command, after applying it.
    Reply applyCommand(const Request &request);

signals:
    void requestReceived();
    void streamOpened();

private:
    QList<Request> m_stalled;
    void acceptConnections();
    void dropConnections();
    void readRequest(QSslSocket *socket);
    void answer(QSslSocket *socket, const Request &request);
    void write(QSslSocket *socket, const Reply &reply);
    QString resource(const QByteArray &path) const;

    QString m_basePath;
    quint16 m_port = 0;
    QSslServer *m_server = nullptr;
    QWebSocketServer *m_streamServer = nullptr;
    QList<QPointer<QWebSocket>> m_streams;
    QList<QPointer<QSslSocket>> m_sockets;
    QHash<QSslSocket *, QByteArray> m_buffers;
    Handler m_stateHandler;
    Handler m_configHandler;
    QHash<QString, Handler> m_commandHandlers;
};

} // namespace kivo::test
