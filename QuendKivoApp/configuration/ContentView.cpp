#include "QuendKivoApp/configuration/ContentView.h"

#include "QuendKivoApp/configuration/ActivityTab.h"
#include "QuendKivoApp/configuration/ConfigurationTab.h"
#include "QuendKivoApp/configuration/SpotsTab.h"
#include "QuendKivoApp/configuration/StationTab.h"
#include "QuendKivoApp/configuration/StatusTab.h"
#include "QuendKivoApp/kit/ContentUnavailableNotice.h"
#include "QuendKivoApp/kit/EntryField.h"
#include "QuendKivoApp/kit/FocusedWheel.h"
#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/Icons.h"
#include "QuendKivoApp/kit/NumberField.h"
#include "QuendKivoApp/kit/PageControls.h"
#include "QuendKivoApp/kit/ReturnAction.h"
#include "QuendKivoApp/model/AppModel.h"
#include "QuendKivoApp/model/ConnectionKindDescriptor.h"
#include "QuendKivoApp/rotator/RotatorSettingsView.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace kivo {

using Kind = AppConfiguration::ConnectionKind;

HeaderPresentation presentHeader(bool isRunning, bool isRadioConnected, bool isRemoteAgentConnected, Kind kind)
{
    const ConnectionKindDescriptor &descriptor = descriptorOf(kind);
    return {connectionPresentation(isRadioConnected, descriptor.isRemoteAgent(), isRemoteAgentConnected, isRunning),
            descriptor.name, isRunning && descriptor.isRemoteAgent(),
            isRunning ? QStringLiteral("Stop") : QStringLiteral("Start")};
}

ConnectionPresentation connectionPresentation(const AppModel &model)
{
    return connectionPresentation(model.isRadioConnected(),
                                  descriptorOf(model.configuration().connectionKind).isRemoteAgent(),
                                  model.isRemoteAgentConnected(), model.isRunning());
}

namespace {

struct TabEntry {
    ContentView::WorkspaceTab tab;
    const char *label;
    const char *symbol;
};

constexpr TabEntry tabEntries[] = {
    {ContentView::WorkspaceTab::Status, "Status", "antenna.radiowaves.left.and.right"},
    {ContentView::WorkspaceTab::Activity, "Activity", "list.bullet.rectangle"},
    {ContentView::WorkspaceTab::Spots, "Spots", "scope"},
    {ContentView::WorkspaceTab::Rotator, "Rotator", "location.north.circle"},
    {ContentView::WorkspaceTab::Station, "Station", "antenna.radiowaves.left.and.right.circle"},
    {ContentView::WorkspaceTab::Configuration, "Configuration", "slider.horizontal.3"},
};

// Keeps every page off the tab frame.
constexpr int pageInset = 12;

// A page wrapper: a left-aligned column with 8 points on top.
QWidget *pageWrapper(QWidget *content, int spacing)
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->setSpacing(spacing);
    layout->addWidget(content);
    return page;
}

QWidget *inset(QWidget *page)
{
    auto *frame = new QWidget;
    auto *layout = new QVBoxLayout(frame);
    layout->setContentsMargins(pageInset, pageInset, pageInset, pageInset);
    layout->addWidget(page);
    return frame;
}

QPixmap dot(const QColor &color)
{
    QPixmap pixmap(10, 10);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(0, 0, 10, 10));
    return pixmap;
}

} // namespace

