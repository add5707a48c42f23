#pragma once

// The radio backend that reaches the station through the Remote Station
// Agent: HTTPS requests for state, commands and configuration, a WebSocket
// stream of state documents, pending writes laid over the agent's state, and
// the confirmation of frequency writes. Reconnection and keying safety come
// from RadioBackendBase.

#include "KivoCore/radio/RadioBackendBase.h"
#include "KivoCore/agent/RemoteAgentAuth.h"
#include "KivoCore/agent/RemoteAgentModels.h"
#include "KivoCore/agent/RemoteStationConfiguration.h"

#include <QElapsedTimer>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QTimer>
#include <QUuid>
#include <chrono>
#include <functional>
#include <memory>

class QWebSocket;

namespace kivo {

// Successful frequency and mode writes that the agent has not shown yet,
// keyed by VFO letter; each is laid over the published snapshot until the
// agent shows it or it expires.
struct PendingRadioWrites {
    using Clock = std::chrono::steady_clock;

    template <typename T>
    struct Value {
        T value;
        Clock::time_point expiresAt;
        bool operator==(const Value &) const = default;
    };

    QHash<QString, Value<qint64>> frequencies;
    QHash<QString, Value<QString>> modes;
    std::chrono::milliseconds lifetime{10000};

    void recordFrequency(const QString &vfo, qint64 hz, Clock::time_point now);
    void recordMode(const QString &vfo, const QString &mode, Clock::time_point now);

    // Overlays what is still pending and drops what is confirmed or expired.
    void reconcile(RadioSnapshot &snapshot, Clock::time_point now);
};

struct RemoteAgentTiming {
    std::chrono::milliseconds requestTimeout = remoteAgentRequestTimeout;
    // The unkey and CW clear of a stop, sent once each.
    std::chrono::milliseconds closingRequestTimeout{2000};
    std::chrono::milliseconds streamOpenTimeout{30000};
    // How often the stream's silence is checked.
    std::chrono::milliseconds watchdogInterval{5000};
    // A stream silent for longer than this is given up.
    std::chrono::milliseconds heartbeatTimeout{35000};
    std::chrono::milliseconds commandRetryDelay{200};
    std::chrono::milliseconds verificationDelay{2000};
    std::chrono::milliseconds verificationRecheckDelay{4000};
    std::chrono::milliseconds pendingWriteLifetime{10000};
    // The back-off counts seconds (1, 2, 4 … 30 plus jitter) and reports
    // them so; this is how long one of those seconds really lasts.
    std::chrono::milliseconds backoffSecond{1000};
    // Where inside the extra quarter a delay falls (0…1); random when empty.
    std::function<double()> jitter;
};

// Which agent, with what credentials and trust, and how patiently.
struct RemoteAgentClientOptions {
    // The typed base address; checked and normalised by the client.
    QString baseURL{};
    // The bearer token; trimmed by the client.
    QString token{};
    // The trust the agent's certificate is checked against.
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    RemoteAgentTiming timing{};
};

// Withdraws one command (a frequency check's resend, or any command at a
// stop): the flag stops the retry, the abort ends the request in flight, the
// event ends its waits.
using RemoteAgentCancellation = HttpCancellation;

class RemoteAgentClient final : public RadioBackendBase {
    Q_OBJECT

public:
    using Timing = RemoteAgentTiming;
    using Options = RemoteAgentClientOptions;

    // No state document is expected to come near this.
    static constexpr qint64 maxStreamMessageBytes = 1 << 20;

    // Throws KivoError for an invalid address or an empty token. Nothing is
    // sent and no handler runs before start(). Both handlers are called
    // directly from the client; a receiver that wants to call back into the
    // client posts the work first.
    RemoteAgentClient(Options options, StateHandler onState, SnapshotHandler onSnapshot, QObject *parent = nullptr);
    ~RemoteAgentClient() override;

