#include "QuendKivoApp/rotator/RotatorMapRules.h"

#include <QByteArrayList>
#include <QPolygonF>

#include <algorithm>

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

double fittedScale(const Region &region, const QSizeF &size)
{
    return std::min(size.width() / region.longitudeSpan, size.height() / region.latitudeSpan);
}

QPointF screenPoint(const GeoCoordinate &point, const GeoCoordinate &center, double pixelsPerDegree,
                    const QSizeF &size)
{
    return {size.width() / 2 + (point.longitude - center.longitude) * pixelsPerDegree,
            size.height() / 2 - (point.latitude - center.latitude) * pixelsPerDegree};
}

WorldOutlines parseWorldOutlines(const QByteArray &text)
{
    WorldOutlines outlines;
    outlines.land.setFillRule(Qt::OddEvenFill);
    for (const QByteArray &line : text.split('\n')) {
        const QByteArrayList fields = line.trimmed().split(' ');
        if (fields.size() < 3)
            continue;
        QPolygonF polyline;
        for (qsizetype i = 1; i < fields.size(); ++i) {
            const QByteArrayList pair = fields[i].split(',');
            if (pair.size() == 2)
                polyline << QPointF(pair[0].toDouble(), -pair[1].toDouble());
        }
        if (fields[0] == "L")
            outlines.land.addPolygon(polyline);
        else
            outlines.borders.addPolygon(polyline);
    }
    return outlines;
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
