#include "KivoCore/station/RotatorDatagram.h"

#include "support/QtPrinters.h"
#include "support/ThrownMessage.h"

#include <gtest/gtest.h>

using namespace kivo;
using kivo::test::thrownMessage;

namespace {
const QString noBearing = QStringLiteral("RUMlog rotator datagram has no bearing or valid grid.");

std::optional<QString> parseError(const QByteArray &datagram)
{
    return thrownMessage([&] { RUMlogRotatorParser::parse(datagram); });
}

std::optional<double> countryBearingOf(const QByteArray &value)
{
    return RUMlogRotatorParser::parse("bearing=" + value + ";grid=JO62").countryBearing;
}
} // namespace

TEST(RUMlogRotatorParser, ReadsAJsonObjectWithKeysInAnyCase)
{
    const auto update = RUMlogRotatorParser::parse(
        R"({"HdgToDXCC": 123.5, "showndxcc": "dl", "ShownStation": "dl1abc", "CurrentBand": "20M",
            "hdgToStation": "45", "RotorCommand": 1, "grid": "jo62qm"})");
    EXPECT_EQ(update, (RUMlogRotatorUpdate{QStringLiteral("DL1ABC"), QStringLiteral("DL"), QStringLiteral("JO62QM"),
                                           QStringLiteral("20m"), 123.5, 45.0, 1.0}));
}

TEST(RUMlogRotatorParser, AJsonObjectWithoutBearingOrGridFailsAtOnce)
{
    // As key=value text this would carry a bearing; a JSON object decides alone.
    EXPECT_EQ(parseError(R"({"call": "DL1ABC", "note": "bearing=90"})"), noBearing);
    // A null counts as no value, so the next alternative name supplies the field.
    const auto update = RUMlogRotatorParser::parse(R"({"shownstation": null, "dxcall": "k1abc", "azimuth": 10})");
    EXPECT_EQ(update.callsign, QStringLiteral("K1ABC"));
    // A JSON array is not an object: read as text it has no pairs.
    EXPECT_EQ(parseError("[1, 2]"), noBearing);
}

TEST(RUMlogRotatorParser, ReadsXmlAttributesAndLeafElements)
{
    const auto update = RUMlogRotatorParser::parse(
        "<RUMlog RotorCommand=\"275\"><ShownStation>w1aw</ShownStation>"
        "<info><HdgToDXCC>290.5</HdgToDXCC></info><wrap>text<currentband>40M</currentband></wrap></RUMlog>");
    EXPECT_EQ(update.commandedBearing, 275.0);
    EXPECT_EQ(update.callsign, QStringLiteral("W1AW"));
    EXPECT_EQ(update.countryBearing, 290.5);
    EXPECT_EQ(update.band, QStringLiteral("40m"));
    EXPECT_EQ(update.stationBearing, std::nullopt);
}

TEST(RUMlogRotatorParser, XmlElementsReplaceEarlierAttributes)
{
    const auto update = RUMlogRotatorParser::parse("<r azimuth=\"10\"><azimuth>20</azimuth></r>");
    EXPECT_EQ(update.commandedBearing, 20.0);
    const auto external = RUMlogRotatorParser::parse(
        "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r><call>K1&x;</call><azimuth>20</azimuth></r>");
    EXPECT_EQ(external.callsign, QStringLiteral("K1"));
}

TEST(RUMlogRotatorParser, ReadsKeyValueText)
{
    const auto update = RUMlogRotatorParser::parse("call=dl1abc;bearing = 123.5\u00B0 \nBAND=20M,\tgrid\t=jo62");
    EXPECT_EQ(update.callsign, QStringLiteral("DL1ABC"));
    EXPECT_EQ(update.countryBearing, 123.5);
    EXPECT_EQ(update.band, QStringLiteral("20m"));
    EXPECT_EQ(update.grid, QStringLiteral("JO62"));
}

TEST(RUMlogRotatorParser, KeyValueTextKeepsTheRulesOfItsPieces)
{
    // Later pieces replace earlier ones; a piece without exactly two parts is ignored.
    auto update = RUMlogRotatorParser::parse("azimuth=10;azimuth=20;call;dxcall=;=heading=30");
    EXPECT_EQ(update.commandedBearing, 20.0);
    EXPECT_EQ(update.callsign, QString());
    // "=heading=30" drops its empty first part and reads as heading=30.
    update = RUMlogRotatorParser::parse("=heading=30");
    EXPECT_EQ(update.commandedBearing, 30.0);
    update = RUMlogRotatorParser::parse("call=a==b;heading=1");
    EXPECT_EQ(update.callsign, QStringLiteral("A==B")); // split once only
    // A carriage return is not trimmed from a text value.
    update = RUMlogRotatorParser::parse("call=k1abc\r\nheading=1\r\n");
    EXPECT_EQ(update.callsign, QStringLiteral("K1ABC\r"));
    EXPECT_EQ(update.commandedBearing, 1.0);
}

