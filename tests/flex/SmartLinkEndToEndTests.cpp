// A logging program's CAT requests travelling through the command server and
// the SmartLink chain (sign-in, broker, pinned wide-area session) to a radio
// on loopback.

#include "KivoCore/flex/SmartLinkRadioClient.h"
#include "QuendKivoApp/model/CommandBridge.h"
#include "fakes/SmartLinkPeers.h"
#include "support/QtPrinters.h"
#include "support/RawClient.h"
#include "support/RunTask.h"

#include <QSslSocket>

#include <gtest/gtest.h>

namespace kivo {
namespace {

using namespace std::chrono_literals;
using test::FakeFlexRadio;
using test::FakeIdentityProvider;
using test::RawClient;
using test::runTask;
using test::SmartLinkPeers;
using test::waitUntil;

TEST(SmartLinkEndToEnd, CATRequestsReachTheRemoteRadio)
{
    if (!QSslSocket::supportsSsl())
        GTEST_SKIP() << "no TLS backend";
    SmartLinkPeers peers;
    ASSERT_TRUE(peers.listen());
    peers.identity.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-1"), QStringLiteral("refresh-1")));

    SmartLinkRadioClient::Timing timing;
    timing.radio.commandTimeout = 500ms;
    timing.radio.closingCommandTimeout = 200ms;
    timing.radio.heartbeatInterval = 1h;
    timing.radio.handleWait = 160ms;
    RadioConnectionState state = RadioConnectionState::Stopped;
    RadioSnapshot shown;
    auto client = std::make_shared<SmartLinkRadioClient>(
        SmartLinkRadioClient::Options{.email = SmartLinkPeers::email,
                                      .password = QStringLiteral("secret"),
                                      .preferredSerial = QString(),
                                      .stationName = QStringLiteral("Maestro"),
                                      .sliceLetter = QStringLiteral("A"),
                                      .authenticator = peers.authenticator(),
                                      .onRadioSelected = [](const SmartLinkRadio &) {},
                                      .pinStore = peers.pinStore(),
                                      .brokerEndpoint = peers.brokerEndpoint(),
                                      .timing = timing},
        [&](RadioConnectionState reported, const QString &) { state = reported; },
        [&](const RadioSnapshot &snapshot) { shown = snapshot; });
    client->start();
    ASSERT_TRUE(waitUntil([&] { return state == RadioConnectionState::Ready; }));

    const QString handle = QStringLiteral("0x40A1");
    peers.radio.sendLine(FakeFlexRadio::clientLine(handle, QStringLiteral("CID"), QStringLiteral("Maestro")));
    peers.radio.sendLine(FakeFlexRadio::sliceLine(2, handle, QStringLiteral("A"), QStringLiteral("10.136000"),
                                                  QStringLiteral("DIGU"), true, true));
    ASSERT_TRUE(waitUntil([&] { return shown.isConnected; }));

    AppConfiguration configuration = AppConfiguration::firstRun();
    configuration.catPort = 0;
    configuration.rigCtlPort = 0;
    CommandBridge bridge(client, {});
    bridge.start(configuration);
    ASSERT_TRUE(peers.radio.waitForCommand(QStringLiteral("client bind client_id=CID")));
    peers.radio.clearReceived();
    RawClient cat(bridge.catPort());

    // The followed slice's frequency, answered from what the radio reported.
    cat.send("FA;");
    EXPECT_EQ(cat.read(14), QByteArray("FA00010136000;"));
    EXPECT_TRUE(peers.radio.commandTexts().isEmpty());

    cat.send("FA00007074000;");
    ASSERT_TRUE(peers.radio.waitForCommand(QStringLiteral("slice t 2 7.074000")));
    peers.radio.sendLine(QStringLiteral("S0|slice 2 RF_frequency=7.074000"));
    ASSERT_TRUE(waitUntil([&] { return shown.frequencyHz == 7074000; }));
    cat.send("FA;");
    EXPECT_EQ(cat.read(14), QByteArray("FA00007074000;"));
    EXPECT_EQ(peers.radio.commandTexts(), QStringList{QStringLiteral("slice t 2 7.074000")});

    bridge.stop();
    runTask(client->stop());
    EXPECT_EQ(state, RadioConnectionState::Stopped);
}

} // namespace
} // namespace kivo
