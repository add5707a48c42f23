#include "KivoCore/agent/RemoteAgentClient.h"
#include "QuendKivoApp/OfflineModel.h"
#include "QuendKivoApp/configuration/ContentView.h"
#include "QuendKivoApp/kit/ColorSwatch.h"
#include "QuendKivoApp/kit/DecimalField.h"
#include "QuendKivoApp/kit/LineLimitedLabel.h"
#include "QuendKivoApp/kit/NumberField.h"
#include "QuendKivoApp/model/AppModel.h"
#include "fakes/FakeRemoteAgent.h"
#include "fakes/RemoteAgentHarness.h"
#include "fakes/TestTls.h"
#include "support/FreePorts.h"
#include "support/widgets/Typing.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
using Kind = AppConfiguration::ConnectionKind;

namespace {

constexpr int deadline = 10000;

class SettingsTabsTest : public ::testing::Test {
protected:
    void open(Kind kind)
    {
        if (agent.configuration.isEmpty())
            agent.configuration = RemoteStationConfiguration::placeholder().toJson();
        model = makeOfflineModel(directory.filePath("settings.ini"), &RemoteAgentHarness::backendTrustingTestCA);
        AppConfiguration configuration = model->configuration();
        configuration.connectionKind = kind;
        configuration.launchServersAutomatically = false;
        configuration.remoteAgentBaseURL = agent.baseURL();
        model->setConfiguration(configuration);
        model->setRemoteAgentToken(agent.token);
        window = std::make_unique<ContentView>(*model);
        window->show();
    }
    ~SettingsTabsTest() override
    {
        window.reset();
        if (model) {
            model->stop();
            (void)QTest::qWaitFor([&] { return !model->isStopping(); }, deadline);
        }
    }
    void startAndLoad()
    {
        model->start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return model->remoteConfigurationLoaded() && model->remoteStationStatus(); },
                                    deadline)) << model->events().join("\n").toStdString();
    }
    template <typename T> T *find(const QString &name) { return window->findChild<T *>(name); }
    void type(QLineEdit *field, const QString &text) { typeAndReturn(field, text); }
    bool waitStatus(const QString &status)
    {
        return QTest::qWaitFor([&] { return model->remoteConfigurationStatus() == status; }, deadline);
    }

    QTemporaryDir directory;
    FakeRemoteAgent agent;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<ContentView> window;
};

} // namespace

TEST_F(SettingsTabsTest, SpotsTabListsEachFeedsCategoriesAndEditsOneStyleFieldInPlace)
{
    ASSERT_TRUE(agent.listen());
    open(Kind::Simulator);
    AppConfiguration configuration = model->configuration();
    SpotStyle odd;
    odd.priority = 9;
    odd.colorHex = "0x453A";
    odd.lifetimeSeconds = 45;
    configuration.spotBridge.setStyle(odd, DXSpotCategory::Useful);
    model->setConfiguration(configuration);

    const auto shownTitles = [&] {
        QStringList titles;
        for (const DXSpotCategory category : allDXSpotCategories) {
            if (find<QComboBox>("spots." + rawValue(category) + ".priority")->isHidden() == false)
                titles << title(category);
        }
        return titles;
    };
    ASSERT_EQ(shownTitles().size(), 6);
    EXPECT_EQ(shownTitles().first(), "Station worked before");
    find<QPushButton>("spots.ruleSet.contest")->click();
    EXPECT_EQ(shownTitles(), QStringList({"New multiplier", "Worked before", "Useful", "Useless", "Unknown"}));

    // Values outside the choices show no selection and stay as stored.
    const QString useful = "spots." + rawValue(DXSpotCategory::Useful);
    EXPECT_EQ(find<QComboBox>(useful + ".priority")->currentIndex(), -1);
    EXPECT_EQ(find<QComboBox>(useful + ".lifetime")->currentIndex(), -1);
    find<ColorSwatch>(useful + ".color")->setColor(QColor::fromRgbF(1.0, 0.5, 0.0));
    const SpotStyle edited = model->configuration().spotBridge.style(DXSpotCategory::Useful);
    EXPECT_EQ(edited.priority, 9);
    EXPECT_EQ(edited.colorHex, "#FF8000");
    EXPECT_EQ(edited.lifetimeSeconds, 45);

    auto *port = find<NumberField>("spots.logbookPort");
    EXPECT_EQ(port->text(), "12062");
    for (const QString refused : {"70000", "0"}) {
        type(port, refused);
        EXPECT_EQ(model->configuration().spotBridge.logbookPort, 12062);
        EXPECT_EQ(port->problem(), "Logbook UDP must be a number from 1 to 65535.");
    }
    type(port, "12064");
    EXPECT_EQ(model->configuration().spotBridge.logbookPort, 12064);
    EXPECT_EQ(find<QPushButton>("spots.restart")->text(), "Save Spot Settings");
}

