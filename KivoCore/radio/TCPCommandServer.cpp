#include "KivoCore/radio/TCPCommandServer.h"

#include "KivoCore/support/Async.h"
#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/LogCategories.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>

#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kivo {

namespace {

// Qt's QTcpSocket closes the whole socket when the peer ends its stream, so a
// client that sends "FA;" and shuts down its sending side would never see the
// answer. Connections therefore own their descriptor and close it only after
// the last answer has gone out.
class DescriptorListener : public QTcpServer {
public:
    explicit DescriptorListener(std::function<void(qintptr)> onIncoming, QObject *parent)
        : QTcpServer(parent), m_onIncoming(std::move(onIncoming))
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override { m_onIncoming(descriptor); }

private:
    std::function<void(qintptr)> m_onIncoming;
};

QString listenerFailedEvent(quint16 port, const QString &error)
{
    return QStringLiteral("Listener failed on port %1: %2").arg(port).arg(error);
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The client's own port names it in traces: a logger and a second client
// on the same host differ only there.
quint16 peerPort(int descriptor)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(descriptor, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 0;
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port);
    return 0;
}

} // namespace

// What one client's requests share across chunks, kept apart from the socket
// so a request still in the handler outlives a closed connection safely.
struct CommandSession {
    char delimiter;
    const QLoggingCategory *log = nullptr;
    // The client's, for traces.
    quint16 port = 0;
    TCPCommandServer::Handler handler;
    TCPCommandServer::DisconnectHandler onDisconnect;
    QByteArray buffer;
    std::shared_ptr<ClientActivity> activity = std::make_shared<ClientActivity>();
    bool closed = false;
    bool didDisconnect = false;
    // Resolved each time a chunk's requests and answers are done.
    std::optional<OneShot<>> idle;
};

class CommandConnection : public QObject {
public:
    CommandConnection(TCPCommandServer *server, qintptr descriptor)
        : QObject(server), m_server(server), m_descriptor(int(descriptor)),
          m_session(std::make_shared<CommandSession>())
    {
        m_session->delimiter = server->m_delimiter;
        m_session->log = server->m_log;
        m_session->port = peerPort(m_descriptor);
        m_session->handler = server->m_handler;
        m_session->onDisconnect = server->m_onDisconnect;
        m_onEvent = server->m_onEvent;
        ::fcntl(m_descriptor, F_SETFL, ::fcntl(m_descriptor, F_GETFL) | O_NONBLOCK);
        m_reader = new QSocketNotifier(m_descriptor, QSocketNotifier::Read, this);
        m_writer = new QSocketNotifier(m_descriptor, QSocketNotifier::Write, this);
        m_writer->setEnabled(false);
        connect(m_reader, &QSocketNotifier::activated, this, [this] { readChunk(); });
        connect(m_writer, &QSocketNotifier::activated, this, [this] { flush(); });
    }

    ~CommandConnection() override { closeDescriptor(); }

    void begin()
    {
        qCDebug(*m_session->log) << "client" << m_session->port << "connected";
        report(QStringLiteral("Client connected"));
    }

    // Ends the connection; the disconnect step follows once the request in
    // the handler (if any) has finished, so an unkey always comes last.
    void cancel()
    {
        if (m_session->closed)
            return;
        m_session->closed = true;
        closeDescriptor();
        // Answers the client never took hold nothing back any more: without
        // this, the disconnect step would wait for them for ever.
        if (!m_outgoing.isEmpty()) {
            m_outgoing.clear();
            m_session->idle->resolve();
        }
        qCDebug(*m_session->log) << "client" << m_session->port << "disconnected";
        report(QStringLiteral("Client disconnected"));
        if (m_server)
            m_server->forget(this);
        launch(disconnectStep(m_session));
        deleteLater();
    }

private:
    void report(const QString &text)
    {
        if (m_onEvent)
            m_onEvent(text);
    }

