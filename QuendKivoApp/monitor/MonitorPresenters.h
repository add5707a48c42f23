#pragma once

// What the station monitor shows, worked out from the model's values
// without widgets, so each rule is decided (and tested) in one place.

#include "KivoCore/radio/Models.h"

#include <QColor>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <optional>

namespace kivo {

// "14.074.000 MHz"; "--.---.--- MHz" when missing or below 1 Hz.
QString formatFrequency(std::optional<qint64> frequencyHz);
// "A 14.074.000": no unit and no guard, so 0 Hz reads "A 0.000.000".
QString headerFrequencyText(const RadioVFO &vfo);
QColor headerFrequencyColor(const RadioSnapshot &snapshot, const RadioVFO &vfo);
QString headerDetail(const std::optional<RadioSnapshot> &snapshot, const std::optional<RemoteStationStatus> &status);

struct ConnectionBadge {
    QString text;
    QColor color;
};
ConnectionBadge connectionBadge(bool radioConnected, bool agentConnected, const std::optional<RadioSnapshot> &snapshot);

QString vfoText(const std::optional<RadioSnapshot> &snapshot, const QString &letter);

QString txPowerText(const std::optional<RemoteStationStatus> &status);
QString swrText(const std::optional<RemoteStationStatus> &status);
QColor swrTint(const std::optional<RemoteStationStatus> &status);
QString rfDriveText(const std::optional<RadioSnapshot> &snapshot);

QColor amplifierTint(const RemoteStationStatus &status);
QColor tunerTint(const RemoteStationStatus &status);
QString routeDetailText(const RemoteStationStatus &status);
QColor routeTint(const RemoteStationStatus &status);

// "Updated 14:05:09 | alarms clear | commissioned True"; the time in the
// given locale's short style, always with seconds.
QString footerText(const std::optional<QDateTime> &lastSnapshotAt, const std::optional<RemoteStationStatus> &status,
                   const QLocale &locale = QLocale());

} // namespace kivo
