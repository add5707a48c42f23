#include "KivoCore/radio/RadioBackendBase.h"

#include "KivoCore/support/LogCategories.h"
#include "KivoCore/support/Text.h"

#include <QPointer>

namespace kivo {

namespace {

qint64 steadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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
    m_deadlineTimer.setSingleShot(true);
    connect(&m_deadlineTimer, &QTimer::timeout, this, [this] {
        ledger();
        judged();
    });
}

RadioBackendBase::~RadioBackendBase()
{
    m_silenced = true;
    m_life.end();
    m_life.advance();
}

void RadioBackendBase::start()
{
    if (m_life.begin())
        resume();
}

void RadioBackendBase::reconnectNow()
{
    if (m_life.begin()) {
        resume();
        return;
    }
    m_silenced = false;
    m_life.clearFailures();
    m_life.cancelRetry();
    m_tickTimer.stop();
    launch(reopen(m_life.advance()));
}

void RadioBackendBase::resume()
{
    m_silenced = false;
    ledger().resumed();
    judged();
    attempt();
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
    QStringList warnings;
    if (wasRunning && canSayGoodbye()) {
        m_stopping = true;
        // One pass over what the bridge still holds: every client is gone.
        const qint64 through = ledger().sequence();
        ledger().stopping();
        judged();
        if (!co_await settle(through))
            co_return;
        m_stopping = false;
    } else {
        ledger().stopping();
        judged();
    }
    warnings = m_ledger.stopWarnings();
    m_life.advance();
    co_await closeTransport();
    if (!self)
        co_return;
    sessionEnded();
    m_life.reportStopped();
    for (const QString &line : std::as_const(warnings))
        recordEvent(line);
    m_silenced = true;
}

void RadioBackendBase::attempt()
{
    if (!m_life.shouldRun() || m_transportOpen)
        return;
    const qint64 current = m_life.advance();
    m_transportOpen = true;
    ledger().sessionLost();
    judged();
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
    // What the radio said belongs to the session it said it in.
    ledger().sessionLost();
    judged();
    co_await dropTransport();
}

void RadioBackendBase::sessionReady(qint64 attempt, const QString &status)
{
    if (!isCurrent(attempt))
        return;
    setState(RadioConnectionState::Ready, status);
    if (!isCurrent(attempt))
        return;
    ledger().sessionReady();
    judged();
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
    ledger().tick();
    judged();
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

QCoro::Task<void> RadioBackendBase::askTransmitter()
{
    throw KivoError::unsupported();
    co_return;
}


// --- The transmitter ledger ---------------------------------------------------------

TransmitterLedger &RadioBackendBase::ledger()
{
    if (!std::exchange(m_traitsRead, true))
        m_ledger.setTraits({.namesKeySource = reportsKeySource(),
                            .actsInOrder = actsInOrder(),
                            .answersSets = answersSetCommands(),
                            .keyerKeys = clearingKeyerUnkeys(),
                            .canAsk = canAskTransmitter(),
                            .reports = reportsTransmitter()});
    m_ledger.timePassed(steadyMilliseconds());
    return m_ledger;
}

void RadioBackendBase::judged()
{
    const QPointer<RadioBackendBase> self(this);
    for (const QString &line : m_ledger.takeEvents())
        recordEvent(line);
    if (const auto deadline = m_ledger.nextDeadline())
        m_deadlineTimer.start(std::chrono::milliseconds(std::max<qint64>(0, *deadline - steadyMilliseconds()) + 1));
    else
        m_deadlineTimer.stop();
    // Only a session that may still speak to the radio carries out what is due.
    if (canSayGoodbye() && (shouldRun() || m_stopping)) {
        switch (m_ledger.due()) {
        case Ledger::Action::Unkey:
            launch(ownWrite(Ledger::Kind::Unkey));
            break;
        case Ledger::Action::Clear:
            launch(ownWrite(Ledger::Kind::Clear));
            break;
        case Ledger::Action::Ask:
            launch(ask());
            break;
        case Ledger::Action::None:
            break;
        }
    }
    if (self)
        std::exchange(m_changed, OneShot<>{}).resolve();
}

QCoro::Task<void> RadioBackendBase::numbered(Ledger::Kind kind, Ledger::Client client,
                                             std::optional<CATTransmitMode> mode, QString text, qint64 begun,
                                             qint64 *follow)
{
    QPointer<RadioBackendBase> self(this);
    const qint64 number = begun ? begun : ledger().begin(kind, client);
    if (!begun)
        judged();
    while (self && !m_ledger.mayWrite(number)) {
        OneShot<> changed = m_changed;
        co_await changed;
    }
    if (!self)
        throw KivoError::notConnected();
    if (m_ledger.barred(number)) {
        ledger().ended(number, Ledger::Outcome::Refused);
        judged();
        throw KivoError::refusal(QStringLiteral(
            "The radio never answered an unkey or CW clear and may still act on it; keying and CW are refused for up to a minute."));
    }
    // Without a session the backend refuses what cannot reach the radio.
    const bool reachable = canSayGoodbye();
    ledger().handed(number);
    judged();
    std::exception_ptr failure;
    try {
        m_currentWrite = number;
        switch (kind) {
        case Ledger::Kind::Key:
            if (mode)
                co_await transmit(*mode);
            else
                co_await transmit(true);
            break;
        case Ledger::Kind::Unkey:
            co_await transmit(false);
            break;
        case Ledger::Kind::CW:
            co_await queueCW(std::move(text));
            break;
        case Ledger::Kind::Clear:
            co_await clearKeyer();
            break;
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        if (failure)
            std::rethrow_exception(failure);
        co_return;
    }
    Ledger::Outcome outcome = Ledger::Outcome::Answered;
    if (failure && !m_confirmedUnkeys.removeOne(number)) {
        outcome = Ledger::Outcome::NoAnswer;
        try {
            std::rethrow_exception(failure);
        } catch (const KivoError &error) {
            if (error.refused() || (!reachable && error.kind() == KivoError::Kind::NotConnected))
                outcome = Ledger::Outcome::Refused;
        } catch (...) {
        }
    }
    ledger().ended(number, outcome, failure ? asSentence(describeException(failure)) : QString());
    // Its unkey is begun before anything else is judged, so that no other
    // unkey is written beside it.
    if (follow && !failure && m_ledger.keyMayStand())
        *follow = m_ledger.begin(Ledger::Kind::Unkey, client);
    judged();
    if (failure)
        std::rethrow_exception(failure);
}

QCoro::Task<void> RadioBackendBase::ownWrite(Ledger::Kind kind)
{
    QPointer<RadioBackendBase> self(this);
    try {
        co_await numbered(kind, Ledger::ownAccount);
    } catch (...) {
        if (self)
            trace(kind == Ledger::Kind::Unkey ? "unkeying on the bridge's own account" : "clearing CW on the bridge's own account",
                  std::current_exception());
    }
}

QCoro::Task<void> RadioBackendBase::ask()
{
    QPointer<RadioBackendBase> self(this);
    ledger().askBegun();
    judged();
    try {
        co_await askTransmitter();
    } catch (...) {
        if (self)
            trace("asking for the transmitter's state", std::current_exception());
    }
    if (!self)
        co_return;
    ledger().askEnded();
    judged();
}

QCoro::Task<bool> RadioBackendBase::settle(qint64 through)
{
    QPointer<RadioBackendBase> self(this);
    while (self && !m_ledger.settled(through)) {
        OneShot<> changed = m_changed;
        co_await changed;
    }
    co_return bool(self);
}

void RadioBackendBase::transmitterReported(bool keyed, KeySource source, qint64 follows)
{
    const Ledger::Source from = source == KeySource::Hardware   ? Ledger::Source::Hardware
                              : source == KeySource::Software ? Ledger::Source::Software
                                                              : Ledger::Source::Unknown;
    ledger().reported(keyed, from, follows);
    judged();
}

QCoro::Task<void> RadioBackendBase::setTransmit(bool on)
{
    const Ledger::Client client = takeClient();
    if (on)
        co_await numbered(Ledger::Kind::Key, client);
    else
        co_await numbered(Ledger::Kind::Unkey, client);
}

QCoro::Task<void> RadioBackendBase::setTransmit(CATTransmitMode mode)
{
    co_await numbered(Ledger::Kind::Key, takeClient(), mode);
}

QCoro::Task<void> RadioBackendBase::sendCW(QString text)
{
    co_await numbered(Ledger::Kind::CW, takeClient(), std::nullopt, std::move(text));
}

QCoro::Task<void> RadioBackendBase::clearCW()
{
    QPointer<RadioBackendBase> self(this);
    const Ledger::Client client = takeClient();
    // Asked for, the clear ends every key too, as an unkey does.
    qint64 unkey = 0;
    co_await numbered(Ledger::Kind::Clear, client, std::nullopt, {}, 0, clearingKeyerUnkeys() ? &unkey : nullptr);
    if (!self || !unkey)
        co_return;
    try {
        co_await numbered(Ledger::Kind::Unkey, client, std::nullopt, {}, unkey);
    } catch (...) {
        if (self)
            trace("unkey after clearing the keyer", std::current_exception());
    }
}

void RadioBackendBase::clientKeying(std::shared_ptr<const ClientActivity> activity)
{
    m_nextClient = activity;
}

TransmitterLedger::Client RadioBackendBase::takeClient()
{
    const auto activity = std::exchange(m_nextClient, {}).lock();
    return activity ? activity->identity : Ledger::window;
}

TransmitterLedger::Client RadioBackendBase::clientFor(const ClientActivity &activity)
{
    // A caller that never said who it is: what the windows' records hold of
    // its key, and of CW when it sent some, is its own.
    m_ledger.adopt(activity.keyedTransmitter ? activity.keyNumber : 0, activity.identity, activity.startedCW);
    return activity.identity;
}

QCoro::Task<bool> RadioBackendBase::makeSafe(ClientActivity activity)
{
    QPointer<RadioBackendBase> self(this);
    const Ledger::Client client = clientFor(activity);
    const qint64 through = ledger().sequence();
    ledger().clientGone(client, KivoError::notConnected().message());
    judged();
    if (!co_await settle(through) || !self)
        co_return false;
    co_return !m_ledger.keyMayStand() && !m_ledger.inDoubt();
}

} // namespace kivo
