#include "QuendKivoApp/kit/NumberField.h"
#include "QuendKivoApp/model/AppModel.h"
#include "QuendKivoApp/rotator/RotatorCompass.h"
#include "QuendKivoApp/rotator/RotatorMapInset.h"
#include "QuendKivoApp/rotator/RotatorMonitorPanel.h"
#include "QuendKivoApp/rotator/RotatorSettingsView.h"
#include "fakes/FakeDCU1Controller.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"
#include "support/widgets/Typing.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
using namespace std::chrono_literals;
using State = DCU1RotatorClient::State;

namespace {

class RotatorViewsTest : public ::testing::Test {
protected:
    RotatorViewsTest()
    {
        AppModelDependencies d;
        d.settingsPath = directory.filePath("settings.ini");
        d.homeDirectory = directory.path();
        d.rotatorIdleCheckDelay = 100ms;
        d.rotatorTiming = {20ms, 40ms};
        d.startPropagation = false;
        model = std::make_unique<AppModel>(d);
        EXPECT_TRUE(controller.listen());
        view = std::make_unique<RotatorSettingsView>(*model);
        view->show();
    }
    ~RotatorViewsTest() override
    {
        view.reset();
        model->stopRotator();
    }
    void setHost(const QString &host)
    {
        AppConfiguration configuration = model->configuration();
        configuration.rotator.host = host;
        configuration.rotator.port = controller.port();
        configuration.rotator.rumlogPort = 0;
        configuration.rotator.homeGrid = QStringLiteral("FN42");
        model->setConfiguration(configuration);
    }
    template <typename T> T *find(QWidget &view, const char *name) { return view.findChild<T *>(QString::fromLatin1(name)); }
    QPushButton *button(const char *name) { return find<QPushButton>(*view, name); }
    void type(QLineEdit *field, const QString &text) { typeAndReturn(field, text); }

    QTemporaryDir directory;
    FakeDCU1Controller controller;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<RotatorSettingsView> view;
};

} // namespace

TEST_F(RotatorViewsTest, ReturnInTheTargetFieldResolvesOnlyTheTarget)
{
    QSignalSpy resolved(model.get(), &AppModel::rotatorTargetSourceChanged);
    type(find<QLineEdit>(*view, "rotator.target"), QStringLiteral("45"));
    EXPECT_EQ(model->rotatorTargetBearing(), 45.0);
    EXPECT_EQ(model->rotatorTargetSource(), "Direct bearing");
    EXPECT_EQ(resolved.count(), 1);
    EXPECT_FALSE(model->isRunning());
    EXPECT_TRUE(model->events().filter("Settings saved").isEmpty());
    EXPECT_EQ(find<QLabel>(*view, "rotator.targetBearing")->text(), "45°");
    // A bearing but no connection: only Long path applies.
    EXPECT_FALSE(button("rotator.turn")->isEnabled());
    EXPECT_TRUE(button("rotator.longPath")->isEnabled());
    EXPECT_FALSE(button("rotator.stop")->isEnabled());
}

// The tab's room in the window at its smallest and its default size; a
// tab page, unlike a window, can be made smaller than its layout wants.
TEST_F(RotatorViewsTest, NoControlIsSqueezedAndTheTargetHintShowsWhole)
{
    QWidget tab;
    auto *form = new RotatorSettingsView(*model, &tab);
    tab.show();
    for (const QSize size : {QSize(716, 380), QSize(856, 480)}) {
        form->setGeometry(QRect(QPoint(), size));
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        auto *target = find<QLineEdit>(*form, "rotator.target");
        auto *resolve = find<QPushButton>(*form, "rotator.resolve");
        EXPECT_GT(target->width(), target->fontMetrics().horizontalAdvance(target->placeholderText())) << size.width();
        EXPECT_FALSE(QRect(target->mapTo(form, QPoint()), target->size())
                         .intersects(QRect(resolve->mapTo(form, QPoint()), resolve->size()))) << size.width();
        for (QWidget *control : form->findChildren<QWidget *>()) {
            if ((qobject_cast<QLabel *>(control) || qobject_cast<QAbstractButton *>(control) ||
                 qobject_cast<QLineEdit *>(control)) && control->isVisibleTo(form)) {
                EXPECT_GE(control->width(), control->minimumSizeHint().width())
                    << control->objectName().toStdString() << " " << size.width();
            }
        }
    }
}

