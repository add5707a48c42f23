// Pending frequency and mode writes laid over the agent's state, and the
// confirmation of frequency writes.

#include "fakes/RemoteAgentHarness.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"

#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
using namespace std::chrono_literals;

namespace {

using Clock = PendingRadioWrites::Clock;
using Reply = FakeRemoteAgent::Reply;
using Request = FakeRemoteAgent::Request;
using State = RadioConnectionState;

RadioSnapshot twoVFOs()
{
    return RadioSnapshot({.frequencyHz = 14074000,
                          .mode = "DIGU",
                          .isConnected = true,
                          .slice = "A",
                          .station = "Maestro",
                          .transmitSlice = "A",
                          .transmitFrequencyHz = 14074000,
                          .vfos = QList<RadioVFO>{RadioVFO({.letter = "A",
                                                            .frequencyHz = 14074000,
                                                            .mode = "DIGU",
                                                            .isReceive = true,
                                                            .isTransmit = true}),
                                                  RadioVFO({.letter = "B", .frequencyHz = 7074000, .mode = "LSB"})}});
}

Reply unchangedState(FakeRemoteAgent &agent)
{
    return Reply::json({{"success", true}, {"state", agent.state}});
}

QList<qint64> frequencyWrites(const RemoteAgentHarness &h)
{
    QList<qint64> written;
    for (const Request &request : h.agent.commandRequests("set_frequency_hz"))
        written << request.arguments().value("frequency_hz").toInteger();
    return written;
}

RemoteAgentTiming checkTiming()
{
    RemoteAgentTiming timing = RemoteAgentHarness::quickTiming();
    timing.verificationDelay = 60ms;
    timing.verificationRecheckDelay = 100ms;
    return timing;
}

// An agent that accepts frequency writes but never shows them.
void ignoreFrequencyWrites(RemoteAgentHarness &h)
{
    h.agent.setCommandHandler("set_frequency_hz", [&h](const Request &) { return unchangedState(h.agent); });
}

} // namespace

TEST(PendingRadioWrites, OverlaysUntilConfirmed)
{
    PendingRadioWrites pending;
    const Clock::time_point t0 = Clock::now();
    pending.recordFrequency("a", 7080000, t0);

    RadioSnapshot shown = twoVFOs();
    pending.reconcile(shown, t0 + 1s);
    EXPECT_EQ(shown.vfos[0].frequencyHz, 7080000);
    EXPECT_EQ(shown.frequencyHz, 7080000);
    EXPECT_EQ(shown.transmitFrequencyHz, 14074000);
    EXPECT_EQ(pending.frequencies.size(), 1);

    RadioSnapshot confirmed = twoVFOs();
    confirmed.vfos[0].frequencyHz = 7080000;
    pending.reconcile(confirmed, t0 + 2s);
    EXPECT_TRUE(pending.frequencies.isEmpty());

    RadioSnapshot later = twoVFOs();
    pending.reconcile(later, t0 + 3s);
    EXPECT_EQ(later, twoVFOs());
}

TEST(PendingRadioWrites, ExpiresAfterItsLifetime)
{
    PendingRadioWrites pending;
    const Clock::time_point t0 = Clock::now();
    pending.recordFrequency("B", 7100000, t0);
    pending.recordMode("b", "cw", t0);
    EXPECT_EQ(pending.modes.value("B").value, "CW");

    RadioSnapshot before = twoVFOs();
    pending.reconcile(before, t0 + 9999ms);
    EXPECT_EQ(before.vfos[1].frequencyHz, 7100000);
    EXPECT_EQ(before.vfos[1].mode, "CW");
    // B is not the receive slice: the snapshot's own values stay.
    EXPECT_EQ(before.frequencyHz, 14074000);
    EXPECT_EQ(before.mode, "DIGU");

    RadioSnapshot at = twoVFOs();
    pending.reconcile(at, t0 + 10s);
    EXPECT_EQ(at, twoVFOs());
    EXPECT_TRUE(pending.frequencies.isEmpty());
    EXPECT_TRUE(pending.modes.isEmpty());
}

