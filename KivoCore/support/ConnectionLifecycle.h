#pragma once

// The part of a connection's life every backend shares: whether it should
// run, which attempt is the current one, how many attempts failed in a row
// and the timer that starts the next one.

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

private:
    QObject *m_owner;
    bool m_shouldRun = false;
    qint64 m_generation = 0;
    qint64 m_failures = 0;
    QTimer m_retryTimer;
    OneShot<> m_ended;
};

} // namespace kivo
