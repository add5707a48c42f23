// The radio operations of the agent client: the command each one posts,
// the checks made before anything is sent, and the one retry.

#include "KivoCore/station/DXSpot.h"
#include "fakes/RemoteAgentHarness.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
using namespace std::chrono_literals;

namespace {

using Reply = FakeRemoteAgent::Reply;
using Request = FakeRemoteAgent::Request;

QJsonObject argumentsOfLast(const RemoteAgentHarness &h)
{
    const auto commands = h.agent.commandRequests();
    return commands.isEmpty() ? QJsonObject() : commands.last().arguments();
}

QString lastCommand(const RemoteAgentHarness &h)
{
    const auto commands = h.agent.commandRequests();
    return commands.isEmpty() ? QString() : commands.last().command();
}

// Adds VFO B on 7.074 MHz, receiving when `receive` is set.
void addVFOB(FakeRemoteAgent &agent, bool receive)
{
    QJsonObject radio = agent.state.value(QStringLiteral("radio")).toObject();
    QJsonObject vfos = radio.value(QStringLiteral("vfos")).toObject();
    QJsonObject a = vfos.value(QStringLiteral("A")).toObject();
    a.insert(QStringLiteral("active"), !receive);
    vfos.insert(QStringLiteral("A"), a);
    vfos.insert(QStringLiteral("B"), QJsonObject{{"index_letter", "B"},
                                                 {"frequency_hz", 7074000},
                                                 {"mode", "LSB"},
                                                 {"active", receive}});
    radio.insert(QStringLiteral("vfos"), vfos);
    agent.state.insert(QStringLiteral("radio"), radio);
}

void advertiseOnly(FakeRemoteAgent &agent, const QStringList &commands)
{
    agent.state.insert(QStringLiteral("capabilities"),
                       QJsonObject{{"commands", QJsonArray::fromStringList(commands)}});
}

Reply succeedWithoutState(const Request &)
{
    return Reply::json({{"success", true}});
}

} // namespace

TEST(RemoteAgentCommands, NothingIsSentBeforeTheAgentAdvertisesCommands)
{
    RemoteAgentHarness h;
    h.agent.setStateHandler([](const Request &) { return Reply::silent(); });
    h.client->start();
    ASSERT_TRUE(waitUntil([&] { return h.agent.requests.size() == 1; }));

    EXPECT_EQ(failureOf(h.client->setFrequency(7074000)), "Remote Agent does not advertise set_frequency_hz.");
    EXPECT_EQ(failureOf(h.client->setMode("USB")), "Remote Agent does not advertise set_mode.");
    EXPECT_EQ(failureOf(h.client->setTransmit(true)), "Remote Agent does not advertise set_ptt.");
    EXPECT_EQ(failureOf(h.client->clearCW()), "Remote Agent does not advertise clear_cw.");
    EXPECT_EQ(failureOf(h.client->performStationAction(RemoteStationAction::Standby)),
              "Remote Agent does not advertise station_standby.");
    EXPECT_TRUE(h.agent.commandRequests().isEmpty());
}

TEST(RemoteAgentCommands, AStoppedClientRefusesButArgumentErrorsComeFirst)
{
    RemoteAgentHarness h;
    EXPECT_EQ(failureOf(h.client->setFrequency(7074000)), "The radio is not connected.");
    EXPECT_EQ(failureOf(h.client->setTransmit(false)), "The radio is not connected.");
    EXPECT_EQ(failureOf(h.client->setFrequency(0)), "The frequency is invalid.");
    EXPECT_EQ(failureOf(h.client->setCWSpeed(101)), "CW speed must be 5 through 100 WPM.");
    EXPECT_TRUE(h.agent.requests.isEmpty());
}