TEST(PendingRadioWrites, AWriteForAMissingVFOWaitsWithoutEffect)
{
    PendingRadioWrites pending;
    const Clock::time_point t0 = Clock::now();
    pending.recordFrequency("B", 7100000, t0);
    RadioSnapshot single(
        {.frequencyHz = 14074000, .mode = "DIGU", .isConnected = true, .slice = "A", .station = "Maestro"});
    const RadioSnapshot original = single;
    pending.reconcile(single, t0 + 5s);
    EXPECT_EQ(single, original);
    EXPECT_EQ(pending.frequencies.size(), 1);
    pending.reconcile(single, t0 + 10s);
    EXPECT_TRUE(pending.frequencies.isEmpty());
}

TEST(PendingRadioWrites, ModesConfirmInEitherCase)
{
    PendingRadioWrites pending;
    const Clock::time_point t0 = Clock::now();
    pending.recordMode("A", "usb", t0);
    RadioSnapshot snapshot = twoVFOs();
    snapshot.vfos[0].mode = "usb";
    pending.reconcile(snapshot, t0 + 1s);
    EXPECT_TRUE(pending.modes.isEmpty());
    EXPECT_EQ(snapshot.vfos[0].mode, "usb");
}

TEST(RemoteAgentPendingWrites, AWriteShowsAtOnceAndYieldsToTheAgentOnceConfirmed)
{
    RemoteAgentHarness h;
    ignoreFrequencyWrites(h);
    h.agent.setCommandHandler("set_mode", [&h](const Request &) { return unchangedState(h.agent); });
    ASSERT_TRUE(h.startAndWaitForStream());

    runTask(h.client->setFrequency(7074000));
    EXPECT_EQ(h.lastSnapshot().frequencyHz, 7074000);
    EXPECT_EQ(h.lastSnapshot().vfos[0].frequencyHz, 7074000);
    EXPECT_EQ(runTask(h.client->primaryFrequency()), 7074000);
    runTask(h.client->setMode("usb"));
    EXPECT_EQ(h.lastSnapshot().mode, "USB");

    // Stream frames that still show the old values keep the overlay.
    h.agent.pushState();
    settle(50ms);
    EXPECT_EQ(h.lastSnapshot().frequencyHz, 7074000);
    EXPECT_EQ(h.lastSnapshot().mode, "USB");

    // The agent shows the write: it is confirmed, and later values win.
    h.agent.followCommands = true;
    h.agent.applyCommand(h.agent.commandRequests("set_frequency_hz").last());
    h.agent.applyCommand(h.agent.commandRequests("set_mode").last());
    h.agent.pushState();
    ASSERT_TRUE(waitUntil([&] { return h.lastSnapshot().remoteStationStatus->revision == 3; }));
    h.agent.state = FakeRemoteAgent::defaultState();
    h.agent.pushState();
    ASSERT_TRUE(waitUntil([&] { return h.lastSnapshot().frequencyHz == 14074000; }));
    EXPECT_EQ(h.lastSnapshot().mode, "DIGU");
}

TEST(RemoteAgentPendingWrites, AnUnconfirmedModeExpires)
{
    RemoteAgentTiming timing = RemoteAgentHarness::quickTiming();
    timing.pendingWriteLifetime = 80ms;
    RemoteAgentHarness h({}, timing);
    h.agent.setCommandHandler("set_mode", [&h](const Request &) { return unchangedState(h.agent); });
    ASSERT_TRUE(h.startAndWaitForStream());
    runTask(h.client->setMode("CW"));
    EXPECT_EQ(h.lastSnapshot().mode, "CW");
    settle(120ms);
    h.agent.pushState();
    ASSERT_TRUE(waitUntil([&] { return h.lastSnapshot().mode == "DIGU"; }));
}

TEST(RemoteAgentFrequencyConfirmation, AWriteTheAgentNeverShowsIsResentThenWithdrawn)
{
    RemoteAgentHarness h({}, checkTiming());
    ignoreFrequencyWrites(h);
    ASSERT_TRUE(h.startAndWaitForStream());
    runTask(h.client->setFrequency(7074000));
    ASSERT_TRUE(h.waitForStatus(State::Ready, "FLEX did not confirm A at 7074000 Hz"));
    EXPECT_EQ(frequencyWrites(h), QList<qint64>({7074000, 7074000}));
    const auto writes = h.agent.commandRequests("set_frequency_hz");
    EXPECT_NE(writes[0].requestID(), writes[1].requestID());
    EXPECT_EQ(h.lastSnapshot().frequencyHz, 14074000);
    EXPECT_TRUE(h.lastSnapshot().isConnected);
}

