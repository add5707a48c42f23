#include "KivoCore/station/DXSpot.h"
#include "KivoCore/support/InternetDateTime.h"
#include "KivoCore/support/KivoError.h"

#include "support/QtPrinters.h"
#include "support/ThrownMessage.h"

#include <QDateTime>
#include <gtest/gtest.h>

using namespace kivo;
using kivo::test::thrownMessage;

namespace {

const QString noFrequency = QStringLiteral("RUMlog spot has no valid frequency.");
const QString invalidCallsign = QStringLiteral("The spot callsign is invalid.");
const QString invalidFrequency = QStringLiteral("The frequency is invalid.");

QByteArray spotXml(const QString &inner)
{
    return (QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><spot>") + inner + QStringLiteral("</spot>"))
        .toUtf8();
}

QByteArray spotWith(const QString &extra)
{
    return spotXml(QStringLiteral("<frequency>14025.5</frequency><dxcall>dl1abc</dxcall>") + extra);
}

FlexSpot makeSpot(const QString &callsign = QStringLiteral("DL1ABC"), const QString &comment = {},
                  const QString &color = QStringLiteral("#FF453A"), qint64 frequencyHz = 14025500)
{
    return FlexSpot::make({.frequencyHz = frequencyHz,
                           .callsign = callsign,
                           .mode = QStringLiteral("CW"),
                           .source = QStringLiteral("RUMlogNG Logbook"),
                           .spotter = QStringLiteral("k1xyz"),
                           .comment = comment,
                           .timestamp = 1714564800,
                           .lifetimeSeconds = 600,
                           .priority = 3,
                           .colorHex = color});
}

} // namespace

// ---- FLEX spot records (the rest is covered with the configuration) -----

TEST(FlexSpotLimits, FrequencyBoundsAreInclusiveAndCommentsAreCut)
{
    EXPECT_EQ(thrownMessage([] { makeSpot(QStringLiteral("DL1ABC"), {}, {}, 99999); }), invalidFrequency);
    EXPECT_EQ(thrownMessage([] { makeSpot(QStringLiteral("DL1ABC"), {}, {}, 60000001); }), invalidFrequency);
    EXPECT_EQ(thrownMessage([] { makeSpot(QStringLiteral("DL1ABC"), {}, {}, 100000); }), std::nullopt);
    EXPECT_EQ(thrownMessage([] { makeSpot(QStringLiteral("DL1ABC"), {}, {}, 60000000); }), std::nullopt);
    EXPECT_EQ(thrownMessage([] { makeSpot(QString(32, QLatin1Char('K'))); }), std::nullopt);
    EXPECT_EQ(makeSpot(QStringLiteral("DL1ABC"), QString(200, QLatin1Char('a'))).comment().size(), 96);
    EXPECT_EQ(makeSpot(QStringLiteral("DL1ABC"), {}, QStringLiteral("red")).colorHex(), QStringLiteral("#0A84FF"));
}

// ---- RUMlog spot datagrams -----------------------------------------------

TEST(RUMlogSpotParser, ReadsAMinimalLogbookSpot)
{
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const ParsedRUMlogSpot spot = RUMlogSpotParser::parse(spotWith({}), SpotFeed::Logbook);
    const qint64 after = QDateTime::currentSecsSinceEpoch();

    EXPECT_EQ(spot.frequencyHz, 14025500);
    EXPECT_EQ(spot.callsign, QStringLiteral("dl1abc"));
    EXPECT_EQ(spot.category, DXSpotCategory::Other);
    EXPECT_GE(spot.timestamp, before);
    EXPECT_LE(spot.timestamp, after);
    EXPECT_EQ(spot.flexSpot(SpotFeed::Logbook, SpotStyle()).callsign(), QStringLiteral("DL1ABC"));
}

TEST(RUMlogSpotParser, ReadsKilohertzAndHertz)
{
    auto frequencyOf = [](const char *text) {
        return RUMlogSpotParser::parse(
                   spotXml(QStringLiteral("<frequency>%1</frequency>").arg(QLatin1String(text))), SpotFeed::Logbook)
            .frequencyHz;
    };
    EXPECT_EQ(frequencyOf("14,025.5"), 14025500);
    EXPECT_EQ(frequencyOf("100000"), 100000);
    EXPECT_EQ(frequencyOf("14074000"), 14074000);
    EXPECT_EQ(frequencyOf("50313"), 50313000);
    EXPECT_EQ(frequencyOf(" 7,010 "), 7010000);
    EXPECT_EQ(frequencyOf("99999.9"), 99999900);
    EXPECT_EQ(frequencyOf("14025.0005"), 14025001); // halves away from zero
}

TEST(RUMlogSpotParser, RefusesFrequenciesThatAreNotUsableNumbers)
{
    for (const char *text : {"0", "-7", "abc", "inf", "nan", "1e300", "-1e300", "14.025.5", ""}) {
        const QByteArray datagram = spotXml(QStringLiteral("<frequency>%1</frequency>").arg(QLatin1String(text)));
        EXPECT_EQ(thrownMessage([&] { RUMlogSpotParser::parse(datagram, SpotFeed::Logbook); }), noFrequency)
            << text;
    }
    EXPECT_EQ(thrownMessage([] { RUMlogSpotParser::parse(spotXml(QStringLiteral("<dxcall>X</dxcall>")),
                                                         SpotFeed::Logbook); }),
              noFrequency);
}

TEST(RUMlogSpotParser, AFrequencyBeyondTheRadioFailsWhenMakingTheSpot)
{
    const auto spot = RUMlogSpotParser::parse(
        spotXml(QStringLiteral("<frequency>99999.9</frequency><dxcall>DL1ABC</dxcall>")), SpotFeed::Logbook);
    EXPECT_EQ(thrownMessage([&] { spot.flexSpot(SpotFeed::Logbook, SpotStyle()); }), invalidFrequency);

    const auto huge = RUMlogSpotParser::parse(
        spotXml(QStringLiteral("<frequency>1e18</frequency><dxcall>DL1ABC</dxcall>")), SpotFeed::Logbook);
    EXPECT_EQ(thrownMessage([&] { huge.flexSpot(SpotFeed::Logbook, SpotStyle()); }), invalidFrequency);
}

TEST(RUMlogSpotParser, AMissingCallsignPassesTheParserButNotTheRecord)
{
    const auto spot = RUMlogSpotParser::parse(spotXml(QStringLiteral("<frequency>14025</frequency>")),
                                              SpotFeed::Contest);
    EXPECT_EQ(spot.callsign, QString());
    EXPECT_EQ(thrownMessage([&] { spot.flexSpot(SpotFeed::Contest, SpotStyle()); }), invalidCallsign);
}

TEST(RUMlogSpotParser, ReadsElementNamesInAnyCaseAndFlagsLoosely)
{
    const auto spot = RUMlogSpotParser::parse(
        spotXml(QStringLiteral("<FREQUENCY>7010</FREQUENCY><DXCall>K1ABC</DXCall><WKDB4> Yes\n</WKDB4>")),
        SpotFeed::Logbook);
    EXPECT_EQ(spot.callsign, QStringLiteral("K1ABC"));
    EXPECT_EQ(spot.frequencyHz, 7010000);
    EXPECT_EQ(spot.category, DXSpotCategory::StationWorkedBefore);
}

TEST(RUMlogSpotParser, ChoosesTheFirstFlagOfEachFeed)
{
    auto categoryOf = [](const char *flags, SpotFeed feed) {
        return RUMlogSpotParser::parse(spotWith(QLatin1String(flags)), feed).category;
    };
    EXPECT_EQ(categoryOf("<dxccnotcfd>1</dxccnotcfd><wkdb4>true</wkdb4>", SpotFeed::Logbook),
              DXSpotCategory::StationWorkedBefore);
    EXPECT_EQ(categoryOf("<slotnotcfd>y</slotnotcfd><bandnotcfd>1</bandnotcfd>", SpotFeed::Logbook),
              DXSpotCategory::BandNotConfirmed);
    EXPECT_EQ(categoryOf("<modenotcfd>YES</modenotcfd><newmulti>1</newmulti>", SpotFeed::Logbook),
              DXSpotCategory::ModeNotConfirmed);
    EXPECT_EQ(categoryOf("<useful>1</useful><wkdb4>1</wkdb4>", SpotFeed::Contest), DXSpotCategory::WorkedBefore);
    EXPECT_EQ(categoryOf("<useless>1</useless><newmulti>1</newmulti>", SpotFeed::Contest),
              DXSpotCategory::NewMultiplier);
    EXPECT_EQ(categoryOf("<newmulti>0</newmulti><dxccnotcfd>1</dxccnotcfd>", SpotFeed::Contest),
              DXSpotCategory::Unknown);
    EXPECT_EQ(categoryOf("<useless>on</useless>", SpotFeed::Contest), DXSpotCategory::Unknown);
    EXPECT_EQ(categoryOf("<useless>Y</useless>", SpotFeed::Contest), DXSpotCategory::Useless);
}

TEST(RUMlogSpotParser, ReadsTimestampsAsSecondsOrInternetDateTimes)
{
    auto timestampOf = [](const QString &text) {
        return RUMlogSpotParser::parse(spotWith(QStringLiteral("<timestamp>%1</timestamp>").arg(text)),
                                       SpotFeed::Logbook)
            .timestamp;
    };
    EXPECT_EQ(timestampOf(QStringLiteral("1714564800")), 1714564800);
    EXPECT_EQ(timestampOf(QStringLiteral("+1714564800")), 1714564800);
    EXPECT_EQ(timestampOf(QStringLiteral("2024-05-01T12:00:00Z")), 1714564800);
    EXPECT_EQ(timestampOf(QStringLiteral("2024-05-01T12:00:00.750Z")), 1714564800);
    EXPECT_EQ(timestampOf(QStringLiteral("2024-05-01T14:00:00+02:00")), 1714564800);
    EXPECT_EQ(timestampOf(QStringLiteral("2024-05-01T07:30:00.5-04:30")), 1714564800);
    EXPECT_EQ(timestampOf(QStringLiteral("-5")), -5);

    const auto spot = RUMlogSpotParser::parse(spotWith(QStringLiteral("<timestamp>-5</timestamp>")),
                                              SpotFeed::Logbook);
    EXPECT_EQ(spot.flexSpot(SpotFeed::Logbook, SpotStyle()).timestamp(), 0);

    const qint64 before = QDateTime::currentSecsSinceEpoch();
    EXPECT_GE(timestampOf(QStringLiteral("yesterday")), before);
    EXPECT_GE(timestampOf(QStringLiteral("99999999999999999999")), before);
}

TEST(InternetDateTime, IsStrict)
{
    EXPECT_EQ(unixSecondsFromInternetDateTime(u"1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(unixSecondsFromInternetDateTime(u"2024-02-29T00:00:00Z"), 1709164800);
    // Before 1970 a fraction truncates towards zero.
    EXPECT_EQ(unixSecondsFromInternetDateTime(u"1969-12-31T23:59:59.5Z"), 0);
    EXPECT_EQ(unixSecondsFromInternetDateTime(u"1969-12-31T23:59:59Z"), -1);

    for (const char16_t *text :
         {u"2024-05-01 12:00:00Z", u"2024-05-01t12:00:00Z", u"2024-05-01T12:00:00z", u"2024-05-01T12:00:00",
          u"2024-05-01T12:00:00+0200", u"2024-05-01T12:00Z", u"2024-05-01T12:00:00.Z", u"2023-02-29T00:00:00Z",
          u"2024-13-01T00:00:00Z", u"2024-05-01T24:00:00Z", u"2024-05-01T12:60:00Z", u"2024-05-01T12:00:60Z",
          u"24-05-01T12:00:00Z", u" 2024-05-01T12:00:00Z", u"2024-05-01T12:00:00Z ", u"2024-05-01T12:00:00,5Z",
          u"2024-05-01T12:00:00+24:00"}) {
        EXPECT_EQ(unixSecondsFromInternetDateTime(text), std::nullopt) << QString::fromUtf16(text).toStdString();
    }
}

TEST(RUMlogSpotParser, MakesTheFlexSpotFromTheFeedAndStyle)
{
    const auto parsed = RUMlogSpotParser::parse(
        spotWith(QStringLiteral("<mode>CW</mode><spottercall></spottercall><stationname>k1xyz</stationname>"
                                "<comment>73 | good sig \U0001F600</comment><timestamp>1714564800</timestamp>")),
        SpotFeed::Contest);
    EXPECT_EQ(parsed, (ParsedRUMlogSpot{14025500, QStringLiteral("dl1abc"), QStringLiteral("CW"), QString(),
                                        QStringLiteral("k1xyz"), QStringLiteral("73 | good sig \U0001F600"),
                                        1714564800, DXSpotCategory::Unknown}));

    const FlexSpot spot = parsed.flexSpot(SpotFeed::Contest, SpotStyle(4, QStringLiteral("#30d158"), 900));
    EXPECT_EQ(spot, FlexSpot::make({.frequencyHz = 14025500,
                                    .callsign = QStringLiteral("DL1ABC"),
                                    .mode = QStringLiteral("CW"),
                                    .source = QStringLiteral("RUMlogNG Contest"),
                                    .spotter = QStringLiteral("K1XYZ"),
                                    .comment = QStringLiteral("73   good sig"),
                                    .timestamp = 1714564800,
                                    .lifetimeSeconds = 900,
                                    .priority = 4,
                                    .colorHex = QStringLiteral("#30D158")}));
    EXPECT_EQ(spot.source(), QStringLiteral("RUMlogNG Contest"));
}

TEST(RUMlogSpotParser, ABlankSpotterIsKeptAndThenSanitisedAway)
{
    const auto parsed = RUMlogSpotParser::parse(
        spotWith(QStringLiteral("<spottercall>   </spottercall><stationname>K1XYZ</stationname>")),
        SpotFeed::Logbook);
    // The reader trims element texts, so blanks read from a datagram are empty.
    EXPECT_EQ(parsed.flexSpot(SpotFeed::Logbook, SpotStyle()).spotter(), QStringLiteral("K1XYZ"));

    ParsedRUMlogSpot untrimmed = parsed;
    untrimmed.spotter = QStringLiteral("   ");
    EXPECT_EQ(untrimmed.flexSpot(SpotFeed::Logbook, SpotStyle()).spotter(), QString());
}

TEST(RUMlogSpotParser, RecordsOnlyLeafElementsAndIgnoresCData)
{
    const auto spot = RUMlogSpotParser::parse(
        spotXml(QStringLiteral("<frequency>14025</frequency><dxcall><![CDATA[XX9XX]]>DL1ABC</dxcall>"
                               "<comment>outer<b>inner</b>tail</comment><mode attr=\"FT8\">CW</mode>")),
        SpotFeed::Logbook);
    EXPECT_EQ(spot.callsign, QStringLiteral("DL1ABC"));
    EXPECT_EQ(spot.comment, QString());
    EXPECT_EQ(spot.mode, QStringLiteral("CW"));

    const auto later = RUMlogSpotParser::parse(
        spotXml(QStringLiteral("<frequency>14025</frequency><dxcall>first</dxcall><x><dxcall>second</dxcall></x>")),
        SpotFeed::Logbook);
    EXPECT_EQ(later.callsign, QStringLiteral("second"));
}

TEST(RUMlogSpotParser, NeverFetchesAnExternalEntity)
{
    const QByteArray datagram =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE spot [<!ENTITY secret SYSTEM \"file:///etc/passwd\">"
        "<!ENTITY remote SYSTEM \"http://127.0.0.1:9/x\">]>\n"
        "<spot><frequency>14025</frequency><dxcall>DL1ABC&secret;</dxcall><comment>&remote;</comment></spot>";
    const auto spot = RUMlogSpotParser::parse(datagram, SpotFeed::Logbook);
    EXPECT_EQ(spot.callsign, QStringLiteral("DL1ABC"));
    EXPECT_EQ(spot.comment, QString());
}

TEST(RUMlogSpotParser, MalformedXmlCarriesTheReadersDescription)
{
    auto messageOf = [](const QByteArray &datagram) {
        return thrownMessage([&] { RUMlogSpotParser::parse(datagram, SpotFeed::Logbook); });
    };
    const auto unclosed = messageOf("<spot><frequency>14025</frequency>");
    ASSERT_TRUE(unclosed.has_value());
    EXPECT_FALSE(unclosed->isEmpty());
    EXPECT_NE(*unclosed, noFrequency);
    EXPECT_TRUE(messageOf(QByteArray()).has_value());
    EXPECT_TRUE(messageOf("<spot><frequency>14025</frequency></spot><extra/>").has_value());
    EXPECT_TRUE(messageOf("<spot><dxcall>A&undeclared;</dxcall><frequency>14025</frequency></spot>").has_value());

    // Nested internal entities that would expand to gigabytes are refused.
    QByteArray bomb = "<!DOCTYPE spot [<!ENTITY e0 \"aaaaaaaaaa\">";
    for (int level = 1; level <= 8; ++level) {
        bomb += QStringLiteral("<!ENTITY e%1 \"").arg(level).toLatin1();
        for (int i = 0; i < 10; ++i)
            bomb += QStringLiteral("&e%1;").arg(level - 1).toLatin1();
        bomb += "\">";
    }
    bomb += "]><spot><frequency>14025</frequency><comment>&e8;</comment></spot>";
    EXPECT_TRUE(messageOf(bomb).has_value());
}
