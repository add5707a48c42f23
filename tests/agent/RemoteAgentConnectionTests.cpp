// The agent client's connection: the state request, the stream, the
// watchdog, failures, reconnection with back-off, and stop.

#include "KivoCore/support/ReconnectBackoff.h"
#include "fakes/RemoteAgentHarness.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
using namespace std::chrono_literals;

namespace {

using State = RadioConnectionState;

QJsonObject withRadio(QJsonObject state, const QString &key, const QJsonValue &value)
{
    QJsonObject radio = state.value(QStringLiteral("radio")).toObject();
    radio.insert(key, value);
    state.insert(QStringLiteral("radio"), radio);
    return state;
}

QJsonObject onFrequency(QJsonObject state, qint64 hz)
{
    QJsonObject radio = state.value(QStringLiteral("radio")).toObject();
    QJsonObject vfos = radio.value(QStringLiteral("vfos")).toObject();
    QJsonObject a = vfos.value(QStringLiteral("A")).toObject();
    a.insert(QStringLiteral("frequency_hz"), hz);
    vfos.insert(QStringLiteral("A"), a);
    radio.insert(QStringLiteral("vfos"), vfos);
    state.insert(QStringLiteral("radio"), radio);
    return state;
}

QString firstInhibitor(const RadioSnapshot &snapshot)
{
    return snapshot.remoteStationStatus ? snapshot.remoteStationStatus->inhibitors.value(0) : QString();
}

} // namespace

TEST(RemoteAgentClientSetup, RefusesAnEmptyTokenAndABadAddress)
{
    const auto construct = [](const QString &address, const QString &token) {
        try {
            RemoteAgentClient client({.baseURL = address, .token = token, .ssl = QSslConfiguration()}, {}, {});
            return QStringLiteral("built");
        } catch (const KivoError &error) {
            return error.message();
        }
    };
    EXPECT_EQ(construct(QStringLiteral("https://agentpc"), QStringLiteral("  \n")),
              "Enter the Remote Agent bearer token.");
    EXPECT_EQ(construct(QStringLiteral("http://agentpc"), QStringLiteral("")),
              "Enter the HTTPS URL published by Tailscale Serve without credentials or query parameters.");
    EXPECT_EQ(construct(QStringLiteral("https://agentpc"), QStringLiteral("t")), "built");
}

TEST(RemoteAgentClientSetup, ShowsThePlaceholderBeforeAnyState)
{
    RemoteAgentHarness h;
    const RadioSnapshot snapshot = runTask(h.client->snapshot());
    EXPECT_EQ(snapshot, RemoteAgentClient::placeholderSnapshot());
    EXPECT_EQ(snapshot.frequencyHz, 14074000);
    EXPECT_EQ(snapshot.mode, "DIGU");
    EXPECT_FALSE(snapshot.isConnected);
    EXPECT_EQ(snapshot.remoteStationStatus->inhibitors, QStringList({"Agent state is not available"}));
    EXPECT_EQ(snapshot.remoteStationStatus->alarmSummary, "ALARM unknown");
    EXPECT_EQ(snapshot.remoteStationStatus->routeDetail, "Route unavailable");
    EXPECT_EQ(runTask(h.client->primaryFrequency()), 14074000);
    EXPECT_EQ(runTask(h.client->secondaryFrequency()), std::nullopt);
    EXPECT_EQ(runTask(h.client->cwSpeed()), 25);
    settle(20ms);
    EXPECT_TRUE(h.states.isEmpty());
    EXPECT_TRUE(h.agent.requests.isEmpty());
}