TEST_F(SettingsTabsTest, SpotsTabEnableRestartsTheBridgeOncePerClickAndCountsLoopbackSpots)
{
    ASSERT_TRUE(agent.listen());
    open(Kind::Simulator);
    const auto [logbook, contest] = freeUdpPorts();
    AppConfiguration configuration = model->configuration();
    configuration.spotBridge.logbookPort = logbook;
    configuration.spotBridge.contestPort = contest;
    model->setConfiguration(configuration);
    model->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->isRunning(); }, deadline));
    const QString listening = QStringLiteral("Spots: listening on UDP %1 / %2").arg(logbook).arg(contest);
    const auto restarts = [&] {
        return std::pair(model->events().filter(listening).size(), model->events().filter("Spots: bridge disabled").size());
    };

    // Neither a change from the model nor a window first shown with the
    // bridge enabled restarts the listeners.
    configuration.spotBridge.enabled = true;
    model->setConfiguration(configuration);
    EXPECT_TRUE(find<QCheckBox>("spots.enabled")->isChecked());
    window = std::make_unique<ContentView>(*model);
    window->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(restarts(), std::pair(qsizetype(0), qsizetype(0)));

    const struct {
        bool enabled;
        qsizetype listening, disabled;
        QString status;
    } clicks[] = {
        {false, 0, 1, "Disabled"},
        {true, 1, 1, "Listening \u2014 ready"},
        {false, 1, 2, "Disabled"},
        {true, 2, 2, "Listening \u2014 ready"},
    };
    for (const auto &click : clicks) {
        find<QCheckBox>("spots.enabled")->click();
        EXPECT_EQ(model->configuration().spotBridge.enabled, click.enabled);
        EXPECT_EQ(restarts(), std::pair(click.listening, click.disabled)) << click.enabled;
        EXPECT_EQ(find<LineLimitedLabel>("spots.status")->fullText(), click.status);
    }

    QUdpSocket sender;
    sender.writeDatagram("<spot><frequency>14025.0</frequency><dxcall>dl1abc</dxcall></spot>",
                         QHostAddress::LocalHost, logbook);
    sender.writeDatagram("not a spot", QHostAddress::LocalHost, contest);
    const auto counter = [&](const char *name) { return find<QLabel>(QStringLiteral("spots.") + name)->text(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return counter("rejected") == "2"; }, deadline))
        << model->events().join("\n").toStdString();
    EXPECT_EQ(counter("received"), "2");
    EXPECT_EQ(counter("forwarded"), "0");
    EXPECT_FALSE(find<LineLimitedLabel>("spots.lastSummary")->fullText().isEmpty());
}

