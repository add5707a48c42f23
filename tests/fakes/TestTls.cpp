#include "fakes/TestTls.h"

#include <QFile>
#include <QSslKey>
#include <stdexcept>

namespace kivo::test {

namespace {
QByteArray readData(const char *name)
{
    QFile file(QStringLiteral(QK_TEST_DATA_DIR "/") + QString::fromLatin1(name));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(std::string("missing test data ") + name);
    return file.readAll();
}
} // namespace

QSslCertificate testCertificateAuthority()
{
    return QSslCertificate(readData("smartlink-test-ca.pem"), QSsl::Pem);
}

QSslConfiguration clientConfigurationTrustingTestCA()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates({testCertificateAuthority()});
    return configuration;
}

QSslConfiguration testServerConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(QSslCertificate(readData("smartlink-test-server-cert.pem"), QSsl::Pem));
    configuration.setPrivateKey(QSslKey(readData("smartlink-test-server-key.pem"), QSsl::Rsa, QSsl::Pem));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}

TlsServer::TlsServer(Handler onEncrypted, QObject *parent) : QTcpServer(parent), m_onEncrypted(std::move(onEncrypted))
{
}

void TlsServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setSslConfiguration(testServerConfiguration());
    connect(socket, &QSslSocket::encrypted, this, [this, socket] { m_onEncrypted(socket); });
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    // A client that refuses the certificate just goes away.
    connect(socket, &QSslSocket::errorOccurred, socket, [socket] { socket->abort(); });
    socket->startServerEncryption();
}

} // namespace kivo::test
