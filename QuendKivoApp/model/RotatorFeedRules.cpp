#include "QuendKivoApp/model/RotatorFeedRules.h"

#include "KivoCore/station/RotatorGeometry.h"

#include <cmath>

namespace kivo {

std::optional<RotatorFeedBearing> chooseRotatorFeedBearing(const RUMlogRotatorUpdate &update,
                                                           RotatorAutomaticSource source,
                                                           std::optional<double> gridBearing)
{
    if (update.commandedBearing)
        return RotatorFeedBearing{*update.commandedBearing, QStringLiteral("RUMlog command")};
    if (source == RotatorAutomaticSource::Station) {
        const QString station = QStringLiteral("RUMlog station");
        if (update.stationBearing)
            return RotatorFeedBearing{*update.stationBearing, station};
        if (gridBearing)
            return RotatorFeedBearing{*gridBearing, station};
        if (update.countryBearing)
            return RotatorFeedBearing{*update.countryBearing, QStringLiteral("RUMlog DXCC fallback")};
        return std::nullopt;
    }
    if (update.countryBearing)
        return RotatorFeedBearing{*update.countryBearing, QStringLiteral("RUMlog DXCC")};
    const QString fallback = QStringLiteral("RUMlog station fallback");
    if (update.stationBearing)
        return RotatorFeedBearing{*update.stationBearing, fallback};
    if (gridBearing)
        return RotatorFeedBearing{*gridBearing, fallback};
    return std::nullopt;
}

QString rotatorFeedFallbackLabel(RotatorAutomaticSource source)
{
    return source == RotatorAutomaticSource::Station ? QStringLiteral("Station") : QStringLiteral("DXCC");
}

double applyRotatorBandRules(double bearing, const QString &band, const RotatorConfiguration &rotator,
                             std::optional<double> azimuth)
{
    using RotatorGeometry::normalized;
    using RotatorGeometry::shortestDifference;
    const double adjusted = normalized(bearing + rotator.bandOffsets.value(band, 0));
    if (!rotator.bidirectionalBands.contains(band) || !azimuth)
        return adjusted;
    const double reverse = normalized(adjusted + 180);
    if (std::abs(shortestDifference(*azimuth, reverse)) < std::abs(shortestDifference(*azimuth, adjusted)))
        return reverse;
    return adjusted;
}

bool automaticTurnDue(std::optional<double> azimuth, double bearing, int minimumTurnDegrees,
                      const std::optional<AutomaticRotatorCommand> &last, std::chrono::milliseconds now,
                      std::chrono::milliseconds repeatInterval)
{
    if (!azimuth)
        return false;
    if (!RotatorGeometry::shouldAutomaticallyTurn(*azimuth, bearing, double(minimumTurnDegrees)))
        return false;
    if (last && std::abs(RotatorGeometry::shortestDifference(last->bearing, bearing)) < 0.5 &&
        now - last->at < repeatInterval)
        return false;
    return true;
}

} // namespace kivo
