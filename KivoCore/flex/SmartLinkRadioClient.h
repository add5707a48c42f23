#pragma once

// The backend for a FlexRadio reached over the internet through SmartLink:
// sign-in, the broker's choice of radio and a pinned wide-area session with
// that radio, chained into one backend. When any link fails the whole chain
// is torn down and started again from sign-in after a back-off; a refused
// sign-in is final.

#include "KivoCore/flex/FlexRadioClient.h"
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
    // The inner radio session's own durations.
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

class SmartLinkRadioClient : public RadioBackendBase {
    Q_OBJECT

public:
    using RadioSelectedHandler = std::function<void(const SmartLinkRadio &radio)>;
    using Timing = SmartLinkRadioClientTiming;
    using Options = SmartLinkRadioClientOptions;

    // Starts nothing.
    SmartLinkRadioClient(Options options, StateHandler onState, SnapshotHandler onSnapshot,
                         QObject *parent = nullptr);
    ~SmartLinkRadioClient() override;

    QCoro::Task<RadioSnapshot> snapshot() override;
    QCoro::Task<void> setFrequency(qint64 hz) override;
    QCoro::Task<void> setMode(QString mode) override;
    // Always none, whatever the radio knows.
    QCoro::Task<std::optional<qint64>> secondaryFrequency() override;
    QCoro::Task<void> setSecondaryFrequency(qint64 hz) override;
    QCoro::Task<void> setSplitTransmit(bool enabled) override;
    QCoro::Task<void> setReceiveVFO(int vfo) override;
    // Always 25, whatever the radio knows.
    QCoro::Task<int> cwSpeed() override;
    QCoro::Task<void> setCWSpeed(int wordsPerMinute) override;
    QCoro::Task<void> sendCW(QString text) override;
    QCoro::Task<void> addSpot(FlexSpot spot) override;

protected:
    // The chain is the transport: sign-in, the broker's choice of radio and
    // the radio session.
    void openTransport(qint64 attempt) override;
    QCoro::Task<void> dropTransport() override;
    void sessionEnded() override;
    bool canSayGoodbye() const override;
    // Said through this backend so that an unkey it owes outlives the radio
    // session; the session's own stop then says nothing more.
    QCoro::Task<void> sayGoodbye() override;
    QCoro::Task<void> tick() override;
    QCoro::Task<void> transmit(bool on) override;
    QCoro::Task<void> transmit(CATTransmitMode mode) override;
    // Quietly nothing without a radio session.
    QCoro::Task<void> clearKeyer() override;
    bool clearingKeyerUnkeys() const override { return m_radio != nullptr; }

private:
    QCoro::Task<void> establish(qint64 attempt);
    void radioStateChanged(RadioConnectionState state, const QString &description, qint64 attempt);
    void radioSnapshotChanged(const RadioSnapshot &snapshot, qint64 attempt);
    QCoro::Task<void> teardown();
    void stableConnectionReached();
    // Unkeys the radio session confirmed on its own (its report of an idle
    // transmitter, an unkey it paid late) count here too.
    void takeSessionUnkeys();
    bool isLive(qint64 attempt) const { return shouldRun() && isCurrent(attempt); }
    void publish() { RadioBackendBase::publish(m_value); }
    void publishDisconnected();
    std::shared_ptr<FlexRadioClient> requireRadio() const;

    // Callbacks of attempt `attempt`, each carried out later through the
    // event loop and only while this client exists.
    SmartLinkBroker::DisconnectHandler brokerCallback(qint64 attempt);
    FlexRadioClient::StateHandler radioStateCallback(qint64 attempt);
    FlexRadioClient::SnapshotHandler radioSnapshotCallback(qint64 attempt);

    template <typename Result, typename... Parameters, typename... Arguments>
    QCoro::Task<Result> forward(QCoro::Task<Result> (FlexRadioClient::*operation)(Parameters...),
                                Arguments... arguments);

    const QString m_email;
    QString m_password;
    const QString m_preferredSerial;
    const QString m_stationName;
    const QString m_sliceLetter;
    const std::shared_ptr<SmartLinkAuthenticator> m_authenticator;
    const RadioSelectedHandler m_onRadioSelected;
    const SmartLinkBrokerEndpoint m_brokerEndpoint;
    const SmartLinkCertificatePinStore m_pinStore;
    const Timing m_timing;

    std::shared_ptr<SmartLinkBroker> m_broker;
    std::shared_ptr<FlexRadioClient> m_radio;
    // The radio session's confirmed unkeys already counted here.
    qint64 m_sessionUnkeys = 0;
    // The attempt whose radio session became ready.
    qint64 m_readyAttempt = 0;
    QTimer m_stableConnectionTimer;
    qint64 m_stableAttempt = 0;
    // The chain was dropped without its end shown (a reconnect request).
    bool m_endUnshown = false;
    // The sign-in was refused: nothing past it was ever shown.
    bool m_signInRefused = false;
    RadioSnapshot m_value;
};

} // namespace kivo
