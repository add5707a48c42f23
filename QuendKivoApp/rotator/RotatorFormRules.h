#pragma once

// The rotator settings form's rules, free of widgets: number ranges, the
// header's button, the entry row's enabling and the home-grid mark.

#include "KivoCore/station/DCU1RotatorClient.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace kivo::RotatorFormRules {

struct Range {
    qint64 minimum;
    qint64 maximum;
    // A number outside is clamped into the range, else refused.
    bool clamped = true;
};
// Port 0 would bind a port the system picks, or connect nowhere.
inline constexpr Range portRange{1, 65535, false};
inline constexpr Range offsetRange{-180, 180};
// The record's own ranges, so a reload gives back what was committed.
inline constexpr Range minimumChangeRange{0, 180};
inline constexpr Range beamWidthRange{1, 90};

// A committed text clamped into the range; nothing when it is no number,
// or a number outside a range that is not clamped.
std::optional<qint64> parsedNumber(const QString &text, Range range);

// "Connect" while stopped or failed, else "Disconnect".
bool offersConnect(DCU1RotatorClient::State state);

struct EntryRowEnables {
    bool turn;
    bool longPath;
    bool stop;
    bool operator==(const EntryRowEnables &) const = default;
};
EntryRowEnables entryRowEnables(std::optional<double> targetBearing, DCU1RotatorClient::State state);

bool homeGridIsValid(const QString &homeGrid);

// A bearing as whole degrees, halves away from zero: "45°", "360°".
QString wholeDegrees(double bearing);

// The two band columns: the first eight names, then the rest.
QList<QStringList> bandColumns();

} // namespace kivo::RotatorFormRules
