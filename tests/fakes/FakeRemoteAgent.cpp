#include "fakes/FakeRemoteAgent.h"

#include "fakes/TestTls.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>
#include <utility>

namespace kivo::test {

namespace {

QByteArray stateMessage(const QJsonObject &state)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("type"), QStringLiteral("state")},
                                     {QStringLiteral("state"), state}})
        .toJson(QJsonDocument::Compact);
}

// The entry of "vfos" that stands for a letter, by its key or index letter.
QString vfoKey(const QJsonObject &vfos, const QString &letter)
{
    for (auto it = vfos.begin(); it != vfos.end(); ++it) {
        const QString index = it.value().toObject().value(QStringLiteral("index_letter")).toString(it.key());
        if (index.toUpper() == letter.toUpper())
            return it.key();
    }
    return letter;
}

} // namespace

QString FakeRemoteAgent::Request::command() const
{
    return json().value(QStringLiteral("command")).toString();
}

QJsonObject FakeRemoteAgent::Request::arguments() const
{
    return json().value(QStringLiteral("arguments")).toObject();
}

QString FakeRemoteAgent::Request::requestID() const
{
    return json().value(QStringLiteral("request_id")).toString();
}

FakeRemoteAgent::Reply FakeRemoteAgent::Reply::json(const QJsonObject &object, int status)
{
    return Reply{status, QJsonDocument(object).toJson(QJsonDocument::Compact), 0, {}};
}

FakeRemoteAgent::Reply FakeRemoteAgent::Reply::text(const QByteArray &body, int status)
{
    return Reply{status, body, 0, {}};
}

FakeRemoteAgent::Reply FakeRemoteAgent::Reply::failure(const QString &message)
{
    return json({{QStringLiteral("success"), false},
                 {QStringLiteral("error"),
                  QJsonObject{{QStringLiteral("code"), QStringLiteral("rejected")},
                              {QStringLiteral("message"), message}}}});
}

FakeRemoteAgent::FakeRemoteAgent(const QString &basePath, QObject *parent)
    : QObject(parent), m_basePath(basePath)
{
    m_server = new QSslServer(this);
    m_server->setSslConfiguration(testServerConfiguration());
    // QSslServer hands a socket on once its handshake is done, announced by
    // this signal rather than newConnection.
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, &FakeRemoteAgent::acceptConnections);

    // The TLS session is already up when a socket reaches it, so the stream
    // server itself runs without encryption.
    m_streamServer = new QWebSocketServer(QStringLiteral("fake-agent"), QWebSocketServer::NonSecureMode, this);
    connect(m_streamServer, &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket *stream = m_streamServer->nextPendingConnection()) {
            stream->setParent(this);
            m_streams.append(stream);
            connect(stream, &QWebSocket::disconnected, stream, &QObject::deleteLater);
            connect(stream, &QWebSocket::pong, this, [this] { ++pongs; });
            if (greetStreams)
                stream->sendTextMessage(QString::fromUtf8(stateMessage(state)));
            emit streamOpened();
        }
    });
}

FakeRemoteAgent::~FakeRemoteAgent()
{
    dropConnections();
}

bool FakeRemoteAgent::listen()
{
    return m_server->listen(QHostAddress::LocalHost, m_port);
}

void FakeRemoteAgent::close()
{
    m_port = port();
    m_server->close();
    dropConnections();
}

void FakeRemoteAgent::dropConnections()
{
    for (const auto &stream : std::as_const(m_streams)) {
        if (stream)
            stream->abort();
    }
    for (const auto &socket : std::exchange(m_sockets, {})) {
        if (socket)
            socket->abort();
    }
}

quint16 FakeRemoteAgent::port() const
{
    return m_server->isListening() ? m_server->serverPort() : m_port;
}

QString FakeRemoteAgent::baseURL() const
{
    return QStringLiteral("https://127.0.0.1:%1%2").arg(port()).arg(m_basePath);
}

QStringList FakeRemoteAgent::allCommands()
{
    return {QStringLiteral("set_frequency_hz"), QStringLiteral("set_mode"),        QStringLiteral("set_ptt"),
            QStringLiteral("set_split"),        QStringLiteral("set_receive_vfo"), QStringLiteral("set_cw_speed"),
            QStringLiteral("send_cw"),          QStringLiteral("clear_cw"),        QStringLiteral("set_rit"),
            QStringLiteral("set_xit"),          QStringLiteral("set_rf_power"),    QStringLiteral("station_standby"),
            QStringLiteral("station_operate"),  QStringLiteral("station_tune"),    QStringLiteral("station_cancel"),
            QStringLiteral("add_spot")};
}