TEST_F(SettingsTabsTest, StationTabReloadsEditsAndSavesKeepingUnknownMembers)
{
    RemoteStationConfiguration typed = RemoteStationConfiguration::placeholder();
    typed.policy.digitalKPAPolicy = "auto";
    typed.policy.amplifierDriveW.remove("20m");
    typed.policy.katAntennaNames.remove("1");
    QJsonObject stored = typed.toJson();
    QJsonObject policy = stored.value("policy").toObject();
    policy.insert("future_policy", 3);
    stored.insert("policy", policy);
    stored.insert("future_member", "kept");
    agent.configuration = stored;
    ASSERT_TRUE(agent.listen());
    open(Kind::RemoteAgent);
    auto *host = find<QLineEdit>("station.flex.host");
    auto *save = find<QPushButton>("station.save");
    EXPECT_FALSE(host->isEnabled());
    EXPECT_FALSE(save->isEnabled());
    EXPECT_FALSE(find<QPushButton>("station.reload")->isEnabled());
    startAndLoad();
    EXPECT_TRUE(host->isEnabled());

    EXPECT_EQ(find<QComboBox>("station.digitalPolicy")->currentIndex(), -1);
    EXPECT_EQ(find<QLineEdit>("station.antennaName.1")->text(), "KAT ANT1");
    EXPECT_EQ(find<NumberField>("station.band.20m.paW")->value(), 25);
    EXPECT_FALSE(model->remoteConfiguration().policy.amplifierDriveW.contains("20m"));
    host->setFocus();
    QTest::keyClicks(host, "x");
    auto *swr = find<DecimalField>("station.targetSWR");
    const double before = model->remoteConfiguration().policy.tuneTargetSWR;
    type(swr, "nan");
    EXPECT_EQ(model->remoteConfiguration().policy.tuneTargetSWR, before);
    type(swr, "1.7");
    find<QCheckBox>("station.band.20m.pa")->click();
    const RemoteStationConfiguration edited = model->remoteConfiguration();
    EXPECT_EQ(edited.policy.tuneTargetSWR, 1.7);
    EXPECT_TRUE(edited.policy.amplifierAllowedBands.contains("20m"));

    auto *power = find<NumberField>("station.tunePower");
    power->setFocus();
    power->selectAll();
    QTest::keyClicks(power, "40"); // still being typed when Save is pressed
    save->click();
    EXPECT_FALSE(save->isEnabled());
    ASSERT_TRUE(waitStatus("Saved — restart the Windows agent to apply"));
    const QJsonObject sent = agent.configuration;
    EXPECT_EQ(sent.value("policy").toObject().value("tune_power_w").toInt(), 40);
    EXPECT_EQ(sent.value("future_member").toString(), "kept");
    EXPECT_EQ(sent.value("policy").toObject().value("future_policy").toInt(), 3);
    EXPECT_EQ(sent.value("policy").toObject().value("digital_kpa_policy").toString(), "auto");
    EXPECT_EQ(sent.value("flex").toObject().value("host").toString(), edited.flex.host);

    agent.setConfigHandler([sent](const FakeRemoteAgent::Request &) {
        return FakeRemoteAgent::Reply::json({{"success", false}, {"config", sent}});
    });
    type(find<NumberField>("station.kpa500.baud"), "abc");
    type(find<NumberField>("station.kpa500.baud"), "19200");
    save->click();
    ASSERT_TRUE(waitStatus("Save failed: Remote Agent rejected the configuration update."))
        << model->remoteConfigurationStatus().toStdString();
    EXPECT_EQ(model->remoteConfiguration().kpa500.baudrate, 19200);
    EXPECT_TRUE(host->isEnabled() && save->isEnabled());
    EXPECT_EQ(find<LineLimitedLabel>("station.status")->fullText(), model->remoteConfigurationStatus());
}

