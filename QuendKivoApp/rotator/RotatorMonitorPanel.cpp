#include "QuendKivoApp/rotator/RotatorMonitorPanel.h"

#include "QuendKivoApp/kit/FixedPalette.h"
#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/Icons.h"
#include "QuendKivoApp/kit/LineLimitedLabel.h"
#include "QuendKivoApp/kit/PageControls.h"
#include "QuendKivoApp/kit/TextColor.h"
#include "QuendKivoApp/kit/Palette.h"
#include "QuendKivoApp/model/AppModel.h"
#include "QuendKivoApp/rotator/RotatorCompass.h"
#include "QuendKivoApp/rotator/RotatorMapInset.h"
#include "QuendKivoApp/rotator/RotatorPanelRules.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kivo {

namespace {

QLabel *label(const QString &name, const QFont &font, const QColor &color)
{
    auto *text = new QLabel;
    text->setObjectName(name);
    text->setFont(font);
    setFixedForegroundColor(text, color);
    return text;
}

LineLimitedLabel *line(const QString &name, const QFont &font, const QColor &color)
{
    auto *text = oneLineLabel(name, font);
    setFixedForegroundColor(text, color);
    return text;
}

QColor secondary()
{
    return platformColor(PlatformColor::Secondary, Appearance::Dark);
}

} // namespace

RotatorMonitorPanel::RotatorMonitorPanel(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("rotator.panel"));
    setFixedWidth(panelWidth);
    setAutoFillBackground(true);
    QPalette background = fixedPalette(this);
    background.setColor(QPalette::Window, srgb(0.02, 0.045, 0.075));
    setFixedPalette(this, background);
    const QColor cyan = MonitorPalette::cyan();
    const QColor magenta = MonitorPalette::violet();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);

    auto *statusLine = new QHBoxLayout;
    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    m_title = line(QStringLiteral("rotator.panel.title"), kitFont(12, QFont::Bold), cyan);
    m_status = line(QStringLiteral("rotator.panel.status"), monospacedFont(9), secondary());
    titles->addWidget(m_title);
    titles->addWidget(m_status);
    statusLine->addLayout(titles, 1);
    m_badgeSymbol = new QLabel;
    m_badge = label(QStringLiteral("rotator.panel.badge"), kitFont(10, QFont::Bold), cyan);
    statusLine->addWidget(m_badgeSymbol);
    statusLine->addWidget(m_badge);
    layout->addLayout(statusLine);

    m_compass = new RotatorCompass;
    m_compass->setFixedHeight(176);
    connect(m_compass, &RotatorCompass::turnRequested, this,
            [this](double bearing) { m_model.turnRotatorFromCompass(bearing); });
    layout->addWidget(m_compass);

    auto *targetLine = new QHBoxLayout;
    auto *target = new QVBoxLayout;
    target->setSpacing(2);
    m_targetLabel = line(QStringLiteral("rotator.panel.targetLabel"), kitFont(14, QFont::Bold), magenta);
    m_targetDetail = label(QStringLiteral("rotator.panel.targetDetail"), monospacedFont(9), secondary());
    m_targetDetail->setWordWrap(true);
    target->addWidget(m_targetLabel);
    target->addWidget(m_targetDetail);
    targetLine->addLayout(target, 1);
    m_targetBearing = label(QStringLiteral("rotator.panel.targetBearing"), monospacedFont(24, QFont::Bold), magenta);
    targetLine->addWidget(m_targetBearing, 0, Qt::AlignTop);
    layout->addLayout(targetLine);

    m_map = new RotatorMapInset;
    m_map->setFixedHeight(190);
    layout->addWidget(m_map);

    auto *controls = new QHBoxLayout;
    controls->setSpacing(7);
    m_band = label(QStringLiteral("rotator.panel.band"), monospacedFont(10, QFont::Bold), cyan);
    m_feed = line(QStringLiteral("rotator.panel.feed"), monospacedFont(9), secondary());
    controls->addWidget(m_band);
    controls->addWidget(m_feed, 1);
    const auto button = [&](const QString &title, const QString &name, const QString &tip) {
        auto *press = new QPushButton(title);
        press->setObjectName(name);
        press->setToolTip(tip);
        press->setFont(kitFont(11));
        press->setAutoDefault(false);
        // The small control size: just wide enough for the title.
        press->setFixedWidth(press->fontMetrics().horizontalAdvance(title) + 18);
        controls->addWidget(press);
        return press;
    };
    m_counterClockwise = button(QStringLiteral("↺"), QStringLiteral("rotator.panel.counterClockwise"),
                                QStringLiteral("Rotate counter-clockwise"));
    m_turn = button(QStringLiteral("Turn"), QStringLiteral("rotator.panel.turn"), {});
    m_clockwise = button(QStringLiteral("↻"), QStringLiteral("rotator.panel.clockwise"),
                         QStringLiteral("Rotate clockwise"));
    m_stop = button(QStringLiteral("Stop"), QStringLiteral("rotator.panel.stop"), {});
    connect(m_counterClockwise, &QPushButton::clicked, this, [this] { m_model.rotateRotator(false); });
    connect(m_turn, &QPushButton::clicked, this, [this] { m_model.turnRotatorToTarget(); });
    connect(m_clockwise, &QPushButton::clicked, this, [this] { m_model.rotateRotator(true); });
    connect(m_stop, &QPushButton::clicked, this, [this] { m_model.stopRotatorMotion(); });
    layout->addLayout(controls);
    layout->addStretch(1);

    for (auto signal : {&AppModel::configurationChanged, &AppModel::rotatorConnectionStateChanged,
                        &AppModel::rotatorIsMovingChanged, &AppModel::rotatorMotionDirectionChanged,
                        &AppModel::rotatorStatusChanged, &AppModel::rotatorAzimuthChanged,
                        &AppModel::rotatorTargetLabelChanged, &AppModel::rotatorTargetSourceChanged,
                        &AppModel::rotatorTargetDistanceKilometersChanged, &AppModel::rotatorTargetBearingChanged,
                        &AppModel::rotatorTargetCoordinateChanged, &AppModel::rotatorTargetBandChanged,
                        &AppModel::rotatorFeedStatusChanged, &AppModel::radioSnapshotChanged})
        connect(&model, signal, this, &RotatorMonitorPanel::refresh);
    refresh();
    holdPanelPalette(this);
}

