// The agent client's radio operations: one agent command each, sent with
// one retry, and the pending writes and frequency checks that follow a
// successful frequency or mode write.

#include "KivoCore/agent/RemoteAgentClient.h"
#include "KivoCore/agent/RemoteAgentReading.h"

#include "KivoCore/support/Async.h"
#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/LogCategories.h"
#include "KivoCore/support/Text.h"

#include <QNetworkReply>

namespace kivo {

namespace {

using A = RemoteAgentArgument;

bool hasArgument(const RemoteAgentCommand &command, const QString &name, const RemoteAgentArgument &value)
{
    const auto it = command.arguments.constFind(name);
    return it != command.arguments.constEnd() && *it == value;
}

const QString enabledKey = QStringLiteral("enabled");

// Commands that key the transmitter, and those that let it go again.
bool keysTransmitter(const RemoteAgentCommand &command)
{
    if (command.name == QLatin1String("set_ptt"))
        return hasArgument(command, enabledKey, A::boolean(true));
    return command.name == QLatin1String("station_tune") || command.name == QLatin1String("send_cw");
}

bool unkeysTransmitter(const RemoteAgentCommand &command)
{
    if (command.name == QLatin1String("set_ptt"))
        return hasArgument(command, enabledKey, A::boolean(false));
    return command.name == RemoteAgentCommand::clearCW.name;
}

RemoteAgentCommand frequencyCommand(qint64 hz, const QString &vfo)
{
    return {QStringLiteral("set_frequency_hz"),
            {{QStringLiteral("frequency_hz"), A::integer(hz)}, {QStringLiteral("vfo"), A::string(vfo)}}};
}

RemoteAgentCommand pttCommand(bool on)
{
    return {QStringLiteral("set_ptt"), {{enabledKey, A::boolean(on)}}};
}

RemoteAgentCommand offsetCommand(const QString &name, bool enabled, int offsetHz, const QString &vfo)
{
    return {name,
            {{enabledKey, A::boolean(enabled)},
             {QStringLiteral("offset_hz"), A::integer(offsetHz)},
             {QStringLiteral("vfo"), A::string(vfo)}}};
}

bool isCWText(const QString &text)
{
    if (text.isEmpty() || text.size() > 128 || text.contains(QLatin1Char('|')))
        return false;
    // Printable ASCII only, so every character is one UTF-16 unit too.
    return isPrintableASCII(text);
}

} // namespace

void PendingRadioWrites::recordFrequency(const QString &vfo, qint64 hz, Clock::time_point now)
{
    frequencies.insert(upperCased(vfo), {hz, now + lifetime});
}

void PendingRadioWrites::recordMode(const QString &vfo, const QString &mode, Clock::time_point now)
{
    modes.insert(upperCased(vfo), {upperCased(mode), now + lifetime});
}

namespace {
// One pass over one kind of pending write. `shows` tells whether a VFO
// already shows the value; `overlay` writes it onto a VFO or the snapshot.
template <typename T, typename Shows, typename Overlay>
void reconcilePass(QHash<QString, PendingRadioWrites::Value<T>> &entries, RadioSnapshot &snapshot,
                   PendingRadioWrites::Clock::time_point now, Shows shows, Overlay overlay)
{
    QStringList finished;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        const QString &letter = it.key();
        const auto vfo = std::find_if(snapshot.vfos.begin(), snapshot.vfos.end(),
                                      [&letter](const RadioVFO &candidate) { return candidate.letter == letter; });
        const bool expired = now >= it->expiresAt;
        if (vfo == snapshot.vfos.end()) {
            if (expired)
                finished.append(letter);
        } else if (shows(*vfo, it->value) || expired) {
            finished.append(letter);
        } else {
            overlay(*vfo, snapshot, it->value);
        }
    }
    for (const QString &letter : finished)
        entries.remove(letter);
}
} // namespace

void PendingRadioWrites::reconcile(RadioSnapshot &snapshot, Clock::time_point now)
{
    reconcilePass(
        frequencies, snapshot, now, [](const RadioVFO &vfo, qint64 hz) { return vfo.frequencyHz == hz; },
        [](RadioVFO &vfo, RadioSnapshot &whole, qint64 hz) {
            vfo.frequencyHz = hz;
            if (whole.slice == vfo.letter)
                whole.frequencyHz = hz;
        });
    reconcilePass(
        modes, snapshot, now, [](const RadioVFO &vfo, const QString &mode) { return upperCased(vfo.mode) == mode; },
        [](RadioVFO &vfo, RadioSnapshot &whole, const QString &mode) {
            vfo.mode = mode;
            if (whole.slice == vfo.letter)
                whole.mode = mode;
        });
}

