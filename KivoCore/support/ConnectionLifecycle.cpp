#include "KivoCore/support/ConnectionLifecycle.h"



namespace kivo {

AttemptGuard::operator bool() const
{
    return m_owner && m_lifecycle->isCurrent(m_generation);
}

ConnectionLifecycle::ConnectionLifecycle(QObject *owner, std::function<void()> retry) : m_owner(owner)
{
    m_retryTimer.setSingleShot(true);
    QObject::connect(&m_retryTimer, &QTimer::timeout, owner, std::move(retry));
}

bool ConnectionLifecycle::begin()
{
    if (m_shouldRun)
        return false;
    m_shouldRun = true;
    m_failures = 0;
    if (m_ended.isDone())
        m_ended = OneShot<>();
    return true;
}

void ConnectionLifecycle::end()
{
    m_shouldRun = false;
    m_retryTimer.stop();
    m_ended.resolve();
}

void ConnectionLifecycle::retryAfter(std::chrono::milliseconds delay)
{
    m_retryTimer.start(delay);
}

void ConnectionLifecycle::cancelRetry()
{
    m_retryTimer.stop();
}

} // namespace kivo