TEST(RemoteAgentConnection, ConnectsUnderABasePathAndOpensTheStream)
{
    RemoteAgentHarness h(QStringLiteral("/agent"));
    h.client->start();
    h.client->start();
    ASSERT_TRUE(h.startAndWaitForStream());
    EXPECT_EQ(h.states.value(0), qMakePair(State::Connecting, QStringLiteral("Connecting to Remote Station Agent")));
    EXPECT_EQ(h.countStatus(State::Connecting), 1);
    EXPECT_EQ(h.agent.requestCount("GET", QStringLiteral("/api/v1/state")), 1);

    const FakeRemoteAgent::Request &get = h.agent.requests.value(0);
    EXPECT_EQ(get.path, "/agent/api/v1/state");
    EXPECT_EQ(get.header("authorization"), "Bearer test-token");
    EXPECT_EQ(get.header("accept"), "application/json");
    const FakeRemoteAgent::Request &upgrade = h.agent.requests.value(1);
    EXPECT_EQ(upgrade.path, "/agent/api/v1/stream");
    EXPECT_EQ(upgrade.header("authorization"), "Bearer test-token");

    const RadioSnapshot snapshot = runTask(h.client->snapshot());
    EXPECT_TRUE(snapshot.isConnected);
    EXPECT_EQ(snapshot.station, "Maestro");
    EXPECT_TRUE(snapshot.remoteStationStatus->inhibitors.isEmpty());
    EXPECT_TRUE(snapshot.transportReceivedAt.has_value());
}

TEST(RemoteAgentConnection, StreamFramesUpdateTheSnapshot)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());

    h.agent.state = withRadio(onFrequency(h.agent.state, 7074000), QStringLiteral("cw_speed"), 32);
    h.agent.pushState();
    ASSERT_TRUE(waitUntil([&] { return h.lastSnapshot().frequencyHz == 7074000; }));
    EXPECT_EQ(runTask(h.client->primaryFrequency()), 7074000);
    EXPECT_EQ(runTask(h.client->cwSpeed()), 32);

    // Binary frames carry the same messages.
    h.agent.sendBinary(QJsonDocument(QJsonObject{{"type", "state"}, {"state", onFrequency(h.agent.state, 3573000)}})
                           .toJson());
    ASSERT_TRUE(waitUntil([&] { return h.lastSnapshot().frequencyHz == 3573000; }));

    // A state equal to the last one is published all the same.
    const int published = h.snapshots.size();
    h.agent.sendBinary(QJsonDocument(QJsonObject{{"type", "state"}, {"state", onFrequency(h.agent.state, 3573000)}})
                           .toJson());
    ASSERT_TRUE(waitUntil([&] { return h.snapshots.size() == published + 1; }));

    // Other message types only count as heartbeats.
    h.agent.sendText(R"({"type":"heartbeat"})");
    h.agent.sendText(R"({"type":"state"})");
    settle(50ms);
    EXPECT_EQ(h.snapshots.size(), published + 1);
    EXPECT_EQ(h.countStatus(State::Retrying), 0);
}

TEST(RemoteAgentConnection, ABadFrameFailsTheStreamAndReconnects)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    h.agent.sendText("ping");
    ASSERT_TRUE(h.waitForStatusStartingWith(
        State::Retrying,
        QStringLiteral("Remote Agent stream interrupted: Could not decode \"document\": the data is not valid JSON")));
    EXPECT_TRUE(h.states.last().second.endsWith(". Retrying in 1.0 s"));
    EXPECT_TRUE(firstInhibitor(h.lastSnapshot()).startsWith("Remote Agent stream interrupted: "));

    // The retry connects again and the success resets the back-off.
    ASSERT_TRUE(waitUntil([&] { return h.countStatus(State::Ready) == 2 && h.agent.streamCount() == 1; }));
    EXPECT_EQ(h.agent.requestCount("GET", QStringLiteral("/api/v1/state")), 2);
    EXPECT_TRUE(h.lastSnapshot().isConnected);

    QJsonObject future = h.agent.state;
    future.insert(QStringLiteral("protocol_version"), 2);
    h.agent.sendText(QJsonDocument(QJsonObject{{"type", "state"}, {"state", future}}).toJson());
    ASSERT_TRUE(h.waitForStatus(State::Retrying,
                                QStringLiteral("Remote Agent stream interrupted: Remote Agent protocol version 2 "
                                               "is not supported. Retrying in 1.0 s")));
}

TEST(RemoteAgentConnection, ADroppedStreamIsRetriedOnce)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    h.agent.closeStreams();
    ASSERT_TRUE(h.waitForStatusStartingWith(State::Retrying, QStringLiteral("Remote Agent stream interrupted: ")));
    ASSERT_TRUE(waitUntil([&] { return h.countStatus(State::Ready) == 2; }));
    // The second stream's upgrade comes after the second Ready.
    ASSERT_TRUE(waitUntil([&] { return h.agent.requestCount("GET", QStringLiteral("/api/v1/stream")) >= 2; }));
    // The close and the socket's error arrive together; they count as one.
    EXPECT_EQ(h.countStatus(State::Retrying), 1);
    EXPECT_EQ(h.agent.requestCount("GET", QStringLiteral("/api/v1/stream")), 2);
}

