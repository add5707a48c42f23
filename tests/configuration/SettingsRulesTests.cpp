#include "QuendKivoApp/configuration/SpotStyleRules.h"
#include "QuendKivoApp/model/StationRules.h"
#include "QuendKivoApp/kit/DecimalField.h"

#include <gtest/gtest.h>

using namespace kivo;

TEST(SpotStyleRulesTest, ColourTextReadsOnlyHashAndSixDigitsAndWritesClampedUpperCase)
{
    const QColor red = QColor::fromRgb(255, 69, 58);
    const QColor blue = color(QStringLiteral("#GG453A"));
    for (const char *text : {"#FF453A", "FF453A", "##FF453A#", "#ff453a"})
        EXPECT_EQ(color(QString::fromLatin1(text)), red) << text;
    for (const char *text : {"#FFF", "#FF453A00", "#GG453A", "0x453A", "#-45A3A", "#FF 53A", ""})
        EXPECT_EQ(color(QString::fromLatin1(text)), blue) << text;
    EXPECT_NE(blue, red);
    EXPECT_EQ(hex(QColor::fromRgbF(1.0, 0.5, 0.0)), "#FF8000");
    EXPECT_EQ(hex(red), "#FF453A");
    EXPECT_EQ(hex(QColor::fromRgbF(1.2f, -0.1f, 0.5f)), "#FF0080");
    EXPECT_EQ(hex(QColor()), "#0A84FF");
}

TEST(SpotStyleRulesTest, LifetimeLabelsCountersAndButtonTitle)
{
    const QList<QPair<int, QString>> rows{{180, "3 min"}, {1799, "29 min"}, {3599, "59 min"},
                                          {3600, "1 hour"}, {7200, "1 hour"}, {45, "0 min"}};
    for (const auto &[seconds, label] : rows)
        EXPECT_EQ(lifetimeLabel(seconds), label) << seconds;
    QStringList labels;
    for (const LifetimeChoice &choice : lifetimeChoices())
        labels << choice.label;
    EXPECT_EQ(labels, QStringList({"3 min", "5 min", "10 min", "15 min", "20 min", "30 min", "1 hour"}));
    EXPECT_EQ(counterText(12345), "12345");
    EXPECT_EQ(spotButtonTitle(true), "Apply & Restart Listener");
    EXPECT_EQ(spotButtonTitle(false), "Save Spot Settings");
}

TEST(StationRulesTest, BandMembershipKeepsBandOrderOnceAndUnknownNamesLast)
{
    struct Row {
        QStringList list;
        QString band;
        bool on;
        QStringList expected;
    };
    const QList<Row> rows{
        {{"40m", "160m"}, "20m", true, {"160m", "40m", "20m"}},
        {{"20m", "40m", "20m"}, "20m", true, {"40m", "20m"}},
        {{"20m", "40m", "20m"}, "20m", false, {"40m"}},
        {{"2m", "6m", "80m"}, "160m", true, {"160m", "80m", "6m", "2m"}},
        {{"2m", "20M"}, "20m", false, {"2m", "20M"}},
    };
    for (const Row &row : rows)
        EXPECT_EQ(withBandMembership(row.list, row.band, row.on), row.expected) << row.list.join(',').toStdString();
}

TEST(StationRulesTest, AntennaNamesDefaultToTheirOutput)
{
    const QMap<QString, QString> names{{"2", "Beam"}, {"3", ""}, {"7", "Dummy"}};
    EXPECT_EQ(katAntennaName(names, 1), "KAT ANT1");
    EXPECT_EQ(katAntennaName(names, 2), "Beam");
    EXPECT_EQ(katAntennaName(names, 3), "");
}

TEST(StationRulesTest, BoxesShareARowOnlyWhileTheirColumnsFit)
{
    // Two to a row puts the third under the first: that column is as wide as the wider.
    const QList<int> boxes{200, 290, 300};
    const QList<std::pair<int, int>> rows{{822, 3}, {821, 2}, {606, 2}, {605, 1}, {100, 1}};
    for (const auto &[width, perRow] : rows)
        EXPECT_EQ(boxesPerRow(boxes, 16, width), perRow) << width;
}

TEST(StationRulesTest, EditingAndButtonsFollowLoadBusyAndRunning)
{
    // loaded, busy, running -> editing, reload, save
    const QList<std::pair<std::array<bool, 3>, StationControls>> rows{
        {{false, false, false}, {false, false, false}}, {{false, false, true}, {false, true, false}},
        {{false, true, true}, {false, false, false}},   {{true, true, true}, {false, false, false}},
        {{true, false, true}, {true, true, true}},      {{true, false, false}, {true, false, true}},
    };
    for (const auto &[in, expected] : rows)
        EXPECT_EQ(stationControls(in[0], in[1], in[2]), expected) << in[0] << in[1] << in[2];
}

TEST(StationRulesTest, PanelControlsNeedConnectionAndFullControlAndActionsTheirPermission)
{
    using A = RemoteStationAction;
    for (const bool connected : {false, true}) {
        for (const bool full : {false, true}) {
            for (const bool permitted : {false, true}) {
                const auto shown = remotePanelControls(connected, full, A::Standby, [&](A) { return permitted; });
                EXPECT_EQ(shown.offsets, connected && full);
                EXPECT_EQ(shown.applyPower, connected && full);
                EXPECT_EQ(shown.amplifierEnabled, permitted);
                EXPECT_EQ(shown.tune, permitted);
                EXPECT_EQ(shown.cancel, permitted);
            }
        }
    }
    const auto none = remotePanelControls(true, true, std::nullopt, [](A) { return true; });
    EXPECT_FALSE(none.amplifier || none.amplifierEnabled);
    EXPECT_EQ(actionTitle(A::Operate), "Operate");
}

TEST(DecimalFieldTest, ParsesTheLocaleAndRefusesNonFiniteNumbers)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(DecimalField::parse("1,5"), 1.5);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(DecimalField::parse(" 2.25 "), 2.25);
    for (const char *text : {"nan", "inf", "-inf", "1e999", "abc", ""})
        EXPECT_EQ(DecimalField::parse(QString::fromLatin1(text)), std::nullopt) << text;
    QLocale::setDefault(before);
}
