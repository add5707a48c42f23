#include "KivoCore/flex/SmartLinkAuth.h"

#include "KivoCore/support/KeychainSecretStore.h"

#include <QCryptographicHash>
#include <QPair>
#include <QSet>

namespace kivo {

SmartLinkAuthError::SmartLinkAuthError(Kind kind, const QString &message)
    : m_kind(kind), m_message(message), m_what(message.toUtf8())
{
}

SmartLinkAuthError SmartLinkAuthError::invalidCredentials(const QString &message)
{
    return SmartLinkAuthError(Kind::InvalidCredentials, message);
}

SmartLinkAuthError SmartLinkAuthError::keychain(const SecretStoreError &error)
{
    return SmartLinkAuthError(Kind::Keychain, error.message());
}

SmartLinkAuthError SmartLinkAuthError::invalidResponse()
{
    return SmartLinkAuthError(Kind::InvalidResponse,
                              QStringLiteral("SmartLink authentication returned an invalid response."));
}

QString sha256Hex(QByteArrayView data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

namespace {
// The keyring has no "add only if absent": two first connections to one
// radio racing here would both find no pin and the later write would replace
// the earlier. While one first pin is being written, the other is refused.
QSet<QPair<const SecretStore *, QString>> &firstPinsInFlight()
{
    static QSet<QPair<const SecretStore *, QString>> inFlight;
    return inFlight;
}
} // namespace

SmartLinkCertificatePinStore::SmartLinkCertificatePinStore()
    : SmartLinkCertificatePinStore(std::make_shared<KeychainSecretStore>())
{
}

SmartLinkCertificatePinStore::SmartLinkCertificatePinStore(std::shared_ptr<SecretStore> secrets)
    : m_secrets(std::move(secrets))
{
}

QString SmartLinkCertificatePinStore::service()
{
    return QStringLiteral("com.tarnvale.QuendKivo.smartlink-certificates");
}

QCoro::Task<bool> SmartLinkCertificatePinStore::verifyOrTrustFirstUse(QString identity,
                                                                      QByteArray certificateData) const
{
    // The store may be gone once we resume; keep what we need.
    const std::shared_ptr<SecretStore> secrets = m_secrets;
    const QString presented = fingerprint(certificateData);
    const QPair<const SecretStore *, QString> key{secrets.get(), identity};

    std::optional<QString> pinned;
    try {
        pinned = co_await secrets->read(service(), identity);
    } catch (...) {
        co_return false;
    }
    if (pinned)
        co_return *pinned == presented;

    if (firstPinsInFlight().contains(key))
        co_return false;
    firstPinsInFlight().insert(key);
    bool stored = true;
    try {
        co_await secrets->write(service(), identity, presented);
    } catch (...) {
        stored = false;
    }
    firstPinsInFlight().remove(key);
    co_return stored;
}

QCoro::Task<void> SmartLinkCertificatePinStore::remove(QString identity) const
{
    const std::shared_ptr<SecretStore> secrets = m_secrets;
    try {
        co_await secrets->remove(service(), identity);
    } catch (const SecretStoreError &error) {
        throw SmartLinkAuthError::keychain(error);
    }
}

} // namespace kivo
