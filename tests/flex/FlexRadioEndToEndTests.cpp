// A logging program's CAT requests travelling through the command server
// and the FlexRadio client to a radio on loopback.

#include "KivoCore/flex/FlexRadioClient.h"
#include "QuendKivoApp/model/CommandBridge.h"
#include "fakes/FakeFlexRadio.h"
#include "support/QtPrinters.h"
#include "support/RawClient.h"
#include "support/RunTask.h"

#include <gtest/gtest.h>

namespace kivo {
namespace {

using namespace std::chrono_literals;
using test::FakeFlexRadio;
using test::RawClient;
using test::runTask;
using test::waitUntil;

const QString handle = QStringLiteral("0x40A1");

class FlexRadioEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(radio.listen());
        FlexRadioClient::Timing timing;
        timing.closingCommandTimeout = 100ms;
        // No pings: the tests compare every command the radio receives.
        timing.heartbeatInterval = std::chrono::hours(1);
        timing.backoffSecond = 1ms;
        client = std::make_shared<FlexRadioClient>(
            FlexRadioClient::Options{.host = QStringLiteral("127.0.0.1"),
                                     .port = radio.port(),
                                     .stationName = QStringLiteral("Maestro"),
                                     .sliceLetter = QStringLiteral("A"),
                                     .pinStore = SmartLinkCertificatePinStore(std::make_shared<InMemorySecretStore>()),
                                     .timing = timing},
            [this](RadioConnectionState state, const QString &) { this->state = state; },
            [this](const RadioSnapshot &snapshot) { published = snapshot; });
        client->start();
        ASSERT_TRUE(waitUntil([this] { return state == RadioConnectionState::Ready; }));
        radio.sendLine(FakeFlexRadio::clientLine(handle, QStringLiteral("CID"), QStringLiteral("Maestro")));
        // The operator's slice A is followed; B sits beside it.
        radio.sendLine(FakeFlexRadio::sliceLine(2, handle, QStringLiteral("A"), QStringLiteral("14.074000"),
                                                QStringLiteral("DIGU"), true, true));
        radio.sendLine(FakeFlexRadio::sliceLine(3, handle, QStringLiteral("B"), QStringLiteral("10.136000"),
                                                QStringLiteral("USB"), false, false));
        ASSERT_TRUE(waitUntil([this] { return published.isConnected; }));
        // The binding goes out on its own; let it land before the comparisons start.
        ASSERT_TRUE(radio.waitForCommand(QStringLiteral("client bind client_id=CID")));

        AppConfiguration configuration = AppConfiguration::firstRun();
        configuration.catPort = 0;
        configuration.rigCtlPort = 0;
        configuration.allowCATTransmit = true;
        bridge = std::make_unique<CommandBridge>(client, CommandBridge::LogHandler());
        bridge->start(configuration);
        radio.clearReceived();
    }

    void TearDown() override
    {
        if (bridge)
            bridge->stop();
        if (client)
            runTask(client->stop());
    }

    FakeFlexRadio radio;
    std::shared_ptr<FlexRadioClient> client;
    std::unique_ptr<CommandBridge> bridge;
    RadioConnectionState state = RadioConnectionState::Stopped;
    RadioSnapshot published;
};

TEST_F(FlexRadioEndToEndTest, ReadsTheFollowedSlicesFrequency)
{
    RawClient cat(bridge->catPort());
    cat.send("FA;");
    EXPECT_EQ(cat.read(14), QByteArray("FA00014074000;"));
    EXPECT_TRUE(radio.commandTexts().isEmpty());
}

