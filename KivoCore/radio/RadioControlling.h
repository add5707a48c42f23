#pragma once

#include "KivoCore/radio/ClientActivity.h"
#include "KivoCore/radio/FlexSpot.h"
#include "KivoCore/support/KivoError.h"
#include "KivoCore/radio/Models.h"

#include <QCoroTask>
#include <memory>
#include <optional>

namespace kivo {

// The one interface through which the command processors and the
// application drive whichever radio backend is configured. Every call runs
// on the main thread; each co_await is a point where other calls may run.
// Arguments are taken by value: a coroutine must not hold references.
//
// Every backend implements snapshot, setFrequency and setMode; keying, CW
// and making safe belong to RadioBackendBase, which keeps the transmitter
// ledger. Everything else has a default that answers the same way on every
// backend.
class RadioControlling {
public:
    virtual ~RadioControlling() = default;

    virtual QCoro::Task<RadioSnapshot> snapshot() = 0;
    // Default: VFO "A" of the snapshot, absent without one.
    virtual QCoro::Task<std::optional<qint64>> primaryFrequency();
    // Default: setFrequency.
    virtual QCoro::Task<void> setPrimaryFrequency(qint64 hz);
    virtual QCoro::Task<void> setFrequency(qint64 hz) = 0;
    virtual QCoro::Task<void> setMode(QString mode) = 0;
    virtual QCoro::Task<void> setTransmit(bool on) = 0;
    virtual QCoro::Task<std::optional<qint64>> secondaryFrequency();
    virtual QCoro::Task<void> setSecondaryFrequency(qint64 hz);
    // Default: false succeeds without effect, true is unsupported.
    virtual QCoro::Task<void> setSplitTransmit(bool on);
    // Default: 0 succeeds without effect, anything else is unsupported.
    virtual QCoro::Task<void> setReceiveVFO(int vfo);
    // Default: 25.
    virtual QCoro::Task<int> cwSpeed();
    virtual QCoro::Task<void> setCWSpeed(int wordsPerMinute);
    virtual QCoro::Task<void> sendCW(QString text);
    virtual QCoro::Task<void> clearCW();
    // Default: setTransmit(true), the mode ignored.
    virtual QCoro::Task<void> setTransmit(CATTransmitMode mode);
    virtual QCoro::Task<void> setRIT(bool enabled, int offsetHz, std::optional<QString> vfo);
    virtual QCoro::Task<void> setXIT(bool enabled, int offsetHz, std::optional<QString> vfo);
    virtual QCoro::Task<void> setRFPower(int watts);
    virtual QCoro::Task<void> performStationAction(RemoteStationAction action);
    virtual QCoro::Task<void> addSpot(FlexSpot spot);

    // Undoes what `activity` set going: its CW cleared when it sent CW, the
    // transmitter unkeyed when its key is still undone. Errors are not
    // thrown; the result says whether the transmitter is known to be
    // unkeyed: no key of ours, nor any other client's, may stand.
    // Default: clearCW, then setTransmit(false), each once.
    virtual QCoro::Task<bool> makeSafe(ClientActivity activity);
    // Keys, unkeys and keyer clears take numbers of one sequence: the number
    // the next one takes. Default: every key numbered 1.
    virtual qint64 nextTransmitNumber() const { return 1; }
    // The next key, unkey or CW is this client's, so that its going undoes
    // only what it set going. Default: nothing kept.
    virtual void clientKeying(std::shared_ptr<const ClientActivity>) {}
};

} // namespace kivo
