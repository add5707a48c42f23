#include "QuendKivoApp/configuration/StatusTab.h"

#include "QuendKivoApp/configuration/ContentView.h"
#include "QuendKivoApp/kit/PageControls.h"
#include "QuendKivoApp/configuration/RemoteControlPanel.h"
#include "QuendKivoApp/kit/AdaptiveRow.h"
#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/SymbolLabel.h"
#include "QuendKivoApp/kit/LineLimitedLabel.h"
#include "QuendKivoApp/model/AppModel.h"
#include "QuendKivoApp/model/ConnectionKindDescriptor.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace kivo {

namespace {

QVBoxLayout *boxFrame(QGroupBox *box)
{
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(8);
    layout->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    box->setMinimumHeight(94);
    box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return layout;
}

} // namespace

StatusTab::StatusTab(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    auto *overview = new AdaptiveRow(16);
    overview->setObjectName(QStringLiteral("status.overview"));
    overview->addWidget(makeRadioBox());
    overview->addWidget(makeStationPathBox());
    layout->addWidget(overview);

    m_remoteControl = new QGroupBox(QStringLiteral("Remote control"));
    m_remoteControl->setObjectName(QStringLiteral("status.remoteControl"));
    auto *remoteLayout = new QVBoxLayout(m_remoteControl);
    // The panel brings its own inset.
    remoteLayout->setContentsMargins(0, 0, 0, 0);
    remoteLayout->addWidget(new RemoteControlPanel(model));
    layout->addWidget(m_remoteControl);
    layout->addStretch(1);

    for (auto signal : {&AppModel::statusChanged, &AppModel::telemetryLatencySummaryChanged,
                        &AppModel::configurationChanged, &AppModel::remoteStationStatusChanged,
                        &AppModel::isRunningChanged, &AppModel::isRadioConnectedChanged,
                        &AppModel::isRemoteAgentConnectedChanged})
        connect(&model, signal, this, &StatusTab::refresh);
    refresh();
}

QGroupBox *StatusTab::makeRadioBox()
{
    auto *box = new QGroupBox(QStringLiteral("Radio"));
    box->setObjectName(QStringLiteral("status.radio"));
    auto *layout = boxFrame(box);
    auto *connection = new QHBoxLayout;
    connection->setSpacing(6);
    m_connectionIcon = new SymbolLabel(16);
    m_connectionIcon->setObjectName(QStringLiteral("status.connectionSymbol"));
    m_connectionLabel = new QLabel;
    m_connectionLabel->setObjectName(QStringLiteral("status.connectionLabel"));
    m_connectionLabel->setFont(styleFont(TextStyle::Body));
    connection->addWidget(m_connectionIcon);
    connection->addWidget(m_connectionLabel);
    connection->addStretch(1);
    layout->addLayout(connection);

    m_statusText = new LineLimitedLabel(3);
    m_statusText->setObjectName(QStringLiteral("status.statusText"));
    m_statusText->setFont(monospacedFont(stylePixelSize(TextStyle::Body)));
    layout->addWidget(m_statusText);

    m_latency = new LineLimitedLabel(1);
    m_latency->setObjectName(QStringLiteral("status.latency"));
    m_latency->setFont(monospacedFont(stylePixelSize(TextStyle::Caption)));
    setSecondaryStyle(m_latency);
    layout->addWidget(m_latency);
    return box;
}

QGroupBox *StatusTab::makeStationPathBox()
{
    auto *box = new QGroupBox(QStringLiteral("Station path"));
    box->setObjectName(QStringLiteral("status.stationPath"));
    auto *layout = boxFrame(box);
    m_waiting = new QLabel(QStringLiteral("Waiting for authoritative station state"));
    m_waiting->setObjectName(QStringLiteral("status.waiting"));
    setSecondaryStyle(m_waiting);
    layout->addWidget(m_waiting);

    m_stationGrid = new QWidget;
    auto *grid = new QGridLayout(m_stationGrid);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(1, 1);
    const char *rows[] = {"Amplifier", "Tuner", "Route", "Alarms"};
    for (int row = 0; row < 4; ++row) {
        auto *label = rowLabel(QString::fromLatin1(rows[row]));
        auto *value = new LineLimitedLabel(1);
        value->setObjectName(QStringLiteral("status.") + QString::fromLatin1(rows[row]).toLower());
        value->setFont(monospacedFont(stylePixelSize(TextStyle::Body)));
        grid->addWidget(label, row, 0);
        grid->addWidget(value, row, 1);
        m_stationValues.append(value);
    }
    layout->addWidget(m_stationGrid);
    return box;
}

void StatusTab::refresh()
{
    const auto connection = connectionPresentation(m_model);
    m_connectionIcon->setSymbol(connection.symbol, connection.color);
    m_connectionLabel->setText(connection.label);
    setForegroundColor(m_connectionLabel, connection.color);
    showFullText(m_statusText, m_model.status());

    const bool agentKind = descriptorOf(m_model.configuration().connectionKind).isRemoteAgent();
    m_latency->setVisible(agentKind);
    showFullText(m_latency, m_model.telemetryLatencySummary());
    m_remoteControl->setVisible(agentKind);

    const auto station = m_model.remoteStationStatus();
    m_waiting->setVisible(!station);
    m_stationGrid->setVisible(bool(station));
    if (station) {
        const QString values[] = {station->kpaSummary, station->katSummary, station->routeSummary,
                                  station->alarmSummary};
        for (int row = 0; row < 4; ++row)
            showFullText(m_stationValues[row], values[row]);
    }
}

} // namespace kivo