TEST(RemoteAgentConnection, ASilentStreamTimesOut)
{
    RemoteAgentTiming timing = RemoteAgentHarness::quickTiming();
    timing.watchdogInterval = 20ms;
    // Opening the stream counts as silence too, and the sanitized build on a
    // loaded machine can take over a second for it.
    timing.heartbeatTimeout = 3s;
    RemoteAgentHarness h({}, timing);
    ASSERT_TRUE(h.startAndWaitForStream());

    // Frames keep it alive past the time-out, each sent once the client
    // has read the one before: a loaded machine does not widen the gaps.
    QElapsedTimer alive;
    alive.start();
    const auto past = timing.heartbeatTimeout + 10 * timing.watchdogInterval;
    while (alive.elapsed() < past.count() && h.countStatus(State::Retrying) == 0) {
        const int answered = h.agent.pongs;
        h.agent.sendText(R"({"type":"heartbeat"})");
        h.agent.ping();
        ASSERT_TRUE(waitUntil([&] { return h.agent.pongs > answered; }));
    }
    EXPECT_EQ(h.countStatus(State::Retrying), 0);

    ASSERT_TRUE(h.waitForStatus(State::Retrying,
                                QStringLiteral("Remote Agent stream heartbeat timed out. Retrying in 1.0 s")));
    const auto marked = std::find_if(h.snapshots.begin(), h.snapshots.end(), [](const RadioSnapshot &s) {
        return firstInhibitor(s) == QLatin1String("Remote Agent stream heartbeat timed out");
    });
    ASSERT_NE(marked, h.snapshots.end());
    EXPECT_FALSE(marked->isConnected);
    EXPECT_FALSE(marked->remoteStationStatus->radioKnown);
    EXPECT_TRUE(marked->remoteStationStatus->radioStale);
}

TEST(RemoteAgentConnection, FailuresBackOffAndASuccessResetsTheSequence)
{
    RemoteAgentTiming timing = RemoteAgentHarness::quickTiming();
    timing.jitter = [] { return 1.0; };
    RemoteAgentHarness h({}, timing);
    int failuresLeft = 3;
    h.agent.setStateHandler([&](const FakeRemoteAgent::Request &) {
        if (failuresLeft-- > 0)
            return FakeRemoteAgent::Reply::json({{"detail", "Radio link is down"}}, 503);
        return FakeRemoteAgent::Reply::json({{"success", true}, {"state", h.agent.state}});
    });
    ASSERT_TRUE(h.startAndWaitForStream());

    QStringList retries;
    for (const auto &entry : h.states) {
        if (entry.first == State::Retrying)
            retries << entry.second;
    }
    EXPECT_EQ(retries, QStringList({"Radio link is down. Retrying in 1.2 s", "Radio link is down. Retrying in 2.5 s",
                                    "Radio link is down. Retrying in 5.0 s"}));
    EXPECT_EQ(firstInhibitor(h.snapshots.value(2)), "Radio link is down");

    h.agent.closeStreams();
    ASSERT_TRUE(h.waitForStatusStartingWith(State::Retrying, QStringLiteral("Remote Agent stream interrupted")));
    EXPECT_TRUE(h.states.last().second.endsWith("Retrying in 1.2 s"));
}

TEST(RemoteAgentConnection, BackOffGrowsToThirtySecondsPlusJitter)
{
    // The client's n-th failure in a row is attempt n of the shared schedule.
    QList<double> shortest;
    QList<double> longest;
    for (qint64 attempt = 1; attempt <= 8; ++attempt) {
        shortest << reconnectDelaySeconds(attempt, 0.0);
        longest << reconnectDelaySeconds(attempt, 1.0);
    }
    EXPECT_EQ(shortest, QList<double>({1, 2, 4, 8, 16, 30, 30, 30}));
    EXPECT_EQ(longest, QList<double>({1.25, 2.5, 5, 10, 20, 37.5, 37.5, 37.5}));
    for (int i = 0; i < 50; ++i) {
        const double drawn = drawReconnectDelaySeconds(3);
        EXPECT_GE(drawn, 4.0);
        EXPECT_LE(drawn, 5.0);
    }
}

