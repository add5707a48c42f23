// The station services of the application model against real loopback
// peers: the rotator controller, the RUMlog feed and the propagation report.

#include "QuendKivoApp/model/AppModel.h"
#include "fakes/FakeDCU1Controller.h"
#include "fakes/FakeFlexRadio.h"
#include "support/FreePorts.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"

#include <QTemporaryDir>
#include <QUdpSocket>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
using namespace std::chrono_literals;

namespace {

struct Station {
    QTemporaryDir directory;
    std::chrono::milliseconds clock{1000000};
    std::unique_ptr<AppModel> model = std::make_unique<AppModel>(dependencies());

    AppModelDependencies dependencies()
    {
        AppModelDependencies d;
        d.settingsPath = directory.filePath("settings.ini");
        d.homeDirectory = directory.path();
        d.monotonic = [this] { return clock; };
        d.rotatorIdleCheckDelay = 100ms;
        d.rotatorTiming = {20ms, 40ms};
        d.startPropagation = false;
        return d;
    }

    // The rotator on a controller port, the feed on a port the system chooses.
    void setRotator(RotatorConfiguration rotator, quint16 port)
    {
        rotator.host = QStringLiteral("127.0.0.1");
        rotator.port = port;
        rotator.rumlogPort = 0;
        rotator.homeGrid = QStringLiteral("FN42");
        AppConfiguration configuration = model->configuration();
        configuration.rotator = rotator;
        model->setConfiguration(configuration);
    }

    int turnsTo(const FakeDCU1Controller &controller, double bearing) const
    {
        return controller.commands().count(*DCU1Protocol::turnCommand(bearing));
    }
};

quint16 feedPort(const AppModel &model)
{
    const QString prefix = QStringLiteral("Listening on 127.0.0.1:");
    waitUntil([&] { return model.rotatorFeedStatus().startsWith(prefix); });
    return quint16(model.rotatorFeedStatus().mid(prefix.size()).toUInt());
}

void sendTo(quint16 port, const QByteArray &datagram)
{
    QUdpSocket socket;
    socket.writeDatagram(datagram, QHostAddress::LocalHost, port);
}

} // namespace

TEST(StationServicesSpots, RumlogSpotsReachTheRadioWithCountersSummaryAndState)
{
    FakeFlexRadio radio;
    ASSERT_TRUE(radio.listen());
    Station station;
    AppModel &model = *station.model;
    AppConfiguration configuration = model.configuration();
    configuration.connectionKind = AppConfiguration::ConnectionKind::Local;
    configuration.radioHost = QStringLiteral("127.0.0.1");
    configuration.radioPort = radio.port();
    configuration.catPort = 0;
    configuration.rigCtlPort = 0;
    const auto [logbook, contest] = freeUdpPorts();
    configuration.spotBridge.logbookPort = logbook;
    configuration.spotBridge.contestPort = contest;
    model.setConfiguration(configuration);
    model.start();
    ASSERT_TRUE(waitUntil([&] { return model.spotBridgeStatus() == "Listening \u2014 waiting for radio"; }));
    EXPECT_EQ(model.events().filter(QStringLiteral("Spots: listening on UDP %1 / %2").arg(logbook).arg(contest)).size(), 1);

    const QByteArray spot = "<spot><frequency>14025.0</frequency><dxcall>dl1abc</dxcall></spot>";
    sendTo(logbook, spot);
    ASSERT_TRUE(waitUntil([&] { return model.spotsRejected() == 1; }));
    EXPECT_EQ(model.spotBridgeStatus(), "Listening \u2014 radio disconnected");
    EXPECT_EQ(model.events().filter("Spots: DL1ABC rejected: ").size(), 1);

    ASSERT_TRUE(radio.waitForCommand(QStringLiteral("slice list")));
    radio.sendLine(FakeFlexRadio::clientLine("0x40A1", "CID", "Maestro"));
    radio.sendLine(FakeFlexRadio::sliceLine(2, "0x40A1", "A", "14.074000", "DIGU", true, true));
    ASSERT_TRUE(waitUntil([&] { return model.isRadioConnected(); }));
    sendTo(logbook, spot);
    ASSERT_TRUE(waitUntil([&] { return model.spotsForwarded() == 1; }));
    EXPECT_EQ(radio.commandTexts().filter("spot add rx_freq=14.025000 callsign=DL1ABC").size(), 1);
    EXPECT_EQ(model.spotBridgeStatus(), "Listening \u2014 forwarding to FLEX");
    EXPECT_THAT(model.lastSpotSummary(), QStartsWith("DL1ABC \u00B7 14.025 MHz \u00B7 "));
    EXPECT_EQ(model.events().filter("Spots: sent DL1ABC to FLEX").size(), 1);

    sendTo(contest, "not a spot");
    ASSERT_TRUE(waitUntil([&] { return model.spotsRejected() == 2; }));
    EXPECT_EQ(model.lastSpotSummary(), "Rejected RUMlog datagram");

    // A result that arrives after Stop counts, but the bridge stays stopped.
    radio.setReply(QStringLiteral("spot add"), FakeFlexRadio::Reply::silent());
    sendTo(logbook, "<spot><frequency>7010.0</frequency><dxcall>ja1xyz</dxcall></spot>");
    ASSERT_TRUE(waitUntil([&] { return !radio.commandTexts().filter("callsign=JA1XYZ").isEmpty(); }));
    model.stop();
    ASSERT_TRUE(waitUntil([&] { return model.spotsForwarded() + model.spotsRejected() == 4; }));
    EXPECT_EQ(model.spotBridgeStatus(), "Stopped");
    EXPECT_EQ(model.spotsReceived(), 4);
    runTask(model.waitForStop());
}

