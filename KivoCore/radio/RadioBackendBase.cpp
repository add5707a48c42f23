#include "KivoCore/radio/RadioBackendBase.h"

#include "KivoCore/support/LogCategories.h"
#include "KivoCore/support/Text.h"

#include <QPointer>

namespace kivo {

namespace {

const QString kUnkeyPaidLate = QStringLiteral("Unkey sent again after the radio answered");
const QString kKeyerClearedLate = QStringLiteral("CW cleared after the radio answered");
const QString kOperatorLeftAlone =
    QStringLiteral("Owed unkey not sent: the radio reports the operator's own transmission");
const QString kUnkeyUnconfirmed =
    QStringLiteral("The radio did not confirm the last unkey; check that the transmitter is not keyed");
const QString kUnkeyOwed = QStringLiteral("Unkey not confirmed: %1 It is sent again when the radio answers");
const QString kUnkeyNotRepeated =
    QStringLiteral("The radio did not confirm the unkey sent again; it is not repeated until the radio reconnects");
const QString kStoppedBesideOperator =
    QStringLiteral("Unkey not sent at stop: the radio reports the operator's own transmission");

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
    // The heartbeat or poll pauses while the pass runs; a tick in flight
    // finds the backend stopping and ends without a word.
    m_tickTimer.stop();
    abandonWork();
    if (wasRunning && canSayGoodbye()) {
        m_stopping = true;
        // One pass over what the bridge still holds: its CW, if any, and
        // a key that nothing has undone.
        ClientActivity held = ClientActivity::everything();
        held.startedCW = m_ledger.keyer || m_ledger.keyerClearOwed;
        co_await makeSafe(held);
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
    if (m_ledger.keyed)
        recordEvent(m_operatorHolds ? kStoppedBesideOperator : kUnkeyUnconfirmed);
    m_silenced = true;
}

void RadioBackendBase::attempt()
{
    if (!m_life.shouldRun() || m_transportOpen)
        return;
    const qint64 current = m_life.advance();
    // What the radio said belongs to the session it said it in.
    m_lastReport.reset();
    m_operatorHolds = false;
    m_latePaymentTried = false;
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
    launch(payDebts(attempt, false));
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
    // A radio that never reported its transmitter gets the owed unkey by
    // the first tick: a key of ours left standing is the greater harm.
    co_await payDebts(attempt, true);
    if (!current || !shouldRun())
        co_return;
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

const QLoggingCategory &RadioBackendBase::logCategory() const
{
    return lcGeneral();
}

void RadioBackendBase::trace(const char *step, std::exception_ptr failure) const
{
    qCDebug(logCategory()) << step << "failed:" << describeException(failure);
}

QCoro::Task<void> RadioBackendBase::transmit(CATTransmitMode)
{
    co_await transmit(true);
}

QCoro::Task<void> RadioBackendBase::queueCW(QString)
{
    throw KivoError::unsupported();
    co_return;
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
    // A key in flight may land: it is ours to undo from the moment it can
    // reach the radio. One refused before that leaves nothing behind.
    m_ledger.countKey();
    if (canSayGoodbye())
        m_ledger.keyed = true;
    if (mode)
        co_await transmit(*mode);
    else
        co_await transmit(true);
    // The newest key is what the station wants now: no older unkey is owed,
    // and a report that raced the key does not settle it.
    if (self) {
        m_ledger.keyed = true;
        m_ledger.unkeyOwed = false;
        ++m_ledger.transmitChanges;
    }
}

QCoro::Task<void> RadioBackendBase::unkey()
{
    QPointer<RadioBackendBase> self(this);
    const qint64 before = m_ledger.transmitChanges;
    const qint64 keysBefore = m_ledger.keyWrites;
    ++m_ledger.writes;
    std::exception_ptr failure;
    try {
        co_await transmit(false);
    } catch (...) {
        failure = std::current_exception();
    }
    if (self) {
        // Owed only for a key of ours, and only if nothing newer (a key, a
        // confirmed unkey, the radio's report) landed meanwhile: anything
        // else would unkey the operator later.
        if (failure && m_ledger.keyed && m_ledger.transmitChanges == before)
            unkeyFailed(failure);
        else if (!failure)
            // A key written while this unkey awaited its confirmation lands
            // after it: that one is still ours to undo.
            settleKey(m_ledger.keyWrites != keysBefore);
    }
    if (failure)
        std::rethrow_exception(failure);
}

void RadioBackendBase::unkeyFailed(std::exception_ptr failure)
{
    if (!m_ledger.unkeyOwed && !m_stopping)
        recordEvent(kUnkeyOwed.arg(asSentence(describeException(failure))));
    m_ledger.unkeyOwed = true;
}

QCoro::Task<void> RadioBackendBase::unkeyOnOwnAccount()
{
    // The operator's own transmission is never cut for a key of ours: the
    // unkey waits for a report that the operator let go.
    if (m_operatorHolds) {
        m_ledger.unkeyOwed = true;
        co_return;
    }
    QPointer<RadioBackendBase> self(this);
    m_unkeyingOnOwnAccount = true;
    std::exception_ptr failure;
    try {
        co_await unkey();
    } catch (...) {
        failure = std::current_exception();
    }
    if (self)
        m_unkeyingOnOwnAccount = false;
    if (failure)
        std::rethrow_exception(failure);
}

void RadioBackendBase::transmitterReleased()
{
    if (m_ledger.keyed || m_ledger.unkeyOwed)
        settleKey();
}

void RadioBackendBase::settleKey(bool keyAgain)
{
    m_ledger.keyed = keyAgain;
    m_ledger.unkeyOwed = false;
    ++m_ledger.confirmedUnkeys;
    ++m_ledger.transmitChanges;
}

void RadioBackendBase::settleKeyer()
{
    m_ledger.keyer = false;
    m_ledger.keyerClearOwed = false;
    ++m_ledger.keyerChanges;
}

void RadioBackendBase::transmitterReported(bool keyed, KeySource source, qint64 askedAt)
{
    m_operatorHolds = keyed && source == KeySource::Hardware;
    // Made before our newest key or unkey: it may show the transmitter as
    // it was before that landed.
    if (askedAt < m_ledger.writes)
        return;
    m_lastReport = TransmitterReport{.keyed = keyed, .source = source, .attempt = generation()};
    if (keyed && source != KeySource::Hardware) {
        if (m_ledger.unkeyOwed && state() == RadioConnectionState::Ready)
            launch(payDebts(generation(), false));
        return;
    }
    if (!m_ledger.keyed && !m_ledger.unkeyOwed)
        return;
    const bool wasOwed = m_ledger.unkeyOwed;
    // Idle, or keyed from the operator's own hardware: our key is gone.
    settleKey();
    if (keyed && wasOwed)
        recordEvent(kOperatorLeftAlone);
}

QCoro::Task<void> RadioBackendBase::sendCW(QString text)
{
    QPointer<RadioBackendBase> self(this);
    if (clearingKeyerUnkeys())
        m_ledger.countKey();
    if (canSayGoodbye()) {
        m_ledger.keyer = true;
        m_ledger.keyed |= clearingKeyerUnkeys();
    }
    co_await queueCW(std::move(text));
    if (self) {
        m_ledger.keyer = true;
        m_ledger.keyerClearOwed = false;
        ++m_ledger.keyerChanges;
        if (clearingKeyerUnkeys()) {
            m_ledger.keyed = true;
            ++m_ledger.transmitChanges;
        }
    }
}

QCoro::Task<void> RadioBackendBase::clearCW()
{
    QPointer<RadioBackendBase> self(this);
    const qint64 before = m_ledger.keyerChanges;
    std::exception_ptr failure;
    try {
        co_await clearKeyer();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        if (failure)
            std::rethrow_exception(failure);
        co_return;
    }
    if (failure) {
        if (m_ledger.keyer && m_ledger.keyerChanges == before)
            m_ledger.keyerClearOwed = true;
        std::rethrow_exception(failure);
    }
    settleKeyer();
    if (!clearingKeyerUnkeys() || !m_ledger.keyed)
        co_return;
    try {
        co_await unkeyOnOwnAccount();
    } catch (...) {
        trace("unkey after clearing the keyer", std::current_exception());
    }
}

QCoro::Task<bool> RadioBackendBase::makeSafe(ClientActivity activity)
{
    QPointer<RadioBackendBase> self(this);
    const qint64 before = m_ledger.confirmedUnkeys;
    if (activity.startedCW) {
        try {
            co_await clearCW();
        } catch (...) {
            trace("clearing CW", std::current_exception());
        }
        if (!self)
            co_return false;
    }
    // Only a key of ours that nothing has undone since this client keyed
    // (the keyer's own unkey just now included).
    if (activity.owesUnkey(before) && m_ledger.confirmedUnkeys == before && m_ledger.keyed) {
        try {
            co_await unkeyOnOwnAccount();
        } catch (...) {
            trace("unkeying", std::current_exception());
        }
        if (!self)
            co_return false;
    }
    co_return !m_ledger.unkeyOwed && !m_ledger.keyerClearOwed;
}

QCoro::Task<void> RadioBackendBase::payDebts(qint64 attempt, bool withoutReport)
{
    if (m_paying || (!m_ledger.unkeyOwed && !m_ledger.keyerClearOwed))
        co_return;
    if (!isCurrent(attempt) || state() != RadioConnectionState::Ready)
        co_return;
    // Without a named key source a debt tried again and again could cut the
    // operator each time: once a session is all it gets.
    const bool once = !reportsKeySource();
    if (once && m_latePaymentTried)
        co_return;
    const AttemptGuard current = m_life.guard(attempt);
    m_paying = true;
    if (m_ledger.keyerClearOwed) {
        bool cleared = true;
        try {
            co_await clearKeyer();
        } catch (...) {
            cleared = false;
            m_latePaymentTried = true;
            trace("clearing CW owed", std::current_exception());
        }
        if (!current.ownerAlive())
            co_return;
        if (cleared && m_ledger.keyerClearOwed) {
            settleKeyer();
            recordEvent(kKeyerClearedLate);
        }
    }
    // Paid only while the radio shows a key that may be ours; its report of
    // anything else has settled the debt already.
    const bool reported = m_lastReport && isCurrent(m_lastReport->attempt);
    if (m_ledger.unkeyOwed && !m_operatorHolds && current && (reported || withoutReport)) {
        m_latePaymentTried = true;
        bool paid = true;
        try {
            co_await unkeyOnOwnAccount();
        } catch (...) {
            paid = false;
            trace("unkey owed", std::current_exception());
        }
        if (!current.ownerAlive())
            co_return;
        if (paid && !m_ledger.unkeyOwed)
            recordEvent(kUnkeyPaidLate);
        else if (once && m_ledger.unkeyOwed)
            recordEvent(kUnkeyNotRepeated);
    }
    m_paying = false;
}

} // namespace kivo
