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

SmartLinkRadioClient::SmartLinkRadioClient(QString email, QString password, QString preferredSerial,
                                           QString stationName, QString sliceLetter,
                                           std::shared_ptr<SmartLinkAuthenticator> authenticator,
                                           StateHandler onState, SnapshotHandler onSnapshot,
                                           RadioSelectedHandler onRadioSelected, SmartLinkBrokerEndpoint brokerEndpoint,
                                           SmartLinkCertificatePinStore pinStore, Timing timing, RandomSource random,
                                           QObject *parent)
    : QObject(parent), m_email(trimmed(email)), m_password(std::move(password)),
      m_preferredSerial(trimmed(preferredSerial)), m_stationName(std::move(stationName)),
      m_sliceLetter(upperCased(sliceLetter)),
      m_authenticator(authenticator ? std::move(authenticator)
                                    : std::make_shared<SmartLinkAuthenticator>(
                                          SmartLinkKeychain(std::make_shared<InMemorySecretStore>(), email))),
      m_onRadioSelected(std::move(onRadioSelected)), m_brokerEndpoint(std::move(brokerEndpoint)),
      m_pinStore(std::move(pinStore)), m_timing(timing),
      m_life(this, [this] { launch(establish(m_reconnectGeneration)); },
             {std::move(onState), std::move(onSnapshot), timing.backoffSecond, std::move(random)}),
      m_value({.frequencyHz = 14074000, .mode = QStringLiteral("DIGU"), .slice = m_sliceLetter, .station = m_stationName})
{
    m_stableConnectionTimer.setSingleShot(true);
    connect(&m_stableConnectionTimer, &QTimer::timeout, this, &SmartLinkRadioClient::stableConnectionReached);
}

SmartLinkRadioClient::~SmartLinkRadioClient() = default;

void SmartLinkRadioClient::start()
{
    if (m_life.begin())
        beginConnection();
}

QCoro::Task<void> SmartLinkRadioClient::stop()
{
    QPointer<SmartLinkRadioClient> self(this);
    m_life.end();
    m_life.advance();
    m_stableConnectionTimer.stop();
    co_await teardown();
    if (self)
        m_life.reportStopped();
}

void SmartLinkRadioClient::reconnectNow()
{
    launch(restartChain());
}

QCoro::Task<void> SmartLinkRadioClient::restartChain()
{
    QPointer<SmartLinkRadioClient> self(this);
    if (!m_life.shouldRun()) {
        start();
        co_return;
    }
    m_life.clearFailures();
    m_life.advance();
    m_life.cancelRetry();
    m_stableConnectionTimer.stop();
    co_await teardown();
    if (self)
        beginConnection();
}

void SmartLinkRadioClient::beginConnection()
{
    if (!m_life.shouldRun())
        return;
    m_reconnectGeneration = m_life.advance();
    m_life.retryAfter(std::chrono::milliseconds(0));
}

QCoro::Task<void> SmartLinkRadioClient::establish(qint64 generation)
{
    const AttemptGuard current = m_life.guard(generation);
    if (!current)
        co_return;
    report(RadioConnectionState::Authenticating, QStringLiteral("Authenticating with SmartLink"));
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
    if (failure) {
        attemptFailed(failure, generation);
        co_return;
    }
    if (!current)
        co_return;
    report(RadioConnectionState::Discovering, QStringLiteral("Finding your remote FlexRadio"));
    if (!current)
        co_return;

    const auto broker = makeLink<SmartLinkBroker>(tokens->idToken, m_preferredSerial, brokerCallback(generation),
                                                  m_brokerEndpoint);
    m_broker = broker;
    std::optional<SmartLinkWANSession> session;
    try {
        session = co_await broker->connect();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!current.ownerAlive()) {
        broker->stop();
        co_return;
    }
    if (failure) {
        attemptFailed(failure, generation);
        co_return;
    }
    if (!current) {
        broker->stop();
        co_return;
    }

    const SmartLinkRadio radio = session->radio;
    if (m_onRadioSelected)
        m_onRadioSelected(radio);
    if (!current)
        co_return;
    report(RadioConnectionState::Connecting,
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
                                     .random = m_life.randomSource()};
    const auto inner = makeLink<FlexRadioClient>(std::move(options), radioStateCallback(generation),
                                                 radioSnapshotCallback(generation), nullptr);
    m_radio = inner;
    inner->start();
}