ContentView::ContentView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("QuendMainConfigurationWindow"));
    setWindowTitle(QStringLiteral("Quend-Kivo"));
    setMinimumSize(760, 520);
    setFocusPolicy(Qt::ClickFocus);
    setMaximumWidth(1040);
    resize(900, 620);
    // The settings of every tab, the Rotator form included.
    changeByWheelOnlyWhenFocused(this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);
    layout->addWidget(makeHeader());
    layout->addWidget(separatorLine());

    m_tabs = new QTabWidget;
    m_tabs->setObjectName(QStringLiteral("content.tabs"));
    m_configurationTab = new ConfigurationTab(model);
    for (const TabEntry &entry : tabEntries) {
        QWidget *page = nullptr;
        switch (entry.tab) {
        case WorkspaceTab::Status:
            // Taller than the window's smallest size, it scrolls instead of
            // squeezing its rows into each other.
            page = scrollingPart(pageWrapper(new StatusTab(model), 16));
            break;
        case WorkspaceTab::Activity:
            page = pageWrapper(new ActivityTab(model), 16);
            break;
        case WorkspaceTab::Spots:
            m_spotsTab = new SpotsTab(model);
            page = pageWrapper(m_spotsTab, 8);
            break;
        case WorkspaceTab::Rotator:
            m_rotatorSettings = new RotatorSettingsView(model);
            page = m_rotatorSettings;
            break;
        case WorkspaceTab::Station:
            page = makeStationPage();
            break;
        case WorkspaceTab::Configuration:
            page = pageWrapper(m_configurationTab, 16);
            break;
        }
        page->setObjectName(QStringLiteral("tab.") + QString::fromLatin1(entry.label).toLower());
        m_tabs->addTab(inset(page), QString::fromLatin1(entry.label));
    }
    layout->addWidget(m_tabs, 1);
    // Every save and the start look at all the fields the settings record is edited in.
    const auto settingsCheck = [this] { return settingsProblem(); };
    m_configurationTab->setSettingsCheck(settingsCheck);
    m_spotsTab->setSettingsCheck(settingsCheck);
    m_rotatorSettings->setSettingsCheck(settingsCheck);
    // A number being typed reaches the settings only once it is one: the
    // failure it caused no longer holds as soon as it is edited.
    for (QWidget *tab : std::initializer_list<QWidget *>{m_configurationTab, m_spotsTab, m_rotatorSettings})
        for (NumberField *field : tab->findChildren<NumberField *>())
            connect(field, &QLineEdit::textEdited, &model, &AppModel::noteSettingsEdited);

    const auto refresh = [this] {
        refreshHeader();
        refreshStationPage();
    };
    tintIcons();
    connect(&model, &AppModel::isRunningChanged, this, refresh);
    connect(&model, &AppModel::isRadioConnectedChanged, this, refresh);
    connect(&model, &AppModel::isRemoteAgentConnectedChanged, this, refresh);
    connect(&model, &AppModel::configurationChanged, this, refresh);
    connect(&model, &AppModel::radioSnapshotChanged, this, [this] {
        const std::optional<qint64> frequency = m_model.radioSnapshot()
            ? std::optional<qint64>(m_model.radioSnapshot()->frequencyHz) : std::nullopt;
        if (m_observedFrequency && *m_observedFrequency == frequency)
            return;
        m_observedFrequency = frequency;
        if (m_shownOnce)
            scheduleRenderReport();
    });
    refresh();
}

QWidget *ContentView::makeHeader()
{
    auto *header = new QWidget;
    header->setObjectName(QStringLiteral("header"));
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(16);

    auto *titleBlock = new QVBoxLayout;
    titleBlock->setSpacing(4);
    auto *title = new QLabel(QStringLiteral("Quend-Kivo"));
    title->setObjectName(QStringLiteral("header.title"));
    title->setFont(styleFont(TextStyle::Title2));
    auto *subtitle = new QLabel(QStringLiteral("FlexRadio CAT and RigCtlD bridge"));
    subtitle->setObjectName(QStringLiteral("header.subtitle"));
    subtitle->setFont(styleFont(TextStyle::Caption));
    setSecondaryStyle(subtitle);
    titleBlock->addWidget(title);
    titleBlock->addWidget(subtitle);
    row->addLayout(titleBlock);
    row->addStretch(1);

    auto *indicator = new QHBoxLayout;
    indicator->setSpacing(8);
    m_connectionDot = new QLabel;
    m_connectionDot->setObjectName(QStringLiteral("header.connectionDot"));
    auto *lines = new QVBoxLayout;
    lines->setSpacing(1);
    m_connectionLabel = new QLabel;
    m_connectionLabel->setObjectName(QStringLiteral("header.connectionLabel"));
    m_connectionLabel->setFont(styleFont(TextStyle::Headline));
    m_connectionLabel->setAlignment(Qt::AlignRight);
    m_kindLabel = new QLabel;
    m_kindLabel->setObjectName(QStringLiteral("header.connectionKind"));
    m_kindLabel->setFont(styleFont(TextStyle::Caption));
    m_kindLabel->setAlignment(Qt::AlignRight);
    setSecondaryStyle(m_kindLabel);
    lines->addWidget(m_connectionLabel);
    lines->addWidget(m_kindLabel);
    indicator->addWidget(m_connectionDot);
    indicator->addLayout(lines);
    row->addLayout(indicator);

    m_reconnect = new QPushButton(QStringLiteral("Reconnect"));
    m_reconnect->setObjectName(QStringLiteral("header.reconnect"));
    m_reconnect->setToolTip(QStringLiteral("Re-establish the Remote Agent HTTPS and WebSocket connection"));
    connect(m_reconnect, &QPushButton::clicked, this, [this] { m_model.reconnectRemoteAgent(); });
    row->addWidget(m_reconnect);

    auto *openMonitor = new QPushButton(QStringLiteral("Open Station Monitor"));
    m_openMonitor = openMonitor;
    openMonitor->setObjectName(QStringLiteral("header.openStationMonitor"));
    openMonitor->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M));
    openMonitor->setToolTip(QStringLiteral("Open the live station monitor in a separate movable window (Ctrl+Shift+M)"));
    connect(openMonitor, &QPushButton::clicked, this, &ContentView::openStationMonitorRequested);
    row->addWidget(openMonitor);

    m_startStop = new QPushButton;
    m_startStop->setObjectName(QStringLiteral("header.startStop"));
    connect(m_startStop, &QPushButton::clicked, this, &ContentView::toggleBridge);
    row->addWidget(m_startStop);

    for (auto *small : header->findChildren<QPushButton *>())
        small->setFont(kitFont(11));
    return header;
}