void RotatorMonitorPanel::refresh()
{
    using namespace RotatorPanelRules;
    const RotatorConfiguration rotator = m_model.configuration().rotator;
    const State state = m_model.rotatorConnectionState();
    const bool moving = m_model.rotatorIsMoving();
    showFullText(m_title, rotator.name.toUpper());
    showFullText(m_status, m_model.rotatorStatus());
    const QColor tint = connectionIsReady(state, moving) ? MonitorPalette::green()
                                                         : platformColor(PlatformColor::Orange, Appearance::Dark);
    m_badge->setText(connectionLabel(state, moving, m_model.rotatorMotionDirection()));
    setFixedForegroundColor(m_badge, tint);
    m_badgeSymbol->setPixmap(symbolPixmap(connectionSymbol(state), tint, 12));

    m_compass->setAzimuth(m_model.rotatorAzimuth());
    m_compass->setBeamWidth(rotator.beamWidthDegrees);
    m_compass->setMotion(moving, m_model.rotatorMotionDirection());

    const std::optional<double> bearing = m_model.rotatorTargetBearing();
    showFullText(m_targetLabel, m_model.rotatorTargetLabel());
    m_targetDetail->setText(targetDetail(m_model.rotatorTargetSource(), m_model.rotatorTargetDistanceKilometers()));
    m_targetBearing->setVisible(bearing.has_value());
    m_targetBearing->setText(bearing ? degreesText(*bearing) : QString());

    m_map->setContent(MaidenheadLocator::coordinate(rotator.homeGrid), m_model.rotatorTargetCoordinate(),
                      m_model.rotatorTargetLabel());

    m_band->setText(bandText(m_model.rotatorTargetBand(), m_model.currentBand()));
    showFullText(m_feed, m_model.rotatorFeedStatus());
    const ButtonEnables enables = buttonEnables(state, bearing);
    m_counterClockwise->setEnabled(enables.rotate);
    m_clockwise->setEnabled(enables.rotate);
    m_turn->setEnabled(enables.turn);
    m_stop->setEnabled(enables.stop);
}

} // namespace kivo
