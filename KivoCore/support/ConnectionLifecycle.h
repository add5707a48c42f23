#pragma once

// The part of a connection's life every backend shares: whether it should
// run, which attempt is the current one, how many attempts failed in a row
// and the timer that starts the next one. A backend writes only its protocol.

#include "KivoCore/radio/Models.h"
#include "KivoCore/support/Async.h"

#include <QCoroTask>

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

namespace kivo {

class ConnectionLifecycle;

// Holds while the owner exists and the attempt it was made for is current:
// the one check after every co_await and in every late callback.
class AttemptGuard {
public:
    AttemptGuard(QObject *owner, const ConnectionLifecycle *lifecycle, qint64 generation)
        : m_owner(owner), m_lifecycle(lifecycle), m_generation(generation)
    {
    }

    explicit operator bool() const;
    // The owner still exists, whatever became of the attempt.
    bool ownerAlive() const { return !m_owner.isNull(); }
    qint64 generation() const { return m_generation; }

private:
    QPointer<QObject> m_owner;
    const ConnectionLifecycle *m_lifecycle;
    qint64 m_generation;
};

class ConnectionLifecycle {
public:
    // `retry` runs on `owner`'s thread when a delay armed by retryAfter() ends.
    ConnectionLifecycle(QObject *owner, std::function<void()> retry);

    bool shouldRun() const { return m_shouldRun; }
    // Wants the connection; false when it was wanted already.
    bool begin();
    // Has an outcome once end() was called after the latest begin(): a wake
    // for sleeps that must not outlast a stop.
    OneShot<> ended() const { return m_ended; }
    // No longer wants it and no retry is pending. The current attempt stays
    // current, so a backend can still say goodbye on it; advance() then.
    void end();

    qint64 generation() const { return m_generation; }
    // Makes every earlier attempt stale and returns the new one.
    qint64 advance() { return ++m_generation; }
    bool isCurrent(qint64 generation) const { return generation == m_generation; }
    AttemptGuard guard(qint64 generation) const { return AttemptGuard(m_owner, this, generation); }
    AttemptGuard guard() const { return guard(m_generation); }

    // Failures since the last success.
    qint64 failures() const { return m_failures; }
    qint64 countFailure() { return ++m_failures; }
    void clearFailures() { m_failures = 0; }

    void retryAfter(std::chrono::milliseconds delay);
    void cancelRetry();
    bool retryPending() const { return m_retryTimer.isActive(); }

private:
    QObject *m_owner;
    bool m_shouldRun = false;
    qint64 m_generation = 0;
    qint64 m_failures = 0;
    QTimer m_retryTimer;
    OneShot<> m_ended;
};

// The radio backends' life cycle: the shared part plus the state they are
// in, their reports and the paced back-off of ReconnectBackoff.h.
class RadioLifecycle : public ConnectionLifecycle {
public:
    using StateHandler = std::function<void(RadioConnectionState state, const QString &status)>;
    using SnapshotHandler = std::function<void(const RadioSnapshot &snapshot)>;
    // Uniform in [0, 1]: the share of the back-off's random extra.
    using RandomSource = std::function<double()>;

    struct Options {
        StateHandler onState;
        SnapshotHandler onSnapshot;
        // How long one second of back-off lasts.
        std::chrono::milliseconds backoffSecond{1000};
        // The system's random source when empty.
        RandomSource random;
    };

    RadioLifecycle(QObject *owner, std::function<void()> retry, Options options);

    RadioConnectionState state() const { return m_state; }
    void setState(RadioConnectionState state, const QString &status);
    // Reports without changing the state.
    void report(RadioConnectionState state, const QString &status) const;
    void publish(const RadioSnapshot &snapshot) const;

    // Counts a failure, reports "<reason>. Retrying in <n> s" and arms the retry.
    void retryLater(const QString &reason);
    // After a lost connection: the retry while running, "Stopped" otherwise.
    void retryUnlessStopped(const QString &reason);
    void reportStopped();
    RandomSource randomSource() const { return m_random; }

private:
    const StateHandler m_onState;
    const SnapshotHandler m_onSnapshot;
    const std::chrono::milliseconds m_backoffSecond;
    const RandomSource m_random;
    RadioConnectionState m_state = RadioConnectionState::Stopped;
};

// A snapshot handed out by value. QCoro 0.8 moves whatever lvalue is given to
// co_return, so `co_return m_value;` would empty the backend's own copy.
QCoro::Task<RadioSnapshot> snapshotCopy(RadioSnapshot snapshot);

} // namespace kivo