TEST(StationServicesRotator, TurnsToResolvedGridsAndAutomaticallyForRumlogDatagrams)
{
    FakeDCU1Controller controller;
    ASSERT_TRUE(controller.listen());
    controller.setAzimuth(10);
    Station station;
    AppModel &model = *station.model;
    station.setRotator({}, 0);
    model.startRotator();
    ASSERT_TRUE(waitUntil([&] { return model.rotatorConnectionState() == DCU1RotatorClient::State::Failed; }));

    // Connect after the failed start builds a fresh client.
    station.setRotator({}, controller.port());
    model.startRotator();
    ASSERT_TRUE(waitUntil([&] { return model.rotatorAzimuth() == 10.0; }));

    model.setRotatorTargetInput(QStringLiteral("jo62"));
    model.resolveRotatorTarget();
    ASSERT_TRUE(model.rotatorTargetBearing().has_value());
    const double bearing = *model.rotatorTargetBearing();
    EXPECT_EQ(model.rotatorTargetLabel(), "JO62");
    model.toggleRotatorPath();
    EXPECT_EQ(model.rotatorTargetSource(), "Maidenhead grid \u00B7 long path");
    model.toggleRotatorPath();
    EXPECT_EQ(model.rotatorTargetSource(), "Maidenhead grid");

    QStringList statuses;
    QObject::connect(&model, &AppModel::rotatorStatusChanged, [&] { statuses.append(model.rotatorStatus()); });
    model.turnRotatorToTarget();
    ASSERT_TRUE(waitUntil([&] { return station.turnsTo(controller, bearing) == 1; }));
    controller.setAzimuth(int(std::lround(bearing)));
    ASSERT_TRUE(waitUntil([&] { return model.rotatorStatus().startsWith("At target "); }));
    ASSERT_FALSE(statuses.isEmpty());
    EXPECT_EQ(statuses.first(), QStringLiteral("Turning CW \u00B7 010\u00B0 \u2192 ") +
                                    QString::number(std::lround(bearing)).rightJustified(3, '0') + "\u00B0");
    EXPECT_EQ(model.events().filter("Rotator: turn to " + QString::number(std::lround(bearing)) + "\u00B0").size(), 1);

    // RUMlog datagrams on the feed turn by themselves, under the band rules.
    controller.setAzimuth(10);
    RotatorConfiguration rotator;
    rotator.automaticTurningEnabled = true;
    rotator.minimumAutomaticTurnDegrees = 5;
    rotator.enabledBands = {"20m"};
    rotator.bandOffsets = {{"20m", 20}};
    rotator.bidirectionalBands = {"20m"};
    station.setRotator(rotator, controller.port());
    ASSERT_TRUE(waitUntil([&] { return model.rotatorAzimuth() == 10.0; }));
    const quint16 port = feedPort(model);

    // 180 + 20 on a bidirectional band: the reverse, 20, lies nearer the antenna.
    const QByteArray dxcc = R"({"HdgToDXCC": 180, "CurrentBand": "20"})";
    sendTo(port, dxcc);
    ASSERT_TRUE(waitUntil([&] { return station.turnsTo(controller, 20) == 1; }));
    EXPECT_EQ(model.rotatorTargetBand(), "20m");
    EXPECT_EQ(model.rotatorTargetSource(), "RUMlog DXCC");
    EXPECT_EQ(model.rotatorFeedStatus(), "RUMlog: DXCC \u00B7 20\u00B0");

    // The same target again at once, and one on a band not enabled, send
    // nothing; a commanded bearing turns regardless and marks the end.
    sendTo(port, dxcc);
    sendTo(port, R"({"HdgToDXCC": 90, "CurrentBand": "40m"})");
    sendTo(port, R"({"RotorCommand": 300, "CurrentBand": "40m"})");
    ASSERT_TRUE(waitUntil([&] { return station.turnsTo(controller, 300) == 1; }));
    EXPECT_EQ(station.turnsTo(controller, 20), 1);
    EXPECT_EQ(station.turnsTo(controller, 90), 0);

    station.clock += 30s;
    sendTo(port, dxcc);
    EXPECT_TRUE(waitUntil([&] { return station.turnsTo(controller, 20) == 2; }));
}

