#include "KivoCore/support/Numbers.h"

#include <benchmark/benchmark.h>

static void parseFrequency(benchmark::State &state)
{
    const QString text = QStringLiteral("00014074000");
    for (auto _ : state)
        benchmark::DoNotOptimize(kivo::parseStrictInteger(text));
}
BENCHMARK(parseFrequency);

static void formatMegahertz(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(kivo::formatFixed(14.074, 6));
}
BENCHMARK(formatMegahertz);

BENCHMARK_MAIN();
