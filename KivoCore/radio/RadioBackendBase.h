#pragma once

// The one base of every radio backend. It runs the steps of a connection's
// life in one fixed order (start, each attempt, readiness, failure and
// back-off, reconnect, stop) and calls the backend's hooks for what is its
// own: open the transport, the periodic poll or heartbeat, the goodbye, drop
// the transport. It also owns transmitter safety for every kind: clearing
// CW, unkeying, and an unkey owed until the radio confirms one.

#include "KivoCore/radio/RadioBackend.h"
#include "KivoCore/radio/RadioLifecycle.h"

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
    // While a session is up: the goodbye (CW cleared, unkeyed, the backend's
    // own closing words), then the transport dropped and "Stopped". Nothing
    // is reported after this task ends, until the next start.
    QCoro::Task<void> stop() final;
    void reconnectNow() final;
    void setEventHandler(EventHandler handler) final { m_onEvent = std::move(handler); }

    // Keying and unkeying go through here so that every unkey is accounted
    // for: one that fails stays owed, and is paid when the radio answers again.
    QCoro::Task<void> setTransmit(bool on) final;
    QCoro::Task<void> setTransmit(CATTransmitMode mode) final;
    // The keyer emptied; on backends whose keyer holds the transmitter the
    // transmitter is unkeyed too, and a failure of that unkey stays owed
    // without failing the clear.
    QCoro::Task<void> clearCW() final;
    QCoro::Task<bool> makeSafe(ClientActivity activity) final;
    qint64 confirmedUnkeys() const final { return m_confirmedUnkeys; }

    RadioConnectionState state() const { return m_life.state(); }
    // An unkey failed or was never confirmed, and nothing has unkeyed since.
    bool unkeyOwed() const { return m_unkeyOwed; }

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
    // Whether closing words can still reach the radio. Default: ready.
    virtual bool canSayGoodbye() const { return state() == RadioConnectionState::Ready; }
    // The last words of a stop. Default: makeSafe(everything).
    virtual QCoro::Task<void> sayGoodbye();
    // Runs every tickInterval while the session is ready (after the previous
    // tick ended). An exception's sentence becomes the failure's reason.
    virtual QCoro::Task<void> tick() { co_return; }

    virtual QCoro::Task<void> transmit(bool on) = 0;
    // Default: transmit(true), the mode ignored.
    virtual QCoro::Task<void> transmit(CATTransmitMode mode);
    // Default: unsupported.
    virtual QCoro::Task<void> clearKeyer();
    // Whether clearing the keyer must also unkey the transmitter.
    virtual bool clearingKeyerUnkeys() const { return false; }

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
    // The radio itself reports it is not transmitting (any more): every debt
    // of an unkey is settled.
    void transmitterReportedIdle();

private:
    void attempt();
    QCoro::Task<void> closeTransport();
    QCoro::Task<void> closeAfterFailure(qint64 attempt, QString reason, bool retry);
    QCoro::Task<void> runTick(qint64 attempt);
    QCoro::Task<void> reopen(qint64 attempt);
    QCoro::Task<void> unkey();
    QCoro::Task<void> key(std::optional<CATTransmitMode> mode);
    QCoro::Task<void> payOwedUnkey(qint64 attempt);
    void settleUnkey();

    RadioLifecycle m_life;
    EventHandler m_onEvent;
    QTimer m_tickTimer;
    bool m_transportOpen = false;
    bool m_stopping = false;
    // From the end of a stop until the next start nothing is reported.
    bool m_silenced = false;
    bool m_unkeyOwed = false;
    bool m_paying = false;
    qint64 m_confirmedUnkeys = 0;
    // Keys and unkeys that landed, so a failure can tell whether it is stale.
    qint64 m_transmitChanges = 0;
};

} // namespace kivo