TEST(RemoteAgentCommands, ArgumentChecksSendNothing)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    const QString cwText = QStringLiteral("CW text must contain 1 through 128 printable ASCII characters without |.");

    EXPECT_EQ(failureOf(h.client->setFrequency(0)), "The frequency is invalid.");
    EXPECT_EQ(failureOf(h.client->setPrimaryFrequency(-7074000)), "The frequency is invalid.");
    EXPECT_EQ(failureOf(h.client->setSecondaryFrequency(0)), "The frequency is invalid.");
    EXPECT_EQ(failureOf(h.client->setMode(" \n\t")), "The radio mode is invalid.");
    EXPECT_EQ(failureOf(h.client->setReceiveVFO(2)),
              "This operation is not supported by the selected radio connection.");
    EXPECT_EQ(failureOf(h.client->setCWSpeed(4)), "CW speed must be 5 through 100 WPM.");
    EXPECT_EQ(failureOf(h.client->setCWSpeed(101)), "CW speed must be 5 through 100 WPM.");
    EXPECT_EQ(failureOf(h.client->setRIT(true, 10000, std::nullopt)),
              "RIT offset must be between -9999 and 9999 Hz.");
    EXPECT_EQ(failureOf(h.client->setRIT(true, -10000, std::nullopt)),
              "RIT offset must be between -9999 and 9999 Hz.");
    EXPECT_EQ(failureOf(h.client->setXIT(true, 10000, std::nullopt)),
              "XIT offset must be between -9999 and 9999 Hz.");
    EXPECT_EQ(failureOf(h.client->setRFPower(0)), "RF power must be greater than zero.");
    EXPECT_EQ(failureOf(h.client->sendCW(QString())), cwText);
    EXPECT_EQ(failureOf(h.client->sendCW(QString(129, QLatin1Char('E')))), cwText);
    for (const char *text : {"CQ | DE", "CQ\tDE", "CQ\nDE"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(failureOf(h.client->sendCW(QString::fromLatin1(text))), cwText);
    }
    EXPECT_EQ(failureOf(h.client->sendCW(QStringLiteral("73 de DL1ABÇ"))), cwText);
    EXPECT_TRUE(h.agent.commandRequests().isEmpty());
}

TEST(RemoteAgentCommands, LimitsThemselvesAreAccepted)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    EXPECT_EQ(failureOf(h.client->setCWSpeed(5)), "succeeded");
    EXPECT_EQ(failureOf(h.client->setCWSpeed(100)), "succeeded");
    EXPECT_EQ(failureOf(h.client->setRIT(true, -9999, std::nullopt)), "succeeded");
    EXPECT_EQ(failureOf(h.client->setXIT(true, 9999, std::nullopt)), "succeeded");
    EXPECT_EQ(failureOf(h.client->sendCW(QString(128, QLatin1Char('E')))), "succeeded");
    EXPECT_EQ(failureOf(h.client->setRFPower(1)), "succeeded");
    EXPECT_EQ(h.agent.commandRequests().size(), 6);
}

TEST(RemoteAgentCommands, EachOperationPostsItsCommand)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    const auto check = [&](QCoro::Task<void> task, const char *command, const QJsonObject &arguments) {
        SCOPED_TRACE(command);
        EXPECT_EQ(failureOf(std::move(task)), "succeeded");
        EXPECT_EQ(lastCommand(h), command);
        EXPECT_EQ(argumentsOfLast(h), arguments);
    };
    check(h.client->setFrequency(7074000), "set_frequency_hz", {{"frequency_hz", 7074000}, {"vfo", "A"}});
    check(h.client->setPrimaryFrequency(14074000), "set_frequency_hz", {{"frequency_hz", 14074000}, {"vfo", "A"}});
    check(h.client->setSecondaryFrequency(14076000), "set_frequency_hz", {{"frequency_hz", 14076000}, {"vfo", "B"}});
    check(h.client->setMode(" usb\n"), "set_mode", {{"mode", "USB"}, {"vfo", "A"}});
    check(h.client->setTransmit(true), "set_ptt", {{"enabled", true}});
    check(h.client->setTransmit(false), "set_ptt", {{"enabled", false}});
    check(h.client->setTransmit(CATTransmitMode::Data), "set_ptt", {{"enabled", true}});
    check(h.client->setTransmit(CATTransmitMode::Microphone), "set_ptt", {{"enabled", true}});
    check(h.client->setTransmit(CATTransmitMode::Tune), "station_tune", {});
    check(h.client->setReceiveVFO(1), "set_receive_vfo", {{"vfo", "B"}});
    check(h.client->setReceiveVFO(0), "set_receive_vfo", {{"vfo", "A"}});
    check(h.client->setCWSpeed(30), "set_cw_speed", {{"words_per_minute", 30}});
    check(h.client->sendCW("CQ TEST DL1ABC"), "send_cw", {{"text", "CQ TEST DL1ABC"}});
    check(h.client->clearCW(), "clear_cw", {});
    check(h.client->setRIT(true, -120, QStringLiteral(" b ")), "set_rit",
          {{"enabled", true}, {"offset_hz", -120}, {"vfo", "B"}});
    check(h.client->setXIT(false, 0, QStringLiteral("C")), "set_xit",
          {{"enabled", false}, {"offset_hz", 0}, {"vfo", "A"}});
    check(h.client->setRFPower(75), "set_rf_power", {{"watts", 75}});
    check(h.client->performStationAction(RemoteStationAction::Operate), "station_operate", {});
    check(h.client->performStationAction(RemoteStationAction::Cancel), "station_cancel", {});
    const FlexSpot spot = FlexSpot::make({.frequencyHz = 14025000,
                                          .callsign = "DL1ABC",
                                          .mode = "CW",
                                          .source = "RUMlogNG",
                                          .spotter = "K1XYZ",
                                          .comment = "up 2",
                                          .timestamp = 1700000000,
                                          .lifetimeSeconds = 600,
                                          .priority = 3,
                                          .colorHex = "#FF0000"});
    check(h.client->addSpot(spot), "add_spot",
          {{"frequency_hz", 14025000}, {"callsign", "DL1ABC"}, {"mode", "CW"}, {"source", "RUMlogNG"},
           {"spotter", "K1XYZ"}, {"comment", "up 2"}, {"timestamp", 1700000000}, {"lifetime_seconds", 600},
           {"priority", 3}, {"color", "#FF0000"}});

    const Request post = h.agent.commandRequests().last();
    EXPECT_EQ(post.method, "POST");
    EXPECT_EQ(post.header("authorization"), "Bearer test-token");
    EXPECT_EQ(post.header("content-type"), "application/json");
    EXPECT_EQ(post.header("accept"), "application/json");
    EXPECT_TRUE(post.requestID().startsWith("kivo-"));
}

