#pragma once

// The HF propagation panel: the latest solar report's summary, day and
// night ratings per band, the fetch status and a refresh button.

#include <QList>
#include <QWidget>

class QGridLayout;
class QLabel;
class QToolButton;

namespace kivo {

class AppModel;
class Spinner;
class StatusDot;

class PropagationConditionsView : public QWidget {
    Q_OBJECT
public:
    explicit PropagationConditionsView(AppModel &model, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();
    void rebuildGrid();

    AppModel &m_model;
    QLabel *m_summary = nullptr;
    StatusDot *m_dot = nullptr;
    QLabel *m_status = nullptr;
    QToolButton *m_refresh = nullptr;
    QWidget *m_conditions = nullptr;
    QWidget *m_grid = nullptr;
    QGridLayout *m_gridLayout = nullptr;
    QLabel *m_updated = nullptr;
    QLabel *m_updatedDot = nullptr;
    QWidget *m_empty = nullptr;
    QLabel *m_emptyIcon = nullptr;
    Spinner *m_spinner = nullptr;
    QLabel *m_emptyText = nullptr;
    // The refresh button had the focus when its fetch began.
    bool m_refocusRefresh = false;
};

} // namespace kivo
