#include "KivoCore/agent/RemoteAgentAuth.h"

#include "KivoCore/radio/FlexSpot.h"
#include "KivoCore/radio/Models.h"
#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/Text.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

namespace kivo {

namespace {
QString addressSentence()
{
    return QStringLiteral(
        "Enter the HTTPS URL published by Tailscale Serve without credentials or query parameters.");
}
} // namespace

RemoteAgentEndpoint::RemoteAgentEndpoint(const QString &text)
{
    QUrl url(trimmed(text), QUrl::StrictMode);
    if (!url.isValid())
        throw KivoError::server(addressSentence());
    if (url.scheme().toLower() != QLatin1String("https"))
        throw KivoError::server(addressSentence());
    if (url.host().isEmpty())
        throw KivoError::server(addressSentence());
    // A bare "?" or "#" counts as present, and so does an empty user.
    const bool hasUser = !url.userInfo().isEmpty() || url.authority().contains(QLatin1Char('@'));
    if (hasUser || url.hasQuery() || url.hasFragment())
        throw KivoError::server(addressSentence());

    QString path = url.path(QUrl::FullyEncoded);
    while (path.size() >= 2 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path, QUrl::TolerantMode);
    if (!url.isValid())
        throw KivoError::server(QStringLiteral("The Remote Agent URL is invalid."));
    m_baseURL = url;
}

QUrl RemoteAgentEndpoint::url(const QString &path, bool webSocket) const
{
    QUrl result = m_baseURL;
    if (webSocket)
        result.setScheme(QStringLiteral("wss"));
    const QString basePath = m_baseURL.path(QUrl::FullyEncoded);
    const QString prefix = basePath == QLatin1String("/") ? QString() : basePath;
    const QString resource = path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;
    result.setPath(prefix + resource, QUrl::TolerantMode);
    return result;
}

QJsonValue RemoteAgentArgument::toJson() const
{
    return std::visit([](const auto &value) { return QJsonValue(value); }, m_value);
}

const RemoteAgentCommand RemoteAgentCommand::clearCW{QStringLiteral("clear_cw"), {}};

RemoteAgentCommand RemoteAgentCommand::station(RemoteStationAction action)
{
    return {QStringLiteral("station_") + rawValue(action), {}};
}

RemoteAgentCommand RemoteAgentCommand::addSpot(const FlexSpot &spot)
{
    using A = RemoteAgentArgument;
    return {QStringLiteral("add_spot"),
            {
                {QStringLiteral("frequency_hz"), A::integer(spot.frequencyHz())},
                {QStringLiteral("callsign"), A::string(spot.callsign())},
                {QStringLiteral("mode"), A::string(spot.mode())},
                {QStringLiteral("source"), A::string(spot.source())},
                {QStringLiteral("spotter"), A::string(spot.spotter())},
                {QStringLiteral("comment"), A::string(spot.comment())},
                {QStringLiteral("timestamp"), A::integer(spot.timestamp())},
                {QStringLiteral("lifetime_seconds"), A::integer(spot.lifetimeSeconds())},
                {QStringLiteral("priority"), A::integer(spot.priority())},
                {QStringLiteral("color"), A::string(spot.colorHex())},
            }};
}

namespace RemoteAgentRequestBuilder {

RemoteAgentRequest request(const RemoteAgentEndpoint &endpoint, const RemoteAgentAccess &access,
                           const QByteArray &method, const QString &path)
{
    QNetworkRequest request(endpoint.url(path, false));
    request.setRawHeader("Authorization", "Bearer " + access.token.toUtf8());
    request.setRawHeader("Accept", "application/json");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(int(access.timeout.count()));
    RemoteAgentRequest built;
    built.method = method;
    built.request = request;
    return built;
}

RemoteAgentRequest commandRequest(const RemoteAgentEndpoint &endpoint, const RemoteAgentAccess &access,
                                  const QString &requestID, const RemoteAgentCommand &command)
{
    RemoteAgentRequest result = request(endpoint, access, "POST", QStringLiteral("/api/v1/commands"));
    result.request.setRawHeader("Content-Type", "application/json");
    QJsonObject arguments;
    for (auto it = command.arguments.begin(); it != command.arguments.end(); ++it)
        arguments.insert(it.key(), it.value().toJson());
    // QJsonObject keeps its keys sorted, so the body reads
    // "arguments", "command", "request_id" like the agent's own examples.
    const QJsonObject body{
        {QStringLiteral("request_id"), requestID},
        {QStringLiteral("command"), command.name},
        {QStringLiteral("arguments"), arguments},
    };
    result.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    return result;
}

QString newRequestID()
{
    return QStringLiteral("kivo-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

} // namespace RemoteAgentRequestBuilder

const QString RemoteAgentKeychain::serviceName = QStringLiteral("com.tarnvale.QuendKivo.remote-agent");

RemoteAgentKeychain::RemoteAgentKeychain(const QString &endpointIdentifier, SecretStore &store) : m_store(&store)
{
    QString identifier = trimmed(endpointIdentifier).toLower();
    while (identifier.endsWith(QLatin1Char('/')))
        identifier.chop(1);
    m_account = QString::fromLatin1(
        QCryptographicHash::hash(identifier.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QCoro::Task<std::optional<QString>> RemoteAgentKeychain::loadToken() const
{
    co_return co_await m_store->read(serviceName, m_account);
}

QCoro::Task<void> RemoteAgentKeychain::saveToken(QString token) const
{
    const QString cleaned = trimmed(token);
    if (cleaned.isEmpty())
        co_return;
    co_await m_store->write(serviceName, m_account, cleaned);
}

QCoro::Task<void> RemoteAgentKeychain::deleteToken() const
{
    co_await m_store->remove(serviceName, m_account);
}

} // namespace kivo
