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
#include "KivoCore/support/Async.h"

#include <QList>
#include <QLoggingCategory>
#include <QObject>
#include <QTimer>

#include <chrono>

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

    // Keying, CW and unkeying go through here so that the ledger sees each:
    // every key, unkey, CW and keyer clear takes the next number of one
    // sequence, and what settles carries the number it proves, so an older
    // confirmation never undoes a newer key. An unkey or a keyer clear of
    // ours that fails stays owed, and is paid at the next ready session
    // unless the radio shows it settled.
    QCoro::Task<void> setTransmit(bool on) final;
    QCoro::Task<void> setTransmit(CATTransmitMode mode) final;
    QCoro::Task<void> sendCW(QString text) final;
    // The keyer emptied; on backends whose keyer holds the transmitter a key
    // of ours is released too, and a failure of that unkey stays owed
    // without failing the clear.
    QCoro::Task<void> clearCW() final;
    QCoro::Task<bool> makeSafe(ClientActivity activity) final;
    qint64 nextTransmitNumber() const final { return m_ledger.sequence + 1; }
    qint64 releasedThrough() const final { return m_ledger.released; }
    void clientKeying(std::shared_ptr<const ClientActivity> activity) final;

    RadioConnectionState state() const { return m_life.state(); }
    // A key of this bridge may still hold the transmitter.
    bool keyOutstanding() const { return m_ledger.keyed(); }
    // CW of this bridge may still be queued at the keyer.
    bool cwOutstanding() const { return m_ledger.keyer(); }
    // An unkey of ours failed and nothing has settled it since.
    bool unkeyOwed() const { return debt(Debt::Unkey) != nullptr; }
    // A keyer clear of ours failed and nothing has settled it since.
    bool keyerClearOwed() const { return debt(Debt::KeyerClear) != nullptr; }
    // A key request given up on may still be acted on by the radio.
    bool keyInDoubt() const { return m_ledger.doubt != 0; }

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
    // Asks the radio for a report made after every write so far, for when
    // a report may be older than our last unkey; false: it cannot.
    virtual bool askTransmitter() { return false; }

    // --- Steps for the backend ------------------------------------------------

    // Zero (the default) runs no ticks.
    void setTickInterval(std::chrono::milliseconds interval) { m_tickTimer.setInterval(interval); }
    bool shouldRun() const { return m_life.shouldRun(); }
    // Inside stop(): closing commands use their short time-outs.
    bool isStopping() const { return m_stopping; }
    // CW this bridge queued may still be in the keyer.
    bool keyerOutstanding() const { return m_ledger.keyer(); }
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
    // The numbers given so far to keys, unkeys, CW and keyer clears. A
    // backend notes it when it asks the radio something, so that the answer
    // can be told apart from one made before a newer key or unkey.
    qint64 transmitWrites() const { return m_ledger.sequence; }
    // Every key, unkey, CW and keyer clear numbered up to this has ended.
    qint64 transmitWritesEnded() const;
    // The radio's own report of its transmitter, made after the writes
    // numbered up to `askedAt` had reached it. Idle settles our keys
    // numbered up to `askedAt`, and nothing newer. Keyed from a hardware
    // source (the operator's microphone, a foot switch) settles nothing: it
    // holds our unkey back until the operator lets go. Keyed by software or
    // by no named source lets an owed unkey be paid. Every report tells who
    // holds the transmitter now.
    void transmitterReported(bool keyed, KeySource source, qint64 askedAt);
    // The radio accepted the unkey numbered `unkey`, whatever else of it failed.
    void transmitterReleased(qint64 unkey);
    // An unkey on the bridge's own account is under way and the radio now
    // reports the operator's own transmission: its last word must wait.
    bool sparingOperator() const { return m_unkeyingOnOwnAccount > 0 && m_operatorHolds; }
    // A key (or CW that keys) numbered after `number` has begun: an unkey
    // numbered `number` must not undo it at the radio.
    bool keyBegunAfter(qint64 number) const { return m_ledger.newestKey > number; }
    // The key numbered `number` failed without an answer, on a radio that
    // may still act on it later.
    void keyGivenUp(qint64 number) { m_ledger.doubt = std::max(m_ledger.doubt, number); }

