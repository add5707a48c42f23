#include "QuendKivoApp/monitor/StationMonitorWindow.h"
#include "QuendKivoApp/rotator/RotatorMonitorPanel.h"

#include "QuendKivoApp/model/StationRules.h"
#include "QuendKivoApp/kit/ContentUnavailableNotice.h"
#include "QuendKivoApp/kit/FixedPalette.h"
#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/Palette.h"
#include "QuendKivoApp/kit/ReturnAction.h"
#include "QuendKivoApp/model/AppModel.h"
#include "QuendKivoApp/monitor/MonitorPresenters.h"
#include "QuendKivoApp/monitor/MonitorWidgets.h"
#include "QuendKivoApp/monitor/PropagationConditionsView.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace kivo {

namespace {

const QString surfaceName = QStringLiteral("Monitor");
const QColor panelBackground = srgb(0.025, 0.06, 0.11);

QHBoxLayout *row(QWidget *owner, int spacing, int left, int top, int right, int bottom)
{
    auto *layout = new QHBoxLayout(owner);
    layout->setSpacing(spacing);
    layout->setContentsMargins(left, top, right, bottom);
    return layout;
}

QPushButton *smallButton(const QString &title, const char *objectName)
{
    auto *button = new QPushButton(title);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setFont(kitFont(11));
    button->setAutoDefault(false);
    return button;
}

QWidget *metricTile(QLabel *title, QLabel *value, const QColor &tint, const QColor &background)
{
    auto *tile = new FilledBox(background, 5);
    tile->setMinimumHeight(60);
    tile->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *layout = new QVBoxLayout(tile);
    layout->setSpacing(3);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addStretch(1);
    title->setFont(kitFont(10, QFont::Bold));
    setFixedForegroundColor(title, tint);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    value->setFont(kitFont(21, QFont::Bold));
    setFixedForegroundColor(value, tint);
    layout->addWidget(value, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return tile;
}

QWidget *telemetryCard(QLabel *title, QLabel *detail, const QColor &background)
{
    auto *card = new FilledBox(background);
    card->setMinimumHeight(49);
    auto *layout = new QVBoxLayout(card);
    layout->setSpacing(4);
    layout->setContentsMargins(14, 0, 14, 0);
    layout->addStretch(1);
    title->setFont(monospacedFont(11, QFont::Bold));
    detail->setFont(monospacedFont(10, QFont::DemiBold));
    layout->addWidget(title);
    layout->addWidget(detail);
    layout->addStretch(1);
    return card;
}

} // namespace

StationMonitorWindow::StationMonitorWindow(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("QuendStationMonitor"));
    setWindowTitle(QStringLiteral("Quend Station Monitor"));
    setFixedSize(panelWidth, panelHeight);
    // Dark whatever the desktop's appearance: every role is the panel's own,
    // derived from its button and window colours, so nothing of the desktop
    // shows through, at the first opening or after a theme change.
    QPalette dark(srgb(0.12, 0.18, 0.26), panelBackground);
    dark.setColor(QPalette::WindowText, MonitorPalette::cyan());
    dark.setColor(QPalette::Text, MonitorPalette::cyan());
    dark.setColor(QPalette::ButtonText, QColor(235, 240, 245));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(120, 130, 145));
    dark.setColor(QPalette::ToolTipBase, srgb(0.03, 0.14, 0.21));
    dark.setColor(QPalette::ToolTipText, QColor(235, 240, 245));
    setFixedPalette(this, dark);

    auto *columns = row(this, 0, 0, 0, 0, 0);
    auto *left = new QWidget;
    left->setObjectName(QStringLiteral("monitor.leftColumn"));
    left->setFixedWidth(leftColumnWidth);
    auto *stack = new QVBoxLayout(left);
    stack->setSpacing(0);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addWidget(makeHeader());
    stack->addWidget(makeVFOStrip());
    stack->addWidget(makeMetrics());
    stack->addWidget(makeStationCards());
    stack->addWidget(makeWaitingNotice());
    m_propagation = new PropagationConditionsView(model);
    stack->addWidget(m_propagation, 1);
    stack->addWidget(makeFooter());
    columns->addWidget(left);
    auto *divider = new FilledBox(withOpacity(MonitorPalette::cyan(), 0.18));
    divider->setFixedWidth(1);
    columns->addWidget(divider);
    auto *rotator = new RotatorMonitorPanel(model);
    static_assert(RotatorMonitorPanel::panelWidth == panelWidth - leftColumnWidth - 1);
    columns->addWidget(rotator, 0, Qt::AlignTop);

    // Each change redraws only the part that shows it: the snapshot time
    // ticks with every update and touches the footer line alone.
    connect(&model, &AppModel::radioSnapshotChanged, this, &StationMonitorWindow::snapshotChanged);
    connect(&model, &AppModel::remoteStationStatusChanged, this, &StationMonitorWindow::refresh);
    for (auto signal : {&AppModel::isRadioConnectedChanged, &AppModel::isRemoteAgentConnectedChanged})
        connect(&model, signal, this, &StationMonitorWindow::refreshRadio);
    for (auto signal : {&AppModel::isRadioConnectedChanged, &AppModel::isRunningChanged, &AppModel::statusChanged,
                        &AppModel::configurationChanged})
        connect(&model, signal, this, &StationMonitorWindow::refreshStation);
    connect(&model, &AppModel::lastSnapshotAtChanged, this, &StationMonitorWindow::refreshFooter);
    refresh();
    holdPanelPalette(this);
}

