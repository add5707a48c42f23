#include "QuendKivoApp/DesktopApplication.h"

#include "QuendKivoApp/CommandLine.h"
#include "QuendKivoApp/ProfileInstance.h"

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
#include <cstdlib>
#include <cstdio>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

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
                                       std::function<void(int status)> exitProcess, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_exitProcess(exitProcess ? std::move(exitProcess)
                                : [](int status) {
                                      // Queued: a start that fails while the first window shows
                                      // does so before the event loop runs.
                                      QMetaObject::invokeMethod(
                                          qApp, [status] { QCoreApplication::exit(status); }, Qt::QueuedConnection);
                                  })
    , m_configurationWindow(std::make_unique<ContentView>(model))
    , m_stationMonitor(std::make_unique<StationMonitorWindow>(model))
{
    // Closing both windows keeps the bridge running; only Quit ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    {
        const auto settings = settingsPath.isEmpty() ? std::make_unique<QSettings>()
                                                     : std::make_unique<QSettings>(settingsPath, QSettings::IniFormat);
        m_configurationWindow->restoreGeometry(settings->value(configurationWindowKey).toByteArray());
        m_stationMonitor->restoreGeometry(settings->value(stationMonitorKey).toByteArray());
    }

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
    // Without a display nobody sees "Start failed": a service manager sees the exit status instead.
    if (!hasDisplay())
        connect(&m_model, &AppModel::startFailed, this, [this] {
            m_exitStatus = 1;
            requestQuit();
        });
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
    // The model leaves a settings file it could not read as it stands.
    if (QString failure; !m_model.storeValues({{configurationWindowKey, m_configurationWindow->saveGeometry()},
                                               {stationMonitorKey, m_stationMonitor->saveGeometry()}},
                                              &failure))
        m_model.record(QStringLiteral("Window positions not saved: ") + failure);
}

void DesktopApplication::requestQuit()
{
    if (m_quitPending)
        return;
    m_quitPending = true;
    saveGeometry();
    // A failed start has stopped everything already.
    if (m_exitStatus == 0)
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
    m_exitProcess(m_exitStatus);
}

bool DesktopApplication::hasDisplay()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1StringView("offscreen") && platform != QLatin1StringView("minimal");
}

bool DesktopApplication::listenForLaterInstances(const QString &serverName)
{
    QLocalServer::removeServer(serverName);
    m_instanceServer = new QLocalServer(this);
    m_instanceServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_instanceServer, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *peer = m_instanceServer->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            peer->write(ProfileInstance::answer(hasDisplay()));
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

void print(std::FILE *stream, const QString &text)
{
    std::fputs(qPrintable(text), stream);
    std::fflush(stream);
}

// What Qt says while the display opens, held back: a display that cannot be
// opened ends in a fatal message, which would abort, and the warnings before
// it blame the platform plug-in.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
QList<HeldMessage> heldMessages;
QtMessageHandler qtMessageHandler = nullptr;
// What the command line was refused with, said instead when no display opens.
std::optional<CommandLineRequest> refusedCommandLine;

void holdWhileOpeningDisplay(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtFatalMsg) {
        heldMessages.append({type, context.category, text});
        return;
    }
    if (refusedCommandLine) {
        print(stderr, refusedCommandLine->text);
        std::_Exit(refusedCommandLine->exitCode);
    }
    QStringList named;
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (!qEnvironmentVariableIsEmpty(name))
            named.append(QString::fromLatin1(name) + u'=' + qEnvironmentVariable(name));
    print(stderr, QStringLiteral("quend-kivo: Start failed: the display cannot be opened (%1).\n")
                      .arg(named.join(QStringLiteral(", "))));
    std::_Exit(1);
}

std::unique_ptr<QApplication> openDisplay(int &argc, char **argv)
{
    qtMessageHandler = qInstallMessageHandler(holdWhileOpeningDisplay);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(qtMessageHandler);
    for (const HeldMessage &message : std::exchange(heldMessages, {}))
        qtMessageHandler(message.type, QMessageLogContext(nullptr, 0, nullptr, message.category.constData()),
                         message.text);
    return app;
}

} // namespace

int runDesktopApplication(int &argc, char **argv, const QString &settingsPath,
                          const std::function<std::unique_ptr<AppModel>()> &makeModel)
{
    const bool offscreen = qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                           && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (offscreen)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The same names as the model's settings file uses.
    QApplication::setOrganizationName(QStringLiteral("tarnvale"));
    QApplication::setOrganizationDomain(QStringLiteral("tarnvale.com"));
    QApplication::setApplicationName(QStringLiteral("Quend-Kivo"));
    QApplication::setApplicationVersion(QStringLiteral(QK_VERSION));
    const QString settingsFile = settingsPath.isEmpty() ? QSettings().fileName() : settingsPath;

    // Help and version answer where no display can be opened. Qt itself
    // takes out its options once the display is open, and decides then what
    // reads as an error; where none opens, the refusal read here is said.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLineRequest answer = parseCommandLine(withoutQtOptions(arguments), settingsFile);
    if (!answer.run && answer.exitCode == 0) {
        print(stdout, answer.text);
        return 0;
    }
    if (!answer.run)
        refusedCommandLine = answer;

    const std::unique_ptr<QApplication> app = openDisplay(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("quend-kivo"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    const CommandLineRequest request = parseCommandLine(QCoreApplication::arguments(), settingsFile);
    if (!request.run) {
        print(request.toStandardError ? stderr : stdout, request.text);
        return request.exitCode;
    }

    ProfileInstance instance(settingsFile);
    if (!instance.acquire()) {
        if (!instance.failure().isEmpty()) {
            print(stderr, QStringLiteral("quend-kivo: cannot make sure only one copy runs for %1: %2.\n")
                              .arg(settingsFile, instance.failure()));
            return 1;
        }
        switch (ProfileInstance::handOver(instance.serverName())) {
        case ProfileInstance::HandOver::Shown:
            return 0;
        case ProfileInstance::HandOver::RunningWithoutDisplay:
            print(stderr, QStringLiteral("quend-kivo: Quend-Kivo already runs for %1 without a display; "
                                         "its windows cannot be shown here.\n")
                              .arg(settingsFile));
            return 1;
        case ProfileInstance::HandOver::NoAnswer:
            print(stderr, QStringLiteral("quend-kivo: another copy holds %1 but does not answer.\n").arg(settingsFile));
            return 1;
        }
    }

    // Said only by the copy that serves.
    if (offscreen)
        print(stderr, QStringLiteral("quend-kivo: no display; running offscreen, the bridge still serves\n"));
    const std::unique_ptr<AppModel> model = makeModel();
    DesktopApplication desktop(*model, settingsPath);
    desktop.listenForLaterInstances(instance.serverName());

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
    QObject::connect(app.get(), &QGuiApplication::commitDataRequest, &desktop, &DesktopApplication::requestQuit);

    desktop.showConfigurationWindow();
    return QApplication::exec();
}

} // namespace kivo
