// What an operator sees after turning on one component's category.

#include "KivoCore/flex/FlexRadioClient.h"
#include "KivoCore/flex/LegacyKIVOClient.h"
#include "KivoCore/radio/TCPCommandServer.h"
#include "KivoCore/station/DCU1RotatorClient.h"
#include "KivoCore/station/PropagationConditions.h"
#include "KivoCore/station/UDPSpotReceiver.h"
#include "KivoCore/support/LogCategories.h"
#include "KivoCore/support/Redaction.h"
#include "fakes/FakeDCU1Controller.h"
#include "fakes/FakeHTTPServer.h"
#include "fakes/FakeKIVOCompanion.h"
#include "fakes/RemoteAgentHarness.h"
#include "fakes/SmartLinkPeers.h"
#include "support/QtPrinters.h"

#include <QNetworkAccessManager>
#include <QTcpSocket>
#include <QUdpSocket>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;

namespace {

const QString prefix = QStringLiteral("com.tarnvale.QuendKivo.");
QStringList captured; // "<category> <message>" of every debug message
bool traced(const QString &text) { return captured.join(u'\n').contains(text); }

// Each drive is run with its own category on and returns the lines it
// expects there; most wait for the last of them.
QStringList awaited(const QStringList &lines)
{
    waitUntil([&] { return traced(lines.last()); });
    return lines;
}

QStringList commandServer(const QLoggingCategory &category, TCPCommandServer::Framing framing,
                          const QByteArray &request)
{
    const QString name = QString::fromLatin1(category.categoryName()).mid(prefix.size());
    const auto answer = [](QString, auto) -> QCoro::Task<std::optional<QString>> { co_return QStringLiteral("7;"); };
    TCPCommandServer server({.category = &category, .framing = framing, .handler = answer});
    server.start(0);
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    client.write(request);
    waitUntil([&] { return client.bytesAvailable() > 0; });
    const QString port = prefix + name + " client " + QString::number(client.localPort());
    return {port + " request \"" + request.chopped(1) + '"', port + " answer \"7;\""};
}

QStringList smartLink()
{
    SmartLinkPeers peers;
    peers.listen();
    peers.identity.enqueue(FakeIdentityProvider::grant("id-secret", "refresh-secret"));
    const QString idToken = runTask(peers.authenticator()->authenticate(peers.email, "pa55word")).idToken;
    SmartLinkBroker broker({.idToken = idToken, .preferredSerial = peers.serial, .endpoint = peers.brokerEndpoint()},
                           {});
    const QString handle = runTask(broker.connect()).validationHandle;
    FlexRadioClient radio({.host = "127.0.0.1", .port = peers.radio.port(), .sliceLetter = "A", .useTLS = true,
                           .wanValidationHandle = handle, .pinStore = peers.pinStore()},
                          [](auto, auto) {}, [](auto) {});
    radio.start();
    waitUntil([&] { return radio.state() == RadioConnectionState::Ready; });
    runTask(radio.stop());
    return {prefix + "smartlink-broker POST " + peers.identity.tokenEndpoint().toString() + R"( "{\"client_id\")",
            prefix + R"(smartlink-broker sent "application register name=Quend-Kivo platform=macOS token=<redacted>")",
            prefix + R"(smartlink-broker received "radio connect_ready handle=wan-handle-1)",
            prefix + R"(radio sent "C1|wan validate handle=wan-handle-1")", prefix + R"(radio received "R1|0|")"};
}

QStringList legacyKivo()
{
    FakeKIVOCompanion companion;
    companion.listen();
    LegacyKIVOClient client({.host = "127.0.0.1", .port = companion.port()}, [](auto, auto) {}, [](auto) {});
    client.start();
    const QStringList lines = awaited({prefix + R"(legacy-kivo sent "KS;FB;FA;FR;MD;FT;IF;")",
                                       prefix + R"(legacy-kivo received "FA00014074000")"});
    runTask(client.stop());
    return lines;
}

QStringList rotator()
{
    FakeDCU1Controller controller;
    controller.listen();
    DCU1RotatorClient client({.host = "127.0.0.1", .port = controller.port()}, {}, {});
    client.start();
    return awaited({prefix + R"(rotator sent "AI1;")", prefix + R"(rotator received "123;")"});
}

std::function<QStringList()> feed(const QLoggingCategory &category)
{
    return [&category] {
        const QString name = QString::fromLatin1(category.categoryName()).mid(prefix.size());
        UDPSpotReceiver receiver(category, {}, {});
        receiver.start(0);
        QUdpSocket sender;
        sender.writeDatagram("<spot/>", QHostAddress::LocalHost, receiver.port());
        return awaited({prefix + name + " datagram from port " + QString::number(sender.localPort()) + " \"<spot/>\""});
    };
}

QStringList propagation()
{
    FakeHTTPServer server;
    server.listen();
    server.setResponse({.body = "<solar/>"});
    QNetworkAccessManager session;
    const QUrl url = server.url("/solarxml.php");
    EXPECT_ANY_THROW(runTask(PropagationConditionsClient(&session, url).fetch()));
    return {prefix + "propagation GET " + url.toString() + " answered 200 \"<solar/>\""};
}

} // namespace

