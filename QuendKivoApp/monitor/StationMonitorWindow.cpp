#include "QuendKivoApp/monitor/StationMonitorWindow.h"

#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/Palette.h"

#include <QLabel>
#include <QVBoxLayout>

namespace kivo {

StationMonitorWindow::StationMonitorWindow(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("QuendStationMonitor"));
    setWindowTitle(QStringLiteral("Quend Station Monitor"));
    setFixedSize(979, 540);
    // Dark whatever the desktop's appearance.
    QPalette dark = palette();
    dark.setColor(QPalette::Window, srgb(0.025, 0.06, 0.11));
    dark.setColor(QPalette::WindowText, MonitorPalette::cyan());
    setPalette(dark);
    setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(this);
    auto *line = new QLabel(QStringLiteral("The station monitor panels will appear here."));
    line->setObjectName(QStringLiteral("monitor.placeholder"));
    line->setFont(monospacedFont(12));
    line->setAlignment(Qt::AlignCenter);
    layout->addWidget(line);
}

} // namespace kivo
