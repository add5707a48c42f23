#pragma once

// Spot feeds, categories, styles, and RUMlog spots made into FLEX spot records.

#include "KivoCore/radio/FlexSpot.h"

#include <QByteArray>
#include <QHash>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <array>
#include <optional>

namespace kivo {

enum class SpotFeed { Logbook, Contest };

inline constexpr std::array<SpotFeed, 2> allSpotFeeds{SpotFeed::Logbook, SpotFeed::Contest};
QString rawValue(SpotFeed feed);
std::optional<SpotFeed> spotFeedFromRaw(const QString &raw);

enum class DXSpotCategory {
    StationWorkedBefore,
    DxccNotConfirmed,
    BandNotConfirmed,
    ModeNotConfirmed,
    SlotNotConfirmed,
    Other,
    NewMultiplier,
    WorkedBefore,
    Useful,
    Useless,
    Unknown,
};

inline constexpr std::array<DXSpotCategory, 11> allDXSpotCategories{
    DXSpotCategory::StationWorkedBefore, DXSpotCategory::DxccNotConfirmed, DXSpotCategory::BandNotConfirmed,
    DXSpotCategory::ModeNotConfirmed,    DXSpotCategory::SlotNotConfirmed, DXSpotCategory::Other,
    DXSpotCategory::NewMultiplier,       DXSpotCategory::WorkedBefore,     DXSpotCategory::Useful,
    DXSpotCategory::Useless,             DXSpotCategory::Unknown};

QString rawValue(DXSpotCategory category);
std::optional<DXSpotCategory> dxSpotCategoryFromRaw(const QString &raw);
QString title(DXSpotCategory category);
// The categories of one feed, in the order the configuration window lists them.
QList<DXSpotCategory> categories(SpotFeed feed);

inline size_t qHash(DXSpotCategory category, size_t seed = 0) noexcept
{
    return ::qHash(static_cast<int>(category), seed);
}

struct SpotStyle {
    int priority = 1;
    QString colorHex;
    int lifetimeSeconds = 30;

    SpotStyle() = default;
    // Clamps priority to 1...5 and the lifetime to 30...86400; the colour is kept.
    SpotStyle(int priority, const QString &colorHex, int lifetimeSeconds);

    bool operator==(const SpotStyle &) const = default;

    QJsonValue toJson() const;
    // Takes the values as they stand (no clamping); throws DecodingError.
    static SpotStyle fromJson(const QJsonValue &value, const QString &key = QStringLiteral("style"));
};

struct SpotBridgeConfiguration {
    bool enabled = true;
    quint16 logbookPort = 12062;
    quint16 contestPort = 12063;
    QHash<DXSpotCategory, SpotStyle> styles{};

    static const QHash<DXSpotCategory, SpotStyle> &defaultStyles();
    // Enabled, ports 12062 and 12063, the default styles.
    static SpotBridgeConfiguration defaults();

    SpotStyle style(DXSpotCategory category) const;
    void setStyle(const SpotStyle &style, DXSpotCategory category);

    bool operator==(const SpotBridgeConfiguration &) const = default;

    QJsonValue toJson() const;
    // Requires all four members; throws DecodingError.
    static SpotBridgeConfiguration fromJson(const QJsonValue &value);
};


// One spot as RUMlog sent it, before any range check.
struct ParsedRUMlogSpot {
    qint64 frequencyHz = 0;
    QString callsign;
    QString mode;
    QString spotter;
    QString stationName;
    QString comment;
    qint64 timestamp = 0;
    DXSpotCategory category = DXSpotCategory::Other;

    bool operator==(const ParsedRUMlogSpot &) const = default;

    // Source "RUMlogNG <feed>", the station name standing in for a missing
    // spotter, and the style's lifetime, priority and colour. Throws what
    // FlexSpot::make throws.
    FlexSpot flexSpot(SpotFeed feed, const SpotStyle &style) const;
};

namespace RUMlogSpotParser {
// Reads one spot datagram (an XML document) and chooses its category for
// the feed it arrived on. Throws KivoError: the XML reader's description,
// or "RUMlog spot has no valid frequency.".
ParsedRUMlogSpot parse(const QByteArray &bytes, SpotFeed feed);
} // namespace RUMlogSpotParser

} // namespace kivo
