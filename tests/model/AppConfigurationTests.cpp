#include "QuendKivoApp/model/AppConfiguration.h"
#include "KivoCore/support/JsonFields.h"
#include "KivoCore/support/KivoError.h"
#include "support/QtPrinters.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace kivo;

namespace {
AppConfiguration decode(const char *json)
{
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(json));
    return AppConfiguration::fromJson(document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array()));
}
} // namespace

TEST(AppConfigurationDecoding, AnEmptyObjectGivesEveryDefault)
{
    const AppConfiguration c = decode("{}");
    EXPECT_EQ(c.connectionKind, AppConfiguration::ConnectionKind::SmartLink);
    EXPECT_EQ(c.radioHost, QString());
    EXPECT_EQ(c.radioPort, 4992);
    EXPECT_EQ(c.stationName, QStringLiteral("Maestro"));
    EXPECT_EQ(c.sliceLetter, QStringLiteral("A"));
    EXPECT_EQ(c.catPort, 5002);
    EXPECT_EQ(c.rigCtlPort, 4532);
    EXPECT_EQ(c.legacyKIVOHost, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(c.legacyKIVOPort, 5002);
    EXPECT_TRUE(c.superviseLegacyKIVO);
    EXPECT_FALSE(c.allowCATTransmit);
    EXPECT_TRUE(c.launchServersAutomatically);
    EXPECT_EQ(c.spotBridge, (SpotBridgeConfiguration{.enabled = true,
                                                     .logbookPort = 12062,
                                                     .contestPort = 12063,
                                                     .styles = SpotBridgeConfiguration::defaultStyles()}));
    EXPECT_EQ(c.rotator, RotatorConfiguration());
    EXPECT_EQ(c.rotator.port, 4001);
    EXPECT_NE(c, AppConfiguration::firstRun());
    const AppConfiguration first = AppConfiguration::firstRun();
    EXPECT_EQ(first.connectionKind, AppConfiguration::ConnectionKind::Simulator);
    EXPECT_EQ(first.catPort, 15002);
    EXPECT_EQ(first.rigCtlPort, 14532);
}

TEST(AppConfigurationDecoding, NullTakesTheDefault)
{
    EXPECT_FALSE(decode(R"({"allowCATTransmit": null})").allowCATTransmit);
    EXPECT_TRUE(decode(R"({"superviseLegacyKIVO": null})").superviseLegacyKIVO);
    EXPECT_EQ(decode(R"({"spotBridge": null, "rotator": null})").spotBridge, SpotBridgeConfiguration::defaults());
}

TEST(AppConfigurationDecoding, ConnectionKindsAreReadByDisplayNameOnly)
{
    EXPECT_EQ(decode(R"({"connectionKind": "Local network"})").connectionKind, AppConfiguration::ConnectionKind::Local);
    EXPECT_EQ(decode(R"({"connectionKind": "Remote via supervised KIVO"})").connectionKind,
              AppConfiguration::ConnectionKind::LegacyKIVO);
    EXPECT_THROW(decode(R"({"connectionKind": "local"})"), DecodingError);
}

TEST(AppConfigurationDecoding, AWronglyTypedValueFailsTheWholeRecord)
{
    EXPECT_THROW(decode(R"({"catPort": 70000})"), DecodingError);
    EXPECT_THROW(decode(R"({"catPort": "5002"})"), DecodingError);
    EXPECT_THROW(decode(R"({"catPort": 5002.5})"), DecodingError);
    EXPECT_THROW(decode(R"({"catPort": -1})"), DecodingError);
    EXPECT_THROW(decode(R"({"allowCATTransmit": 1})"), DecodingError);
    EXPECT_THROW(decode(R"({"stationName": 7})"), DecodingError);
    EXPECT_THROW(decode(R"([])"), DecodingError);
    EXPECT_THROW(decode(R"({"catPort": 0})"), DecodingError);
    EXPECT_THROW(decode(R"({"spotBridge": {"enabled": true, "logbookPort": 0, "contestPort": 2, "styles": []}})"), DecodingError);
    EXPECT_THROW(decode(R"({"spotBridge": {"enabled": true, "logbookPort": 1, "contestPort": 0, "styles": []}})"), DecodingError);
    EXPECT_EQ(decode(R"({"catPort": 15002, "unknownKey": [1, 2]})").catPort, 15002);
    QJsonObject feed = RotatorConfiguration().toJson().toObject(), controller = feed;
    feed.insert("rumlogPort", 0);
    controller.insert("port", 0);
    const std::pair<QJsonObject, QString> ports[] = {{{{"radioPort", 0}}, "radioPort"}, {{{"legacyKIVOPort", 0}}, "legacyKIVOPort"},
                                                     {{{"rotator", feed}}, "rumlogPort"}, {{{"rotator", controller}}, "rotator.port"}};
    for (const auto &[record, named] : ports) {
        try {
            AppConfiguration::fromJson(record);
            ADD_FAILURE() << named.toStdString();
        } catch (const DecodingError &error) {
            EXPECT_EQ(error.message(), "Could not decode \"" + named + "\": the number is out of range.");
        }
    }
}

TEST(AppConfigurationDecoding, NestedRecordsMustBeComplete)
{
    EXPECT_THROW(decode(R"({"spotBridge": {"enabled": true, "logbookPort": 1, "contestPort": 2}})"), DecodingError);
    EXPECT_THROW(decode(R"({"spotBridge": {"enabled": true, "logbookPort": 1, "contestPort": 2,
                   "styles": ["other", {"priority": 2, "colorHex": "#64D2FF"}]}})"),
                 DecodingError);
    EXPECT_THROW(decode(R"({"spotBridge": {"enabled": true, "logbookPort": 1, "contestPort": 2,
                   "styles": ["Other", {"priority": 2, "colorHex": "#64D2FF", "lifetimeSeconds": 600}]}})"),
                 DecodingError);
    EXPECT_THROW(decode(R"({"rotator": {"enabled": true}})"), DecodingError);
}

