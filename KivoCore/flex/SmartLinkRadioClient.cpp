#include "KivoCore/flex/SmartLinkRadioClient.h"

#include "KivoCore/support/Async.h"
#include "KivoCore/support/SecretStore.h"
#include "KivoCore/support/ReconnectBackoff.h"
#include "KivoCore/support/Text.h"

#include <QMetaObject>
#include <QPointer>

namespace kivo {

namespace {

// Parts of the chain are deleted through the event loop, never from inside
// one of their own calls, and only once every coroutine holding one is done.
template <typename T, typename... Arguments>
std::shared_ptr<T> makeLink(Arguments &&...arguments)
{
    return std::shared_ptr<T>(new T(std::forward<Arguments>(arguments)...), [](T *link) { link->deleteLater(); });
}

// Runs `work` later through the event loop; dropped if the client is gone by then.
template <typename Work>
void later(const QPointer<SmartLinkRadioClient> &client, Work work)
{
    if (client)
        QMetaObject::invokeMethod(client.data(), std::move(work), Qt::QueuedConnection);
}

} // namespace

SmartLinkRadioClient::SmartLinkRadioClient(Options options, StateHandler onState, SnapshotHandler onSnapshot,
                                           QObject *parent)
    : RadioBackendBase({std::move(onState), std::move(onSnapshot), options.timing.backoffSecond,
                        std::move(options.random)},
                       parent),
      m_email(trimmed(options.email)), m_password(std::move(options.password)),
      m_preferredSerial(trimmed(options.preferredSerial)), m_stationName(std::move(options.stationName)),
      m_sliceLetter(upperCased(options.sliceLetter)),
      m_authenticator(options.authenticator
                          ? std::move(options.authenticator)
                          : std::make_shared<SmartLinkAuthenticator>(
                                SmartLinkKeychain(std::make_shared<InMemorySecretStore>(), options.email))),
      m_onRadioSelected(std::move(options.onRadioSelected)), m_brokerEndpoint(std::move(options.brokerEndpoint)),
      m_pinStore(std::move(options.pinStore)), m_timing(options.timing),
      m_value({.frequencyHz = 14074000, .mode = QStringLiteral("DIGU"), .slice = m_sliceLetter, .station = m_stationName})
{
    // Ticks only pay an unkey this backend still owes.
    setTickInterval(m_timing.radio.heartbeatInterval);
    m_stableConnectionTimer.setSingleShot(true);
    connect(&m_stableConnectionTimer, &QTimer::timeout, this, &SmartLinkRadioClient::stableConnectionReached);
}

SmartLinkRadioClient::~SmartLinkRadioClient() = default;

void SmartLinkRadioClient::openTransport(qint64 attempt)
{
    m_signInRefused = false;
    if (std::exchange(m_endUnshown, false))
        publishDisconnected();
    launch(establish(attempt));
}

QCoro::Task<void> SmartLinkRadioClient::establish(qint64 attempt)
{
    const AttemptGuard current = guard(attempt);
    setState(RadioConnectionState::Authenticating, QStringLiteral("Authenticating with SmartLink"));
    if (!current)
        co_return;

    // Copies: the sign-in outlives nothing it relies on.
    const std::shared_ptr<SmartLinkAuthenticator> authenticator = m_authenticator;
    const QString email = m_email;
    const QString password = m_password;
    std::optional<SmartLinkTokenSet> tokens;
    std::exception_ptr failure;
    try {
        if (password.isEmpty())
            tokens = co_await authenticator->refresh();
        else
            tokens = co_await authenticator->authenticate(email, password);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!current.ownerAlive())
        co_return;
    // Every later attempt signs in by the saved refresh token.
    m_password.clear();
    if (!isLive(attempt))
        co_return;
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const SmartLinkAuthError &refused) {
            // Only the user can cure this: rest here until stopped or asked again.
            m_signInRefused = true;
            connectionRefused(attempt, refused.message());
            co_return;
        } catch (...) {
        }
        connectionFailed(attempt, describeException(failure));
        co_return;
    }
    setState(RadioConnectionState::Discovering, QStringLiteral("Finding your remote FlexRadio"));
    if (!current)
        co_return;

    const auto broker = makeLink<SmartLinkBroker>(
        SmartLinkBroker::Options{
            .idToken = tokens->idToken, .preferredSerial = m_preferredSerial, .endpoint = m_brokerEndpoint},
        brokerCallback(attempt));
    m_broker = broker;
    std::optional<SmartLinkWANSession> session;
    try {
        session = co_await broker->connect();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!current) {
        broker->stop();
        co_return;
    }
    if (failure) {
        connectionFailed(attempt, describeException(failure));
        co_return;
    }

    const SmartLinkRadio radio = session->radio;
    if (m_onRadioSelected)
        m_onRadioSelected(radio);
    if (!current)
        co_return;
    setState(RadioConnectionState::Connecting,
             QStringLiteral("Connecting to ") + radio.nickname + QStringLiteral(" (") + radio.model + u')');
    if (!current)
        co_return;

    FlexRadioClient::Options options{.host = radio.publicIP,
                                     .port = radio.tlsPort,
                                     .stationName = m_stationName,
                                     .sliceLetter = m_sliceLetter,
                                     .useTLS = true,
                                     .wanValidationHandle = session->validationHandle,
                                     .certificateIdentity = radio.serial,
                                     .pinStore = m_pinStore,
                                     .timing = m_timing.radio,
                                     .random = randomSource()};
    const auto inner = makeLink<FlexRadioClient>(std::move(options), radioStateCallback(attempt),
                                                 radioSnapshotCallback(attempt), nullptr);
    m_radio = inner;
    m_sessionUnkeys = 0;
    inner->start();
}

