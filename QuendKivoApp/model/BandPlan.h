#pragma once

// Which amateur band the station is on, in the rotator's band names.

#include "KivoCore/radio/Models.h"

#include <QString>
#include <optional>

namespace kivo {

// The band containing the frequency (lower limit included, upper excluded),
// else "Other".
QString bandForFrequency(qint64 frequencyHz);

// A band text as a rotator band name: a supported name in any case and with
// blanks around it, or a bare number of metres ("20" is "20m"); any other
// text comes back as passed in. A text that is blank counts as unknown:
// "Other".
QString normalizedBand(const QString &band);

// The agent's band when it reports one, else the band of the radio's
// frequency, else "Other".
QString currentBand(const std::optional<RemoteStationStatus> &station, const std::optional<RadioSnapshot> &radio);

} // namespace kivo