TEST(AppConfigurationCoding, RoundTripsEveryField)
{
    AppConfiguration c = AppConfiguration::firstRun();
    c.radioHost = QStringLiteral("192.0.2.10");
    c.smartLinkEmail = QStringLiteral("op@example.org");
    c.remoteAgentBaseURL = QStringLiteral("https://station.example:8443/agent");
    c.allowCATTransmit = true;
    c.spotBridge.setStyle(SpotStyle(0, QStringLiteral("red"), 10), DXSpotCategory::Useless);
    c.spotBridge.styles.remove(DXSpotCategory::Other);
    c.rotator = RotatorConfiguration({.enabled = true,
                                      .name = QStringLiteral("Tower"),
                                      .host = QStringLiteral("dcu.local"),
                                      .port = 4002,
                                      .pollIntervalMilliseconds = 20,
                                      .connectAtLaunch = false,
                                      .homeGrid = QStringLiteral("jo62qm"),
                                      .rumlogPort = 12070,
                                      .automaticSource = RotatorAutomaticSource::Station,
                                      .automaticTurningEnabled = true,
                                      .minimumAutomaticTurnDegrees = 200,
                                      .enabledBands = {QStringLiteral("20m"), QStringLiteral("Other")},
                                      .bandOffsets = {{QStringLiteral("40m"), -15}},
                                      .bidirectionalBands = {QStringLiteral("10m")},
                                      .beamWidthDegrees = 0,
                                      .callsignDatabasePath = QStringLiteral("/home/op/grids.txt")});
    const QByteArray stored = QJsonDocument(c.toJson()).toJson();
    const AppConfiguration back = AppConfiguration::fromJson(QJsonDocument::fromJson(stored).object());
    EXPECT_EQ(back, c);
    // Strings are written even when empty; styles travel as an alternating array.
    const QJsonObject object = c.toJson();
    EXPECT_TRUE(object.value(QStringLiteral("smartLinkRadioSerial")).isString());
    EXPECT_TRUE(object.value(QStringLiteral("spotBridge")).toObject().value(QStringLiteral("styles")).isArray());
}

TEST(AppConfigurationCoding, OneRotatorSettingMakesConfigurationsUnequal)
{
    AppConfiguration a;
    AppConfiguration b;
    b.rotator.bidirectionalBands.insert(QStringLiteral("20m"));
    EXPECT_NE(a, b);
}

TEST(RotatorConfigurationRecord, InitializerNormalisesButDecodingKeepsValues)
{
    const RotatorConfiguration r({.enabled = true,
                                  .name = QStringLiteral("Rotor"),
                                  .host = QString(),
                                  .port = 4001,
                                  .pollIntervalMilliseconds = 20,
                                  .connectAtLaunch = true,
                                  .homeGrid = QStringLiteral("jo62"),
                                  .rumlogPort = 12064,
                                  .automaticSource = RotatorAutomaticSource::Country,
                                  .automaticTurningEnabled = false,
                                  .minimumAutomaticTurnDegrees = -3,
                                  .beamWidthDegrees = 0,
                                  .callsignDatabasePath = QString()});
    EXPECT_EQ(r.homeGrid, QStringLiteral("JO62"));
    EXPECT_EQ(r.pollIntervalMilliseconds, 100);
    EXPECT_EQ(r.minimumAutomaticTurnDegrees, 0);
    EXPECT_EQ(r.beamWidthDegrees, 1);
    QJsonObject stored = RotatorConfiguration().toJson().toObject();
    stored.insert(QStringLiteral("pollIntervalMilliseconds"), 20);
    stored.insert(QStringLiteral("homeGrid"), QStringLiteral("jo62"));
    const RotatorConfiguration decoded = RotatorConfiguration::fromJson(stored);
    EXPECT_EQ(decoded.pollIntervalMilliseconds, 20);
    EXPECT_EQ(decoded.homeGrid, QStringLiteral("jo62"));
    stored.insert(QStringLiteral("automaticSource"), QStringLiteral("dxcc"));
    EXPECT_THROW(RotatorConfiguration::fromJson(stored), DecodingError);
}