    void fail(int error)
    {
        report(QStringLiteral("Client failed: %1").arg(errnoText(error)));
        cancel();
    }

    void closeDescriptor()
    {
        if (m_descriptor < 0)
            return;
        m_reader->setEnabled(false);
        m_writer->setEnabled(false);
        ::close(m_descriptor);
        m_descriptor = -1;
    }

    void readChunk()
    {
        if (m_session->closed)
            return;
        char bytes[TCPCommandServer::readChunkBytes];
        const ssize_t count = ::recv(m_descriptor, bytes, sizeof bytes, 0);
        if (count < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                return;
            fail(errno);
            return;
        }
        if (count == 0) {
            // End of stream: every earlier answer has already been written.
            cancel();
            return;
        }
        // One chunk at a time: the next read waits until its answers are out.
        m_reader->setEnabled(false);
        m_session->idle.emplace();
        launch(serveChunk(m_session, QPointer<CommandConnection>(this), QByteArray(bytes, int(count))));
    }

    static QCoro::Task<void> serveChunk(std::shared_ptr<CommandSession> session, QPointer<CommandConnection> self,
                                        QByteArray chunk)
    {
        const QByteArray answers = co_await ingest(session, std::move(chunk));
        if (self && !session->closed) {
            self->m_outgoing.append(answers);
            self->flush();
        } else {
            session->idle->resolve();
        }
    }

    // Cuts the frames of one chunk and collects their answers in order.
    static QCoro::Task<QByteArray> ingest(std::shared_ptr<CommandSession> session, QByteArray chunk)
    {
        session->buffer.append(chunk);
        if (session->buffer.size() > TCPCommandServer::maximumBufferedBytes) {
            qCDebug(*session->log) << "client" << session->port << "dropped" << session->buffer.size()
                                   << "bytes without a delimiter";
            session->buffer.clear();
            co_return QByteArray();
        }
        QByteArray answers;
        qsizetype end;
        while (!session->closed && (end = session->buffer.indexOf(session->delimiter)) >= 0) {
            const QByteArray frame = session->buffer.left(end);
            session->buffer.remove(0, end + 1);
            QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
            const QString text = decoder.decode(frame);
            if (decoder.hasError()) {
                qCDebug(*session->log) << "client" << session->port << "sent non-UTF-8, dropped:" << frame;
                continue;
            }
            qCDebug(*session->log) << "client" << session->port << "request" << text;
            std::optional<QString> answer;
            try {
                answer = co_await session->handler(text, session->activity);
            } catch (...) {
                // A handler answers every failure itself; should one escape,
                // the client loses that answer, not its connection.
                qCWarning(*session->log).noquote()
                    << "Request handler failed:" << describeException(std::current_exception());
            }
            if (answer) {
                qCDebug(*session->log) << "client" << session->port << "answer" << *answer;
                answers.append(answer->toUtf8());
            } else {
                qCDebug(*session->log) << "client" << session->port << "no answer";
            }
        }
        co_return answers;
    }

    void flush()
    {
        while (!m_outgoing.isEmpty()) {
            const ssize_t sent = ::send(m_descriptor, m_outgoing.constData(), size_t(m_outgoing.size()), MSG_NOSIGNAL);
            if (sent < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                    m_writer->setEnabled(true);
                    return;
                }
                const int error = errno;
                m_outgoing.clear();
                m_session->idle->resolve();
                fail(error);
                return;
            }
            m_outgoing.remove(0, sent);
        }
        m_writer->setEnabled(false);
        m_session->idle->resolve();
        if (!m_session->closed)
            m_reader->setEnabled(true);
    }

    static QCoro::Task<void> disconnectStep(std::shared_ptr<CommandSession> session)
    {
        if (session->idle)
            co_await *session->idle;
        if (session->didDisconnect)
            co_return;
        session->didDisconnect = true;
        if (session->onDisconnect)
            co_await session->onDisconnect(*session->activity);
    }

    QPointer<TCPCommandServer> m_server;
    int m_descriptor;
    std::shared_ptr<CommandSession> m_session;
    TCPCommandServer::EventHandler m_onEvent;
    QSocketNotifier *m_reader = nullptr;
    QSocketNotifier *m_writer = nullptr;
    QByteArray m_outgoing;
};

