#pragma once

// The one base of every radio backend. It runs the steps of a connection's
// life in one fixed order (start, each attempt, readiness, failure and
// back-off, reconnect, stop) and calls the backend's hooks for what is its
// own: open the transport, the periodic poll or heartbeat, drop the
// transport. It also keeps the transmitter ledger for every kind: what this
// bridge keyed or queued for its clients, what it still owes (an unkey, a
// keyer clear) after a failure, and what the radio's own reports settle, so
// that only what the bridge started is ever undone, never the operator's
// own transmission.

#include "KivoCore/radio/RadioBackend.h"
#include "KivoCore/radio/RadioLifecycle.h"
#include "KivoCore/radio/TransmitterLedger.h"
#include "KivoCore/support/Async.h"

#include <QList>
#include <QLoggingCategory>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

namespace kivo {

class RadioBackendBase : public QObject, public RadioBackend {
    Q_OBJECT

public:
    using RandomSource = RadioLifecycle::RandomSource;

    // Where states and snapshots go, and how the reconnection back-off is paced.
    using Reports = RadioLifecycle::Options;

    ~RadioBackendBase() override;

    void start() final;
    // Work in flight abandoned, then, while a session is up, one make-safe
    // pass over what this bridge still holds (CW it queued, a key it made)
    // with the closing time-outs, then the transport dropped and "Stopped".
    // Nothing is reported after this task ends, until the next start.
    QCoro::Task<void> stop() final;
    void reconnectNow() final;
    void setEventHandler(EventHandler handler) final { m_onEvent = std::move(handler); }

    // Keying, CW and unkeying go through here so that the ledger sees each
    // write begin, go out and end; what it then finds due on the bridge's
    // own account (an unkey, a keyer clear, a fresh report) is carried out
    // at once. See TransmitterLedger.
    QCoro::Task<void> setTransmit(bool on) final;
    QCoro::Task<void> setTransmit(CATTransmitMode mode) final;
    QCoro::Task<void> sendCW(QString text) final;
    // The keyer emptied; on backends whose keyer holds the transmitter every
    // key of ours is released too, and a failure of that unkey stays owed
    // without failing the clear.
    QCoro::Task<void> clearCW() final;
    QCoro::Task<bool> makeSafe(ClientActivity activity) final;
    qint64 nextTransmitNumber() const final { return m_ledger.sequence() + 1; }
    void clientKeying(std::shared_ptr<const ClientActivity> activity) final;

    RadioConnectionState state() const { return m_life.state(); }
    // A key of this bridge may still hold the transmitter.
    bool keyOutstanding() const { return m_ledger.keyMayStand(); }
    // CW of this bridge may still be queued at the keyer.
    bool cwOutstanding() const { return m_ledger.cwMayStand(); }
    // An unkey of ours failed and nothing has settled it since.
    bool unkeyOwed() const { return m_ledger.unkeyOwed(); }
    // A keyer clear of ours failed and nothing has settled it since.
    bool keyerClearOwed() const { return m_ledger.clearOwed(); }

protected:
    explicit RadioBackendBase(Reports reports, QObject *parent = nullptr);

    // --- Hooks -------------------------------------------------------------

    // Begins attempt `attempt`: opens the transport and, once the session is
    // usable, calls sessionReady(); on failure calls connectionFailed(). An
    // exception thrown here is the failure's reason.
    virtual void openTransport(qint64 attempt) = 0;
    // Closes the transport and ends whatever still waits on it. Reports
    // nothing; the attempt is already stale when this runs.
    virtual QCoro::Task<void> dropTransport() = 0;
    // The session is gone (a failure or a stop): the snapshot shows it.
    virtual void sessionEnded() {}
    // Whether commands can still reach the radio. Default: ready.
    virtual bool canSayGoodbye() const { return state() == RadioConnectionState::Ready; }
    // A stop begins: work of the backend's own still in flight is cancelled
    // before the make-safe pass, so none of it reports afterwards.
    virtual void abandonWork() {}
    // Where failures on the safety path are traced. Default: the general one.
    virtual const QLoggingCategory &logCategory() const;
    // Runs every tickInterval while the session is ready (after the previous
    // tick ended). An exception's sentence becomes the failure's reason.
    virtual QCoro::Task<void> tick() { co_return; }

    // An unkey succeeds only once the radio confirmed it.
    virtual QCoro::Task<void> transmit(bool on) = 0;
    // Default: transmit(true), the mode ignored.
    virtual QCoro::Task<void> transmit(CATTransmitMode mode);
    // Default: unsupported.
    virtual QCoro::Task<void> queueCW(QString text);
    // Default: unsupported.
    virtual QCoro::Task<void> clearKeyer();
    // Whether clearing the keyer must also unkey the transmitter.
    virtual bool clearingKeyerUnkeys() const { return false; }
    // Whether the radio's reports name who keyed it. Only then can an owed
    // unkey be tried again and again without cutting the operator; without
    // that, it is tried once a session.
    virtual bool reportsKeySource() const { return false; }
    // Whether the radio acts on our commands in the order they were written
    // (one stream). Otherwise a command still on its way may be acted on
    // after a later one, so a confirmation proves nothing of it.
    virtual bool actsInOrder() const { return true; }
    // Whether its answer to a key or CW comes once it has acted on what was
    // written before (otherwise only an unkey's or clear's answer shows that).
    virtual bool answersSetCommands() const { return true; }
    // Whether the radio can be asked for a report made after every write
    // so far, and the asking: the answer comes through transmitterReported.
    virtual bool canAskTransmitter() const { return false; }
    virtual QCoro::Task<void> askTransmitter();
    // Whether the radio reports its transmitter at all.
    virtual bool reportsTransmitter() const { return true; }

