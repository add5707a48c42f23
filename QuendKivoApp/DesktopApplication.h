#pragma once

// The windowed application: the configuration window, the station monitor,
// the tray, one instance per user, and every way of quitting going through
// the model's stop.

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class QLocalServer;
class QSystemTrayIcon;
class QWidget;

namespace kivo {

class AppModel;
class ContentView;
class StationMonitorWindow;

// Brings a window back: de-minimised, shown, raised and activated.
void restoreWindow(QWidget *window);

class DesktopApplication : public QObject {
    Q_OBJECT
public:
    // Longest wait for the stop task before the process exits anyway.
    static constexpr int stopCapMilliseconds = 10000;

    // settingsPath: the model's settings file (empty for the standard one);
    // exitProcess ends the event loop with an exit status (tests pass their own).
    DesktopApplication(AppModel &model, const QString &settingsPath,
                       std::function<void(int status)> exitProcess = {}, QObject *parent = nullptr);
    ~DesktopApplication() override;

    ContentView *configurationWindow() const;
    StationMonitorWindow *stationMonitor() const;

    void showConfigurationWindow();
    void showStationMonitor();
    // Stops the bridge and exits once the stop task ends (or the cap passes);
    // a second request starts nothing new.
    void requestQuit();
    bool isQuitPending() const { return m_quitPending; }

    // Listens for later starts of the program, which bring this instance's
    // configuration window back (or learn that it has no display).
    bool listenForLaterInstances(const QString &serverName);
    // Whether a window can be seen at all (not the offscreen platform).
    static bool hasDisplay();

private:
    void installTray();
    void saveGeometry();
    void finishQuit();

    AppModel &m_model;
    std::function<void(int status)> m_exitProcess;
    // Non-zero once a start failed where nobody can see it.
    int m_exitStatus = 0;
    std::unique_ptr<ContentView> m_configurationWindow;
    std::unique_ptr<StationMonitorWindow> m_stationMonitor;
    QPointer<QSystemTrayIcon> m_tray;
    QPointer<QLocalServer> m_instanceServer;
    bool m_quitPending = false;
    bool m_exited = false;
};

// What main calls for the windowed program: makes the QApplication (Fusion,
// quit on last window off), hands over to the copy running this settings
// profile or builds the
// model with makeModel, shows the windows and runs the event loop. --help,
// --version and unknown options answer without starting anything, help and
// version before any display is opened; a display that cannot be opened
// ends the start with status 1. SIGINT,
// SIGTERM, SIGHUP and the session's end quit through the model's stop.
int runDesktopApplication(int &argc, char **argv, const QString &settingsPath,
                          const std::function<std::unique_ptr<AppModel>()> &makeModel);

} // namespace kivo