TEST_F(RotatorViewsTest, NumbersAreClampedAtCommitAndReloadTheSame)
{
    type(find<NumberField>(*view, "rotator.beamWidth"), QStringLiteral("-20"));
    type(find<NumberField>(*view, "rotator.minimumChange"), QStringLiteral("500"));
    type(find<NumberField>(*view, "rotator.band.20m.offset"), QStringLiteral("0"));
    type(find<NumberField>(*view, "rotator.band.40m.offset"), QStringLiteral("-500"));
    const RotatorConfiguration rotator = model->configuration().rotator;
    EXPECT_EQ(rotator.beamWidthDegrees, 1);
    EXPECT_EQ(rotator.minimumAutomaticTurnDegrees, 180);
    EXPECT_EQ(rotator.bandOffsets, (QHash<QString, int>{{"20m", 0}, {"40m", -180}}));
    EXPECT_EQ(find<NumberField>(*view, "rotator.rumlogPort")->text(), "12064");
    EXPECT_EQ(RotatorConfiguration::fromJson(rotator.toJson()), rotator);
}

TEST_F(RotatorViewsTest, SaveAndReconnectWhileDisabledSavesAndStaysStopped)
{
    setHost(QStringLiteral("127.0.0.1"));
    find<QCheckBox>(*view, "rotator.enabled")->click();
    button("rotator.saveAndReconnect")->click();
    ASSERT_TRUE(waitUntil([&] { return !model->events().filter("Settings saved").isEmpty(); }));
    EXPECT_EQ(model->rotatorConnectionState(), State::Stopped);
    EXPECT_EQ(find<QLabel>(*view, "rotator.status")->text(), "Disconnected");
    EXPECT_EQ(button("rotator.connect")->text(), "Connect");
    EXPECT_EQ(controller.connectionCount(), 0);
}

TEST_F(RotatorViewsTest, ConnectAfterAFailedStartConnects)
{
    button("rotator.connect")->click();
    EXPECT_EQ(model->rotatorConnectionState(), State::Failed);
    EXPECT_EQ(find<QLabel>(*view, "rotator.status")->text(), "Enter the rotator TCP host");
    ASSERT_EQ(button("rotator.connect")->text(), "Connect");
    setHost(QStringLiteral("127.0.0.1"));
    button("rotator.connect")->click();
    ASSERT_TRUE(waitUntil([&] { return model->rotatorConnectionState() == State::Connected; }));
    EXPECT_EQ(button("rotator.connect")->text(), "Disconnect");
    EXPECT_TRUE(button("rotator.stop")->isEnabled());
}