private:
    // An unkey or a keyer clear of ours that failed: what it must undo and
    // how far its paying has gone. Every debt is paid the same way.
    struct Debt {
        enum Kind { Unkey, KeyerClear };
        Kind kind = Unkey;
        // The newest failed write of this kind that it stands for.
        qint64 owedAt = 0;
        // The newest key (or CW) it must undo; a newer one forgives it.
        qint64 covers = 0;
        // The events log was told: unconfirmed, or held back for the operator.
        bool said = false;
        bool heldSaid = false;
        // The session in which it was sent again; see reportsKeySource().
        std::optional<qint64> triedIn;
    };
    // What this bridge started on the transmitter and still owes, by number.
    struct Ledger {
        qint64 sequence = 0;
        // The newest key of ours (CW on a keyer that holds the transmitter
        // included) that may have reached the radio; keys numbered up to
        // `released` are known undone.
        qint64 newestKey = 0;
        qint64 released = 0;
        // The same for CW of ours in the keyer and clears of it.
        qint64 newestCW = 0;
        qint64 cleared = 0;
        QList<Debt> debts;
        // The newest key given up on that the radio may still act on; 0: none.
        qint64 doubt = 0;
        bool keyed() const { return newestKey > released; }
        bool keyer() const { return newestCW > cleared; }
    };
    // A numbered write under way: begun, not yet ended.
    class Write;

    void attempt();
    QCoro::Task<void> closeTransport();
    QCoro::Task<void> closeAfterFailure(qint64 attempt, QString reason, bool retry);
    QCoro::Task<void> runTick(qint64 attempt);
    QCoro::Task<void> reopen(qint64 attempt);
    QCoro::Task<void> unkey();
    QCoro::Task<void> key(std::optional<CATTransmitMode> mode);
    // An unkey on the bridge's own account (a client gone, a stop, a debt):
    // while the radio reports the operator's own transmission it is owed
    // (and said) instead of written.
    QCoro::Task<void> unkeyOnOwnAccount();
    // The keyer cleared, numbered; a failure stays owed and is said.
    QCoro::Task<void> clearKeyerNumbered();
    // clearCW(); `onOwnAccount` (a departure, a debt) spares a key that is
    // not the CW's own.
    QCoro::Task<void> emptyKeyer(bool onOwnAccount);
    // Pays what is owed while attempt `attempt` is ready. Without a report
    // of this session an unkey waits, unless `withoutReport`.
    QCoro::Task<void> payDebts(qint64 attempt, bool withoutReport);
    void keyLanded(qint64 number);
    // Keys numbered up to `through` are undone.
    void settleKeys(qint64 through);
    // A client other than the one whose key is numbered `except` holds the transmitter.
    bool anotherClientHolds(qint64 except) const;
    void unkeyFailed(qint64 unkey, std::exception_ptr failure);
    const Debt *debt(Debt::Kind kind) const;
    Debt *debt(Debt::Kind kind);
    // A write of `kind` numbered `number` failed and is owed for the newest
    // key or CW before it; a debt for that same key or CW stays the one
    // debt, with what it has said and tried.
    Debt &owe(Debt::Kind kind, qint64 number);
    // An unkey numbered up to `number` is owed, said once: `reason` why it
    // failed, or held back while the operator transmits.
    void oweUnkey(qint64 number, const QString &reason);
    void forgive(Debt::Kind kind);
    // A report of the transmitter keyed while no key of ours stands, with
    // a key given up on: that key was acted on late, and is undone.
    void doubtfulKeyActed();
    void trace(const char *step, std::exception_ptr failure) const;

    RadioLifecycle m_life;
    EventHandler m_onEvent;
    QTimer m_tickTimer;
    bool m_transportOpen = false;
    bool m_stopping = false;
    // From the end of a stop until the next start nothing is reported.
    bool m_silenced = false;
    bool m_paying = false;
    Ledger m_ledger;
    // The session of the newest report made after our newest write.
    std::optional<qint64> m_lastReportAttempt;
    // The newest report of this session, whenever made, shows the operator's
    // own transmission.
    bool m_operatorHolds = false;
    int m_unkeyingOnOwnAccount = 0;
    // Numbered writes begun and not yet ended, in order; the unkeys among
    // them, each with its end.
    QList<qint64> m_writesUnderWay;
    QList<std::pair<qint64, OneShot<>>> m_unkeysUnderWay;
    QList<std::pair<qint64, OneShot<>>> m_keysUnderWay;
    // The clients that keyed, while they are connected.
    QList<std::weak_ptr<const ClientActivity>> m_keyingClients;
};

} // namespace kivo
