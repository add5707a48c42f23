#include "KivoCore/station/RotatorGeometry.h"

#include "KivoCore/support/JsonFields.h"
#include "KivoCore/support/Text.h"

#include <QJsonObject>
#include <cmath>

namespace kivo {

namespace {
constexpr double pi = 3.141592653589793;
constexpr double earthRadiusKilometers = 6371;

double radians(double degrees)
{
    return degrees * pi / 180;
}

double degrees(double radians)
{
    return radians * 180 / pi;
}
} // namespace

QJsonValue GeoCoordinate::toJson() const
{
    return QJsonObject{{QStringLiteral("latitude"), latitude}, {QStringLiteral("longitude"), longitude}};
}

GeoCoordinate GeoCoordinate::fromJson(const QJsonValue &value)
{
    const QJsonObject object = json::toObject(value, QStringLiteral("coordinate"));
    return {json::toDouble(json::required(object, QStringLiteral("latitude")), QStringLiteral("latitude")),
            json::toDouble(json::required(object, QStringLiteral("longitude")), QStringLiteral("longitude"))};
}

std::optional<GeoCoordinate> MaidenheadLocator::coordinate(const QString &locator)
{
    const QString text = upperCased(trimmed(locator));
    const qsizetype length = text.size();
    if (length != 4 && length != 6 && length != 8 && length != 10)
        return std::nullopt;

    // Field letters, square digits, subsquare letters, then digits and letters again.
    static constexpr char16_t first[] = {u'A', u'A', u'0', u'0', u'A', u'A', u'0', u'0', u'A', u'A'};
    static constexpr char16_t last[] = {u'R', u'R', u'9', u'9', u'X', u'X', u'9', u'9', u'X', u'X'};
    int value[10] = {};
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < first[i] || c > last[i])
            return std::nullopt;
        value[i] = c - first[i];
    }

    static constexpr double longitudeStep[] = {20, 2, 1.0 / 12, 1.0 / 120, 1.0 / 2880};
    static constexpr double latitudeStep[] = {10, 1, 1.0 / 24, 1.0 / 240, 1.0 / 5760};
    double longitude = value[0] * longitudeStep[0] - 180;
    double latitude = value[1] * latitudeStep[0] - 90;
    const qsizetype pairs = length / 2;
    for (qsizetype pair = 1; pair < pairs; ++pair) {
        longitude += value[2 * pair] * longitudeStep[pair];
        latitude += value[2 * pair + 1] * latitudeStep[pair];
    }
    // Half the last square reaches its centre.
    return GeoCoordinate{latitude + latitudeStep[pairs - 1] / 2, longitude + longitudeStep[pairs - 1] / 2};
}

double RotatorGeometry::normalized(double degrees)
{
    const double r = std::fmod(degrees, 360.0);
    return r < 0 ? r + 360 : r;
}

double RotatorGeometry::initialBearing(const GeoCoordinate &from, const GeoCoordinate &to)
{
    const double phi1 = radians(from.latitude);
    const double phi2 = radians(to.latitude);
    const double deltaLambda = radians(to.longitude) - radians(from.longitude);
    const double y = std::sin(deltaLambda) * std::cos(phi2);
    const double x = std::cos(phi1) * std::sin(phi2) - std::sin(phi1) * std::cos(phi2) * std::cos(deltaLambda);
    return normalized(degrees(std::atan2(y, x)));
}

double RotatorGeometry::distanceKilometers(const GeoCoordinate &from, const GeoCoordinate &to)
{
    const double phi1 = radians(from.latitude);
    const double phi2 = radians(to.latitude);
    const double halfDeltaPhi = std::sin((phi2 - phi1) / 2);
    const double halfDeltaLambda = std::sin((radians(to.longitude) - radians(from.longitude)) / 2);
    const double a = halfDeltaPhi * halfDeltaPhi + std::cos(phi1) * std::cos(phi2) * halfDeltaLambda * halfDeltaLambda;
    return std::atan2(std::sqrt(a), std::sqrt(1 - a)) * (2 * earthRadiusKilometers);
}

GeoCoordinate RotatorGeometry::destination(const GeoCoordinate &from, double bearing, double distanceKilometers)
{
    const double phi1 = radians(from.latitude);
    const double lambda1 = radians(from.longitude);
    const double theta = radians(bearing);
    const double delta = distanceKilometers / earthRadiusKilometers;
    const double phi2 = std::asin(std::sin(phi1) * std::cos(delta) + std::cos(phi1) * std::sin(delta) * std::cos(theta));
    const double lambda2 = lambda1
        + std::atan2(std::sin(theta) * std::sin(delta) * std::cos(phi1),
                     std::cos(delta) - std::sin(phi1) * std::sin(phi2));
    double longitude = std::fmod(degrees(lambda2), 360.0);
    if (longitude > 180)
        longitude -= 360;
    if (longitude < -180)
        longitude += 360;
    return {degrees(phi2), longitude};
}

double RotatorGeometry::shortestDifference(double from, double to)
{
    double d = normalized(to) - normalized(from);
    if (d > 180)
        d -= 360;
    if (d < -180)
        d += 360;
    return d;
}

bool RotatorGeometry::shouldAutomaticallyTurn(double from, double to, double minimumChange)
{
    const double threshold = minimumChange >= 1.0 ? minimumChange : 1.0;
    return std::abs(shortestDifference(from, to)) > threshold;
}

std::optional<double> RotatorGeometry::bearingForDialPoint(double x, double y, double centerX, double centerY,
                                                           double radius)
{
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(centerX) || !std::isfinite(centerY)
        || !std::isfinite(radius) || radius <= 0)
        return std::nullopt;
    const double dx = x - centerX;
    const double dy = centerY - y;
    const double r = std::hypot(dx, dy);
    if (!(r > 0.5 && r <= radius))
        return std::nullopt;
    return normalized(degrees(std::atan2(dx, dy)));
}

} // namespace kivo
