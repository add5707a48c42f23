// Cost of one CAT or rigctld request against the simulator, which never
// suspends, so a request runs to completion inside handle().

#include "KivoCore/radio/CATCommandProcessor.h"
#include "KivoCore/radio/RigCtlCommandProcessor.h"
#include "KivoCore/radio/SimulatedRadio.h"

#include <benchmark/benchmark.h>

using namespace kivo;

namespace {

std::shared_ptr<SimulatedRadio> simulator()
{
    return std::make_shared<SimulatedRadio>(
        RadioSnapshot({.frequencyHz = 14074000,
                       .mode = QStringLiteral("DIGU"),
                       .isConnected = true,
                       .slice = QStringLiteral("A"),
                       .station = QStringLiteral("Maestro")}),
        [](const RadioSnapshot &) {});
}

template <typename T>
QCoro::Task<void> store(QCoro::Task<T> task, T &out)
{
    out = co_await std::move(task);
}

void catRequest(benchmark::State &state, const char *request)
{
    CATCommandProcessor processor(simulator(), true);
    const QString command = QString::fromLatin1(request);
    std::optional<QString> answer;
    for (auto _ : state) {
        auto done = store(processor.handle(command), answer);
        benchmark::DoNotOptimize(answer);
    }
}

void rigCtlRequest(benchmark::State &state, const char *line)
{
    RigCtlCommandProcessor processor(simulator(), true);
    const QString request = QString::fromLatin1(line);
    QString answer;
    for (auto _ : state) {
        auto done = store(processor.handle(request), answer);
        benchmark::DoNotOptimize(answer);
    }
}

} // namespace

BENCHMARK_CAPTURE(catRequest, readFrequency, "FA");
BENCHMARK_CAPTURE(catRequest, setFrequency, "FA00007074000");
BENCHMARK_CAPTURE(catRequest, information, "IF");
BENCHMARK_CAPTURE(rigCtlRequest, readFrequency, "f");
BENCHMARK_CAPTURE(rigCtlRequest, setMode, "M PKTUSB 3000");

BENCHMARK_MAIN();
