#pragma once

// Everything a SmartLink chain talks to, on loopback: the identity provider
// and the broker (TLS with the test authority's certificate) and the radio
// (TLS with its own self-signed certificate), plus the secret store that
// holds the refresh token and the radio's certificate pin.

#include "KivoCore/flex/SmartLinkAuth.h"
#include "KivoCore/flex/SmartLinkBroker.h"
#include "KivoCore/flex/SmartLinkSignIn.h"
#include "fakes/FakeFlexRadio.h"
#include "fakes/FakeIdentityProvider.h"
#include "fakes/FakeSmartLinkBroker.h"

#include <memory>

namespace kivo::test {

class SmartLinkPeers {
public:
    static inline const QString serial = QStringLiteral("1234-5678-9012");
    static inline const QString email = QStringLiteral("ham@example.org");

    // All three listening; the broker lists the radio as the only one.
    bool listen();

    // A broker list entry for the fake radio's address under `radioSerial`.
    QString radioEntry(const QString &radioSerial = serial, const QString &status = QStringLiteral("Available")) const;

    std::shared_ptr<SmartLinkAuthenticator> authenticator(const QString &account = email) const;
    // An authenticator whose identity provider does not answer: nobody listens there.
    std::shared_ptr<SmartLinkAuthenticator> unreachableAuthenticator() const;
    SmartLinkBrokerEndpoint brokerEndpoint() const;
    SmartLinkCertificatePinStore pinStore() const { return SmartLinkCertificatePinStore(secrets); }

    // The pin kept for `identity`, if any.
    std::optional<QString> pin(const QString &identity = serial) const;
    // The fingerprint of the radio's certificate.
    static QString radioFingerprint();
    void saveRefreshToken(const QString &token, const QString &account = email) const;

    FakeIdentityProvider identity;
    FakeSmartLinkBroker broker;
    FakeFlexRadio radio;
    std::shared_ptr<InMemorySecretStore> secrets = std::make_shared<InMemorySecretStore>();
};

} // namespace kivo::test
