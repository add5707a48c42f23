// Writes PNG pictures of every tab of the configuration window and of the
// window at its minimum size, for people to look at. Asserts nothing.

#include "QuendKivoApp/configuration/ContentView.h"
#include "QuendKivoApp/kit/Animations.h"
#include "QuendKivoApp/OfflineModel.h"
#include "QuendKivoApp/model/AppModel.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocale>
#include <QStyleFactory>
#include <QTemporaryDir>

#include <cstdio>

using namespace kivo;

namespace {

void settle(const std::function<bool()> &done = [] { return false; }, int milliseconds = 300)
{
    QDeadlineTimer deadline(milliseconds);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void save(QWidget *window, const QDir &directory, const QString &name)
{
    settle();
    const QString path = directory.filePath(name + QStringLiteral(".png"));
    window->grab().save(path);
    std::printf("%s\n", qPrintable(path));
}

} // namespace

int main(int argc, char **argv)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    animations::setEnabled(false);
    const QDir directory(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots"));
    QDir().mkpath(directory.path());

    QTemporaryDir settings;
    const auto offline = makeOfflineModel(settings.filePath(QStringLiteral("settings.ini")));
    AppModel &model = *offline;

    ContentView window(model);
    window.show();
    model.start();
    settle([&] { return model.isRunning(); }, 5000);
    model.record(QStringLiteral("CAT: client connected from 127.0.0.1"));
    model.record(QStringLiteral("rigctld: client connected from 127.0.0.1"));

    const char *names[] = {"status", "activity", "spots", "rotator", "station", "configuration"};
    for (int tab = 0; tab < 6; ++tab) {
        window.selectTab(ContentView::WorkspaceTab(tab));
        save(&window, directory, QStringLiteral("%1-%2").arg(tab + 1).arg(QString::fromLatin1(names[tab])));
    }
    model.stop();
    settle([&] { return !model.isStopping(); }, 5000);
    window.selectTab(ContentView::WorkspaceTab::Configuration);
    save(&window, directory, QStringLiteral("7-configuration-stopped"));
    window.selectTab(ContentView::WorkspaceTab::Status);
    window.resize(window.minimumSize());
    save(&window, directory, QStringLiteral("8-window-minimum"));
    return 0;
}
