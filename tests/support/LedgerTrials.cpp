#include "support/LedgerTrials.h"

#include "KivoCore/radio/CATCommandProcessor.h"
#include "KivoCore/radio/ClientActivity.h"
#include "KivoCore/radio/RigCtlCommandProcessor.h"
#include "KivoCore/support/Async.h"
#include "support/RunTask.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

namespace kivo::test {

namespace {

QList<LedgerStep> randomSteps(const QList<LedgerStep> &peerSteps, const QList<LedgerStep> &modes, quint32 seed)
{
    std::mt19937 random(seed);
    QList<LedgerStep> steps;
    for (LedgerStep mode : modes) {
        if (random() % 3 == 0)
            steps.append(mode);
    }
    // The clients' own steps come twice as often as the peer's, and move
    // from one client to the next often, so their steps overlap.
    QList<LedgerStep> pool;
    for (int i = 0; i < 2; ++i)
        pool += {LedgerStep::Key,    LedgerStep::Key,   LedgerStep::Key,        LedgerStep::Unkey,
                 LedgerStep::Unkey,  LedgerStep::SendCW, LedgerStep::Leave,     LedgerStep::Leave,
                 LedgerStep::NextClient, LedgerStep::NextClient, LedgerStep::NextClient};
    pool += {LedgerStep::Wait, LedgerStep::UnkeyAsNextKeys, LedgerStep::LeaveAsNextKeys, LedgerStep::KeyAsNextKeys,
             LedgerStep::LeaveWithNext};
    pool += peerSteps;
    const int length = std::uniform_int_distribution<int>(3, 20)(random);
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

// QK_LEDGER_SHARD=k/n: every n-th trial from the k-th, so that shards run
// side by side.
std::pair<qsizetype, qsizetype> shard()
{
    const QStringList shard = qEnvironmentVariable("QK_LEDGER_SHARD").split(u'/');
    if (shard.size() != 2)
        return {0, 1};
    return {shard.at(0).toInt(), std::max(1, shard.at(1).toInt())};
}

// Peer steps after which a key of a client's may be gone at the peer's own will.
bool mayEndKeys(LedgerStep step)
{
    switch (step) {
    case LedgerStep::OperatorKeys:
    case LedgerStep::OperatorLetsGo:
    case LedgerStep::RadioReleases:
    case LedgerStep::Cut:
    case LedgerStep::Abnormal:
        return true;
    default:
        return false;
    }
}

// The lines that say a debt arose, or that the stop left one.
bool saysDebt(const QString &line)
{
    return line.startsWith(QLatin1String("Unkey not confirmed")) || line.startsWith(QLatin1String("CW clear not confirmed"))
        || line.startsWith(QLatin1String("Owed unkey not sent")) || line.startsWith(QLatin1String("The radio did not confirm"))
        || line.startsWith(QLatin1String("Unkey not sent at stop"));
}

// Up to three clients of the bridge, each with its own connection's
// activity, whose steps run in order through the real processors.
class Clients {
public:
    explicit Clients(LedgerPeer &peer)
        : m_peer(peer),
          m_radio(std::shared_ptr<RadioControlling>(), &peer.bridge()),
          m_cat(m_radio, true),
          m_rigCtl(m_radio, true)
    {
    }

    void add(int client, LedgerStep step)
    {
        Client &c = m_clients[std::size_t(client)];
        c.queue.append(step);
        if (!c.busy)
            launch(serve(client));
    }
    bool busy(int client) const { return m_clients[std::size_t(client)].busy; }
    bool idle() const
    {
        return std::none_of(m_clients.begin(), m_clients.end(), [](const Client &c) { return c.busy; });
    }
    // Only a request that hangs outlasts this: every time-out of the bridge's ends one far sooner.
    bool waitIdle() { return waitUntil([this] { return idle(); }, 4 * patience); }
    // A client whose key was taken and not undone since, by itself or by
    // the peer: it must stand whatever the others, a departure or a debt do.
    bool anyHolds() const
    {
        return std::any_of(m_clients.begin(), m_clients.end(),
                           [this](const Client &c) { return c.holds && c.link == m_peer.links(); });
    }
    // A client that may hold a key the radio took: a tune, or one under the operator's, too.
    bool anyMayHold() const
    {
        return std::any_of(m_clients.begin(), m_clients.end(), [](const Client &c) { return c.keyed || c.keying; });
    }
    // The peer may have ended every key of its own accord.
    void peerReleased()
    {
        ++m_releases;
        for (Client &c : m_clients)
            c.holds = false;
    }
    // Departures that left a debt behind, and those ended.
    int unsafeDepartures = 0;
    int departures = 0;

private:
    struct Client {
        std::shared_ptr<ClientActivity> activity = std::make_shared<ClientActivity>();
        QList<LedgerStep> queue;
        bool busy = false;
        bool holds = false;
        bool keyed = false;
        bool keying = false;
        int link = 0;
    };

    QCoro::Task<void> serve(int client)
    {
        Client &c = m_clients[std::size_t(client)];
        c.busy = true;
        while (!c.queue.isEmpty())
            co_await perform(client, c.queue.takeFirst());
        c.busy = false;
    }
    QCoro::Task<void> perform(int client, LedgerStep step)
    {
        Client &c = m_clients[std::size_t(client)];
        const bool rigCtl = client == 1;
        switch (step) {
        case LedgerStep::Key: {
            const qint64 releases = m_releases;
            const qint64 unkeys = m_unkeys;
            // A key taken under the operator's microphone is the operator's transmission.
            const bool operatorHeld = m_peer.operatorHolds();
            c.link = m_peer.links();
            c.keying = true;
            bool taken = false;
            if (rigCtl)
                taken = co_await m_rigCtl.handle(QStringLiteral("T 1"), c.activity) == QLatin1String("RPRT 0\n");
            else
                taken = !(co_await m_cat.handle(client == 2 ? QStringLiteral("TX2") : QStringLiteral("TX"), c.activity));
            // A tune ends of its own accord on some radios.
            c.holds = taken && client != 2 && releases == m_releases && unkeys == m_unkeys && !operatorHeld
                && !m_peer.operatorHolds();
            c.keyed = c.keyed || (taken && unkeys == m_unkeys);
            c.keying = false;
            break;
        }
        case LedgerStep::Unkey:
            // One transmitter: its unkey is everyone's.
            ++m_unkeys;
            for (Client &each : m_clients)
                each.holds = false;
            ++m_peer.clientUnkeying;
            // A refused unkey lets go of nothing.
            if (rigCtl ? co_await m_rigCtl.handle(QStringLiteral("T 0"), c.activity) == QLatin1String("RPRT 0\n")
                       : !(co_await m_cat.handle(QStringLiteral("RX"), c.activity))) {
                for (Client &each : m_clients)
                    each.keyed = false;
            }
            --m_peer.clientUnkeying;
            break;
        case LedgerStep::SendCW:
            // rigctld has no CW; the text holds a word of the protocol.
            if (!rigCtl)
                co_await m_cat.handle(QStringLiteral("KY CQ IF"), c.activity);
            break;
        case LedgerStep::Leave: {
            // As the server does once the connection's requests are answered.
            c.holds = c.keyed = false;
            ++m_peer.leaving;
            const ClientActivity activity = *c.activity;
            c.activity = std::make_shared<ClientActivity>();
            bool safe = true;
            try {
                safe = co_await m_peer.bridge().makeSafe(activity);
            } catch (...) {
            }
            // Not known unkeyed may be another client's key: only a debt must be said.
            unsafeDepartures += !safe && (m_peer.bridge().unkeyOwed() || m_peer.bridge().keyerClearOwed());
            --m_peer.leaving;
            ++departures;
            break;
        }
        default:
            break;
        }
    }

    LedgerPeer &m_peer;
    std::shared_ptr<RadioControlling> m_radio;
    CATCommandProcessor m_cat;
    RigCtlCommandProcessor m_rigCtl;
    std::array<Client, 3> m_clients;
    qint64 m_releases = 0;
    qint64 m_unkeys = 0;
};

} // namespace

const char *ledgerStepName(LedgerStep step)
{
    static const char *const names[] = {
        "Key",    "Unkey",       "SendCW",     "Leave",        "NextClient", "Wait",      "UnkeyAsNextKeys",
        "LeaveAsNextKeys", "KeyAsNextKeys", "LeaveWithNext", "OperatorKeys",
        "OperatorLetsGo", "RadioReleases", "Stall", "Release", "Cut",        "Refuse",    "Comply",
        "Slow",   "Prompt",      "Abnormal",   "StaleStates",  "Unannounced", "RefuseClear", "RefuseTune",
        "CWKeys", "LoseAnswer", "LagsStates", "NamesTune", "RefuseUnkey", "RefuseKeys", "DropsOwedUnkey",
        "ActsLate", "Steady"};
    return names[int(step)];
}

QString runLedgerTrial(const LedgerPeerFactory &makePeer, const QList<LedgerStep> &steps, bool together,
                       quint32 seed)
{
    std::unique_ptr<LedgerPeer> peer = makePeer();
    if (!peer)
        return QStringLiteral("the peer did not start");
    RadioBackendBase &bridge = peer->bridge();
    QStringList events;
    bridge.setEventHandler([&events](const QString &line) { events << line; });
    auto owned = std::make_unique<Clients>(*peer);
    Clients &clients = *owned;
    std::mt19937 random(seed);
    int client = 0;
    // A client's request that never ends holds the peer and the clients: both are left alive.
    const auto hung = [&peer, &owned] {
        (void)peer.release();
        (void)owned.release();
        return QStringLiteral("a client's request never ended");
    };
    // The peer acts on what reached it in its own time.
    const auto heldKeysStand = [&peer, &clients] {
        return !clients.anyHolds() || peer->holdsBack() || waitUntil([&peer] { return peer->keyOfOursStands(); });
    };
    // A failure, with what the events log said up to it.
    const auto withEvents = [&events](const char *failure) {
        return QString::fromLatin1(failure) + QStringLiteral("; events: ") + events.join(u" / ");
    };
    const auto said = [&events](const char *warning) {
        return std::any_of(events.cbegin(), events.cend(),
                           [warning](const QString &line) { return line.startsWith(QLatin1String(warning)); });
    };
    // After each departure, not only the last.
    int judgedDepartures = 0;
    const auto departureLeftKey = [&]() -> QString {
        if (std::exchange(judgedDepartures, clients.departures) == clients.departures || !peer->keyOfOursStands())
            return {};
        const auto excused = [&] {
            return clients.anyMayHold() || !peer->answers() || peer->operatorHolds()
                || said("The radio did not confirm the unkey sent again; it is not repeated until");
        };
        if (waitUntil([&] { return !peer->keyOfOursStands() || excused(); }))
            return {};
        return withEvents("a departed client's key stands while no client holds one");
    };
    // A quit may come at any moment: what of ours stands must be what the
    // stop would undo.
    const auto stopWouldMiss = [&peer, &bridge, &withEvents]() -> QString {
        const auto missed = [&] {
            return (peer->keyOfOursStands() && !bridge.keyOutstanding())
                || (peer->cwOfOursStands() && !bridge.cwOutstanding() && !bridge.keyerClearOwed());
        };
        if (!missed() || waitUntil([&] { return !missed(); }))
            return {};
        return withEvents("the bridge forgot a key or CW of its own that stands");
    };
    // Once the last client left and the link works: judged before any stop,
    // which would undo what was left standing.
    const auto judgeDeparted = [&]() -> QString {
        if (!peer->restore())
            return QStringLiteral("the bridge was not ready again after the last departure");
        const auto standing = [&peer] { return peer->keyOfOursStands() || peer->cwOfOursStands(); };
        if (peer->operatorHolds()) {
            // Our unkey waits for the operator, and says so.
            waitUntil([&] { return !peer->keyOfOursStands() || std::any_of(events.cbegin(), events.cend(), saysDebt); });
            if (peer->keyOfOursStands() && std::none_of(events.cbegin(), events.cend(), saysDebt))
                return withEvents("a key left under the operator's transmission is not said");
            peer->act(LedgerStep::OperatorLetsGo, random());
        }
        // Without a key source an owed unkey is sent again once a link; one
        // spent on a link that was not answering waits, as said, for the next.
        const auto waitsForLink = [&] {
            return said("The radio did not confirm the unkey sent again; it is not repeated until");
        };
        waitUntil([&] { return !standing() || (peer->keyOfOursStands() ? waitsForLink() : peer->cwPlayedLate()); });
        if (peer->keyOfOursStands() && waitsForLink()) {
            peer->act(LedgerStep::Cut, random());
            if (!peer->restore())
                return QStringLiteral("the bridge was not ready again after the link was cut");
            waitUntil([&] { return !peer->keyOfOursStands() && (!peer->cwOfOursStands() || peer->cwPlayedLate()); });
        }
        if (peer->keyOfOursStands())
            return withEvents("a key of the bridge's stands after the last departure");
        if (peer->cwOfOursStands())
            return peer->cwPlayedLate() ? stopWouldMiss() : withEvents("CW of the bridge's stands after the last departure");
        return {};
    };
    for (LedgerStep step : steps) {
        switch (step) {
        case LedgerStep::Key:
        case LedgerStep::Unkey:
        case LedgerStep::SendCW:
        case LedgerStep::Leave:
        {
            // The next step starts once this one's first words reached the
            // peer, or it ended without any, not once it is answered.
            const qint64 before = peer->received();
            clients.add(client, step);
            waitUntil([&] { return peer->received() != before || !clients.busy(client); }, 1s);
            if (!together && !clients.waitIdle())
                return hung();
            break;
        }
        case LedgerStep::UnkeyAsNextKeys:
        case LedgerStep::LeaveAsNextKeys:
        case LedgerStep::KeyAsNextKeys:
        case LedgerStep::LeaveWithNext:
            clients.add(client, step == LedgerStep::UnkeyAsNextKeys ? LedgerStep::Unkey
                                : step == LedgerStep::KeyAsNextKeys ? LedgerStep::Key
                                                                    : LedgerStep::Leave);
            clients.add((client + 1) % 3, step == LedgerStep::LeaveWithNext ? LedgerStep::Leave : LedgerStep::Key);
            if (!together && !clients.waitIdle())
                return hung();
            break;
        case LedgerStep::NextClient:
            client = (client + 1) % 3;
            break;
        case LedgerStep::Wait:
            if (!clients.waitIdle())
                return hung();
            if (!heldKeysStand())
                return withEvents("a key a client still holds was undone");
            if (const QString missed = stopWouldMiss(); !missed.isEmpty())
                return missed;
            break;
        default:
            if (mayEndKeys(step))
                clients.peerReleased();
            peer->act(step, random());
        }
        if (const QString failure = departureLeftKey(); !failure.isEmpty())
            return failure;
    }
    if (!clients.waitIdle())
        return hung();
    // In one seed of four the clients leave while the peer refuses or
    // stalls: what they could not undo is owed. A peer that refuses does so
    // twice more on the same link, to a new key's departure: several debts
    // fall on one connection, each to be sent again.
    if (seed % 4 == 3) {
        const LedgerStep failing = random() % 2 ? LedgerStep::Refuse : LedgerStep::Stall;
        const bool offered = peer->peerSteps().contains(failing);
        for (int round = 0; round < (offered && failing == LedgerStep::Refuse ? 3 : 1); ++round) {
            if (round > 0) {
                if (const QString failure = judgeDeparted(); !failure.isEmpty())
                    return failure;
                clients.add(0, LedgerStep::Key);
                if (!clients.waitIdle())
                    return hung();
            }
            if (offered)
                peer->act(failing, random());
            for (int each = 0; each < 3; ++each)
                clients.add(each, LedgerStep::Leave);
            if (!clients.waitIdle())
                return hung();
            if (const QString failure = departureLeftKey(); !failure.isEmpty())
                return failure;
        }
    }
    if (!peer->restore())
        return QStringLiteral("the bridge was not ready again once the link worked");
    // What is owed is paid once the link works again, and never over a key
    // a client still holds.
    waitUntil([&bridge] { return !bridge.unkeyOwed() && !bridge.keyerClearOwed(); }, 1s);
    if (!heldKeysStand())
        return withEvents("a key a client still holds was undone");
    // A quit hands the clients still connected to the stop: one seed in four.
    const bool quit = seed % 4 == 0;
    if (!quit) {
        // The clients go at once, or in one seed of four one after another,
        // each sparing the keys the others still hold; what they could not
        // undo is the bridge's to pay once the link works again.
        const bool inTurn = seed % 4 == 1;
        for (int each = 0; each < 3; ++each) {
            clients.add(each, LedgerStep::Leave);
            if (inTurn && !clients.waitIdle())
                return hung();
            if (inTurn && !heldKeysStand())
                return withEvents("a key a client still holds was undone");
            if (const QString failure = inTurn ? departureLeftKey() : QString(); !failure.isEmpty())
                return failure;
        }
        if (!clients.waitIdle())
            return hung();
        if (const QString failure = departureLeftKey(); !failure.isEmpty())
            return failure;
        if (const QString failure = judgeDeparted(); !failure.isEmpty())
            return failure;
    }
    peer->stopping = true;
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
    // A link the peer closed under the stop's last words ends its one pass:
    // what stands must then be said.
    // The stop never cuts the operator's transmission, and says what of ours it left under it.
    if (peer->keyOfOursStands() && !(peer->closedAtStop() && said("The radio did not confirm the last unkey"))
        && !(peer->operatorHolds() && said("Unkey not sent at stop")))
        return withEvents("a key of the bridge's stands after the stop");
    if (peer->cwOfOursStands() && !(peer->closedAtStop() && said("The radio did not confirm the last CW clear"))
        && !(peer->cwPlayedLate() && said("CW the radio did not answer may still be sent after the stop")))
        return withEvents("CW of the bridge's stands after the stop");
    if (peer->operatorCuts() > 0)
        return QStringLiteral("the operator's own transmission was cut");
    if (!peer->broken.isEmpty())
        return peer->broken;
    if (clients.unsafeDepartures > 0 && std::none_of(events.cbegin(), events.cend(), saysDebt))
        return withEvents("a departure left a debt the events log does not mention");
    for (const QString &line : std::as_const(events)) {
        if (line.contains(QLatin1String("check that the transmitter is not keyed")) && !peer->closedAtStop())
            return QStringLiteral("the stop warned of a key that does not stand");
        if (line.startsWith(QLatin1String("Unkey not sent at stop")) && !peer->operatorHolds())
            return QStringLiteral("the stop spoke of the operator's transmission, which does not stand");
        if (line.startsWith(QLatin1String("The radio acted late on a key")) && !peer->mayActLate())
            return withEvents("the events log told of a late act on a key the radio answered");
    }
    return {};
}

void exploreLedger(const LedgerPeerFactory &makePeer, int seeds)
{
    QList<LedgerStep> peerSteps;
    QList<LedgerStep> modes;
    if (const auto probe = makePeer()) {
        peerSteps = probe->peerSteps();
        modes = probe->modes();
    }
    ASSERT_FALSE(peerSteps.isEmpty());
    const int only = environmentNumber("QK_LEDGER_SEED", 0);
    const int count = only ? 1 : environmentNumber("QK_LEDGER_SEEDS", seeds);
    const auto [first, shards] = only ? std::pair<qsizetype, qsizetype>{0, 1} : shard();
    for (qsizetype i = first; i < count; i += shards) {
        const quint32 seed = only ? quint32(only) : quint32(i + 1);
        QList<LedgerStep> steps = randomSteps(peerSteps, modes, seed);
        QString failure = runLedgerTrial(makePeer, steps, true, seed);
        if (failure.isEmpty())
            continue;
        // The shortest sequence that still fails, one step left out at a time.
        for (qsizetype at = steps.size() - 1; at >= 0; --at) {
            QList<LedgerStep> shorter = steps;
            shorter.removeAt(at);
            const QString again = runLedgerTrial(makePeer, shorter, true, seed);
            if (!again.isEmpty()) {
                steps = shorter;
                failure = again;
            }
        }
        ADD_FAILURE() << "seed " << seed << ": " << failure.toStdString() << "\n  steps: " << describe(steps).toStdString();
        // One is enough to mend; the rest would take long to shrink.
        return;
    }
}

void exploreEveryTwoSteps(const LedgerPeerFactory &makePeer)
{
    QList<LedgerStep> each{LedgerStep::Key,  LedgerStep::Unkey,           LedgerStep::SendCW,
                           LedgerStep::Leave, LedgerStep::NextClient,     LedgerStep::Wait,
                           LedgerStep::UnkeyAsNextKeys, LedgerStep::LeaveAsNextKeys, LedgerStep::KeyAsNextKeys,
                           LedgerStep::LeaveWithNext};
    if (const auto probe = makePeer())
        each += probe->peerSteps();
    QList<QList<LedgerStep>> sequences;
    for (LedgerStep first : std::as_const(each)) {
        sequences.append({first});
        for (LedgerStep second : std::as_const(each))
            sequences.append({first, second});
    }
    const auto [first, shards] = shard();
    for (qsizetype i = first; i < sequences.size(); i += shards) {
        // Both ends of a trial, the last departures or a quit, come up for each.
        const QString failure = runLedgerTrial(makePeer, sequences.at(i), true, quint32(i + 1));
        if (!failure.isEmpty()) {
            ADD_FAILURE() << "seed " << i + 1 << ": " << failure.toStdString()
                          << "\n  steps: " << describe(sequences.at(i)).toStdString();
            return;
        }
    }
}

} // namespace kivo::test
