#pragma once

// The map inset's rules, free of widgets: its identity (a change re-frames
// the map), its framing and projection, the marker's label, the tooltip and
// the world outlines it draws.

#include "KivoCore/station/RotatorGeometry.h"

#include <QPainterPath>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <optional>

namespace kivo::RotatorMapRules {

// "%.3f,%.3f" of the target's latitude and longitude, or "world".
QString identity(const std::optional<GeoCoordinate> &target);

struct Region {
    GeoCoordinate center;
    double latitudeSpan;
    double longitudeSpan;
    bool operator==(const Region &) const = default;
};
// 18° × 26° around a target, the whole world without one.
Region initialRegion(const std::optional<GeoCoordinate> &target);
// Pixels per degree at which the whole region fits a map of this size.
double fittedScale(const Region &region, const QSizeF &size);
// Where a coordinate falls on a map of this size centred on `center`.
QPointF screenPoint(const GeoCoordinate &point, const GeoCoordinate &center, double pixelsPerDegree,
                    const QSizeF &size);

struct WorldOutlines {
    QPainterPath land; // odd-even rings
    QPainterPath borders;
};
// The committed outline file, one "L" (land) or "B" (border) line of
// "longitude,latitude" pairs each; y is the latitude negated, so north is up.
WorldOutlines parseWorldOutlines(const QByteArray &text);

// "Target" in place of "No target"; any other label unchanged.
QString markerLabel(const QString &targetLabel);
QString tooltip(bool hasTarget);

} // namespace kivo::RotatorMapRules
