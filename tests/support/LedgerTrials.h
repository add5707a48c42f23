#pragma once

// Seeded random trials of the transmitter ledger against a fake peer: a
// sequence of client keys, unkeys, CW and departures mixed with what the
// peer and its link do, always ending with the link restored, every client
// gone and a stop. Afterwards nothing of the bridge's may stand in the
// peer, the operator's own transmission must never have been cut on the
// bridge's account, nothing may be written after the stop, and a warning
// must agree with what the peer shows.

#include "KivoCore/radio/RadioBackendBase.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace kivo::test {

enum class LedgerStep {
    // What a client of the bridge does.
    Key, Unkey, SendCW, Leave,
    // What the peer does; each peer offers those it can.
    OperatorKeys, OperatorLetsGo, RadioReleases, Stall, Release, Cut, Refuse, Comply, Slow, Prompt, Abnormal,
    StaleStates, Unannounced,
};

const char *ledgerStepName(LedgerStep step);

class LedgerPeer {
public:
    virtual ~LedgerPeer() = default;

    // Ready, with a station to key.
    virtual RadioBackendBase &bridge() = 0;
    virtual QList<LedgerStep> peerSteps() const = 0;
    virtual void act(LedgerStep step) = 0;
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
    // A client's own unkey is under way.
    bool clientUnkeying = false;
    // A client's departure, or the stop's pass, is under way.
    bool clientLeaving = false;
};

using LedgerPeerFactory = std::function<std::unique_ptr<LedgerPeer>()>;

// The first rule the trial broke, or nothing.
QString runLedgerTrial(const LedgerPeerFactory &makePeer, const QList<LedgerStep> &steps);

// Runs `seeds` random trials (QK_LEDGER_SEEDS overrides how many, and
// QK_LEDGER_SEED picks one); a failure is reported with its seed and the
// shortest sequence still failing, to become a named row.
void exploreLedger(const LedgerPeerFactory &makePeer, int seeds);

} // namespace kivo::test
