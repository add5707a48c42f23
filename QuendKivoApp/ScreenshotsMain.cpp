// Writes PNG pictures of every tab of the configuration window, of the
// window at its minimum size and of the station monitor (offline, on the
// simulator, and on the repository's fake agent), for people to look at.
// Asserts nothing.

#include "KivoCore/agent/RemoteAgentClient.h"
#include "KivoCore/support/SecretStore.h"
#include "QuendKivoApp/configuration/ContentView.h"
#include "QuendKivoApp/monitor/StationMonitorWindow.h"
#include "fakes/FakeRemoteAgent.h"
#include "fakes/TestTls.h"
#include "QuendKivoApp/kit/Animations.h"
#include "QuendKivoApp/OfflineModel.h"
#include "QuendKivoApp/model/AppModel.h"

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

QByteArray dataFile(const char *name)
{
    QFile file(QStringLiteral(QK_TEST_DATA_DIR "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void stopAndSettle(AppModel &model)
{
    model.stop();
    settle([&] { return !model.isStopping(); }, 5000);
}

void saveMonitorOfflineAndSimulator(const QDir &directory, const QString &settingsPath)
{
    const auto model = makeOfflineModel(settingsPath);
    AppConfiguration configuration = model->configuration();
    configuration.connectionKind = AppConfiguration::ConnectionKind::Simulator;
    model->setConfiguration(configuration);
    StationMonitorWindow monitor(*model);
    monitor.show();
    save(&monitor, directory, QStringLiteral("monitor-1-offline"));
    model->start();
    settle([&] { return model->isRunning(); }, 5000);
    // The simulator publishes from its first change.
    QTcpSocket cat;
    cat.connectToHost(QStringLiteral("127.0.0.1"), model->catServerPort());
    cat.waitForConnected(2000);
    cat.write("FA00014074000;");
    settle([&] { return model->radioSnapshot().has_value(); }, 5000);
    save(&monitor, directory, QStringLiteral("monitor-2-simulator"));
    stopAndSettle(*model);
}

void saveMonitorOnAgent(const QDir &directory, const QString &settingsPath)
{
    test::FakeRemoteAgent agent;
    agent.state = QJsonDocument::fromJson(dataFile("agent-state-operating.json")).object().value("state").toObject();
    agent.state["capabilities"] =
        QJsonObject{{"commands", QJsonArray{"station_standby", "station_operate", "station_tune", "station_cancel"}}};
    if (!agent.listen())
        return;
    AppModelDependencies dependencies;
    dependencies.settingsPath = settingsPath;
    dependencies.secrets = std::make_shared<InMemorySecretStore>();
    dependencies.startPropagation = false;
    dependencies.propagationFetcher = []() -> QCoro::Task<PropagationConditionsSnapshot> {
        co_return PropagationConditionsParser::parse(dataFile("hamqsl-solarxml-2019-01-15.xml"));
    };
    dependencies.backendFactory = [](const AppBackendRequest &request) {
        auto client = std::make_shared<RemoteAgentClient>(request.remoteAgentBaseURL, request.remoteAgentToken,
                                                          test::clientConfigurationTrustingTestCA(), request.onState,
                                                          request.onSnapshot);
        return AppBackend{client, client};
    };
    AppModel model(std::move(dependencies));
    AppConfiguration configuration = model.configuration();
    configuration.connectionKind = AppConfiguration::ConnectionKind::RemoteAgent;
    configuration.remoteAgentBaseURL = agent.baseURL();
    configuration.catPort = configuration.rigCtlPort = 0;
    configuration.spotBridge.enabled = configuration.rotator.enabled = false;
    model.setConfiguration(configuration);
    model.setRemoteAgentToken(agent.token);
    StationMonitorWindow monitor(model);
    monitor.show();
    model.start();
    model.refreshPropagationConditions();
    settle([&] { return model.remoteStationStatus().has_value() && model.propagationConditions().has_value(); }, 5000);
    save(&monitor, directory, QStringLiteral("monitor-3-agent"));
    stopAndSettle(model);
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
    const auto offline = makeOfflineModel(settings.filePath(QStringLiteral("settings.ini")));
    AppModel &model = *offline;

    ContentView window(model);
    window.show();
    model.start();
    settle([&] { return model.isRunning(); }, 5000);
    model.record(QStringLiteral("CAT: client connected from 127.0.0.1"));
    model.record(QStringLiteral("rigctld: client connected from 127.0.0.1"));

    const char *names[] = {"status", "activity", "spots", "rotator", "station", "configuration"};
    for (int tab = 0; tab < 6; ++tab) {
        window.selectTab(ContentView::WorkspaceTab(tab));
        save(&window, directory, QStringLiteral("%1-%2").arg(tab + 1).arg(QString::fromLatin1(names[tab])));
    }
    model.stop();
    settle([&] { return !model.isStopping(); }, 5000);
    window.selectTab(ContentView::WorkspaceTab::Configuration);
    save(&window, directory, QStringLiteral("7-configuration-stopped"));
    window.selectTab(ContentView::WorkspaceTab::Status);
    window.resize(window.minimumSize());
    save(&window, directory, QStringLiteral("8-window-minimum"));

    saveMonitorOfflineAndSimulator(directory, settings.filePath(QStringLiteral("monitor.ini")));
    saveMonitorOnAgent(directory, settings.filePath(QStringLiteral("agent.ini")));
    return 0;
}