void SmartLinkRadioClient::attemptFailed(std::exception_ptr error, qint64 generation)
{
    if (!isCurrent(generation))
        return;
    try {
        std::rethrow_exception(error);
    } catch (const SmartLinkAuthError &refused) {
        // Only the user can cure this: rest here until stopped or asked again.
        report(RadioConnectionState::Failed, refused.message());
        return;
    } catch (...) {
    }
    launch(scheduleReconnect(describeException(error)));
}

void SmartLinkRadioClient::radioStateChanged(RadioConnectionState state, const QString &description,
                                             qint64 generation)
{
    if (!isCurrent(generation))
        return;
    switch (state) {
    case RadioConnectionState::Retrying:
    case RadioConnectionState::Failed:
        // The chain, not the radio session, decides when to try again, so
        // the session's own delay is not shown.
        launch(scheduleReconnect(reasonOfRetry(description)));
        return;
    case RadioConnectionState::Ready:
        m_stableGeneration = generation;
        m_stableConnectionTimer.start(m_timing.stableConnection);
        report(state, description);
        return;
    default:
        report(state, description);
        return;
    }
}

void SmartLinkRadioClient::radioSnapshotChanged(const RadioSnapshot &snapshot, qint64 generation)
{
    if (!isCurrent(generation))
        return;
    m_value = snapshot;
    publish();
}

void SmartLinkRadioClient::stableConnectionReached()
{
    if (isCurrent(m_stableGeneration))
        m_life.clearFailures();
}

QCoro::Task<void> SmartLinkRadioClient::scheduleReconnect(QString reason)
{
    QPointer<SmartLinkRadioClient> self(this);
    const qint64 generation = m_life.advance();
    m_stableConnectionTimer.stop();
    co_await teardown();
    // A stop or a reconnect request during the teardown has the last word;
    // a retry now would only replace the attempt it started.
    if (!self || !isCurrent(generation))
        co_return;
    m_reconnectGeneration = generation;
    m_life.retryLater(reason);
}

QCoro::Task<void> SmartLinkRadioClient::teardown()
{
    const std::shared_ptr<FlexRadioClient> radio = std::exchange(m_radio, nullptr);
    const std::shared_ptr<SmartLinkBroker> broker = std::exchange(m_broker, nullptr);
    m_value.isConnected = false;
    publish();
    // Nothing of this client is touched from here on: it may be gone.
    if (radio)
        co_await radio->stop();
    if (broker)
        broker->stop();
}

SmartLinkBroker::DisconnectHandler SmartLinkRadioClient::brokerCallback(qint64 generation)
{
    QPointer<SmartLinkRadioClient> self(this);
    return [self, generation](const QString &message) {
        later(self, [self, generation, message] {
            if (self && self->isCurrent(generation))
                launch(self->scheduleReconnect(message));
        });
    };
}

FlexRadioClient::StateHandler SmartLinkRadioClient::radioStateCallback(qint64 generation)
{
    QPointer<SmartLinkRadioClient> self(this);
    return [self, generation](RadioConnectionState state, const QString &description) {
        later(self, [self, generation, state, description] {
            if (self)
                self->radioStateChanged(state, description, generation);
        });
    };
}

FlexRadioClient::SnapshotHandler SmartLinkRadioClient::radioSnapshotCallback(qint64 generation)
{
    QPointer<SmartLinkRadioClient> self(this);
    return [self, generation](const RadioSnapshot &snapshot) {
        later(self, [self, generation, snapshot] {
            if (self)
                self->radioSnapshotChanged(snapshot, generation);
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

QCoro::Task<void> SmartLinkRadioClient::setTransmit(bool on)
{
    return forward(static_cast<QCoro::Task<void> (FlexRadioClient::*)(bool)>(&FlexRadioClient::setTransmit), on);
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

QCoro::Task<void> SmartLinkRadioClient::clearCW()
{
    if (!m_radio)
        co_return;
    co_await forward(&FlexRadioClient::clearCW);
}

QCoro::Task<void> SmartLinkRadioClient::setTransmit(CATTransmitMode mode)
{
    return forward(
        static_cast<QCoro::Task<void> (FlexRadioClient::*)(CATTransmitMode)>(&FlexRadioClient::setTransmit), mode);
}

QCoro::Task<void> SmartLinkRadioClient::addSpot(FlexSpot spot)
{
    return forward(&FlexRadioClient::addSpot, std::move(spot));
}

} // namespace kivo
