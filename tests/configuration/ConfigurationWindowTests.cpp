#include "QuendKivoApp/OfflineModel.h"
#include "QuendKivoApp/configuration/ActivityTab.h"
#include "QuendKivoApp/configuration/ConfigurationTab.h"
#include "QuendKivoApp/configuration/ContentView.h"
#include "QuendKivoApp/kit/LineLimitedLabel.h"
#include "QuendKivoApp/kit/NumberField.h"
#include "QuendKivoApp/model/AppModel.h"
#include "QuendKivoApp/model/ConnectionKindDescriptor.h"
#include "fakes/FakeDesktopTheme.h"
#include "support/QtPrinters.h"
#include "support/RawClient.h"
#include "support/widgets/Typing.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QJsonDocument>
#include <QLocale>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

using namespace kivo;
using Kind = AppConfiguration::ConnectionKind;

namespace {

constexpr int deadline = 10000;

class ConfigurationWindowTest : public ::testing::Test {
protected:
    ConfigurationWindowTest()
    {
        model = makeOfflineModel(directory.filePath("settings.ini"));
        AppConfiguration configuration = model->configuration();
        configuration.connectionKind = Kind::Simulator;
        configuration.launchServersAutomatically = false;
        model->setConfiguration(configuration);
        window = std::make_unique<ContentView>(*model);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    ~ConfigurationWindowTest() override
    {
        window.reset();
        model->stop();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !model->isStopping(); }, deadline));
    }

    template <typename T> T *find(const char *name) { return window->findChild<T *>(QString::fromLatin1(name)); }
    bool shown(const char *name) { return find<QWidget>(name)->isVisibleTo(window.get()); }
    void setKind(Kind kind)
    {
        auto *picker = find<QComboBox>("configuration.connectionKind");
        picker->setCurrentIndex(picker->findData(int(kind)));
    }
    void startSimulator()
    {
        find<QPushButton>("header.startStop")->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return model->isRunning(); }, deadline)) << model->events().join("\n").toStdString();
    }
    int eventsContaining(const QString &text) { return int(model->events().filter(text).size()); }

    QTemporaryDir directory;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<ContentView> window;
};

} // namespace

TEST(HeaderPresentationTest, ReconnectOnlyWhileRunningWithTheAgentAndTheButtonFollowsRunning)
{
    for (const ConnectionKindDescriptor &descriptor : connectionKindDescriptors()) {
        const Kind kind = descriptor.kind;
        for (const bool running : {false, true}) {
            const auto header = presentHeader(running, false, false, kind);
            EXPECT_EQ(header.reconnectShown, running && kind == Kind::RemoteAgent) << rawValue(kind).toStdString();
            EXPECT_EQ(header.startStopLabel, running ? "Stop" : "Start");
            EXPECT_EQ(header.kindName, rawValue(kind));
        }
    }
    EXPECT_EQ(presentHeader(true, true, true, Kind::RemoteAgent).connection.label, "Connected");
    EXPECT_EQ(presentHeader(true, false, true, Kind::Local).connection.label, "Connecting");
}

TEST(ConfigurationRowsTest, RowsAndGuidanceFollowTheKind)
{
    const QString loopback = "CAT and RigCtlD listeners bind only to this computer's loopback interface.";
    const struct {
        Kind kind;
        QStringList rows;
        QString guidanceStart;
    } table[] = {
        {Kind::SmartLink, {"SmartLink email", "Password", "Radio serial", "Station"}, "The password remains in memory"},
        {Kind::RemoteAgent, {"Agent HTTPS URL", "Bearer token"}, "The bearer token is stored in the desktop keyring. All"},
        {Kind::Local, {"Radio host", "Station"}, loopback},
        {Kind::LegacyKIVO, {"KIVO host", "KIVO CAT port", "Supervision", "Launch command", "Process name"},
         "RUMlogNG \u2192 Quend-Kivo \u2192 KIVO"},
        {Kind::Simulator, {"Station"}, loopback},
    };
    for (const auto &row : table) {
        EXPECT_EQ(connectionRowTitles(row.kind), row.rows);
        EXPECT_TRUE(descriptorOf(row.kind).guidance.startsWith(row.guidanceStart));
    }
}