    // --- Steps for the backend ------------------------------------------------

    // Zero (the default) runs no ticks.
    void setTickInterval(std::chrono::milliseconds interval) { m_tickTimer.setInterval(interval); }
    bool shouldRun() const { return m_life.shouldRun(); }
    // Inside stop(): closing commands use their short time-outs.
    bool isStopping() const { return m_stopping; }
    qint64 generation() const { return m_life.generation(); }
    bool isCurrent(qint64 attempt) const { return m_life.isCurrent(attempt); }
    AttemptGuard guard(qint64 attempt) const { return m_life.guard(attempt); }
    AttemptGuard guard() const { return m_life.guard(); }
    RandomSource randomSource() const { return m_life.randomSource(); }
    void clearFailures() { m_life.clearFailures(); }

    void setState(RadioConnectionState state, const QString &status);
    // Reports without changing the state.
    void report(RadioConnectionState state, const QString &status);
    void publish(const RadioSnapshot &snapshot);
    void recordEvent(const QString &line);

    // Attempt `attempt` is usable: ready with `status`, ticks armed, and an
    // owed unkey paid before anything else is asked of the radio.
    void sessionReady(qint64 attempt, const QString &status);
    // Attempt `attempt` failed: the transport is dropped and, while the
    // backend should run, the next attempt follows the back-off.
    void connectionFailed(qint64 attempt, const QString &reason);
    // As connectionFailed, but no retry follows: the state stays failed.
    void connectionRefused(qint64 attempt, const QString &status);
    // Who holds the transmitter, as far as the radio says.
    enum class KeySource { Unknown, Software, Hardware };
    // Every key, unkey, CW and keyer clear up to this number has gone to
    // the radio: a backend notes it with what it asks, so that the answer
    // can be told apart from one made before a newer write.
    qint64 transmitWrites() const { return m_ledger.handedThrough(); }
    // Every key, unkey, CW and keyer clear up to this number has ended.
    qint64 transmitWritesEnded() const { return m_ledger.endedThrough(); }
    // The number of the write now handed to transmit(), queueCW() or
    // clearKeyer(): read before their first suspension.
    qint64 currentWrite() const { return m_currentWrite; }
    // The current write, an unkey of the bridge's own, must stop where it
    // is: the radio now reports the operator's own transmission.
    bool unkeyHeldBack() const { return m_ledger.heldBack(m_currentWrite); }
    // The radio's own report of its transmitter, made after the writes
    // numbered up to `follows` had reached it; `source` as far as it says.
    void transmitterReported(bool keyed, KeySource source, qint64 follows);
    // The radio confirmed the unkey numbered `number`, though the request
    // as a whole failed.
    void unkeyConfirmed(qint64 number) { m_confirmedUnkeys.append(number); }

private:
    using Ledger = TransmitterLedger;

    // Whichever way it starts after a stop: reports flow again, and the
    // ledger's clients hold their keys again.
    void resume();
    void attempt();
    QCoro::Task<void> closeTransport();
    QCoro::Task<void> closeAfterFailure(qint64 attempt, QString reason, bool retry);
    QCoro::Task<void> runTick(qint64 attempt);
    QCoro::Task<void> reopen(qint64 attempt);
    // The ledger as of now; its traits read once from the hooks.
    Ledger &ledger();
    // After every event: the ledger's words said, its deadline armed, what
    // it finds due begun, and every waiter woken.
    void judged();
    // One numbered write of `kind` for `client` (numbered `begun` already,
    // if not 0), waiting its turn; `mode` for a key, `text` for CW. With
    // `follow`, a clear that succeeded begins the unkey that ends what its
    // keyer keyed and gives its number there.
    QCoro::Task<void> numbered(Ledger::Kind kind, Ledger::Client client,
                               std::optional<CATTransmitMode> mode = std::nullopt, QString text = {},
                               qint64 begun = 0, qint64 *follow = nullptr);
    QCoro::Task<void> ownWrite(Ledger::Kind kind);
    QCoro::Task<void> ask();
    // Until the ledger finds the writes up to `through` ended and nothing
    // of ours due; false: the backend went away meanwhile.
    QCoro::Task<bool> settle(qint64 through);
    Ledger::Client takeClient();
    Ledger::Client clientFor(const ClientActivity &activity);
    void trace(const char *step, std::exception_ptr failure) const;

    RadioLifecycle m_life;
    EventHandler m_onEvent;
    QTimer m_tickTimer;
    bool m_transportOpen = false;
    bool m_stopping = false;
    // From the end of a stop until the next start nothing is reported.
    bool m_silenced = false;
    Ledger m_ledger;
    bool m_traitsRead = false;
    QTimer m_deadlineTimer;
    OneShot<> m_changed;
    qint64 m_currentWrite = 0;
    QList<qint64> m_confirmedUnkeys;
    // The client the next write is for, when it said so.
    std::weak_ptr<const ClientActivity> m_nextClient;
};

} // namespace kivo
