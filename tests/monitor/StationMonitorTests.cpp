#include "KivoCore/agent/RemoteAgentClient.h"
#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/Async.h"
#include "KivoCore/support/SecretStore.h"
#include "QuendKivoApp/DesktopApplication.h"
#include "QuendKivoApp/OfflineModel.h"
#include "QuendKivoApp/configuration/ContentView.h"
#include "QuendKivoApp/kit/ElidedLabel.h"
#include "QuendKivoApp/kit/Palette.h"
#include "QuendKivoApp/model/AppModel.h"
#include "QuendKivoApp/monitor/MonitorPresenters.h"
#include "QuendKivoApp/monitor/PropagationPresenters.h"
#include "QuendKivoApp/monitor/StationMonitorWindow.h"
#include "fakes/FakeDCU1Controller.h"
#include "fakes/FakeDesktopTheme.h"
#include "fakes/RemoteAgentHarness.h"
#include "fakes/TestTls.h"
#include "support/QtPrinters.h"
#include "support/RawClient.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
using Kind = AppConfiguration::ConnectionKind;

namespace {

constexpr int deadline = 10000;

RadioVFO vfo(const QString &letter, qint64 hz, bool receive, bool transmit)
{
    RadioVFO v;
    v.letter = letter;
    v.frequencyHz = hz;
    v.mode = QStringLiteral("USB");
    v.isReceive = receive;
    v.isTransmit = transmit;
    return v;
}

RemoteStationStatus stationStatus(std::optional<double> swr, bool live = true)
{
    RemoteStationStatus status;
    status.swr = swr;
    status.swrIsLive = live;
    return status;
}

} // namespace

TEST(MonitorPresenters, FrequenciesHeaderAndStrip)
{
    EXPECT_EQ(formatFrequency(std::nullopt), "--.---.--- MHz");
    EXPECT_EQ(formatFrequency(0), "--.---.--- MHz");
    EXPECT_EQ(formatFrequency(14074000), "14.074.000 MHz");
    EXPECT_EQ(headerFrequencyText(vfo("A", 0, true, false)), "A 0.000.000");
    EXPECT_EQ(headerFrequencyText(vfo("B", 7074123, true, false)), "B 7.074.123");

    RadioSnapshot snapshot;
    snapshot.mode = "DIGU";
    snapshot.vfos = {vfo("A", 0, true, false)};
    EXPECT_EQ(vfoText(snapshot, "A"), "VFO A  --.---.--- MHz  USB");
    EXPECT_EQ(vfoText(snapshot, "B"), "VFO B  --");
    EXPECT_EQ(headerDetail(std::nullopt, std::nullopt), "-- | -- | unknown | --");
    RemoteStationStatus empty;
    EXPECT_EQ(headerDetail(snapshot, empty), "DIGU |  |  | ");
}

TEST(MonitorPresenters, BadgeAndTransmitColour)
{
    RadioSnapshot transmitting;
    transmitting.isTransmitting = true;
    const struct {
        bool radio, agent;
        std::optional<RadioSnapshot> snapshot;
        QString text;
    } table[] = {
        {true, true, transmitting, "TX"},       {true, false, std::nullopt, "RX"},
        {true, true, RadioSnapshot(), "RX"},    {false, true, transmitting, "STALE"},
        {false, false, transmitting, "OFFLINE"},
    };
    for (const auto &row : table)
        EXPECT_EQ(connectionBadge(row.radio, row.agent, row.snapshot).text, row.text) << row.text.toStdString();
    EXPECT_EQ(connectionBadge(false, true, std::nullopt).color, withOpacity(MonitorPalette::amber(), 0.72));

    EXPECT_EQ(headerFrequencyColor(transmitting, vfo("B", 1, false, true)), platformColor(PlatformColor::Red, Appearance::Dark));
    EXPECT_EQ(headerFrequencyColor(transmitting, vfo("A", 1, true, false)), MonitorPalette::cyan());
    EXPECT_EQ(headerFrequencyColor(transmitting, vfo("A", 1, false, false)), withOpacity(MonitorPalette::cyan(), 0.65));
}

TEST(MonitorPresenters, MeterTexts)
{
    EXPECT_EQ(swrTint(stationStatus(1.99)), MonitorPalette::green());
    EXPECT_EQ(swrTint(stationStatus(2.0)), MonitorPalette::amber());
    EXPECT_EQ(swrTint(stationStatus(3.0)), srgb(1.00, 0.64, 0.64));
    EXPECT_EQ(swrText(stationStatus(1.5, false)), "1.50 LAST");
    EXPECT_EQ(swrText(stationStatus(std::nullopt)), "--");
    RemoteStationStatus power;
    power.txPowerWatts = 99.6;
    EXPECT_EQ(txPowerText(power), "100 W");
    EXPECT_EQ(txPowerText(std::nullopt), "--");
    EXPECT_EQ(rfDriveText(std::nullopt), "-- W");
}