TEST(RemoteAgentFrequencyConfirmation, AConfirmedWriteEndsSilently)
{
    RemoteAgentHarness h({}, checkTiming());
    ASSERT_TRUE(h.startAndWaitForStream());
    const int reports = h.states.size();
    runTask(h.client->setFrequency(7074000));
    settle(250ms);
    EXPECT_EQ(frequencyWrites(h), QList<qint64>({7074000}));
    EXPECT_EQ(h.states.size(), reports);
    EXPECT_EQ(h.lastSnapshot().frequencyHz, 7074000);
}

TEST(RemoteAgentFrequencyConfirmation, AWriteConfirmedAfterTheResendEndsSilently)
{
    RemoteAgentHarness h({}, checkTiming());
    int writes = 0;
    h.agent.setCommandHandler("set_frequency_hz", [&](const Request &request) {
        return ++writes == 1 ? unchangedState(h.agent) : h.agent.applyCommand(request);
    });
    ASSERT_TRUE(h.startAndWaitForStream());
    const int reports = h.states.size();
    runTask(h.client->setFrequency(7074000));
    ASSERT_TRUE(waitUntil([&] { return writes == 2; }));
    settle(300ms);
    EXPECT_EQ(writes, 2);
    EXPECT_EQ(h.states.size(), reports);
    EXPECT_EQ(h.lastSnapshot().frequencyHz, 7074000);
}

TEST(RemoteAgentFrequencyConfirmation, ANewerWriteReplacesTheOlderCheck)
{
    // The second write must land while the first check still waits, even on
    // a loaded machine running the sanitized build.
    RemoteAgentTiming timing = checkTiming();
    timing.verificationDelay = 3s;
    RemoteAgentHarness h({}, timing);
    ignoreFrequencyWrites(h);
    ASSERT_TRUE(h.startAndWaitForStream());
    runTask(h.client->setFrequency(7074000));
    settle(20ms);
    runTask(h.client->setFrequency(7080000));
    EXPECT_EQ(h.lastSnapshot().frequencyHz, 7080000);
    ASSERT_TRUE(h.waitForStatus(State::Ready, "FLEX did not confirm A at 7080000 Hz"));
    settle(100ms);
    EXPECT_EQ(frequencyWrites(h), QList<qint64>({7074000, 7080000, 7080000}));
    EXPECT_FALSE(h.states.contains(qMakePair(State::Ready, QStringLiteral("FLEX did not confirm A at 7074000 Hz"))));
}

TEST(RemoteAgentFrequencyConfirmation, StopDuringTheWaitEndsTheCheck)
{
    RemoteAgentHarness h({}, checkTiming());
    ignoreFrequencyWrites(h);
    ASSERT_TRUE(h.startAndWaitForStream());
    runTask(h.client->setFrequency(7074000));
    runTask(h.client->stop());
    settle(250ms);
    EXPECT_EQ(frequencyWrites(h), QList<qint64>({7074000}));
    EXPECT_EQ(h.states.last(), qMakePair(State::Stopped, QStringLiteral("Stopped")));
}

TEST(RemoteAgentFrequencyConfirmation, AFailedResendWithdrawsTheWrite)
{
    RemoteAgentHarness h({}, checkTiming());
    int writes = 0;
    h.agent.setCommandHandler("set_frequency_hz", [&](const Request &) {
        return ++writes == 1 ? unchangedState(h.agent) : Reply::failure("Radio is busy.");
    });
    ASSERT_TRUE(h.startAndWaitForStream());
    runTask(h.client->setFrequency(7074000));
    ASSERT_TRUE(h.waitForStatus(State::Ready, "Frequency retry failed: Radio is busy."));
    EXPECT_EQ(writes, 3);
    EXPECT_EQ(h.lastSnapshot().frequencyHz, 14074000);
}