TEST(RUMlogRotatorParser, UsesTheFirstNonEmptyAlternativeName)
{
    auto update = RUMlogRotatorParser::parse("call=c;shownstation=;dxcall=d;heading=1;rotorazimuth=2");
    EXPECT_EQ(update.callsign, QStringLiteral("D"));
    EXPECT_EQ(update.commandedBearing, 2.0);
    update = RUMlogRotatorParser::parse("bearing=1;dxccbearing=2;headingtostation=3;stationbearing=4");
    EXPECT_EQ(update.countryBearing, 2.0);
    EXPECT_EQ(update.stationBearing, 3.0);
    update = RUMlogRotatorParser::parse("locator=jo62;showndxcclocation=fn31;dxcc=dl;showndxcc=;heading=1");
    EXPECT_EQ(update.grid, QStringLiteral("FN31"));
    EXPECT_EQ(update.countryCode, QStringLiteral("DL"));
}

TEST(RUMlogRotatorParser, BearingsAreFoldedOrDropped)
{
    EXPECT_EQ(countryBearingOf("360"), 0.0);
    EXPECT_EQ(countryBearingOf("359.9"), 359.9);
    EXPECT_EQ(countryBearingOf("0"), 0.0);
    EXPECT_EQ(countryBearingOf(" 90\u00B0"), 90.0);
    for (const char *text : {"360.5", "-1", "north", "nan", "inf", "-inf", "1e300", "", "0x10", "9 0"})
        EXPECT_EQ(countryBearingOf(text), std::nullopt) << text;
    EXPECT_EQ(RUMlogRotatorParser::parse(R"({"heading": 1e300, "grid": "JO62"})").commandedBearing, std::nullopt);
}

TEST(RUMlogRotatorParser, NeedsABearingOrAValidGrid)
{
    EXPECT_EQ(parseError(QByteArray()), noBearing);
    EXPECT_EQ(parseError("grid=ZZ99"), noBearing);
    EXPECT_EQ(parseError("bearing=400;call=K1ABC"), noBearing);
    const auto update = RUMlogRotatorParser::parse("grid=jo62qm");
    EXPECT_EQ(update.countryBearing, std::nullopt);
    EXPECT_EQ(update.stationBearing, std::nullopt);
    EXPECT_EQ(update.commandedBearing, std::nullopt);
    EXPECT_EQ(update.grid, QStringLiteral("JO62QM"));
}

TEST(RUMlogRotatorParser, RefusesBytesThatAreNoText)
{
    EXPECT_EQ(parseError(QByteArray("heading=1\xff\xfe", 11)),
              QStringLiteral("RUMlog sent an unreadable rotator datagram."));
}

TEST(RUMlogRotatorUpdate, KeepsAStableLabelWhileTheBearingHolds)
{
    const RUMlogRotatorUpdate named{QStringLiteral("DL1ABC"), QStringLiteral("DL"), {}, {}, 120.0, {}, {}};
    EXPECT_EQ(named.stableLabel(QStringLiteral("K1ABC"), 120.0, 120.0, QStringLiteral("Target")),
              QStringLiteral("DL1ABC"));

    const RUMlogRotatorUpdate country{{}, QStringLiteral("DL"), {}, {}, 120.0, {}, {}};
    EXPECT_EQ(country.stableLabel(QStringLiteral("K1ABC"), 120.0, 120.8, QStringLiteral("Target")),
              QStringLiteral("K1ABC"));
    EXPECT_EQ(country.stableLabel(QStringLiteral("K1ABC"), 359.5, 0.4, QStringLiteral("Target")),
              QStringLiteral("K1ABC"));
    EXPECT_EQ(country.stableLabel(QStringLiteral("K1ABC"), 120.0, 121.5, QStringLiteral("Target")),
              QStringLiteral("DL"));
    EXPECT_EQ(country.stableLabel(QStringLiteral("K1ABC"), std::nullopt, 120.0, QStringLiteral("Target")),
              QStringLiteral("DL"));

    const RUMlogRotatorUpdate bare{{}, {}, {}, {}, 120.0, {}, {}};
    EXPECT_EQ(bare.stableLabel(QStringLiteral("K1ABC"), 120.0, 121.5, QStringLiteral("Target")),
              QStringLiteral("Target"));
    EXPECT_EQ(bare.stableLabel(QString(), 120.0, 120.0, QStringLiteral("Target")), QStringLiteral("Target"));
}