TEST(MonitorPresenters, CardTintsByExactTextAndRouteArrows)
{
    RemoteStationStatus status;
    status.katSummary = "KAT tuning";
    status.kpaSummary = "KPA operate";
    status.routeAlignment = "Confirmed";
    status.routeDetail = "ANT1 \u2192 KPA \u2192 Beam";
    EXPECT_EQ(tunerTint(status), MonitorPalette::amber());
    EXPECT_EQ(amplifierTint(status), MonitorPalette::amber());
    EXPECT_EQ(routeTint(status), MonitorPalette::green());
    EXPECT_EQ(routeDetailText(status), "ANT1 \u203a KPA \u203a Beam");
    status.katSummary = "KAT Tuning";
    status.kpaSummary = "KPA OPERATE";
    status.routeAlignment = "aligned";
    EXPECT_EQ(tunerTint(status), MonitorPalette::cyan());
    EXPECT_EQ(amplifierTint(status), MonitorPalette::green());
    EXPECT_EQ(routeTint(status), MonitorPalette::amber());
}

TEST(MonitorPresenters, FooterText)
{
    EXPECT_EQ(footerText(std::nullopt, std::nullopt), "Updated --:--:-- | alarms unknown | commissioned False");
    RemoteStationStatus status;
    status.alarmSummary = "ALARM clear";
    status.commissioned = true;
    const QDateTime at(QDate(2026, 1, 15), QTime(14, 5, 9));
    EXPECT_EQ(footerText(at, status, QLocale(QLocale::German)), "Updated 14:05:09 | alarms clear | commissioned True");
    EXPECT_EQ(footerText(at, status, QLocale(QLocale::English, QLocale::UnitedStates)),
              "Updated 2:05:09 PM | alarms clear | commissioned True");
}

TEST(PropagationPresenters, SummaryTimeAndTints)
{
    PropagationConditionsSnapshot snapshot;
    snapshot.solarFlux = 150;
    snapshot.aIndex = 8;
    snapshot.kIndex = 2;
    snapshot.xRay = "B1.2";
    EXPECT_EQ(propagationSummary(snapshot), "SFI 150  A 8  K 2  X B1.2");
    snapshot.solarFlux.reset();
    snapshot.kIndex.reset();
    snapshot.xRay.clear();
    EXPECT_EQ(propagationSummary(snapshot), "SFI --  A 8  K --  X --");
    EXPECT_EQ(propagationUpdatedText(snapshot), "");
    // 23:59:30 UTC seen from a zone where it is already the next day.
    snapshot.updatedAt = QDateTime(QDate(2026, 3, 1), QTime(10, 59, 30), QTimeZone("Australia/Sydney"));
    EXPECT_EQ(propagationUpdatedText(snapshot), "updated 23:59 UTC");

    EXPECT_EQ(propagationStatusTint("LIVE"), MonitorPalette::green());
    EXPECT_EQ(propagationStatusTint("STALE"), MonitorPalette::amber());
    EXPECT_EQ(propagationStatusTint("OFFLINE"), MonitorPalette::coral());
    EXPECT_EQ(propagationStatusTint("live"), withOpacity(MonitorPalette::cyan(), 0.72));
    EXPECT_EQ(propagationRatingTint(PropagationRating::Closed), withOpacity(MonitorPalette::violet(), 0.86));
    EXPECT_TRUE(propagationEmptyText("OFFLINE").startsWith("Solar data is unavailable."));
    EXPECT_TRUE(propagationEmptyText("Loading solar conditions").startsWith("Loading current"));
}

