// The CAT "FA;" round trip over loopback against the simulator, with the
// station monitor shown and repainting (a frequency change every 50 ms,
// animations on) and with no window. The windows share the main thread with
// the servers, so the monitor's cost shows as latency here. Counters give
// the median and the 99th percentile in microseconds. A second run
// measures the share of a core the process uses while idle with both
// windows open and the bridge running, and counts what it paints then.

#include "QuendKivoApp/OfflineModel.h"
#include "QuendKivoApp/configuration/ContentView.h"
#include "QuendKivoApp/kit/Animations.h"
#include "QuendKivoApp/model/AppModel.h"
#include "QuendKivoApp/monitor/StationMonitorWindow.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <memory>
#include <sys/resource.h>

using namespace kivo;

namespace {

bool pumpUntil(const std::function<bool()> &done, int milliseconds = 5000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    return done();
}

bool connectClient(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return pumpUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; });
}

std::unique_ptr<AppModel> simulatorModel(const QTemporaryDir &directory)
{
    auto model = makeOfflineModel(directory.filePath(QStringLiteral("settings.ini")));
    AppConfiguration configuration = model->configuration();
    configuration.connectionKind = AppConfiguration::ConnectionKind::Simulator;
    model->setConfiguration(configuration);
    return model;
}

void catRoundTrip(benchmark::State &state)
{
    const bool withMonitor = state.range(0) != 0;
    animations::setEnabled(true);
    QTemporaryDir directory;
    const auto model = simulatorModel(directory);
    std::unique_ptr<StationMonitorWindow> monitor;
    if (withMonitor) {
        monitor = std::make_unique<StationMonitorWindow>(*model);
        monitor->show();
    }
    model->start();
    QTcpSocket client;
    QTcpSocket tuner;
    if (!pumpUntil([&] { return model->isRunning(); }) || !connectClient(client, model->catServerPort())
        || !connectClient(tuner, model->catServerPort())) {
        state.SkipWithError("the bridge did not start");
        return;
    }
    QTimer changes;
    int repaints = 0;
    bool flip = false;
    if (monitor)
        QObject::connect(monitor.get(), &StationMonitorWindow::telemetryRenderReported, [&] { ++repaints; });
    QObject::connect(&changes, &QTimer::timeout, [&] {
        flip = !flip;
        tuner.write(flip ? "FA00014074000;" : "FA00014075000;");
        tuner.readAll();
    });
    changes.start(50);

    std::vector<double> micros;
    QByteArray reply;
    for (auto _ : state) {
        reply.clear();
        QElapsedTimer clock;
        clock.start();
        client.write("FA;");
        pumpUntil([&] {
            reply += client.readAll();
            return reply.endsWith(';');
        });
        micros.push_back(double(clock.nsecsElapsed()) / 1000.0);
        // Requests 2 ms apart, so the run spans many changes and their repaints.
        QDeadlineTimer pause(2);
        pumpUntil([&] { return pause.hasExpired(); });
    }
    changes.stop();
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
        state.counters["p50_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    }
    state.counters["renders"] = repaints;
    model->stop();
    pumpUntil([&] { return !model->isStopping(); });
}

// Counts the paint events the application delivers while it lives.
struct PaintCounter : QObject {
    PaintCounter() { qApp->installEventFilter(this); }
    ~PaintCounter() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
    int count = 0;
};

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void idleWithBothWindows(benchmark::State &state)
{
    animations::setEnabled(true);
    QTemporaryDir directory;
    const auto model = simulatorModel(directory);
    ContentView configurationWindow(*model);
    StationMonitorWindow monitor(*model);
    configurationWindow.show();
    monitor.show();
    model->start();
    pumpUntil([&] { return model->isRunning() && model->isRadioConnected(); });
    // Idle starts once the windows are drawn and the start-up's own changes have settled.
    pumpUntil([] { return false; }, 1000);
    PaintCounter paints;
    double share = 0;
    for (auto _ : state) {
        const double before = processCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        // Idle means waiting in the event loop, not polling it.
        QEventLoop loop;
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        share = (processCpuSeconds() - before) / (double(clock.nsecsElapsed()) / 1e9);
    }
    state.counters["core_percent"] = share * 100;
    state.counters["paints"] = paints.count;
    model->stop();
    pumpUntil([&] { return !model->isStopping(); });
}

} // namespace

BENCHMARK(idleWithBothWindows)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(catRoundTrip)->ArgName("monitor")->Arg(0)->Arg(1)->Iterations(3000)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