TEST(RemoteAgentFrequencyConfirmation, AResendCutShortByStopEndsSilently)
{
    RemoteAgentHarness h({}, checkTiming());
    int writes = 0;
    h.agent.setCommandHandler("set_frequency_hz", [&](const Request &) {
        if (++writes == 1)
            return unchangedState(h.agent);
        Reply slow = Reply::failure("Radio is busy.");
        slow.delayMs = 150;
        return slow;
    });
    ASSERT_TRUE(h.startAndWaitForStream());
    runTask(h.client->setFrequency(7074000));
    ASSERT_TRUE(waitUntil([&] { return writes == 2; }));
    runTask(h.client->stop());
    settle(300ms);
    EXPECT_EQ(writes, 2);
    EXPECT_EQ(h.states.last(), qMakePair(State::Stopped, QStringLiteral("Stopped")));
    EXPECT_EQ(h.countStatus(State::Ready), 1);
}

TEST(RemoteAgentFrequencyConfirmation, AWriteInFlightAtStopReportsNothingAfterIt)
{
    RemoteAgentHarness h({}, checkTiming());
    // Applied but never answered: the write is surely in flight at stop.
    h.agent.setCommandHandler("set_frequency_hz", [&h](const Request &request) {
        Reply unanswered = h.agent.applyCommand(request);
        unanswered.delayMs = -1;
        return unanswered;
    });
    ASSERT_TRUE(h.startAndWaitForStream());
    QStringList outcomes;
    startRecording(h.client->setFrequency(7074000), &outcomes);
    ASSERT_TRUE(waitUntil([&] { return frequencyWrites(h).size() == 1; }));
    runTask(h.client->stop());
    const auto states = h.states;
    const auto snapshots = h.snapshots;
    ASSERT_TRUE(waitUntil([&] { return !outcomes.isEmpty(); }));
    settle(250ms);
    EXPECT_EQ(outcomes, QStringList({"The radio is not connected."}));
    EXPECT_EQ(h.states, states);
    EXPECT_EQ(h.snapshots, snapshots);
    EXPECT_EQ(h.states.last(), qMakePair(State::Stopped, QStringLiteral("Stopped")));
}

TEST(RemoteAgentFrequencyConfirmation, AfterAFailureTheRadioStaysDisconnectedUntilTheNextState)
{
    RemoteAgentTiming timing = checkTiming();
    // No retry comes while the check runs, however slow the machine: the
    // reconnect at the end is asked for.
    timing.backoffSecond = 1h;
    RemoteAgentHarness h({}, timing);
    ignoreFrequencyWrites(h);
    ASSERT_TRUE(h.startAndWaitForStream());
    h.agent.setStateHandler([](const Request &) { return Reply::text("down", 503); });
    h.agent.setCommandHandler("set_frequency_hz", [](const Request &) { return Reply::json({{"success", true}}); });
    h.agent.closeStreams();
    ASSERT_TRUE(h.waitForStatusStartingWith(State::Retrying, "Remote Agent stream interrupted: "));
    const QString reason = h.lastSnapshot().remoteStationStatus->inhibitors.value(0);
    const int marked = h.snapshots.size();

    // The command path still works while the stream waits to retry.
    runTask(h.client->setFrequency(7074000));
    ASSERT_TRUE(waitUntil([&] { return h.states.last().second.startsWith("FLEX did not confirm"); }));
    EXPECT_EQ(h.states.last(), qMakePair(State::Retrying, QStringLiteral("FLEX did not confirm A at 7074000 Hz")));
    ASSERT_GT(h.snapshots.size(), marked + 1);
    for (qsizetype i = marked; i < h.snapshots.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(h.snapshots[i].isConnected);
        EXPECT_EQ(h.snapshots[i].remoteStationStatus->inhibitors.value(0), reason);
    }
    EXPECT_EQ(h.snapshots[marked].frequencyHz, 7074000);
    EXPECT_EQ(h.lastSnapshot().frequencyHz, 14074000);

    // The next state from the agent replaces the marking.
    h.agent.setStateHandler({});
    h.client->reconnectNow();
    ASSERT_TRUE(waitUntil([&] { return h.lastSnapshot().isConnected; }));
}