TEST_F(RotatorViewsTest, ACompassTapTurnsTheAntennaAndThePanelFollowsToTheTarget)
{
    setHost(QStringLiteral("127.0.0.1"));
    RotatorMonitorPanel panel(*model);
    panel.show();
    model->startRotator();
    ASSERT_TRUE(waitUntil([&] { return model->rotatorAzimuth() == 123.0; }));
    auto *badge = find<QLabel>(panel, "rotator.panel.badge");
    EXPECT_EQ(badge->text(), "READY");
    EXPECT_FALSE(find<QPushButton>(panel, "rotator.panel.turn")->isEnabled());

    auto *compass = find<RotatorCompass>(panel, "rotator.compass");
    ASSERT_EQ(compass->readoutText(), "123°");
    const QPoint east(compass->width() / 2 + 50, compass->height() / 2);
    QTest::mouseClick(compass, Qt::LeftButton, {}, east);
    ASSERT_TRUE(waitUntil([&] { return controller.commands().contains(*DCU1Protocol::turnCommand(90)); }));
    ASSERT_TRUE(waitUntil([&] { return badge->text() == "MOVING CCW"; }));
    EXPECT_EQ(find<QLabel>(panel, "rotator.panel.targetBearing")->text(), "090°");
    EXPECT_EQ(find<QLabel>(panel, "rotator.panel.targetLabel")->text(), "Manual");

    controller.setAzimuth(90);
    ASSERT_TRUE(waitUntil([&] { return model->rotatorStatus().startsWith("At target"); }));
    EXPECT_EQ(find<QLabel>(panel, "rotator.panel.status")->text(), model->rotatorStatus());
    EXPECT_EQ(compass->readoutText(), "090°");
    EXPECT_DOUBLE_EQ(compass->displayedAzimuth(), 90);
}

TEST(RotatorCompassWidget, NeedleAccumulatesAndStartsAfreshAfterAGap)
{
    RotatorCompass compass;
    compass.resize(406, 176);
    QSignalSpy turns(&compass, &RotatorCompass::turnRequested);
    EXPECT_EQ(compass.readoutText(), "---°");
    QTest::mouseClick(&compass, Qt::LeftButton, {}, QPoint(203, 38));
    QTest::mouseClick(&compass, Qt::LeftButton, {}, QPoint(203, 88));
    QTest::mouseClick(&compass, Qt::LeftButton, {}, QPoint(20, 88));
    ASSERT_EQ(turns.count(), 1);
    EXPECT_DOUBLE_EQ(turns.first().first().toDouble(), 0);

    compass.setAzimuth(350);
    EXPECT_DOUBLE_EQ(compass.displayedAzimuth(), 350);
    compass.setAzimuth(10);
    EXPECT_DOUBLE_EQ(compass.displayedAzimuth(), 370);
    compass.setAzimuth(std::nullopt);
    compass.setAzimuth(200);
    EXPECT_DOUBLE_EQ(compass.displayedAzimuth(), 200);
}

TEST(RotatorMapWidget, TheWorldIsFramedAtTheSizeTheLayoutGivesIt)
{
    RotatorMapInset map;
    map.show();
    map.setContent(MaidenheadLocator::coordinate(QStringLiteral("QF22")), std::nullopt, QStringLiteral("No target"));
    map.resize(406, 190);
    for (const char *grid : {"QF22", "KP20", "FN42", "PM95"})
        EXPECT_TRUE(QRectF(map.rect()).contains(map.screenPosition(*MaidenheadLocator::coordinate(grid)))) << grid;
}

TEST(RotatorMapWidget, ZoomSurvivesTheSameRoundedTargetAndResetsOnANewOne)
{
    RotatorMapInset map;
    map.resize(406, 190);
    map.setContent(std::nullopt, GeoCoordinate{10.00001, 20.00001}, QStringLiteral("JO62"));
    const double framed = map.pixelsPerDegree();
    QWheelEvent wheel(QPointF(203, 95), map.mapToGlobal(QPointF(203, 95)), {}, QPoint(0, 240), Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&map, &wheel);
    ASSERT_GT(map.pixelsPerDegree(), framed);
    map.setContent(std::nullopt, GeoCoordinate{9.99999, 19.99999}, QStringLiteral("JO62"));
    EXPECT_GT(map.pixelsPerDegree(), framed);
    map.setContent(std::nullopt, GeoCoordinate{10.0006, 20.0}, QStringLiteral("JO62"));
    EXPECT_DOUBLE_EQ(map.pixelsPerDegree(), framed);
    map.setContent(GeoCoordinate{42, -71}, std::nullopt, QStringLiteral("No target"));
    EXPECT_EQ(map.identity(), "world");
    EXPECT_EQ(map.toolTip(), "World map — drag to pan and scroll to zoom");
}