TEST(ActivityPresentationTest, ShowsTheLastEighteenAndCountsAll)
{
    QStringList events;
    for (int i = 1; i <= 25; ++i)
        events.append(QString("event %1").arg(i));
    EXPECT_EQ(shownEvents(events).first(), "event 8");
    EXPECT_EQ(shownEvents(events).last(), "event 25");
    EXPECT_EQ(shownEvents(events.mid(0, 3)).size(), 3);
    EXPECT_EQ(eventsTotalText(200), "200 total");
}

TEST_F(ConfigurationWindowTest, KindSwitchShowsItsRowsAndKeepsHiddenValues)
{
    window->selectTab(ContentView::WorkspaceTab::Configuration);
    setKind(Kind::RemoteAgent);
    EXPECT_TRUE(shown("configuration.remoteAgentBaseURL"));
    EXPECT_FALSE(shown("configuration.stationName"));
    EXPECT_FALSE(shown("configuration.radioHost"));
    EXPECT_FALSE(shown("configuration.legacyKIVOLaunchCommand"));

    setKind(Kind::LegacyKIVO);
    auto *command = find<QLineEdit>("configuration.legacyKIVOLaunchCommand");
    command->setFocus();
    QTest::keyClicks(command, "wine KIVO.exe");
    EXPECT_EQ(model->configuration().legacyKIVOLaunchCommand, "wine KIVO.exe");
    EXPECT_TRUE(shown("configuration.legacyKIVOProcessName"));

    setKind(Kind::Local);
    auto *host = find<QLineEdit>("configuration.radioHost");
    host->setFocus();
    QTest::keyClicks(host, "flex.local");
    setKind(Kind::Simulator);
    EXPECT_FALSE(shown("configuration.radioHost"));
    EXPECT_TRUE(shown("configuration.stationName"));
    setKind(Kind::Local);
    EXPECT_EQ(host->text(), "flex.local");
    EXPECT_EQ(model->configuration().radioHost, "flex.local");
    EXPECT_EQ(model->configuration().connectionKind, Kind::Local);
}

TEST_F(ConfigurationWindowTest, ANumberOutOfRangeRefusesSaveAndStartNamingFieldAndRange)
{
    window->selectTab(ContentView::WorkspaceTab::Configuration);
    auto *cat = find<NumberField>("configuration.catPort");
    const quint16 stored = model->configuration().catPort;
    cat->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return cat->hasFocus(); }, deadline));
    const auto type = [&](const QString &text) {
        cat->selectAll();
        QTest::keyClick(cat, Qt::Key_Delete);
        QTest::keyClicks(cat, text);
    };
    const std::pair<QString, QString> attempts[] = {{"70000", "Could not save settings: "}, {"", "Start failed: "}};
    for (const auto &[typed, said] : attempts) {
        type(typed);
        if (typed.isEmpty())
            find<QPushButton>("header.startStop")->click();
        else
            QTest::keyClick(cat, Qt::Key_S, Qt::ControlModifier);
        EXPECT_EQ(model->events().last().mid(10), said + "CAT port must be a number from 1 to 65535.");
        EXPECT_TRUE(cat->isInvalid() && cat->text() == typed);
    }
    EXPECT_FALSE(model->isRunning() || eventsContaining("Settings saved") || model->configuration().catPort != stored);
    type("4600");
    QTest::keyClick(cat, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return eventsContaining("Settings saved") == 1; }, deadline));
    EXPECT_FALSE(cat->isInvalid() || model->configuration().catPort != 4600);
}

TEST_F(ConfigurationWindowTest, PortsRefuseZeroAndTheRotatorTabSaysWhyItSavedNothing)
{
    kivo::test::typeAndReturn(find<NumberField>("rotator.rumlogPort"), "0");
    find<QPushButton>("rotator.saveAndReconnect")->click();
    EXPECT_EQ(find<LineLimitedLabel>("rotator.status")->fullText(), "Could not save settings: RUMlog UDP must be a number from 1 to 65535.");
    setKind(Kind::LegacyKIVO);
    kivo::test::typeAndReturn(find<NumberField>("configuration.legacyKIVOPort"), "0");
    EXPECT_EQ(find<NumberField>("configuration.legacyKIVOPort")->problem(), "KIVO CAT port must be a number from 1 to 65535.");
}

