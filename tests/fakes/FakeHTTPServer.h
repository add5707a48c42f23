#pragma once

// A tiny HTTP/1.1 server on loopback: answers every request with one
// scripted status and body, then closes the connection. A streamed body is
// written as the socket drains, so a client that gives up early is seen.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

namespace kivo::test {

class FakeHTTPServer : public QObject {
    Q_OBJECT
public:
    struct Response {
        int status = 200;
        QByteArray reason = "OK";
        QByteArray contentType = "text/xml; charset=utf-8";
        QByteArray body;
        // When set, a body of this many filler bytes is streamed instead of `body`.
        qint64 streamedBodyBytes = 0;
    };

    explicit FakeHTTPServer(QObject *parent = nullptr);

    bool listen();
    QUrl url(const QString &path) const;

    void setResponse(Response response) { m_response = std::move(response); }

    // The request heads received, each up to and including the blank line.
    const QList<QByteArray> &requests() const { return m_requests; }
    // Body bytes handed to the network, over all connections.
    qint64 bodyBytesSent() const { return m_bodyBytesSent; }
    int closedConnections() const { return m_closedConnections; }

private:
    void serve(class QTcpSocket *socket);

    QTcpServer m_server;
    Response m_response;
    QList<QByteArray> m_requests;
    qint64 m_bodyBytesSent = 0;
    int m_closedConnections = 0;
};

} // namespace kivo::test