TEST(StationServicesRotator, AContinuousTurnALostLinkLeftIsSaidAndStoppedOnceTheLinkIsBack)
{
    const QString dropped = "Rotator: the link dropped during a continuous rotation; the antenna may still be turning",
                  back = "Rotator: the link is back: stop sent to end the continuous rotation",
                  down = "Rotator: the link is down: a continuous rotation may still be under way";
    enum class Then { Wait, SaveAndReconnect, SaveElsewhere, Disconnect };
    const struct { bool turn; Then then; QByteArray commands; QStringList events; } rows[] = {
        {false, Then::Wait, "U;", {dropped, back}}, {true, Then::Wait, "UAP1090;AM1;", {}}, // the turn replaced the rotation
        {false, Then::SaveAndReconnect, "U;", {dropped, down, back}},
        {false, Then::SaveElsewhere, "U;", {dropped, down, back}}, // a new port may reach the same controller
        {false, Then::Disconnect, "U;", {dropped, down, back}}};
    for (const auto &row : rows) {
        FakeDCU1Controller controller, elsewhere;
        ASSERT_TRUE(elsewhere.listen());
        Station station;
        const auto lines = [&] { QStringList l; for (const QString &e : station.model->events().filter(" Rotator: the link")) l << e.mid(10); return l; };
        ASSERT_TRUE(controller.listen());
        station.setRotator({}, controller.port());
        station.model->startRotator();
        ASSERT_TRUE(waitUntil([&] { return station.model->rotatorConnectionState() == DCU1RotatorClient::State::Connected; }));
        station.model->rotateRotator(true);
        if (row.turn)
            station.model->turnRotatorFromCompass(90);
        ASSERT_TRUE(waitUntil([&] { return controller.commands() == (row.turn ? row.commands : "U"); }));
        controller.stopListening();
        controller.dropClients();
        ASSERT_TRUE(waitUntil([&] { return station.model->rotatorStatus().contains("retrying") && lines().size() == !row.turn; }));
        EXPECT_EQ(station.model->rotatorStatus().startsWith("The antenna may still be turning \u00B7 "), !row.turn);
        if (row.then == Then::SaveElsewhere)
            station.setRotator({}, elsewhere.port());
        if (row.then == Then::SaveAndReconnect || row.then == Then::SaveElsewhere)
            station.model->saveAndReconnectRotator();
        if (row.then == Then::Disconnect) {
            station.model->stopRotator();
            EXPECT_EQ(station.model->rotatorStatus(), "The antenna may still be turning \u00B7 Disconnected");
            station.model->startRotator();
        }
        ASSERT_TRUE(controller.listen(controller.port()));
        EXPECT_TRUE(waitUntil([&] { return lines() == row.events && controller.pollCount() + elsewhere.pollCount() >= 2 && (row.then == Then::SaveElsewhere ? "U" + elsewhere.commands() : controller.commands()) == row.commands; }));
    }
}

TEST(StationServicesPropagation, FreshnessFollowsFetchesAndAWakeUpFetchesAtOnce)
{
    Station station;
    station.model.reset();
    int fetches = 0;
    bool failing = false;
    QDateTime wall = QDateTime::currentDateTimeUtc();
    AppModelDependencies dependencies = station.dependencies();
    dependencies.startPropagation = true;
    dependencies.propagationFetcher = [&]() -> QCoro::Task<PropagationConditionsSnapshot> {
        ++fetches;
        if (failing)
            throw KivoError::server(QStringLiteral("offline"));
        PropagationConditionsSnapshot report;
        report.updatedAt = wall.addSecs(-60);
        co_return report;
    };
    dependencies.now = [&] { return wall; };
    dependencies.propagationInterval = 1h;
    dependencies.propagationWakeCheckInterval = 20ms;
    AppModel model(dependencies);
    ASSERT_TRUE(waitUntil([&] { return model.propagationStatus() == "LIVE"; }));

    // The wall clock runs two hours ahead of the timers: the computer slept.
    failing = true;
    wall = wall.addSecs(7200);
    ASSERT_TRUE(waitUntil([&] { return fetches == 2 && !model.propagationIsRefreshing(); }));
    EXPECT_EQ(model.propagationStatus(), "STALE");
    EXPECT_TRUE(model.propagationConditions().has_value());
}
