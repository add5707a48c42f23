#include "QuendKivoApp/CommandLine.h"
#include "QuendKivoApp/DesktopApplication.h"
#include "QuendKivoApp/ProfileInstance.h"
#include "QuendKivoApp/OfflineModel.h"
#include "QuendKivoApp/configuration/ContentView.h"
#include "QuendKivoApp/model/AppModel.h"
#include "support/ReadOnlyPath.h"

#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <future>

using namespace kivo;
using namespace std::chrono_literals;

TEST(DesktopApplicationTest, ClosingWindowsKeepsRunningAndQuitStopsOnceBeforeExit)
{
    QTemporaryDir directory;
    const QString settingsPath = directory.filePath("settings.ini");
    const auto offline = makeOfflineModel(settingsPath);
    AppModel &model = *offline;

    int exits = 0;
    bool runningAtExit = true;
    DesktopApplication desktop(model, settingsPath, [&](int) {
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

TEST(DesktopApplicationTest, OneCopyPerProfileAndASecondStartHandsOver)
{
    QTemporaryDir directory;
    const QString profile = directory.filePath("one/Quend-Kivo.conf");
    ProfileInstance first(profile);
    ProfileInstance second(profile);
    ProfileInstance other(directory.filePath("two/Quend-Kivo.conf"));
    ASSERT_TRUE(first.acquire());
    EXPECT_FALSE(second.acquire());
    EXPECT_TRUE(other.acquire());
    // Also where no lock can be made beside the settings: a file stands where its folder belongs (even for root).
    QFile blocker(directory.filePath("blocked"));
    ProfileInstance blocked(blocker.fileName() + "/Quend-Kivo.conf"), again(blocker.fileName() + "/Quend-Kivo.conf");
    EXPECT_TRUE(blocker.open(QIODevice::WriteOnly) && blocked.acquire() && !again.acquire());
    // A copy killed outright left its lock file (earlier releases wrote their process id there), and the folder is
    // read-only since: the next start runs, and keeps the profile to itself.
    const QString folder = directory.filePath("three"), killed = folder + "/Quend-Kivo.conf";
    QFile left(killed + ".instance-lock");
    ASSERT_TRUE(QDir().mkdir(folder) && left.open(QIODevice::WriteOnly) && left.write("2147483647\nquend-kivo\n\n") && left.flush());
    ASSERT_TRUE(test::setReadOnly(folder, true));
    ProfileInstance restarted(killed), rival(killed);
    const bool runsAlone = restarted.acquire() && !rival.acquire();
    EXPECT_TRUE(test::setReadOnly(folder, false) && runsAlone);
    EXPECT_EQ(first.serverName(), second.serverName());
    EXPECT_NE(first.serverName(), other.serverName());
    EXPECT_EQ(ProfileInstance::handOver(first.serverName(), 0ms), ProfileInstance::HandOver::NoAnswer);

    const auto model = makeOfflineModel(directory.filePath("settings.ini"));
    DesktopApplication desktop(*model, directory.filePath("settings.ini"), [](int) {});
    ASSERT_TRUE(desktop.listenForLaterInstances(first.serverName()));
    EXPECT_FALSE(desktop.configurationWindow()->isVisible());
    // The hand-over blocks, so the running copy answers from another thread's view: run it aside.
    auto outcome = std::async(std::launch::async, [&] { return ProfileInstance::handOver(first.serverName()); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.wait_for(0ms) == std::future_status::ready; }, 10000));
    // Tests run offscreen: the second start learns that nothing can be shown.
    EXPECT_EQ(outcome.get(), ProfileInstance::HandOver::RunningWithoutDisplay);
    EXPECT_TRUE(desktop.configurationWindow()->isVisible());
}

TEST(DesktopApplicationTest, AFailedStartWithoutADisplayExitsWithAnErrorStatus)
{
    QTemporaryDir directory;
    const auto model = makeOfflineModel(directory.filePath("settings.ini"));
    AppConfiguration configuration = model->configuration();
    configuration.connectionKind = AppConfiguration::ConnectionKind::Local;
    configuration.radioHost.clear();
    model->setConfiguration(configuration);
    std::optional<int> status;
    DesktopApplication desktop(*model, directory.filePath("settings.ini"), [&](int code) { status = code; });
    desktop.showConfigurationWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return status.has_value(); }, 10000));
    EXPECT_EQ(*status, 1);
    EXPECT_EQ(model->events().filter("Quend-Kivo stopped").size(), 1);
}

