// Writes PNG pictures of every tab of the configuration window at its
// default and minimum size and under a dark palette, and of the station
// monitor (offline, on the simulator, opened after the start, on the agent),
// for people to look at; the agent's pages are loaded from the tests' fake
// agent with its recorded operating state. The desktop turns dark and light
// again at run time as a theme reload does it. Asserts nothing.

#include "KivoCore/agent/RemoteAgentClient.h"
#include "QuendKivoApp/configuration/ContentView.h"
#include "fakes/FakeDCU1Controller.h"
#include "fakes/FakeDesktopTheme.h"
#include "fakes/FakeRemoteAgent.h"
#include "fakes/RemoteAgentHarness.h"
#include "fakes/TestTls.h"
#include "QuendKivoApp/kit/Animations.h"
#include "QuendKivoApp/OfflineModel.h"
#include "QuendKivoApp/model/AppModel.h"
#include "QuendKivoApp/monitor/StationMonitorWindow.h"
#include "QuendKivoApp/rotator/RotatorCompass.h"
#include "QuendKivoApp/rotator/RotatorMapInset.h"
#include "QuendKivoApp/rotator/RotatorMonitorPanel.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QStyleFactory>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cstdio>

using namespace kivo;

namespace {

void settle(const std::function<bool()> &done = [] { return false; }, int milliseconds = 300)
{
    QDeadlineTimer deadline(milliseconds);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void save(QWidget *window, const QDir &directory, const QString &name)
{
    settle();
    const QString path = directory.filePath(name + QStringLiteral(".png"));
    window->grab().save(path);
    std::printf("%s\n", qPrintable(path));
}

QJsonObject operatingAgentState()
{
    QFile file(QStringLiteral(QK_TEST_DATA_DIR "/agent-state-operating.json"));
    if (!file.open(QIODevice::ReadOnly))
        return test::FakeRemoteAgent::defaultState();
    QJsonObject state = QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("state")).toObject();
    state[QStringLiteral("capabilities")] = QJsonObject{
        {QStringLiteral("commands"), QJsonArray{QStringLiteral("station_standby"), QStringLiteral("station_operate"),
                                                QStringLiteral("station_tune"), QStringLiteral("station_cancel")}}};
    return state;
}

void saveEveryTab(ContentView &window, const QDir &directory, const QString &prefix)
{
    const char *names[] = {"status", "activity", "spots", "rotator", "station", "configuration"};
    for (int tab = 0; tab < 6; ++tab) {
        window.selectTab(ContentView::WorkspaceTab(tab));
        save(&window, directory, QStringLiteral("%1%2-%3").arg(prefix).arg(tab + 1).arg(QString::fromLatin1(names[tab])));
    }
}

// A logging program tunes the simulator over CAT.
void tuneSimulator(AppModel &model)
{
    QTcpSocket cat;
    cat.connectToHost(QStringLiteral("127.0.0.1"), model.catServerPort());
    cat.waitForConnected(2000);
    cat.write("FA00014074000;");
    settle([&] { return model.radioSnapshot().has_value(); }, 5000);
}

} // namespace