std::optional<QString> RemoteAgentClient::normalizedVFO(const std::optional<QString> &vfo)
{
    if (!vfo)
        return std::nullopt;
    const QString letter = upperCased(trimmed(*vfo));
    if (letter == QLatin1String("A") || letter == QLatin1String("B"))
        return letter;
    return std::nullopt;
}

QString RemoteAgentClient::receiveVFODefault() const
{
    const auto b = m_value.vfo(QStringLiteral("B"));
    return b && b->isReceive ? QStringLiteral("B") : QStringLiteral("A");
}

QCoro::Task<void> RemoteAgentClient::execute(RemoteAgentCommand command,
                                             std::shared_ptr<RemoteAgentCancellation> cancellation, bool closing,
                                             std::optional<qint64> answersWrites, bool *settled)
{
    // Until the command goes out, nothing of it can be acted on.
    if (settled)
        *settled = true;
    if (!shouldRun() && !closing)
        throw KivoError::notConnected();
    const auto &status = m_value.remoteStationStatus;
    if (!status || !status->supportedCommands.contains(command.name))
        throw KivoError::server(QStringLiteral("Remote Agent does not advertise %1.").arg(command.name));

    RemoteAgentRequest post = RemoteAgentRequestBuilder::commandRequest(
        m_endpoint,
        {.token = m_token, .timeout = closing ? m_timing.closingRequestTimeout : m_timing.requestTimeout},
        RemoteAgentRequestBuilder::newRequestID(), command);
    post.request.setSslConfiguration(m_ssl);
    if (unkeysTransmitter(command))
        ++m_unkeyCount;
    const quint64 unkeysAtStart = m_unkeyCount;
    const bool keys = keysTransmitter(command);
    const qint64 attemptAtStart = generation();

    const InFlight inFlight(this, std::move(cancellation));
    cancellation = inFlight.cancellation;
    QPointer<RemoteAgentClient> self(this);

    for (int attempt = 1;; ++attempt) {
        std::exception_ptr failure;
        std::optional<RemoteAgentDecodedState> state;
        // A retry the agent never answered may be acted on later, whatever
        // it said to the first attempt.
        if (settled)
            *settled = false;
        try {
            // The same request, with the same request id, serves both attempts.
            state = co_await postCommand(m_network, post, cancellation, settled);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self)
            throw KivoError::notConnected();
        if (!failure) {
            // A reply that lands after stop() must not bring the radio back,
            // nor one from an earlier connection speak for this one.
            if (state && shouldRun() && isCurrent(attemptAtStart))
                apply(*state, answersWrites);
            co_return;
        }
        if (attempt == 2)
            std::rethrow_exception(failure);
        // A stop's last words get no second attempt.
        if (!shouldRun())
            throw KivoError::notConnected();

        co_await sleepFor(m_timing.commandRetryDelay, cancellation->cancelledEvent);
        // Nobody is left to unkey a transmitter keyed after stop(), or after
        // the operator has already let it go: such a retry is not sent.
        if (!self || !shouldRun() || cancellation->cancelled)
            throw KivoError::notConnected();
        if (keys && m_unkeyCount != unkeysAtStart)
            std::rethrow_exception(failure);
    }
}

QCoro::Task<std::optional<RemoteAgentDecodedState>> RemoteAgentClient::postCommand(
    QPointer<QNetworkAccessManager> network, RemoteAgentRequest post,
    std::shared_ptr<RemoteAgentCancellation> cancellation, bool *settled)
{
    const HttpAnswer answer = co_await perform(network, post, cancellation);
    if (settled)
        *settled = true;
    validate(answer.status, answer.body);
    const CommandResponse response = CommandResponse::fromJson(answer.body);
    if (!response.success) {
        const auto message = response.error ? response.error->message : std::nullopt;
        throw KivoError::server(message.value_or(QStringLiteral("Remote Agent rejected the command.")));
    }
    if (!response.state)
        co_return std::nullopt;
    co_return RemoteAgentStateDecoder::decode(*response.state, answer.receivedAt);
}

QCoro::Task<void> RemoteAgentClient::writeFrequency(qint64 hz, QString vfo)
{
    if (hz < 1)
        throw KivoError::invalidFrequency();
    co_await execute(frequencyCommand(hz, vfo));
    if (!shouldRun())
        co_return;
    m_pendingWrites.recordFrequency(vfo, hz, PendingRadioWrites::Clock::now());
    publishPendingWrites();
    scheduleFrequencyVerification(hz, vfo);
}

QCoro::Task<void> RemoteAgentClient::setPrimaryFrequency(qint64 hz)
{
    co_await writeFrequency(hz, QStringLiteral("A"));
}

QCoro::Task<void> RemoteAgentClient::setFrequency(qint64 hz)
{
    co_await writeFrequency(hz, receiveVFODefault());
}

