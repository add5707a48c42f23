#include "fakes/FakeHTTPServer.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <memory>

namespace kivo::test {

namespace {
constexpr qint64 streamChunk = 64 * 1024;
}

FakeHTTPServer::FakeHTTPServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection())
            serve(socket);
    });
}

bool FakeHTTPServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl FakeHTTPServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

void FakeHTTPServer::serve(QTcpSocket *socket)
{
    auto head = std::make_shared<QByteArray>();
    auto remaining = std::make_shared<qint64>(0);
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        ++m_closedConnections;
        socket->deleteLater();
    });

    const auto pump = [this, socket, remaining] {
        while (*remaining > 0 && socket->bytesToWrite() < streamChunk) {
            const qint64 size = std::min(*remaining, streamChunk);
            socket->write(QByteArray(size, ' '));
            *remaining -= size;
            m_bodyBytesSent += size;
        }
        if (*remaining == 0 && socket->bytesToWrite() == 0)
            socket->disconnectFromHost();
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, pump);

    connect(socket, &QTcpSocket::readyRead, socket, [this, socket, head, remaining, pump] {
        if (head->endsWith("\r\n\r\n"))
            return;
        head->append(socket->readAll());
        const auto end = head->indexOf("\r\n\r\n");
        if (end < 0)
            return;
        head->truncate(end + 4);
        m_requests.append(*head);

        const Response &r = m_response;
        const qint64 length = r.streamedBodyBytes > 0 ? r.streamedBodyBytes : r.body.size();
        socket->write("HTTP/1.1 " + QByteArray::number(r.status) + ' ' + r.reason + "\r\n"
                      + "Content-Type: " + r.contentType + "\r\n"
                      + "Content-Length: " + QByteArray::number(length) + "\r\n"
                      + "Connection: close\r\n\r\n");
        if (r.streamedBodyBytes > 0) {
            *remaining = r.streamedBodyBytes;
        } else {
            socket->write(r.body);
            m_bodyBytesSent += r.body.size();
        }
        pump();
    });
}

} // namespace kivo::test
