#pragma once

// The rules the Station tab and the remote control panel decide by, apart
// from their widgets.

#include "KivoCore/radio/Models.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace kivo {

// The allowed-band list after switching `band` on or off: every copy
// removed, appended when on, sorted into band order with unknown names last.
QStringList withBandMembership(const QStringList &list, const QString &band, bool on);

// The KAT500 output's display name, "KAT ANT<n>" when none is stored.
QString katAntennaName(const QMap<QString, QString> &names, int output);

// How many boxes, taken in order, share a row `width` wide: the most whose
// columns, each as wide as the widest box it holds, fit side by side; one
// when none do.
int boxesPerRow(const QList<int> &minimumWidths, int spacing, int width);

struct StationControls {
    bool editing;
    bool reload;
    bool save;

    bool operator==(const StationControls &) const = default;
};
StationControls stationControls(bool loaded, bool busy, bool isRunning);

struct RemotePanelControls {
    bool offsets; // RIT and XIT rows
    bool applyPower;
    std::optional<RemoteStationAction> amplifier;
    bool amplifierEnabled;
    bool tune;
    bool cancel;

    bool operator==(const RemotePanelControls &) const = default;
};
RemotePanelControls remotePanelControls(bool isRadioConnected, bool fullControl,
                                        std::optional<RemoteStationAction> amplifier,
                                        const std::function<bool(RemoteStationAction)> &allowed);

// "Standby", "Operate", "Tune", "Cancel".
QString actionTitle(RemoteStationAction action);

} // namespace kivo
