#include "fakes/SmartLinkPeers.h"

#include "support/RunTask.h"

#include <QFile>
#include <QSslCertificate>
#include <QTcpServer>

namespace kivo::test {

namespace {

const QString radioCertificate = QStringLiteral(QK_TEST_DATA_DIR "/radio-a.cert.pem");
const QString radioKey = QStringLiteral(QK_TEST_DATA_DIR "/radio-a.key.pem");

SmartLinkIdentityProvider providerAt(const QUrl &tokenEndpoint)
{
    return {.tokenEndpoint = tokenEndpoint,
            .passwordRealmGrantType = QStringLiteral("http://idp.test/oauth/grant-type/password-realm"),
            .sslConfiguration = clientConfigurationTrustingTestCA(),
            .requestTimeout = patience};
}

} // namespace

bool SmartLinkPeers::listen()
{
    if (!identity.listen() || !broker.listen() || !radio.listenTls(radioCertificate, radioKey))
        return false;
    broker.radioListLine = FakeSmartLinkBroker::radioList({radioEntry()});
    return true;
}

QString SmartLinkPeers::radioEntry(const QString &radioSerial, const QString &status) const
{
    return FakeSmartLinkBroker::radioEntry({{QStringLiteral("serial"), radioSerial},
                                            {QStringLiteral("radio_name"), QStringLiteral("Shack\x7FRadio")},
                                            {QStringLiteral("model"), QStringLiteral("FLEX-6600")},
                                            {QStringLiteral("status"), status},
                                            {QStringLiteral("public_ip"), QStringLiteral("127.0.0.1")},
                                            {QStringLiteral("public_tls_port"), QString::number(radio.port())},
                                            {QStringLiteral("public_udp_port"), QStringLiteral("4993")}});
}

std::shared_ptr<SmartLinkAuthenticator> SmartLinkPeers::authenticator(const QString &account) const
{
    return std::make_shared<SmartLinkAuthenticator>(SmartLinkKeychain(secrets, account),
                                                    providerAt(identity.tokenEndpoint()));
}

std::shared_ptr<SmartLinkAuthenticator> SmartLinkPeers::unreachableAuthenticator() const
{
    // A port that was free a moment ago.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return std::make_shared<SmartLinkAuthenticator>(
        SmartLinkKeychain(secrets, email),
        providerAt(QUrl(QStringLiteral("https://127.0.0.1:%1/oauth/token").arg(port))));
}

SmartLinkBrokerEndpoint SmartLinkPeers::brokerEndpoint() const
{
    return {.host = QStringLiteral("127.0.0.1"),
            .port = broker.port(),
            .sslConfiguration = clientConfigurationTrustingTestCA(),
            .responseTimeout = patience,
            .pingInterval = std::chrono::hours(1)};
}

std::optional<QString> SmartLinkPeers::pin(const QString &identity) const
{
    const auto items = secrets->items();
    const auto key = qMakePair(SmartLinkCertificatePinStore::service(), identity);
    return items.contains(key) ? std::optional(items.value(key)) : std::nullopt;
}

QString SmartLinkPeers::radioFingerprint()
{
    QFile file(radioCertificate);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return SmartLinkCertificatePinStore::fingerprint(QSslCertificate(&file, QSsl::Pem).toDer());
}

void SmartLinkPeers::saveRefreshToken(const QString &token, const QString &account) const
{
    runTask(SmartLinkKeychain(secrets, account).saveRefreshToken(token));
}

} // namespace kivo::test
