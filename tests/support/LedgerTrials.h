#pragma once

// Seeded random trials of the transmitter ledger against a fake peer: a
// sequence of keys, unkeys, CW and departures of up to three clients acting
// at the same time through the CAT and rigctld processors, mixed with what
// the peer and its link do, always ending with the link restored, every
// client gone (some seeds leave while the peer stalls or refuses, three
// times on one link, or quit with clients connected) and a stop. A key a
// client still holds must stand throughout; after each departure, while no
// client holds or is keying and the peer answers, none of ours may. Once the last client left and the link
// works, nothing of the bridge's may stand in the peer, before any stop, and
// what waits for the operator must be said. After the stop nothing of the
// bridge's may stand in the peer either, the operator's own transmission must never have been cut on the
// bridge's account, nothing may be written after the stop, a warning must
// agree with what the peer shows, and a departure that left a debt must
// have said so in the events log.

#include "KivoCore/radio/RadioBackendBase.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace kivo::test {

enum class LedgerStep {
    // What a client of the bridge does: its steps run in order, each client
    // beside the others, as over their own connections.
    Key, Unkey, SendCW, Leave,
    // Whom the client steps that follow are for: the next of three clients
    // (CAT, rigctld, CAT keying a tune). Wait: until every client's steps ended.
    NextClient, Wait,
    // Two clients at once: this one unkeys, leaves or keys, as the next one
    // keys; or this one and the next leave in the same pass of the event loop.
    UnkeyAsNextKeys, LeaveAsNextKeys, KeyAsNextKeys, LeaveWithNext,
    // What the peer does; each peer offers those it can.
    OperatorKeys, OperatorLetsGo, RadioReleases, Stall, Release, Cut, Refuse, Comply, Slow, Prompt, Abnormal,
    StaleStates, Unannounced, RefuseClear, RefuseTune, CWKeys, LoseAnswer,
    // Reports lag behind the replies; a tune is named as such; an unkey, or
    // only keys, refused with an answer; the link closes as an owed unkey arrives.
    LagsStates, NamesTune, RefuseUnkey, RefuseKeys, DropsOwedUnkey,
    // Requests stalled meanwhile are acted on long after the bridge gave up on them.
    ActsLate,
    // One batch of commands at a time, each answered after a while.
    Steady,
};

const char *ledgerStepName(LedgerStep step);

class LedgerPeer {
public:
    virtual ~LedgerPeer() = default;

    // Ready, with a station to key.
    virtual RadioBackendBase &bridge() = 0;
    virtual QList<LedgerStep> peerSteps() const = 0;
    // Among those, the ways the peer goes on behaving once told: a trial
    // may begin with any of them.
    virtual QList<LedgerStep> modes() const { return {}; }
    // `random`: for a step that picks one of several forms.
    virtual void act(LedgerStep step, quint32 random) = 0;
    // Answers promptly again over a working link; waits until the bridge is ready.
    virtual bool restore() = 0;
    // A key or CW this bridge sent still holds the peer's transmitter or keyer.
    virtual bool keyOfOursStands() const = 0;
    virtual bool cwOfOursStands() const = 0;
    // The peer reports the operator's own transmission now.
    virtual bool operatorHolds() const = 0;
    // Unkeys written while the peer had told the bridge of the operator's
    // own transmission, outside a client's own unkey.
    virtual int operatorCuts() const = 0;
    // Everything the bridge has written to the peer so far.
    virtual qint64 written() const = 0;
    // What has reached the peer so far, without waiting.
    virtual qint64 received() const = 0;
    // Links the bridge has opened to the peer so far: what was written into
    // one that closed may have been lost with it.
    virtual int links() const { return 0; }
    // The peer closed the link as the stop's closing words arrived.
    virtual bool closedAtStop() const { return false; }
    // The peer holds back what reached it: a key it took without a word
    // (a Kenwood "TX;") and has yet to act on is neither standing nor undone.
    virtual bool holdsBack() const { return false; }
    // It would take and answer an unkey now.
    virtual bool answers() const { return true; }
    // The CW of ours that stands was played after the bridge gave up on it:
    // the bridge may hold it in doubt for the bound it states.
    virtual bool cwPlayedLate() const { return false; }
    // It may have acted on a key request it left unanswered.
    virtual bool mayActLate() const { return true; }
    // Client unkeys under way: an unkey that arrives meanwhile may be one;
    // any other is on the bridge's own account.
    int clientUnkeying = 0;
    // Departures under way, and the stop's pass.
    int leaving = 0;
    bool stopping = false;
    // A rule of the peer's own that the bridge broke, or nothing.
    QString broken;
};

using LedgerPeerFactory = std::function<std::unique_ptr<LedgerPeer>()>;

// The first rule the trial broke, or nothing. `together`: a client's step
// starts without waiting for the others' to end; otherwise each step ends
// before the next begins.
QString runLedgerTrial(const LedgerPeerFactory &makePeer, const QList<LedgerStep> &steps, bool together = false,
                       quint32 seed = 1);

// Runs `seeds` random trials (QK_LEDGER_SEEDS overrides how many,
// QK_LEDGER_SEED picks one, QK_LEDGER_SHARD=k/n runs every n-th from the
// k-th); a failure is reported with its seed and the
// shortest sequence still failing, to become a named row.
void exploreLedger(const LedgerPeerFactory &makePeer, int seeds);

// Every sequence of one or two steps, clients' and peer's alike.
void exploreEveryTwoSteps(const LedgerPeerFactory &makePeer);

} // namespace kivo::test