namespace {

// The monitor over a model whose backend is the repository's fake agent,
// serving the recorded operating state.
class AgentMonitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFile file(QStringLiteral(QK_TEST_DATA_DIR "/agent-state-operating.json"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        agent.state = QJsonDocument::fromJson(file.readAll()).object().value("state").toObject();
        agent.state["capabilities"] = QJsonObject{
            {"commands", QJsonArray{"station_standby", "station_operate", "station_tune", "station_cancel"}}};
        ASSERT_TRUE(agent.listen());
        AppModelDependencies d;
        d.settingsPath = directory.filePath("settings.ini");
        d.secrets = std::make_shared<InMemorySecretStore>();
        d.startPropagation = false;
        d.backendFactory = &RemoteAgentHarness::backendTrustingTestCA;
        model = std::make_unique<AppModel>(std::move(d));
        AppConfiguration c = AppConfiguration::firstRun();
        c.connectionKind = Kind::RemoteAgent;
        c.remoteAgentBaseURL = agent.baseURL();
        c.catPort = c.rigCtlPort = 0;
        c.spotBridge.enabled = c.rotator.enabled = false;
        c.allowCATTransmit = false;
        model->setConfiguration(c);
        model->setRemoteAgentToken(agent.token);
        window = std::make_unique<StationMonitorWindow>(*model);
        window->show();
    }
    void TearDown() override
    {
        model->stop();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !model->isStopping(); }, deadline));
    }
    template <typename T> T *find(const char *name) { return window->findChild<T *>(QString::fromLatin1(name)); }
    QString text(const char *name) { return find<QLabel>(name)->text(); }
    bool shown(const char *name) { return find<QWidget>(name)->isVisibleTo(window.get()); }

    QTemporaryDir directory;
    FakeRemoteAgent agent;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<StationMonitorWindow> window;
};

} // namespace

TEST_F(AgentMonitorTest, CardsShowTheAgentsStateAndActionsFollowTheRules)
{
    EXPECT_TRUE(shown("monitor.waiting"));
    EXPECT_FALSE(shown("monitor.stationCards"));
    EXPECT_FALSE(shown("monitor.reconnect"));
    EXPECT_EQ(text("monitor.badge"), "OFFLINE");
    model->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->remoteStationStatus() && model->isRadioConnected(); }, deadline))
        << model->events().join("\n").toStdString();
    const RemoteStationStatus status = *model->remoteStationStatus();
    EXPECT_FALSE(shown("monitor.waiting"));
    EXPECT_EQ(text("monitor.kpaTitle"), status.kpaDetailPrimary);
    EXPECT_EQ(text("monitor.katDetail"), status.katDetailSecondary);
    EXPECT_EQ(text("monitor.routeAlignment"), status.routeAlignment.toUpper());
    EXPECT_EQ(text("monitor.badge"), "TX");
    EXPECT_EQ(text("monitor.frequencyA"), "A 14.074.000");
    EXPECT_EQ(text("monitor.frequencyB"), "B 7.074.500");
    EXPECT_EQ(find<QLabel>("monitor.frequencyA")->font().pixelSize(), 20);
    EXPECT_FALSE(shown("monitor.frequency"));
    EXPECT_EQ(text("monitor.vfoA"), vfoText(model->radioSnapshot(), "A"));

    // The recorded amplifier is in operate, and transmitting is not allowed.
    auto *amplifier = find<QPushButton>("monitor.amplifier");
    EXPECT_TRUE(shown("monitor.amplifier"));
    EXPECT_EQ(amplifier->text(), "Standby");
    EXPECT_TRUE(amplifier->isEnabled());
    EXPECT_FALSE(find<QPushButton>("monitor.tune")->isEnabled());
    EXPECT_TRUE(find<QPushButton>("monitor.cancel")->isEnabled());
    EXPECT_TRUE(shown("monitor.reconnect"));
    AppConfiguration c = model->configuration();
    c.allowCATTransmit = true;
    model->setConfiguration(c);
    EXPECT_TRUE(find<QPushButton>("monitor.tune")->isEnabled());

    find<QPushButton>("monitor.tune")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model->events().filter("Station tune accepted").isEmpty(); }, deadline));

    agent.state["elecraft"] = QJsonObject{{"kpa500", QJsonObject{{"enabled", true}, {"connected", true}, {"operate", false}}}};
    agent.pushState();
    EXPECT_TRUE(QTest::qWaitFor([&] { return amplifier->text() == "Operate"; }, deadline));

    model->stop();
    EXPECT_FALSE(shown("monitor.reconnect"));
    EXPECT_TRUE(shown("monitor.waiting"));
    EXPECT_EQ(text("monitor.footer"), "Updated --:--:-- | alarms unknown | commissioned False");
}

TEST_F(AgentMonitorTest, TheSWRTitleTakesTheTintAndLongTextsEndInAnEllipsis)
{
    const QString interlock = "UDP 57360 unavailable \u2014 close the old Rotor app and start this one again";
    QJsonObject radio = agent.state["radio"].toObject();
    radio["interlock_state"] = interlock;
    agent.state["radio"] = radio;
    model->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return text("monitor.headerDetail").endsWith(interlock); }, deadline))
        << model->events().join("\n").toStdString();
    QCoreApplication::processEvents();

    const QColor tint = swrTint(model->remoteStationStatus());
    EXPECT_EQ(tint, MonitorPalette::green());
    for (const char *name : {"monitor.swrTitle", "monitor.swr"})
        EXPECT_EQ(find<QLabel>(name)->palette().color(QPalette::WindowText), tint) << name;

    auto *detail = find<ElidedLabel>("monitor.headerDetail");
    EXPECT_TRUE(detail->shownText().endsWith(QChar(0x2026)));
    const QRect column = find<QWidget>("monitor.leftColumn")->geometry();
    EXPECT_TRUE(column.contains(QRect(detail->mapTo(window.get(), QPoint()), detail->size())));
}