TCPCommandServer::TCPCommandServer(Options options, QObject *parent)
    : QObject(parent),
      m_delimiter(options.framing == Framing::Semicolon ? ';' : '\n'), m_handler(std::move(options.handler)),
      m_onDisconnect(std::move(options.onDisconnect)), m_onEvent(std::move(options.onEvent)),
      m_timing(options.timing), m_log(options.category)
{
    setObjectName(QString::fromLatin1(m_log->categoryName()));
}

TCPCommandServer::~TCPCommandServer()
{
    stop();
}

void TCPCommandServer::start(quint16 port)
{
    closeListener();
    auto *listener = new DescriptorListener([this](qintptr descriptor) { accept(descriptor); }, this);
    if (!listener->listen(QHostAddress::LocalHost, port)) {
        const QString reason = listener->errorString();
        delete listener;
        if (m_onEvent)
            m_onEvent(listenerFailedEvent(port, reason));
        throw KivoError::server(QStringLiteral("Could not listen on 127.0.0.1:%1: %2").arg(port).arg(reason));
    }
    // Qt stops accepting after a failed accept; without a resume the port
    // would stay silent for good while the kernel still completes connections.
    connect(listener, &QTcpServer::acceptError, this, [this] { acceptFailed(); });
    m_listener = listener;
    m_requestedPort = port;
    m_acceptFailing = false;
    if (m_onEvent)
        m_onEvent(QStringLiteral("Listening on 127.0.0.1:%1").arg(port));
}

void TCPCommandServer::closeListener()
{
    if (!m_listener)
        return;
    m_listener->close();
    m_listener->deleteLater();
    m_listener = nullptr;
    if (m_onEvent)
        m_onEvent(QStringLiteral("Listener stopped on port %1").arg(m_requestedPort));
}

void TCPCommandServer::acceptFailed()
{
    if (!m_listener)
        return;
    if (!m_acceptFailing && m_onEvent)
        m_onEvent(listenerFailedEvent(m_requestedPort, m_listener->errorString()));
    m_acceptFailing = true;
    QTimer::singleShot(m_timing.acceptRetryPause, m_listener, [listener = m_listener] { listener->resumeAccepting(); });
}

void TCPCommandServer::stop()
{
    closeListener();
    const auto connections = m_connections.values();
    m_connections.clear();
    for (const auto &connection : connections) {
        if (connection)
            connection->cancel();
    }
}

bool TCPCommandServer::isListening() const
{
    return m_listener != nullptr;
}

quint16 TCPCommandServer::serverPort() const
{
    return m_listener ? m_listener->serverPort() : 0;
}

bool TCPCommandServer::listensAt(const QHostAddress &address, quint16 port) const
{
    return m_listener && port == m_listener->serverPort()
        && address.isEqual(m_listener->serverAddress(), QHostAddress::ConvertV4MappedToIPv4);
}

void TCPCommandServer::accept(qintptr descriptor)
{
    m_acceptFailing = false;
    const int count = int(m_connections.size());
    if (count >= m_timing.maximumClients) {
        ::close(int(descriptor));
        if (!m_refusing && m_onEvent)
            m_onEvent(QStringLiteral("Refused a client on port %1: %2 clients are connected already.")
                          .arg(m_requestedPort)
                          .arg(count));
        m_refusing = true;
        return;
    }
    m_refusing = false;
    auto *connection = new CommandConnection(this, descriptor);
    m_connections.insert(connection, connection);
    connection->begin();
}

void TCPCommandServer::forget(CommandConnection *connection)
{
    m_connections.remove(connection);
}

} // namespace kivo
