#include "QuendKivoApp/kit/AdaptiveRow.h"
#include "QuendKivoApp/kit/ConnectionState.h"
#include "QuendKivoApp/kit/ElidedLabel.h"
#include "QuendKivoApp/kit/Icons.h"
#include "QuendKivoApp/kit/LineLimitedLabel.h"
#include "QuendKivoApp/kit/NumberField.h"
#include "QuendKivoApp/kit/NumberedChoices.h"
#include "QuendKivoApp/kit/ProminentButton.h"
#include "QuendKivoApp/kit/SymbolLabel.h"
#include "QuendKivoApp/kit/TextColor.h"
#include "fakes/FakeDesktopTheme.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <QHelpEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <gtest/gtest.h>

using namespace kivo;

TEST(ConnectionStateTest, FirstMatchingRowWins)
{
    struct Row {
        bool radio, agentKind, agent, running;
        QString label;
        PlatformColor color;
        QString symbol;
    };
    const QList<Row> rows{
        {true, true, true, true, "Connected", PlatformColor::Green, "checkmark.circle.fill"},
        {true, false, false, false, "Connected", PlatformColor::Green, "checkmark.circle.fill"},
        {false, true, true, true, "Agent connected", PlatformColor::Orange, "exclamationmark.triangle.fill"},
        {false, true, true, false, "Agent connected", PlatformColor::Orange, "exclamationmark.triangle.fill"},
        {false, false, true, true, "Connecting", PlatformColor::Orange, "arrow.triangle.2.circlepath"},
        {false, true, false, true, "Connecting", PlatformColor::Orange, "arrow.triangle.2.circlepath"},
        {false, false, true, false, "Stopped", PlatformColor::Secondary, "stop.circle"},
        {false, false, false, false, "Stopped", PlatformColor::Secondary, "stop.circle"},
    };
    for (const Row &row : rows) {
        const auto shown = connectionPresentation(row.radio, row.agentKind, row.agent, row.running);
        EXPECT_EQ(shown, (ConnectionPresentation{row.label, row.color, row.symbol})) << row.label.toStdString();
        EXPECT_TRUE(hasSymbol(shown.symbol)) << shown.symbol.toStdString();
    }
}

namespace {

QPalette darkDesktop()
{
    QPalette dark(QColor(53, 53, 53));
    dark.setColor(QPalette::Window, QColor(53, 53, 53));
    dark.setColor(QPalette::WindowText, Qt::white);
    return dark;
}

QColor shownText(const QWidget &widget) { return widget.palette().color(QPalette::WindowText); }

} // namespace

TEST(TextColorTest, EveryAccentReadsAtFourAndAHalfToOneWithItsHueKept)
{
    const QPalette light = QApplication::style()->standardPalette();
    struct Row {
        const char *name;
        QColor hue;
    };
    const QList<Row> accents{
        {"green", platformColor(PlatformColor::Green)},   {"orange", platformColor(PlatformColor::Orange)},
        {"red", platformColor(PlatformColor::Red)},       {"purple", platformColor(PlatformColor::Purple)},
        {"cyan", platformColor(PlatformColor::Cyan)},     {"blue", platformColor(PlatformColor::Blue, Appearance::Dark)},
        {"monitor cyan", MonitorPalette::cyan()},         {"monitor green", MonitorPalette::green()},
        {"monitor amber", MonitorPalette::amber()},       {"monitor coral", MonitorPalette::coral()},
        {"monitor violet", MonitorPalette::violet()},     {"faint cyan", withOpacity(MonitorPalette::cyan(), 0.52)},
    };
    for (const QPalette &palette : {light, darkDesktop()}) {
        const QColor window = palette.color(QPalette::Window);
        for (const Row &row : accents) {
            const QColor text = readableTextColor(row.hue, window);
            EXPECT_GE(contrastRatio(text, window), readableContrast) << row.name << " on " << window.name().toStdString();
            if (text != row.hue && row.hue.alpha() == 255) {
                EXPECT_NEAR(text.hsvHueF(), row.hue.hsvHueF(), 0.02) << row.name;
            }
        }
        for (auto color : {PlatformColor::Green, PlatformColor::Orange, PlatformColor::Secondary})
            EXPECT_GE(contrastRatio(textColor(color, palette), window), readableContrast) << window.name().toStdString();
    }
    // Colours that already read are left alone: the dark monitor keeps its own.
    EXPECT_EQ(readableTextColor(MonitorPalette::cyan(), srgb(0.025, 0.06, 0.11)), MonitorPalette::cyan());
    const auto connected = connectionPresentation(true, false, false, true);
    EXPECT_GE(contrastRatio(connected.textColor(light), light.color(QPalette::Window)), readableContrast);
}