TEST(CommandLine, AnswersWithoutStartingAnything)
{
    QCoreApplication::setApplicationVersion("0.1");
    struct Case {
        QStringList arguments;
        bool run;
        int exitCode;
        QString says;
    };
    const QList<Case> cases{
        {{"quend-kivo"}, true, 0, ""},
        {{"quend-kivo", "--help"}, false, 0, "/p/Quend-Kivo.conf"},
        {{"quend-kivo", "-h"}, false, 0, "XDG_CONFIG_HOME"},
        {{"quend-kivo", "--help"}, false, 0, "QT_LOGGING_RULES"},
        {{"quend-kivo", "--help"}, false, 0, "\n  TMPDIR "},
        {{"quend-kivo", "--help"}, false, 0, "\n  HOME "},
        {{"quend-kivo", "--version"}, false, 0, " 0.1\n"},
        {{"quend-kivo", "--bogus"}, false, 2, "Unknown option 'bogus'"},
        {{"quend-kivo", "--help-all"}, false, 2, "Unknown option 'help-all'"},
        {{"quend-kivo", "extra"}, false, 2, "Unexpected argument: extra"},
    };
    for (const Case &c : cases) {
        const CommandLineRequest request = parseCommandLine(c.arguments, "/p/Quend-Kivo.conf");
        EXPECT_EQ(request.run, c.run) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(request.exitCode, c.exitCode) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(request.text.contains(c.says)) << request.text.toStdString();
        EXPECT_EQ(request.toStandardError, c.exitCode != 0);
        EXPECT_FALSE(request.text.contains("--help-all")) << request.text.toStdString();
    }
}

TEST(CommandLine, OptionsAnswerAndAStartSaysSoWhereNoDisplayOpens)
{
    const QList<std::tuple<QString, QStringList, int, QString>> cases{
        {"DISPLAY=:7301", {"--help"}, 0, "QuendKivo.*.debug=true\n"},
        {"WAYLAND_DISPLAY=wayland-nothing", {"--version"}, 0, "Quend-Kivo " QK_VERSION "\n"},
        {"DISPLAY=:7301", {}, 1, "quend-kivo: Start failed: the display cannot be opened (DISPLAY=:7301).\n"},
        {"WAYLAND_DISPLAY=wayland-9", {}, 1, "quend-kivo: Start failed: the display cannot be opened (WAYLAND_DISPLAY=wayland-9).\n"},
        {"DISPLAY=:7301", {"--bogus"}, 2, "Unknown option 'bogus'.\n\nUsage: "},
        {"DISPLAY=:7301", {"-style", "Fusion", "--reverse"}, 1, "quend-kivo: Start failed: the display cannot be opened (DISPLAY=:7301).\n"},
    };
    for (const auto &[display, arguments, exitCode, says] : cases) {
        QProcess program;
        program.setEnvironment({display});
        program.start(QK_PROGRAM, arguments);
        ASSERT_TRUE(program.waitForFinished(30000));
        const QString out = program.readAllStandardOutput(), error = program.readAllStandardError();
        EXPECT_EQ(program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1, exitCode) << error.toStdString();
        EXPECT_TRUE(exitCode ? error.startsWith(says) && out.isEmpty() : out.endsWith(says) && error.isEmpty()) << error.toStdString();
    }
}
