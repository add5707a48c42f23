// Logging software driving the radio through the legacy companion program.

#include "KivoCore/flex/LegacyKIVOClient.h"
#include "QuendKivoApp/model/CommandBridge.h"
#include "fakes/FakeKIVOCompanion.h"
#include "support/QtPrinters.h"
#include "support/RawClient.h"
#include "support/RunTask.h"

#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;

TEST(LegacyKIVOEndToEnd, CATRequestsBecomeKenwoodCommandsToTheCompanion)
{
    FakeKIVOCompanion companion;
    ASSERT_TRUE(companion.listen());
    bool connected = false;
    auto client = std::make_shared<LegacyKIVOClient>(
        LegacyKIVOClient::Options{.host = QStringLiteral("127.0.0.1"),
                                  .port = companion.port(),
                                  .timing = {.pollInterval = std::chrono::hours(1), .backoffSecond = 1ms}},
        [](RadioConnectionState, const QString &) {},
        [&](const RadioSnapshot &snapshot) { connected = snapshot.isConnected; });
    client->start();
    ASSERT_TRUE(waitUntil([&] { return connected && companion.pollCount() >= 1; }));

    AppConfiguration configuration = AppConfiguration::firstRun();
    configuration.catPort = 0;
    configuration.rigCtlPort = 0;
    CommandBridge bridge(client, {});
    bridge.start(configuration);
    RawClient cat(bridge.catPort());

    cat.send("FA;");
    EXPECT_EQ(cat.read(14), QByteArray("FA00014074000;"));

    companion.clearReceived();
    cat.send("FA00007074000;MD2;FA;");
    EXPECT_EQ(cat.read(14), QByteArray("FA00007074000;"));
    waitUntil([&] { return companion.received().size() >= 18; });
    EXPECT_EQ(companion.received(), QByteArray("FA00007074000;MD2;"));

    bridge.stop();
    runTask(client->stop());
}
