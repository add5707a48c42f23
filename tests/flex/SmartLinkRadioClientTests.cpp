#include "KivoCore/flex/FlexRadioClient.h"
#include "KivoCore/flex/SmartLinkRadioClient.h"

#include "fakes/SmartLinkPeers.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"
#include "support/ThrownMessage.h"

#include <QSslSocket>

#include <gtest/gtest.h>

#include <memory>

namespace kivo {
namespace {

using namespace std::chrono_literals;
using test::FakeFlexRadio;
using test::FakeIdentityProvider;
using test::FakeSmartLinkBroker;
using test::runTask;
using test::settle;
using test::SmartLinkPeers;
using test::thrownMessage;
using test::waitUntil;
using ::testing::ElementsAre;

const QString stationHandle = QStringLiteral("0x1A2B3C4D");
const QString authenticating = QStringLiteral("authenticating: Authenticating with SmartLink");
const QString discovering = QStringLiteral("discovering: Finding your remote FlexRadio");
const QString chosen = QStringLiteral("connecting: Connecting to Shack Radio (FLEX-6600)");
const QString secured = QStringLiteral("connecting: Secure transport connected; validating SmartLink session");
const QString ready = QStringLiteral("ready: Connected; waiting for Maestro slice A");
const QString disconnected = QStringLiteral("snapshot: disconnected");
const QString stopped = QStringLiteral("stopped: Stopped");
const QString noSavedSession =
    QStringLiteral("failed: No saved SmartLink session is available. Enter the password once.");


struct ClientOptions {
    QString email = SmartLinkPeers::email;
    QString password = QStringLiteral(" secret ");
    QString preferredSerial;
    QString slice = QStringLiteral("A");
    std::shared_ptr<SmartLinkAuthenticator> authenticator;
    std::chrono::milliseconds backoffSecond = 1ms;
    std::chrono::milliseconds stableConnection = 1h;
    double random = 0.0;
};

class SmartLinkRadioClientTest : public ::testing::Test {
protected:
    using Options = ClientOptions;

    void SetUp() override
    {
        if (!QSslSocket::supportsSsl())
            GTEST_SKIP() << "no TLS backend";
        ASSERT_TRUE(peers.listen());
    }

    void TearDown() override
    {
        if (client)
            runTask(client->stop());
        client.reset();
    }

    void makeClient(Options options = {})
    {
        SmartLinkRadioClient::Timing timing;
        timing.backoffSecond = options.backoffSecond;
        timing.stableConnection = options.stableConnection;
        timing.radio.commandTimeout = 500ms;
        timing.radio.closingCommandTimeout = 500ms;
        timing.radio.heartbeatInterval = 1h;
        timing.radio.handleWait = 160ms;
        const double random = options.random;
        client = std::make_unique<SmartLinkRadioClient>(
            SmartLinkRadioClient::Options{.email = options.email,
                                          .password = options.password,
                                          .preferredSerial = options.preferredSerial,
                                          .stationName = QStringLiteral("Maestro"),
                                          .sliceLetter = options.slice,
                                          .authenticator =
                                              options.authenticator ? options.authenticator : peers.authenticator(),
                                          .onRadioSelected =
                                              [this](const SmartLinkRadio &radio) {
                                                  selected << radio;
                                                  events << QStringLiteral("selected: ") + radio.serial;
                                              },
                                          .pinStore = peers.pinStore(),
                                          .brokerEndpoint = peers.brokerEndpoint(),
                                          .timing = timing,
                                          .random = [random] { return random; }},
            [this](RadioConnectionState state, const QString &sentence) {
                events << rawValue(state) + QStringLiteral(": ") + sentence;
            },
            [this](const RadioSnapshot &snapshot) {
                events << (snapshot.isConnected
                               ? QStringLiteral("snapshot: connected %1").arg(snapshot.frequencyHz)
                               : disconnected);
            });
    }

    // Signed in by password, radio chosen, session validated and bootstrapped.
    void startReady(Options options = {})
    {
        peers.identity.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-1"), QStringLiteral("refresh-1")));
        makeClient(std::move(options));
        client->start();
        ASSERT_TRUE(waitFor(ready));
    }

