#include "QuendKivoApp/rotator/RotatorFormRules.h"
#include "QuendKivoApp/rotator/RotatorMapRules.h"
#include "QuendKivoApp/rotator/RotatorPanelRules.h"
#include "support/QtPrinters.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace kivo;
using State = DCU1RotatorClient::State;

TEST(RotatorDial, TapBearingInThePanelsWideDial)
{
    const QSizeF area(406, 176); // dial 176 square, centre (203, 88), radius 88
    const struct { QPointF tap; std::optional<double> bearing; } cases[] = {
        {{203, 38}, 0.0}, {{253, 88}, 90.0}, {{203, 138}, 180.0}, {{153, 88}, 270.0},
        {{203.4, 88}, std::nullopt}, {{203, 0}, 0.0}, {{203, -0.1}, std::nullopt}, {{20, 88}, std::nullopt},
    };
    for (const auto &c : cases) {
        const auto bearing = RotatorPanelRules::tapBearing(area, c.tap);
        ASSERT_EQ(bearing.has_value(), c.bearing.has_value()) << c.tap.x() << "," << c.tap.y();
        if (bearing) {
            EXPECT_NEAR(*bearing, *c.bearing, 1e-9);
        }
    }
}

TEST(RotatorDial, NeedleTakesTheShortWayAndAccumulates)
{
    const struct { double shown, azimuth, next; } cases[] = {
        {350, 10, 370}, {10, 350, -10}, {10, 190, 190}, {190, 10, 10}, {370, 20, 380}, {-10, 180, -180},
    };
    for (const auto &c : cases)
        EXPECT_DOUBLE_EQ(RotatorPanelRules::nextShownAzimuth(c.shown, c.azimuth), c.next) << c.shown << "→" << c.azimuth;
}

TEST(RotatorDial, Readouts)
{
    EXPECT_EQ(RotatorPanelRules::degreesText(7.4), "007°");
    EXPECT_EQ(RotatorPanelRules::degreesText(359.6), "360°");
    EXPECT_EQ(RotatorPanelRules::degreesText(0), "000°");
    EXPECT_EQ(RotatorPanelRules::accessibilityValue(12.5), "13 degrees");
    EXPECT_EQ(RotatorPanelRules::accessibilityValue(359.7), "360 degrees");
    EXPECT_EQ(RotatorPanelRules::accessibilityValue(std::nullopt), "Unavailable");
    EXPECT_EQ(RotatorPanelRules::readoutCaption(true, ""), "MOVING");
    EXPECT_EQ(RotatorPanelRules::readoutCaption(true, "CW"), "MOVING CW");
    EXPECT_EQ(RotatorPanelRules::readoutCaption(false, "CW"), "ANTENNA");
    EXPECT_EQ(RotatorFormRules::wholeDegrees(45.4), "45°");
    EXPECT_EQ(RotatorFormRules::wholeDegrees(359.5), "360°");
}

