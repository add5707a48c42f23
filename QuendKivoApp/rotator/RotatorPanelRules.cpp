#include "QuendKivoApp/rotator/RotatorPanelRules.h"

#include "KivoCore/station/RotatorGeometry.h"

#include <cmath>
#include <cstdio>

namespace kivo::RotatorPanelRules {

namespace {

QString withDirection(const QString &word, const QString &motionDirection)
{
    return motionDirection.isEmpty() ? word : word + QLatin1Char(' ') + motionDirection;
}

} // namespace

QString connectionLabel(State state, bool isMoving, const QString &motionDirection)
{
    switch (state) {
    case State::Stopped:
        return QStringLiteral("OFFLINE");
    case State::Connecting:
        return QStringLiteral("CONNECTING");
    case State::Connected:
        return isMoving ? withDirection(QStringLiteral("MOVING"), motionDirection) : QStringLiteral("READY");
    case State::Reconnecting:
        return QStringLiteral("RETRYING");
    case State::Failed:
        return QStringLiteral("ERROR");
    }
    return {};
}

QString connectionSymbol(State state)
{
    return state == State::Connected ? QStringLiteral("location.north.circle.fill")
                                     : QStringLiteral("location.slash.circle");
}

bool connectionIsReady(State state, bool isMoving)
{
    return state == State::Connected && !isMoving;
}

QString targetDetail(const QString &source, std::optional<double> distanceKilometers)
{
    if (!distanceKilometers || !std::isfinite(*distanceKilometers))
        return source;
    return source + QStringLiteral(" · ") + QString::number(std::llround(*distanceKilometers)) + QStringLiteral(" km");
}

QString bandText(const QString &targetBand, const QString &currentBand)
{
    return targetBand == QLatin1String("Other") ? currentBand : targetBand;
}

ButtonEnables buttonEnables(State state, std::optional<double> targetBearing)
{
    const bool connected = state == State::Connected;
    return {connected, connected && targetBearing.has_value(), connected};
}

QString degreesText(double degrees)
{
    char text[32];
    std::snprintf(text, sizeof text, "%03.0f", degrees);
    return QString::fromLatin1(text) + QStringLiteral("°");
}

QString readoutCaption(bool isMoving, const QString &motionDirection)
{
    return isMoving ? withDirection(QStringLiteral("MOVING"), motionDirection) : QStringLiteral("ANTENNA");
}

QString accessibilityValue(std::optional<double> azimuth)
{
    if (!azimuth)
        return QStringLiteral("Unavailable");
    return QStringLiteral("%1 degrees").arg(std::llround(*azimuth));
}

QRectF dialSquare(const QSizeF &area)
{
    const double side = std::min(area.width(), area.height());
    return {(area.width() - side) / 2, (area.height() - side) / 2, side, side};
}

std::optional<double> tapBearing(const QSizeF &area, const QPointF &point)
{
    const QRectF square = dialSquare(area);
    return RotatorGeometry::bearingForDialPoint(point.x(), point.y(), square.center().x(), square.center().y(),
                                                square.width() / 2);
}

double nextShownAzimuth(double shown, double azimuth)
{
    return shown + RotatorGeometry::shortestDifference(shown, azimuth);
}

} // namespace kivo::RotatorPanelRules