TEST(RemoteAgentConnection, ReconnectNowMarksDisconnectedThenConnectsAgain)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    h.states.clear();
    h.snapshots.clear();

    h.client->reconnectNow();
    ASSERT_FALSE(h.snapshots.isEmpty());
    EXPECT_EQ(firstInhibitor(h.snapshots.first()), "Manual reconnect requested");
    EXPECT_FALSE(h.snapshots.first().isConnected);
    EXPECT_TRUE(h.states.isEmpty());

    ASSERT_TRUE(waitUntil([&] { return h.countStatus(State::Ready) == 1 && h.agent.streamCount() == 1; }));
    EXPECT_EQ(h.states.first(), qMakePair(State::Connecting, QStringLiteral("Connecting to Remote Station Agent")));
    EXPECT_EQ(h.agent.requestCount("GET", QStringLiteral("/api/v1/state")), 2);
    EXPECT_TRUE(h.lastSnapshot().isConnected);
}

TEST(RemoteAgentConnection, ReconnectNowWhileStoppedStarts)
{
    RemoteAgentHarness h;
    h.client->reconnectNow();
    ASSERT_TRUE(h.waitForStatus(State::Ready, QStringLiteral("Remote Station Agent connected")));
    EXPECT_EQ(h.agent.requestCount("GET", QStringLiteral("/api/v1/state")), 1);
}

TEST(RemoteAgentConnection, StopClosesTheStreamAndMarksTheRadioStopped)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    runTask(h.client->stop());
    EXPECT_EQ(h.states.last(), qMakePair(State::Stopped, QStringLiteral("Stopped")));
    EXPECT_FALSE(h.lastSnapshot().isConnected);
    EXPECT_EQ(firstInhibitor(h.lastSnapshot()), "Stopped");
    ASSERT_TRUE(waitUntil([&] { return h.agent.streamCount() == 0; }));

    const int published = h.snapshots.size();
    h.agent.pushState();
    settle(100ms);
    EXPECT_EQ(h.snapshots.size(), published);
    EXPECT_EQ(h.agent.requestCount("GET", QStringLiteral("/api/v1/state")), 1);
}

TEST(RemoteAgentConnection, ALateStateReplyAfterStopChangesNothing)
{
    RemoteAgentHarness h;
    h.agent.setStateHandler([&](const FakeRemoteAgent::Request &) {
        FakeRemoteAgent::Reply reply = FakeRemoteAgent::Reply::json({{"success", true}, {"state", h.agent.state}});
        reply.delayMs = 100;
        return reply;
    });
    h.client->start();
    ASSERT_TRUE(waitUntil([&] { return h.agent.requests.size() == 1; }));
    runTask(h.client->stop());
    const auto states = h.states;
    const auto snapshots = h.snapshots;
    settle(250ms);
    EXPECT_EQ(h.states, states);
    EXPECT_EQ(h.snapshots, snapshots);
    EXPECT_EQ(h.agent.streamCount(), 0);
}

TEST(RemoteAgentConnection, ALateFailureAfterStopIsIgnored)
{
    RemoteAgentHarness h;
    h.agent.setStateHandler([](const FakeRemoteAgent::Request &) {
        FakeRemoteAgent::Reply reply = FakeRemoteAgent::Reply::text("busy", 500);
        reply.delayMs = 100;
        return reply;
    });
    h.client->start();
    ASSERT_TRUE(waitUntil([&] { return h.agent.requests.size() == 1; }));
    runTask(h.client->stop());
    settle(250ms);
    EXPECT_EQ(h.countStatus(State::Retrying), 0);
    EXPECT_EQ(h.states.last().first, State::Stopped);
    EXPECT_EQ(h.agent.requests.size(), 1);
}

