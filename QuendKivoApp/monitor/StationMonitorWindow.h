#pragma once

// The station monitor: a fixed dark panel with the radio, the station and
// the propagation on the left and the rotator on the right. It shows the
// model's values and calls one model operation per button.

#include "KivoCore/radio/Models.h"

#include <QList>
#include <QWidget>
#include <optional>

class QHBoxLayout;
class QLabel;
class QPushButton;

namespace kivo {

class AppModel;
class ContentUnavailableNotice;
class FilledBox;
class PropagationConditionsView;

class StationMonitorWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int panelWidth = 979;
    static constexpr int panelHeight = 540;
    static constexpr int leftColumnWidth = 548;

    explicit StationMonitorWindow(AppModel &model, QWidget *parent = nullptr);

signals:
    // The configuration window is to come back; the application is to quit.
    void configureRequested();
    void quitRequested();
    // Each render report handed to the model, with its surface name.
    void telemetryRenderReported(const QString &surface);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QWidget *makeHeader();
    QWidget *makeVFOStrip();
    QWidget *makeMetrics();
    QWidget *makeStationCards();
    QWidget *makeWaitingNotice();
    QWidget *makeActionBar();
    QWidget *makeFooter();
    void refresh();
    void refreshRadio();
    void refreshStation();
    void refreshFooter();
    void snapshotChanged();
    void queueRenderReport();

    AppModel &m_model;
    std::optional<std::optional<qint64>> m_reportedFrequency;

    QHBoxLayout *m_frequencyRow = nullptr;
    QList<QLabel *> m_frequencyLabels;
    QLabel *m_headerDetail = nullptr;
    FilledBox *m_badgeBox = nullptr;
    QLabel *m_badge = nullptr;
    QLabel *m_vfoA = nullptr;
    QLabel *m_vfoB = nullptr;
    QLabel *m_txPower = nullptr;
    QLabel *m_swrTitle = nullptr;
    QLabel *m_swr = nullptr;
    QLabel *m_rfDrive = nullptr;
    QWidget *m_stationCards = nullptr;
    ContentUnavailableNotice *m_waiting = nullptr;
    QLabel *m_kpaTitle = nullptr;
    QLabel *m_kpaDetail = nullptr;
    QLabel *m_katTitle = nullptr;
    QLabel *m_katDetail = nullptr;
    QLabel *m_routeDetail = nullptr;
    QLabel *m_routeAlignment = nullptr;
    QPushButton *m_amplifier = nullptr;
    QPushButton *m_tune = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_reconnect = nullptr;
    QLabel *m_footerText = nullptr;
    PropagationConditionsView *m_propagation = nullptr;
};

} // namespace kivo