TEST(RotatorPanel, ConnectionBadgePerState)
{
    const struct { State state; bool moving; const char *direction; const char *label; bool ready; } cases[] = {
        {State::Stopped, false, "", "OFFLINE", false},       {State::Connecting, false, "", "CONNECTING", false},
        {State::Connected, false, "CW", "READY", true},      {State::Connected, true, "CCW", "MOVING CCW", false},
        {State::Connected, true, "", "MOVING", false},       {State::Reconnecting, true, "CW", "RETRYING", false},
        {State::Failed, false, "", "ERROR", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(RotatorPanelRules::connectionLabel(c.state, c.moving, c.direction), c.label);
        EXPECT_EQ(RotatorPanelRules::connectionIsReady(c.state, c.moving), c.ready) << c.label;
        EXPECT_EQ(RotatorPanelRules::connectionSymbol(c.state) == "location.north.circle.fill",
                  c.state == State::Connected);
    }
}

TEST(RotatorPanel, TargetDetailAndBand)
{
    const struct { std::optional<double> km; const char *detail; } cases[] = {
        {1234.5, "Maidenhead grid · 1235 km"}, {0.4, "Maidenhead grid · 0 km"},
        {2.5, "Maidenhead grid · 3 km"},       {12345, "Maidenhead grid · 12345 km"},
        {std::nullopt, "Maidenhead grid"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(RotatorPanelRules::targetDetail("Maidenhead grid", c.km), c.detail);
    EXPECT_EQ(RotatorPanelRules::bandText("Other", "20m"), "20m");
    EXPECT_EQ(RotatorPanelRules::bandText("Other", "Other"), "Other");
    EXPECT_EQ(RotatorPanelRules::bandText("40m", "20m"), "40m");
}

TEST(RotatorMap, IdentityFramingLabelAndTooltip)
{
    using RotatorMapRules::identity;
    EXPECT_EQ(identity(std::nullopt), "world");
    EXPECT_EQ(identity(GeoCoordinate{10.00001, 20.00001}), "10.000,20.000");
    EXPECT_EQ(identity(GeoCoordinate{9.99999, 19.99999}), "10.000,20.000");
    EXPECT_EQ(identity(GeoCoordinate{10.0006, 20.0}), "10.001,20.000");
    EXPECT_EQ(identity(GeoCoordinate{0, -0.0001}), "0.000,-0.000");
    EXPECT_EQ(RotatorMapRules::initialRegion(GeoCoordinate{80, 179}),
              (RotatorMapRules::Region{{80, 179}, 18, 26}));
    // The panel's map is 406 × 190: the world fits by its height, a target's region by its latitudes.
    EXPECT_DOUBLE_EQ(RotatorMapRules::fittedScale({{0, 0}, 180, 360}, {406, 190}), 190.0 / 180);
    EXPECT_DOUBLE_EQ(RotatorMapRules::fittedScale({{50, 10}, 18, 26}, {406, 190}), 190.0 / 18);
    EXPECT_EQ(RotatorMapRules::markerLabel("No target"), "Target");
    EXPECT_EQ(RotatorMapRules::markerLabel(""), "");
    EXPECT_EQ(RotatorMapRules::tooltip(false), "World map — drag to pan and scroll to zoom");
}

// No outline ring may span the flat map: one that did filled a band across
// the world with land and sea swapped, or left Antarctica as sea.
TEST(RotatorMap, WorldOutlinesPutLandAndSeaWhereTheyAre)
{
    QFile file(QStringLiteral(":/rotator/world-110m.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QPainterPath land = RotatorMapRules::parseWorldOutlines(file.readAll()).land;
    const struct { const char *place; double latitude, longitude; bool land; } cases[] = {
        {"Alaska", 67, -150, true},        {"Northwest Territories", 66, -115, true}, {"Greenland", 72, -40, true},
        {"Lapland", 67, 27, true},          {"Siberia", 67, 100, true},                {"Chukotka", 66, -175, true},
        {"South Pole", -89, 0, true},      {"Victoria", -37, 145, true},              {"Norwegian Sea", 67, 0, false},
        {"South Atlantic", -16.5, -20, false}, {"South Pacific", -16.5, -150, false}, {"Southern Ocean", -60, 0, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(land.contains(QPointF(c.longitude, -c.latitude)), c.land) << c.place;
}

TEST(RotatorForm, NumbersAreClampedIntoTheirRanges)
{
    using RotatorFormRules::parsedNumber;
    const struct { const char *text; RotatorFormRules::Range range; std::optional<qint64> stored; } cases[] = {
        {"70000", RotatorFormRules::portRange, std::nullopt}, {"-1", RotatorFormRules::portRange, std::nullopt},
        {"4001", RotatorFormRules::portRange, 4001},   {"abc", RotatorFormRules::portRange, std::nullopt},
        {"500", RotatorFormRules::offsetRange, 180},   {"-500", RotatorFormRules::offsetRange, -180},
        {"0", RotatorFormRules::offsetRange, 0},       {"-7", RotatorFormRules::beamWidthRange, 1},
        {"1,000", RotatorFormRules::beamWidthRange, 90}, {"200", RotatorFormRules::minimumChangeRange, 180},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parsedNumber(c.text, c.range), c.stored) << c.text;
}

TEST(RotatorForm, HomeGridMarkAndButtonEnabling)
{
    for (const char *grid : {"fn42", " FN42aa ", "JO62QM"})
        EXPECT_TRUE(RotatorFormRules::homeGridIsValid(grid)) << grid;
    for (const char *grid : {"", "FN42A", "FN42AAB", "ZZ00"})
        EXPECT_FALSE(RotatorFormRules::homeGridIsValid(grid)) << grid;

    const struct { std::optional<double> bearing; State state; RotatorFormRules::EntryRowEnables form;
                   RotatorPanelRules::ButtonEnables panel; } cases[] = {
        {std::nullopt, State::Connected, {false, false, true}, {true, false, true}},
        {45.0, State::Connected, {true, true, true}, {true, true, true}},
        {45.0, State::Reconnecting, {false, true, false}, {false, false, false}},
        {std::nullopt, State::Stopped, {false, false, false}, {false, false, false}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(RotatorFormRules::entryRowEnables(c.bearing, c.state), c.form);
        EXPECT_EQ(RotatorPanelRules::buttonEnables(c.state, c.bearing), c.panel);
    }
    for (State state : {State::Stopped, State::Failed})
        EXPECT_TRUE(RotatorFormRules::offersConnect(state));
    for (State state : {State::Connecting, State::Connected, State::Reconnecting})
        EXPECT_FALSE(RotatorFormRules::offersConnect(state));
}