void SmartLinkRadioClient::radioStateChanged(RadioConnectionState state, const QString &description,
                                             qint64 attempt)
{
    if (!isLive(attempt))
        return;
    switch (state) {
    case RadioConnectionState::Retrying:
    case RadioConnectionState::Failed:
        // The chain, not the radio session, decides when to try again, so
        // the session's own delay is not shown.
        connectionFailed(attempt, reasonOfRetry(description));
        return;
    case RadioConnectionState::Ready:
        m_stableAttempt = attempt;
        m_stableConnectionTimer.start(m_timing.stableConnection);
        if (m_readyAttempt != attempt) {
            m_readyAttempt = attempt;
            sessionReady(attempt, description);
        } else {
            setState(state, description);
        }
        return;
    default:
        setState(state, description);
        return;
    }
}

void SmartLinkRadioClient::radioSnapshotChanged(const RadioSnapshot &snapshot, qint64 attempt)
{
    if (!isLive(attempt))
        return;
    m_value = snapshot;
    takeSessionUnkeys();
    publish();
}

void SmartLinkRadioClient::takeSessionUnkeys()
{
    if (!m_radio)
        return;
    const qint64 confirmed = m_radio->confirmedUnkeys();
    if (confirmed > m_sessionUnkeys) {
        m_sessionUnkeys = confirmed;
        transmitterReportedIdle();
    }
}

void SmartLinkRadioClient::stableConnectionReached()
{
    if (isLive(m_stableAttempt))
        clearFailures();
}

void SmartLinkRadioClient::publishDisconnected()
{
    m_value.isConnected = false;
    publish();
}

QCoro::Task<void> SmartLinkRadioClient::dropTransport()
{
    m_stableConnectionTimer.stop();
    m_endUnshown = true;
    co_await teardown();
}

void SmartLinkRadioClient::sessionEnded()
{
    m_endUnshown = false;
    if (!std::exchange(m_signInRefused, false))
        publishDisconnected();
}

QCoro::Task<void> SmartLinkRadioClient::teardown()
{
    const std::shared_ptr<FlexRadioClient> radio = std::exchange(m_radio, nullptr);
    const std::shared_ptr<SmartLinkBroker> broker = std::exchange(m_broker, nullptr);
    m_value.isConnected = false;
    // Nothing of this client is touched from here on: it may be gone.
    if (radio)
        co_await radio->stop();
    if (broker)
        broker->stop();
}

bool SmartLinkRadioClient::canSayGoodbye() const
{
    return m_radio && m_radio->m_transportReady;
}

QCoro::Task<void> SmartLinkRadioClient::sayGoodbye()
{
    if (m_radio)
        m_radio->m_ownerSaysGoodbye = true;
    co_await RadioBackendBase::sayGoodbye();
}

QCoro::Task<void> SmartLinkRadioClient::tick()
{
    takeSessionUnkeys();
    co_return;
}

