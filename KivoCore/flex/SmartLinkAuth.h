#pragma once

// SmartLink sign-in support: the error type shared by the sign-in and the
// certificate pins, and the trust-on-first-use store of radio certificates.

#include "KivoCore/support/SecretStore.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QCoroTask>
#include <QString>
#include <exception>
#include <memory>

namespace kivo {

class SmartLinkAuthError : public std::exception {
public:
    enum class Kind { InvalidCredentials, Keychain, InvalidResponse };

    static SmartLinkAuthError invalidCredentials(const QString &message);
    static SmartLinkAuthError keychain(const SecretStoreError &error);
    static SmartLinkAuthError invalidResponse();

    Kind kind() const { return m_kind; }
    QString message() const { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    SmartLinkAuthError(Kind kind, const QString &message);

    Kind m_kind;
    QString m_message;
    QByteArray m_what;
};

// SHA-256 written as 64 lower-case hexadecimal digits.
QString sha256Hex(QByteArrayView data);

// Trust on first use: the first certificate a radio presents is remembered
// by fingerprint under the radio's identity (its serial); every later
// connection must present the same one. The store is the only judge of a
// radio's certificate.
class SmartLinkCertificatePinStore {
public:
    // Pins in the desktop keyring.
    SmartLinkCertificatePinStore();
    explicit SmartLinkCertificatePinStore(std::shared_ptr<SecretStore> secrets);

    // True to accept `certificateData` (DER) for `identity`. Never throws:
    // a keyring failure rejects, as a mismatch does.
    QCoro::Task<bool> verifyOrTrustFirstUse(QString identity, QByteArray certificateData) const;

    // Forgets the pin, so the next certificate met is trusted. A missing pin
    // is no error; a keyring failure throws SmartLinkAuthError::keychain.
    QCoro::Task<void> remove(QString identity) const;

    static QString fingerprint(QByteArrayView certificateData) { return sha256Hex(certificateData); }
    static QString service();

private:
    std::shared_ptr<SecretStore> m_secrets;
};

} // namespace kivo
