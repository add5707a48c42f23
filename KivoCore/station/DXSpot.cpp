#include "KivoCore/station/DXSpot.h"
#include "KivoCore/support/RawValue.h"

#include "KivoCore/support/InternetDateTime.h"
#include "KivoCore/support/JsonFields.h"
#include "KivoCore/radio/KivoError.h"
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
    return SpotBridgeConfiguration(true, 12062, 12063, defaultStyles());
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
        throw DecodingError(QStringLiteral("styles"), QStringLiteral("a category has no style."));
    for (qsizetype i = 0; i < pairs.size(); i += 2) {
        const QString raw = json::toString(pairs.at(i), QStringLiteral("styles"));
        const auto category = dxSpotCategoryFromRaw(raw);
        if (!category)
            throw DecodingError(QStringLiteral("styles"), QStringLiteral("unknown category \"%1\".").arg(raw));
        result.styles.insert(*category, SpotStyle::fromJson(pairs.at(i + 1), raw));
    }
    return result;
}

namespace {
// "#" and six upper-case hexadecimal digits, nothing before or after.
bool isColorHex(const QString &text)
{
    if (text.size() != 7 || text.at(0) != QLatin1Char('#'))
        return false;
    for (qsizetype i = 1; i < 7; ++i) {
        const char16_t c = text.at(i).unicode();
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}
} // namespace

FlexSpot FlexSpot::make(qint64 frequencyHz, const QString &callsign, const QString &mode, const QString &source,
                        const QString &spotter, const QString &comment, qint64 timestamp, int lifetimeSeconds,
                        int priority, const QString &colorHex)
{
    if (frequencyHz < 100000 || frequencyHz > 60000000)
        throw KivoError::invalidFrequency();
    const QString call = upperCased(trimmed(callsign));
    // The callsign ends up in the radio's command line: anything outside
    // printable ASCII, and the field separator "|", is refused outright.
    if (call.isEmpty() || call.size() > 32 || !isPrintableASCII(call) || call.contains(QLatin1Char('|')))
        throw KivoError::server(QStringLiteral("The spot callsign is invalid."));

    FlexSpot spot;
    spot.m_frequencyHz = frequencyHz;
    spot.m_callsign = call;
    spot.m_mode = sanitizedASCII(mode, 16);
    spot.m_source = sanitizedASCII(source, 32, QStringLiteral("RUMlogNG"));
    spot.m_spotter = sanitizedASCII(upperCased(spotter), 32);
    spot.m_comment = sanitizedASCII(comment, 96);
    spot.m_timestamp = std::max<qint64>(timestamp, 0);
    const QString color = upperCased(colorHex);
    spot.m_colorHex = isColorHex(color) ? color : QStringLiteral("#0A84FF");
    spot.m_lifetimeSeconds = std::clamp(lifetimeSeconds, 30, 86400);
    spot.m_priority = std::clamp(priority, 1, 5);
    return spot;
}

FlexSpot ParsedRUMlogSpot::flexSpot(SpotFeed feed, const SpotStyle &style) const
{
    return FlexSpot::make(frequencyHz, callsign, mode, QStringLiteral("RUMlogNG ") + rawValue(feed),
                          spotter.isEmpty() ? stationName : spotter, comment, timestamp, style.lifetimeSeconds,
                          style.priority, style.colorHex);
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
