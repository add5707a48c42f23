#include "QuendKivoApp/model/AppModelRules.h"

#include "KivoCore/support/Numbers.h"

#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

const QString separator = QStringLiteral(" · ");

QString vfoLine(const RadioSnapshot &snapshot, const QString &letter)
{
    const auto vfo = snapshot.vfo(letter);
    if (!vfo)
        return QStringLiteral("VFO ") + letter + separator + QStringLiteral("inactive");
    QStringList roles;
    if (vfo->isReceive)
        roles << QStringLiteral("RX");
    if (vfo->isTransmit)
        roles << QStringLiteral("TX");
    const QString role = roles.isEmpty() ? QStringLiteral("standby") : roles.join(QLatin1Char('+'));
    const QString frequency = formatFixed(double(vfo->frequencyHz) / 1000000.0, 3) + QStringLiteral(" MHz");
    return QStringLiteral("VFO ") + letter + separator + role + separator + frequency + QLatin1Char(' ') + vfo->mode;
}

} // namespace

QString radioStatusText(const RadioSnapshot &snapshot)
{
    return vfoLine(snapshot, QStringLiteral("A")) + QLatin1Char('\n') + vfoLine(snapshot, QStringLiteral("B"));
}

QString latencySummary(const TelemetryTiming &timing)
{
    QStringList parts;
    parts << (timing.transportMilliseconds
                  ? QStringLiteral("Agent→App %1 ms").arg(*timing.transportMilliseconds)
                  : QStringLiteral("Agent→App --"));
    for (auto it = timing.renderMilliseconds.cbegin(); it != timing.renderMilliseconds.cend(); ++it)
        parts << QStringLiteral("App→%1 %2 ms").arg(it.key()).arg(it.value());
    return parts.join(separator);
}

std::optional<qint64> elapsedMilliseconds(const QDateTime &from, const QDateTime &to)
{
    if (!from.isValid() || !to.isValid())
        return std::nullopt;
    constexpr qint64 aYear = 366LL * 24 * 3600 * 1000;
    const qint64 difference = from.msecsTo(to);
    if (difference > aYear || difference < -aYear)
        return std::nullopt;
    return std::max<qint64>(0, difference);
}

bool remoteActionPermitted(RemoteStationAction action, bool isRunning, bool isRadioConnected,
                           const std::optional<RemoteStationStatus> &status, bool allowCATTransmit)
{
    if (!isRunning || !isRadioConnected || !status)
        return false;
    if (!status->supportedCommands.contains(QStringLiteral("station_") + rawValue(action)))
        return false;
    if (action == RemoteStationAction::Operate || action == RemoteStationAction::Tune)
        return allowCATTransmit;
    return true;
}

std::optional<RemoteStationAction> amplifierToggle(const std::optional<RemoteStationStatus> &status)
{
    if (!status || !status->kpaOperate)
        return std::nullopt;
    return *status->kpaOperate ? RemoteStationAction::Standby : RemoteStationAction::Operate;
}

QString eventLine(const QDateTime &at, const QString &message)
{
    return at.toLocalTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") + message;
}

bool legacyLaunchDue(std::optional<std::chrono::milliseconds> lastLaunch, std::chrono::milliseconds now)
{
    return !lastLaunch || now - *lastLaunch >= legacyLaunchInterval;
}

QStringList legacyLaunchArguments(const QString &command)
{
    return QProcess::splitCommand(command);
}

QString legacyProcessName(const QString &command, const QString &configuredName)
{
    const QString configured = configuredName.trimmed();
    if (!configured.isEmpty())
        return configured;
    const QStringList words = legacyLaunchArguments(command);
    return words.isEmpty() ? QString() : QFileInfo(words.first()).fileName();
}

bool processMatches(const QString &name, const QByteArray &comm, const QByteArray &cmdline)
{
    if (name.isEmpty())
        return false;
    // The kernel keeps the first 15 bytes of a program's name in comm.
    const QByteArray stored = name.toLocal8Bit().left(15);
    if (comm.trimmed() == stored)
        return true;
    // A script's first word is its interpreter, a Windows program's is wine.
    const QList<QByteArray> words = cmdline.split('\0');
    for (qsizetype i = 0; i < std::min<qsizetype>(2, words.size()); ++i) {
        if (QFileInfo(QString::fromLocal8Bit(words[i])).fileName() == name)
            return true;
    }
    return false;
}

} // namespace kivo