    // The operator's station appears with slice A (followed) and slice B.
    void follow()
    {
        peers.radio.sendLine(
            FakeFlexRadio::clientLine(stationHandle, QStringLiteral("CID-1"), QStringLiteral("Maestro")));
        peers.radio.sendLine(FakeFlexRadio::sliceLine(0, stationHandle, QStringLiteral("A"),
                                                      QStringLiteral("10.136000"), QStringLiteral("DIGU"), true, true));
        peers.radio.sendLine(FakeFlexRadio::sliceLine(1, stationHandle, QStringLiteral("B"),
                                                      QStringLiteral("7.074000"), QStringLiteral("USB"), false, false));
        ASSERT_TRUE(waitFor(QStringLiteral("snapshot: connected 10136000")));
        ASSERT_TRUE(peers.radio.waitForCommand(QStringLiteral("client bind client_id=CID-1")));
        peers.radio.clearReceived();
    }

    bool waitFor(const QString &event, int times = 1, std::chrono::milliseconds timeout = test::patience)
    {
        return waitUntil([&] { return events.count(event) >= times; }, timeout);
    }

    bool waitForPrefix(const QString &prefix, int times = 1)
    {
        return waitUntil([&] { return countPrefix(prefix) >= times; });
    }

    int countPrefix(const QString &prefix) const
    {
        int found = 0;
        for (const QString &event : events)
            found += event.startsWith(prefix) ? 1 : 0;
        return found;
    }

    QStringList eventsFrom(qsizetype index) const { return events.mid(index); }

    QString connectingToRadio() const
    {
        return QStringLiteral("connecting: Connecting to 127.0.0.1:%1").arg(peers.radio.port());
    }

    // One full attempt, from sign-in to a validated radio session.
    QStringList attempt() const
    {
        // The radio tells its interlock state on subscription: a snapshot.
        return {authenticating, discovering, QStringLiteral("selected: ") + SmartLinkPeers::serial,
                chosen,         connectingToRadio(), secured, disconnected, ready};
    }

