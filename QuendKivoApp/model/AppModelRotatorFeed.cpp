// RUMlog rotator feed and automatic turning of the application model.

#include "QuendKivoApp/model/AppModel.h"

#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/LogCategories.h"
#include "KivoCore/station/RotatorDatagram.h"
#include "KivoCore/station/UDPSpotReceiver.h"
#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/Text.h"
#include "QuendKivoApp/model/BandPlan.h"
#include "QuendKivoApp/model/RotatorTarget.h"

namespace kivo {

void AppModel::startRotatorFeed()
{
    const quint16 port = m_configuration.rotator.rumlogPort;
    const quint64 link = m_rotatorGeneration;
    auto onDatagram = [this, link](const QByteArray &data) {
        QMetaObject::invokeMethod(
            this,
            [this, link, data] {
                if (link == m_rotatorGeneration)
                    handleRotatorDatagram(data);
            },
            Qt::QueuedConnection);
    };
    auto onEvent = [this, link](const QString &text) {
        if (link == m_rotatorGeneration)
            assign(m_rotatorFeedStatus, text, &AppModel::rotatorFeedStatusChanged);
    };
    auto receiver =
        std::make_unique<UDPSpotReceiver>(lcRotatorRumlog(), onDatagram, onEvent);
    try {
        receiver->start(port);
    } catch (...) {
        assign(m_rotatorFeedStatus,
               QStringLiteral("UDP ") + QString::number(port) +
                   QStringLiteral(" unavailable \u2014 close the old Rotor app"),
               &AppModel::rotatorFeedStatusChanged);
        record(QStringLiteral("Rotator: RUMlog feed unavailable \u2014 ") +
               describeException(std::current_exception()));
        return;
    }
    m_rotatorFeedReceiver = std::move(receiver);
    assign(m_rotatorFeedStatus, QStringLiteral("Listening on UDP ") + QString::number(port),
           &AppModel::rotatorFeedStatusChanged);
}

void AppModel::stopRotatorFeed()
{
    if (m_rotatorFeedReceiver)
        m_rotatorFeedReceiver->stop();
    m_rotatorFeedReceiver.reset();
}

void AppModel::handleRotatorDatagram(const QByteArray &data)
{
    RUMlogRotatorUpdate update;
    try {
        update = RUMlogRotatorParser::parse(data);
    } catch (...) {
        assign(m_rotatorFeedStatus, QStringLiteral("Ignored unsupported RUMlog datagram"),
               &AppModel::rotatorFeedStatusChanged);
        return;
    }
    const RotatorConfiguration &rotator = m_configuration.rotator;
    const std::optional<GeoCoordinate> home = homePoint(rotator.homeGrid);
    const std::optional<GeoCoordinate> grid = MaidenheadLocator::coordinate(update.grid);
    std::optional<double> gridBearing;
    if (home && grid)
        gridBearing = RotatorGeometry::initialBearing(*home, *grid);
    const std::optional<RotatorFeedBearing> chosen =
        chooseRotatorFeedBearing(update, rotator.automaticSource, gridBearing);
    if (!chosen)
        return;

    const QString band = normalizedBand(trimmed(update.band).isEmpty() ? currentBand() : update.band);
    const double bearing = applyRotatorBandRules(chosen->bearing, band, rotator, m_rotatorAzimuth);
    const QString label = update.stableLabel(m_rotatorTargetLabel, m_rotatorTargetBearing, bearing,
                                             rotatorFeedFallbackLabel(rotator.automaticSource));
    setRotatorTarget(RotatorGeometry::normalized(bearing), label, chosen->source);
    assign(m_rotatorTargetBand, band, &AppModel::rotatorTargetBandChanged);
    if (home && grid)
        setRotatorTargetPlace(grid, RotatorGeometry::distanceKilometers(*home, *grid));
    else
        setRotatorTargetPlace(home ? rotatorMapPoint(bearing) : grid, std::nullopt);
    assign(m_rotatorFeedStatus,
           QStringLiteral("RUMlog: ") + label + QStringLiteral(" \u00B7 ") +
               QString::number(roundedToInt64(bearing).value_or(0)) + QStringLiteral("\u00B0"),
           &AppModel::rotatorFeedStatusChanged);

    if (update.commandedBearing)
        turnRotatorToTarget();
    else if (rotator.automaticTurningEnabled && rotator.enabledBands.contains(band))
        commandAutomaticTurnIfNeeded(bearing);
}

void AppModel::commandAutomaticTurnIfNeeded(double bearing)
{
    const std::chrono::milliseconds now = m_dependencies.monotonic();
    if (!automaticTurnDue(m_rotatorAzimuth, bearing, m_configuration.rotator.minimumAutomaticTurnDegrees,
                          m_lastAutomaticRotatorCommand, now))
        return;
    m_lastAutomaticRotatorCommand = AutomaticRotatorCommand{bearing, now};
    turnRotatorToTarget();
}

} // namespace kivo
