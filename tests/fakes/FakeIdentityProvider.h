#pragma once

// A stand-in for the SmartLink identity provider: HTTPS on loopback with the
// test certificate, recording each token request and answering it with the
// next scripted response (a grant or a refusal).

#include "fakes/HttpMessages.h"
#include "fakes/TestTls.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QUrl>
#include <optional>

namespace kivo::test {

class FakeIdentityProvider : public QObject {
    Q_OBJECT

public:
    using Request = HttpRequest;

    struct Response {
        int status = 200;
        QByteArray body;
    };

    static Response grant(const QString &idToken, const std::optional<QString> &refreshToken = std::nullopt);
    static Response answer(int status, const QJsonObject &body);
    static Response answer(int status, const QByteArray &body);

    explicit FakeIdentityProvider(QObject *parent = nullptr);

    bool listen();
    QUrl tokenEndpoint() const;

    // Answered in order; with none left a request gets a 500 refusal.
    void enqueue(const Response &response) { m_responses.append(response); }
    // Requests are read but never answered.
    void setSilent(bool silent) { m_silent = silent; }

    QList<Request> requests() const { return m_requests; }

private:
    void serve(QSslSocket *socket);
    void read(QSslSocket *socket);

    // Declared before the server: the server's sockets, destroyed with it,
    // still remove their buffers on the way out.
    QHash<QSslSocket *, QByteArray> m_buffers;
    TlsServer m_server;
    QList<Response> m_responses;
    QList<Request> m_requests;
    bool m_silent = false;
};

} // namespace kivo::test