TEST_F(SettingsTabsTest, StationTabKeepsItsRequestsInViewAndScrollsOnlyDownward)
{
    ASSERT_TRUE(agent.listen());
    open(Kind::RemoteAgent);
    window->selectTab(ContentView::WorkspaceTab::Station);
    for (const QSize size : {QSize(760, 520), QSize(900, 620)}) {
        window->resize(size);
        for (int pass = 0; pass < 5; ++pass)
            QCoreApplication::processEvents();
        for (auto *area : find<QWidget>("tab.station")->findChildren<QScrollArea *>()) {
            EXPECT_FALSE(area->horizontalScrollBar()->isVisible()) << size.width();
            for (auto *control : area->widget()->findChildren<QWidget *>(QRegularExpression("^station\\."))) {
                const int left = control->mapTo(area->viewport(), QPoint()).x();
                const int least = std::max(control->minimumSizeHint().width(), control->minimumWidth());
                EXPECT_TRUE(left >= 0 && left + control->width() <= area->viewport()->width() && control->width() >= least)
                    << control->objectName().toStdString() << " at " << size.width();
            }
        }
        for (const char *name : {"station.reload", "station.save"}) {
            QWidget *button = find<QWidget>(name);
            EXPECT_FALSE(find<QScrollArea>("station.editorScroll")->isAncestorOf(button)) << name;
            EXPECT_TRUE(window->rect().contains(QRect(button->mapTo(window.get(), QPoint()), button->size())))
                << name << " at " << size.width();
        }
    }
    // Spare width widens the pickers and watt fields, not the toggles' columns.
    auto *grid = qobject_cast<QGridLayout *>(find<QWidget>("station.bands")->layout());
    for (const int toggle : {3, 6}) {
        const int widest = std::max(grid->itemAtPosition(0, toggle)->sizeHint().width(),
                                    grid->itemAtPosition(2, toggle)->sizeHint().width());
        EXPECT_LE(grid->cellRect(2, toggle).width(), widest) << toggle;
    }
    EXPECT_GT(find<QWidget>("station.band.20m.flex")->width(), 82);
    EXPECT_GT(find<QWidget>("station.band.20m.paW")->width(), 58);
}

TEST_F(SettingsTabsTest, RemoteControlPanelFollowsFullControlAndTheAgentsCommands)
{
    ASSERT_TRUE(agent.listen());
    open(Kind::RemoteAgent);
    startAndLoad();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->isRadioConnected(); }, deadline));
    EXPECT_EQ(find<QLabel>("remote.fullControl")->text(), "Full control disabled");
    EXPECT_FALSE(find<QPushButton>("remote.applyPower")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("remote.tune")->isEnabled());
    EXPECT_TRUE(find<QPushButton>("remote.cancel")->isEnabled());
    EXPECT_TRUE(find<NumberField>("remote.rfPower")->isEnabled());
    auto *amplifier = find<QPushButton>("remote.amplifier");
    EXPECT_EQ(!amplifier->isHidden(), model->amplifierToggleAction().has_value());

    type(find<NumberField>("remote.rfPower"), "0");
    EXPECT_EQ(model->remoteRFPowerWatts(), 0);
    type(find<NumberField>("remote.rfPower"), "-5");
    EXPECT_EQ(model->remoteRFPowerWatts(), -5);
}

TEST_F(SettingsTabsTest, AgentAdvisoryGetsRoomOnTheStatusTab)
{
    QJsonObject state = FakeRemoteAgent::defaultState(), station = state.value("station").toObject();
    station.insert("issues", QJsonArray{QJsonObject{{"message", "SWR above 2.0 on 20m"}}});
    state.insert("station", station);
    agent.state = state;
    ASSERT_TRUE(agent.listen());
    open(Kind::RemoteAgent);
    startAndLoad();
    auto *advisory = find<LineLimitedLabel>("remote.advisory");
    ASSERT_TRUE(QTest::qWaitFor([&] { return advisory->isVisible() && advisory->width() > 0; }, deadline));
    EXPECT_TRUE(advisory->text().startsWith("Agent advisory: SWR above 2.0 on 20m"));
    EXPECT_EQ(advisory->toolTip(), "SWR above 2.0 on 20m");
}
