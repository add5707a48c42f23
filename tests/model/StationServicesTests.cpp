// The station services of the application model against real loopback
// peers: the rotator controller, the RUMlog feed and the propagation report.

#include "KivoCore/station/DCU1RotatorClient.h"
#include "KivoCore/support/SecretStore.h"
#include "QuendKivoApp/model/AppModel.h"
#include "fakes/FakeDCU1Controller.h"
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

using State = DCU1RotatorClient::State;

struct Station {
    QTemporaryDir directory;
    std::chrono::milliseconds clock{1000000};
    std::function<QCoro::Task<PropagationConditionsSnapshot>()> fetcher;
    std::unique_ptr<AppModel> model;

    AppModelDependencies dependencies(bool propagation = false)
    {
        AppModelDependencies d;
        d.settingsPath = directory.filePath("settings.ini");
        d.secrets = std::make_shared<InMemorySecretStore>();
        d.homeDirectory = directory.path();
        d.monotonic = [this] { return clock; };
        d.rotatorIdleCheckDelay = 100ms;
        d.rotatorTiming = {20ms, 40ms};
        d.startPropagation = propagation;
        d.propagationFetcher = [this] { return fetcher(); };
        return d;
    }

    // A rotator on the fake controller, the feed on a port the system chooses.
    void connectRotator(FakeDCU1Controller &controller, RotatorConfiguration rotator)
    {
        model = std::make_unique<AppModel>(dependencies());
        rotator.host = QStringLiteral("127.0.0.1");
        rotator.port = controller.port();
        rotator.rumlogPort = 0;
        rotator.homeGrid = QStringLiteral("FN42");
        AppConfiguration configuration = model->configuration();
        configuration.rotator = rotator;
        model->setConfiguration(configuration);
        model->startRotator();
        ASSERT_TRUE(waitUntil([&] { return model->rotatorAzimuth().has_value(); }));
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

TEST(StationServicesRotator, ConnectsAfterAFailedStartAndTurnsToAResolvedGrid)
{
    FakeDCU1Controller controller;
    ASSERT_TRUE(controller.listen());
    controller.setAzimuth(10);
    Station station;
    station.model = std::make_unique<AppModel>(station.dependencies());
    AppModel &model = *station.model;
    AppConfiguration configuration = model.configuration();
    configuration.rotator.host = QStringLiteral("127.0.0.1");
    configuration.rotator.port = 0;
    configuration.rotator.rumlogPort = 0;
    configuration.rotator.homeGrid = QStringLiteral("FN42");
    model.setConfiguration(configuration);
    model.startRotator();
    ASSERT_TRUE(waitUntil([&] { return model.rotatorConnectionState() == State::Failed; }));

    // Connect after the failed start builds a fresh client.
    configuration.rotator.port = controller.port();
    model.setConfiguration(configuration);
    model.startRotator();
    ASSERT_TRUE(waitUntil([&] { return model.rotatorAzimuth() == 10.0; }));
    EXPECT_EQ(model.rotatorConnectionState(), State::Connected);

    model.setRotatorTargetInput(QStringLiteral("jo62"));
    model.resolveRotatorTarget();
    ASSERT_TRUE(model.rotatorTargetBearing().has_value());
    const double bearing = *model.rotatorTargetBearing();
    EXPECT_EQ(model.rotatorTargetLabel(), "JO62");
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
    EXPECT_FALSE(model.rotatorIsMoving());
    EXPECT_EQ(model.events().filter("Rotator: turn to " + QString::number(std::lround(bearing)) + "\u00B0").size(), 1);
}

TEST(StationServicesRotator, RumlogDatagramsTurnAutomaticallyOncePerTargetAndInterval)
{
    FakeDCU1Controller controller;
    ASSERT_TRUE(controller.listen());
    controller.setAzimuth(10);
    RotatorConfiguration rotator;
    rotator.automaticTurningEnabled = true;
    rotator.minimumAutomaticTurnDegrees = 5;
    rotator.enabledBands = {"20m"};
    rotator.bandOffsets = {{"20m", 20}};
    rotator.bidirectionalBands = {"20m"};
    Station station;
    station.connectRotator(controller, rotator);
    AppModel &model = *station.model;
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

TEST(StationServicesPropagation, FreshnessFollowsFetchesAndAWakeUpFetchesAtOnce)
{
    Station station;
    int fetches = 0;
    bool failing = false;
    QDateTime wall = QDateTime::currentDateTimeUtc();
    station.fetcher = [&]() -> QCoro::Task<PropagationConditionsSnapshot> {
        ++fetches;
        if (failing)
            throw KivoError::server(QStringLiteral("offline"));
        PropagationConditionsSnapshot report;
        report.updatedAt = wall.addSecs(-60);
        co_return report;
    };
    AppModelDependencies dependencies = station.dependencies(true);
    dependencies.now = [&] { return wall; };
    dependencies.propagationInterval = 1h;
    dependencies.propagationWakeCheckInterval = 20ms;
    AppModel model(dependencies);
    ASSERT_TRUE(waitUntil([&] { return model.propagationStatus() == "LIVE"; }));
    EXPECT_TRUE(model.propagationConditions().has_value());

    // The wall clock runs two hours ahead of the timers: the computer slept.
    failing = true;
    wall = wall.addSecs(7200);
    ASSERT_TRUE(waitUntil([&] { return fetches == 2 && !model.propagationIsRefreshing(); }));
    EXPECT_EQ(model.propagationStatus(), "STALE");
    EXPECT_TRUE(model.propagationConditions().has_value());
}