QCoro::Task<void> RemoteAgentClient::setSecondaryFrequency(qint64 hz)
{
    co_await writeFrequency(hz, QStringLiteral("B"));
}

QCoro::Task<void> RemoteAgentClient::setMode(QString mode)
{
    const QString cleaned = upperCased(trimmed(mode));
    if (cleaned.isEmpty())
        throw KivoError::invalidMode();
    const QString vfo = receiveVFODefault();
    const RemoteAgentCommand command{QStringLiteral("set_mode"), {{QStringLiteral("mode"), A::string(cleaned)},
                                                   {QStringLiteral("vfo"), A::string(vfo)}}};
    co_await execute(command);
    if (!shouldRun())
        co_return;
    m_pendingWrites.recordMode(vfo, cleaned, PendingRadioWrites::Clock::now());
    publishPendingWrites();
}

QCoro::Task<void> RemoteAgentClient::executeTransmitChange(RemoteAgentCommand command, bool closing)
{
    // A write's own answer may carry the state from before the agent applied
    // it, so it is known to follow only the writes before this one that have
    // ended: it never shows a key undone, nor an unkey's transmitter still keyed.
    const qint64 number = currentWrite();
    const qint64 proves = agent::answerFollows(transmitWritesEnded(), number);
    bool settled = false;
    try {
        co_await execute(std::move(command), {}, closing, proves, &settled);
    } catch (...) {
        // Answered, or never sent: nothing of it can be acted on later.
        if (settled)
            throw KivoError::refusal(describeException(std::current_exception()));
        throw;
    }
}

QCoro::Task<void> RemoteAgentClient::askTransmitter()
{
    co_await fetchStateAfter(agent::askFollows(transmitWritesEnded()), generation());
}

QCoro::Task<void> RemoteAgentClient::fetchStateAfter(qint64 writes, qint64 attempt)
{
    QPointer<RemoteAgentClient> self(this);
    const InFlight inFlight(this);
    std::optional<RemoteAgentDecodedState> state;
    try {
        state = co_await fetchState(inFlight.cancellation);
    } catch (...) {
        // Nothing counts as made after those writes then, until the next session.
        qCDebug(lcRemoteAgent) << "state after our writes:" << describeException(std::current_exception());
    }
    if (!self)
        co_return;
    if (state && shouldRun() && isCurrent(attempt))
        apply(*state, writes);
}

QCoro::Task<void> RemoteAgentClient::transmit(bool on)
{
    // A confirmed unkey is the agent's success answer to it.
    co_await executeTransmitChange(pttCommand(on), !on && isStopping());
}

QCoro::Task<void> RemoteAgentClient::transmit(CATTransmitMode mode)
{
    if (mode == CATTransmitMode::Tune)
        co_await executeTransmitChange(RemoteAgentCommand::station(RemoteStationAction::Tune), false);
    else
        co_await executeTransmitChange(pttCommand(true), false);
}

QCoro::Task<void> RemoteAgentClient::setSplitTransmit(bool on)
{
    RemoteAgentCommand command{QStringLiteral("set_split"), {{enabledKey, A::boolean(on)}}};
    if (const auto b = m_value.vfo(QStringLiteral("B")); on && b)
        command.arguments.insert(QStringLiteral("tx_frequency_hz"), A::integer(b->frequencyHz));
    co_await execute(command);
}

QCoro::Task<void> RemoteAgentClient::setReceiveVFO(int vfo)
{
    if (vfo != 0 && vfo != 1)
        throw KivoError::unsupported();
    const QString letter = vfo == 0 ? QStringLiteral("A") : QStringLiteral("B");
    const RemoteAgentCommand command{QStringLiteral("set_receive_vfo"), {{QStringLiteral("vfo"), A::string(letter)}}};
    co_await execute(command);
}

QCoro::Task<void> RemoteAgentClient::setCWSpeed(int wordsPerMinute)
{
    if (wordsPerMinute < 5 || wordsPerMinute > 100)
        throw KivoError::server(QStringLiteral("CW speed must be 5 through 100 WPM."));
    const RemoteAgentCommand command{QStringLiteral("set_cw_speed"),
                                     {{QStringLiteral("words_per_minute"), A::integer(wordsPerMinute)}}};
    co_await execute(command);
}

QCoro::Task<void> RemoteAgentClient::queueCW(QString text)
{
    if (!isCWText(text))
        throw KivoError::refusal(
            QStringLiteral("CW text must contain 1 through 128 printable ASCII characters without |."));
    const RemoteAgentCommand command{QStringLiteral("send_cw"), {{QStringLiteral("text"), A::string(text)}}};
    bool settled = false;
    try {
        co_await execute(command, {}, false, std::nullopt, &settled);
    } catch (...) {
        // A send_cw never answered may still be played later.
        if (settled)
            throw KivoError::refusal(describeException(std::current_exception()));
        throw;
    }
}

