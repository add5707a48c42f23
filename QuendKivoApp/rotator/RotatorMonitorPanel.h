#pragma once

// The rotator column of the station monitor: name, status and badge, the
// clickable compass, the target, the map inset and the manual controls.
// 430 points wide; every press calls one AppModel operation.

#include <QWidget>

class QLabel;
class QPushButton;

namespace kivo {

class AppModel;
class LineLimitedLabel;
class RotatorCompass;
class RotatorMapInset;

class RotatorMonitorPanel : public QWidget {
    Q_OBJECT
public:
    explicit RotatorMonitorPanel(AppModel &model, QWidget *parent = nullptr);

    static constexpr int panelWidth = 430;

private:
    void refresh();

    AppModel &m_model;
    LineLimitedLabel *m_title = nullptr;
    LineLimitedLabel *m_status = nullptr;
    QLabel *m_badgeSymbol = nullptr;
    QLabel *m_badge = nullptr;
    RotatorCompass *m_compass = nullptr;
    LineLimitedLabel *m_targetLabel = nullptr;
    QLabel *m_targetDetail = nullptr;
    QLabel *m_targetBearing = nullptr;
    RotatorMapInset *m_map = nullptr;
    QLabel *m_band = nullptr;
    LineLimitedLabel *m_feed = nullptr;
    QPushButton *m_counterClockwise = nullptr;
    QPushButton *m_turn = nullptr;
    QPushButton *m_clockwise = nullptr;
    QPushButton *m_stop = nullptr;
};

} // namespace kivo