TEST_F(ConfigurationWindowTest, AFailedSaveStaysOnItsTabThroughStatusUpdatesUntilTheFieldIsEdited)
{
    const struct { const char *field, *save, *status, *named, *valid; std::function<void()> update; } tabs[] = {
        {"rotator.rumlogPort", "rotator.saveAndReconnect", "rotator.status", "RUMlog UDP", "12064", [&] { model->startRotator(); }},
        {"spots.logbookPort", "spots.restart", "spots.status", "Logbook UDP", "12062", [&] { model->stop(); }}};
    for (const auto &tab : tabs) {
        const QString why = QStringLiteral("Could not save settings: %1 must be a number from 1 to 65535.").arg(tab.named);
        const auto shown = [&] { return find<LineLimitedLabel>(tab.status)->fullText(); };
        kivo::test::typeAndReturn(find<NumberField>(tab.field), "0");
        find<QPushButton>(tab.save)->click();
        tab.update();
        EXPECT_TRUE(QTest::qWaitFor([&] { return shown().startsWith(why + "\n") && shown().size() > why.size() + 1; }, deadline)) << shown().toStdString();
        kivo::test::typeAndReturn(find<NumberField>(tab.field), tab.valid);
        EXPECT_FALSE(shown().contains(why)) << shown().toStdString();
    }
}

TEST(IdentifierFieldsTest, PortsSlicesAndBaudRatesShowPlainDigitsWhereTheLocaleGroups)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QTemporaryDir directory;
    const auto model = makeOfflineModel(directory.filePath("settings.ini"));
    AppConfiguration configuration = model->configuration();
    configuration.catPort = configuration.spotBridge.logbookPort = 12062;
    model->setConfiguration(configuration);
    RemoteStationConfiguration station = model->remoteConfiguration();
    station.flex.sliceID = station.kpa500.baudrate = 12062;
    model->setRemoteConfiguration(station);
    ContentView window(*model);
    for (const char *name : {"configuration.catPort", "spots.logbookPort", "station.flex.slice", "station.kpa500.baud"})
        EXPECT_EQ(window.findChild<NumberField *>(name)->text(), "12062") << name;
    EXPECT_EQ(QLocale().toString(12062), "12.062");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

TEST_F(ConfigurationWindowTest, RefreshNeverOverwritesAnEditedFieldNorWritesBack)
{
    window->selectTab(ContentView::WorkspaceTab::Configuration);
    auto *host = find<QLineEdit>("configuration.radioHost");
    setKind(Kind::Local);
    host->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return host->hasFocus(); }, deadline));
    QTest::keyClicks(host, "typed");

    QSignalSpy changes(model.get(), &AppModel::configurationChanged);
    AppConfiguration configuration = model->configuration();
    configuration.radioHost = "from model";
    configuration.allowCATTransmit = true;
    configuration.catPort = 7000;
    model->setConfiguration(configuration);
    EXPECT_EQ(host->text(), "typed");
    EXPECT_TRUE(find<QCheckBox>("configuration.allowCATTransmit")->isChecked());
    EXPECT_EQ(find<NumberField>("configuration.catPort")->text(), "7000");
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(ConfigurationWindowTest, StartStopAndSaveOnlyWhileStopped)
{
    window->selectTab(ContentView::WorkspaceTab::Configuration);
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return eventsContaining("Settings saved") == 1; }, deadline));

    startSimulator();
    auto *button = find<QPushButton>("header.startStop");
    EXPECT_EQ(button->text(), "Stop");
    EXPECT_FALSE(find<QWidget>("configuration.catPort")->isEnabled());
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(eventsContaining("Settings saved"), 1);

    button->click();
    EXPECT_FALSE(model->isRunning());
    EXPECT_EQ(button->text(), "Start");
    EXPECT_TRUE(find<QWidget>("configuration.catPort")->isEnabled());
}

TEST_F(ConfigurationWindowTest, ReturnPressesAFocusedButtonAndTogglesTheBridgeOnlyAwayFromControls)
{
    EXPECT_EQ(QApplication::focusWidget(), window.get());
    window->selectTab(ContentView::WorkspaceTab::Configuration);
    for (const char *field : {"configuration.catPort", "configuration.stationName"}) {
        find<QWidget>(field)->setFocus();
        QTest::keyClick(find<QWidget>(field), Qt::Key_Return);
        QCoreApplication::processEvents();
        EXPECT_FALSE(model->isRunning()) << field;
    }
    // A toggle keeps Qt's own key: Return leaves the transmit permission as it is.
    auto *transmit = find<QCheckBox>("configuration.allowCATTransmit");
    transmit->setChecked(true);
    transmit->setFocus();
    QTest::keyClick(transmit, Qt::Key_Return);
    QTest::keyClick(transmit, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(transmit->isChecked());
    EXPECT_TRUE(model->configuration().allowCATTransmit);
    EXPECT_FALSE(model->isRunning());

    auto *save = find<QPushButton>("configuration.save");
    save->setFocus();
    QTest::keyClick(save, Qt::Key_Return);
    QTest::keyClick(save, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return eventsContaining("Settings saved") == 2; }, deadline));
    EXPECT_FALSE(model->isRunning());

    window->setFocus();
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return model->isRunning(); }, deadline));
}

