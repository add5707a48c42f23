#include "QuendKivoApp/monitor/PropagationPresenters.h"

#include "QuendKivoApp/kit/Palette.h"

#include <QTimeZone>

namespace kivo {

namespace {
QString orDashes(std::optional<int> value) { return value ? QString::number(*value) : QStringLiteral("--"); }
} // namespace

QString propagationSummary(const PropagationConditionsSnapshot &snapshot)
{
    return QStringLiteral("SFI ") + orDashes(snapshot.solarFlux) + QStringLiteral("  A ") + orDashes(snapshot.aIndex) +
           QStringLiteral("  K ") + orDashes(snapshot.kIndex) + QStringLiteral("  X ") +
           (snapshot.xRay.isEmpty() ? QStringLiteral("--") : snapshot.xRay);
}

QString propagationUpdatedText(const PropagationConditionsSnapshot &snapshot)
{
    if (!snapshot.updatedAt)
        return {};
    const QDateTime utc = snapshot.updatedAt->toTimeZone(QTimeZone::utc());
    return QStringLiteral("updated ") + QLocale::c().toString(utc.time(), QStringLiteral("HH:mm")) + QStringLiteral(" UTC");
}

QColor propagationStatusTint(const QString &status)
{
    if (status == QStringLiteral("LIVE"))
        return MonitorPalette::green();
    if (status == QStringLiteral("STALE"))
        return MonitorPalette::amber();
    if (status == QStringLiteral("OFFLINE"))
        return MonitorPalette::coral();
    return withOpacity(MonitorPalette::cyan(), 0.72);
}

QColor propagationRatingTint(PropagationRating rating)
{
    switch (rating) {
    case PropagationRating::Good:
        return MonitorPalette::green();
    case PropagationRating::Fair:
        return MonitorPalette::amber();
    case PropagationRating::Poor:
        return MonitorPalette::coral();
    case PropagationRating::Closed:
        return withOpacity(MonitorPalette::violet(), 0.86);
    case PropagationRating::Unknown:
        break;
    }
    return platformColor(PlatformColor::Secondary, Appearance::Dark);
}

QString propagationEmptyText(const QString &status)
{
    return status == QStringLiteral("OFFLINE")
               ? QStringLiteral("Solar data is unavailable. The station monitor remains fully operational.")
               : QStringLiteral("Loading current solar and geomagnetic conditions\u2026");
}

} // namespace kivo