QWidget *StationMonitorWindow::makeHeader()
{
    auto *header = new FilledBox(srgb(0.03, 0.14, 0.21));
    auto *layout = row(header, 16, 16, 10, 16, 10);
    auto *lines = new QVBoxLayout;
    lines->setSpacing(3);
    m_frequencyRow = new QHBoxLayout;
    m_frequencyRow->setSpacing(14);
    for (const char *name : {"monitor.frequencyA", "monitor.frequencyB", "monitor.frequency"}) {
        auto *label = monitorLabel(kitFont(27, QFont::Bold), MonitorPalette::cyan(), name);
        m_frequencyLabels.append(label);
        m_frequencyRow->addWidget(label);
    }
    m_frequencyRow->addStretch(1);
    lines->addLayout(m_frequencyRow);
    m_headerDetail = monitorLabel(monospacedFont(11, QFont::Medium), withOpacity(MonitorPalette::cyan(), 0.86),
                                  "monitor.headerDetail");
    lines->addWidget(m_headerDetail);
    layout->addLayout(lines, 1);
    m_badgeBox = new FilledBox(QColor(), 5);
    m_badgeBox->setFixedSize(138, 36);
    auto *badgeLayout = row(m_badgeBox, 0, 0, 0, 0, 0);
    m_badge = monitorLabel(kitFont(17, QFont::Bold), Qt::white, "monitor.badge");
    m_badge->setAlignment(Qt::AlignCenter);
    badgeLayout->addWidget(m_badge);
    layout->addWidget(m_badgeBox);
    return header;
}

QWidget *StationMonitorWindow::makeVFOStrip()
{
    auto *strip = new QWidget;
    strip->setFixedHeight(42);
    auto *layout = row(strip, 18, 16, 0, 16, 0);
    const QFont font = monospacedFont(12, QFont::DemiBold);
    const QColor color = srgb(0.58, 0.77, 0.99);
    m_vfoA = monitorLabel(font, color, "monitor.vfoA");
    m_vfoB = monitorLabel(font, color, "monitor.vfoB");
    auto *bar = monitorLabel(font, monitorSecondary());
    bar->setText(QStringLiteral("|"));
    layout->addWidget(m_vfoA);
    layout->addWidget(bar);
    layout->addWidget(m_vfoB);
    layout->addStretch(1);
    return strip;
}