TEST(RemoteAgentCommands, TheReceiveVFOIsBOnlyWhenBReceives)
{
    RemoteAgentHarness h;
    addVFOB(h.agent, false);
    ASSERT_TRUE(h.startAndWaitForStream());
    runTask(h.client->setFrequency(7080000));
    EXPECT_EQ(argumentsOfLast(h).value("vfo"), "A");
    runTask(h.client->setRIT(true, 50, std::nullopt));
    EXPECT_EQ(argumentsOfLast(h).value("vfo"), "A");

    // The agent keeps A where it was tuned: no check of that write sends it
    // again among the commands below.
    addVFOB(h.agent, true);
    h.agent.pushState();
    ASSERT_TRUE(waitUntil([&] { return h.lastSnapshot().slice == "B"; }));
    runTask(h.client->setFrequency(7080000));
    EXPECT_EQ(argumentsOfLast(h).value("vfo"), "B");
    runTask(h.client->setMode("cw"));
    EXPECT_EQ(argumentsOfLast(h), QJsonObject({{"mode", "CW"}, {"vfo", "B"}}));
    runTask(h.client->setXIT(true, 10, QString()));
    EXPECT_EQ(argumentsOfLast(h).value("vfo"), "B");
    runTask(h.client->setRIT(true, 10, QStringLiteral("a")));
    EXPECT_EQ(argumentsOfLast(h).value("vfo"), "A");
}

TEST(RemoteAgentCommands, SplitNamesTheTransmitFrequencyOnlyWhenTurnedOnWithB)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    runTask(h.client->setSplitTransmit(true));
    EXPECT_EQ(argumentsOfLast(h), QJsonObject({{"enabled", true}}));

    addVFOB(h.agent, false);
    h.agent.pushState();
    ASSERT_TRUE(waitUntil([&] { return h.lastSnapshot().vfos.size() == 2; }));
    runTask(h.client->setSplitTransmit(true));
    EXPECT_EQ(argumentsOfLast(h), QJsonObject({{"enabled", true}, {"tx_frequency_hz", 7074000}}));
    runTask(h.client->setSplitTransmit(false));
    EXPECT_EQ(argumentsOfLast(h), QJsonObject({{"enabled", false}}));
}

TEST(RemoteAgentCommands, OnlyAdvertisedCommandsAreSent)
{
    RemoteAgentHarness h;
    advertiseOnly(h.agent, {"set_ptt", "set_frequency_hz"});
    ASSERT_TRUE(h.startAndWaitForStream());
    EXPECT_EQ(failureOf(h.client->setTransmit(CATTransmitMode::Tune)), "Remote Agent does not advertise station_tune.");
    EXPECT_EQ(failureOf(h.client->setTransmit(CATTransmitMode::Data)), "succeeded");
    EXPECT_EQ(h.agent.commandRequests().size(), 1);
}

TEST(RemoteAgentCommands, TheStateOfAReplyIsApplied)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    h.agent.setCommandHandler("set_cw_speed", succeedWithoutState);
    runTask(h.client->setCWSpeed(40));
    EXPECT_EQ(runTask(h.client->cwSpeed()), 25);

    h.agent.setCommandHandler("set_cw_speed", [&](const Request &request) { return h.agent.applyCommand(request); });
    runTask(h.client->setCWSpeed(40));
    EXPECT_EQ(runTask(h.client->cwSpeed()), 40);
    EXPECT_EQ(h.lastSnapshot().remoteStationStatus->revision, 2);
}