TEST_F(ConfigurationWindowTest, GuidanceReadsOnTheTabPaneAfterAThemeChangeWhileRunningAsAtAFreshStart)
{
    // The kit's texts on every tab, each read at 4.5:1 on the pane or a group box's card as painted,
    // translucent or not. The desktop's own colours, dimmed on the locked page, are its theme's.
    const auto shown = [](ContentView &view, const QPalette &desktop) {
        QStringList texts;
        auto *tabs = view.findChild<QTabWidget *>("content.tabs");
        const QColor pane = test::fusionFaceColor(desktop).lighter(104);
        for (int tab = 0; tab < tabs->count(); ++tab) {
            tabs->setCurrentIndex(tab);
            const QList<QGroupBox *> cards = tabs->currentWidget()->findChildren<QGroupBox *>();
            for (const QLabel *label : tabs->currentWidget()->findChildren<QLabel *>()) {
                const QColor color = label->palette().color(QPalette::WindowText);
                if (!label->isVisible() || label->text().isEmpty()
                    || color == desktop.color(label->palette().currentColorGroup(), QPalette::WindowText))
                    continue;
                const bool onCard = std::ranges::any_of(cards, [&](auto *card) { return card->isAncestorOf(label); });
                EXPECT_EQ(readableTextColor(color, onCard ? test::fusionCardColor(pane) : pane), color)
                    << label->text().toStdString();
                texts.append(label->text() + " " + color.name(QColor::HexArgb));
            }
        }
        return texts;
    };
    const QPalette light = QApplication::palette(), dark = test::darkDesktopPalette();
    const auto fresh = [&](const QPalette &desktop) {
        test::reloadDesktopPalette(desktop);
        ContentView view(*model);
        view.show();
        return shown(view, desktop);
    };
    startSimulator();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->isRadioConnected(); }, deadline));
    const QStringList freshLight = fresh(light), freshDark = fresh(dark);
    for (const auto &[desktop, texts] : {std::pair{light, freshLight}, {dark, freshDark}, {light, freshLight}}) {
        test::reloadDesktopPalette(desktop);
        EXPECT_EQ(shown(*window, desktop), texts);
    }
}

TEST_F(ConfigurationWindowTest, FocusComingIntoAScrolledPageLandsInView)
{
    setKind(Kind::LegacyKIVO);
    window->resize(window->minimumSize());
    window->selectTab(ContentView::WorkspaceTab::Configuration);
    QCoreApplication::processEvents();
    // Shift+Tab from Save, below the scrolling part, onto the last setting out of sight.
    auto *startup = find<QWidget>("configuration.launchServersAutomatically");
    ASSERT_NE(startup->visibleRegion(), QRegion(startup->rect()));
    find<QWidget>("configuration.save")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), startup);
    EXPECT_EQ(startup->visibleRegion(), QRegion(startup->rect()));
}

TEST_F(ConfigurationWindowTest, SaveTakesTheNumberBeingTyped)
{
    window->selectTab(ContentView::WorkspaceTab::Configuration);
    auto *cat = find<NumberField>("configuration.catPort");
    cat->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return cat->hasFocus(); }, deadline));
    cat->selectAll();
    QTest::keyClicks(cat, "25103");
    QTest::keyClick(cat, Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return eventsContaining("Settings saved") == 1; }, deadline));
    const QString stored = QSettings(directory.filePath("settings.ini"), QSettings::IniFormat).value("configuration").toString();
    EXPECT_EQ(AppConfiguration::fromJson(QJsonDocument::fromJson(stored.toUtf8()).object()).catPort, 25103);
}

TEST_F(ConfigurationWindowTest, SpotsShortcutOutlivesTheButtonsRetitling)
{
    window->selectTab(ContentView::WorkspaceTab::Spots);
    const auto press = [&] { QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier); };
    press();
    EXPECT_EQ(eventsContaining("Spots: bridge disabled"), 1);
    startSimulator();
    press();
    EXPECT_EQ(eventsContaining("Spots: bridge disabled"), 2);
}

