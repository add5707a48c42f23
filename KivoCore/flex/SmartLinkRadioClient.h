#pragma once

// The backend for a FlexRadio reached over the internet through SmartLink:
// sign-in, the broker's choice of radio and a pinned wide-area session with
// that radio, chained into one backend. When any link fails the whole chain
// is torn down and started again from sign-in after a back-off; a refused
// sign-in is final. The radio session is the same FLEX session the local
// client runs, so both keep one transmitter ledger, the base's.

#include "KivoCore/flex/FlexRadioSession.h"
#include "KivoCore/flex/SmartLinkAuth.h"
#include "KivoCore/flex/SmartLinkBroker.h"
#include "KivoCore/flex/SmartLinkSignIn.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace kivo {

// Every duration of the chain, shortened by tests. The broker's and the
// identity provider's waits travel with their endpoints.
struct SmartLinkRadioClientTiming {
    // A session ready this long clears the back-off.
    static constexpr std::chrono::milliseconds kStableConnection{30000};

    std::chrono::milliseconds stableConnection = kStableConnection;
    // The unit of the back-off delays (1, 2, 4, 8, 16, 30 of them plus jitter).
    std::chrono::milliseconds backoffSecond{1000};
    // The radio session's own durations.
    FlexRadioTiming radio;
};

// The account, the radio and station wanted, and every peer of the chain.
struct SmartLinkRadioClientOptions {
    QString email{};
    // Kept only until the first sign-in call has returned.
    QString password{};
    // Empty: the broker's first available radio.
    QString preferredSerial{};
    QString stationName{};
    QString sliceLetter{};
    // Decides where the refresh token is kept (the caller picks the secret
    // store); without one, a token lives only in memory.
    std::shared_ptr<SmartLinkAuthenticator> authenticator{};
    // Hears which radio the broker chose.
    std::function<void(const SmartLinkRadio &radio)> onRadioSelected{};
    SmartLinkCertificatePinStore pinStore{};
    // Kept after the pin store: in the other order GCC 12 warns that the
    // endpoint's optional TLS settings may be used uninitialised.
    SmartLinkBrokerEndpoint brokerEndpoint{};
    SmartLinkRadioClientTiming timing{};
    // Uniform in [0, 1]: the share of the back-off's random extra.
    std::function<double()> random{};
};

class SmartLinkRadioClient : public FlexRadioSession {
    Q_OBJECT

public:
    using RadioSelectedHandler = std::function<void(const SmartLinkRadio &radio)>;
    using Timing = SmartLinkRadioClientTiming;
    using Options = SmartLinkRadioClientOptions;

    // Starts nothing.
    SmartLinkRadioClient(Options options, StateHandler onState, SnapshotHandler onSnapshot,
                         QObject *parent = nullptr);
    ~SmartLinkRadioClient() override;

    // From VFO "A" of the last snapshot, and tuned through setFrequency.
    QCoro::Task<std::optional<qint64>> primaryFrequency() override;
    QCoro::Task<void> setPrimaryFrequency(qint64 hz) override;
    // Always none, whatever the radio knows.
    QCoro::Task<std::optional<qint64>> secondaryFrequency() override;
    // Always 25, whatever the radio knows.
    QCoro::Task<int> cwSpeed() override;

protected:
    // The chain is the transport: sign-in, the broker's choice of radio and
    // the radio session.
    void openTransport(qint64 attempt) override;
    QCoro::Task<void> dropTransport() override;
    void sessionEnded() override;
    void becameReady() override;
    // The back-off starts over only after a stable session.
    void followingSlice() override {}
    // Quietly nothing without a radio session, unless CW of ours waits in
    // the keyer: then that clear is owed.
    QCoro::Task<void> clearKeyer() override;

private:
    QCoro::Task<void> establish(qint64 attempt);
    QCoro::Task<void> teardown();
    void stableConnectionReached();
    bool isLive(qint64 attempt) const { return shouldRun() && isCurrent(attempt); }

    // The broker's loss of attempt `attempt`, carried out later through the
    // event loop and only while this client exists.
    SmartLinkBroker::DisconnectHandler brokerCallback(qint64 attempt);

    const QString m_email;
    QString m_password;
    const QString m_preferredSerial;
    const std::shared_ptr<SmartLinkAuthenticator> m_authenticator;
    const RadioSelectedHandler m_onRadioSelected;
    const SmartLinkBrokerEndpoint m_brokerEndpoint;
    const Timing m_timing;

    std::shared_ptr<SmartLinkBroker> m_broker;
    QTimer m_stableConnectionTimer;
    qint64 m_stableAttempt = 0;
    // The chain was dropped without its end shown (a reconnect request).
    bool m_endUnshown = false;
    // The sign-in was refused: nothing past it was ever shown.
    bool m_signInRefused = false;
};

} // namespace kivo
