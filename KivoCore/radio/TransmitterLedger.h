#pragma once

// Every decision the bridge makes about the transmitter, in one plain
// class: no sockets, timers or coroutines. It is told what happened (a
// write begun, handed to the radio and ended; a client gone; a report of
// the transmitter; a session ready or lost; a tick; the time) and, after
// each of those, judges the whole picture again: what it must write on its
// own account now (an unkey, a keyer clear, a request for a fresh report),
// what the events log must say, and whether a waiting write may go.
//
// What the bridge keyed or queued stays "ours" until something proves it
// undone: an unkey (or clear) of ours the radio confirmed and acted on
// after it, or a report known to be made after it reached the radio.
// Whatever of ours may stand while no connected client holds a key the
// radio took is undone as soon as the radio can take it, unless the radio
// reports the operator's own transmission. A radio that does not name who
// keyed gets an owed unkey again at most once per connection.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <optional>

namespace kivo {

class TransmitterLedger {
public:
    // What the backend says of its radio; nothing else of it reaches here.
    struct Traits {
        // Its reports say who keyed: the operator's hardware or software.
        bool namesKeySource = false;
        // It acts on our writes in the order they were written.
        bool actsInOrder = true;
        // Its answer to a key or CW shows it has acted on the writes before:
        // otherwise only an unkey's or a clear's answer does.
        bool answersSets = true;
        // Its keyer's CW keys the transmitter while it plays.
        bool keyerKeys = false;
        // It can be asked for a report made after every write so far.
        bool canAsk = false;
        // It reports its transmitter at all; one that never does (the
        // simulator) need not be heard from before an unkey of ours goes.
        bool reports = true;
    };
    enum class Kind { Key, Unkey, CW, Clear };
    enum class Outcome { Answered, Refused, NoAnswer };
    enum class Source { Unknown, Software, Hardware };
    enum class Action { None, Unkey, Clear, Ask };
    using Client = qint64;
    // The bridge itself, undoing what it holds.
    static constexpr Client ownAccount = -1;
    // The bridge's windows: always present, gone only at a stop.
    static constexpr Client window = 0;
    // How long the radio may still act on a request it never answered, on
    // a radio that acts out of order. Past that the request is dead.
    static constexpr qint64 doubtMilliseconds = 60'000;

    TransmitterLedger() = default;
    explicit TransmitterLedger(Traits traits) : m_traits(traits) {}
    const Traits &traits() const { return m_traits; }
    // Before the first event: a backend's traits are known only once it is built.
    void setTraits(Traits traits) { m_traits = traits; }

    // --- Events -------------------------------------------------------------

    // A write begins and takes the next number; it waits until mayWrite().
    qint64 begin(Kind kind, Client client);
    // It goes to the radio now (false: withdrawn, it never reached it).
    void handed(qint64 number);
    void ended(qint64 number, Outcome outcome, const QString &reason = {});
    // `unreachable`: why nothing can reach the radio now, for the events log.
    void clientGone(Client client, const QString &unreachable = {});
    // A report of the transmitter, known to be made after the writes
    // numbered up to `follows` had reached the radio.
    void reported(bool keyed, Source source, qint64 follows);
    void sessionReady();
    // The transport closed, or a new one opens: what the radio said is past.
    void sessionLost();
    // A poll interval passed in a ready session.
    void tick();
    void timePassed(qint64 nowMilliseconds);
    // A stop's pass: no client holds anything any more.
    void stopping();
    // A start after a stop: new clients hold again.
    void resumed();
    void askBegun();
    void askEnded();

    // --- Outputs and questions ------------------------------------------------

    // What to write on the bridge's own account now.
    Action due() const;
    QStringList takeEvents() { return std::exchange(m_events, {}); }
    // When the time next matters, for the base's timer.
    std::optional<qint64> nextDeadline() const;
    bool mayWrite(qint64 number) const;
    // A client's key or CW that must be refused rather than written: an
    // unkey or clear the radio never answered may still act on a radio that
    // acts out of order, and would cut it.
    bool barred(qint64 number) const;
    // An unkey of the bridge's own that the radio's latest report, read
    // while it was under way, says would go over the operator's transmission:
    // what is left of it is not written.
    bool heldBack(qint64 number) const;
    // The writes up to `through` have ended and nothing of ours is due or
    // under way: a departure made then may end.
    bool settled(qint64 through) const;
    // The lines a stop ends with: what of ours may still stand.
    QStringList stopWarnings() const;

