#include "KivoCore/flex/SmartLinkRadioClient.h"

#include "KivoCore/support/Async.h"
#include "KivoCore/support/SecretStore.h"
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
    : FlexRadioSession({.stationName = options.stationName,
                        .sliceLetter = options.sliceLetter,
                        .pinStore = options.pinStore,
                        .timing = options.timing.radio,
                        .backoffSecond = options.timing.backoffSecond,
                        .random = std::move(options.random)},
                       std::move(onState), std::move(onSnapshot), parent),
      m_email(trimmed(options.email)), m_password(std::move(options.password)),
      m_preferredSerial(trimmed(options.preferredSerial)),
      m_authenticator(options.authenticator
                          ? std::move(options.authenticator)
                          : std::make_shared<SmartLinkAuthenticator>(
                                SmartLinkKeychain(std::make_shared<InMemorySecretStore>(), options.email))),
      m_onRadioSelected(std::move(options.onRadioSelected)), m_brokerEndpoint(std::move(options.brokerEndpoint)),
      m_timing(options.timing)
{
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

    if (radio.tlsPort == 0) {
        connectionFailed(attempt, QStringLiteral("Invalid radio port"));
        co_return;
    }
    openSession(attempt, {.host = radio.publicIP,
                          .port = radio.tlsPort,
                          .useTLS = true,
                          .wanValidationHandle = session->validationHandle,
                          .certificateIdentity = radio.serial});
}

void SmartLinkRadioClient::becameReady()
{
    m_stableAttempt = generation();
    m_stableConnectionTimer.start(m_timing.stableConnection);
}

void SmartLinkRadioClient::stableConnectionReached()
{
    if (isLive(m_stableAttempt))
        clearFailures();
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
    const std::shared_ptr<SmartLinkBroker> broker = std::exchange(m_broker, nullptr);
    co_await FlexRadioSession::dropTransport();
    if (broker)
        broker->stop();
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

QCoro::Task<std::optional<qint64>> SmartLinkRadioClient::primaryFrequency()
{
    return RadioControlling::primaryFrequency();
}

QCoro::Task<void> SmartLinkRadioClient::setPrimaryFrequency(qint64 hz)
{
    return setFrequency(hz);
}

QCoro::Task<std::optional<qint64>> SmartLinkRadioClient::secondaryFrequency()
{
    co_return std::nullopt;
}

QCoro::Task<int> SmartLinkRadioClient::cwSpeed()
{
    co_return 25;
}

QCoro::Task<void> SmartLinkRadioClient::clearKeyer()
{
    // Without a radio session nothing of ours can wait in its keyer.
    if (!canSayGoodbye() && !cwOutstanding())
        co_return;
    co_await FlexRadioSession::clearKeyer();
}

} // namespace kivo
