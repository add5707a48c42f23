#include "KivoCore/support/JsonFields.h"
#include "KivoCore/station/RotatorGeometry.h"

#include "support/QtPrinters.h"

#include <QJsonObject>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace kivo;

namespace {
constexpr double tolerance = 1e-9;
constexpr double quarterCircumferenceKm = 6371 * 3.141592653589793 / 2;

const GeoCoordinate berlin{52.520833333333336, 13.375};    // JO62QM
const GeoCoordinate hartford{41.72916666666667, -72.70833333333333}; // FN31PR

void expectNear(const std::optional<GeoCoordinate> &actual, double latitude, double longitude)
{
    ASSERT_TRUE(actual.has_value());
    EXPECT_NEAR(actual->latitude, latitude, tolerance);
    EXPECT_NEAR(actual->longitude, longitude, tolerance);
}
} // namespace

TEST(MaidenheadLocator, GivesTheCentreOfTheSquare)
{
    expectNear(MaidenheadLocator::coordinate(QStringLiteral("aa00")), -89.5, -179.0);
    expectNear(MaidenheadLocator::coordinate(QStringLiteral("  AA00 \n")), -89.5, -179.0);
    expectNear(MaidenheadLocator::coordinate(QStringLiteral("AA00AA")), -90 + 1.0 / 48, -180 + 1.0 / 24);
    expectNear(MaidenheadLocator::coordinate(QStringLiteral("jo62qm")), berlin.latitude, berlin.longitude);
    expectNear(MaidenheadLocator::coordinate(QStringLiteral("JO62QM55")), 52.5 + 5.0 / 240 + 1.0 / 480,
               12.0 + 16.0 / 12 + 5.0 / 120 + 1.0 / 240);
    expectNear(MaidenheadLocator::coordinate(QStringLiteral("RR99XX99XX")), 90 - 1.0 / 11520, 180 - 1.0 / 5760);
}

TEST(MaidenheadLocator, RefusesMalformedLocators)
{
    for (const char *text : {"AA0", "AA00A", "SA00", "AA00Y0", "AAAA", "AA00AA00AA00", "", "AA00AA0A", "AA00AA00AY",
                             "A A00"}) {
        EXPECT_EQ(MaidenheadLocator::coordinate(QLatin1String(text)), std::nullopt) << text;
    }
    EXPECT_EQ(MaidenheadLocator::coordinate(QStringLiteral("AA0\u0661")), std::nullopt);
}

TEST(RotatorGeometry, FoldsAngles)
{
    EXPECT_DOUBLE_EQ(RotatorGeometry::normalized(-90), 270);
    EXPECT_DOUBLE_EQ(RotatorGeometry::normalized(720), 0);
    EXPECT_DOUBLE_EQ(RotatorGeometry::normalized(359.9), 359.9);
    EXPECT_DOUBLE_EQ(RotatorGeometry::normalized(-720.5), 359.5);
    EXPECT_TRUE(std::signbit(RotatorGeometry::normalized(-0.0)));
}

TEST(RotatorGeometry, ShortestDifferenceIsSignedClockwise)
{
    EXPECT_DOUBLE_EQ(RotatorGeometry::shortestDifference(350, 10), 20);
    EXPECT_DOUBLE_EQ(RotatorGeometry::shortestDifference(10, 350), -20);
    EXPECT_DOUBLE_EQ(RotatorGeometry::shortestDifference(0, 180), 180);
    EXPECT_DOUBLE_EQ(RotatorGeometry::shortestDifference(-30, 390), 60);
}

TEST(RotatorGeometry, AutomaticTurnNeedsMoreThanTheThreshold)
{
    EXPECT_FALSE(RotatorGeometry::shouldAutomaticallyTurn(100, 101, 0));
    EXPECT_TRUE(RotatorGeometry::shouldAutomaticallyTurn(100, 101.5, 0));
    EXPECT_FALSE(RotatorGeometry::shouldAutomaticallyTurn(100, 105, 5));
    EXPECT_TRUE(RotatorGeometry::shouldAutomaticallyTurn(100, 105.1, 5));
    EXPECT_TRUE(RotatorGeometry::shouldAutomaticallyTurn(359, 3, 2)); // across north
    EXPECT_FALSE(RotatorGeometry::shouldAutomaticallyTurn(359.5, 0.5, 0.5));
}

