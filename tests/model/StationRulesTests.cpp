// The station services' rules as the operator sees them: bands, rotator
// targets, the RUMlog feed's choices, spot and propagation states.

#include "QuendKivoApp/model/BandPlan.h"
#include "QuendKivoApp/model/RotatorFeedRules.h"
#include "QuendKivoApp/model/RotatorTarget.h"
#include "QuendKivoApp/model/StationStatusTexts.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace kivo;
using Kind = RotatorTargetResolution::Kind;

TEST(StationRules, CurrentBandPrefersTheAgentThenTheBandPlan)
{
    const auto agent = [](const char *band) {
        RemoteStationStatus status;
        status.band = QString::fromUtf8(band);
        return std::optional(status);
    };
    const auto radio = [](qint64 hz) { return std::optional(RadioSnapshot(hz, "USB", true, false, "A", "M")); };
    const struct {
        std::optional<RemoteStationStatus> station;
        std::optional<RadioSnapshot> snapshot;
        const char *band;
    } cases[] = {
        {agent("20m"), radio(7074000), "20m"},   {agent(" 40 "), std::nullopt, "40m"},
        {agent("70CM"), std::nullopt, "70cm"},   {agent("--"), radio(14074000), "20m"},
        {agent("  "), radio(14074000), "20m"},   {agent("２０"), std::nullopt, "２０"},
        {agent("VHF"), std::nullopt, "VHF"},     {std::nullopt, std::nullopt, "Other"},
        {std::nullopt, radio(1800000), "160m"},  {std::nullopt, radio(2100000), "Other"},
        {std::nullopt, radio(451000000), "Other"}, {std::nullopt, radio(-14074000), "Other"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(currentBand(c.station, c.snapshot), QString::fromUtf8(c.band)) << c.band;
}

TEST(StationRules, TypedTargetsResolveAsBearingGridOrCall)
{
    const QString file = QStringLiteral("K1ABC,FN31\r\nDL1XYZ , JO62\u2028\n\nk1abc,fn42\nW2BAD,FN20,x\nW3NOG,ZZ99\n");
    const struct {
        const char *input;
        const char *home;
        Kind kind;
        const char *label;
        const char *source;
        std::optional<double> bearing;
    } cases[] = {
        {"  ", "FN42", Kind::Empty, "", "Enter a bearing, grid, or call", std::nullopt},
        {"360", "", Kind::Bearing, "Manual", "Direct bearing", 0.0},
        {"45\u00B0", "FN42", Kind::Bearing, "Manual", "Direct bearing", 45.0},
        {"400", "FN42", Kind::NotFound, "400", "Call not found in the configured grid database", std::nullopt},
        {"jo62", "FN42", Kind::Grid, "JO62", "Maidenhead grid", std::nullopt},
        {"JO62", "", Kind::NotFound, "JO62", "Call not found in the configured grid database", std::nullopt},
        {"k1abc", "FN31", Kind::Call, "K1ABC", "Call grid FN42", std::nullopt},
        {"DL1XYZ", "FN42", Kind::Call, "DL1XYZ", "Call grid JO62", std::nullopt},
        {"W2BAD", "FN42", Kind::NotFound, "W2BAD", "Call not found in the configured grid database", std::nullopt},
        {"W3NOG", "FN42", Kind::NotFound, "W3NOG", "Call not found in the configured grid database", std::nullopt},
    };
    for (const auto &c : cases) {
        const RotatorTargetResolution r = resolveRotatorTarget(QString::fromUtf8(c.input), c.home, file);
        EXPECT_EQ(r.kind, c.kind) << c.input;
        EXPECT_EQ(r.label, QString::fromUtf8(c.label)) << c.input;
        EXPECT_EQ(r.source, QString::fromUtf8(c.source)) << c.input;
        EXPECT_EQ(r.distanceKilometers.has_value(), c.kind == Kind::Grid || c.kind == Kind::Call) << c.input;
        if (c.bearing) {
            EXPECT_EQ(r.bearing, c.bearing) << c.input;
        }
        EXPECT_EQ(r.coordinate.has_value(), r.kind != Kind::Empty && r.kind != Kind::NotFound && *c.home)
            << c.input;
    }
    EXPECT_EQ(resolveRotatorTarget("K1ABC", "FN42", std::nullopt).kind, Kind::NotFound);
    EXPECT_EQ(turningStatus(std::nullopt, 7.4), "Turning to 007\u00B0");
}

TEST(StationRules, FeedBearingFollowsTheSourceWithItsFallbacks)
{
    using S = RotatorAutomaticSource;
    RUMlogRotatorUpdate full;
    full.countryBearing = 10;
    full.stationBearing = 20;
    RUMlogRotatorUpdate commanded = full;
    commanded.commandedBearing = 30;
    const RUMlogRotatorUpdate none;
    RUMlogRotatorUpdate countryOnly;
    countryOnly.countryBearing = 10;
    RUMlogRotatorUpdate stationOnly;
    stationOnly.stationBearing = 20;
    const struct {
        RUMlogRotatorUpdate update;
        S source;
        std::optional<double> grid;
        std::optional<RotatorFeedBearing> chosen;
    } cases[] = {
        {commanded, S::Country, 40, RotatorFeedBearing{30, "RUMlog command"}},
        {full, S::Station, 40, RotatorFeedBearing{20, "RUMlog station"}},
        {none, S::Station, 40, RotatorFeedBearing{40, "RUMlog station"}},
        {countryOnly, S::Station, std::nullopt, RotatorFeedBearing{10, "RUMlog DXCC fallback"}},
        {full, S::Country, 40, RotatorFeedBearing{10, "RUMlog DXCC"}},
        {stationOnly, S::Country, 40, RotatorFeedBearing{20, "RUMlog station fallback"}},
        {none, S::Country, 40, RotatorFeedBearing{40, "RUMlog station fallback"}},
        {none, S::Country, std::nullopt, std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(chooseRotatorFeedBearing(c.update, c.source, c.grid), c.chosen);
}

TEST(StationRules, BandRulesAndTheAutomaticTurnDecision)
{
    RotatorConfiguration rotator;
    rotator.bandOffsets = {{"20m", 20}};
    rotator.bidirectionalBands = {"40m", "20m"};
    EXPECT_EQ(applyRotatorBandRules(350, "20m", rotator, std::nullopt), 10);
    EXPECT_EQ(applyRotatorBandRules(200, "40m", rotator, 10.0), 20);
    EXPECT_EQ(applyRotatorBandRules(100, "40m", rotator, 10.0), 100);

    using namespace std::chrono_literals;
    const std::chrono::milliseconds now = 100s;
    const AutomaticRotatorCommand recent{90.3, now - 29s};
    EXPECT_FALSE(automaticTurnDue(std::nullopt, 90, 0, std::nullopt, now));
    EXPECT_FALSE(automaticTurnDue(85, 90, 10, std::nullopt, now));
    EXPECT_TRUE(automaticTurnDue(85, 90, 0, std::nullopt, now));
    EXPECT_TRUE(automaticTurnDue(10, 91, 0, recent, now));
}

TEST(StationRules, SpotAndPropagationStates)
{
    using K = AppConfiguration::ConnectionKind;
    RemoteStationStatus spots;
    spots.supportedCommands = {"add_spot"};
    EXPECT_TRUE(agentLacksSpotSupport(K::RemoteAgent, std::nullopt));
    EXPECT_FALSE(agentLacksSpotSupport(K::RemoteAgent, spots));
    EXPECT_FALSE(agentLacksSpotSupport(K::Local, std::nullopt));
    EXPECT_EQ(spotRejectedStatus(true, "Could not AUTHENTICATE."), "Listening \u2014 agent authentication failed");
    EXPECT_EQ(spotRejectedStatus(true, "x"), "Listening \u2014 FLEX rejected last spot");

    const QDateTime now = QDateTime::fromSecsSinceEpoch(1000000, Qt::UTC);
    const auto report = [&](std::optional<qint64> age) {
        PropagationConditionsSnapshot r;
        if (age)
            r.updatedAt = now.addSecs(-*age);
        return std::optional(r);
    };
    EXPECT_EQ(propagationStatusAfterFetch(report(10800), false, now), "LIVE");
    EXPECT_EQ(propagationStatusAfterFetch(report(10801), false, now), "STALE");
    EXPECT_EQ(propagationStatusAfterFetch(report(-60), false, now), "LIVE");
    EXPECT_EQ(propagationStatusAfterFetch(report(std::nullopt), true, now), "LIVE");
    EXPECT_EQ(propagationStatusAfterFetch(std::nullopt, false, now), "OFFLINE");
}