    QCoro::Task<RadioSnapshot> snapshot() override;
    QCoro::Task<std::optional<qint64>> primaryFrequency() override;
    QCoro::Task<std::optional<qint64>> secondaryFrequency() override;
    QCoro::Task<int> cwSpeed() override;
    QCoro::Task<void> setPrimaryFrequency(qint64 hz) override;
    QCoro::Task<void> setFrequency(qint64 hz) override;
    QCoro::Task<void> setSecondaryFrequency(qint64 hz) override;
    QCoro::Task<void> setMode(QString mode) override;
    QCoro::Task<void> setSplitTransmit(bool on) override;
    QCoro::Task<void> setReceiveVFO(int vfo) override;
    QCoro::Task<void> setCWSpeed(int wordsPerMinute) override;
    QCoro::Task<void> setRIT(bool enabled, int offsetHz, std::optional<QString> vfo) override;
    QCoro::Task<void> setXIT(bool enabled, int offsetHz, std::optional<QString> vfo) override;
    QCoro::Task<void> setRFPower(int watts) override;
    QCoro::Task<void> performStationAction(RemoteStationAction action) override;
    QCoro::Task<void> addSpot(FlexSpot spot) override;

    // Work whether or not the client runs, as long as the agent answers; a
    // stop does not end them.
    QCoro::Task<RemoteStationConfiguration> fetchConfiguration();
    QCoro::Task<RemoteStationConfiguration> saveConfiguration(RemoteStationConfiguration configuration);

    // Checks the answer to every agent request: no status means no HTTP
    // response; a status outside 200…299 throws the agent's sentence.
    static void validate(std::optional<int> httpStatus, const QByteArray &body);

    // What the client shows before the agent's first state.
    static RadioSnapshot placeholderSnapshot();
    // The snapshot with the radio disconnected and `reason` first among the
    // inhibitors.
    static RadioSnapshot markedDisconnected(RadioSnapshot snapshot, const QString &reason);
    // "A" or "B" from a typed letter, nothing for anything else.
    static std::optional<QString> normalizedVFO(const std::optional<QString> &vfo);

protected:
    void openTransport(qint64 attempt) override;
    QCoro::Task<void> dropTransport() override;
    void sessionEnded() override;
    QCoro::Task<void> tick() override;
    QCoro::Task<void> transmit(bool on) override;
    QCoro::Task<void> transmit(CATTransmitMode mode) override;
    QCoro::Task<void> queueCW(QString text) override;
    // The agent's clear_cw empties the keyer and leaves PTT alone.
    QCoro::Task<void> clearKeyer() override;
    // Verifications and commands in flight end before the stop's pass.
    void abandonWork() override { abandonSessionWork(); }
    const QLoggingCategory &logCategory() const override;
    // Requests travel on several connections and may be acted on out of order.
    bool actsInOrder() const override { return false; }
    bool canAskTransmitter() const override { return true; }
    QCoro::Task<void> askTransmitter() override;

private:
    struct Verification {
        QUuid id;
        std::shared_ptr<RemoteAgentCancellation> cancellation;
    };
    // Work a stop abandons, listed for as long as it lasts.
    class InFlight {
    public:
        explicit InFlight(RemoteAgentClient *owner, std::shared_ptr<RemoteAgentCancellation> cancellation = {});
        ~InFlight();
        InFlight(const InFlight &) = delete;
        InFlight &operator=(const InFlight &) = delete;
        const std::shared_ptr<RemoteAgentCancellation> cancellation;

    private:
        QPointer<RemoteAgentClient> m_owner;
    };

    static QCoro::Task<HttpAnswer> perform(QPointer<QNetworkAccessManager> network, RemoteAgentRequest request,
                                           std::shared_ptr<RemoteAgentCancellation> cancellation = {});
    // A request to the agent with this client's token, time-out and TLS settings.
    RemoteAgentRequest request(const QByteArray &method, const QString &path) const;
    // One configuration request: the agent's stored configuration, or the
    // rejection sentence when it answers "success" false.
    QCoro::Task<RemoteStationConfiguration> exchangeConfiguration(
        RemoteAgentRequest request, QString rejection, std::shared_ptr<RemoteAgentCancellation> cancellation = {});

    // Connection and stream.
    QCoro::Task<void> connectToAgent(qint64 attempt);
    QCoro::Task<RemoteAgentDecodedState> fetchState(std::shared_ptr<RemoteAgentCancellation> cancellation);
    void openStream(qint64 attempt);
    void closeStream();
    void handleStreamMessage(const QByteArray &bytes, qint64 attempt);
    void handleStreamEnd(qint64 attempt);
    // The attempt failed for `reason`, which the snapshot then shows.
    void fail(qint64 attempt, const QString &reason);
    void markDisconnected(const QString &reason);
    // A stop ends the session's commands and frequency checks.
    void abandonSessionWork();

