// A logging program's CAT requests travelling through the command server
// and the agent client to a Remote Station Agent on loopback.

#include "QuendKivoApp/model/CommandBridge.h"
#include "fakes/RemoteAgentHarness.h"
#include "support/QtPrinters.h"
#include "support/RawClient.h"
#include "support/RunTask.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace kivo {
namespace {

using test::FakeRemoteAgent;
using test::RawClient;
using test::RemoteAgentHarness;
using test::runTask;
using test::waitUntil;
using namespace std::chrono_literals;

RemoteAgentTiming endToEndTiming()
{
    RemoteAgentTiming timing = RemoteAgentHarness::quickTiming();
    // Short enough for the stall test, long enough for a TLS round trip of the
    // sanitized build on a loaded machine.
    timing.requestTimeout = 3s;
    timing.watchdogInterval = 50ms;
    return timing;
}

class RemoteAgentEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(agent.startAndWaitForStream());
        AppConfiguration configuration = AppConfiguration::firstRun();
        configuration.catPort = 0;
        configuration.rigCtlPort = 0;
        configuration.allowCATTransmit = true;
        bridge = std::make_unique<CommandBridge>(agent.client, CommandBridge::LogHandler());
        bridge->start(configuration);
    }

    void TearDown() override
    {
        if (bridge)
            bridge->stop();
        runTask(agent.client->stop());
    }

    QStringList commandsSent() const
    {
        QStringList sent;
        for (const FakeRemoteAgent::Request &request : agent.agent.commandRequests())
            sent << request.command();
        return sent;
    }

    bool agentTransmits() const
    {
        return agent.agent.state.value("radio").toObject().value("mox").toBool();
    }

    RemoteAgentHarness agent{{}, endToEndTiming()};
    std::unique_ptr<CommandBridge> bridge;
};

TEST_F(RemoteAgentEndToEndTest, ReadsTheAgentsFrequency)
{
    RawClient cat(bridge->catPort());
    cat.send("FA;");
    EXPECT_EQ(cat.read(14), QByteArray("FA00014074000;"));
    EXPECT_TRUE(agent.agent.commandRequests().isEmpty());
}

TEST_F(RemoteAgentEndToEndTest, TunesThroughTheAgent)
{
    RawClient cat(bridge->catPort());
    cat.send("FA00007074000;");
    ASSERT_TRUE(waitUntil([this] { return !agent.agent.commandRequests().isEmpty(); }));
    const FakeRemoteAgent::Request tune = agent.agent.commandRequests().first();
    EXPECT_EQ(tune.command(), "set_frequency_hz");
    EXPECT_EQ(tune.arguments(), QJsonObject({{"frequency_hz", 7074000}, {"vfo", "A"}}));

    cat.send("MD2;FA;");
    EXPECT_EQ(cat.read(14), QByteArray("FA00007074000;"));
    EXPECT_EQ(commandsSent(), QStringList({"set_frequency_hz", "set_mode"}));
    EXPECT_EQ(agent.agent.commandRequests().last().arguments().value("mode"), "USB");
}

TEST_F(RemoteAgentEndToEndTest, ARejectedCommandAnswersTheQuestionMark)
{
    agent.agent.setCommandHandler("set_frequency_hz", [](const FakeRemoteAgent::Request &) {
        return FakeRemoteAgent::Reply::failure("Frequency is outside the band plan.");
    });
    RawClient cat(bridge->catPort());
    cat.send("FA00007074000;");
    EXPECT_EQ(cat.read(2), QByteArray("?;"));
    EXPECT_EQ(agent.agent.commandRequests("set_frequency_hz").size(), 2);
}

// A client that keyed and left while the agent stalled is unkeyed once the
// agent answers again.
TEST_F(RemoteAgentEndToEndTest, AnUnkeyLostInAStallIsSentAgain)
{
    {
        RawClient cat(bridge->catPort());
        cat.send("TX;");
        ASSERT_TRUE(waitUntil([this] { return agentTransmits(); }));
        agent.agent.stallCommands = true;
    }
    ASSERT_TRUE(waitUntil([this] { return agent.client->unkeyOwed(); }));
    const qsizetype sentInStall = agent.agent.commandRequests().size();
    agent.agent.stallCommands = false;
    ASSERT_TRUE(waitUntil([this] { return agent.events.contains("Unkey sent again after the radio answered"); }));
    const FakeRemoteAgent::Request unkey = agent.agent.commandRequests().value(sentInStall);
    EXPECT_EQ(unkey.command() + QJsonDocument(unkey.arguments()).toJson(QJsonDocument::Compact),
              R"(set_ptt{"enabled":false})");
    EXPECT_FALSE(agentTransmits());
}

} // namespace
} // namespace kivo