QWidget *StationMonitorWindow::makeMetrics()
{
    auto *metrics = new QWidget;
    auto *layout = row(metrics, 10, 12, 8, 12, 8);
    const auto title = [](const QString &text, const char *objectName) {
        auto *label = monitorLabel(QFont(), QColor(), objectName);
        label->setText(text);
        return label;
    };
    m_txPower = monitorLabel(QFont(), QColor(), "monitor.txPower");
    m_swrTitle = title(QStringLiteral("SWR"), "monitor.swrTitle");
    m_swr = monitorLabel(QFont(), QColor(), "monitor.swr");
    m_rfDrive = monitorLabel(QFont(), QColor(), "monitor.rfDrive");
    layout->addWidget(metricTile(title(QStringLiteral("TX POWER"), nullptr), m_txPower, srgb(1.00, 0.67, 0.38),
                                 srgb(0.26, 0.14, 0.08)), 1);
    layout->addWidget(metricTile(m_swrTitle, m_swr, monitorSecondary(), srgb(0.05, 0.21, 0.20)), 1);
    layout->addWidget(metricTile(title(QStringLiteral("RF DRIVE"), nullptr), m_rfDrive, srgb(0.82, 0.76, 1.00),
                                 srgb(0.18, 0.13, 0.31)), 1);
    return metrics;
}

QWidget *StationMonitorWindow::makeStationCards()
{
    m_stationCards = new QWidget;
    m_stationCards->setObjectName(QStringLiteral("monitor.stationCards"));
    auto *layout = new QVBoxLayout(m_stationCards);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    m_kpaTitle = monitorLabel(QFont(), QColor(), "monitor.kpaTitle");
    m_kpaDetail = monitorLabel(QFont(), QColor(), "monitor.kpaDetail");
    m_katTitle = monitorLabel(QFont(), QColor(), "monitor.katTitle");
    m_katDetail = monitorLabel(QFont(), QColor(), "monitor.katDetail");
    layout->addWidget(telemetryCard(m_kpaTitle, m_kpaDetail, srgb(0.10, 0.14, 0.24)));
    layout->addWidget(telemetryCard(m_katTitle, m_katDetail, srgb(0.05, 0.19, 0.22)));

    auto *route = new FilledBox(srgb(0.05, 0.20, 0.15));
    route->setFixedHeight(34);
    auto *routeLayout = row(route, 6, 14, 0, 14, 0);
    m_routeDetail = monitorLabel(monospacedFont(10, QFont::DemiBold), QColor(), "monitor.routeDetail");
    m_routeAlignment = monitorLabel(monospacedFont(10, QFont::DemiBold), QColor(), "monitor.routeAlignment");
    // The alignment is one word: a long route gives way, not the verdict.
    m_routeAlignment->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    routeLayout->addWidget(m_routeDetail);
    routeLayout->addStretch(1);
    routeLayout->addWidget(m_routeAlignment);
    layout->addWidget(route);
    layout->addWidget(makeActionBar());
    return m_stationCards;
}

QWidget *StationMonitorWindow::makeWaitingNotice()
{
    const QString symbol = QStringLiteral("antenna.radiowaves.left.and.right.slash");
    m_waiting = new ContentUnavailableNotice({.title = QStringLiteral("Waiting for station telemetry"), .symbol = symbol});
    m_waiting->setObjectName(QStringLiteral("monitor.waiting"));
    m_waiting->setFixedHeight(176);
    m_waiting->setFixedColors(QColor(235, 240, 245), monitorSecondary());
    return m_waiting;
}

