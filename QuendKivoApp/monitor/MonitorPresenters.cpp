#include "QuendKivoApp/monitor/MonitorPresenters.h"

#include "KivoCore/support/Numbers.h"
#include "QuendKivoApp/kit/Palette.h"

namespace kivo {

namespace {

const QString missingFrequency = QStringLiteral("--.---.--- MHz");

// "%lld.%03lld.%03lld" of MHz, kHz and Hz, without the locale.
QString dottedFrequency(qint64 hz)
{
    return QString::number(hz / 1000000) + QLatin1Char('.') + zeroPadded((hz % 1000000) / 1000, 3) +
           QLatin1Char('.') + zeroPadded(hz % 1000, 3);
}

QColor secondary() { return platformColor(PlatformColor::Secondary, Appearance::Dark); }

} // namespace

QString formatFrequency(std::optional<qint64> frequencyHz)
{
    if (!frequencyHz || *frequencyHz < 1)
        return missingFrequency;
    return dottedFrequency(*frequencyHz) + QStringLiteral(" MHz");
}

QString headerFrequencyText(const RadioVFO &vfo) { return vfo.letter + QLatin1Char(' ') + dottedFrequency(vfo.frequencyHz); }

QColor headerFrequencyColor(const RadioSnapshot &snapshot, const RadioVFO &vfo)
{
    if (snapshot.isTransmitting && vfo.isTransmit)
        return platformColor(PlatformColor::Red, Appearance::Dark);
    return withOpacity(MonitorPalette::cyan(), vfo.isReceive ? 1.0 : 0.65);
}

QString headerDetail(const std::optional<RadioSnapshot> &snapshot, const std::optional<RemoteStationStatus> &status)
{
    const QString dash = QStringLiteral("--");
    return QStringList{snapshot ? snapshot->mode : dash, status ? status->band : dash,
                       status ? status->routeAlignment : QStringLiteral("unknown"),
                       status ? status->interlockState : dash}
        .join(QStringLiteral(" | "));
}

ConnectionBadge connectionBadge(bool radioConnected, bool agentConnected, const std::optional<RadioSnapshot> &snapshot)
{
    if (radioConnected && snapshot && snapshot->isTransmitting)
        return {QStringLiteral("TX"), srgb(0.72, 0.11, 0.11)};
    if (radioConnected)
        return {QStringLiteral("RX"), srgb(0.09, 0.40, 0.20)};
    if (agentConnected)
        return {QStringLiteral("STALE"), withOpacity(MonitorPalette::amber(), 0.72)};
    return {QStringLiteral("OFFLINE"), srgb(0.28, 0.33, 0.41)};
}

QString vfoText(const std::optional<RadioSnapshot> &snapshot, const QString &letter)
{
    const std::optional<RadioVFO> vfo = snapshot ? snapshot->vfo(letter) : std::nullopt;
    if (!vfo)
        return QStringLiteral("VFO ") + letter + QStringLiteral("  --");
    return QStringLiteral("VFO ") + letter + QStringLiteral("  ") + formatFrequency(vfo->frequencyHz) +
           QStringLiteral("  ") + vfo->mode;
}

QString txPowerText(const std::optional<RemoteStationStatus> &status)
{
    if (!status || !status->txPowerWatts)
        return QStringLiteral("--");
    return formatFixed(*status->txPowerWatts, 0) + QStringLiteral(" W");
}

QString swrText(const std::optional<RemoteStationStatus> &status)
{
    if (!status || !status->swr)
        return QStringLiteral("--");
    return formatFixed(*status->swr, 2) + (status->swrIsLive ? QStringLiteral(" LIVE") : QStringLiteral(" LAST"));
}

QColor swrTint(const std::optional<RemoteStationStatus> &status)
{
    if (!status || !status->swr)
        return secondary();
    if (*status->swr >= 3.0)
        return srgb(1.00, 0.64, 0.64);
    if (*status->swr >= 2.0)
        return MonitorPalette::amber();
    return MonitorPalette::green();
}

QString rfDriveText(const std::optional<RadioSnapshot> &snapshot)
{
    if (!snapshot || !snapshot->rfPowerWatts)
        return QStringLiteral("-- W");
    return QString::number(*snapshot->rfPowerWatts) + QStringLiteral(" W");
}

QColor amplifierTint(const RemoteStationStatus &status)
{
    return status.kpaSummary.contains(QStringLiteral("OPERATE")) ? MonitorPalette::green() : MonitorPalette::amber();
}

QColor tunerTint(const RemoteStationStatus &status)
{
    return status.katSummary.contains(QStringLiteral("tuning")) ? MonitorPalette::amber() : MonitorPalette::cyan();
}

QString routeDetailText(const RemoteStationStatus &status)
{
    return QString(status.routeDetail).replace(QChar(0x2192), QChar(0x203A));
}

QColor routeTint(const RemoteStationStatus &status)
{
    return status.routeAlignment.toLower() == QStringLiteral("confirmed") ? MonitorPalette::green()
                                                                          : MonitorPalette::amber();
}

QString footerText(const std::optional<QDateTime> &lastSnapshotAt, const std::optional<RemoteStationStatus> &status,
                   const QLocale &locale)
{
    QString time = QStringLiteral("--:--:--");
    if (lastSnapshotAt) {
        QString format = locale.timeFormat(QLocale::ShortFormat);
        if (!format.contains(QLatin1Char('s')))
            format.replace(QStringLiteral("mm"), QStringLiteral("mm:ss"));
        time = locale.toString(lastSnapshotAt->toLocalTime().time(), format);
    }
    const QString alarms = status ? QString(status->alarmSummary).remove(QStringLiteral("ALARM ")) : QStringLiteral("unknown");
    const bool commissioned = status && status->commissioned;
    return QStringLiteral("Updated ") + time + QStringLiteral(" | alarms ") + alarms + QStringLiteral(" | commissioned ") +
           (commissioned ? QStringLiteral("True") : QStringLiteral("False"));
}

} // namespace kivo
