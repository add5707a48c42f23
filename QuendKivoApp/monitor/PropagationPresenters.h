#pragma once

// What the propagation panel shows, without widgets.

#include "KivoCore/station/PropagationConditions.h"

#include <QColor>
#include <QString>

namespace kivo {

// "SFI 150  A 8  K 2  X B1.2"; "--" for each missing value.
QString propagationSummary(const PropagationConditionsSnapshot &snapshot);
// "updated 14:05 UTC" in UTC whatever the computer's zone and locale; empty
// without an update time.
QString propagationUpdatedText(const PropagationConditionsSnapshot &snapshot);
// Exact words only: anything else (the loading text) is dimmed cyan.
QColor propagationStatusTint(const QString &status);
QColor propagationRatingTint(PropagationRating rating);
QString propagationEmptyText(const QString &status);

} // namespace kivo
