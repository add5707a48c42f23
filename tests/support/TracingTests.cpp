// What an operator sees after turning on one component's category.

#include "KivoCore/flex/FlexRadioClient.h"
#include "KivoCore/radio/TCPCommandServer.h"
#include "KivoCore/support/LogCategories.h"
#include "KivoCore/support/Redaction.h"
#include "fakes/RemoteAgentHarness.h"
#include "fakes/SmartLinkPeers.h"

#include <QTcpSocket>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;

namespace {

const QString prefix = QStringLiteral("com.tarnvale.QuendKivo.");
QStringList captured; // "<category> <message>" of every debug message
bool traced(const QString &text) { return captured.join(u'\n').contains(text); }

QStringList cat()
{
    const auto answer = [](QString, auto) -> QCoro::Task<std::optional<QString>> { co_return QStringLiteral("7;"); };
    TCPCommandServer server(
        {.label = prefix + "cat", .framing = TCPCommandServer::Framing::Semicolon, .handler = answer});
    server.start(0);
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    client.write("FA;");
    waitUntil([&] { return client.bytesAvailable() > 0; });
    const QString port = prefix + "cat client " + QString::number(client.localPort());
    return {port + " request \"FA\"", port + " answer \"7;\""};
}

QStringList smartLink()
{
    SmartLinkPeers peers;
    peers.listen();
    SmartLinkBroker broker({.idToken = "id-secret", .preferredSerial = SmartLinkPeers::serial,
                            .endpoint = peers.brokerEndpoint()},
                           {});
    const QString handle = runTask(broker.connect()).validationHandle;
    FlexRadioClient radio({.host = "127.0.0.1", .port = peers.radio.port(), .sliceLetter = "A", .useTLS = true,
                           .wanValidationHandle = handle, .pinStore = peers.pinStore()},
                          [](auto, auto) {}, [](auto) {});
    radio.start();
    waitUntil([&] { return radio.state() == RadioConnectionState::Ready; });
    runTask(radio.stop());
    return {prefix + R"(smartlink-broker sent "application register name=Quend-Kivo platform=macOS token=<redacted>")",
            prefix + R"(smartlink-broker received "radio connect_ready handle=wan-handle-1)",
            prefix + R"(radio sent "C1|wan validate handle=wan-handle-1")", prefix + R"(radio received "R1|0|")"};
}

} // namespace

TEST(Tracing, EachComponentTracesItsTrafficUnderItsOwnCategoryWithoutSecrets)
{
    const QList<QPair<QStringList, std::function<QStringList()>>> components{
        {{"cat"}, cat}, {{"smartlink-broker", "radio"}, smartLink},
        {{"remote-agent"}, [] {
             RemoteAgentHarness h;
             h.startAndWaitForStream();
             runTask(h.client->stop());
             return QStringList{prefix + "remote-agent GET " + h.agent.baseURL() + "/api/v1/state answered 200 \"{",
                                prefix + "remote-agent stream message \"{"};
         }}};
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context,
                                                                const QString &message) {
        captured.append(QString::fromLatin1(context.category) + u' ' + message);
    });
    for (const auto &[categories, drive] : components) {
        EXPECT_FALSE(loggingCategory(prefix + categories.first()).isDebugEnabled());
        captured.clear();
        QLoggingCategory::setFilterRules(prefix + categories.join(".debug=true\n" + prefix) + ".debug=true");
        for (const QString &text : drive())
            EXPECT_TRUE(traced(text)) << text.toStdString();
        EXPECT_FALSE(traced("id-secret") || traced("test-token"));
        QLoggingCategory::setFilterRules({});
    }
    qInstallMessageHandler(previous);
}

TEST(Tracing, RedactsEverySecretATraceCouldCarry)
{
    const QList<QPair<QString, QString>> table{
        {"Authorization: Bearer a.b-1", "Authorization: <redacted>"},
        {R"({"password":"p\"w", "user":"ham"})", R"({"password":"<redacted>", "user":"ham"})"},
        {"?refresh_token=a1&grant_type=refresh_token", "?refresh_token=<redacted>&grant_type=refresh_token"},
        {"client_secret='s 2'&x=1", "client_secret=<redacted>&x=1"},
        {"C7|wan validate handle=0x1A2B", "C7|wan validate handle=0x1A2B"},
    };
    for (const auto &[text, redacted] : table)
        EXPECT_EQ(redactedSecrets(text), redacted) << text.toStdString();
}
