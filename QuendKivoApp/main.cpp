// Quend-Kivo: serves CAT and rigctld to logging software on loopback.

#include "KivoCore/support/Async.h"
#include "KivoCore/radio/KivoError.h"
#include "KivoCore/radio/SimulatedRadio.h"
#include "QuendKivoApp/model/CommandBridge.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTime>

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

// Each line as the events log shows it: local time, two blanks, the message.
void printLine(const QString &message)
{
    std::printf("%s  %s\n", qPrintable(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))),
                qPrintable(message));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quend-Kivo"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("tarnvale.com"));

    const AppConfiguration configuration = AppConfiguration::firstRun();
    auto radio = std::make_shared<SimulatedRadio>(
        RadioSnapshot({.frequencyHz = 14074000,
                       .mode = QStringLiteral("DIGU"),
                       .isConnected = true,
                       .slice = configuration.sliceLetter,
                       .station = configuration.stationName}),
        [](const RadioSnapshot &) {});

    CommandBridge bridge(radio, printLine);
    try {
        bridge.start(configuration);
    } catch (const KivoError &error) {
        printLine(QStringLiteral("Start failed: ") + error.message());
        std::fprintf(stderr, "%s\n", qPrintable(error.message()));
        return 1;
    }
    printLine(QStringLiteral("Quend-Kivo started"));

    // Ctrl-C and SIGTERM stop the servers cleanly through the event loop.
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
        auto stopAll = [&]() -> QCoro::Task<void> {
            co_await bridge.stop();
            printLine(QStringLiteral("Quend-Kivo stopped"));
            QCoreApplication::quit();
        };
        launch(stopAll());
    });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    return app.exec();
}