    // Publication. `answersWrites`: the state is known to be made after the
    // ledger's writes numbered up to that had reached the agent.
    void apply(const RemoteAgentDecodedState &state, std::optional<qint64> answersWrites = std::nullopt);
    // Tells the ledger of a newer revision, and which of our writes it is
    // known to be made after.
    void reportTransmitter(const RadioSnapshot &snapshot, qint64 revision, std::optional<qint64> answersWrites);
    // Revisions from `revision` on were made after writes up to `writes`.
    void noteBaseline(qint64 writes, qint64 revision);
    // A key or unkey goes out: until the agent shows it landed, its states
    // may be older than it.
    QCoro::Task<void> executeTransmitChange(RemoteAgentCommand command, bool closing);
    // The state asked for once a key was answered without one, or when a
    // report may be older than our writes: the first known to be made after
    // them, with `writes` its baseline.
    QCoro::Task<void> fetchStateAfter(qint64 writes, qint64 attempt);
    void publishPendingWrites();
    void publish() { RadioBackendBase::publish(m_value); }

    // Commands. `closing`: a stop's last words, sent once with the short
    // time-out while the client no longer runs. `answersWrites`: see apply().
    // `settled`, when given, is set unless the command went out and no
    // attempt was answered: such a failure may still be acted on later.
    QCoro::Task<void> execute(RemoteAgentCommand command,
                              std::shared_ptr<RemoteAgentCancellation> cancellation = {}, bool closing = false,
                              std::optional<qint64> answersWrites = std::nullopt, bool *settled = nullptr);
    // One attempt: the decoded state of a successful reply, not yet applied.
    static QCoro::Task<std::optional<RemoteAgentDecodedState>> postCommand(
        QPointer<QNetworkAccessManager> network, RemoteAgentRequest post,
        std::shared_ptr<RemoteAgentCancellation> cancellation, bool *settled = nullptr);
    QCoro::Task<void> writeFrequency(qint64 hz, QString vfo);
    QString receiveVFODefault() const;

    // Frequency confirmation.
    void scheduleFrequencyVerification(qint64 hz, const QString &vfo);
    QCoro::Task<void> verifyFrequency(qint64 hz, QString vfo, QUuid id,
                                      std::shared_ptr<RemoteAgentCancellation> cancellation);
    bool isCurrentVerification(const QString &vfo, const QUuid &id) const;
    bool agentShows(const QString &vfo, qint64 hz) const;
    void cancelVerifications();

    const RemoteAgentEndpoint m_endpoint;
    const QString m_token;
    const QSslConfiguration m_ssl;
    const Timing m_timing;
    QNetworkAccessManager *m_network = nullptr;

    RadioSnapshot m_value;
    RadioSnapshot m_authoritativeValue;
    // After a failure the radio shows disconnected until the next agent
    // state, even when pending writes are republished meanwhile.
    std::optional<RadioSnapshot> m_disconnectedBase;
    int m_wordsPerMinute = 25;
    // The newest state revision whose transmit flag was reported to the ledger.
    qint64 m_reportedRevision = 0;
    // Which of our writes it is known to be made after.
    qint64 m_reportedBehind = 0;
    // Which revisions are known to be made after which of our writes: the
    // revision of a command's own answer, of the state asked for after a
    // key's answer without one, of a new connection's first state. A state
    // of the agent's making may reach us after the answer to a newer
    // command and still be older than it.
    struct Baseline {
        qint64 writes = 0;
        qint64 fromRevision = 0;
    };
    QList<Baseline> m_baselines;
    // Counts unkey commands sent, so a keying command's retry can tell.
    quint64 m_unkeyCount = 0;

    // Why the current attempt failed, for the snapshot's marking.
    std::optional<QString> m_failure;
    std::shared_ptr<RemoteAgentCancellation> m_stateRequest;

    QPointer<QWebSocket> m_socket;
    qint64 m_streamGeneration = 0;
    QElapsedTimer m_lastStreamMessage;
    QTimer m_streamOpenTimer;

    PendingRadioWrites m_pendingWrites;
    QHash<QString, Verification> m_verifications;
    // Every command in flight, so that a stop can end them.
    QHash<const RemoteAgentCancellation *, std::weak_ptr<RemoteAgentCancellation>> m_commandsInFlight;
};

} // namespace kivo