    qint64 sequence() const { return m_sequence; }
    // Every write up to this was handed to the radio (or withdrawn).
    qint64 handedThrough() const;
    // Every write up to this has ended.
    qint64 endedThrough() const;
    // A key of ours (a client's held key included) may stand.
    bool keyMayStand() const;
    bool cwMayStand() const;
    bool unkeyOwed() const;
    bool clearOwed() const;
    bool inDoubt() const;
    // All the ledger holds, for a checker to tell repeated states apart.
    QByteArray fingerprint() const;
    // Writes of the windows' handed to `client`: a caller that keyed
    // without saying who it was.
    void adopt(qint64 number, Client client, bool keyerToo);

private:
    enum class State { Waiting, UnderWay, Answered, Refused, NoAnswer, Withdrawn };
    struct Write {
        qint64 number = 0;
        Kind kind = Kind::Key;
        Client client = window;
        State state = State::Waiting;
        qint64 session = 0;
        // Event clock when handed and ended: on a radio that acts out of
        // order, a confirmation proves only what had ended before it went.
        qint64 handedAt = 0;
        qint64 endedAt = 0;
        qint64 handedTime = 0;
        // A key (or CW that keys) proven undone; CW proven cleared.
        bool undone = false;
        bool cleared = false;
        // Other clients' unkeys that went after this key and were not
        // refused: while any is left, it is no longer held.
        QList<qint64> releasedBy;
        // An undo of it failed; the events log was told (on an undo: what
        // it was sent for was); held back said.
        bool owed = false;
        bool said = false;
        bool heldSaid = false;
        bool clearOwed = false;
        bool clearSaid = false;
        // The session and tick in which an owed undo was sent again.
        std::optional<qint64> resentIn;
        qint64 resentEpoch = -1;
        qint64 clearResentEpoch = -1;
        // Never answered on a radio that acts out of order: it may still
        // act until then.
        std::optional<qint64> doubtUntil;
        // An own undo that is the first try at something of ours; one
        // sent for what was said unconfirmed or held back.
        bool first = false;
        bool held = false;
    };
    struct ClientRecord {
        Client id = window;
        bool connected = true;
        qint64 releasedThrough = 0;
        qint64 clearedThrough = 0;
    };

    static bool isOpen(State state) { return state == State::Waiting || state == State::UnderWay; }
    template <typename Predicate>
    bool anyWrite(Predicate predicate) const
    {
        return std::any_of(m_writes.cbegin(), m_writes.cend(), predicate);
    }
    void judge();
    Write *find(qint64 number);
    const Write *find(qint64 number) const;
    ClientRecord &client(Client id);
    const ClientRecord *clientIf(Client id) const;
    bool connected(Client id) const;
    bool keyEffect(const Write &w) const;
    bool handedOut(const Write &w) const;
    bool mayKey(const Write &w) const;
    bool mayQueue(const Write &w) const;
    bool claimedKey(const Write &w) const;
    bool claimedCW(const Write &w) const;
    // `undo` went after `w` at the radio; proves: and so undid it.
    bool covers(const Write &undo, const Write &w) const;
    bool proves(const Write &undo, const Write &w) const;
    bool clientKeyPending() const;
    bool ownUnderWay() const;
    bool underWay(Kind kind) const;
    bool operatorHolds() const;
    bool reportGate() const;
    bool unkeyWanted(bool ignoreOperator, bool firstOnly) const;
    bool unkeyAllowed(const Write &w) const;
    // `periodic`: CW the radio may still begin to play is cleared again
    // every tick, which waits for what else is due.
    bool clearWanted(bool firstOnly, bool periodic) const;
    bool askWanted() const;
    bool doubtActive(const Write &w) const;
    bool keyDoubtful() const;
    void settleUnkey(Write &undo);
    void failUnkey(Write &undo, const QString &reason);
    void settleClear(Write &undo);
    void failClear(Write &undo, const QString &reason);
    void release(const Write &unkey);
    void prune();
    void say(const QString &line) { m_events.append(line); }

    Traits m_traits;
    QList<Write> m_writes;
    QList<ClientRecord> m_clients;
    QStringList m_events;
    qint64 m_sequence = 0;
    qint64 m_clock = 0;
    qint64 m_now = 0;
    qint64 m_session = 0;
    qint64 m_epoch = 0;
    bool m_ready = false;
    bool m_stopping = false;
    bool m_tickedThisSession = false;
    struct Report {
        bool keyed = false;
        Source source = Source::Unknown;
        qint64 follows = 0;
    };
    std::optional<Report> m_report;
    // A keyed report made while a key was in doubt (or the first after a
    // link lost in doubt, which may show a late act it could not report
    // then) is judged as such past the doubt's bound, until one says idle.
    bool m_doubtUnheard = false;
    bool m_lateSuspect = false;
    bool m_asking = false;
    qint64 m_askedAt = -1;
    qint64 m_askEpoch = -1;
};

} // namespace kivo