TEST(RotatorGeometry, BearingAndDistanceBetweenPlaces)
{
    EXPECT_NEAR(RotatorGeometry::initialBearing({0, 0}, {0, 90}), 90, tolerance);
    EXPECT_NEAR(RotatorGeometry::initialBearing({0, 0}, {90, 0}), 0, tolerance);
    EXPECT_NEAR(RotatorGeometry::initialBearing({0, 0}, {0, -90}), 270, tolerance);
    EXPECT_NEAR(RotatorGeometry::distanceKilometers({0, 0}, {0, 90}), quarterCircumferenceKm, 1e-6);
    EXPECT_NEAR(RotatorGeometry::distanceKilometers({0, 0}, {90, 0}), quarterCircumferenceKm, 1e-6);

    EXPECT_NEAR(RotatorGeometry::initialBearing(berlin, hartford), 296.0874561694693, 1e-6);
    EXPECT_NEAR(RotatorGeometry::initialBearing(hartford, berlin), 47.07606074888639, 1e-6);
    EXPECT_NEAR(RotatorGeometry::distanceKilometers(berlin, hartford), 6226.63675844274, 1e-6);

    EXPECT_EQ(RotatorGeometry::initialBearing(berlin, berlin), 0);
    EXPECT_EQ(RotatorGeometry::distanceKilometers(berlin, berlin), 0);
}

TEST(RotatorGeometry, DestinationFollowsTheGreatCircle)
{
    const auto reached = RotatorGeometry::destination(berlin, RotatorGeometry::initialBearing(berlin, hartford),
                                                      RotatorGeometry::distanceKilometers(berlin, hartford));
    EXPECT_NEAR(reached.latitude, hartford.latitude, 1e-6);
    EXPECT_NEAR(reached.longitude, hartford.longitude, 1e-6);

    // Eastwards across the date line the longitude wraps to the west.
    const auto across = RotatorGeometry::destination({0, 179}, 90, 222.39);
    EXPECT_NEAR(across.latitude, 0, 1e-9);
    EXPECT_NEAR(across.longitude, -179.0, 1e-3);
    for (double bearing = 0; bearing < 360; bearing += 15) {
        const auto point = RotatorGeometry::destination({10, 179.5}, bearing, 5000);
        EXPECT_LE(point.longitude, 180);
        EXPECT_GE(point.longitude, -180);
    }
}

TEST(RotatorGeometry, DialPointsBecomeBearings)
{
    using RotatorGeometry::bearingForDialPoint;
    EXPECT_NEAR(*bearingForDialPoint(100, 50, 100, 100, 60), 0, tolerance);  // up
    EXPECT_NEAR(*bearingForDialPoint(150, 100, 100, 100, 60), 90, tolerance); // right
    EXPECT_NEAR(*bearingForDialPoint(100, 150, 100, 100, 60), 180, tolerance);
    EXPECT_NEAR(*bearingForDialPoint(50, 100, 100, 100, 60), 270, tolerance);
    EXPECT_NEAR(*bearingForDialPoint(130, 70, 100, 100, 60), 45, tolerance);
    EXPECT_TRUE(bearingForDialPoint(160, 100, 100, 100, 60).has_value()); // on the rim

    EXPECT_EQ(bearingForDialPoint(100.4, 100, 100, 100, 60), std::nullopt); // too near the centre
    EXPECT_EQ(bearingForDialPoint(160.1, 100, 100, 100, 60), std::nullopt);
    EXPECT_EQ(bearingForDialPoint(110, 100, 100, 100, 0), std::nullopt);
    EXPECT_EQ(bearingForDialPoint(110, 100, 100, 100, -5), std::nullopt);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(bearingForDialPoint(nan, 100, 100, 100, 60), std::nullopt);
    EXPECT_EQ(bearingForDialPoint(110, 100, inf, 100, 60), std::nullopt);
    EXPECT_EQ(bearingForDialPoint(110, 100, 100, 100, inf), std::nullopt);
}

TEST(GeoCoordinate, CodesBothMembersUnchanged)
{
    const GeoCoordinate point{123.5, -200};
    EXPECT_EQ(GeoCoordinate::fromJson(point.toJson()), point);
    EXPECT_THROW(GeoCoordinate::fromJson(QJsonObject{{QStringLiteral("latitude"), 1.0}}), DecodingError);
}
