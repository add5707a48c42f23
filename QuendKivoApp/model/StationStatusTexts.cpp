#include "QuendKivoApp/model/StationStatusTexts.h"

#include "KivoCore/support/Numbers.h"
#include "QuendKivoApp/model/ConnectionKindDescriptor.h"

namespace kivo {

QString SpotBridgeStatusText::agentUpdateRequired()
{
    return QStringLiteral("Listening \u2014 Windows agent update required");
}

bool agentLacksSpotSupport(AppConfiguration::ConnectionKind kind, const std::optional<RemoteStationStatus> &station)
{
    return descriptorOf(kind).isRemoteAgent() &&
           (!station || !station->supportedCommands.contains(QStringLiteral("add_spot")));
}

QString spotBridgeListeningStatus(bool radioConnected, bool agentLacksSupport)
{
    if (!radioConnected)
        return QStringLiteral("Listening \u2014 waiting for radio");
    if (agentLacksSupport)
        return SpotBridgeStatusText::agentUpdateRequired();
    return QStringLiteral("Listening \u2014 ready");
}

QString spotRejectedStatus(bool radioConnected, const QString &message)
{
    if (!radioConnected)
        return QStringLiteral("Listening \u2014 radio disconnected");
    if (message.contains(QLatin1String("authenticate"), Qt::CaseInsensitive))
        return QStringLiteral("Listening \u2014 agent authentication failed");
    return QStringLiteral("Listening \u2014 FLEX rejected last spot");
}

QString spotSummary(const QString &callsign, qint64 frequencyHz, DXSpotCategory category)
{
    return callsign + QStringLiteral(" \u00B7 ") + formatFixed(double(frequencyHz) / 1000000.0, 3) +
           QStringLiteral(" MHz \u00B7 ") + title(category);
}

QString propagationStatusAfterFetch(const std::optional<PropagationConditionsSnapshot> &fetched, bool reportHeld,
                                    const QDateTime &now)
{
    const QString stale = QStringLiteral("STALE");
    if (!fetched)
        return reportHeld ? stale : QStringLiteral("OFFLINE");
    if (fetched->updatedAt && fetched->updatedAt->secsTo(now) > propagationStaleSeconds)
        return stale;
    return QStringLiteral("LIVE");
}

} // namespace kivo
