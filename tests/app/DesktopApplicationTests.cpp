#include "QuendKivoApp/DesktopApplication.h"
#include "QuendKivoApp/OfflineModel.h"
#include "QuendKivoApp/configuration/ContentView.h"
#include "QuendKivoApp/model/AppModel.h"

#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace kivo;

TEST(DesktopApplicationTest, ClosingWindowsKeepsRunningAndQuitStopsOnceBeforeExit)
{
    QTemporaryDir directory;
    const QString settingsPath = directory.filePath("settings.ini");
    const auto offline = makeOfflineModel(settingsPath);
    AppModel &model = *offline;

    int exits = 0;
    bool runningAtExit = true;
    DesktopApplication desktop(model, settingsPath, [&] {
        ++exits;
        runningAtExit = model.isRunning() || model.isStopping();
    });
    desktop.showConfigurationWindow();
    // The first showing runs the start-up task: the first-run settings start the bridge.
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isRunning(); }, 10000));

    desktop.configurationWindow()->close();
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    EXPECT_TRUE(model.isRunning());

    desktop.requestQuit();
    desktop.requestQuit();
    ASSERT_TRUE(QTest::qWaitFor([&] { return exits > 0; }, 10000));
    QCoreApplication::processEvents();
    EXPECT_EQ(exits, 1);
    EXPECT_FALSE(runningAtExit);
    EXPECT_EQ(model.events().filter("Quend-Kivo stopped").size(), 1);
    EXPECT_TRUE(QSettings(settingsPath, QSettings::IniFormat).contains("QuendMainConfigurationWindow"));
}

TEST(DesktopApplicationTest, ASecondStartBringsTheConfigurationWindowBack)
{
    QTemporaryDir directory;
    const auto model = makeOfflineModel(directory.filePath("settings.ini"));
    DesktopApplication desktop(*model, directory.filePath("settings.ini"), [] {});
    const QString name = "quend-kivo-test-" + QString::number(QCoreApplication::applicationPid());
    EXPECT_FALSE(DesktopApplication::handOverToRunningInstance(name));
    ASSERT_TRUE(desktop.listenForLaterInstances(name));
    EXPECT_FALSE(desktop.configurationWindow()->isVisible());
    EXPECT_TRUE(DesktopApplication::handOverToRunningInstance(name));
    EXPECT_TRUE(QTest::qWaitFor([&] { return desktop.configurationWindow()->isVisible(); }, 10000));
}
