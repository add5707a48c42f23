#pragma once

// How a RUMlog rotator datagram becomes a target bearing, and when it turns
// the rotator by itself.

#include "KivoCore/station/Rotator.h"
#include "KivoCore/station/RotatorDatagram.h"

#include <QString>
#include <chrono>
#include <optional>

namespace kivo {

struct RotatorFeedBearing {
    double bearing = 0;
    QString source; // "RUMlog command", "RUMlog station", ...

    bool operator==(const RotatorFeedBearing &) const = default;
};

// The commanded bearing first, then the configured source with its
// fallbacks; none when the datagram gives no bearing at all.
std::optional<RotatorFeedBearing> chooseRotatorFeedBearing(const RUMlogRotatorUpdate &update,
                                                           RotatorAutomaticSource source,
                                                           std::optional<double> gridBearing);
// The label used when the datagram names neither call nor country.
QString rotatorFeedFallbackLabel(RotatorAutomaticSource source);

// The band's offset added; on a bidirectional band the reverse bearing when
// it lies strictly nearer the antenna. Normalised.
double applyRotatorBandRules(double bearing, const QString &band, const RotatorConfiguration &rotator,
                             std::optional<double> azimuth);

struct AutomaticRotatorCommand {
    double bearing = 0;
    std::chrono::milliseconds at{0}; // monotonic
};

// The same automatic target is not sent twice within this time.
inline constexpr std::chrono::milliseconds automaticTurnRepeatInterval{30000};

// Whether an automatic turn to `bearing` is due: the antenna's position is
// known and far enough off, and the same target was not just sent.
bool automaticTurnDue(std::optional<double> azimuth, double bearing, int minimumTurnDegrees,
                      const std::optional<AutomaticRotatorCommand> &last, std::chrono::milliseconds now,
                      std::chrono::milliseconds repeatInterval = automaticTurnRepeatInterval);

} // namespace kivo
