// Quend-Kivo: serves CAT and rigctld to logging software on loopback, with
// the station's stored settings choosing the radio backend.

#include "KivoCore/support/Async.h"
#include "KivoCore/support/KeychainSecretStore.h"
#include "QuendKivoApp/model/AppModel.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

using namespace kivo;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// A stop that hangs is abandoned after this long.
constexpr int stopLimitMilliseconds = 10000;

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Settings live in $XDG_CONFIG_HOME/tarnvale/Quend-Kivo.conf (INI).
    QCoreApplication::setOrganizationName(QStringLiteral("tarnvale"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("tarnvale.com"));
    QCoreApplication::setApplicationName(QStringLiteral("Quend-Kivo"));

    QNetworkAccessManager network;
    AppModelDependencies dependencies;
    dependencies.secrets = std::make_shared<KeychainSecretStore>();
    dependencies.network = &network;

    // Print each events-log line as it is recorded, the ones of creation included.
    auto print = [](const QString &line) {
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    };
    AppModel appModel(std::move(dependencies));
    AppModel *model = &appModel;
    for (const QString &line : model->events())
        print(line);
    QObject::connect(model, &AppModel::eventRecorded, &app, print);

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return 1;
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    bool stopping = false;
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        char byte;
        [[maybe_unused]] const auto count = ::read(signalPipe[0], &byte, 1);
        if (stopping)
            return;
        stopping = true;
        model->stop();
        QTimer::singleShot(stopLimitMilliseconds, &app, [] { QCoreApplication::exit(1); });
        auto finish = [](AppModel *m) -> QCoro::Task<void> {
            co_await m->waitForStop();
            QCoreApplication::quit();
        };
        launch(finish(model));
    });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGHUP, onSignal);

    QTimer::singleShot(0, model, [model] { model->startAutomatically(); });
    return app.exec();
}
