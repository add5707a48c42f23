#include "QuendKivoApp/model/StationRules.h"

#include "KivoCore/agent/RemoteStationConfiguration.h"

#include <algorithm>
#include <climits>

namespace kivo {

QStringList withBandMembership(const QStringList &list, const QString &band, bool on)
{
    QStringList result = list;
    result.removeAll(band);
    if (on)
        result.append(band);
    const QStringList &bands = RemoteStationConfiguration::bands();
    const auto position = [&bands](const QString &name) {
        const qsizetype index = bands.indexOf(name);
        return index < 0 ? LLONG_MAX : qint64(index);
    };
    std::stable_sort(result.begin(), result.end(),
                     [&](const QString &a, const QString &b) { return position(a) < position(b); });
    return result;
}

QString katAntennaName(const QMap<QString, QString> &names, int output)
{
    const QString key = QString::number(output);
    return names.contains(key) ? names.value(key) : QStringLiteral("KAT ANT") + key;
}

int boxesPerRow(const QList<int> &minimumWidths, int spacing, int width)
{
    for (int columns = int(minimumWidths.size()); columns > 1; --columns) {
        int needed = spacing * (columns - 1);
        for (int column = 0; column < columns; ++column) {
            int widest = 0;
            for (int box = column; box < minimumWidths.size(); box += columns)
                widest = std::max(widest, minimumWidths[box]);
            needed += widest;
        }
        if (needed <= width)
            return columns;
    }
    return 1;
}

StationControls stationControls(bool loaded, bool busy, bool isRunning)
{
    return {loaded && !busy, !busy && isRunning, !busy && loaded};
}

RemotePanelControls remotePanelControls(bool isRadioConnected, bool fullControl,
                                        std::optional<RemoteStationAction> amplifier,
                                        const std::function<bool(RemoteStationAction)> &allowed)
{
    const bool control = isRadioConnected && fullControl;
    return {control,
            control,
            amplifier,
            amplifier && allowed(*amplifier),
            allowed(RemoteStationAction::Tune),
            allowed(RemoteStationAction::Cancel)};
}

QString actionTitle(RemoteStationAction action)
{
    const QString raw = rawValue(action);
    return raw.left(1).toUpper() + raw.mid(1);
}

} // namespace kivo