TEST(RemoteAgentConnection, AStateReplyForAReplacedAttemptIsDropped)
{
    RemoteAgentHarness h;
    int served = 0;
    h.agent.setStateHandler([&](const FakeRemoteAgent::Request &) {
        // The first answer is slow and names another station.
        const bool first = served++ == 0;
        QJsonObject state = withRadio(h.agent.state, QStringLiteral("station_name"),
                                      first ? QStringLiteral("Old") : QStringLiteral("Maestro"));
        FakeRemoteAgent::Reply reply = FakeRemoteAgent::Reply::json({{"success", true}, {"state", state}});
        reply.delayMs = first ? 150 : 0;
        return reply;
    });
    h.client->start();
    ASSERT_TRUE(waitUntil([&] { return h.agent.requests.size() == 1; }));
    h.client->reconnectNow();
    ASSERT_TRUE(waitUntil([&] { return h.countStatus(State::Ready) == 1; }));
    settle(250ms);
    EXPECT_EQ(h.countStatus(State::Ready), 1);
    for (const RadioSnapshot &snapshot : h.snapshots)
        EXPECT_NE(snapshot.station, "Old");
}

TEST(RemoteAgentConnection, RefusedStreamIsRetried)
{
    RemoteAgentHarness h;
    h.agent.refuseStreams = true;
    h.client->start();
    ASSERT_TRUE(h.waitForStatusStartingWith(State::Retrying, QStringLiteral("Remote Agent stream interrupted: ")));
    h.agent.refuseStreams = false;
    ASSERT_TRUE(waitUntil([&] { return h.agent.streamCount() == 1; }));
}

TEST(RemoteAgentConnection, UnansweredRequestsTimeOut)
{
    // Only the time-out meant to run out is short: an answered request may
    // take a second on a loaded machine.
    RemoteAgentTiming timing = RemoteAgentHarness::quickTiming();
    timing.requestTimeout = 100ms;
    RemoteAgentHarness h({}, timing);
    h.agent.setStateHandler([](const FakeRemoteAgent::Request &) { return FakeRemoteAgent::Reply::silent(); });
    h.client->start();
    // The reason is a sentence of its own; the status adds ". Retrying in" all the same.
    ASSERT_TRUE(h.waitForStatus(State::Retrying, QStringLiteral("The request timed out. Retrying in 1.0 s")));

    timing = RemoteAgentHarness::quickTiming();
    timing.streamOpenTimeout = 100ms;
    RemoteAgentHarness unopened({}, timing);
    unopened.agent.ignoreStreams = true;
    unopened.client->start();
    ASSERT_TRUE(unopened.waitForStatus(State::Retrying, QStringLiteral("Remote Agent stream interrupted: The request "
                                                                       "timed out. Retrying in 1.0 s")));
}

TEST(RemoteAgentConnection, AnUnreachableAgentIsRetried)
{
    RemoteAgentHarness h;
    const QString address = h.agent.baseURL();
    h.agent.close();
    h.client->start();
    ASSERT_TRUE(h.waitForStatusStartingWith(State::Retrying, QStringLiteral("Connection refused")));
    EXPECT_TRUE(h.states.last().second.endsWith(". Retrying in 1.0 s"));
}

TEST(RemoteAgentDisconnectMarking, PutsTheReasonFirstAndOnce)
{
    RadioSnapshot snapshot = RemoteAgentClient::placeholderSnapshot();
    snapshot.isConnected = true;
    snapshot.isTransmitting = true;
    snapshot.remoteStationStatus->radioKnown = true;
    snapshot.remoteStationStatus->stationBound = true;
    snapshot.remoteStationStatus->inhibitors = {"A", "X", "B"};
    const RadioSnapshot marked = RemoteAgentClient::markedDisconnected(snapshot, QStringLiteral("X"));
    EXPECT_EQ(marked.remoteStationStatus->inhibitors, QStringList({"X", "A", "B"}));
    EXPECT_FALSE(marked.isConnected);
    EXPECT_FALSE(marked.isTransmitting);
    EXPECT_FALSE(marked.remoteStationStatus->radioKnown);
    EXPECT_TRUE(marked.remoteStationStatus->radioStale);
    EXPECT_TRUE(marked.remoteStationStatus->stationBound);

    RadioSnapshot plain({.frequencyHz = 7074000,
                         .mode = "LSB",
                         .isConnected = true,
                         .isTransmitting = true,
                         .slice = "A",
                         .station = "Station"});
    RadioSnapshot expected = plain;
    expected.isConnected = false;
    expected.isTransmitting = false;
    EXPECT_EQ(RemoteAgentClient::markedDisconnected(plain, QStringLiteral("X")), expected);
}