QWidget *StationMonitorWindow::makeActionBar()
{
    auto *bar = new QWidget;
    auto *layout = row(bar, 7, 12, 8, 12, 8);
    m_amplifier = smallButton(QString(), "monitor.amplifier");
    m_tune = smallButton(actionTitle(RemoteStationAction::Tune), "monitor.tune");
    m_cancel = smallButton(actionTitle(RemoteStationAction::Cancel), "monitor.cancel");
    m_reconnect = smallButton(QStringLiteral("Reconnect"), "monitor.reconnect");
    m_reconnect->setToolTip(QStringLiteral("Re-establish HTTPS and WebSocket state without changing station state"));
    connect(m_amplifier, &QPushButton::clicked, this, [this] {
        if (const auto action = m_model.amplifierToggleAction())
            m_model.performRemoteStationAction(*action);
    });
    connect(m_tune, &QPushButton::clicked, this, [this] { m_model.performRemoteStationAction(RemoteStationAction::Tune); });
    connect(m_cancel, &QPushButton::clicked, this,
            [this] { m_model.performRemoteStationAction(RemoteStationAction::Cancel); });
    connect(m_reconnect, &QPushButton::clicked, this, [this] { m_model.reconnectRemoteAgent(); });
    layout->addWidget(m_amplifier);
    layout->addWidget(m_tune);
    layout->addWidget(m_cancel);
    layout->addStretch(1);
    layout->addWidget(m_reconnect);
    return bar;
}

QWidget *StationMonitorWindow::makeFooter()
{
    auto *footer = new QWidget;
    auto *layout = row(footer, 8, 12, 0, 12, 10);
    m_footerText = monitorLabel(monospacedFont(10), monitorSecondary(), "monitor.footer");
    layout->addWidget(m_footerText);
    layout->addStretch(1);
    auto *configure = smallButton(QStringLiteral("Configure"), "monitor.configure");
    // The accent-filled button. Fusion paints the face lighter than the
    // button colour, a light blue on which only a dark title reads.
    QPalette accent = fixedPalette(configure);
    accent.setColor(QPalette::Button, platformColor(PlatformColor::Blue, Appearance::Dark));
    accent.setColor(QPalette::ButtonText, panelBackground);
    setFixedPalette(configure, accent);
    auto *quit = smallButton(QStringLiteral("Quit"), "monitor.quit");
    connect(configure, &QPushButton::clicked, this, &StationMonitorWindow::configureRequested);
    connect(quit, &QPushButton::clicked, this, &StationMonitorWindow::quitRequested);
    layout->addWidget(configure);
    layout->addWidget(quit);
    return footer;
}

void StationMonitorWindow::refresh()
{
    refreshRadio();
    refreshStation();
    refreshFooter();
}

void StationMonitorWindow::refreshRadio()
{
    const auto snapshot = m_model.radioSnapshot();
    const auto status = m_model.remoteStationStatus();

    const std::optional<RadioVFO> vfos[2] = {snapshot ? snapshot->vfo(QStringLiteral("A")) : std::nullopt,
                                             snapshot ? snapshot->vfo(QStringLiteral("B")) : std::nullopt};
    for (int i = 0; i < 2; ++i) {
        QLabel *label = m_frequencyLabels[i];
        label->setVisible(vfos[i].has_value());
        if (!vfos[i])
            continue;
        label->setText(headerFrequencyText(*vfos[i]));
        label->setFont(kitFont(vfos[1] ? 20 : 27, vfos[i]->isReceive ? QFont::Bold : QFont::DemiBold));
        setFixedForegroundColor(label, headerFrequencyColor(*snapshot, *vfos[i]));
    }
    QLabel *fallback = m_frequencyLabels[2];
    fallback->setVisible(!vfos[0] && !vfos[1]);
    fallback->setText(formatFrequency(snapshot ? std::optional<qint64>(snapshot->frequencyHz) : std::nullopt));
    m_headerDetail->setText(headerDetail(snapshot, status));
    const ConnectionBadge badge = connectionBadge(m_model.isRadioConnected(), m_model.isRemoteAgentConnected(), snapshot);
    m_badge->setText(badge.text);
    m_badgeBox->setFill(badge.color);

    m_vfoA->setText(vfoText(snapshot, QStringLiteral("A")));
    m_vfoB->setText(vfoText(snapshot, QStringLiteral("B")));
    m_txPower->setText(txPowerText(status));
    m_swr->setText(swrText(status));
    for (QLabel *label : {m_swrTitle, m_swr})
        setFixedForegroundColor(label, swrTint(status));
    m_rfDrive->setText(rfDriveText(snapshot));
}

