#include "KivoCore/station/DXSpot.h"
#include "KivoCore/support/RawValue.h"

#include "KivoCore/support/InternetDateTime.h"
#include "KivoCore/support/JsonFields.h"
#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/Text.h"
#include "KivoCore/support/XmlLeafFields.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <utility>

namespace kivo {

QString rawValue(SpotFeed feed)
{
    return feed == SpotFeed::Logbook ? QStringLiteral("Logbook") : QStringLiteral("Contest");
}

std::optional<SpotFeed> spotFeedFromRaw(const QString &raw)
{
    return caseFromRaw(allSpotFeeds, raw);
}

namespace {
struct CategoryInfo {
    const char *raw;
    const char *title;
    SpotFeed feed;
    int priority;
    const char *color;
    int lifetime;
};

const CategoryInfo &info(DXSpotCategory category)
{
    static const CategoryInfo table[] = {
        {"stationWorkedBefore", "Station worked before", SpotFeed::Logbook, 1, "#8E8E93", 300},
        {"dxccNotConfirmed", "DXCC not confirmed", SpotFeed::Logbook, 5, "#FF453A", 1800},
        {"bandNotConfirmed", "Band not confirmed", SpotFeed::Logbook, 4, "#FF9F0A", 1200},
        {"modeNotConfirmed", "Mode not confirmed", SpotFeed::Logbook, 3, "#0A84FF", 900},
        {"slotNotConfirmed", "Slot not confirmed", SpotFeed::Logbook, 3, "#BF5AF2", 900},
        {"other", "Other", SpotFeed::Logbook, 2, "#64D2FF", 600},
        {"newMultiplier", "New multiplier", SpotFeed::Contest, 5, "#FF453A", 1800},
        {"workedBefore", "Worked before", SpotFeed::Contest, 1, "#8E8E93", 300},
        {"useful", "Useful", SpotFeed::Contest, 4, "#30D158", 900},
        {"useless", "Useless", SpotFeed::Contest, 1, "#636366", 180},
        {"unknown", "Unknown", SpotFeed::Contest, 2, "#0A84FF", 600},
    };
    return table[static_cast<int>(category)];
}
} // namespace

QString rawValue(DXSpotCategory category)
{
    return QString::fromLatin1(info(category).raw);
}

std::optional<DXSpotCategory> dxSpotCategoryFromRaw(const QString &raw)
{
    return caseFromRaw(allDXSpotCategories, raw);
}

QString title(DXSpotCategory category)
{
    return QString::fromLatin1(info(category).title);
}

QList<DXSpotCategory> categories(SpotFeed feed)
{
    QList<DXSpotCategory> result;
    for (auto category : allDXSpotCategories) {
        if (info(category).feed == feed)
            result.append(category);
    }
    return result;
}

SpotStyle::SpotStyle(int priority, const QString &colorHex, int lifetimeSeconds)
    : priority(std::clamp(priority, 1, 5)), colorHex(colorHex), lifetimeSeconds(std::clamp(lifetimeSeconds, 30, 86400))
{
}

QJsonValue SpotStyle::toJson() const
{
    return QJsonObject{{QStringLiteral("priority"), priority},
                       {QStringLiteral("colorHex"), colorHex},
                       {QStringLiteral("lifetimeSeconds"), lifetimeSeconds}};
}

SpotStyle SpotStyle::fromJson(const QJsonValue &value, const QString &key)
{
    const QJsonObject object = json::toObject(value, key);
    SpotStyle style;
    style.priority = json::toInt(json::required(object, QStringLiteral("priority")), QStringLiteral("priority"));
    style.colorHex = json::toString(json::required(object, QStringLiteral("colorHex")), QStringLiteral("colorHex"));
    style.lifetimeSeconds =
        json::toInt(json::required(object, QStringLiteral("lifetimeSeconds")), QStringLiteral("lifetimeSeconds"));
    return style;
}

const QHash<DXSpotCategory, SpotStyle> &SpotBridgeConfiguration::defaultStyles()
{
    // A function-local static is built once, safely against concurrent first use.
    static const QHash<DXSpotCategory, SpotStyle> styles = [] {
        QHash<DXSpotCategory, SpotStyle> result;
        for (auto category : allDXSpotCategories) {
            const auto &entry = info(category);
            result.insert(category, SpotStyle(entry.priority, QString::fromLatin1(entry.color), entry.lifetime));
        }
        return result;
    }();
    return styles;
}

SpotBridgeConfiguration SpotBridgeConfiguration::defaults()
{
    return {.enabled = true, .logbookPort = 12062, .contestPort = 12063, .styles = defaultStyles()};
}

SpotStyle SpotBridgeConfiguration::style(DXSpotCategory category) const
{
    const auto it = styles.constFind(category);
    if (it != styles.constEnd())
        return *it;
    return defaultStyles().value(category);
}

void SpotBridgeConfiguration::setStyle(const SpotStyle &style, DXSpotCategory category)
{
    styles.insert(category, style);
}

QJsonValue SpotBridgeConfiguration::toJson() const
{
    // Category keys are not strings, so the styles are an array alternating
    // a category's raw value and its style object.
    QJsonArray pairs;
    for (auto category : allDXSpotCategories) {
        const auto it = styles.constFind(category);
        if (it == styles.constEnd())
            continue;
        pairs.append(rawValue(category));
        pairs.append(it->toJson());
    }
    return QJsonObject{{QStringLiteral("enabled"), enabled},
                       {QStringLiteral("logbookPort"), logbookPort},
                       {QStringLiteral("contestPort"), contestPort},
                       {QStringLiteral("styles"), pairs}};
}

SpotBridgeConfiguration SpotBridgeConfiguration::fromJson(const QJsonValue &value)
{
    const QJsonObject object = json::toObject(value, QStringLiteral("spotBridge"));
    SpotBridgeConfiguration result;
    result.enabled = json::toBool(json::required(object, QStringLiteral("enabled")), QStringLiteral("enabled"));
    result.logbookPort =
        json::toPort(json::required(object, QStringLiteral("logbookPort")), QStringLiteral("logbookPort"));
    result.contestPort =
        json::toPort(json::required(object, QStringLiteral("contestPort")), QStringLiteral("contestPort"));
    const QJsonArray pairs =
        json::toArray(json::required(object, QStringLiteral("styles")), QStringLiteral("styles"));
    if (pairs.size() % 2 != 0)
        throw DecodingError({.key = QStringLiteral("styles"), .problem = QStringLiteral("a category has no style.")});
    for (qsizetype i = 0; i < pairs.size(); i += 2) {
        const QString raw = json::toString(pairs.at(i), QStringLiteral("styles"));
        const auto category = dxSpotCategoryFromRaw(raw);
        if (!category)
            throw DecodingError({.key = QStringLiteral("styles"),
                                 .problem = QStringLiteral("unknown category \"%1\".").arg(raw)});
        result.styles.insert(*category, SpotStyle::fromJson(pairs.at(i + 1), raw));
    }
    return result;
}

FlexSpot ParsedRUMlogSpot::flexSpot(SpotFeed feed, const SpotStyle &style) const
{
    return FlexSpot::make({.frequencyHz = frequencyHz,
                           .callsign = callsign,
                           .mode = mode,
                           .source = QStringLiteral("RUMlogNG ") + rawValue(feed),
                           .spotter = spotter.isEmpty() ? stationName : spotter,
                           .comment = comment,
                           .timestamp = timestamp,
                           .lifetimeSeconds = style.lifetimeSeconds,
                           .priority = style.priority,
                           .colorHex = style.colorHex});
}

namespace {
// RUMlog writes kilohertz ("14,025.5") below 100000 and hertz above.
std::optional<qint64> spotFrequencyHz(QString text)
{
    text.remove(QLatin1Char(','));
    const auto value = parseDecimal(text);
    if (!value || !std::isfinite(*value) || *value <= 0)
        return std::nullopt;
    // roundedToInt64 refuses what does not fit, such as "1e300".
    return roundedToInt64(*value < 100000 ? *value * 1000 : *value);
}

std::optional<qint64> spotTimestamp(const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    if (const auto seconds = parseStrictInteger(text))
        return seconds;
    return unixSecondsFromInternetDateTime(text);
}

bool isFlagSet(const QHash<QString, QString> &fields, const char *name)
{
    static const QStringList setTexts{QStringLiteral("1"), QStringLiteral("true"), QStringLiteral("yes"),
                                      QStringLiteral("y")};
    return setTexts.contains(trimmed(fields.value(QLatin1String(name))).toLower());
}

using FlagRule = std::pair<const char *, DXSpotCategory>;

DXSpotCategory spotCategory(const QHash<QString, QString> &fields, SpotFeed feed)
{
    // The first flag set decides, in this order.
    static const FlagRule logbookRules[] = {
        {"wkdb4", DXSpotCategory::StationWorkedBefore}, {"dxccnotcfd", DXSpotCategory::DxccNotConfirmed},
        {"bandnotcfd", DXSpotCategory::BandNotConfirmed}, {"modenotcfd", DXSpotCategory::ModeNotConfirmed},
        {"slotnotcfd", DXSpotCategory::SlotNotConfirmed}};
    static const FlagRule contestRules[] = {{"newmulti", DXSpotCategory::NewMultiplier},
                                            {"wkdb4", DXSpotCategory::WorkedBefore},
                                            {"useful", DXSpotCategory::Useful},
                                            {"useless", DXSpotCategory::Useless}};
    if (feed == SpotFeed::Logbook) {
        for (const auto &[flag, category] : logbookRules) {
            if (isFlagSet(fields, flag))
                return category;
        }
        return DXSpotCategory::Other;
    }
    for (const auto &[flag, category] : contestRules) {
        if (isFlagSet(fields, flag))
            return category;
    }
    return DXSpotCategory::Unknown;
}
} // namespace

ParsedRUMlogSpot RUMlogSpotParser::parse(const QByteArray &bytes, SpotFeed feed)
{
    const XmlLeafFields document = readXmlLeafFields(bytes, XmlAttributes::Ignored);
    if (!document.wellFormed) {
        throw KivoError::server(document.errorText.isEmpty() ? QStringLiteral("RUMlog sent invalid spot XML.")
                                                             : document.errorText);
    }
    const auto &fields = document.fields;
    const auto frequency = spotFrequencyHz(fields.value(QStringLiteral("frequency")));
    if (!frequency)
        throw KivoError::server(QStringLiteral("RUMlog spot has no valid frequency."));

    ParsedRUMlogSpot spot;
    spot.frequencyHz = *frequency;
    spot.callsign = fields.value(QStringLiteral("dxcall"));
    spot.timestamp =
        spotTimestamp(fields.value(QStringLiteral("timestamp"))).value_or(QDateTime::currentSecsSinceEpoch());
    spot.mode = fields.value(QStringLiteral("mode"));
    spot.spotter = fields.value(QStringLiteral("spottercall"));
    spot.stationName = fields.value(QStringLiteral("stationname"));
    spot.comment = fields.value(QStringLiteral("comment"));
    spot.category = spotCategory(fields, feed);
    return spot;
}

} // namespace kivo
