#pragma once

// The station monitor window. Its panels come with their own work; until
// then it holds one line.

#include <QWidget>

namespace kivo {

class AppModel;

class StationMonitorWindow : public QWidget {
    Q_OBJECT
public:
    explicit StationMonitorWindow(AppModel &model, QWidget *parent = nullptr);

private:
    AppModel &m_model;
};

} // namespace kivo