void StationMonitorWindow::refreshStation()
{
    const auto status = m_model.remoteStationStatus();
    m_stationCards->setVisible(status.has_value());
    m_waiting->setVisible(!status);
    m_waiting->setDescription(m_model.status());
    if (status) {
        m_kpaTitle->setText(status->kpaDetailPrimary);
        m_kpaDetail->setText(status->kpaDetailSecondary);
        for (QLabel *label : {m_kpaTitle, m_kpaDetail})
            setFixedForegroundColor(label, amplifierTint(*status));
        m_katTitle->setText(status->katDetailPrimary);
        m_katDetail->setText(status->katDetailSecondary);
        for (QLabel *label : {m_katTitle, m_katDetail})
            setFixedForegroundColor(label, tunerTint(*status));
        m_routeDetail->setText(routeDetailText(*status));
        m_routeAlignment->setText(status->routeAlignment.toUpper());
        for (QLabel *label : {m_routeDetail, m_routeAlignment})
            setFixedForegroundColor(label, routeTint(*status));
    }
    const auto toggle = m_model.amplifierToggleAction();
    m_amplifier->setVisible(toggle.has_value());
    if (toggle) {
        m_amplifier->setText(actionTitle(*toggle));
        m_amplifier->setEnabled(m_model.remoteActionAllowed(*toggle));
    }
    m_tune->setEnabled(m_model.remoteActionAllowed(RemoteStationAction::Tune));
    m_cancel->setEnabled(m_model.remoteActionAllowed(RemoteStationAction::Cancel));
    m_reconnect->setVisible(m_model.isRunning());
}

void StationMonitorWindow::refreshFooter()
{
    m_footerText->setText(footerText(m_model.lastSnapshotAt(), m_model.remoteStationStatus()));
}

void StationMonitorWindow::snapshotChanged()
{
    refreshRadio();
    const auto snapshot = m_model.radioSnapshot();
    const std::optional<qint64> frequency = snapshot ? std::optional<qint64>(snapshot->frequencyHz) : std::nullopt;
    // Nothing is drawn while the window is closed.
    if (isVisible() && m_reportedFrequency != frequency)
        queueRenderReport();
}

void StationMonitorWindow::queueRenderReport()
{
    const auto snapshot = m_model.radioSnapshot();
    m_reportedFrequency = snapshot ? std::optional<qint64>(snapshot->frequencyHz) : std::nullopt;
    // One turn of the event loop later, once the new figures are drawn.
    QTimer::singleShot(0, this, [this] {
        m_model.noteTelemetryRendered(surfaceName);
        emit telemetryRenderReported(surfaceName);
    });
}

void StationMonitorWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Each opening draws the panel anew; a restore from the task bar does not.
    if (!event->spontaneous())
        queueRenderReport();
}

void StationMonitorWindow::keyPressEvent(QKeyEvent *event)
{
    if (!takeReturn(this, event))
        QWidget::keyPressEvent(event);
}

void StationMonitorWindow::mousePressEvent(QMouseEvent *event)
{
    // The panel has no title bar of its own to speak of: its background moves the window.
    if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove())
        return;
    QWidget::mousePressEvent(event);
}

void StationMonitorWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, panelBackground);
    gradient.setColorAt(1, srgb(0.02, 0.035, 0.065));
    painter.fillRect(rect(), gradient);
}

} // namespace kivo
