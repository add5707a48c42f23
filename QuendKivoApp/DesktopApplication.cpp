#include "QuendKivoApp/DesktopApplication.h"

#include "QuendKivoApp/configuration/ContentView.h"
#include "QuendKivoApp/kit/Icons.h"
#include "QuendKivoApp/model/AppModel.h"
#include "QuendKivoApp/monitor/StationMonitorWindow.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QSettings>
#include <QShortcut>
#include <QSocketNotifier>
#include <QStyleFactory>
#include <QSystemTrayIcon>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace kivo {

namespace {

const QString configurationWindowKey = QStringLiteral("QuendMainConfigurationWindow");
const QString stationMonitorKey = QStringLiteral("QuendStationMonitor");

} // namespace

void restoreWindow(QWidget *window)
{
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}

DesktopApplication::DesktopApplication(AppModel &model, const QString &settingsPath,
                                       std::function<void()> exitProcess, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_settings(settingsPath.isEmpty() ? std::make_unique<QSettings>()
                                        : std::make_unique<QSettings>(settingsPath, QSettings::IniFormat))
    , m_exitProcess(exitProcess ? std::move(exitProcess) : [] { QCoreApplication::quit(); })
    , m_configurationWindow(std::make_unique<ContentView>(model))
    , m_stationMonitor(std::make_unique<StationMonitorWindow>(model))
{
    // Closing both windows keeps the bridge running; only Quit ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    m_configurationWindow->restoreGeometry(m_settings->value(configurationWindowKey).toByteArray());
    m_stationMonitor->restoreGeometry(m_settings->value(stationMonitorKey).toByteArray());

    for (QWidget *window : {static_cast<QWidget *>(m_configurationWindow.get()),
                            static_cast<QWidget *>(m_stationMonitor.get())}) {
        window->setWindowIcon(symbolIcon(QStringLiteral("quend-kivo"), window->palette().color(QPalette::WindowText)));
        auto *quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), window);
        connect(quit, &QShortcut::activated, this, &DesktopApplication::requestQuit);
    }
    auto *monitorShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M), m_stationMonitor.get());
    connect(monitorShortcut, &QShortcut::activated, this, &DesktopApplication::showStationMonitor);

    connect(m_configurationWindow.get(), &ContentView::openStationMonitorRequested, this,
            &DesktopApplication::showStationMonitor);
    connect(m_stationMonitor.get(), &StationMonitorWindow::configureRequested, this,
            &DesktopApplication::showConfigurationWindow);
    connect(m_stationMonitor.get(), &StationMonitorWindow::quitRequested, this, &DesktopApplication::requestQuit);
    connect(m_configurationWindow.get(), &ContentView::contentShown, &m_model, &AppModel::startAutomatically);
    installTray();
}

DesktopApplication::~DesktopApplication() = default;

ContentView *DesktopApplication::configurationWindow() const { return m_configurationWindow.get(); }
StationMonitorWindow *DesktopApplication::stationMonitor() const { return m_stationMonitor.get(); }

void DesktopApplication::showConfigurationWindow() { restoreWindow(m_configurationWindow.get()); }
void DesktopApplication::showStationMonitor() { restoreWindow(m_stationMonitor.get()); }

void DesktopApplication::installTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray = new QSystemTrayIcon(symbolIcon(QStringLiteral("quend-kivo"), QColor(Qt::white)), this);
    m_tray->setToolTip(QStringLiteral("Quend-Kivo"));
    auto *menu = new QMenu;
    connect(m_tray, &QObject::destroyed, menu, &QObject::deleteLater);
    menu->addAction(QStringLiteral("Configuration Window"), this, &DesktopApplication::showConfigurationWindow);
    menu->addAction(QStringLiteral("Station Monitor"), this, &DesktopApplication::showStationMonitor);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Quit Quend-Kivo"), this, &DesktopApplication::requestQuit);
    m_tray->setContextMenu(menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            showConfigurationWindow();
    });
    m_tray->show();
}

void DesktopApplication::saveGeometry()
{
    m_settings->setValue(configurationWindowKey, m_configurationWindow->saveGeometry());
    m_settings->setValue(stationMonitorKey, m_stationMonitor->saveGeometry());
    m_settings->sync();
}

void DesktopApplication::requestQuit()
{
    if (m_quitPending)
        return;
    m_quitPending = true;
    saveGeometry();
    m_model.stop();
    if (!m_model.isStopping()) {
        finishQuit();
        return;
    }
    connect(&m_model, &AppModel::stopTaskFinished, this, &DesktopApplication::finishQuit);
    QTimer::singleShot(stopCapMilliseconds, this, &DesktopApplication::finishQuit);
}

void DesktopApplication::finishQuit()
{
    if (m_exited)
        return;
    m_exited = true;
    m_exitProcess();
}

bool DesktopApplication::handOverToRunningInstance(const QString &serverName)
{
    QLocalSocket socket;
    socket.connectToServer(serverName);
    // Start-up only: a live instance answers at once, a stale name fails at once.
    if (!socket.waitForConnected(1000))
        return false;
    socket.write("show\n");
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return true;
}

bool DesktopApplication::listenForLaterInstances(const QString &serverName)
{
    QLocalServer::removeServer(serverName);
    m_instanceServer = new QLocalServer(this);
    m_instanceServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_instanceServer, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *peer = m_instanceServer->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            showConfigurationWindow();
        }
    });
    return m_instanceServer->listen(serverName);
}

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

QString instanceServerName()
{
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = QString::number(::getuid());
    return QStringLiteral("quend-kivo-") + user;
}

} // namespace

int runDesktopApplication(int &argc, char **argv, const QString &settingsPath,
                          const std::function<std::unique_ptr<AppModel>()> &makeModel)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "quend-kivo: no display; running offscreen, the bridge still serves\n");
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The same names as the model's settings file uses.
    QApplication::setOrganizationName(QStringLiteral("tarnvale"));
    QApplication::setOrganizationDomain(QStringLiteral("tarnvale.com"));
    QApplication::setApplicationName(QStringLiteral("Quend-Kivo"));
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("quend-kivo"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    const QString serverName = instanceServerName();
    if (DesktopApplication::handOverToRunningInstance(serverName))
        return 0;

    const std::unique_ptr<AppModel> model = makeModel();
    DesktopApplication desktop(*model, settingsPath);
    desktop.listenForLaterInstances(serverName);

    std::unique_ptr<QSocketNotifier> notifier;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &desktop, [&desktop] {
            char byte;
            [[maybe_unused]] const auto count = ::read(signalPipe[0], &byte, 1);
            desktop.requestQuit();
        });
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            std::signal(signal, onSignal);
    }
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &desktop, &DesktopApplication::requestQuit);

    desktop.showConfigurationWindow();
    return app.exec();
}

} // namespace kivo