SmartLinkBroker::DisconnectHandler SmartLinkRadioClient::brokerCallback(qint64 attempt)
{
    QPointer<SmartLinkRadioClient> self(this);
    return [self, attempt](const QString &message) {
        later(self, [self, attempt, message] {
            if (self && self->isLive(attempt))
                self->connectionFailed(attempt, message);
        });
    };
}

FlexRadioClient::StateHandler SmartLinkRadioClient::radioStateCallback(qint64 attempt)
{
    QPointer<SmartLinkRadioClient> self(this);
    return [self, attempt](RadioConnectionState state, const QString &description) {
        later(self, [self, attempt, state, description] {
            if (self)
                self->radioStateChanged(state, description, attempt);
        });
    };
}

FlexRadioClient::SnapshotHandler SmartLinkRadioClient::radioSnapshotCallback(qint64 attempt)
{
    QPointer<SmartLinkRadioClient> self(this);
    return [self, attempt](const RadioSnapshot &snapshot) {
        later(self, [self, attempt, snapshot] {
            if (self)
                self->radioSnapshotChanged(snapshot, attempt);
        });
    };
}

std::shared_ptr<FlexRadioClient> SmartLinkRadioClient::requireRadio() const
{
    if (!m_radio)
        throw KivoError::notConnected();
    return m_radio;
}

// The radio session is held until its answer is in, even if the chain is
// torn down meanwhile.
template <typename Result, typename... Parameters, typename... Arguments>
QCoro::Task<Result> SmartLinkRadioClient::forward(QCoro::Task<Result> (FlexRadioClient::*operation)(Parameters...),
                                                  Arguments... arguments)
{
    const std::shared_ptr<FlexRadioClient> radio = requireRadio();
    co_return co_await ((*radio).*operation)(std::move(arguments)...);
}

QCoro::Task<RadioSnapshot> SmartLinkRadioClient::snapshot()
{
    return snapshotCopy(m_value);
}

QCoro::Task<void> SmartLinkRadioClient::setFrequency(qint64 hz)
{
    return forward(&FlexRadioClient::setFrequency, hz);
}

QCoro::Task<void> SmartLinkRadioClient::setMode(QString mode)
{
    return forward(&FlexRadioClient::setMode, std::move(mode));
}

// Forwarded, so that an unkey the session could not confirm stays owed
// here, beyond the session.
QCoro::Task<void> SmartLinkRadioClient::transmit(bool on)
{
    const std::shared_ptr<FlexRadioClient> radio = requireRadio();
    co_await radio->setTransmit(on);
    // This unkey is counted by the base; the session's count of it is taken.
    if (!on && radio == m_radio)
        m_sessionUnkeys = radio->confirmedUnkeys();
}

QCoro::Task<std::optional<qint64>> SmartLinkRadioClient::secondaryFrequency()
{
    co_return std::nullopt;
}

QCoro::Task<void> SmartLinkRadioClient::setSecondaryFrequency(qint64 hz)
{
    return forward(&FlexRadioClient::setSecondaryFrequency, hz);
}

QCoro::Task<void> SmartLinkRadioClient::setSplitTransmit(bool enabled)
{
    return forward(&FlexRadioClient::setSplitTransmit, enabled);
}

QCoro::Task<void> SmartLinkRadioClient::setReceiveVFO(int vfo)
{
    return forward(&FlexRadioClient::setReceiveVFO, vfo);
}

QCoro::Task<int> SmartLinkRadioClient::cwSpeed()
{
    co_return 25;
}

QCoro::Task<void> SmartLinkRadioClient::setCWSpeed(int wordsPerMinute)
{
    return forward(&FlexRadioClient::setCWSpeed, wordsPerMinute);
}

QCoro::Task<void> SmartLinkRadioClient::sendCW(QString text)
{
    return forward(&FlexRadioClient::sendCW, std::move(text));
}

QCoro::Task<void> SmartLinkRadioClient::clearKeyer()
{
    if (!m_radio)
        co_return;
    // Only the keyer: the unkey that follows goes through this backend.
    const std::shared_ptr<FlexRadioClient> radio = m_radio;
    co_await radio->clearKeyer();
}

QCoro::Task<void> SmartLinkRadioClient::transmit(CATTransmitMode mode)
{
    const std::shared_ptr<FlexRadioClient> radio = requireRadio();
    co_await radio->setTransmit(mode);
}

QCoro::Task<void> SmartLinkRadioClient::addSpot(FlexSpot spot)
{
    return forward(&FlexRadioClient::addSpot, std::move(spot));
}

} // namespace kivo