TEST(StationMonitorWindowTest, ReportsOnceWhenShownAndOncePerFrequencyChange)
{
    QTemporaryDir directory;
    const auto model = makeOfflineModel(directory.filePath("settings.ini"));
    AppConfiguration c = model->configuration();
    c.connectionKind = Kind::Simulator;
    model->setConfiguration(c);
    StationMonitorWindow window(*model);
    QSignalSpy reports(&window, &StationMonitorWindow::telemetryRenderReported);
    window.show();
    ASSERT_TRUE(reports.wait(deadline));
    EXPECT_EQ(reports.size(), 1);
    EXPECT_EQ(reports.first().first().toString(), "Monitor");

    model->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->isRunning(); }, deadline));
    // The simulator's seed shows at the start; the repeated frequency changes nothing.
    ASSERT_TRUE(QTest::qWaitFor([&] { return reports.size() == 2; }, deadline));
    RawClient client(model->catServerPort());
    client.send("FA00007074000;FA00007074000;FA00010136000;");
    ASSERT_TRUE(QTest::qWaitFor([&] { return reports.size() >= 4; }, deadline)) << model->events().join("\n").toStdString();
    QCoreApplication::processEvents();
    EXPECT_EQ(reports.size(), 4);
    EXPECT_EQ(window.findChild<QLabel *>("monitor.vfoA")->text().left(21), "VFO A  10.136.000 MHz");
    EXPECT_EQ(window.findChild<QLabel *>("monitor.frequencyA")->font().pixelSize(), 27);
    model->stop();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model->isStopping(); }, deadline));
}

TEST(StationMonitorWindowTest, OpenedAfterTheStartShowsTheRadioAsItIs)
{
    QTemporaryDir directory;
    const auto model = makeOfflineModel(directory.filePath("settings.ini"));
    AppConfiguration c = model->configuration();
    c.connectionKind = Kind::Simulator;
    model->setConfiguration(c);
    model->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->isRunning(); }, deadline));
    StationMonitorWindow window(*model);
    window.show();
    EXPECT_EQ(window.findChild<QLabel *>("monitor.frequencyA")->text(), "A 14.074.000");
    EXPECT_EQ(window.findChild<QLabel *>("monitor.vfoA")->text().left(21), "VFO A  14.074.000 MHz");
    model->stop();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model->isStopping(); }, deadline));
}

TEST(StationMonitorWindowTest, KeepsEveryColourOfItsOwnThroughDesktopThemeChanges)
{
    const QPalette light = QApplication::palette();
    QTemporaryDir directory;
    const auto model = makeOfflineModel(directory.filePath("settings.ini"));
    StationMonitorWindow window(*model);
    window.show();
    const auto colours = [&] {
        std::vector<std::string> shown;
        const QList<QWidget *> widgets = window.findChildren<QWidget *>() << &window;
        for (const QWidget *widget : widgets) {
            QString line = widget->objectName() + ":" + widget->metaObject()->className();
            for (const auto role : {QPalette::Window, QPalette::WindowText, QPalette::Button, QPalette::ButtonText, QPalette::Light})
                line += " " + widget->palette().color(role).name();
            shown.push_back(line.toStdString());
        }
        return shown;
    };
    const auto opened = colours();
    const QPalette configure = window.findChild<QPushButton *>("monitor.configure")->palette();
    for (const QPalette &desktop : {test::darkDesktopPalette(), light}) {
        test::reloadDesktopPalette(desktop);
        EXPECT_EQ(colours(), opened);
        // Configure's title reads on all of its face, from hovered top to pressed.
        for (const QColor face : {test::fusionFaceColor(configure).lighter(124), test::fusionFaceColor(configure).darker(110)})
            EXPECT_GE(contrastRatio(configure.color(QPalette::ButtonText), face), readableContrast) << face.name().toStdString();
    }
}

