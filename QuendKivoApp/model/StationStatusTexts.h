#pragma once

// The one-line states of the spot bridge and of the propagation report.

#include "QuendKivoApp/model/AppConfiguration.h"
#include "KivoCore/radio/Models.h"
#include "KivoCore/station/DXSpot.h"
#include "KivoCore/station/PropagationConditions.h"

#include <QDateTime>
#include <QString>
#include <optional>

namespace kivo {

namespace SpotBridgeStatusText {
QString agentUpdateRequired();
} // namespace SpotBridgeStatusText

// True when the agent is the backend and does not (yet) advertise spots.
bool agentLacksSpotSupport(AppConfiguration::ConnectionKind kind, const std::optional<RemoteStationStatus> &station);
// The state while both receivers listen and no spot has been sent yet.
QString spotBridgeListeningStatus(bool radioConnected, bool agentLacksSupport);
// The state after the radio refused a spot with `message`.
QString spotRejectedStatus(bool radioConnected, const QString &message);
// "K1ABC · 14.025 MHz · New multiplier".
QString spotSummary(const QString &callsign, qint64 frequencyHz, DXSpotCategory category);

// Reports older than this count as stale.
inline constexpr qint64 propagationStaleSeconds = 10800;

// The freshness status after a fetch: `fetched` is the new report, none
// when the fetch failed; `reportHeld` tells whether an older one is shown.
QString propagationStatusAfterFetch(const std::optional<PropagationConditionsSnapshot> &fetched, bool reportHeld,
                                    const QDateTime &now);

} // namespace kivo
