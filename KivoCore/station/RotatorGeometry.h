#pragma once

// Great-circle bearings and distances, Maidenhead locators and the compass
// dial. Angles are degrees throughout; a malformed input gives no value.

#include <QJsonValue>
#include <QString>
#include <optional>

namespace kivo {

struct GeoCoordinate {
    double latitude = 0;  // north positive
    double longitude = 0; // east positive

    bool operator==(const GeoCoordinate &) const = default;

    QJsonValue toJson() const;
    // Both members required, stored unchanged; throws DecodingError.
    static GeoCoordinate fromJson(const QJsonValue &value);
};

namespace MaidenheadLocator {
// The centre of the square of a 4, 6, 8 or 10 character locator.
std::optional<GeoCoordinate> coordinate(const QString &locator);
} // namespace MaidenheadLocator

namespace RotatorGeometry {
// Folded into 0 up to 360.
double normalized(double degrees);
double initialBearing(const GeoCoordinate &from, const GeoCoordinate &to);
double distanceKilometers(const GeoCoordinate &from, const GeoCoordinate &to);
GeoCoordinate destination(const GeoCoordinate &from, double bearing, double distanceKilometers);
// In -180...180, positive when `to` lies clockwise of `from`.
double shortestDifference(double from, double to);
// True when the change exceeds `minimumChange`, never less than one degree.
bool shouldAutomaticallyTurn(double from, double to, double minimumChange);
// The bearing of a click on a round dial (screen coordinates, y downwards):
// up is 0, right is 90. Nothing at the very centre or outside the radius.
std::optional<double> bearingForDialPoint(double x, double y, double centerX, double centerY, double radius);
} // namespace RotatorGeometry

} // namespace kivo