TEST(TextColorTest, KitColoursFollowAPaletteChangeFixedOnesStay)
{
    const QPalette light = QApplication::palette();
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    QLabel secondary("Radio connection"), connected("Connected"), fixed("OFFLINE");
    for (QLabel *label : {&secondary, &connected, &fixed})
        layout->addWidget(label);
    setSecondaryStyle(&secondary);
    setForegroundColor(&connected, PlatformColor::Green);
    setFixedForegroundColor(&fixed, Qt::white);
    window.show();
    const QColor lightWindow = light.color(QPalette::Window);
    EXPECT_GE(contrastRatio(shownText(secondary), lightWindow), readableContrast);

    QApplication::setPalette(darkDesktop());
    QCoreApplication::processEvents();
    for (const QLabel *label : {&secondary, &connected})
        EXPECT_GE(contrastRatio(shownText(*label), QColor(53, 53, 53)), readableContrast) << label->text().toStdString();
    EXPECT_EQ(shownText(fixed), QColor(Qt::white));

    QApplication::setPalette(light);
    QCoreApplication::processEvents();
    EXPECT_GE(contrastRatio(shownText(connected), lightWindow), readableContrast);
    EXPECT_EQ(shownText(fixed), QColor(Qt::white));
}

TEST(SymbolLabelTest, TintAndARedButtonTitleReadBeforeAndAfterEachDesktopThemeChange)
{
    const QPalette light = QApplication::palette();
    QWidget window;
    SymbolLabel secondary(16, &window), green(16, &window);
    secondary.setSymbol("stop.circle", PlatformColor::Secondary);
    green.setSymbol("checkmark.circle.fill", PlatformColor::Green);
    QPushButton stop("Stop", &window);
    setButtonTitleColor(&stop, PlatformColor::Red);
    window.show();
    for (const QPalette &desktop : {test::darkDesktopPalette(), light, test::darkDesktopPalette()}) {
        test::reloadDesktopPalette(desktop);
        for (const SymbolLabel *symbol : {&secondary, &green})
            EXPECT_GE(contrastRatio(symbol->tint(), desktop.color(QPalette::Window)), readableContrast);
        const QColor title = stop.palette().color(QPalette::Active, QPalette::ButtonText);
        // On the face the style paints, beside the title, not on the palette's Button colour.
        const QImage face = stop.grab().toImage();
        for (int y = face.height() / 4; y <= face.height() * 3 / 4; ++y)
            EXPECT_GE(contrastRatio(title, face.pixelColor(3, y)), readableContrast) << face.pixelColor(3, y).name().toStdString();
        EXPECT_NEAR(title.hsvHueF(), platformColor(PlatformColor::Red).hsvHueF(), 0.02) << title.name().toStdString();
        // Disabled, it dims like every other title.
        EXPECT_EQ(stop.palette().color(QPalette::Disabled, QPalette::ButtonText),
                  desktop.color(QPalette::Disabled, QPalette::ButtonText));
    }
}

TEST(ProminentButtonTest, TheKeyboardFocusShowsThoughTheDefaultFrameLooksLikeIt)
{
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    QPushButton before("Resolve");
    ProminentButton prominent("Turn");
    layout->addWidget(&before);
    layout->addWidget(&prominent);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    before.setFocus(Qt::TabFocusReason);
    const QImage resting = prominent.grab().toImage();
    QTest::keyClick(&before, Qt::Key_Tab);
    ASSERT_TRUE(prominent.hasFocus());
    EXPECT_NE(prominent.grab().toImage(), resting);
}