QJsonObject FakeRemoteAgent::defaultState()
{
    const QJsonObject vfoA{{QStringLiteral("index_letter"), QStringLiteral("A")},
                           {QStringLiteral("frequency_hz"), 14074000},
                           {QStringLiteral("mode"), QStringLiteral("DIGU")},
                           {QStringLiteral("active"), true},
                           {QStringLiteral("transmit"), true},
                           {QStringLiteral("in_use"), true}};
    const QJsonObject radio{{QStringLiteral("connected"), true},
                            {QStringLiteral("known"), true},
                            {QStringLiteral("stale"), false},
                            {QStringLiteral("station_bound"), true},
                            {QStringLiteral("station_name"), QStringLiteral("Maestro")},
                            {QStringLiteral("frequency_hz"), 14074000},
                            {QStringLiteral("mode"), QStringLiteral("DIGU")},
                            {QStringLiteral("mox"), false},
                            {QStringLiteral("cw_speed"), 25},
                            {QStringLiteral("drive"), 50},
                            {QStringLiteral("vfos"), QJsonObject{{QStringLiteral("A"), vfoA}}}};
    const QJsonObject station{{QStringLiteral("commissioned"), true},
                              {QStringLiteral("coordinator_state"), QStringLiteral("safe_rx")}};
    return {{QStringLiteral("protocol_version"), 1},
            {QStringLiteral("revision"), 1},
            {QStringLiteral("radio"), radio},
            {QStringLiteral("station"), station},
            {QStringLiteral("capabilities"),
             QJsonObject{{QStringLiteral("commands"), QJsonArray::fromStringList(allCommands())}}}};
}

QList<FakeRemoteAgent::Request> FakeRemoteAgent::commandRequests(const QString &command) const
{
    QList<Request> result;
    for (const Request &request : requests) {
        if (resource(request.path) == QLatin1String("/api/v1/commands")
            && (command.isEmpty() || request.command() == command))
            result.append(request);
    }
    return result;
}

int FakeRemoteAgent::requestCount(const QByteArray &method, const QString &path) const
{
    return int(std::count_if(requests.begin(), requests.end(), [&](const Request &request) {
        return request.method == method && resource(request.path) == path;
    }));
}

int FakeRemoteAgent::streamCount() const
{
    return int(std::count_if(m_streams.begin(), m_streams.end(), [](const QPointer<QWebSocket> &stream) {
        return stream && stream->state() == QAbstractSocket::ConnectedState;
    }));
}

void FakeRemoteAgent::pushState()
{
    pushState(state);
}

void FakeRemoteAgent::pushState(const QJsonObject &document)
{
    sendText(stateMessage(document));
}

void FakeRemoteAgent::sendText(const QByteArray &text)
{
    for (const auto &stream : std::as_const(m_streams)) {
        if (stream)
            stream->sendTextMessage(QString::fromUtf8(text));
    }
}

void FakeRemoteAgent::sendBinary(const QByteArray &data)
{
    for (const auto &stream : std::as_const(m_streams)) {
        if (stream)
            stream->sendBinaryMessage(data);
    }
}

void FakeRemoteAgent::ping()
{
    for (const auto &stream : std::as_const(m_streams)) {
        if (stream)
            stream->ping();
    }
}

void FakeRemoteAgent::closeStreams()
{
    for (const auto &stream : std::as_const(m_streams)) {
        if (stream)
            stream->close(QWebSocketProtocol::CloseCodeNormal, QStringLiteral("agent restarting"));
    }
}

QString FakeRemoteAgent::resource(const QByteArray &path) const
{
    const QString text = QString::fromUtf8(path);
    if (!text.startsWith(m_basePath))
        return {};
    return text.mid(m_basePath.size());
}

