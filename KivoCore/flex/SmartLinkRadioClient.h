#pragma once

// The backend for a FlexRadio reached over the internet through SmartLink:
// sign-in, the broker's choice of radio and a pinned wide-area session with
// that radio, chained into one backend. When any link fails the whole chain
// is torn down and started again from sign-in after a back-off; a refused
// sign-in is final.

#include "KivoCore/flex/FlexRadioClient.h"
#include "KivoCore/radio/RadioBackend.h"
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

class SmartLinkRadioClient : public QObject, public RadioBackend {
    Q_OBJECT

public:
    using RadioSelectedHandler = std::function<void(const SmartLinkRadio &radio)>;
    // Uniform in [0, 1]: the share of the back-off's random extra.
    using RandomSource = FlexRadioClient::RandomSource;
    using Timing = SmartLinkRadioClientTiming;

    // The authenticator decides where the refresh token is kept (the caller
    // picks the secret store); without one, a token lives only in memory.
    // The password is kept only until the first sign-in call has returned.
    // Starts nothing.
    SmartLinkRadioClient(QString email, QString password, QString preferredSerial, QString stationName,
                         QString sliceLetter, std::shared_ptr<SmartLinkAuthenticator> authenticator,
                         StateHandler onState, SnapshotHandler onSnapshot, RadioSelectedHandler onRadioSelected,
                         SmartLinkBrokerEndpoint brokerEndpoint = {},
                         SmartLinkCertificatePinStore pinStore = SmartLinkCertificatePinStore(), Timing timing = {},
                         RandomSource random = {}, QObject *parent = nullptr);
    ~SmartLinkRadioClient() override;

    void start() override;
    // Stops the radio session and the broker, then "Stopped".
    QCoro::Task<void> stop() override;
    // Starts the chain again from sign-in, the back-off cleared.
    void reconnectNow() override;

    QCoro::Task<RadioSnapshot> snapshot() override;
    QCoro::Task<void> setFrequency(qint64 hz) override;
    QCoro::Task<void> setMode(QString mode) override;
    QCoro::Task<void> setTransmit(bool on) override;
    // Always none, whatever the radio knows.
    QCoro::Task<std::optional<qint64>> secondaryFrequency() override;
    QCoro::Task<void> setSecondaryFrequency(qint64 hz) override;
    QCoro::Task<void> setSplitTransmit(bool enabled) override;
    QCoro::Task<void> setReceiveVFO(int vfo) override;
    // Always 25, whatever the radio knows.
    QCoro::Task<int> cwSpeed() override;
    QCoro::Task<void> setCWSpeed(int wordsPerMinute) override;
    QCoro::Task<void> sendCW(QString text) override;
    // Quietly nothing without a radio session.
    QCoro::Task<void> clearCW() override;
    bool clearCWUnkeys() const override { return true; }
    QCoro::Task<void> setTransmit(CATTransmitMode mode) override;
    QCoro::Task<void> addSpot(FlexSpot spot) override;

private:
    QCoro::Task<void> restartChain();
    void beginConnection();
    QCoro::Task<void> establish(qint64 generation);
    void attemptFailed(std::exception_ptr error, qint64 generation);
    void radioStateChanged(RadioConnectionState state, const QString &description, qint64 generation);
    void radioSnapshotChanged(const RadioSnapshot &snapshot, qint64 generation);
    QCoro::Task<void> scheduleReconnect(QString reason);
    QCoro::Task<void> teardown();
    void stableConnectionReached();

    // Callbacks of attempt `generation`, each carried out later through the
    // event loop and only while this client exists.
    SmartLinkBroker::DisconnectHandler brokerCallback(qint64 generation);
    FlexRadioClient::StateHandler radioStateCallback(qint64 generation);
    FlexRadioClient::SnapshotHandler radioSnapshotCallback(qint64 generation);

    bool isCurrent(qint64 generation) const { return m_life.shouldRun() && m_life.isCurrent(generation); }
    void report(RadioConnectionState state, const QString &sentence) { m_life.setState(state, sentence); }
    void publish() { m_life.publish(m_value); }
    std::shared_ptr<FlexRadioClient> requireRadio() const;

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

    // Its retry runs the next attempt, at once or after the back-off.
    RadioLifecycle m_life;
    qint64 m_reconnectGeneration = 0;
    std::shared_ptr<SmartLinkBroker> m_broker;
    std::shared_ptr<FlexRadioClient> m_radio;
    QTimer m_stableConnectionTimer;
    qint64 m_stableGeneration = 0;
    RadioSnapshot m_value;
};

} // namespace kivo
