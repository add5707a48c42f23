#include "KivoCore/radio/RadioBackendBase.h"

#include <QPointer>

namespace kivo {

namespace {

const QString kUnkeyPaidLate = QStringLiteral("Unkey sent again after the radio answered");
const QString kUnkeyUnconfirmed =
    QStringLiteral("The radio did not confirm the last unkey; check that the transmitter is not keyed");

} // namespace

RadioBackendBase::RadioBackendBase(Reports reports, QObject *parent)
    : QObject(parent),
      m_life(this, [this] { attempt(); },
             {.onState =
                  [this, handler = std::move(reports.onState)](RadioConnectionState state, const QString &status) {
                      if (handler && !m_silenced)
                          handler(state, status);
                  },
              .onSnapshot =
                  [this, handler = std::move(reports.onSnapshot)](const RadioSnapshot &snapshot) {
                      if (handler && !m_silenced)
                          handler(snapshot);
                  },
              .backoffSecond = reports.backoffSecond,
              .random = std::move(reports.random)})
{
    m_tickTimer.setSingleShot(true);
    m_tickTimer.setInterval(0);
    connect(&m_tickTimer, &QTimer::timeout, this, [this] { launch(runTick(m_life.generation())); });
}

RadioBackendBase::~RadioBackendBase()
{
    m_silenced = true;
    m_life.end();
    m_life.advance();
}

void RadioBackendBase::start()
{
    if (!m_life.begin())
        return;
    m_silenced = false;
    attempt();
}

void RadioBackendBase::reconnectNow()
{
    m_silenced = false;
    if (m_life.begin()) {
        attempt();
        return;
    }
    m_life.clearFailures();
    m_life.cancelRetry();
    m_tickTimer.stop();
    launch(reopen(m_life.advance()));
}

QCoro::Task<void> RadioBackendBase::reopen(qint64 attempt)
{
    QPointer<RadioBackendBase> self(this);
    co_await closeTransport();
    if (self && shouldRun() && isCurrent(attempt))
        this->attempt();
}

QCoro::Task<void> RadioBackendBase::stop()
{
    QPointer<RadioBackendBase> self(this);
    const bool wasRunning = m_life.shouldRun();
    m_life.end();
    m_tickTimer.stop();
    if (wasRunning && canSayGoodbye()) {
        m_stopping = true;
        try {
            co_await sayGoodbye();
        } catch (...) {
        }
        if (!self)
            co_return;
        m_stopping = false;
    }
    m_life.advance();
    co_await closeTransport();
    if (!self)
        co_return;
    sessionEnded();
    m_life.reportStopped();
    if (m_unkeyOwed)
        recordEvent(kUnkeyUnconfirmed);
    m_silenced = true;
}

void RadioBackendBase::attempt()
{
    if (!m_life.shouldRun() || m_transportOpen)
        return;
    const qint64 current = m_life.advance();
    m_transportOpen = true;
    try {
        openTransport(current);
    } catch (...) {
        connectionFailed(current, describeException(std::current_exception()));
    }
}

QCoro::Task<void> RadioBackendBase::closeTransport()
{
    m_tickTimer.stop();
    if (!m_transportOpen)
        co_return;
    m_transportOpen = false;
    co_await dropTransport();
}

void RadioBackendBase::sessionReady(qint64 attempt, const QString &status)
{
    if (!isCurrent(attempt))
        return;
    setState(RadioConnectionState::Ready, status);
    if (!isCurrent(attempt))
        return;
    if (m_unkeyOwed)
        launch(payOwedUnkey(attempt));
    if (m_tickTimer.interval() > 0 && isCurrent(attempt))
        m_tickTimer.start();
}

void RadioBackendBase::connectionFailed(qint64 attempt, const QString &reason)
{
    if (!isCurrent(attempt))
        return;
    // A stop saying goodbye has the last word: its closing words just end.
    if (m_stopping) {
        launch(closeTransport());
        return;
    }
    launch(closeAfterFailure(m_life.advance(), reason, true));
}

void RadioBackendBase::connectionRefused(qint64 attempt, const QString &status)
{
    if (!isCurrent(attempt))
        return;
    launch(closeAfterFailure(m_life.advance(), status, false));
}

QCoro::Task<void> RadioBackendBase::closeAfterFailure(qint64 attempt, QString reason, bool retry)
{
    QPointer<RadioBackendBase> self(this);
    co_await closeTransport();
    // A stop or a reconnect meanwhile has the last word.
    if (!self || !isCurrent(attempt))
        co_return;
    sessionEnded();
    if (!isCurrent(attempt))
        co_return;
    if (!retry)
        setState(RadioConnectionState::Failed, reason);
    else
        m_life.retryUnlessStopped(reason);
}

QCoro::Task<void> RadioBackendBase::runTick(qint64 attempt)
{
    const AttemptGuard current = m_life.guard(attempt);
    if (m_unkeyOwed) {
        co_await payOwedUnkey(attempt);
        if (!current || !shouldRun())
            co_return;
    }
    std::optional<QString> failure;
    try {
        co_await tick();
    } catch (...) {
        failure = describeException(std::current_exception());
    }
    // A stop says its goodbye meanwhile and has the last word.
    if (!current || !shouldRun())
        co_return;
    if (failure)
        connectionFailed(attempt, *failure);
    else
        m_tickTimer.start();
}

void RadioBackendBase::setState(RadioConnectionState state, const QString &status)
{
    m_life.setState(state, status);
}

void RadioBackendBase::report(RadioConnectionState state, const QString &status)
{
    m_life.report(state, status);
}

void RadioBackendBase::publish(const RadioSnapshot &snapshot)
{
    m_life.publish(snapshot);
}

void RadioBackendBase::recordEvent(const QString &line)
{
    if (m_onEvent && !m_silenced)
        m_onEvent(line);
}

QCoro::Task<void> RadioBackendBase::sayGoodbye()
{
    co_await makeSafe(ClientActivity::everything());
}

QCoro::Task<void> RadioBackendBase::transmit(CATTransmitMode)
{
    co_await transmit(true);
}

QCoro::Task<void> RadioBackendBase::clearKeyer()
{
    throw KivoError::unsupported();
    co_return;
}

QCoro::Task<void> RadioBackendBase::setTransmit(bool on)
{
    if (on)
        co_await key(std::nullopt);
    else
        co_await unkey();
}

QCoro::Task<void> RadioBackendBase::setTransmit(CATTransmitMode mode)
{
    co_await key(mode);
}

QCoro::Task<void> RadioBackendBase::key(std::optional<CATTransmitMode> mode)
{
    QPointer<RadioBackendBase> self(this);
    if (mode)
        co_await transmit(*mode);
    else
        co_await transmit(true);
    // The newest key is what the station wants now; whoever keyed owes its unkey.
    if (self) {
        m_unkeyOwed = false;
        ++m_transmitChanges;
    }
}

QCoro::Task<void> RadioBackendBase::unkey()
{
    QPointer<RadioBackendBase> self(this);
    const qint64 before = m_transmitChanges;
    std::exception_ptr failure;
    try {
        co_await transmit(false);
    } catch (...) {
        failure = std::current_exception();
    }
    if (self) {
        // A key or an unkey that landed meanwhile (a stop's goodbye, say)
        // is newer than this one: owing it would unkey the operator later.
        if (failure && m_transmitChanges == before)
            m_unkeyOwed = true;
        else if (!failure)
            settleUnkey();
    }
    if (failure)
        std::rethrow_exception(failure);
}

void RadioBackendBase::settleUnkey()
{
    m_unkeyOwed = false;
    ++m_confirmedUnkeys;
    ++m_transmitChanges;
}

void RadioBackendBase::transmitterReportedIdle()
{
    settleUnkey();
}

QCoro::Task<void> RadioBackendBase::clearCW()
{
    QPointer<RadioBackendBase> self(this);
    co_await clearKeyer();
    if (!self || !clearingKeyerUnkeys())
        co_return;
    try {
        co_await unkey();
    } catch (...) {
    }
}

QCoro::Task<bool> RadioBackendBase::makeSafe(ClientActivity activity)
{
    QPointer<RadioBackendBase> self(this);
    const qint64 before = m_confirmedUnkeys;
    if (activity.startedCW) {
        try {
            co_await clearCW();
        } catch (...) {
        }
        if (!self)
            co_return false;
    }
    // An unkey confirmed since this began (the keyer's own) is enough.
    if (!activity.owesUnkey(before) || m_confirmedUnkeys != before)
        co_return !m_unkeyOwed;
    try {
        co_await unkey();
    } catch (...) {
    }
    co_return self && !m_unkeyOwed;
}

QCoro::Task<void> RadioBackendBase::payOwedUnkey(qint64 attempt)
{
    if (!m_unkeyOwed || m_paying)
        co_return;
    const AttemptGuard current = m_life.guard(attempt);
    m_paying = true;
    bool paid = true;
    try {
        co_await unkey();
    } catch (...) {
        paid = false;
    }
    if (!current.ownerAlive())
        co_return;
    m_paying = false;
    if (paid)
        recordEvent(kUnkeyPaidLate);
}

} // namespace kivo