TEST_F(ConfigurationWindowTest, ActivityAlwaysShowsTheNewestLine)
{
    window->selectTab(ContentView::WorkspaceTab::Activity);
    for (int i = 0; i < 24; ++i)
        model->record(QString("filler line %1 ").arg(i) + QString("wraps ").repeated(i % 3 ? 1 : 40));
    model->record("NEWEST");
    auto *block = find<LineLimitedLabel>("activity.events");
    EXPECT_TRUE(block->text().endsWith("NEWEST"));
    EXPECT_LE(block->text().count('\n') + 1, activityShownEvents);
    EXPECT_EQ(find<QLabel>("activity.total")->text(), QString("%1 total").arg(model->events().size()));
}

TEST_F(ConfigurationWindowTest, RenderReportOnShowAndOnEachFrequencyChange)
{
    window = std::make_unique<ContentView>(*model);
    QSignalSpy reports(window.get(), &ContentView::renderReported);
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return reports.count() == 1; }, deadline));
    // The simulator's seed is its first frequency.
    startSimulator();
    ASSERT_TRUE(QTest::qWaitFor([&] { return reports.count() == 2; }, deadline));

    test::RawClient cat(model->catServerPort());
    cat.send("FA00014075000;");
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->radioSnapshot() && model->radioSnapshot()->frequencyHz == 14075000; }, deadline));
    ASSERT_TRUE(QTest::qWaitFor([&] { return reports.count() == 3; }, deadline));
    QCoreApplication::processEvents();
    EXPECT_EQ(reports.count(), 3);
    EXPECT_EQ(reports.last().first().toString(), "Status");
}

TEST_F(ConfigurationWindowTest, StatusTabShowsTheAgentLinesOnlyForTheAgentKind)
{
    startSimulator();
    EXPECT_EQ(find<QLabel>("status.connectionLabel")->text(), "Connected");
    EXPECT_TRUE(find<LineLimitedLabel>("status.statusText")->fullText().startsWith("VFO A"));
    EXPECT_FALSE(shown("status.latency"));
    EXPECT_FALSE(shown("status.remoteControl"));
    EXPECT_TRUE(shown("status.waiting"));
    find<QPushButton>("header.startStop")->click();

    setKind(Kind::RemoteAgent);
    EXPECT_TRUE(shown("status.latency"));
    EXPECT_TRUE(shown("status.remoteControl"));
    EXPECT_EQ(find<QLabel>("status.connectionLabel")->text(), "Stopped");
}

TEST_F(ConfigurationWindowTest, TheWheelChangesAChoiceOnlyOnceItHasTheFocus)
{
    using Tab = ContentView::WorkspaceTab;
    for (const Tab tab : {Tab::Spots, Tab::Rotator, Tab::Configuration}) {
        window->selectTab(tab);
        for (QComboBox *picker : window->findChildren<QComboBox *>()) {
            if (!picker->isVisible() || picker->count() < 2)
                continue;
            // One notch as the desktop sends it, towards an entry that exists.
            const int before = picker->currentIndex(), towards = before + 1 < picker->count() ? -120 : 120;
            for (const bool focused : {false, true}) {
                (focused ? static_cast<QWidget *>(picker) : window.get())->setFocus(Qt::TabFocusReason);
                QWheelEvent notch({}, {}, {}, {0, towards}, {}, {}, Qt::NoScrollPhase, false);
                QSpontaneKeyEvent::setSpontaneous(&notch);
                QApplication::instance()->notify(picker, &notch);
                EXPECT_EQ(picker->currentIndex() != before, focused) << picker->objectName().toStdString();
            }
        }
    }
}

TEST_F(ConfigurationWindowTest, PlaceholdersReadOnTheirFieldsInEitherPalette)
{
    // As an enabled field shows it; a disabled one dims as the desktop's theme says.
    for (const QPalette &desktop : {test::darkDesktopPalette(), QApplication::palette()}) {
        test::reloadDesktopPalette(desktop);
        for (const QLineEdit *field : window->findChildren<QLineEdit *>()) {
            const QColor shown = field->palette().color(QPalette::Active, QPalette::PlaceholderText);
            EXPECT_EQ(readableTextColor(shown, field->palette().color(QPalette::Active, QPalette::Base)), shown)
                << field->placeholderText().toStdString();
        }
    }
}
