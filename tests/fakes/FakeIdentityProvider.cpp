#include "fakes/FakeIdentityProvider.h"

#include <QJsonDocument>

namespace kivo::test {

QJsonObject FakeIdentityProvider::Request::json() const
{
    return QJsonDocument::fromJson(body).object();
}

FakeIdentityProvider::Response FakeIdentityProvider::grant(const QString &idToken,
                                                           const std::optional<QString> &refreshToken)
{
    QJsonObject body{{QStringLiteral("id_token"), idToken},
                     {QStringLiteral("access_token"), QStringLiteral("access-token")},
                     {QStringLiteral("token_type"), QStringLiteral("Bearer")},
                     {QStringLiteral("expires_in"), 86400}};
    if (refreshToken)
        body.insert(QStringLiteral("refresh_token"), *refreshToken);
    return answer(200, body);
}

FakeIdentityProvider::Response FakeIdentityProvider::answer(int status, const QJsonObject &body)
{
    return {status, QJsonDocument(body).toJson(QJsonDocument::Compact)};
}

FakeIdentityProvider::Response FakeIdentityProvider::answer(int status, const QByteArray &body)
{
    return {status, body};
}

FakeIdentityProvider::FakeIdentityProvider(QObject *parent)
    : QObject(parent), m_server([this](QSslSocket *socket) { serve(socket); })
{
}

bool FakeIdentityProvider::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl FakeIdentityProvider::tokenEndpoint() const
{
    return QUrl(QStringLiteral("https://127.0.0.1:%1/oauth/token").arg(m_server.serverPort()));
}

void FakeIdentityProvider::serve(QSslSocket *socket)
{
    connect(socket, &QSslSocket::readyRead, this, [this, socket] { read(socket); });
    connect(socket, &QObject::destroyed, this, [this, socket] { m_buffers.remove(socket); });
    read(socket);
}

void FakeIdentityProvider::read(QSslSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer.append(socket->readAll());
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    Request request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (buffer.size() < headerEnd + 4 + length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    buffer.remove(0, headerEnd + 4 + length);
    m_requests.append(request);
    if (m_silent)
        return;

    const Response response = m_responses.isEmpty()
        ? answer(500, QJsonObject{{QStringLiteral("error"), QStringLiteral("nothing scripted")}})
        : m_responses.takeFirst();
    QByteArray reply = "HTTP/1.1 " + QByteArray::number(response.status) + " Answer\r\n"
        + "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(response.body.size())
        + "\r\nConnection: close\r\n\r\n" + response.body;
    socket->write(reply);
    socket->disconnectFromHost();
}

} // namespace kivo::test
