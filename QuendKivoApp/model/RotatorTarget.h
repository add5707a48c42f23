#pragma once

// The rotator's typed target (a bearing, a Maidenhead grid or a call sign
// looked up in a call-to-grid file) and the texts shown while turning.

#include "KivoCore/station/RotatorGeometry.h"

#include <QString>
#include <optional>

namespace kivo {

// Map points for a bare bearing lie this far from home.
inline constexpr double rotatorMapPointKilometers = 5000;

// "%03.0f°" of the bearing folded into 0 up to 360.
QString formattedBearing(double bearing);
// "CW" when the shorter way from the azimuth to the bearing is clockwise
// (or none), "CCW" otherwise; empty without an azimuth.
QString motionDirection(std::optional<double> azimuth, double bearing);
// "Turning to 123°" without an azimuth, else "Turning CW · 010° → 123°".
QString turningStatus(std::optional<double> current, double target);

// The home point: the centre of the home grid, none when it does not parse.
std::optional<GeoCoordinate> homePoint(const QString &homeGrid);

// The grid text of the last line "CALL,GRID" of a call-to-grid file whose
// call equals `callsign` (already upper case); none when no line matches.
std::optional<QString> gridForCall(const QString &fileText, const QString &callsign);
// The call-to-grid file's text, a leading "~" being the home directory;
// none when it cannot be read as UTF-8.
std::optional<QString> readCallGridFile(const QString &path, const QString &homeDirectory);

struct RotatorTargetResolution {
    enum class Kind { Empty, Bearing, Grid, Call, NotFound };

    Kind kind = Kind::Empty;
    std::optional<double> bearing;
    QString label;
    QString source;
    std::optional<GeoCoordinate> coordinate;
    std::optional<double> distanceKilometers;

    // Everything but Empty replaces the target; NotFound keeps the band.
    bool takesCurrentBand() const { return kind != Kind::Empty && kind != Kind::NotFound; }

    bool operator==(const RotatorTargetResolution &) const = default;
};

// Resolves the typed text. `gridFileText` is the call-to-grid file, none
// when it could not be read.
RotatorTargetResolution resolveRotatorTarget(const QString &input, const QString &homeGrid,
                                             const std::optional<QString> &gridFileText);

} // namespace kivo
