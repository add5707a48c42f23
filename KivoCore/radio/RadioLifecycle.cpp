#include "KivoCore/radio/RadioLifecycle.h"

#include "KivoCore/support/ReconnectBackoff.h"

#include <algorithm>

namespace kivo {

RadioLifecycle::RadioLifecycle(QObject *owner, std::function<void()> retry, Options options)
    : ConnectionLifecycle(owner, std::move(retry)), m_onState(std::move(options.onState)),
      m_onSnapshot(std::move(options.onSnapshot)), m_backoffSecond(options.backoffSecond),
      m_random(options.random ? std::move(options.random) : RandomSource(randomJitter))
{
}

void RadioLifecycle::setState(RadioConnectionState state, const QString &status)
{
    m_state = state;
    report(state, status);
}

void RadioLifecycle::report(RadioConnectionState state, const QString &status) const
{
    if (m_onState)
        m_onState(state, status);
}

void RadioLifecycle::publish(const RadioSnapshot &snapshot) const
{
    if (m_onSnapshot)
        m_onSnapshot(snapshot);
}

void RadioLifecycle::retryLater(const QString &reason)
{
    cancelRetry();
    const double delay = reconnectDelaySeconds(std::max<qint64>(countFailure(), 1), m_random());
    const qint64 attempt = generation();
    setState(RadioConnectionState::Retrying, retryingSentence(reason, delay));
    // The report's receiver may have stopped or restarted the backend.
    if (shouldRun() && isCurrent(attempt))
        retryAfter(scaledDelay(delay, m_backoffSecond));
}

void RadioLifecycle::retryUnlessStopped(const QString &reason)
{
    if (shouldRun())
        retryLater(reason);
    else
        reportStopped();
}

void RadioLifecycle::reportStopped()
{
    setState(RadioConnectionState::Stopped, QStringLiteral("Stopped"));
}

QCoro::Task<RadioSnapshot> snapshotCopy(RadioSnapshot snapshot)
{
    co_return snapshot;
}

} // namespace kivo
