#include "fakes/FakeIdentityProvider.h"

#include <QJsonDocument>

namespace kivo::test {

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
    qsizetype length = 0;
    const auto request = parseHttpRequest(buffer, &length);
    if (!request)
        return;
    buffer.remove(0, length);
    m_requests.append(*request);
    if (m_silent)
        return;

    const Response response = m_responses.isEmpty()
        ? answer(500, QJsonObject{{QStringLiteral("error"), QStringLiteral("nothing scripted")}})
        : m_responses.takeFirst();
    socket->write(httpResponse(response.status, response.body));
    socket->disconnectFromHost();
}

} // namespace kivo::test
