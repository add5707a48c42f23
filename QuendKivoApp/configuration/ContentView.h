#pragma once

// The configuration window: header, divider and the six tabs. It keeps
// only its view-local selections; everything shown comes from AppModel.

#include "QuendKivoApp/model/AppConfiguration.h"
#include "QuendKivoApp/kit/ConnectionState.h"

#include <QWidget>
#include <optional>

class QLabel;
class QPushButton;
class QTabWidget;

namespace kivo {

class AppModel;
class ActivityTab;
class ConfigurationTab;
class RotatorSettingsView;
class SpotsTab;
class StatusTab;

struct HeaderPresentation {
    ConnectionPresentation connection;
    QString kindName;
    bool reconnectShown;
    QString startStopLabel;

    bool operator==(const HeaderPresentation &) const = default;
};

HeaderPresentation presentHeader(bool isRunning, bool isRadioConnected, bool isRemoteAgentConnected,
                                 AppConfiguration::ConnectionKind kind);

// The connection state as both the header and the Status tab derive it.
ConnectionPresentation connectionPresentation(const AppModel &model);

class ContentView : public QWidget {
    Q_OBJECT
public:
    enum class WorkspaceTab { Status, Activity, Spots, Rotator, Station, Configuration };

    explicit ContentView(AppModel &model, QWidget *parent = nullptr);

    void selectTab(WorkspaceTab tab);

signals:
    void openStationMonitorRequested();
    // Each time the window's content is shown (the start-up task hangs here).
    void contentShown();
    // Right after each render-timing report was handed to the model.
    void renderReported(const QString &surface);

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QWidget *makeHeader();
    QWidget *makeStationPage();
    void refreshHeader();
    // Icons drawn in the palette's text colour, again after a change.
    void tintIcons();
    void refreshStationPage();
    void scheduleRenderReport();
    void toggleBridge();
    // The sentence for the first settings field that holds no number in range.
    QString settingsProblem() const;

    AppModel &m_model;
    QLabel *m_connectionDot = nullptr;
    QLabel *m_connectionLabel = nullptr;
    QLabel *m_kindLabel = nullptr;
    QPushButton *m_reconnect = nullptr;
    QPushButton *m_startStop = nullptr;
    QPushButton *m_openMonitor = nullptr;
    QTabWidget *m_tabs = nullptr;
    QWidget *m_stationUnavailable = nullptr;
    QWidget *m_stationEditor = nullptr;
    ConfigurationTab *m_configurationTab = nullptr;
    SpotsTab *m_spotsTab = nullptr;
    RotatorSettingsView *m_rotatorSettings = nullptr;
    bool m_shownOnce = false;
    std::optional<std::optional<qint64>> m_observedFrequency;
};

} // namespace kivo
