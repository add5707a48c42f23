#pragma once

// The test certificate authority and the "localhost"/127.0.0.1 server
// certificate it signed (tests/data/smartlink-test-*.pem), for fake peers
// that speak TLS and clients that must trust them.

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <functional>

namespace kivo::test {

QSslCertificate testCertificateAuthority();

// Normal verification, with the test authority as the only trusted root.
QSslConfiguration clientConfigurationTrustingTestCA();

// The server side: the test certificate and its key.
QSslConfiguration testServerConfiguration();

// A TCP server whose connections become server-side TLS sockets.
class TlsServer : public QTcpServer {
    Q_OBJECT

public:
    using Handler = std::function<void(QSslSocket *socket)>;

    explicit TlsServer(Handler onEncrypted, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    Handler m_onEncrypted;
};

} // namespace kivo::test