TEST(Tracing, EachCategoryTracesItsOwnTrafficAloneAndNoSecret)
{
    const QList<QPair<const QLoggingCategory *, std::function<QStringList()>>> categories{
        {&lcCat(), [] { return commandServer(lcCat(), TCPCommandServer::Framing::Semicolon, "FA;"); }},
        {&lcRigctl(), [] { return commandServer(lcRigctl(), TCPCommandServer::Framing::Newline, "f\n"); }},
        {&lcRadio(), smartLink}, {&lcSmartLinkBroker(), smartLink}, {&lcLegacyKivo(), legacyKivo},
        {&lcRemoteAgent(), [] {
             RemoteAgentHarness h;
             h.startAndWaitForStream();
             runTask(h.client->stop());
             return QStringList{prefix + "remote-agent GET " + h.agent.baseURL() + "/api/v1/state answered 200 \"{",
                                prefix + "remote-agent stream message \"{"};
         }},
        {&lcRotator(), rotator}, {&lcRotatorRumlog(), feed(lcRotatorRumlog())},
        {&lcSpotsLogbook(), feed(lcSpotsLogbook())}, {&lcSpotsContest(), feed(lcSpotsContest())},
        {&lcPropagation(), propagation}};
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context,
                                                                const QString &message) {
        if (type == QtDebugMsg)
            captured.append(QString::fromLatin1(context.category) + u' ' + message);
    });
    for (const auto &[logging, drive] : categories) {
        const QString category = QString::fromLatin1(logging->categoryName());
        EXPECT_FALSE(logging->isDebugEnabled());
        captured.clear();
        QLoggingCategory::setFilterRules(category + ".debug=true");
        for (const QString &text : drive())
            EXPECT_TRUE(!text.startsWith(category + u' ') || traced(text)) << text.toStdString();
        for (const QString &line : std::as_const(captured)) {
            EXPECT_TRUE(line.startsWith(category + u' ')) << line.toStdString();
            for (const char *secret : {"pa55word", "id-secret", "refresh-secret", "test-token"})
                EXPECT_FALSE(line.contains(QLatin1StringView(secret))) << line.toStdString();
        }
        QLoggingCategory::setFilterRules({});
    }
    qInstallMessageHandler(previous);
}

