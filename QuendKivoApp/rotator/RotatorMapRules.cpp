#include "QuendKivoApp/rotator/RotatorMapRules.h"

namespace kivo::RotatorMapRules {

QString identity(const std::optional<GeoCoordinate> &target)
{
    if (!target)
        return QStringLiteral("world");
    // asprintf formats in the C locale, whatever the operator's locale.
    return QString::asprintf("%.3f,%.3f", target->latitude, target->longitude);
}

Region initialRegion(const std::optional<GeoCoordinate> &target)
{
    if (!target)
        return {{0, 0}, 180, 360};
    return {*target, 18, 26};
}

QString markerLabel(const QString &targetLabel)
{
    return targetLabel == QLatin1String("No target") ? QStringLiteral("Target") : targetLabel;
}

QString tooltip(bool hasTarget)
{
    return hasTarget ? QStringLiteral("Target country or region — drag to pan and scroll to zoom")
                     : QStringLiteral("World map — drag to pan and scroll to zoom");
}

} // namespace kivo::RotatorMapRules
