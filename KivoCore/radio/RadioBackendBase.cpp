#include "KivoCore/radio/RadioBackendBase.h"

#include "KivoCore/support/LogCategories.h"
#include "KivoCore/support/Text.h"

#include <QPointer>

namespace kivo {

namespace {

const QString kUnkeyPaidLate = QStringLiteral("Unkey sent again after the radio answered");
const QString kKeyerClearedLate = QStringLiteral("CW cleared after the radio answered");
const QString kUnkeyHeldBack =
    QStringLiteral("Owed unkey not sent: the radio reports the operator's own transmission");
const QString kHeldUnkeySent = QStringLiteral("Owed unkey sent after the operator's transmission ended");
const QString kKeyerClearOwed = QStringLiteral("CW clear not confirmed: %1 It is sent again when the radio answers");
const QString kKeyerUnconfirmed =
    QStringLiteral("The radio did not confirm the last CW clear; CW sent for a logging program may still be queued");
const QString kUnkeyUnconfirmed =
    QStringLiteral("The radio did not confirm the last unkey; check that the transmitter is not keyed");
const QString kUnkeyOwed = QStringLiteral("Unkey not confirmed: %1 It is sent again when the radio answers");
const QString kUnkeyNotRepeated =
    QStringLiteral("The radio did not confirm the unkey sent again; it is not repeated until the radio reconnects");
const QString kStoppedBesideOperator =
    QStringLiteral("Unkey not sent at stop: the radio reports the operator's own transmission");
const QString kLateKeyUndone =
    QStringLiteral("The radio acted late on a key it had not answered; the transmitter is unkeyed");
const QString kStoppedInDoubt =
    QStringLiteral("A key request the radio did not answer may still key the transmitter after the stop");

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
        held.startedCW = m_ledger.keyer() || keyerClearOwed();
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
    if (m_ledger.keyed())
        recordEvent(m_operatorHolds ? kStoppedBesideOperator : kUnkeyUnconfirmed);
    if (m_ledger.keyer() || keyerClearOwed())
        recordEvent(kKeyerUnconfirmed);
    if (m_ledger.doubt && !m_ledger.keyed())
        recordEvent(kStoppedInDoubt);
    m_silenced = true;
}

void RadioBackendBase::attempt()
{
    if (!m_life.shouldRun() || m_transportOpen)
        return;
    const qint64 current = m_life.advance();
    // What the radio said belongs to the session it said it in.
    m_lastReportAttempt.reset();
    m_operatorHolds = false;
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

// Begun in the constructor, ended when the coroutine that holds it ends.
class RadioBackendBase::Write {
public:
    explicit Write(RadioBackendBase *owner) : number(++owner->m_ledger.sequence), m_owner(owner)
    {
        owner->m_writesUnderWay.append(number);
    }
    ~Write()
    {
        if (m_owner)
            m_owner->m_writesUnderWay.removeOne(number);
    }
    Write(const Write &) = delete;
    Write &operator=(const Write &) = delete;

    const qint64 number;

private:
    QPointer<RadioBackendBase> m_owner;
};

qint64 RadioBackendBase::transmitWritesEnded() const
{
    return m_writesUnderWay.isEmpty() ? m_ledger.sequence : m_writesUnderWay.constFirst() - 1;
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
    const Write write(this);
    // A radio that may act on requests out of order could act on an older
    // unkey after this key: the key goes once they have ended.
    while (!actsInOrder()) {
        const auto older = std::find_if(m_unkeysUnderWay.cbegin(), m_unkeysUnderWay.cend(),
                                        [&write](const auto &unkey) { return unkey.first < write.number; });
        if (older == m_unkeysUnderWay.cend())
            break;
        OneShot<> ended = older->second;
        co_await ended;
        if (!self)
            throw KivoError::notConnected();
    }
    // A key in flight may land: it is ours to undo from the moment it can
    // reach the radio. One refused before that leaves nothing behind.
    if (canSayGoodbye())
        m_ledger.newestKey = write.number;
    OneShot<> ended;
    m_keysUnderWay.append({write.number, ended});
    const auto end = [&] {
        if (self)
            m_keysUnderWay.removeIf([&write](const auto &key) { return key.first == write.number; });
        ended.resolve();
    };
    try {
        if (mode)
            co_await transmit(*mode);
        else
            co_await transmit(true);
    } catch (...) {
        // A failed key is not what the station wants, and it may have
        // reached the radio: an older unkey still owed covers it too.
        if (Debt *unkey = self ? debt(Debt::Unkey) : nullptr; unkey && m_ledger.newestKey == write.number)
            unkey->covers = write.number;
        end();
        throw;
    }
    if (self)
        keyLanded(write.number);
    end();
}

void RadioBackendBase::keyLanded(qint64 number)
{
    m_ledger.newestKey = std::max(m_ledger.newestKey, number);
    // The newest key is what the station wants now: an older unkey is owed no more.
    if (const Debt *unkey = debt(Debt::Unkey); unkey && unkey->owedAt < number)
        forgive(Debt::Unkey);
}

QCoro::Task<void> RadioBackendBase::unkey()
{
    QPointer<RadioBackendBase> self(this);
    const Write write(this);
    // What its confirmation proves: the keys written before it, on a radio
    // that acts in order; otherwise those that had ended before it began.
    const qint64 covers = actsInOrder() ? write.number - 1 : transmitWritesEnded();
    OneShot<> ended;
    m_unkeysUnderWay.append({write.number, ended});
    std::exception_ptr failure;
    try {
        co_await transmit(false);
    } catch (...) {
        failure = std::current_exception();
    }
    if (self) {
        m_unkeysUnderWay.removeIf([&write](const auto &unkey) { return unkey.first == write.number; });
        if (failure)
            unkeyFailed(write.number, failure);
        else
            settleKeys(covers);
    }
    ended.resolve();
    if (failure)
        std::rethrow_exception(failure);
}

void RadioBackendBase::unkeyFailed(qint64 unkey, std::exception_ptr failure)
{
    // Owed only for a key of ours written before it and not known undone;
    // a key begun after it is what the station wants now.
    if (m_ledger.keyed() && m_ledger.newestKey < unkey)
        oweUnkey(unkey, asSentence(describeException(failure)));
}

const RadioBackendBase::Debt *RadioBackendBase::debt(Debt::Kind kind) const
{
    const auto it = std::find_if(m_ledger.debts.cbegin(), m_ledger.debts.cend(),
                                 [kind](const Debt &debt) { return debt.kind == kind; });
    return it == m_ledger.debts.cend() ? nullptr : &*it;
}

RadioBackendBase::Debt *RadioBackendBase::debt(Debt::Kind kind)
{
    return const_cast<Debt *>(std::as_const(*this).debt(kind));
}

RadioBackendBase::Debt &RadioBackendBase::owe(Debt::Kind kind, qint64 number)
{
    const qint64 covers = kind == Debt::Unkey ? m_ledger.newestKey : m_ledger.newestCW;
    Debt *open = debt(kind);
    // A debt for an older key or CW is a new debt: its own words and its own resend.
    if (open && open->covers != covers) {
        forgive(kind);
        open = nullptr;
    }
    if (!open) {
        m_ledger.debts.append({.kind = kind, .owedAt = number, .covers = covers, .said = false, .heldSaid = false, .triedIn = std::nullopt});
        open = &m_ledger.debts.last();
    }
    open->owedAt = std::max(open->owedAt, number);
    return *open;
}

void RadioBackendBase::oweUnkey(qint64 number, const QString &reason)
{
    Debt &unkey = owe(Debt::Unkey, number);
    if (m_stopping)
        return;
    if (m_operatorHolds) {
        if (!std::exchange(unkey.heldSaid, true))
            recordEvent(kUnkeyHeldBack);
    } else if (!std::exchange(unkey.said, true)) {
        recordEvent(kUnkeyOwed.arg(reason));
    }
}

void RadioBackendBase::forgive(Debt::Kind kind)
{
    m_ledger.debts.removeIf([kind](const Debt &debt) { return debt.kind == kind; });
}

void RadioBackendBase::doubtfulKeyActed()
{
    m_ledger.doubt = 0;
    // A key of its own number, newer than every settlement, so that the
    // unkey that follows proves it undone.
    m_ledger.newestKey = ++m_ledger.sequence;
    recordEvent(kLateKeyUndone);
    launch([](QPointer<RadioBackendBase> self) -> QCoro::Task<void> {
        try {
            co_await self->unkeyOnOwnAccount();
        } catch (...) {
            if (self)
                self->trace("unkeying a key acted on late", std::current_exception());
        }
    }(this));
}

QCoro::Task<void> RadioBackendBase::unkeyOnOwnAccount()
{
    // The operator's own transmission is never cut for a key of ours: the
    // unkey waits for the radio's next word once the operator let go.
    if (m_operatorHolds) {
        if (m_ledger.keyed())
            oweUnkey(m_ledger.sequence, {});
        co_return;
    }
    QPointer<RadioBackendBase> self(this);
    ++m_unkeyingOnOwnAccount;
    std::exception_ptr failure;
    try {
        co_await unkey();
    } catch (...) {
        failure = std::current_exception();
    }
    if (self)
        --m_unkeyingOnOwnAccount;
    if (failure)
        std::rethrow_exception(failure);
}

void RadioBackendBase::transmitterReleased(qint64 unkey)
{
    settleKeys(unkey - 1);
}

void RadioBackendBase::settleKeys(qint64 through)
{
    m_ledger.released = std::max(m_ledger.released, through);
    if (!m_ledger.keyed())
        forgive(Debt::Unkey);
}

void RadioBackendBase::transmitterReported(bool keyed, KeySource source, qint64 askedAt)
{
    m_operatorHolds = keyed && source == KeySource::Hardware;
    const bool fresh = askedAt >= m_ledger.sequence;
    if (fresh)
        m_lastReportAttempt = generation();
    if (!keyed) {
        settleKeys(askedAt);
        return;
    }
    // The operator's transmission holds our unkey back, and that is said;
    // it forgives nothing.
    if (source == KeySource::Hardware) {
        if (const Debt *unkey = debt(Debt::Unkey))
            oweUnkey(unkey->owedAt, {});
        return;
    }
    if (m_ledger.doubt && !m_ledger.keyed() && state() == RadioConnectionState::Ready && !m_stopping) {
        // One that may be older than our last unkey may show a key it has
        // undone since: the doubt is spent only on one made after it.
        if (fresh || !askTransmitter())
            doubtfulKeyActed();
        return;
    }
    if (fresh && unkeyOwed() && state() == RadioConnectionState::Ready)
        launch(payDebts(generation(), false));
}

QCoro::Task<void> RadioBackendBase::sendCW(QString text)
{
    QPointer<RadioBackendBase> self(this);
    const Write write(this);
    const bool keys = clearingKeyerUnkeys();
    if (canSayGoodbye()) {
        m_ledger.newestCW = write.number;
        if (keys)
            m_ledger.newestKey = write.number;
    }
    co_await queueCW(std::move(text));
    if (!self)
        co_return;
    m_ledger.newestCW = std::max(m_ledger.newestCW, write.number);
    // As with a key: the newest CW is what the station wants now.
    forgive(Debt::KeyerClear);
    if (keys)
        keyLanded(write.number);
}

QCoro::Task<void> RadioBackendBase::clearKeyerNumbered()
{
    QPointer<RadioBackendBase> self(this);
    const Write write(this);
    const qint64 covers = actsInOrder() ? write.number - 1 : transmitWritesEnded();
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
    if (!failure) {
        m_ledger.cleared = std::max(m_ledger.cleared, covers);
        if (!m_ledger.keyer())
            forgive(Debt::KeyerClear);
        co_return;
    }
    // Owed only for CW of ours written before it and maybe still queued.
    if (m_ledger.keyer() && m_ledger.newestCW < write.number) {
        Debt &clear = owe(Debt::KeyerClear, write.number);
        if (!m_stopping && !std::exchange(clear.said, true))
            recordEvent(kKeyerClearOwed.arg(asSentence(describeException(failure))));
    }
    std::rethrow_exception(failure);
}

void RadioBackendBase::clientKeying(std::shared_ptr<const ClientActivity> activity)
{
    m_keyingClients.removeIf([&activity](const std::weak_ptr<const ClientActivity> &client) {
        const auto held = client.lock();
        return !held || held == activity;
    });
    m_keyingClients.append(activity);
}

bool RadioBackendBase::anotherClientHolds(qint64 except) const
{
    return std::any_of(m_keyingClients.cbegin(), m_keyingClients.cend(), [this, except](const auto &client) {
        const auto activity = client.lock();
        return activity && activity->keyNumber != except && activity->holdsKey(m_ledger.released);
    });
}

QCoro::Task<void> RadioBackendBase::clearCW()
{
    co_await emptyKeyer(false);
}

QCoro::Task<void> RadioBackendBase::emptyKeyer(bool onOwnAccount)
{
    QPointer<RadioBackendBase> self(this);
    co_await clearKeyerNumbered();
    // On the bridge's own account the keyer's transmission ends with it; a
    // client's key, newer than the CW or held, stands until that client
    // lets go. Asked for, the clear ends every key, as an unkey does.
    const bool spared = onOwnAccount && !m_stopping
        && (m_ledger.newestKey != m_ledger.newestCW || anotherClientHolds(0));
    if (!self || !clearingKeyerUnkeys() || !m_ledger.keyed() || spared)
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
    if (activity.startedCW) {
        try {
            co_await emptyKeyer(true);
        } catch (...) {
            trace("clearing CW", std::current_exception());
        }
        if (!self)
            co_return false;
    }
    // An unkey under way that was written after this client's key answers
    // for it too: its outcome is awaited rather than another written. The
    // transmitter is shared: while another client holds it, its own going
    // (or a stop) undoes the key, and a key on its way may be the next one
    // held: its outcome decides. Either may start while the other is awaited.
    while (activity.keyedTransmitter) {
        const auto covering = std::find_if(m_unkeysUnderWay.cbegin(), m_unkeysUnderWay.cend(),
                                           [&activity](const auto &unkey) { return unkey.first > activity.keyNumber; });
        const auto other = std::find_if(m_keysUnderWay.cbegin(), m_keysUnderWay.cend(),
                                        [&activity](const auto &key) { return key.first != activity.keyNumber; });
        OneShot<> ended;
        if (covering != m_unkeysUnderWay.cend())
            ended = covering->second;
        else if (!m_stopping && other != m_keysUnderWay.cend())
            ended = other->second;
        else
            break;
        co_await ended;
        if (!self)
            co_return false;
    }
    // Only a key of ours that nothing has undone since this client keyed.
    // An unkey of ours written after it that the radio did not confirm (the
    // keyer's own just now, another departure's) is owed already, and
    // written again only as a debt may be.
    const Debt *unkey = debt(Debt::Unkey);
    const bool owedAlready = unkey && unkey->owedAt > activity.keyNumber;
    const bool heldByAnother = !m_stopping && anotherClientHolds(activity.keyNumber);
    if (activity.owesUnkey(m_ledger.released) && m_ledger.keyed() && !owedAlready && !heldByAnother) {
        try {
            co_await unkeyOnOwnAccount();
        } catch (...) {
            trace("unkeying", std::current_exception());
        }
        if (!self)
            co_return false;
    }
    co_return m_ledger.debts.isEmpty();
}

QCoro::Task<void> RadioBackendBase::payDebts(qint64 attempt, bool withoutReport)
{
    if (m_paying || m_ledger.debts.isEmpty())
        co_return;
    if (!isCurrent(attempt) || state() != RadioConnectionState::Ready)
        co_return;
    const AttemptGuard current = m_life.guard(attempt);
    m_paying = true;
    // A keyer clear cuts no one's transmission: it is sent again at every
    // chance. On a keyer that holds the transmitter it undoes the key its
    // CW made too, as a clear does.
    if (keyerClearOwed()) {
        bool cleared = true;
        try {
            co_await emptyKeyer(true);
        } catch (...) {
            cleared = false;
            trace("clearing CW owed", std::current_exception());
        }
        if (!current.ownerAlive())
            co_return;
        if (cleared && !keyerClearOwed())
            recordEvent(kKeyerClearedLate);
    }
    // Without a named key source an unkey sent again and again could cut
    // the operator each time: each debt gets one resend a session. It is
    // paid only while the radio shows a key that may be ours, or has said
    // nothing since the session began (`withoutReport`, the first tick):
    // a report of idle has settled it already.
    const bool once = !reportsKeySource();
    const bool reported = m_lastReportAttempt && isCurrent(*m_lastReportAttempt);
    // A key begun since is what the station wants now.
    if (Debt *unkey = debt(Debt::Unkey); unkey && unkey->covers >= m_ledger.newestKey
        && !(once && unkey->triedIn == attempt) && !m_operatorHolds && current && (reported || withoutReport)) {
        unkey->triedIn = attempt;
        const bool wasHeld = unkey->heldSaid;
        bool paid = true;
        try {
            co_await unkeyOnOwnAccount();
        } catch (...) {
            paid = false;
            trace("unkey owed", std::current_exception());
        }
        if (!current.ownerAlive())
            co_return;
        if (paid && !unkeyOwed())
            recordEvent(wasHeld ? kHeldUnkeySent : kUnkeyPaidLate);
        else if (once && unkeyOwed())
            recordEvent(kUnkeyNotRepeated);
    }
    m_paying = false;
}

} // namespace kivo
