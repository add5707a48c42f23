#pragma once

// What the rotator monitor panel and its compass dial show, free of
// widgets: badge, detail line, band, button enabling, readouts, and the
// dial's tap and needle arithmetic.

#include "KivoCore/station/DCU1RotatorClient.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <optional>

namespace kivo::RotatorPanelRules {

using State = DCU1RotatorClient::State;

QString connectionLabel(State state, bool isMoving, const QString &motionDirection);
QString connectionSymbol(State state);
// Green only while connected and idle; orange otherwise.
bool connectionIsReady(State state, bool isMoving);

// The target's source, and " · 1235 km" when a distance is known.
QString targetDetail(const QString &source, std::optional<double> distanceKilometers);
// The target's band, or the current one while the target band is "Other".
QString bandText(const QString &targetBand, const QString &currentBand);

struct ButtonEnables {
    bool rotate; // ↺ and ↻
    bool turn;
    bool stop;
    bool operator==(const ButtonEnables &) const = default;
};
ButtonEnables buttonEnables(State state, std::optional<double> targetBearing);

// "%03.0f°": "007°", "360°" for 359.6.
QString degreesText(double degrees);
// "ANTENNA", "MOVING" or "MOVING CW".
QString readoutCaption(bool isMoving, const QString &motionDirection);
// "13 degrees" for 12.5, "Unavailable" without an azimuth.
QString accessibilityValue(std::optional<double> azimuth);

// The dial's square, centred in the area it is given.
QRectF dialSquare(const QSizeF &area);
// The bearing of a tap at `point` in the area, or nothing off the disc.
std::optional<double> tapBearing(const QSizeF &area, const QPointF &point);
// The needle's next shown angle: the short way from `shown` to `azimuth`,
// accumulated without folding.
double nextShownAzimuth(double shown, double azimuth);

} // namespace kivo::RotatorPanelRules