TEST(ElidedLabelTest, ATextTooWideEndsInAnEllipsisAndShowsWholeAsTooltip)
{
    const QString text = "UDP 57360 unavailable \u2014 close the old Rotor app";
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    auto *label = new ElidedLabel;
    label->setText(text);
    layout->addWidget(label);
    window.show();
    window.resize(label->sizeHint().width() + 40, 40);
    QCoreApplication::processEvents();
    EXPECT_FALSE(label->isElided());

    window.resize(120, 40);
    QCoreApplication::processEvents();
    EXPECT_LE(window.minimumSizeHint().width(), 120);
    EXPECT_EQ(label->text(), text);
    EXPECT_TRUE(label->shownText().endsWith(QChar(0x2026)));
    EXPECT_TRUE(text.startsWith(label->shownText().chopped(1)));
    QHelpEvent help(QEvent::ToolTip, QPoint(4, 4), label->mapToGlobal(QPoint(4, 4)));
    QCoreApplication::sendEvent(label, &help);
    EXPECT_EQ(QToolTip::text(), text);
}

TEST(NumberFieldTest, OnlyTextInRangeIsTakenWhenEditingEndsTheRestStaysMarked)
{
    NumberField field({.minimum = 0, .maximum = 65535});
    field.setAccessibleName("CAT port");
    QSignalSpy committed(&field, &NumberField::valueCommitted);
    field.setValue(15002);
    EXPECT_EQ(field.text(), "15,002");
    EXPECT_EQ(committed.count(), 0);

    for (const QString typed : {"70000", "letters", "-1", ""}) {
        field.setText(typed);
        emit field.editingFinished();
        EXPECT_EQ(field.value(), 15002) << typed.toStdString();
        EXPECT_EQ(field.text(), typed);
        EXPECT_EQ(field.problem(), "CAT port must be a number from 0 to 65535.");
        field.setValue(15002);
        EXPECT_EQ(field.text(), typed);
    }
    EXPECT_EQ(committed.count(), 0);

    field.setText("4,532");
    emit field.editingFinished();
    EXPECT_EQ(field.value(), 4532);
    EXPECT_FALSE(field.isInvalid());
    field.setText("65535");
    emit field.editingFinished();
    EXPECT_EQ(field.text(), "65,535");
    EXPECT_EQ(committed.count(), 2);
}

TEST(NumberFieldTest, ModelValueDoesNotOverwriteTheTextBeingEdited)
{
    QWidget window;
    auto *field = new NumberField({.minimum = 0, .maximum = 65535}, NumberField::CommitRule::WhenEditingEnds, &window);
    window.show();
    field->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return field->hasFocus(); }, 5000));
    field->setText("123");
    field->setValue(9);
    EXPECT_EQ(field->text(), "123");
}

TEST(LineLimitedLabelTest, CutKeepsTheStartOrTheNewestLines)
{
    const QFont font;
    const QString text = "one\ntwo\nthree\nfour";
    EXPECT_EQ(visibleLines(text, font, 400, 3, LineCut::KeepEnd), QStringList({"two", "three", "four"}));
    const QStringList start = visibleLines(text, font, 400, 3, LineCut::KeepStart);
    EXPECT_EQ(start.mid(0, 2), QStringList({"one", "two"}));
    EXPECT_TRUE(start.last().startsWith("three") && start.last().endsWith(QChar(0x2026)));

    // A long newest line wraps; its last part is still shown.
    const QString longLine = QString("word ").repeated(60) + "NEWEST";
    const QStringList wrapped = visibleLines("old\n" + longLine, font, 120, 3, LineCut::KeepEnd);
    EXPECT_EQ(wrapped.size(), 3);
    EXPECT_TRUE(wrapped.last().endsWith("NEWEST"));
}

TEST(NumberedChoicesTest, PrefixAndNumberFromOneToTheBound)
{
    EXPECT_EQ(numberedChoices("ANT", 3), (QList<NumberedChoice>{{"ANT1", 1}, {"ANT2", 2}, {"ANT3", 3}}));
    EXPECT_EQ(numberedChoices("Priority ", 5).last(), (NumberedChoice{"Priority 5", 5}));
    EXPECT_TRUE(numberedChoices("X", 0).isEmpty());
}

TEST(AdaptiveRowTest, StacksWhenTheChildrenDoNotFit)
{
    AdaptiveRow row(16);
    for (int i = 0; i < 2; ++i) {
        auto *child = new QWidget;
        child->setMinimumWidth(300);
        row.addWidget(child);
    }
    row.show();
    row.resize(700, 100);
    EXPECT_TRUE(row.isHorizontal());
    row.resize(500, 100);
    EXPECT_FALSE(row.isHorizontal());
    EXPECT_LE(row.minimumSizeHint().width(), 300);
}
