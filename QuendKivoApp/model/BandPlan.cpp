#include "QuendKivoApp/model/BandPlan.h"

#include "KivoCore/station/Rotator.h"
#include "KivoCore/support/Text.h"

#include <array>

namespace kivo {

namespace {

struct BandRange {
    const char *name;
    qint64 from;
    qint64 to;
};

constexpr std::array<BandRange, 14> bandPlan{{
    {"160m", 1800000, 2100000},
    {"80m", 3400000, 4100000},
    {"60m", 5000000, 5500000},
    {"40m", 6900000, 7400000},
    {"30m", 10000000, 10200000},
    {"20m", 13900000, 14500000},
    {"17m", 18000000, 18300000},
    {"15m", 20900000, 21600000},
    {"12m", 24800000, 25100000},
    {"10m", 27900000, 30000000},
    {"6m", 49000000, 55000000},
    {"4m", 69000000, 71000000},
    {"2m", 143000000, 149000000},
    {"70cm", 420000000, 451000000},
}};

const QString otherBand = QStringLiteral("Other");

bool isAsciiDigits(const QString &text)
{
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace

QString bandForFrequency(qint64 frequencyHz)
{
    for (const BandRange &range : bandPlan) {
        if (frequencyHz >= range.from && frequencyHz < range.to)
            return QString::fromLatin1(range.name);
    }
    return otherBand;
}

QString normalizedBand(const QString &band)
{
    const QString text = trimmed(band).toLower();
    if (text.isEmpty())
        return otherBand;
    for (const QString &supported : RotatorConfiguration::supportedBands()) {
        if (supported.toLower() == text)
            return supported;
    }
    if (isAsciiDigits(text))
        return text + QLatin1Char('m');
    return band;
}

QString currentBand(const std::optional<RemoteStationStatus> &station, const std::optional<RadioSnapshot> &radio)
{
    if (station && !trimmed(station->band).isEmpty() && station->band != QLatin1String("--"))
        return normalizedBand(station->band);
    if (!radio)
        return otherBand;
    return bandForFrequency(radio->frequencyHz);
}

} // namespace kivo
