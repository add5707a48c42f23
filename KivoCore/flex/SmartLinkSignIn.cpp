#include "KivoCore/flex/SmartLinkSignIn.h"

#include "KivoCore/support/HttpExchange.h"
#include "KivoCore/support/LogCategories.h"
#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/Text.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QNetworkRequest>

// The identity provider is a deployment value; a build may supply another.
#ifndef QK_SMARTLINK_IDENTITY_HOST
#define QK_SMARTLINK_IDENTITY_HOST "frtest.auth0.com"
#endif
#ifndef QK_SMARTLINK_IDENTITY_DOMAIN
#define QK_SMARTLINK_IDENTITY_DOMAIN "auth0.com"
#endif

namespace kivo {

namespace {

QCoro::Task<std::optional<QString>> loadToken(std::shared_ptr<SecretStore> store, QString account)
{
    try {
        co_return co_await store->read(SmartLinkKeychain::service(), account);
    } catch (const SecretStoreError &error) {
        throw SmartLinkAuthError::keychain(error);
    }
}

QCoro::Task<void> saveToken(std::shared_ptr<SecretStore> store, QString token, QString account)
{
    try {
        co_await store->write(SmartLinkKeychain::service(), account, token);
    } catch (const SecretStoreError &error) {
        throw SmartLinkAuthError::keychain(error);
    }
}

QCoro::Task<void> deleteToken(std::shared_ptr<SecretStore> store, QString account)
{
    try {
        co_await store->remove(SmartLinkKeychain::service(), account);
    } catch (const SecretStoreError &error) {
        throw SmartLinkAuthError::keychain(error);
    }
}

QCoro::Task<std::optional<QString>> loadMigrating(std::shared_ptr<SecretStore> store, QString account)
{
    if (auto token = co_await loadToken(store, account))
        co_return token;
    const QString legacy = SmartLinkKeychain::legacyAccount();
    if (account == legacy)
        co_return std::nullopt;
    const auto token = co_await loadToken(store, legacy);
    if (!token)
        co_return std::nullopt;
    co_await saveToken(store, *token, account);
    co_await deleteToken(store, legacy);
    co_return token;
}

QString accountDigest(const QString &email)
{
    return sha256Hex(trimmed(email).toLower().toUtf8());
}

SmartLinkAuthError refusal(int status, const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (document.isObject()) {
        const QJsonObject object = document.object();
        if (const QJsonValue description = object.value(u"error_description"); description.isString())
            return SmartLinkAuthError::invalidCredentials(description.toString());
        if (const QJsonValue error = object.value(u"error"); error.isString())
            return SmartLinkAuthError::invalidCredentials(error.toString());
    }
    return SmartLinkAuthError::invalidCredentials(
        QStringLiteral("SmartLink authentication failed (HTTP %1).").arg(status));
}

// Everything is taken by value: the request outlives nothing it relies on.
QCoro::Task<SmartLinkTokenSet> requestToken(QPointer<QNetworkAccessManager> network,
                                            SmartLinkIdentityProvider provider, SmartLinkKeychain keychain,
                                            QJsonObject body)
{
    HttpRequest post;
    post.method = "POST";
    post.request = QNetworkRequest(provider.tokenEndpoint);
    post.request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    post.request.setTransferTimeout(static_cast<int>(provider.requestTimeout.count()));
    if (provider.sslConfiguration)
        post.request.setSslConfiguration(*provider.sslConfiguration);
    post.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    // Signing in is the first step of reaching the broker, traced beside it.
    post.trace = &lcSmartLinkBroker();
    // The password leaves memory with the request.
    body = {};
    const HttpAnswer reply = co_await sendHttpRequest(std::move(network), std::move(post));
    if (!reply.status)
        throw SmartLinkAuthError::invalidResponse();
    const int code = *reply.status;
    const QByteArray &answer = reply.body;
    if (code < 200 || code > 299)
        throw refusal(code, answer);
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(answer, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw KivoError::server(parseError.errorString());
    if (!document.isObject())
        throw SmartLinkAuthError::invalidResponse();
    const QJsonObject object = document.object();
    const QJsonValue idToken = object.value(u"id_token");
    if (!idToken.isString() || idToken.toString().isEmpty())
        throw SmartLinkAuthError::invalidResponse();

    const QJsonValue refreshToken = object.value(u"refresh_token");
    if (!refreshToken.isString())
        co_return SmartLinkTokenSet{idToken.toString(), std::nullopt};
    if (!refreshToken.toString().isEmpty())
        co_await keychain.saveRefreshToken(refreshToken.toString());
    co_return SmartLinkTokenSet{idToken.toString(), refreshToken.toString()};
}

} // namespace

QString SmartLinkKeychain::service()
{
    return QStringLiteral("com.tarnvale.QuendKivo.smartlink");
}

QString SmartLinkKeychain::legacyAccount()
{
    return QStringLiteral("refresh-token");
}

SmartLinkKeychain::SmartLinkKeychain(std::shared_ptr<SecretStore> store, const QString &accountIdentifier)
    : m_store(std::move(store)), m_account(accountDigest(accountIdentifier))
{
}

QCoro::Task<std::optional<QString>> SmartLinkKeychain::loadRefreshToken() const
{
    return loadMigrating(m_store, m_account);
}

QCoro::Task<void> SmartLinkKeychain::saveRefreshToken(QString token) const
{
    return saveToken(m_store, std::move(token), m_account);
}

QCoro::Task<void> SmartLinkKeychain::deleteRefreshToken() const
{
    return deleteToken(m_store, m_account);
}

QUrl SmartLinkIdentityProvider::defaultTokenEndpoint()
{
    return QUrl(QStringLiteral("https://" QK_SMARTLINK_IDENTITY_HOST "/oauth/token"));
}

QString SmartLinkIdentityProvider::defaultPasswordRealmGrantType()
{
    return QStringLiteral("http://" QK_SMARTLINK_IDENTITY_DOMAIN "/oauth/grant-type/password-realm");
}

QString SmartLinkAuthenticator::clientID()
{
    return QStringLiteral("Hq3ZtW8mKp2RvN6xLs9JdB4cFy7GaU1e");
}

QString SmartLinkAuthenticator::scope()
{
    return QStringLiteral("openid email given_name family_name profile picture offline_access");
}

SmartLinkAuthenticator::SmartLinkAuthenticator(SmartLinkKeychain keychain, SmartLinkIdentityProvider provider)
    : m_keychain(std::move(keychain)), m_provider(std::move(provider)),
      m_network(std::make_unique<QNetworkAccessManager>())
{
}

SmartLinkAuthenticator::~SmartLinkAuthenticator() = default;

QCoro::Task<SmartLinkTokenSet> SmartLinkAuthenticator::authenticate(QString email, QString password)
{
    const QString username = trimmed(email);
    if (username.isEmpty() || password.isEmpty())
        throw SmartLinkAuthError::invalidCredentials(QStringLiteral("SmartLink email and password are required."));
    QJsonObject body{
        {QStringLiteral("grant_type"), m_provider.passwordRealmGrantType},
        {QStringLiteral("realm"), QStringLiteral("Username-Password-Authentication")},
        {QStringLiteral("username"), username},
        {QStringLiteral("password"), password},
        {QStringLiteral("client_id"), clientID()},
        {QStringLiteral("scope"), scope()},
    };
    password.clear();
    co_return co_await requestToken(m_network.get(), m_provider, m_keychain, std::move(body));
}

QCoro::Task<SmartLinkTokenSet> SmartLinkAuthenticator::refresh()
{
    // Copies, so nothing here depends on this object after the first await.
    const QPointer<QNetworkAccessManager> network = m_network.get();
    const SmartLinkIdentityProvider provider = m_provider;
    const SmartLinkKeychain keychain = m_keychain;
    const auto saved = co_await keychain.loadRefreshToken();
    if (!saved || saved->isEmpty()) {
        throw SmartLinkAuthError::invalidCredentials(
            QStringLiteral("No saved SmartLink session is available. Enter the password once."));
    }
    QJsonObject body{
        {QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
        {QStringLiteral("refresh_token"), *saved},
        {QStringLiteral("client_id"), clientID()},
    };
    co_return co_await requestToken(network, provider, keychain, std::move(body));
}

QCoro::Task<void> SmartLinkAuthenticator::clear()
{
    return m_keychain.deleteRefreshToken();
}

} // namespace kivo
