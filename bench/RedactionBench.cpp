#include "KivoCore/support/Redaction.h"

#include <benchmark/benchmark.h>

// A peer's line traced with debug on passes through here whatever its size,
// on the event loop: the time per byte must stay flat as the line grows.

static void redactRepeatedSecretNames(benchmark::State &state)
{
    const QString text = QStringLiteral("token.").repeated(state.range(0) / 6) + u'=';
    for (auto _ : state)
        benchmark::DoNotOptimize(kivo::redactedSecrets(text));
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(redactRepeatedSecretNames)->Arg(128 << 10)->Arg(300 << 10);

static void redactAgentStateMessage(benchmark::State &state)
{
    const QString member = QStringLiteral(R"("frequencyHz": 14074000, "mode": "DIGU", "token": "t-1", )");
    const QString text = u'{' + member.repeated(state.range(0) / member.size()) + u'}';
    for (auto _ : state)
        benchmark::DoNotOptimize(kivo::redactedSecrets(text));
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(redactAgentStateMessage)->Arg(4 << 10)->Arg(300 << 10);

// Hidden values that hold secret names, escaped JSON inside a JSON string.
static void redactNamesInsideHiddenValues(benchmark::State &state)
{
    const QString member = QStringLiteral(R"(token="password": \"secret\":\"s-1\", )");
    const QString text = member.repeated(state.range(0) / member.size());
    for (auto _ : state)
        benchmark::DoNotOptimize(kivo::redactedSecrets(text));
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(redactNamesInsideHiddenValues)->Arg(4 << 10)->Arg(300 << 10);

// A JSON document read as JSON, with JSON and a form body in its strings.
static void redactJsonDocument(benchmark::State &state)
{
    const QString member =
        QStringLiteral(R"({"mode":"DIGU","tokens":["t-1"],"payload":"{\"password\":\"p-1\",\"note\":\"pass=p-2\"}"},)");
    const QString text = u'[' + member.repeated(state.range(0) / member.size()) + QStringLiteral("{}]");
    for (auto _ : state)
        benchmark::DoNotOptimize(kivo::redactedSecrets(text));
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(redactJsonDocument)->Arg(4 << 10)->Arg(300 << 10);

BENCHMARK_MAIN();