TEST(SpotStyles, InitializerClampsAndLookupFallsBackToDefaults)
{
    const SpotStyle low(0, QStringLiteral("red"), 10);
    EXPECT_EQ(low, SpotStyle(1, QStringLiteral("red"), 30));
    EXPECT_EQ(SpotStyle(9, QStringLiteral("#FFFFFF"), 100000).priority, 5);
    EXPECT_EQ(SpotStyle(9, QStringLiteral("#FFFFFF"), 100000).lifetimeSeconds, 86400);
    SpotBridgeConfiguration bridge{.styles = {}};
    EXPECT_EQ(bridge.style(DXSpotCategory::Useless), SpotStyle(1, QStringLiteral("#636366"), 180));
    bridge.setStyle(SpotStyle(2, QStringLiteral("#30D158"), 60), DXSpotCategory::Other);
    EXPECT_EQ(bridge.style(DXSpotCategory::Other), SpotStyle(2, QStringLiteral("#30D158"), 60));
    EXPECT_EQ(bridge.style(DXSpotCategory::Useful), SpotBridgeConfiguration::defaultStyles().value(DXSpotCategory::Useful));
    EXPECT_EQ(categories(SpotFeed::Contest),
              (QList<DXSpotCategory>{DXSpotCategory::NewMultiplier, DXSpotCategory::WorkedBefore,
                                     DXSpotCategory::Useful, DXSpotCategory::Useless, DXSpotCategory::Unknown}));
    EXPECT_FALSE(spotFeedFromRaw(QStringLiteral("logbook")).has_value());
    EXPECT_FALSE(dxSpotCategoryFromRaw(QStringLiteral("Other")).has_value());
}

TEST(FlexSpotRecord, RefusesACallsignThatCouldBreakTheRadioCommandLine)
{
    auto make = [](const QString &call) {
        return FlexSpot::make({.frequencyHz = 14025000,
                               .callsign = call,
                               .lifetimeSeconds = 600,
                               .priority = 2,
                               .colorHex = QStringLiteral("#0A84FF")});
    };
    EXPECT_EQ(make(QStringLiteral("  dl1abc/p \n")).callsign(), QStringLiteral("DL1ABC/P"));
    for (const QString &bad : {QStringLiteral("DL1ABC\nspot clear"), QStringLiteral("DL1\rABC"),
                               QStringLiteral("DL1|ABC"), QStringLiteral("DL1ÄBC"), QString(33, QLatin1Char('K')),
                               QStringLiteral("   ")}) {
        try {
            make(bad);
            ADD_FAILURE() << "accepted " << bad.toStdString();
        } catch (const KivoError &error) {
            EXPECT_EQ(error.message(), QStringLiteral("The spot callsign is invalid."));
        }
    }
    EXPECT_THROW(FlexSpot::make({.frequencyHz = 99999,
                                 .callsign = QStringLiteral("K1ABC"),
                                 .lifetimeSeconds = 600,
                                 .priority = 2}), KivoError);
}

TEST(FlexSpotRecord, SanitisesEveryOtherField)
{
    const FlexSpot spot = FlexSpot::make({.frequencyHz = 14025000,
                                          .callsign = QStringLiteral("K1ABC"),
                                          .mode = QStringLiteral("FT8\t"),
                                          .source = QStringLiteral(" "),
                                          .spotter = QStringLiteral("dl2xyz"),
                                          .comment = QStringLiteral("73 | good sig \U0001F600"),
                                          .timestamp = -5,
                                          .lifetimeSeconds = 10,
                                          .priority = 9,
                                          .colorHex = QStringLiteral("#ff453a")});
    EXPECT_EQ(spot.mode(), QStringLiteral("FT8"));
    EXPECT_EQ(spot.source(), QStringLiteral("RUMlogNG"));
    EXPECT_EQ(spot.spotter(), QStringLiteral("DL2XYZ"));
    EXPECT_EQ(spot.comment(), QStringLiteral("73   good sig"));
    EXPECT_EQ(spot.timestamp(), 0);
    EXPECT_EQ(spot.lifetimeSeconds(), 30);
    EXPECT_EQ(spot.priority(), 5);
    EXPECT_EQ(spot.colorHex(), QStringLiteral("#FF453A"));
    EXPECT_EQ(FlexSpot::make({.frequencyHz = 14025000,
                              .callsign = QStringLiteral("K1ABC"),
                              .lifetimeSeconds = 600,
                              .priority = 2,
                              .colorHex = QStringLiteral("#FF453")})
                  .colorHex(),
              QStringLiteral("#0A84FF"));
}