TEST_F(FlexRadioEndToEndTest, TunesAndSetsTheMode)
{
    RawClient cat(bridge->catPort());
    cat.send("FA00007074000;");
    ASSERT_TRUE(radio.waitForCommand(QStringLiteral("slice t 2 7.074000")));
    cat.send("MD2;");
    ASSERT_TRUE(radio.waitForCommand(QStringLiteral("slice s 2 mode=USB")));
    // A successful set answers nothing; the radio's status line carries the change.
    radio.sendLine(QStringLiteral("S0|slice 2 RF_frequency=7.074000"));
    ASSERT_TRUE(waitUntil([this] { return published.frequencyHz == 7074000; }));
    cat.send("FA;");
    EXPECT_EQ(cat.read(14), QByteArray("FA00007074000;"));
    EXPECT_EQ(radio.commandTexts(),
              (QStringList{QStringLiteral("slice t 2 7.074000"), QStringLiteral("slice s 2 mode=USB")}));
}

// The radio does not echo a tune to its sender: a set still reads back.
TEST_F(FlexRadioEndToEndTest, ATuneReadsBackWithoutTheRadiosEcho)
{
    RawClient cat(bridge->catPort()), rig(bridge->rigCtlPort());
    cat.send("FA00007074000;FA;");
    EXPECT_EQ(cat.read(14), QByteArray("FA00007074000;"));
    rig.send("f\n");
    EXPECT_EQ(rig.read(8), QByteArray("7074000\n"));
}

// A poll leaves the operator on the air; a client that keyed and sent CW is
// made safe, once, and its unkey waits until the operator lets go.
TEST_F(FlexRadioEndToEndTest, OnlyWhatAVanishedClientKeyedIsUndone)
{
    radio.setOperatorPtt(true);
    ASSERT_TRUE(waitUntil([this] { return published.isTransmitting; }));
    RawClient(bridge->catPort()).send("FA;");
    test::settle(100ms);
    EXPECT_TRUE(radio.commandTexts().isEmpty() && published.isTransmitting);
    RawClient(bridge->catPort()).send("TX;KY CQ TEST;");
    ASSERT_TRUE(radio.waitForCommand(QStringLiteral("cwx clear")));
    test::settle(100ms);
    EXPECT_EQ(radio.commandTexts(), (QStringList{"xmit 1", "cwx send \"CQ\x7FTEST\"", "cwx clear"}));
    // An idle interlock proves no key of ours gone: the held unkey goes.
    radio.setOperatorPtt(false);
    ASSERT_TRUE(radio.waitForCommand(QStringLiteral("xmit 0")));
    EXPECT_EQ(radio.commandTexts().mid(3), (QStringList{"transmit tune 0", "xmit 0"}));
}

TEST_F(FlexRadioEndToEndTest, ARejectedTuneAnswersTheQuestionMark)
{
    radio.setReply(QStringLiteral("slice t"), FakeFlexRadio::Reply::reject(0x50000016));
    RawClient cat(bridge->catPort());
    cat.send("FA00007074000;");
    EXPECT_EQ(cat.read(2), QByteArray("?;"));
}

TEST_F(FlexRadioEndToEndTest, PlacesASpotAsOneLine)
{
    const FlexSpot spot = FlexSpot::make({.frequencyHz = 7025000,
                                          .callsign = QStringLiteral("ja1xyz"),
                                          .mode = QStringLiteral("CW"),
                                          .source = QStringLiteral("RUMlog NG"),
                                          .spotter = QStringLiteral("dl2abc"),
                                          .comment = QStringLiteral("new one 599"),
                                          .timestamp = 1712345678,
                                          .lifetimeSeconds = 600,
                                          .priority = 4,
                                          .colorHex = QStringLiteral("#ffcc00")});
    runTask(client->addSpot(spot));
    ASSERT_EQ(radio.receivedLines().size(), 1);
    QString expected = QStringLiteral("spot add rx_freq=7.025000 callsign=JA1XYZ mode=CW source=RUMlog~NG "
                                      "spotter_callsign=DL2ABC timestamp=1712345678 lifetime_seconds=600 "
                                      "priority=4 comment=new~one~599 color=#FFCC00");
    expected.replace(QLatin1Char('~'), QChar(0x7F));
    EXPECT_EQ(radio.commandTexts(), QStringList{expected});
}

} // namespace
} // namespace kivo