    SmartLinkPeers peers;
    std::unique_ptr<SmartLinkRadioClient> client;
    QStringList events;
    QList<SmartLinkRadio> selected;
};

// ---------------------------------------------------------------- the chain

TEST_F(SmartLinkRadioClientTest, ChainsSignInBrokerAndAPinnedRadioSession)
{
    startReady();

    EXPECT_EQ(events, attempt());
    SmartLinkRadio expected;
    expected.serial = SmartLinkPeers::serial;
    expected.nickname = QStringLiteral("Shack Radio");
    expected.model = QStringLiteral("FLEX-6600");
    expected.status = QStringLiteral("Available");
    expected.publicIP = QStringLiteral("127.0.0.1");
    expected.tlsPort = peers.radio.port();
    expected.udpPort = 4993;
    EXPECT_THAT(selected, ElementsAre(expected));

    // The password as typed, the identity token to the broker, the broker's
    // handle to the radio, and the radio's certificate pinned under its serial.
    ASSERT_EQ(peers.identity.requests().size(), 1);
    EXPECT_EQ(peers.identity.requests()[0].json().value(u"password").toString(), QStringLiteral(" secret "));
    EXPECT_EQ(peers.broker.receivedLines(),
              (QStringList{QStringLiteral("application register name=Quend-Kivo platform=macOS token=id-1"),
                           QStringLiteral("application connect serial=1234-5678-9012 hole_punch_port=0")}));
    EXPECT_EQ(peers.radio.commandTexts().value(0), QStringLiteral("wan validate handle=wan-handle-1"));
    EXPECT_EQ(peers.pin(), SmartLinkPeers::radioFingerprint());

    follow();
    const RadioSnapshot shown = runTask(client->snapshot());
    EXPECT_TRUE(shown.isConnected);
    EXPECT_EQ(shown.frequencyHz, 10136000);
    EXPECT_EQ(runTask(client->primaryFrequency()), 10136000);
}

TEST_F(SmartLinkRadioClientTest, TrimsThePreferredSerialAndUpperCasesTheSlice)
{
    peers.broker.radioListLine = FakeSmartLinkBroker::radioList(
        {peers.radioEntry(QStringLiteral("OTHER-1")), peers.radioEntry(SmartLinkPeers::serial, "In_Use")});
    Options options;
    options.preferredSerial = QStringLiteral("  1234-5678-9012\n");
    options.slice = QStringLiteral("a");
    startReady(options);

    EXPECT_EQ(peers.broker.receivedLinesStartingWith(QStringLiteral("application connect")),
              QStringList{QStringLiteral("application connect serial=1234-5678-9012 hole_punch_port=0")});
    EXPECT_EQ(runTask(client->snapshot()).slice, QStringLiteral("A"));
}

TEST_F(SmartLinkRadioClientTest, ARadioWhoseCertificateIsNotThePinnedOneIsRefused)
{
    runTask(peers.pinStore().verifyOrTrustFirstUse(SmartLinkPeers::serial, QByteArray("another radio")));
    const auto pinned = peers.pin();
    peers.identity.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-1"), QStringLiteral("refresh-1")));
    Options options;
    options.backoffSecond = 1h;
    makeClient(options);
    client->start();

    ASSERT_TRUE(waitFor(QStringLiteral("retrying: Connection failed: The radio's certificate is not the trusted "
                                       "one. Retrying in 1.0 s")));
    EXPECT_FALSE(events.contains(secured));
    EXPECT_TRUE(peers.radio.receivedLines().isEmpty());
    EXPECT_EQ(peers.pin(), pinned);
}

// ---------------------------------------------------------------- sign-in

TEST_F(SmartLinkRadioClientTest, ARefusedSignInIsFinalUntilAReconnectRequest)
{
    peers.identity.enqueue(FakeIdentityProvider::answer(
        403, QJsonObject{{"error", "invalid_grant"}, {"error_description", "Wrong email or password."}}));
    makeClient();
    client->start();
    ASSERT_TRUE(waitFor(QStringLiteral("failed: Wrong email or password.")));
    settle(30ms);
    client->start();
    settle(30ms);
    EXPECT_EQ(events, (QStringList{authenticating, QStringLiteral("failed: Wrong email or password.")}));
    EXPECT_EQ(peers.broker.connectionCount(), 0);

    // The password was used once and is gone: a new attempt needs a saved session.
    client->reconnectNow();
    ASSERT_TRUE(waitFor(noSavedSession));
    EXPECT_EQ(peers.identity.requests().size(), 1);
}

TEST_F(SmartLinkRadioClientTest, AnEmptyEmailFailsWithoutARequest)
{
    Options options;
    options.email = QStringLiteral(" \n");
    makeClient(options);
    client->start();
    ASSERT_TRUE(waitFor(QStringLiteral("failed: SmartLink email and password are required.")));
    EXPECT_TRUE(peers.identity.requests().isEmpty());
}

TEST_F(SmartLinkRadioClientTest, NoNetworkAtTheFirstSignInRetriesByRefreshOnly)
{
    Options options;
    options.authenticator = peers.unreachableAuthenticator();
    makeClient(options);
    client->start();

    ASSERT_TRUE(waitFor(noSavedSession));
    ASSERT_EQ(events.size(), 5);
    EXPECT_EQ(events[0], authenticating);
    EXPECT_EQ(events[1], disconnected);
    EXPECT_THAT(events[2], test::QStartsWith(QStringLiteral("retrying: ")));
    EXPECT_THAT(events[2], test::QContains(QStringLiteral(". Retrying in 1.0 s")));
    EXPECT_EQ(events[3], authenticating);
}

// ---------------------------------------------------------------- failures and back-off

TEST_F(SmartLinkRadioClientTest, ARadioDropStartsTheChainAgainFromSignInByRefresh)
{
    startReady();
    follow();
    peers.identity.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-2")));
    const qsizetype before = events.size();
    peers.radio.dropClient();
    ASSERT_TRUE(waitFor(ready, 2));

    // Signed in again with the refresh token the first sign-in saved.
    ASSERT_EQ(peers.identity.requests().size(), 2);
    EXPECT_EQ(peers.identity.requests()[1].json(),
              (QJsonObject{{"grant_type", "refresh_token"},
                           {"refresh_token", "refresh-1"},
                           {"client_id", SmartLinkAuthenticator::clientID()}}));
    EXPECT_TRUE(peers.broker.receivedLines().contains(
        QStringLiteral("application register name=Quend-Kivo platform=macOS token=id-2")));

    const QStringList expected =
        QStringList{disconnected, QStringLiteral("retrying: Radio closed the connection. Retrying in 1.0 s")}
        + attempt();
    EXPECT_EQ(eventsFrom(before), expected);
    EXPECT_EQ(peers.radio.connectionCount(), 2);
    EXPECT_EQ(peers.broker.connectionCount(), 2);
}

TEST_F(SmartLinkRadioClientTest, ABrokerLossClosesTheRadioSessionAndStartsAgain)
{
    startReady();
    peers.identity.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-2")));
    peers.radio.clearReceived();
    const qsizetype before = events.size();
    peers.broker.closeClient();
    ASSERT_TRUE(waitFor(ready, 2));

    const QStringList expected =
        QStringList{disconnected, QStringLiteral("retrying: SmartLink broker closed. Retrying in 1.0 s")} + attempt();
    EXPECT_EQ(eventsFrom(before), expected);
    // Nothing of ours was keyed: the new session's first words are its own.
    EXPECT_EQ(peers.radio.commandTexts().value(0), QStringLiteral("wan validate handle=wan-handle-1"));
}

TEST_F(SmartLinkRadioClientTest, ABrokerFailureDuringTheDialogueRetriesOnce)
{
    // The failure reaches the client both as connect()'s error and as a loss.
    peers.broker.radioListLine = QStringLiteral("application registration_invalid");
    peers.identity.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-1"), QStringLiteral("refresh-1")));
    Options options;
    options.backoffSecond = 1h;
    makeClient(options);
    client->start();
    ASSERT_TRUE(waitForPrefix(QStringLiteral("retrying: ")));
    settle(50ms);
    const QStringList expected{authenticating, discovering, disconnected,
                               QStringLiteral("retrying: SmartLink rejected the login token. Retrying in 1.0 s")};
    EXPECT_EQ(events, expected);
}

TEST_F(SmartLinkRadioClientTest, SuccessiveFailuresBackOffUpToThirtySeconds)
{
    // The broker lists no radio of that serial, every time.
    for (int i = 0; i < 7; ++i)
        peers.identity.enqueue(FakeIdentityProvider::grant(QStringLiteral("id"), QStringLiteral("refresh")));
    Options options;
    options.preferredSerial = QStringLiteral("NOT-LISTED");
    options.random = 0.8;
    makeClient(options);
    client->start();
    ASSERT_TRUE(waitForPrefix(QStringLiteral("retrying: "), 7));
    runTask(client->stop());

    QStringList delays;
    for (const QString &event : std::as_const(events)) {
        if (event.startsWith(QStringLiteral("retrying: ")))
            delays << event.section(QStringLiteral("Retrying in "), 1);
    }
    EXPECT_EQ(delays.mid(0, 7), (QStringList{"1.2 s", "2.4 s", "4.8 s", "9.6 s", "19.2 s", "36.0 s", "36.0 s"}));
    EXPECT_EQ(events.filter(QStringLiteral("retrying: ")).value(0),
              QStringLiteral("retrying: No remotely reachable FlexRadio is available in this SmartLink account. "
                             "Retrying in 1.2 s"));
}

class SmartLinkBackoffReset : public SmartLinkRadioClientTest {
protected:
    // A first attempt that fails, then a session that becomes ready and
    // later drops: the delay announced for the drop.
    QString delayOfADropAfterReady(std::chrono::milliseconds stableConnection)
    {
        peers.saveRefreshToken(QStringLiteral("refresh-0"));
        peers.identity.enqueue(FakeIdentityProvider::answer(200, QByteArray("not json")));
        peers.identity.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-1")));
        Options options;
        options.stableConnection = stableConnection;
        makeClient(options);
        client->start();
        if (!waitFor(ready))
            return QStringLiteral("never ready");
        // Well past a shortened stable period, far within a long one.
        settle(30ms);
        peers.radio.dropClient();
        if (!waitForPrefix(QStringLiteral("retrying: "), 2))
            return QStringLiteral("no retry");
        QStringList retries = events.filter(QStringLiteral("retrying: "));
        return retries.last().section(QStringLiteral("Retrying in "), -1);
    }
};

TEST_F(SmartLinkBackoffReset, ASessionReadyForTheStablePeriodClearsTheBackoff)
{
    EXPECT_EQ(delayOfADropAfterReady(1ms), QStringLiteral("1.0 s"));
}

TEST_F(SmartLinkBackoffReset, AShorterSessionKeepsCounting)
{
    EXPECT_EQ(delayOfADropAfterReady(1h), QStringLiteral("2.0 s"));
}

// ---------------------------------------------------------------- stop and reconnect

TEST_F(SmartLinkRadioClientTest, StopEndsTheRadioSessionAndTheBroker)
{
    startReady();
    follow();
    runTask(client->stop());
    const qsizetype after = events.size();
    settle(50ms);

    EXPECT_EQ(events.mid(events.size() - 2), (QStringList{disconnected, stopped}));
    EXPECT_EQ(events.size(), after);
    EXPECT_EQ(events.count(stopped), 1);
    EXPECT_EQ(peers.radio.commandTexts(), QStringList());
    EXPECT_TRUE(waitUntil([this] { return !peers.broker.hasClient() && !peers.radio.hasClient(); }));
    EXPECT_FALSE(runTask(client->snapshot()).isConnected);
    EXPECT_EQ(thrownMessage([this] { runTask(client->setFrequency(7074000)); }),
              QStringLiteral("The radio is not connected."));
}

TEST_F(SmartLinkRadioClientTest, StopBeforeStartStillReportsStopped)
{
    makeClient();
    runTask(client->stop());
    EXPECT_EQ(events, (QStringList{disconnected, stopped}));
}

TEST_F(SmartLinkRadioClientTest, StopDuringTheBrokerDialogueEndsItQuietly)
{
    peers.broker.radioListLine.clear();
    peers.identity.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-1"), QStringLiteral("refresh-1")));
    makeClient();
    client->start();
    ASSERT_TRUE(waitUntil([this] { return !peers.broker.receivedLines().isEmpty(); }));
    runTask(client->stop());
    settle(50ms);
    EXPECT_EQ(events, (QStringList{authenticating, discovering, disconnected, stopped}));
    EXPECT_TRUE(selected.isEmpty());
}

TEST_F(SmartLinkRadioClientTest, ReconnectNowReplacesTheChainWithoutARetry)
{
    startReady();
    peers.identity.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-2")));
    const qsizetype before = events.size();
    client->reconnectNow();
    ASSERT_TRUE(waitFor(ready, 2));
    EXPECT_EQ(eventsFrom(before), QStringList(disconnected) + attempt());
    EXPECT_EQ(peers.identity.requests().last().json().value(u"grant_type").toString(),
              QStringLiteral("refresh_token"));
}

TEST_F(SmartLinkRadioClientTest, NothingIsReportedAfterAStop)
{
    FakeFlexRadio local;
    ASSERT_TRUE(local.listen());
    QStringList localEvents;
    FlexRadioClient flex({.host = QStringLiteral("127.0.0.1"), .port = local.port(),
                          .stationName = QStringLiteral("Maestro"), .sliceLetter = QStringLiteral("A"),
                          .pinStore = peers.pinStore(),
                          .timing = {.closingCommandTimeout = 50ms, .heartbeatInterval = 10ms}},
                         [&](RadioConnectionState state, const QString &sentence) {
                             localEvents << rawValue(state) + QStringLiteral(": ") + sentence;
                         },
                         [&](const RadioSnapshot &) { localEvents << disconnected; });
    flex.start();
    ASSERT_TRUE(waitUntil([&] { return localEvents.contains(ready); }));
    startReady();

    const QList<std::tuple<RadioBackend *, FakeFlexRadio *, QStringList *>> rows{
        {&flex, &local, &localEvents}, {client.get(), &peers.radio, &events}};
    for (const auto &[backend, radio, reports] : rows) {
        radio->dropClient();
        runTask(backend->stop());
        const QStringList atStop = *reports;
        settle(50ms);
        EXPECT_EQ(*reports, atStop);
        EXPECT_EQ(reports->last(), stopped);
    }
}

// The radio session is rebuilt after a loss; an unkey it could not confirm
// is still owed and goes to the next one.
TEST_F(SmartLinkRadioClientTest, AnUnkeyTheRadioDidNotConfirmIsSentInTheNextSession)
{
    startReady();
    follow();
    QStringList lines;
    client->setEventHandler([&lines](const QString &line) { lines << line; });
    ClientActivity keyed;
    keyed.noteKeyed(client->nextTransmitNumber());
    runTask(client->setTransmit(true));
    peers.radio.stall();
    EXPECT_FALSE(runTask(client->makeSafe(keyed)));
    peers.identity.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-2")));
    peers.radio.dropClient();
    peers.radio.release();
    ASSERT_TRUE(waitUntil([&] { return lines.contains(QStringLiteral("Unkey sent again after the radio answered")); }));
    QStringList second;
    for (const FakeFlexRadio::Command &command : peers.radio.commands())
        second << (command.connection == 1 ? command.text : QString());
    EXPECT_TRUE(second.contains(QStringLiteral("xmit 0")));
}

// Between sessions a clear cannot reach CW of ours still queued at the
// radio: it fails and stays owed.
TEST_F(SmartLinkRadioClientTest, AClearWithoutASessionKeepsQueuedCWOwed)
{
    startReady();
    follow();
    client->setEventHandler([this](const QString &line) { events << line; });
    runTask(client->sendCW(QStringLiteral("CQ")));
    peers.identity.setSilent(true);
    peers.radio.dropClient();
    ASSERT_TRUE(waitFor(disconnected, 2));
    EXPECT_EQ(thrownMessage([this] { runTask(client->clearCW()); }), QStringLiteral("The radio is not connected."));
    EXPECT_TRUE(client->keyerClearOwed());
    EXPECT_TRUE(events.contains("CW clear not confirmed: The radio is not connected. It is sent again when the radio answers"));
}

// ---------------------------------------------------------------- control

TEST_F(SmartLinkRadioClientTest, WithoutARadioSessionOnlyTheQuietOperationsSucceed)
{
    makeClient();
    EXPECT_NO_THROW(runTask(client->clearCW()));
    EXPECT_EQ(thrownMessage([this] { runTask(client->setFrequency(7074000)); }),
              QStringLiteral("The radio is not connected."));
    EXPECT_EQ(thrownMessage([this] { runTask(client->setTransmit(CATTransmitMode::Tune)); }),
              QStringLiteral("The radio is not connected."));
    EXPECT_EQ(thrownMessage([this] { runTask(client->setRIT(true, 100, std::nullopt)); }),
              QStringLiteral("This operation is not supported by the selected radio connection."));
    EXPECT_EQ(runTask(client->secondaryFrequency()), std::nullopt);
    EXPECT_EQ(runTask(client->cwSpeed()), 25);
    EXPECT_EQ(runTask(client->primaryFrequency()), 14074000);
    const RadioSnapshot initial = runTask(client->snapshot());
    EXPECT_EQ(initial, RadioSnapshot({.frequencyHz = 14074000,
                                                    .mode = QStringLiteral("DIGU"),
                                                    .slice = QStringLiteral("A"),
                                                    .station = QStringLiteral("Maestro")}));
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(SmartLinkRadioClientTest, ForwardsOperationsToTheRadioSession)
{
    startReady();
    follow();
    runTask(client->setFrequency(7074000));
    runTask(client->setMode(QStringLiteral("USB")));
    runTask(client->setCWSpeed(30));
    runTask(client->clearCW());
    EXPECT_EQ(peers.radio.commandTexts(),
              (QStringList{QStringLiteral("slice t 0 7.074000"), QStringLiteral("slice s 0 mode=USB"),
                           QStringLiteral("cw wpm 30"), QStringLiteral("cwx clear")}));
    // Not asked of the radio, which knows slice B and 30 WPM.
    EXPECT_EQ(runTask(client->secondaryFrequency()), std::nullopt);
    EXPECT_EQ(runTask(client->cwSpeed()), 25);

    peers.radio.setReply(QStringLiteral("slice t"), FakeFlexRadio::Reply::reject(0x50000016));
    EXPECT_TRUE(thrownMessage([this] { runTask(client->setFrequency(3573000)); }).has_value());
}

} // namespace
} // namespace kivo