void FakeRemoteAgent::acceptConnections()
{
    while (QTcpSocket *pending = m_server->nextPendingConnection()) {
        auto *socket = qobject_cast<QSslSocket *>(pending);
        m_sockets.removeAll(nullptr);
        m_sockets.append(socket);
        connect(socket, &QSslSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QSslSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
        if (socket->bytesAvailable() > 0)
            readRequest(socket);
    }
}

void FakeRemoteAgent::readRequest(QSslSocket *socket)
{
    // Peeked, not read: a stream upgrade hands the untouched bytes on.
    qsizetype length = 0;
    const auto parsed = parseHttpRequest(socket->peek(socket->bytesAvailable()), &length);
    if (!parsed)
        return;
    Request request;
    static_cast<HttpRequest &>(request) = *parsed;
    requests.append(request);
    emit requestReceived();

    if (request.header("upgrade").toLower() == "websocket") {
        socket->disconnect(this);
        if (ignoreStreams)
            return;
        if (refuseStreams || request.header("authorization") != "Bearer " + token.toUtf8()
            || resource(request.path) != QLatin1String("/api/v1/stream")) {
            socket->read(length);
            write(socket, Reply::json({{QStringLiteral("detail"), QStringLiteral("Stream refused")}}, 401));
            return;
        }
        m_streamServer->handleConnection(socket);
        return;
    }
    socket->read(length);
    answer(socket, request);
}

void FakeRemoteAgent::answer(QSslSocket *socket, const Request &request)
{
    const QString path = resource(request.path);
    if (request.header("authorization") != "Bearer " + token.toUtf8()) {
        write(socket, Reply::json({{QStringLiteral("detail"), QStringLiteral("Invalid bearer token")}}, 401));
        return;
    }
    if (path == QLatin1String("/api/v1/state") && request.method == "GET") {
        write(socket, m_stateHandler ? m_stateHandler(request)
                                     : Reply::json({{QStringLiteral("success"), true},
                                                    {QStringLiteral("state"), state}}));
    } else if (path == QLatin1String("/api/v1/commands") && request.method == "POST") {
        if (stallCommands) {
            if (keepsStalled && m_commandHandlers.contains(request.command()))
                m_stalled.append(request);
            return;
        }
        const auto handler = m_commandHandlers.constFind(request.command());
        write(socket, handler != m_commandHandlers.constEnd() ? (*handler)(request) : applyCommand(request));
    } else if (path == QLatin1String("/api/v1/config") && (request.method == "GET" || request.method == "PUT")) {
        if (m_configHandler) {
            write(socket, m_configHandler(request));
            return;
        }
        if (request.method == "PUT")
            configuration = request.json().value(QStringLiteral("config")).toObject();
        write(socket, Reply::json({{QStringLiteral("success"), true},
                                   {QStringLiteral("config"), configuration},
                                   {QStringLiteral("restart_required"), false}}));
    } else {
        write(socket, Reply::json({{QStringLiteral("detail"), QStringLiteral("Not found")}}, 404));
    }
}

void FakeRemoteAgent::actOnStalled()
{
    for (const Request &request : std::exchange(m_stalled, {})) {
        const auto handler = m_commandHandlers.constFind(request.command());
        const Reply reply = handler != m_commandHandlers.constEnd() ? (*handler)(request) : applyCommand(request);
        if (reply.actLater)
            reply.actLater();
    }
}

FakeRemoteAgent::Reply FakeRemoteAgent::applyCommand(const Request &request)
{
    const QJsonObject arguments = request.arguments();
    const QString name = request.command();
    QJsonObject radio = state.value(QStringLiteral("radio")).toObject();
    QJsonObject vfos = radio.value(QStringLiteral("vfos")).toObject();
    const QString letter = arguments.value(QStringLiteral("vfo")).toString();
    if (followCommands) {
        if (name == QLatin1String("set_frequency_hz") || name == QLatin1String("set_mode")) {
            const QString key = vfoKey(vfos, letter);
            QJsonObject vfo = vfos.value(key).toObject();
            vfo.insert(QStringLiteral("index_letter"), letter);
            if (name == QLatin1String("set_frequency_hz"))
                vfo.insert(QStringLiteral("frequency_hz"), arguments.value(QStringLiteral("frequency_hz")));
            else
                vfo.insert(QStringLiteral("mode"), arguments.value(QStringLiteral("mode")));
            if (!vfo.contains(QStringLiteral("mode")))
                vfo.insert(QStringLiteral("mode"), radio.value(QStringLiteral("mode")));
            vfos.insert(key, vfo);
            radio.insert(QStringLiteral("vfos"), vfos);
        } else if (name == QLatin1String("set_ptt")) {
            radio.insert(QStringLiteral("mox"), arguments.value(QStringLiteral("enabled")));
        } else if (name == QLatin1String("set_cw_speed")) {
            radio.insert(QStringLiteral("cw_speed"), arguments.value(QStringLiteral("words_per_minute")));
        }
        state.insert(QStringLiteral("radio"), radio);
        state.insert(QStringLiteral("revision"), state.value(QStringLiteral("revision")).toInteger() + 1);
    }
    return Reply::json({{QStringLiteral("success"), true}, {QStringLiteral("state"), state}});
}

void FakeRemoteAgent::write(QSslSocket *socket, const Reply &reply)
{
    if (reply.delayMs < 0)
        return;
    if (reply.delayMs > 0) {
        Reply now = reply;
        now.delayMs = 0;
        QPointer<QSslSocket> guarded(socket);
        QTimer::singleShot(reply.delayMs, this, [this, guarded, now] {
            if (guarded)
                write(guarded, now.actLater ? now.actLater() : now);
        });
        return;
    }
    socket->write(httpResponse(reply.status, reply.body));
    socket->disconnectFromHost();
}

} // namespace kivo::test
