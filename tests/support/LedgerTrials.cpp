#include "support/LedgerTrials.h"

#include "KivoCore/radio/ClientActivity.h"
#include "support/RunTask.h"

#include <gtest/gtest.h>

#include <random>

namespace kivo::test {

namespace {

template <typename T>
void quietly(QCoro::Task<T> task)
{
    try {
        runTask(std::move(task));
    } catch (...) {
    }
}

QList<LedgerStep> randomSteps(const QList<LedgerStep> &peerSteps, quint32 seed)
{
    std::mt19937 random(seed);
    // The client's own steps come more often than the peer's.
    QList<LedgerStep> pool{LedgerStep::Key, LedgerStep::Key, LedgerStep::Key, LedgerStep::Unkey,
                           LedgerStep::SendCW, LedgerStep::Leave, LedgerStep::Leave};
    pool += peerSteps;
    QList<LedgerStep> steps;
    const int length = std::uniform_int_distribution<int>(3, 16)(random);
    std::uniform_int_distribution<qsizetype> pick(0, pool.size() - 1);
    for (int i = 0; i < length; ++i)
        steps.append(pool.at(pick(random)));
    return steps;
}

QString describe(const QList<LedgerStep> &steps)
{
    QStringList names;
    for (LedgerStep step : steps)
        names << QString::fromLatin1(ledgerStepName(step));
    return names.join(u", ");
}

int environmentNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

} // namespace

const char *ledgerStepName(LedgerStep step)
{
    static const char *const names[] = {"Key",     "Unkey",  "SendCW",  "Leave", "OperatorKeys", "OperatorLetsGo",
                                        "RadioReleases", "Stall", "Release", "Cut", "Refuse", "Comply", "Slow",
                                        "Prompt",  "Abnormal", "StaleStates", "Unannounced"};
    return names[int(step)];
}

QString runLedgerTrial(const LedgerPeerFactory &makePeer, const QList<LedgerStep> &steps)
{
    const std::unique_ptr<LedgerPeer> peer = makePeer();
    if (!peer)
        return QStringLiteral("the peer did not start");
    RadioBackendBase &bridge = peer->bridge();
    QStringList events;
    bridge.setEventHandler([&events](const QString &line) { events << line; });
    ClientActivity activity;
    const auto leave = [&] {
        peer->clientLeaving = true;
        quietly(bridge.makeSafe(activity));
        peer->clientLeaving = false;
        activity = {};
    };
    for (LedgerStep step : steps) {
        switch (step) {
        case LedgerStep::Key:
            // As the CAT processor notes it: a key in flight is the client's.
            activity.noteKeyed(bridge.confirmedUnkeys());
            try {
                runTask(bridge.setTransmit(true));
                activity.noteKeyed(bridge.confirmedUnkeys());
            } catch (...) {
            }
            break;
        case LedgerStep::Unkey:
            peer->clientUnkeying = true;
            try {
                runTask(bridge.setTransmit(false));
                activity.keyedTransmitter = false;
            } catch (...) {
            }
            peer->clientUnkeying = false;
            break;
        case LedgerStep::SendCW:
            activity.startedCW = true;
            quietly(bridge.sendCW(QStringLiteral("CQ TEST")));
            break;
        case LedgerStep::Leave:
            leave();
            break;
        default:
            peer->act(step);
        }
    }
    if (!peer->restore())
        return QStringLiteral("the bridge was not ready again once the link worked");
    leave();
    peer->clientLeaving = true;
    try {
        runTask(bridge.stop());
    } catch (const TaskTimedOut &) {
        return QStringLiteral("the stop did not end");
    }
    const qint64 atStop = peer->written();
    // Nothing can announce that nothing more comes: a short look.
    settle(50ms);
    if (peer->written() != atStop)
        return QStringLiteral("the bridge wrote after its stop ended");
    if (peer->keyOfOursStands())
        return QStringLiteral("a key of the bridge's stands after the stop; events: ") + events.join(u" / ");
    if (peer->cwOfOursStands())
        return QStringLiteral("CW of the bridge's stands after the stop");
    if (peer->operatorCuts() > 0)
        return QStringLiteral("the operator's own transmission was cut");
    for (const QString &line : std::as_const(events)) {
        if (line.contains(QLatin1String("check that the transmitter is not keyed")))
            return QStringLiteral("the stop warned of a key that does not stand");
        if (line.startsWith(QLatin1String("Unkey not sent at stop")) && !peer->operatorHolds())
            return QStringLiteral("the stop spoke of the operator's transmission, which does not stand");
    }
    return {};
}

void exploreLedger(const LedgerPeerFactory &makePeer, int seeds)
{
    QList<LedgerStep> peerSteps;
    if (const auto probe = makePeer())
        peerSteps = probe->peerSteps();
    ASSERT_FALSE(peerSteps.isEmpty());
    const int only = environmentNumber("QK_LEDGER_SEED", 0);
    const int count = only ? 1 : environmentNumber("QK_LEDGER_SEEDS", seeds);
    for (int i = 0; i < count; ++i) {
        const quint32 seed = only ? quint32(only) : quint32(i + 1);
        QList<LedgerStep> steps = randomSteps(peerSteps, seed);
        QString failure = runLedgerTrial(makePeer, steps);
        if (failure.isEmpty())
            continue;
        // The shortest sequence that still fails, one step left out at a time.
        for (qsizetype at = steps.size() - 1; at >= 0; --at) {
            QList<LedgerStep> shorter = steps;
            shorter.removeAt(at);
            const QString again = runLedgerTrial(makePeer, shorter);
            if (!again.isEmpty()) {
                steps = shorter;
                failure = again;
            }
        }
        ADD_FAILURE() << "seed " << seed << ": " << failure.toStdString() << "\n  steps: " << describe(steps).toStdString();
    }
}

} // namespace kivo::test
