// Logging software's view: both servers on the simulator over real sockets.

#include "KivoCore/radio/SimulatedRadio.h"
#include "QuendKivoApp/model/CommandBridge.h"
#include "fakes/RecordingRadio.h"
#include "support/QtPrinters.h"
#include "support/RawClient.h"
#include "support/RunTask.h"

#include <QTcpServer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
using ::testing::Contains;
using ::testing::ElementsAre;

namespace {

AppConfiguration onFreePorts()
{
    AppConfiguration configuration = AppConfiguration::firstRun();
    configuration.catPort = 0;
    configuration.rigCtlPort = 0;
    return configuration;
}

std::shared_ptr<SimulatedRadio> simulator()
{
    return std::make_shared<SimulatedRadio>(
        RadioSnapshot({.frequencyHz = 14074000,
                       .mode = QStringLiteral("DIGU"),
                       .isConnected = true,
                       .slice = QStringLiteral("A"),
                       .station = QStringLiteral("Maestro")}),
        [](const RadioSnapshot &) {});
}

} // namespace

TEST(CommandBridgeEndToEnd, CATClientReadsAndSetsTheFrequency)
{
    QStringList log;
    CommandBridge bridge(simulator(), [&](const QString &line) { log.append(line); });
    bridge.start(onFreePorts());
    RawClient cat(bridge.catPort());
    cat.send("FA;");
    EXPECT_EQ(cat.read(14), QByteArray("FA00014074000;"));
    cat.send("FA00007074000;");
    cat.send("FA;");
    EXPECT_EQ(cat.read(14), QByteArray("FA00007074000;"));
    EXPECT_THAT(log, Contains(QStartsWith(QStringLiteral("CAT: Listening on 127.0.0.1:"))));
    EXPECT_THAT(log, Contains(QStringLiteral("CAT: Client connected")));
}

TEST(CommandBridgeEndToEnd, RigCtlClientGetsItsAnswers)
{
    CommandBridge bridge(simulator(), {});
    bridge.start(onFreePorts());
    RawClient rig(bridge.rigCtlPort());
    rig.send("f\n");
    EXPECT_EQ(rig.read(9), QByteArray("14074000\n"));
    rig.send("F 7074000\n");
    EXPECT_EQ(rig.read(7), QByteArray("RPRT 0\n"));
    rig.send("get_everything\n");
    EXPECT_EQ(rig.read(8), QByteArray("RPRT -4\n"));
    rig.send("f\n");
    EXPECT_EQ(rig.read(8), QByteArray("7074000\n"));
}

TEST(CommandBridgeEndToEnd, SplitAndBatchedRequestsAreAnsweredInOrder)
{
    CommandBridge bridge(simulator(), {});
    bridge.start(onFreePorts());
    RawClient cat(bridge.catPort());
    cat.send("F");
    settle(20ms);
    cat.send("A;ID;MD");
    settle(20ms);
    cat.send(";");
    EXPECT_EQ(cat.read(24), QByteArray("FA00014074000;ID019;MD9;"));
    RawClient rig(bridge.rigCtlPort());
    rig.send("t\nm\nf\n");
    EXPECT_EQ(rig.read(20), QByteArray("0\nPKTUSB\n0\n14074000\n"));
}

// A logger's poll must not unkey the operator's transmission.
TEST(CommandBridgeEndToEnd, AClientThatOnlyReadLeavesTheTransmitterAlone)
{
    auto radio = std::make_shared<RecordingRadio>(connectedSnapshot());
    radio->primary = 14074000;
    CommandBridge bridge(radio, {});
    bridge.start(onFreePorts());
    {
        RawClient cat(bridge.catPort());
        cat.send("FA;");
        EXPECT_EQ(cat.read(14), QByteArray("FA00014074000;"));
    }
    settle(100ms);
    EXPECT_THAT(radio->calls, ElementsAre("snapshot()", "primaryFrequency()"));
}

// A "TX;" still with the radio when the client vanishes must not leave the
// transmitter keyed: the unkey comes after it.
TEST(CommandBridgeEndToEnd, AKeyStillInFlightIsFollowedByTheUnkey)
{
    auto radio = std::make_shared<RecordingRadio>(connectedSnapshot());
    radio->transmitDelay = 60ms;
    AppConfiguration configuration = onFreePorts();
    configuration.allowCATTransmit = true;
    CommandBridge bridge(radio, {});
    bridge.start(configuration);
    {
        RawClient cat(bridge.catPort());
        cat.send("TX;");
        ASSERT_TRUE(waitUntil([&] { return radio->calls.contains(QStringLiteral("setTransmit(microphone)")); }));
    }
    ASSERT_TRUE(waitUntil([&] { return radio->transmitsLanded == 2; }));
    EXPECT_FALSE(radio->current.isTransmitting);
    EXPECT_THAT(radio->calls, ElementsAre("snapshot()", "setTransmit(microphone)", "setTransmit(false)"));
}

TEST(CommandBridgeStart, APortInUseFailsAndLeavesNothingListening)
{
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::LocalHost, 0));
    AppConfiguration configuration = onFreePorts();
    configuration.rigCtlPort = occupant.serverPort();
    QStringList log;
    CommandBridge bridge(simulator(), [&](const QString &line) { log.append(line); });
    try {
        bridge.start(configuration);
        FAIL() << "start succeeded with the rigctld port taken";
    } catch (const KivoError &error) {
        EXPECT_THAT(error.message(),
                    QStartsWith(QStringLiteral("Could not listen on 127.0.0.1:%1: ").arg(occupant.serverPort())));
    }
    EXPECT_FALSE(bridge.isRunning());
    EXPECT_EQ(bridge.catPort(), 0);
    EXPECT_THAT(log, Contains(QStringLiteral("CAT: Listener stopped on port 0")));
    EXPECT_THAT(log, Contains(QStartsWith(QStringLiteral("RigCtlD: Listener failed on port "))));
}