TEST(StationMonitorWindowTest, ConfigureBringsTheConfigurationBackAndQuitStopsFirst)
{
    QTemporaryDir directory;
    const auto model = makeOfflineModel(directory.filePath("settings.ini"));
    int exits = 0;
    DesktopApplication desktop(*model, directory.filePath("settings.ini"), [&](int) { ++exits; });
    desktop.showStationMonitor();
    desktop.configurationWindow()->showMinimized();
    desktop.stationMonitor()->findChild<QPushButton *>("monitor.configure")->click();
    EXPECT_TRUE(desktop.configurationWindow()->isVisible());
    EXPECT_FALSE(desktop.configurationWindow()->isMinimized());
    desktop.stationMonitor()->findChild<QPushButton *>("monitor.quit")->click();
    EXPECT_TRUE(desktop.isQuitPending());
    EXPECT_TRUE(QTest::qWaitFor([&] { return exits == 1; }, deadline));
}

TEST(StationMonitorWindowTest, ReturnAndEnterPressTheFocusedRotatorStop)
{
    QTemporaryDir directory;
    FakeDCU1Controller controller;
    ASSERT_TRUE(controller.listen());
    const auto model = makeOfflineModel(directory.filePath("settings.ini"));
    AppConfiguration c = model->configuration();
    c.rotator.host = "127.0.0.1";
    c.rotator.port = controller.port();
    c.rotator.rumlogPort = 0;
    model->setConfiguration(c);
    StationMonitorWindow window(*model);
    window.show();
    model->startRotator();
    auto *stop = window.findChild<QPushButton *>("rotator.panel.stop");
    ASSERT_TRUE(QTest::qWaitFor([&] { return stop->isEnabled(); }, deadline));
    stop->setFocus();
    QTest::keyClick(stop, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return controller.commands() == ";"; }, deadline)) << controller.commands().data();
    QTest::keyClick(stop, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return controller.commands() == ";;"; }, deadline)) << controller.commands().data();
    model->stopRotator();
}

TEST(PropagationPanelTest, RefreshShowsTheReportOrTheOfflineNotice)
{
    bool fails = true;
    QTemporaryDir directory;
    AppModelDependencies d;
    d.settingsPath = directory.filePath("settings.ini");
    d.secrets = std::make_shared<InMemorySecretStore>();
    d.startPropagation = false;
    d.propagationFetcher = [&fails]() -> QCoro::Task<PropagationConditionsSnapshot> {
        co_await sleepFor(std::chrono::milliseconds(20));
        QFile file(QStringLiteral(QK_TEST_DATA_DIR "/hamqsl-solarxml-2019-01-15.xml"));
        if (fails || !file.open(QIODevice::ReadOnly))
            throw KivoError::server("unreachable");
        co_return PropagationConditionsParser::parse(file.readAll());
    };
    AppModel model(std::move(d));
    StationMonitorWindow window(model);
    window.show();
    auto *refresh = window.findChild<QToolButton *>("propagation.refresh");
    auto *status = window.findChild<QLabel *>("propagation.status");
    const auto shown = [&](const char *name) { return window.findChild<QWidget *>(name)->isVisibleTo(&window); };

    // From the keyboard: the focus stays off Configure and comes back.
    refresh->setFocus(Qt::TabFocusReason);
    QTest::keyClick(refresh, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.propagationIsRefreshing(); }, deadline));
    EXPECT_FALSE(refresh->isEnabled());
    EXPECT_NE(window.focusWidget(), window.findChild<QPushButton *>("monitor.configure"));
    EXPECT_TRUE(shown("propagation.spinner"));
    EXPECT_TRUE(window.findChild<QLabel *>("propagation.emptyText")->text().startsWith("Loading current"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return status->text() == "OFFLINE"; }, deadline));
    EXPECT_TRUE(refresh->isEnabled());
    EXPECT_EQ(window.focusWidget(), refresh);
    EXPECT_FALSE(shown("propagation.spinner"));
    EXPECT_TRUE(shown("propagation.emptySymbol"));
    EXPECT_TRUE(window.findChild<QLabel *>("propagation.emptyText")->text().startsWith("Solar data is unavailable."));

    fails = false;
    refresh->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.propagationConditions().has_value(); }, deadline));
    EXPECT_FALSE(shown("propagation.empty"));
    EXPECT_TRUE(shown("propagation.grid"));
    EXPECT_EQ(window.findChild<QLabel *>("propagation.summary")->text(), propagationSummary(*model.propagationConditions()));
    // A day and a night pill for every band pair and the 6 m row.
    int pills = 0;
    for (QWidget *child : window.findChild<QWidget *>("propagation.grid")->findChildren<QWidget *>())
        pills += child->accessibleName().startsWith("DAY ") || child->accessibleName().startsWith("NIGHT ");
    EXPECT_EQ(pills, 10);
    EXPECT_EQ(status->text(), model.propagationStatus());
}
