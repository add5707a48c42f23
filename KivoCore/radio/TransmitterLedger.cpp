#include "KivoCore/radio/TransmitterLedger.h"

#include <algorithm>

namespace kivo {

namespace {

const QString kUnkeyPaidLate = QStringLiteral("Unkey sent again after the radio answered");
const QString kKeyerClearedLate = QStringLiteral("CW cleared after the radio answered");
const QString kUnkeyHeldBack =
    QStringLiteral("Owed unkey not sent: the radio reports the operator's own transmission");
const QString kHeldUnkeySent = QStringLiteral("Owed unkey sent after the operator's transmission ended");
const QString kKeyerClearOwed = QStringLiteral("CW clear not confirmed: %1 It is sent again when the radio answers");
const QString kKeyerUnconfirmed =
    QStringLiteral("The radio did not confirm the last CW clear; CW sent for a logging program may still be queued");
const QString kUnkeyUnconfirmed =
    QStringLiteral("The radio did not confirm the last unkey; check that the transmitter is not keyed");
const QString kUnkeyOwed = QStringLiteral("Unkey not confirmed: %1 It is sent again when the radio answers");
const QString kUnkeyNotRepeated =
    QStringLiteral("The radio did not confirm the unkey sent again; it is not repeated until the radio reconnects");
const QString kStoppedBesideOperator =
    QStringLiteral("Unkey not sent at stop: the radio reports the operator's own transmission");
const QString kLateKeyUndone =
    QStringLiteral("The radio acted late on a key it had not answered; the transmitter is unkeyed");
const QString kStoppedInDoubt =
    QStringLiteral("A key request the radio did not answer may still key the transmitter after the stop");
const QString kStoppedCWInDoubt =
    QStringLiteral("CW the radio did not answer may still be sent after the stop");

} // namespace

// --- Events -------------------------------------------------------------------

qint64 TransmitterLedger::begin(Kind kind, Client who)
{
    Write write;
    write.number = ++m_sequence;
    write.kind = kind;
    write.client = who;
    // From the moment a client asks to unkey or clear, what it keyed or
    // queued before is no longer its to hold.
    if (who != ownAccount && kind == Kind::Unkey)
        client(who).releasedThrough = write.number;
    if (who != ownAccount && kind == Kind::Clear)
        client(who).clearedThrough = write.number;
    if (who != ownAccount)
        client(who);
    m_writes.append(write);
    judge();
    return write.number;
}

void TransmitterLedger::handed(qint64 number)
{
    Write *write = find(number);
    if (!write || write->state != State::Waiting)
        return;
    write->state = State::UnderWay;
    write->handedAt = ++m_clock;
    write->handedTime = m_now;
    write->session = m_session;
    if (write->kind == Kind::Unkey && write->client != ownAccount)
        release(*write);
    // An undo of ours, first try or sent again: on a radio that names no key
    // source each key gets one a connection; otherwise one a tick.
    if (write->client == ownAccount) {
        for (const Write &w : m_writes) {
            if ((write->kind == Kind::Unkey && mayKey(w) && !w.owed && proves(*write, w))
                || (write->kind == Kind::Clear && mayQueue(w) && !w.clearOwed && proves(*write, w)))
                write->first = true;
        }
        for (Write &w : m_writes) {
            if (write->kind == Kind::Unkey && mayKey(w) && proves(*write, w)) {
                w.resentIn = m_session;
                w.resentEpoch = m_epoch;
                write->held |= w.heldSaid;
                write->said |= w.said;
            }
            if (write->kind == Kind::Clear && mayQueue(w) && covers(*write, w)) {
                write->clearSaid |= w.clearSaid;
                w.clearResentEpoch = m_epoch;
                w.clearAtOnce = false;
            }
        }
    }
    judge();
}

void TransmitterLedger::ended(qint64 number, Outcome outcome, const QString &reason)
{
    Write *write = find(number);
    if (!write || !isOpen(write->state)) {
        judge();
        return;
    }
    if (write->state == State::Waiting) {
        write->state = State::Withdrawn;
        judge();
        return;
    }
    write->endedAt = ++m_clock;
    write->state = outcome == Outcome::Answered ? State::Answered
                 : outcome == Outcome::Refused  ? State::Refused
                                                : State::NoAnswer;
    // A refused unkey undid nothing: the keys it let go of are held again,
    // unless another unkey still out lets go of them.
    if (write->kind == Kind::Unkey && outcome == Outcome::Refused) {
        for (Write &w : m_writes)
            w.releasedBy.removeOne(number);
        write = find(number);
    }
    const bool doubtful = outcome == Outcome::NoAnswer && !m_traits.actsInOrder;
    // A radio that acts in order has acted on every older write of the
    // session once it answers a newer one: an unkey or clear it never
    // answered did its work.
    if (outcome == Outcome::Answered && m_traits.actsInOrder
        && (m_traits.answersSets || write->kind == Kind::Unkey || write->kind == Kind::Clear)) {
        for (Write &w : m_writes) {
            if (w.number >= number || w.session != write->session || w.state != State::NoAnswer)
                continue;
            if (w.kind == Kind::Unkey)
                settleUnkey(w);
            else if (w.kind == Kind::Clear)
                settleClear(w);
        }
        write = find(number);
    }
    // An unkey or clear never answered may still act too, and would cut a
    // key or CW written after it: those are refused until then (barred).
    if (doubtful) {
        write->doubtUntil = m_now + doubtMilliseconds;
        write->clearAtOnce = true;
    }
    switch (write->kind) {
    case Kind::Key:
    case Kind::CW:
        if (outcome == Outcome::Answered) {
            // The newest key (or CW) is what the station wants now: what an
            // older failure owed is merged into it, to be undone with it, and
            // sent again no more often than it is.
            const Write newest = *write;
            for (Write &w : m_writes) {
                if (w.number >= number || w.kind != newest.kind)
                    continue;
                if (newest.kind == Kind::Key) {
                    w.owed = newest.owed;
                    w.said = newest.said;
                    w.heldSaid = newest.heldSaid;
                    w.resentIn = newest.resentIn;
                    w.resentEpoch = newest.resentEpoch;
                } else {
                    w.clearOwed = newest.clearOwed;
                    w.clearSaid = newest.clearSaid;
                    w.clearResentEpoch = newest.clearResentEpoch;
                }
            }
        }
        break;
    case Kind::Unkey:
        if (outcome == Outcome::Answered)
            settleUnkey(*write);
        else
            failUnkey(*write, reason);
        break;
    case Kind::Clear:
        if (outcome == Outcome::Answered)
            settleClear(*write);
        else
            failClear(*write, reason);
        break;
    }
    judge();
}

void TransmitterLedger::clientGone(Client who, const QString &unreachable)
{
    if (who != window && who != ownAccount)
        client(who).connected = false;
    // What it leaves cannot be undone now: owed, and said so once, as a
    // failed undo is. While another client holds its key nothing is owed:
    // that key stands anyway, and goes when its client lets go.
    if (!m_ready && !m_stopping) {
        const bool keyHeld = anyWrite([this](const Write &w) { return claimedKey(w); });
        const bool keySaid = anyWrite([this](const Write &w) { return mayKey(w) && w.owed && w.said; });
        const bool cwSaid = anyWrite([this](const Write &w) { return mayQueue(w) && w.clearOwed && w.clearSaid; });
        bool keyUnsaid = false;
        bool cwUnsaid = false;
        for (Write &w : m_writes) {
            if (!keyHeld && mayKey(w) && !claimedKey(w) && !(w.kind == Kind::CW && claimedCW(w))) {
                keyUnsaid |= !w.said;
                w.owed = w.said = true;
            }
            if (mayQueue(w) && !claimedCW(w)) {
                cwUnsaid |= !w.clearSaid;
                w.clearOwed = w.clearSaid = true;
            }
        }
        if (cwUnsaid && !cwSaid)
            say(kKeyerClearOwed.arg(unreachable));
        if (keyUnsaid && !keySaid)
            say(kUnkeyOwed.arg(unreachable));
    }
    // CW the radio may still begin to play is cleared again at every departure.
    for (Write &w : m_writes) {
        if (mayQueue(w) && doubtActive(w))
            w.clearAtOnce = true;
    }
    judge();
}

void TransmitterLedger::reported(bool keyed, Source source, qint64 follows)
{
    m_report = Report{.keyed = keyed, .source = source, .follows = follows};
    if (!keyed)
        m_lateSuspect = false;
    else if (source != Source::Hardware && (m_doubtUnheard || keyDoubtful()))
        m_lateSuspect = true;
    m_doubtUnheard = false;
    if (!keyed) {
        // Idle after a key reached the radio: that key is gone. CW may not
        // have begun playing yet, so it proves nothing of the keyer.
        for (Write &w : m_writes) {
            if (w.kind == Kind::Key && handedOut(w) && w.number <= follows)
                w.undone = true;
        }
    }
    judge();
}

void TransmitterLedger::sessionReady()
{
    // What the radio said while the session was being set up counts.
    m_ready = true;
    ++m_session;
    ++m_epoch;
    m_tickedThisSession = false;
    judge();
}

void TransmitterLedger::sessionLost()
{
    m_ready = false;
    m_report.reset();
    m_doubtUnheard |= keyDoubtful();
    judge();
}

void TransmitterLedger::tick()
{
    ++m_epoch;
    m_tickedThisSession = true;
    judge();
}

void TransmitterLedger::timePassed(qint64 nowMilliseconds)
{
    m_now = std::max(m_now, nowMilliseconds);
    judge();
}

void TransmitterLedger::stopping()
{
    m_stopping = true;
    // Clients cut off by the stop leave no word of their own.
    for (ClientRecord &record : m_clients)
        record.connected = false;
    ++m_epoch;
    judge();
}

void TransmitterLedger::resumed()
{
    m_stopping = false;
    judge();
}

void TransmitterLedger::askBegun()
{
    m_asking = true;
    m_askedAt = handedThrough();
    m_askEpoch = m_epoch;
    judge();
}

void TransmitterLedger::askEnded()
{
    m_asking = false;
    judge();
}

// --- Proofs and failures --------------------------------------------------------

bool TransmitterLedger::covers(const Write &undo, const Write &w) const
{
    if (w.state == State::Waiting || w.state == State::Withdrawn || w.state == State::Refused)
        return false;
    return m_traits.actsInOrder ? w.number < undo.number : w.endedAt != 0 && w.endedAt < undo.handedAt;
}

bool TransmitterLedger::proves(const Write &undo, const Write &w) const
{
    if (!covers(undo, w))
        return false;
    // CW the radio may still begin to play is cleared only by a clear sent
    // once it no longer can.
    if (undo.kind == Kind::Clear && w.doubtUntil && undo.handedTime < *w.doubtUntil)
        return false;
    return true;
}

void TransmitterLedger::settleUnkey(Write &undo)
{
    // What it was sent for was said when it went; a report of its answer
    // may have settled that first.
    bool held = undo.held;
    bool said = undo.said;
    for (Write &w : m_writes) {
        if (!keyEffect(w) || w.undone || !proves(undo, w))
            continue;
        w.undone = true;
        held |= w.heldSaid;
        said |= w.said;
        w.owed = false;
    }
    if (undo.client != ownAccount || !(held || said))
        return;
    say(held ? kHeldUnkeySent : kUnkeyPaidLate);
    // One payment said, however many of our unkeys the radio is found to
    // have taken for it.
    for (Write &w : m_writes) {
        if (w.kind == Kind::Unkey && w.client == ownAccount)
            w.held = w.said = false;
    }
}

void TransmitterLedger::failUnkey(Write &undo, const QString &reason)
{
    bool unsaid = false;
    bool resent = false;
    for (Write &w : m_writes) {
        if (!mayKey(w) || claimedKey(w) || !proves(undo, w))
            continue;
        resent |= w.resentIn == undo.session && undo.client == ownAccount;
        w.owed = true;
        unsaid |= !w.said && !w.heldSaid;
    }
    if (m_stopping)
        return;
    if (unsaid && !operatorHolds()) {
        say(kUnkeyOwed.arg(reason));
        for (Write &w : m_writes) {
            if (w.owed)
                w.said = true;
        }
    }
    if (resent && !m_traits.namesKeySource)
        say(kUnkeyNotRepeated);
}

void TransmitterLedger::settleClear(Write &undo)
{
    bool said = undo.clearSaid;
    for (Write &w : m_writes) {
        if (w.kind != Kind::CW || !proves(undo, w))
            continue;
        if (!w.cleared)
            said |= w.clearSaid;
        w.cleared = true;
        w.clearOwed = false;
    }
    if (undo.client != ownAccount || !said)
        return;
    say(kKeyerClearedLate);
    for (Write &w : m_writes) {
        if (w.kind == Kind::Clear && w.client == ownAccount)
            w.clearSaid = false;
    }
}

void TransmitterLedger::failClear(Write &undo, const QString &reason)
{
    bool unsaid = false;
    for (Write &w : m_writes) {
        if (!mayQueue(w) || claimedCW(w) || !proves(undo, w))
            continue;
        w.clearOwed = true;
        unsaid |= !w.clearSaid;
        w.clearSaid = true;
    }
    if (unsaid && !m_stopping)
        say(kKeyerClearOwed.arg(reason));
}

// --- Judgement ------------------------------------------------------------------

void TransmitterLedger::release(const Write &unkey)
{
    for (Write &w : m_writes) {
        if (w.kind == Kind::Key && w.number < unkey.number && w.client != unkey.client)
            w.releasedBy.append(unkey.number);
    }
}

bool TransmitterLedger::keyEffect(const Write &w) const
{
    return w.kind == Kind::Key || (w.kind == Kind::CW && m_traits.keyerKeys);
}

bool TransmitterLedger::handedOut(const Write &w) const
{
    return w.state == State::UnderWay || w.state == State::Answered || w.state == State::NoAnswer;
}

bool TransmitterLedger::mayKey(const Write &w) const
{
    return keyEffect(w) && handedOut(w) && !w.undone;
}

bool TransmitterLedger::mayQueue(const Write &w) const
{
    return w.kind == Kind::CW && handedOut(w) && !w.cleared;
}

bool TransmitterLedger::connected(Client id) const
{
    if (m_stopping || id == ownAccount)
        return false;
    const ClientRecord *record = clientIf(id);
    return !record || record->connected;
}

// A key the radio took for a connected client that has not let go since.
bool TransmitterLedger::claimedKey(const Write &w) const
{
    return w.kind == Kind::Key && w.state == State::Answered && !w.undone && w.releasedBy.isEmpty() && connected(w.client)
        && w.number > clientIf(w.client)->releasedThrough;
}

bool TransmitterLedger::claimedCW(const Write &w) const
{
    return w.kind == Kind::CW && w.state == State::Answered && !w.cleared && connected(w.client)
        && w.number > clientIf(w.client)->clearedThrough;
}

bool TransmitterLedger::doubtActive(const Write &w) const
{
    return w.doubtUntil && m_now < *w.doubtUntil;
}

// A connected client's key or CW not yet answered: undoing now would cut
// what it is about to hold, so the undo waits for its answer.
bool TransmitterLedger::clientKeyPending() const
{
    return anyWrite([this](const Write &w) {
        return (w.kind == Kind::Key || w.kind == Kind::CW) && isOpen(w.state) && connected(w.client)
            && w.number > (w.kind == Kind::Key ? clientIf(w.client)->releasedThrough
                                               : clientIf(w.client)->clearedThrough);
    });
}

bool TransmitterLedger::ownUnderWay() const
{
    return anyWrite([](const Write &w) { return w.client == ownAccount && isOpen(w.state); });
}

// A client's own unkey or clear on its way decides first.
bool TransmitterLedger::underWay(Kind kind) const
{
    return anyWrite([kind](const Write &w) { return w.kind == kind && isOpen(w.state); });
}

// The radio's latest word shows the operator's own transmission.
bool TransmitterLedger::operatorHolds() const
{
    return m_report && m_report->keyed && m_report->source == Source::Hardware;
}

bool TransmitterLedger::reportGate() const
{
    return m_stopping || !m_traits.reports || m_report || m_tickedThisSession;
}

bool TransmitterLedger::unkeyAllowed(const Write &w) const
{
    if (!w.owed)
        return true;
    // Not twice in one tick: a radio that keeps refusing is not flooded.
    if (w.resentEpoch == m_epoch)
        return false;
    // The stop's one pass goes whatever was tried: nothing comes after it.
    if (m_traits.namesKeySource || m_stopping)
        return true;
    // Without a named source an unkey sent again could cut the operator:
    // once a connection, while the radio shows a key that may be ours or
    // has had a poll's time to say otherwise.
    return w.resentIn != m_session && (m_stopping || m_tickedThisSession || (m_report && m_report->keyed));
}

bool TransmitterLedger::unkeyWanted(bool ignoreOperator, bool firstOnly) const
{
    if (!m_ready || ownUnderWay() || !reportGate() || clientKeyPending() || underWay(Kind::Unkey)
        || (m_traits.keyerKeys && underWay(Kind::Clear)))
        return false;
    if (!ignoreOperator && operatorHolds())
        return false;
    const bool cwHeld = anyWrite([this](const Write &w) { return claimedCW(w); });
    bool wanted = false;
    for (const Write &w : m_writes) {
        if (claimedKey(w))
            return false;
        // On a radio that acts out of order an unkey sent beside a key
        // still on its way proves nothing of it: it waits for its answer.
        if (!m_traits.actsInOrder && keyEffect(w) && w.state == State::UnderWay)
            return false;
        if (mayKey(w) && !(w.kind == Kind::CW && cwHeld) && unkeyAllowed(w) && !(firstOnly && w.owed))
            wanted = true;
    }
    return wanted;
}

bool TransmitterLedger::clearWanted(bool firstOnly, bool periodic) const
{
    if (!m_ready || ownUnderWay() || clientKeyPending() || underWay(Kind::Clear))
        return false;
    const bool cwHeld = anyWrite([this](const Write &w) { return claimedCW(w); });
    bool wanted = false;
    for (const Write &w : m_writes) {
        // The keyer is one queue: a departed client's CW is cleared with a
        // connected one's beside it, which that client may send again.
        if (!m_traits.actsInOrder && w.kind == Kind::CW && w.state == State::UnderWay)
            return false;
        if (!mayQueue(w) || claimedCW(w))
            continue;
        if (firstOnly && w.clearOwed)
            continue;
        // CW the radio may still begin to play is cleared at once and at
        // every departure, and again every tick while no connected client's
        // CW would be cut with it, so that it stops soon after it starts.
        if (doubtActive(w) ? w.clearAtOnce || (periodic && !cwHeld && w.clearResentEpoch != m_epoch)
                           : (!w.clearOwed || w.clearResentEpoch != m_epoch))
            wanted = true;
    }
    return wanted;
}

// A report of the transmitter keyed, from no named hardware, while a key
// request never answered may still be acted on, and nothing of ours or any
// client's explains it.
bool TransmitterLedger::askWanted() const
{
    if (!m_ready || !m_report || !m_report->keyed || m_report->source == Source::Hardware || clientKeyPending())
        return false;
    bool doubt = false;
    for (const Write &w : m_writes) {
        if (claimedKey(w) || mayKey(w))
            return false;
        doubt |= w.kind == Kind::Key && doubtActive(w);
    }
    return doubt || m_lateSuspect;
}

TransmitterLedger::Action TransmitterLedger::due() const
{
    if (clearWanted(false, false))
        return Action::Clear;
    if (unkeyWanted(false, false))
        return Action::Unkey;
    const bool asks = m_traits.canAsk && askWanted();
    if (asks && !m_asking && !ownUnderWay() && m_report->follows < handedThrough()
        && (m_askedAt < handedThrough() || m_askEpoch != m_epoch))
        return Action::Ask;
    // A clear sent again while a question is open would leave its answer
    // older than our newest write, and the question would never end.
    if (!asks && !m_asking && clearWanted(false, true))
        return Action::Clear;
    return Action::None;
}

void TransmitterLedger::judge()
{
    // A key acted on late: a report made after every write so far shows it
    // (or one that cannot be asked again). It becomes a key of ours with a
    // number of its own, so that the unkey that follows proves it undone.
    if (askWanted() && (m_report->follows >= handedThrough() || !m_traits.canAsk)) {
        // What was in doubt stays so: the station may not have heard from
        // the key that was given up on, only from another transmission.
        say(kLateKeyUndone);
        m_lateSuspect = false;
        Write late;
        late.number = ++m_sequence;
        late.kind = Kind::Key;
        late.client = ownAccount;
        late.state = State::Answered;
        late.session = m_session;
        late.handedAt = ++m_clock;
        late.endedAt = ++m_clock;
        late.handedTime = m_now;
        m_writes.append(late);
        // A report made before this key says nothing of it.
        m_report->keyed = false;
        m_report->follows = 0;
    }
    // The operator's transmission holds an unkey of ours back, and that is said.
    if (!m_stopping && unkeyWanted(true, false) && !unkeyWanted(false, false)) {
        bool unsaid = false;
        for (Write &w : m_writes) {
            if (mayKey(w) && !claimedKey(w) && !w.heldSaid) {
                w.heldSaid = true;
                unsaid = true;
            }
        }
        if (unsaid)
            say(kUnkeyHeldBack);
    }
    prune();
}

void TransmitterLedger::prune()
{
    m_writes.removeIf([this](const Write &w) {
        if (isOpen(w.state) || doubtActive(w))
            return false;
        // An unkey or clear never answered, on a radio that acts in order,
        // is kept for its session: a newer answer shows it acted.
        if ((w.kind == Kind::Unkey || w.kind == Kind::Clear) && w.state == State::NoAnswer && m_traits.actsInOrder)
            return w.session != m_session || !m_ready;
        if (w.kind == Kind::Unkey || w.kind == Kind::Clear || w.state == State::Refused || w.state == State::Withdrawn)
            return true;
        return !mayKey(w) && !mayQueue(w);
    });
}

// --- Questions ------------------------------------------------------------------

std::optional<qint64> TransmitterLedger::nextDeadline() const
{
    std::optional<qint64> next;
    for (const Write &w : m_writes) {
        if (doubtActive(w))
            next = std::min(next.value_or(*w.doubtUntil), *w.doubtUntil);
    }
    return next;
}

bool TransmitterLedger::mayWrite(qint64 number) const
{
    const Write *write = find(number);
    if (!write || write->state != State::Waiting)
        return false;
    for (const Write &w : m_writes) {
        if (w.number >= number)
            break;
        // Writes go out in their numbers' order, and a key or CW waits for
        // an older unkey or clear to end: at the radio it must not come first.
        if (w.state == State::Waiting)
            return false;
        if ((write->kind == Kind::Key || write->kind == Kind::CW) && w.state == State::UnderWay
            && (w.kind == Kind::Unkey || w.kind == Kind::Clear))
            return false;
    }
    return true;
}

bool TransmitterLedger::heldBack(qint64 number) const
{
    const Write *write = find(number);
    return write && write->client == ownAccount && write->kind == Kind::Unkey && operatorHolds();
}

bool TransmitterLedger::barred(qint64 number) const
{
    const Write *write = find(number);
    if (!write || write->client == ownAccount || (write->kind != Kind::Key && write->kind != Kind::CW))
        return false;
    const bool key = write->kind == Kind::Key;
    return anyWrite([this, number, key](const Write &w) {
        const bool cuts = w.kind == Kind::Unkey ? key || m_traits.keyerKeys : w.kind == Kind::Clear && !key;
        return w.number < number && cuts && doubtActive(w);
    });
}

bool TransmitterLedger::settled(qint64 through) const
{
    // What is owed already is paid on the ledger's own time: a departure
    // waits for the first try at what it leaves, not for the radio to give in.
    if (clearWanted(true, false) || unkeyWanted(false, true))
        return false;
    // The stop's one pass ends only once all it sent has ended.
    if (m_stopping && (due() != Action::None || ownUnderWay() || m_asking))
        return false;
    const bool firstUnderWay = anyWrite([](const Write &w) {
        return w.client == ownAccount && isOpen(w.state) && (w.first || w.state == State::Waiting);
    });
    if (firstUnderWay)
        return false;
    return !anyWrite([through](const Write &w) { return w.number <= through && isOpen(w.state); });
}

QStringList TransmitterLedger::stopWarnings() const
{
    QStringList lines;
    const bool keyLeft = keyMayStand();
    if (keyLeft)
        lines.append(operatorHolds() ? kStoppedBesideOperator : kUnkeyUnconfirmed);
    const bool queued = anyWrite([this](const Write &w) { return mayQueue(w) && !doubtActive(w); });
    const bool queuedInDoubt = anyWrite([this](const Write &w) { return mayQueue(w) && doubtActive(w); });
    if (queued)
        lines.append(kKeyerUnconfirmed);
    else if (queuedInDoubt)
        lines.append(kStoppedCWInDoubt);
    if ((keyDoubtful() || m_lateSuspect || m_doubtUnheard) && !keyLeft)
        lines.append(kStoppedInDoubt);
    return lines;
}

qint64 TransmitterLedger::handedThrough() const
{
    for (const Write &w : m_writes) {
        if (w.state == State::Waiting)
            return w.number - 1;
    }
    return m_sequence;
}

qint64 TransmitterLedger::endedThrough() const
{
    for (const Write &w : m_writes) {
        if (isOpen(w.state))
            return w.number - 1;
    }
    return m_sequence;
}

bool TransmitterLedger::keyMayStand() const
{
    return anyWrite([this](const Write &w) { return mayKey(w); });
}

bool TransmitterLedger::cwMayStand() const
{
    return anyWrite([this](const Write &w) { return mayQueue(w); });
}

bool TransmitterLedger::unkeyOwed() const
{
    return anyWrite([this](const Write &w) { return mayKey(w) && w.owed; });
}

bool TransmitterLedger::clearOwed() const
{
    return anyWrite([this](const Write &w) { return mayQueue(w) && w.clearOwed; });
}

bool TransmitterLedger::keyDoubtful() const
{
    return anyWrite([this](const Write &w) { return w.kind == Kind::Key && doubtActive(w); });
}

bool TransmitterLedger::inDoubt() const
{
    return anyWrite([this](const Write &w) { return (w.kind == Kind::Key || w.kind == Kind::CW) && doubtActive(w); });
}

QByteArray TransmitterLedger::fingerprint() const
{
    QByteArray out;
    const auto put = [&out](qint64 value) { out.append(QByteArray::number(value)).append(','); };
    // Times only as far as the doubts' bounds tell them apart.
    for (const Write &w : m_writes) {
        for (qint64 value : {w.number, qint64(w.kind), w.client, qint64(w.state), w.session, w.handedAt, w.endedAt,
                             qint64(w.undone), qint64(w.cleared), qint64(w.owed), qint64(w.said), qint64(w.heldSaid),
                             qint64(w.clearOwed), qint64(w.clearSaid), w.resentIn.value_or(-1), w.resentEpoch,
                             w.clearResentEpoch, qint64(doubtActive(w)), qint64(w.clearAtOnce), qint64(w.first), qint64(w.held)})
            put(value);
        for (qint64 value : w.releasedBy)
            put(value);
        out.append(';');
    }
    for (const ClientRecord &c : m_clients) {
        for (qint64 value : {c.id, qint64(c.connected), c.releasedThrough, c.clearedThrough})
            put(value);
    }
    for (qint64 value : {m_sequence, m_clock, m_session, m_epoch, qint64(m_ready), qint64(m_stopping),
                         qint64(m_tickedThisSession), qint64(m_report.has_value()),
                         qint64(m_report ? m_report->keyed : false), qint64(m_report ? int(m_report->source) : 0),
                         m_report ? m_report->follows : 0, qint64(m_lateSuspect), qint64(m_doubtUnheard), qint64(m_asking), m_askedAt, m_askEpoch})
        put(value);
    return out;
}

void TransmitterLedger::adopt(qint64 number, Client who, bool keyerToo)
{
    client(who);
    for (Write &w : m_writes) {
        if (w.client == window && (w.number == number || (keyerToo && w.kind == Kind::CW)))
            w.client = who;
    }
}

TransmitterLedger::Write *TransmitterLedger::find(qint64 number)
{
    // Through the list's own non-const access, so that a copied ledger detaches first.
    const auto it = std::find_if(m_writes.begin(), m_writes.end(), [number](const Write &w) { return w.number == number; });
    return it == m_writes.end() ? nullptr : &*it;
}

const TransmitterLedger::Write *TransmitterLedger::find(qint64 number) const
{
    const auto it = std::find_if(m_writes.cbegin(), m_writes.cend(), [number](const Write &w) { return w.number == number; });
    return it == m_writes.cend() ? nullptr : &*it;
}

TransmitterLedger::ClientRecord &TransmitterLedger::client(Client id)
{
    const auto it = std::find_if(m_clients.begin(), m_clients.end(), [id](const ClientRecord &c) { return c.id == id; });
    if (it != m_clients.end())
        return *it;
    m_clients.append({.id = id, .connected = true, .releasedThrough = 0, .clearedThrough = 0});
    return m_clients.last();
}

const TransmitterLedger::ClientRecord *TransmitterLedger::clientIf(Client id) const
{
    static const ClientRecord none;
    const auto it = std::find_if(m_clients.cbegin(), m_clients.cend(), [id](const ClientRecord &c) { return c.id == id; });
    return it == m_clients.cend() ? &none : &*it;
}

} // namespace kivo