TEST(RemoteAgentCommands, AFailedAttemptIsRetriedOnceWithTheSameRequest)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    int attempts = 0;
    h.agent.setCommandHandler("set_rf_power", [&](const Request &request) {
        if (attempts++ == 0)
            return Reply::json({{"detail", "Agent busy"}}, 503);
        return h.agent.applyCommand(request);
    });
    const int published = h.snapshots.size();
    EXPECT_EQ(failureOf(h.client->setRFPower(60)), "succeeded");
    const auto posts = h.agent.commandRequests("set_rf_power");
    ASSERT_EQ(posts.size(), 2);
    EXPECT_EQ(posts[0].requestID(), posts[1].requestID());
    EXPECT_EQ(posts[0].body, posts[1].body);
    EXPECT_EQ(h.snapshots.size(), published + 1);
}

TEST(RemoteAgentCommands, TwoFailuresReportTheLastOne)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    h.agent.setCommandHandler("station_operate",
                              [](const Request &) { return Reply::failure("Amplifier is not ready."); });
    EXPECT_EQ(failureOf(h.client->performStationAction(RemoteStationAction::Operate)), "Amplifier is not ready.");
    EXPECT_EQ(h.agent.commandRequests("station_operate").size(), 2);

    h.agent.setCommandHandler("station_standby", [](const Request &) { return Reply::json({{"success", false}}); });
    EXPECT_EQ(failureOf(h.client->performStationAction(RemoteStationAction::Standby)),
              "Remote Agent rejected the command.");

    int attempts = 0;
    h.agent.setCommandHandler("set_rit", [&](const Request &) {
        return ++attempts == 1 ? Reply::text("{", 200) : Reply::json({{"error", "x"}}, 500);
    });
    EXPECT_EQ(failureOf(h.client->setRIT(false, 0, std::nullopt)), "Remote Agent request failed (HTTP 500).");
}

TEST(RemoteAgentCommands, AnUndecodableStateInASuccessfulReplyIsRetried)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    int attempts = 0;
    h.agent.setCommandHandler("set_xit", [&](const Request &request) {
        if (attempts++ == 0)
            return Reply::json({{"success", true}, {"state", QJsonObject{{"protocol_version", 2}, {"revision", 9}}}});
        return h.agent.applyCommand(request);
    });
    EXPECT_EQ(failureOf(h.client->setXIT(true, 20, std::nullopt)), "succeeded");
    EXPECT_EQ(attempts, 2);
}

TEST(RemoteAgentCommands, NoRetryKeysTheTransmitterAfterStop)
{
    RemoteAgentTiming timing = RemoteAgentHarness::quickTiming();
    timing.commandRetryDelay = 150ms;
    RemoteAgentHarness h({}, timing);
    ASSERT_TRUE(h.startAndWaitForStream());
    h.agent.setCommandHandler("set_ptt", [](const Request &) { return Reply::text("overloaded", 500); });

    QStringList outcomes;
    startRecording(h.client->setTransmit(true), &outcomes);
    ASSERT_TRUE(waitUntil([&] { return h.agent.commandRequests("set_ptt").size() == 1; }));
    settle(30ms);
    runTask(h.client->stop());
    ASSERT_TRUE(waitUntil([&] { return !outcomes.isEmpty(); }));
    EXPECT_EQ(outcomes, QStringList({"The radio is not connected."}));
    settle(100ms);
    // The stop's own unkey is the only other set_ptt.
    const auto keys = h.agent.commandRequests("set_ptt");
    EXPECT_EQ(std::count_if(keys.begin(), keys.end(),
                            [](const Request &request) { return request.arguments().value("enabled").toBool(); }),
              1);
}