int main(int argc, char **argv)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    animations::setEnabled(false);
    const QDir directory(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots"));
    QDir().mkpath(directory.path());

    QTemporaryDir settings;
    test::FakeRemoteAgent agent;
    agent.configuration = RemoteStationConfiguration::placeholder().toJson();
    agent.state = operatingAgentState();
    agent.listen();
    const auto offline = makeOfflineModel(settings.filePath(QStringLiteral("settings.ini")),
                                          &test::RemoteAgentHarness::backendTrustingTestCA);
    AppModel &model = *offline;

    ContentView window(model);
    window.show();
    StationMonitorWindow monitor(model);
    monitor.show();
    save(&monitor, directory, QStringLiteral("monitor-1-offline"));
    model.start();
    settle([&] { return model.isRunning(); }, 5000);
    {
        // Opened after the start, it shows the radio from its first paint.
        StationMonitorWindow late(model);
        late.show();
        save(&late, directory, QStringLiteral("monitor-opened-late"));
    }
    tuneSimulator(model);
    save(&monitor, directory, QStringLiteral("monitor-2-simulator"));
    model.record(QStringLiteral("CAT: client connected from 127.0.0.1"));
    model.record(QStringLiteral("rigctld: client connected from 127.0.0.1"));

    saveEveryTab(window, directory, QString());
    const QSize defaultSize = window.size();
    window.resize(window.minimumSize());
    saveEveryTab(window, directory, QStringLiteral("minimum-"));
    window.resize(window.maximumWidth(), defaultSize.height());
    window.selectTab(ContentView::WorkspaceTab::Rotator);
    save(&window, directory, QStringLiteral("maximum-4-rotator"));
    window.resize(defaultSize);
    model.stop();
    settle([&] { return !model.isStopping(); }, 5000);
    window.selectTab(ContentView::WorkspaceTab::Configuration);
    save(&window, directory, QStringLiteral("7-configuration-stopped"));
    window.selectTab(ContentView::WorkspaceTab::Status);
    window.resize(window.minimumSize());
    save(&window, directory, QStringLiteral("8-window-minimum"));

    window.resize(900, 620);
    AppConfiguration configuration = model.configuration();
    configuration.connectionKind = AppConfiguration::ConnectionKind::RemoteAgent;
    configuration.remoteAgentBaseURL = agent.baseURL();
    model.setConfiguration(configuration);
    model.setRemoteAgentToken(agent.token);
    model.start();
    settle([&] { return model.remoteConfigurationLoaded() && model.isRadioConnected(); }, 5000);
    const std::pair<ContentView::WorkspaceTab, const char *> agentPages[] = {
        {ContentView::WorkspaceTab::Status, "9-status-agent"},
        {ContentView::WorkspaceTab::Spots, "10-spots-agent"},
        {ContentView::WorkspaceTab::Station, "11-station-agent"}};
    for (const auto &[tab, name] : agentPages) {
        window.selectTab(tab);
        save(&window, directory, QString::fromLatin1(name));
    }
    save(&monitor, directory, QStringLiteral("monitor-3-agent"));
    const QPalette lightPalette = QApplication::palette();
    test::reloadDesktopPalette(test::darkDesktopPalette());
    saveEveryTab(window, directory, QStringLiteral("dark-"));
    save(&monitor, directory, QStringLiteral("palette-change-1-monitor-dark"));
    window.selectTab(ContentView::WorkspaceTab::Status);
    save(&window, directory, QStringLiteral("palette-change-2-status-dark"));
    test::reloadDesktopPalette(lightPalette);
    save(&monitor, directory, QStringLiteral("palette-change-3-monitor-light"));
    save(&window, directory, QStringLiteral("palette-change-4-status-light"));
    model.stop();
    settle([&] { return !model.isStopping(); }, 5000);

    // The rotator panel against the fake controller: compass at 45° with a
    // 30° beam, the map on the whole world, then framed on a target.
    test::FakeDCU1Controller controller;
    controller.setAzimuth(45);
    controller.listen();
    configuration = model.configuration();
    configuration.rotator.host = QStringLiteral("127.0.0.1");
    configuration.rotator.port = controller.port();
    configuration.rotator.rumlogPort = 0;
    configuration.rotator.beamWidthDegrees = 30;
    configuration.rotator.homeGrid = QStringLiteral("FN42");
    model.setConfiguration(configuration);
    RotatorMonitorPanel panel(model);
    panel.show();
    model.startRotator();
    settle([&] { return model.rotatorAzimuth() == 45.0; }, 5000);
    save(panel.findChild<RotatorCompass *>(), directory, QStringLiteral("12-rotator-compass"));
    save(panel.findChild<RotatorMapInset *>(), directory, QStringLiteral("13-rotator-map-world"));
    // Home grids far north (Helsinki) and far south (Melbourne) on the world map.
    for (const auto &[grid, name] : {std::pair{"KP20", "17-rotator-map-home-north"}, std::pair{"QF22", "18-rotator-map-home-south"}}) {
        configuration.rotator.homeGrid = QString::fromLatin1(grid);
        model.setConfiguration(configuration);
        save(panel.findChild<RotatorMapInset *>(), directory, QString::fromLatin1(name));
    }
    configuration.rotator.homeGrid = QStringLiteral("FN42");
    model.setConfiguration(configuration);
    save(&panel, directory, QStringLiteral("14-rotator-panel"));
    model.setRotatorTargetInput(QStringLiteral("JO62"));
    model.resolveRotatorTarget();
    save(panel.findChild<RotatorMapInset *>(), directory, QStringLiteral("15-rotator-map-target"));
    window.selectTab(ContentView::WorkspaceTab::Rotator);
    save(&window, directory, QStringLiteral("16-rotator-connected"));
    model.stopRotator();
    return 0;
}
