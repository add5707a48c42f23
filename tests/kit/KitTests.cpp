#include "QuendKivoApp/kit/AdaptiveRow.h"
#include "QuendKivoApp/kit/ConnectionState.h"
#include "QuendKivoApp/kit/Icons.h"
#include "QuendKivoApp/kit/LineLimitedLabel.h"
#include "QuendKivoApp/kit/NumberField.h"
#include "QuendKivoApp/kit/NumberedChoices.h"

#include <QSignalSpy>
#include <QTest>
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

TEST(NumberFieldTest, OnlyTextInRangeIsTakenWhenEditingEnds)
{
    NumberField field(0, 65535);
    QSignalSpy committed(&field, &NumberField::valueCommitted);
    field.setValue(15002);
    EXPECT_EQ(field.text(), "15,002");
    EXPECT_EQ(committed.count(), 0);

    for (const QString typed : {"70000", "letters", "-1", ""}) {
        field.setText(typed);
        emit field.editingFinished();
        EXPECT_EQ(field.value(), 15002) << typed.toStdString();
        EXPECT_EQ(field.text(), "15,002");
    }
    EXPECT_EQ(committed.count(), 0);

    field.setText("4,532");
    emit field.editingFinished();
    EXPECT_EQ(field.value(), 4532);
    field.setText("65535");
    emit field.editingFinished();
    EXPECT_EQ(field.text(), "65,535");
    EXPECT_EQ(committed.count(), 2);
}

TEST(NumberFieldTest, ModelValueDoesNotOverwriteTheTextBeingEdited)
{
    QWidget window;
    auto *field = new NumberField(0, 65535, NumberField::CommitRule::WhenEditingEnds, &window);
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