QWidget *ContentView::makeStationPage()
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    m_stationUnavailable = new ContentUnavailableNotice(
        {.title = QStringLiteral("Remote station settings unavailable"),
         .symbol = QStringLiteral("desktopcomputer.trianglebadge.exclamationmark"),
         .description = QStringLiteral("Select Remote Station Agent in Configuration to edit Windows station policy.")});
    m_stationUnavailable->setObjectName(QStringLiteral("station.unavailable"));
    // The tab scrolls its own editor and keeps its actions in view.
    m_stationEditor = pageWrapper(new StationTab(m_model), 8);
    layout->addWidget(m_stationUnavailable);
    layout->addWidget(m_stationEditor);
    return page;
}

void ContentView::tintIcons()
{
    for (int index = 0; index < m_tabs->count(); ++index)
        m_tabs->setTabIcon(index, symbolIcon(QString::fromLatin1(tabEntries[index].symbol),
                                             palette().color(QPalette::WindowText)));
    m_openMonitor->setIcon(symbolIcon(QStringLiteral("macwindow"), palette().color(QPalette::ButtonText)));
}

void ContentView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        tintIcons();
        refreshHeader();
    }
}

void ContentView::refreshHeader()
{
    const auto shown = presentHeader(m_model.isRunning(), m_model.isRadioConnected(),
                                     m_model.isRemoteAgentConnected(), m_model.configuration().connectionKind);
    const QColor color = platformColor(shown.connection.color);
    m_connectionDot->setPixmap(dot(color));
    m_connectionLabel->setText(shown.connection.label);
    setForegroundColor(m_connectionLabel, shown.connection.color);
    m_kindLabel->setText(shown.kindName);
    // The two lines are read as one.
    m_connectionLabel->setAccessibleName(shown.connection.label + QStringLiteral(", ") + shown.kindName);
    m_kindLabel->setAccessibleName(m_connectionLabel->accessibleName());
    m_reconnect->setVisible(shown.reconnectShown);
    m_startStop->setText(shown.startStopLabel);
    m_configurationTab->setEnabled(!m_model.isRunning());
}

void ContentView::refreshStationPage()
{
    const bool agent = descriptorOf(m_model.configuration().connectionKind).isRemoteAgent();
    m_stationUnavailable->setVisible(!agent);
    m_stationEditor->setVisible(agent);
}

void ContentView::selectTab(WorkspaceTab tab) { m_tabs->setCurrentIndex(int(tab)); }

QString ContentView::settingsProblem() const
{
    const QWidget *pages[] = {m_configurationTab, m_spotsTab, m_rotatorSettings};
    for (const QWidget *page : pages)
        if (const QString problem = invalidNumberProblem(page); !problem.isEmpty())
            return problem;
    return {};
}

void ContentView::toggleBridge()
{
    commitFocusedField();
    if (m_model.isRunning()) {
        m_model.stop();
        return;
    }
    if (const QString problem = settingsProblem(); !problem.isEmpty()) {
        m_model.record(QStringLiteral("Start failed: ") + problem);
        return;
    }
    m_model.start();
}

void ContentView::scheduleRenderReport()
{
    // After the current update has been drawn.
    QTimer::singleShot(0, this, [this] {
        const QString surface = QStringLiteral("Status");
        m_model.noteTelemetryRendered(surface);
        emit renderReported(surface);
    });
}

void ContentView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        // Return starts the bridge until the operator picks a control.
        if (!focusWidget())
            setFocus(Qt::OtherFocusReason);
        const auto snapshot = m_model.radioSnapshot();
        m_observedFrequency = snapshot ? std::optional<qint64>(snapshot->frequencyHz) : std::nullopt;
        scheduleRenderReport();
    }
    if (!event->spontaneous())
        emit contentShown();
}

void ContentView::keyPressEvent(QKeyEvent *event)
{
    // Away from every control, Return starts or stops the bridge.
    if (!takeReturn(this, event, [this] { m_startStop->click(); }))
        QWidget::keyPressEvent(event);
}

} // namespace kivo
