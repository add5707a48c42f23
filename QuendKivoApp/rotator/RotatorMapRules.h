#pragma once

// The map inset's rules, free of widgets: its identity (a change re-frames
// the map), its initial framing, the marker's label and the tooltip.

#include "KivoCore/station/RotatorGeometry.h"

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

// "Target" in place of "No target"; any other label unchanged.
QString markerLabel(const QString &targetLabel);
QString tooltip(bool hasTarget);

} // namespace kivo::RotatorMapRules