TEST(Tracing, RedactsEverySecretATraceCouldCarryInOneReading)
{
    const QList<QPair<QString, QString>> table{
        {"Authorization: Bearer a.b-1\r\nX-Api-Key: k 1\nHost: h", "Authorization: <redacted>\r\nX-Api-Key: <redacted>\nHost: h"},
        {"Invalid token: abc, try again", "Invalid token: <redacted>, try again"},
        {R"({"password":"p\"w", "user":"ham"})", R"({"password":"<redacted>", "user":"ham"})"},
        {R"({"password": 12345, "pin": null})", R"({"password": "<redacted>", "pin": null})"},
        {"{'password': 'abc'}", "{'password': '<redacted>'}"},
        {R"({"credentials": {"apiKey": "k"}})", R"({"credentials": "<redacted>"})"},
        {"password=\"hunter2\nnext", "password=\"<redacted>\nnext"},
        {"token = abc def", "token = <redacted> def"},
        {"?refresh_token=a1&grant_type=refresh_token", "?refresh_token=<redacted>&grant_type=refresh_token"},
        {"client_secret='s 2'&x=1", "client_secret='<redacted>'&x=1"},
        {"C7|wan validate handle=0x1A2B token", "C7|wan validate handle=0x1A2B token"},
        {"token.token.token=", "token.token.token="},
        {R"({"type":"config","payload":"{\"password\":\"hunter2\"}"})",
         R"({"type":"config","payload":"{\"password\":\"<redacted>\"}"})"},
        {R"(body={\"token\":\"abc123\"})", R"(body={\"token\":\"<redacted>\"})"},
        {R"(token="password": "hunter2")", R"(token="<redacted>": "<redacted>")"},
        // JSON is read as JSON: every value under a secret's name, JSON in a
        // string however escaped; all else is left as it came.
        {R"({"payload":"{\u0022password\u0022:\u0022hunter2\u0022,\u0022mode\u0022:\u0022DIGU\u0022}"})",
         R"({"payload":"{\u0022password\u0022:\u0022<redacted>\u0022,\u0022mode\u0022:\u0022DIGU\u0022}"})"},
        {R"({"tokens":["t-1"],"credential":{"value":"v-1"},"pwd":7,"passwordSet":true,"note":"user=ham&pass=p-1"})",
         R"({"tokens":"<redacted>","credential":"<redacted>","pwd":"<redacted>","passwordSet":true,"note":"user=ham&pass=<redacted>"})"},
        {"{\n  \"password\":\n    \"hunter2\"\n}", "{\n  \"password\":\n    \"<redacted>\"\n}"},
        {R"({"password":"hunter2","password":null})", R"({"password":"<redacted>","password":null})"},
        {R"({"data":{"password":"hunter2"},"data":1})", R"({"data":{"password":"<redacted>"},"data":1})"},
        {R"([{"payload":"{\"pin\":[1],\"pin\":2,\"token\":30}"}])",
         R"([{"payload":"{\"pin\":[1],\"pin\":2,\"token\":\"<redacted>\"}"}])"},
        {"{ \"mode\" :\t\"DIGU\" ,\r\n\"token\" : \"t\" }", "{ \"mode\" :\t\"DIGU\" ,\r\n\"token\" : \"<redacted>\" }"},
        {R"({"z":1,"B":2,"a":3,"token":"t"})", R"({"z":1,"B":2,"a":3,"token":"<redacted>"})"},
        {R"({"id":123456789012345678901,"gain":1.10,"sq":-0E+0,"token":"t"})",
         R"({"id":123456789012345678901,"gain":1.10,"sq":-0E+0,"token":"<redacted>"})"},
        {R"({"note":"73 \u00e9\/\t\q","pass\u0077ord":"p"})", R"({"note":"73 \u00e9\/\t\q","pass\u0077ord":"<redacted>"})"},
        {R"({"frequencyHz": 14074000, "mode": "DIGU"})", R"({"frequencyHz": 14074000, "mode": "DIGU"})"},
        // The scanner, for the rest.
        {"state {\n  \"password\":\n    12345,\n  \"mode\": \"DIGU\"", "state {\n  \"password\":\n    <redacted>,\n  \"mode\": \"DIGU\""},
        {R"(received {"tokens":["t-1"], "mode":"DIGU")", R"(received {"tokens":<redacted>, "mode":"DIGU")"},
        {"Authorization = Bearer a.b-1, x=1", "Authorization = <redacted>, x=1"},
        {"pwd=a&pass=b&passphrase=c&compass=north&passband=2700",
         "pwd=<redacted>&pass=<redacted>&passphrase=<redacted>&compass=north&passband=2700"},
        {"/cb?next=%2Fx%3Ftoken%3Dt-1%26mode%3DDIGU", "/cb?next=%2Fx%3Ftoken%3D<redacted>%26mode%3DDIGU"},
        {R"(\"password": "hunter2")", R"(\"password": "<redacted>")"},
        {R"("password\": \"hunter2\")", R"("password\": \"<redacted>\")"},
    };
    for (const auto &[text, redacted] : table)
        EXPECT_EQ(redactedSecrets(text), redacted) << text.toStdString();
}
