#include "KivoCore/support/HttpExchange.h"
#include "support/QtPrinters.h"
#include "support/ThrownMessage.h"

#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
using E = QNetworkReply::NetworkError;

TEST(HttpExchange, TransportFailuresReadAsSentences)
{
    const struct {
        E error;
        const char *description;
        const char *sentence;
    } cases[] = {
        {E::OperationCanceledError, "Operation canceled", "The request timed out."},
        {E::TimeoutError, "Socket operation timed out", "The request timed out."},
        {E::ConnectionRefusedError, "Connection refused", "Connection refused."},
        {E::RemoteHostClosedError, " Remote host closed the connection\n", "Remote host closed the connection."},
        {E::SslHandshakeFailedError, "SSL handshake failed: The certificate is self-signed, and untrusted",
         "SSL handshake failed: The certificate is self-signed, and untrusted."},
        {E::HostNotFoundError, "Host agentpc not found.", "Host agentpc not found."},
        {E::UnknownNetworkError, "", "The connection failed."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(httpFailureSentence(c.error, QString::fromLatin1(c.description)), QString::fromLatin1(c.sentence));
    }
}

TEST(HttpExchange, TheOwnerEndsARequestInFlight)
{
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    HttpRequest get;
    get.request = QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort())));
    auto network = std::make_unique<QNetworkAccessManager>();

    QTimer::singleShot(20ms, network.get(), [&] { abortHttpRequests(network.get()); });
    EXPECT_EQ(errorOf(sendHttpRequest(network.get(), get))->kind(), KivoError::Kind::NotConnected);

    get.whenCancelled = QStringLiteral("The service is unavailable.");
    QTimer::singleShot(20ms, [&] { network.reset(); });
    EXPECT_EQ(errorOf(sendHttpRequest(network.get(), get))->message(), *get.whenCancelled);
}