QCoro::Task<void> RemoteAgentClient::clearKeyer()
{
    co_await execute(RemoteAgentCommand::clearCW, {}, isStopping());
}

QCoro::Task<void> RemoteAgentClient::setRIT(bool enabled, int offsetHz, std::optional<QString> vfo)
{
    if (offsetHz < -9999 || offsetHz > 9999)
        throw KivoError::server(QStringLiteral("RIT offset must be between -9999 and 9999 Hz."));
    co_await execute(offsetCommand(QStringLiteral("set_rit"), enabled, offsetHz,
                                   normalizedVFO(vfo).value_or(receiveVFODefault())));
}

QCoro::Task<void> RemoteAgentClient::setXIT(bool enabled, int offsetHz, std::optional<QString> vfo)
{
    if (offsetHz < -9999 || offsetHz > 9999)
        throw KivoError::server(QStringLiteral("XIT offset must be between -9999 and 9999 Hz."));
    co_await execute(offsetCommand(QStringLiteral("set_xit"), enabled, offsetHz,
                                   normalizedVFO(vfo).value_or(receiveVFODefault())));
}

QCoro::Task<void> RemoteAgentClient::setRFPower(int watts)
{
    if (watts < 1)
        throw KivoError::server(QStringLiteral("RF power must be greater than zero."));
    const RemoteAgentCommand command{QStringLiteral("set_rf_power"), {{QStringLiteral("watts"), A::integer(watts)}}};
    co_await execute(command);
}

QCoro::Task<void> RemoteAgentClient::performStationAction(RemoteStationAction action)
{
    co_await execute(RemoteAgentCommand::station(action));
}

QCoro::Task<void> RemoteAgentClient::addSpot(FlexSpot spot)
{
    co_await execute(RemoteAgentCommand::addSpot(spot));
}

// Frequency confirmation.

void RemoteAgentClient::scheduleFrequencyVerification(qint64 hz, const QString &vfo)
{
    const QString letter = upperCased(vfo);
    if (const auto it = m_verifications.constFind(letter); it != m_verifications.constEnd())
        it->cancellation->cancel();
    const Verification verification{QUuid::createUuid(), std::make_shared<RemoteAgentCancellation>()};
    m_verifications.insert(letter, verification);
    launch(verifyFrequency(hz, letter, verification.id, verification.cancellation));
}

bool RemoteAgentClient::isCurrentVerification(const QString &vfo, const QUuid &id) const
{
    const auto it = m_verifications.constFind(vfo);
    return it != m_verifications.constEnd() && it->id == id;
}

bool RemoteAgentClient::agentShows(const QString &vfo, qint64 hz) const
{
    const auto shown = m_authoritativeValue.vfo(vfo);
    return shown && shown->frequencyHz == hz;
}

void RemoteAgentClient::cancelVerifications()
{
    for (const Verification &verification : std::as_const(m_verifications))
        verification.cancellation->cancel();
    m_verifications.clear();
}

QCoro::Task<void> RemoteAgentClient::verifyFrequency(qint64 hz, QString vfo, QUuid id,
                                                     std::shared_ptr<RemoteAgentCancellation> cancellation)
{
    QPointer<RemoteAgentClient> self(this);
    const auto replaced = [&] { return !self || cancellation->cancelled || !isCurrentVerification(vfo, id); };

    co_await sleepFor(m_timing.verificationDelay, cancellation->cancelledEvent);
    if (replaced() || !shouldRun())
        co_return;
    if (agentShows(vfo, hz)) {
        m_verifications.remove(vfo);
        co_return;
    }

    std::optional<QString> failure;
    try {
        co_await execute(frequencyCommand(hz, vfo), cancellation);
    } catch (...) {
        failure = describeException(std::current_exception());
    }
    // A check that stop() or a newer write has replaced ends silently: the
    // pending write now belongs to whoever replaced it.
    if (replaced())
        co_return;
    if (failure) {
        m_pendingWrites.frequencies.remove(vfo);
        publishPendingWrites();
        report(state(), QStringLiteral("Frequency retry failed: ") + *failure);
        m_verifications.remove(vfo);
        co_return;
    }
    m_pendingWrites.recordFrequency(vfo, hz, PendingRadioWrites::Clock::now());
    publishPendingWrites();

    co_await sleepFor(m_timing.verificationRecheckDelay, cancellation->cancelledEvent);
    if (replaced())
        co_return;
    if (!agentShows(vfo, hz)) {
        m_pendingWrites.frequencies.remove(vfo);
        publishPendingWrites();
        report(state(), QStringLiteral("FLEX did not confirm %1 at %2 Hz").arg(vfo).arg(hz));
    }
    m_verifications.remove(vfo);
}

} // namespace kivo