TEST(RemoteAgentCommands, NoRetryKeysTheTransmitterAfterAnUnkey)
{
    RemoteAgentTiming timing = RemoteAgentHarness::quickTiming();
    timing.commandRetryDelay = 150ms;
    RemoteAgentHarness h({}, timing);
    ASSERT_TRUE(h.startAndWaitForStream());
    h.agent.setCommandHandler("set_ptt", [&](const Request &request) {
        if (request.arguments().value("enabled").toBool())
            return Reply::text("overloaded", 500);
        return h.agent.applyCommand(request);
    });
    h.agent.setCommandHandler("send_cw", [](const Request &) { return Reply::text("overloaded", 500); });

    QStringList outcomes;
    startRecording(h.client->setTransmit(true), &outcomes);
    startRecording(h.client->sendCW("CQ CQ"), &outcomes);
    ASSERT_TRUE(waitUntil([&] { return h.agent.commandRequests().size() == 2; }));

    // The operator lets go while both wait for their second attempt.
    EXPECT_EQ(failureOf(h.client->setTransmit(false)), "succeeded");
    EXPECT_EQ(failureOf(h.client->clearCW()), "succeeded");
    ASSERT_TRUE(waitUntil([&] { return outcomes.size() == 2; }));
    EXPECT_EQ(outcomes, QStringList({"Remote Agent request failed (HTTP 500).",
                                     "Remote Agent request failed (HTTP 500)."}));
    settle(50ms);
    QStringList sent;
    for (const Request &request : h.agent.commandRequests())
        sent << request.command() + QLatin1Char(' ')
                    + QString::fromUtf8(QJsonDocument(request.arguments()).toJson(QJsonDocument::Compact));
    // The two first attempts travel side by side and may arrive either way round.
    ASSERT_EQ(sent.size(), 4);
    EXPECT_THAT(sent.mid(0, 2), ::testing::UnorderedElementsAre(R"(set_ptt {"enabled":true})",
                                                                R"(send_cw {"text":"CQ CQ"})"));
    EXPECT_EQ(sent.mid(2), QStringList({R"(set_ptt {"enabled":false})", "clear_cw {}"}));
}

TEST(RemoteAgentCommands, AnUnkeyIsRetriedLikeAnyCommand)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    int attempts = 0;
    h.agent.setCommandHandler("set_ptt", [&](const Request &request) {
        return attempts++ == 0 ? Reply::text("overloaded", 500) : h.agent.applyCommand(request);
    });
    EXPECT_EQ(failureOf(h.client->setTransmit(false)), "succeeded");
    EXPECT_EQ(h.agent.commandRequests("set_ptt").size(), 2);
}

TEST(RemoteAgentCommands, DestroyingTheClientEndsCommandsInFlight)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    h.agent.setCommandHandler("clear_cw", [](const Request &) { return Reply::silent(); });
    QStringList outcomes;
    startRecording(h.client->clearCW(), &outcomes);
    ASSERT_TRUE(waitUntil([&] { return h.agent.commandRequests("clear_cw").size() == 1; }));
    h.client.reset();
    ASSERT_TRUE(waitUntil([&] { return !outcomes.isEmpty(); }));
    EXPECT_EQ(outcomes, QStringList({"The radio is not connected."}));
}

// An answer may carry the state the agent read before applying the write:
// an unkey's then shows the key it undid. While a key given up on is still
// in doubt, that is no late act; a fresh state is asked for instead.
TEST(RemoteAgentCommands, AnUnkeysAnswerWithTheStateFromBeforeItIsNoLateAct)
{
    RemoteAgentTiming timing = RemoteAgentHarness::quickTiming();
    timing.requestTimeout = 1s;
    RemoteAgentHarness h({}, timing);
    ASSERT_TRUE(h.startAndWaitForStream());
    QString lost;
    bool keyed = false;
    int unkeysAfterKey = 0;
    h.agent.setCommandHandler("set_ptt", [&](const Request &request) {
        if (lost.isEmpty() || request.requestID() == lost) {
            lost = request.requestID();
            return Reply::silent();
        }
        const QJsonObject before = h.agent.state;
        Reply reply = h.agent.applyCommand(request);
        keyed |= request.arguments().value("enabled").toBool();
        if (keyed && !request.arguments().value("enabled").toBool() && ++unkeysAfterKey == 1)
            reply = Reply::json({{"success", true}, {"state", before}});
        return reply;
    });

    // A key never answered: the bridge's own unkey follows it, and it stays in doubt.
    EXPECT_NE(failureOf(h.client->setTransmit(true)), "succeeded");
    EXPECT_EQ(failureOf(h.client->setTransmit(true)), "succeeded");
    const int asked = h.agent.requestCount("GET", "/api/v1/state");
    EXPECT_EQ(failureOf(h.client->setTransmit(false)), "succeeded");
    const QString lateAct = QStringLiteral("The radio acted late on a key it had not answered; the transmitter is unkeyed");
    ASSERT_TRUE(waitUntil([&] {
        return h.events.contains(lateAct)
            || (h.agent.requestCount("GET", "/api/v1/state") > asked && !h.lastSnapshot().isTransmitting);
    }));
    EXPECT_FALSE(h.events.contains(lateAct));
    EXPECT_EQ(unkeysAfterKey, 1);
}
