#pragma once

// The Status tab: the radio connection and the bridge's status, the
// station path as the agent reports it, and for the agent kind the remote
// control box.

#include <QString>
#include <QWidget>

class QGroupBox;
class QLabel;

namespace kivo {

class AppModel;
class LineLimitedLabel;
class SymbolLabel;
struct RemoteStationStatus;

class StatusTab : public QWidget {
    Q_OBJECT
public:
    explicit StatusTab(AppModel &model, QWidget *parent = nullptr);

private:
    QGroupBox *makeRadioBox();
    QGroupBox *makeStationPathBox();
    void refresh();

    AppModel &m_model;
    SymbolLabel *m_connectionIcon = nullptr;
    QLabel *m_connectionLabel = nullptr;
    LineLimitedLabel *m_statusText = nullptr;
    LineLimitedLabel *m_latency = nullptr;
    QLabel *m_waiting = nullptr;
    QWidget *m_stationGrid = nullptr;
    QList<LineLimitedLabel *> m_stationValues;
    QGroupBox *m_remoteControl = nullptr;
};

} // namespace kivo
