#pragma once

// Signing in to SmartLink: the identity provider's token requests (by
// password or by the saved refresh token) and the per-account store of that
// refresh token. The identity token is handed on, never stored; the password
// lives only for the one call that uses it.

#include "KivoCore/support/SecretStore.h"
#include "KivoCore/flex/SmartLinkAuth.h"

#include <QCoroTask>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>

namespace kivo {

struct SmartLinkTokenSet {
    QString idToken;
    // Absent when the provider sent none.
    std::optional<QString> refreshToken;

    bool operator==(const SmartLinkTokenSet &) const = default;
};

// The saved refresh token of one SmartLink account, filed under a digest of
// the e-mail address so the address itself is never stored.
class SmartLinkKeychain {
public:
    static QString service();
    // Where tokens were kept before there was one per account.
    static QString legacyAccount();

    SmartLinkKeychain(std::shared_ptr<SecretStore> store, const QString &accountIdentifier);

    QString account() const { return m_account; }

    // Moves a token found only under the old account to this one.
    QCoro::Task<std::optional<QString>> loadRefreshToken() const;
    QCoro::Task<void> saveRefreshToken(QString token) const;
    // Leaves a token under the old account alone.
    QCoro::Task<void> deleteRefreshToken() const;

private:
    std::shared_ptr<SecretStore> m_store;
    QString m_account;
};

// Where the identity provider is; tests point it at loopback.
struct SmartLinkIdentityProvider {
    static constexpr std::chrono::milliseconds kRequestTimeout{60000};

    static QUrl defaultTokenEndpoint();
    static QString defaultPasswordRealmGrantType();

    QUrl tokenEndpoint = defaultTokenEndpoint();
    QString passwordRealmGrantType = defaultPasswordRealmGrantType();
    // Absent: the system's trust store.
    std::optional<QSslConfiguration> sslConfiguration;
    std::chrono::milliseconds requestTimeout = kRequestTimeout;
};

class SmartLinkAuthenticator {
public:
    static QString clientID();
    static QString scope();

    explicit SmartLinkAuthenticator(SmartLinkKeychain keychain, SmartLinkIdentityProvider provider = {});
    ~SmartLinkAuthenticator();

    SmartLinkAuthenticator(const SmartLinkAuthenticator &) = delete;
    SmartLinkAuthenticator &operator=(const SmartLinkAuthenticator &) = delete;

    // Password-realm grant; a refresh token in the answer is saved before
    // this returns. Refusals and unusable answers throw SmartLinkAuthError,
    // a failed transport or unreadable JSON a KivoError.
    QCoro::Task<SmartLinkTokenSet> authenticate(QString email, QString password);
    // Refresh-token grant with the saved token; a new one replaces it.
    QCoro::Task<SmartLinkTokenSet> refresh();
    QCoro::Task<void> clear();

private:
    const SmartLinkKeychain m_keychain;
    const SmartLinkIdentityProvider m_provider;
    std::unique_ptr<QNetworkAccessManager> m_network;
};

} // namespace kivo
