#pragma once

// The application model: the one object both windows read and whose
// operations every button calls. Everything runs on the main thread.

#include "KivoCore/agent/RemoteStationConfiguration.h"
#include "QuendKivoApp/model/AppConfiguration.h"
#include "KivoCore/radio/Models.h"
#include "KivoCore/station/DCU1RotatorClient.h"
#include "KivoCore/station/DXSpot.h"
#include "KivoCore/station/PropagationConditions.h"
#include "KivoCore/station/RotatorGeometry.h"
#include "QuendKivoApp/model/AppBackendFactory.h"
#include "QuendKivoApp/model/AppModelRules.h"
#include "QuendKivoApp/model/LegacyKIVOProcess.h"
#include "QuendKivoApp/model/RotatorFeedRules.h"

#include <QCoroTask>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QSettings;
class QTimer;

namespace kivo {

class CommandBridge;
class RemoteAgentClient;
class SecretStore;
class UDPSpotReceiver;

// What main fills with the real things and a test with controlled ones.
struct AppModelDependencies {
    // INI file of the settings; empty uses the standard per-user location.
    QString settingsPath;
    std::shared_ptr<SecretStore> secrets;
    AppBackendFactory backendFactory = makeAppBackend;
    // Wall clock (event times, snapshot times, latency).
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
    // Monotonic clock for throttles.
    std::function<std::chrono::milliseconds()> monotonic = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    };
    // Legacy supervision: start a program detached, and whether a process of
    // that name runs for the current user.
    std::function<LaunchedProcess(const QString &program, const QStringList &arguments)> launchProcess =
        launchDetached;
    std::function<bool(const QString &name)> isProcessRunning = currentUserRunsProcess;
    // Rotor program settings are looked for under this directory.
    QString homeDirectory;
    // Propagation report: the network session (may be null when a fetcher is
    // given), the endpoint, an optional fetcher replacing the client, and the
    // refresh interval.
    QNetworkAccessManager *network = nullptr;
    QUrl propagationEndpoint = PropagationConditionsClient::defaultEndpoint();
    std::function<QCoro::Task<PropagationConditionsSnapshot>()> propagationFetcher;
    std::chrono::milliseconds propagationInterval{15 * 60 * 1000};
    // How often the propagation loop looks for a wake-up from suspend.
    std::chrono::milliseconds propagationWakeCheckInterval{60 * 1000};
    std::chrono::milliseconds rotatorIdleCheckDelay{2500};
    DCU1RotatorTiming rotatorTiming;
    // Off: the model never starts the propagation loop (tests of other rules).
    bool startPropagation = true;
};

class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(kivo::AppConfiguration configuration READ configuration WRITE setConfiguration NOTIFY configurationChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QStringList events READ events NOTIFY eventsChanged)
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(bool isRadioConnected READ isRadioConnected NOTIFY isRadioConnectedChanged)
    Q_PROPERTY(bool isRemoteAgentConnected READ isRemoteAgentConnected NOTIFY isRemoteAgentConnectedChanged)
    Q_PROPERTY(std::optional<kivo::RadioSnapshot> radioSnapshot READ radioSnapshot NOTIFY radioSnapshotChanged)
    Q_PROPERTY(std::optional<QDateTime> lastSnapshotAt READ lastSnapshotAt NOTIFY lastSnapshotAtChanged)
    Q_PROPERTY(QString telemetryLatencySummary READ telemetryLatencySummary NOTIFY telemetryLatencySummaryChanged)
    Q_PROPERTY(QString smartLinkPassword READ smartLinkPassword WRITE setSmartLinkPassword NOTIFY smartLinkPasswordChanged)
    Q_PROPERTY(QString remoteAgentToken READ remoteAgentToken WRITE setRemoteAgentToken NOTIFY remoteAgentTokenChanged)
    Q_PROPERTY(std::optional<kivo::RemoteStationStatus> remoteStationStatus READ remoteStationStatus NOTIFY remoteStationStatusChanged)
    Q_PROPERTY(bool remoteRITEnabled READ remoteRITEnabled WRITE setRemoteRITEnabled NOTIFY remoteRITEnabledChanged)
    Q_PROPERTY(int remoteRITOffsetHz READ remoteRITOffsetHz WRITE setRemoteRITOffsetHz NOTIFY remoteRITOffsetHzChanged)
    Q_PROPERTY(bool remoteXITEnabled READ remoteXITEnabled WRITE setRemoteXITEnabled NOTIFY remoteXITEnabledChanged)
    Q_PROPERTY(int remoteXITOffsetHz READ remoteXITOffsetHz WRITE setRemoteXITOffsetHz NOTIFY remoteXITOffsetHzChanged)
    Q_PROPERTY(int remoteRFPowerWatts READ remoteRFPowerWatts WRITE setRemoteRFPowerWatts NOTIFY remoteRFPowerWattsChanged)
    Q_PROPERTY(QString spotBridgeStatus READ spotBridgeStatus NOTIFY spotBridgeStatusChanged)
    Q_PROPERTY(QString spotBridgeSaveFailure READ spotBridgeSaveFailure NOTIFY spotBridgeSaveFailureChanged)
    Q_PROPERTY(int spotsReceived READ spotsReceived NOTIFY spotsReceivedChanged)
    Q_PROPERTY(int spotsForwarded READ spotsForwarded NOTIFY spotsForwardedChanged)
    Q_PROPERTY(int spotsRejected READ spotsRejected NOTIFY spotsRejectedChanged)
    Q_PROPERTY(QString lastSpotSummary READ lastSpotSummary NOTIFY lastSpotSummaryChanged)
    Q_PROPERTY(kivo::RemoteStationConfiguration remoteConfiguration READ remoteConfiguration WRITE setRemoteConfiguration NOTIFY remoteConfigurationChanged)
    Q_PROPERTY(bool remoteConfigurationLoaded READ remoteConfigurationLoaded NOTIFY remoteConfigurationLoadedChanged)
    Q_PROPERTY(QString remoteConfigurationStatus READ remoteConfigurationStatus NOTIFY remoteConfigurationStatusChanged)
    Q_PROPERTY(bool remoteConfigurationBusy READ remoteConfigurationBusy NOTIFY remoteConfigurationBusyChanged)
    Q_PROPERTY(kivo::DCU1RotatorClient::State rotatorConnectionState READ rotatorConnectionState NOTIFY rotatorConnectionStateChanged)
    Q_PROPERTY(QString rotatorStatus READ rotatorStatus NOTIFY rotatorStatusChanged)
    Q_PROPERTY(QString rotatorSaveFailure READ rotatorSaveFailure NOTIFY rotatorSaveFailureChanged)
    Q_PROPERTY(QString rotatorFeedStatus READ rotatorFeedStatus NOTIFY rotatorFeedStatusChanged)
    Q_PROPERTY(std::optional<double> rotatorAzimuth READ rotatorAzimuth NOTIFY rotatorAzimuthChanged)
    Q_PROPERTY(std::optional<double> rotatorTargetBearing READ rotatorTargetBearing NOTIFY rotatorTargetBearingChanged)
    Q_PROPERTY(QString rotatorTargetLabel READ rotatorTargetLabel NOTIFY rotatorTargetLabelChanged)
    Q_PROPERTY(QString rotatorTargetSource READ rotatorTargetSource NOTIFY rotatorTargetSourceChanged)
    Q_PROPERTY(QString rotatorTargetBand READ rotatorTargetBand NOTIFY rotatorTargetBandChanged)
    Q_PROPERTY(std::optional<kivo::GeoCoordinate> rotatorTargetCoordinate READ rotatorTargetCoordinate NOTIFY rotatorTargetCoordinateChanged)
    Q_PROPERTY(std::optional<double> rotatorTargetDistanceKilometers READ rotatorTargetDistanceKilometers NOTIFY rotatorTargetDistanceKilometersChanged)
    Q_PROPERTY(bool rotatorIsMoving READ rotatorIsMoving NOTIFY rotatorIsMovingChanged)
    Q_PROPERTY(QString rotatorMotionDirection READ rotatorMotionDirection NOTIFY rotatorMotionDirectionChanged)
    Q_PROPERTY(QString rotatorTargetInput READ rotatorTargetInput WRITE setRotatorTargetInput NOTIFY rotatorTargetInputChanged)
    Q_PROPERTY(std::optional<kivo::PropagationConditionsSnapshot> propagationConditions READ propagationConditions NOTIFY propagationConditionsChanged)
    Q_PROPERTY(QString propagationStatus READ propagationStatus NOTIFY propagationStatusChanged)
    Q_PROPERTY(bool propagationIsRefreshing READ propagationIsRefreshing NOTIFY propagationIsRefreshingChanged)

public:
    using TelemetryTiming = kivo::TelemetryTiming;

    // Loads the configuration, imports the Rotor settings when no rotator
    // host is set, and starts the propagation loop.
    explicit AppModel(AppModelDependencies dependencies, QObject *parent = nullptr);
    ~AppModel() override;

    // Published values.
    AppConfiguration configuration() const { return m_configuration; }
    QString status() const { return m_status; }
    QStringList events() const { return m_events; }
    bool isRunning() const { return m_isRunning; }
    bool isRadioConnected() const { return m_isRadioConnected; }
    bool isRemoteAgentConnected() const { return m_isRemoteAgentConnected; }
    std::optional<RadioSnapshot> radioSnapshot() const { return m_radioSnapshot; }
    std::optional<QDateTime> lastSnapshotAt() const { return m_lastSnapshotAt; }
    QString telemetryLatencySummary() const { return m_telemetryLatencySummary; }
    QString smartLinkPassword() const { return m_smartLinkPassword; }
    QString remoteAgentToken() const { return m_remoteAgentToken; }
    std::optional<RemoteStationStatus> remoteStationStatus() const { return m_remoteStationStatus; }
    bool remoteRITEnabled() const { return m_remoteRITEnabled; }
    int remoteRITOffsetHz() const { return m_remoteRITOffsetHz; }
    bool remoteXITEnabled() const { return m_remoteXITEnabled; }
    int remoteXITOffsetHz() const { return m_remoteXITOffsetHz; }
    int remoteRFPowerWatts() const { return m_remoteRFPowerWatts; }
    QString spotBridgeStatus() const { return m_spotBridgeStatus; }
    // Why the tab's last save failed, until a save succeeds or the settings
    // are edited; empty otherwise.
    QString spotBridgeSaveFailure() const { return m_spotBridgeSaveFailure; }
    int spotsReceived() const { return m_spotsReceived; }
    int spotsForwarded() const { return m_spotsForwarded; }
    int spotsRejected() const { return m_spotsRejected; }
    QString lastSpotSummary() const { return m_lastSpotSummary; }
    RemoteStationConfiguration remoteConfiguration() const { return m_remoteConfiguration; }
    bool remoteConfigurationLoaded() const { return m_remoteConfigurationLoaded; }
    QString remoteConfigurationStatus() const { return m_remoteConfigurationStatus; }
    bool remoteConfigurationBusy() const { return m_remoteConfigurationBusy; }
    DCU1RotatorClient::State rotatorConnectionState() const { return m_rotatorConnectionState; }
    QString rotatorStatus() const { return m_rotatorStatus; }
    QString rotatorSaveFailure() const { return m_rotatorSaveFailure; }
    QString rotatorFeedStatus() const { return m_rotatorFeedStatus; }
    std::optional<double> rotatorAzimuth() const { return m_rotatorAzimuth; }
    std::optional<double> rotatorTargetBearing() const { return m_rotatorTargetBearing; }
    QString rotatorTargetLabel() const { return m_rotatorTargetLabel; }
    QString rotatorTargetSource() const { return m_rotatorTargetSource; }
    QString rotatorTargetBand() const { return m_rotatorTargetBand; }
    std::optional<GeoCoordinate> rotatorTargetCoordinate() const { return m_rotatorTargetCoordinate; }
    std::optional<double> rotatorTargetDistanceKilometers() const { return m_rotatorTargetDistanceKilometers; }
    bool rotatorIsMoving() const { return m_rotatorIsMoving; }
    QString rotatorMotionDirection() const { return m_rotatorMotionDirection; }
    QString rotatorTargetInput() const { return m_rotatorTargetInput; }
    std::optional<PropagationConditionsSnapshot> propagationConditions() const { return m_propagationConditions; }
    QString propagationStatus() const { return m_propagationStatus; }
    bool propagationIsRefreshing() const { return m_propagationIsRefreshing; }

    // What the windows edit. A configuration write is kept in memory only.
    void setConfiguration(const AppConfiguration &configuration);
    void setSmartLinkPassword(const QString &password);
    void setRemoteAgentToken(const QString &token);
    void setRemoteRITEnabled(bool enabled);
    void setRemoteRITOffsetHz(int offsetHz);
    void setRemoteXITEnabled(bool enabled);
    void setRemoteXITOffsetHz(int offsetHz);
    void setRemoteRFPowerWatts(int watts);
    void setRemoteConfiguration(const RemoteStationConfiguration &configuration);
    void setRotatorTargetInput(const QString &input);

    // Computed.
    QString currentBand() const;
    std::optional<RemoteStationAction> amplifierToggleAction() const;
    bool remoteActionAllowed(RemoteStationAction action) const;

    // Bridge life cycle. start() never throws; stop() returns at once and
    // leaves the slow part to the stop task.
    void start();
    void stop();
    // Completes when the running stop task has finished (at once without one).
    QCoro::Task<void> waitForStop();
    bool isStopping() const { return m_stopping; }
    // Start-up: the bridge when it launches automatically, else only the rotator.
    void startAutomatically();

    // Settings actions. save() reports whether the settings were written;
    // saveSettings() says why they were not, and is empty once they were.
    QCoro::Task<bool> save();
    QCoro::Task<QString> saveSettings();
    // "Could not save settings: " and the reason.
    static QString saveFailureText(const QString &reason);
    // Set when the stored settings could not be read at start: then nothing
    // writes the settings file in this run, window positions included, so
    // the stored record survives; it says why.
    QString settingsWriteRefusal() const { return m_settingsWriteRefusal; }
    // Stores other values in the settings file (the windows' positions),
    // judged by what happened to the file; *failure says why it failed.
    bool storeValues(const QList<std::pair<QString, QVariant>> &values, QString *failure);
    void forgetSmartLinkSession();
    void resetSmartLinkCertificatePin();
    void forgetRemoteAgentToken();
    // Appends one line to the events log.
    void record(const QString &message);

    // Remote station.
    void reconnectRemoteAgent();
    void applyRemoteRIT();
    void applyRemoteXIT();
    void applyRemoteRFPower();
    void performRemoteStationAction(RemoteStationAction action);
    void reloadRemoteConfiguration();
    void saveRemoteConfiguration();
    void noteTelemetryRendered(const QString &surface);

    // Station services. The restart and the rotator's reconnect save first
    // and go no further when the settings are not saved: `settingsProblem`
    // is a reason found before saving (a field holding no number in range).
    void restartSpotBridge(const QString &settingsProblem = {});
    void saveAndReconnectRotator(const QString &settingsProblem = {});
    // A settings field was edited, also to text that reaches no setting:
    // the tabs' save failures may no longer hold.
    void noteSettingsEdited();
    void refreshPropagationConditions();
    void startRotator();
    void startRotatorIfNeeded();
    void stopRotator();
    void resolveRotatorTarget();
    void turnRotatorToTarget();
    void turnRotatorFromCompass(double bearing);
    void toggleRotatorPath();
    void rotateRotator(bool clockwise);
    void stopRotatorMotion();

    // The running CAT server's bound port (0 when stopped), for the tests and
    // the benchmark, which let the system choose it.
    quint16 catServerPort() const;

signals:
    // A start ended in failure; the description is the status shown.
    void startFailed(const QString &description);
    void configurationChanged();
    void statusChanged();
    void eventsChanged();
    // The full line as it was appended to the events log.
    void eventRecorded(const QString &line);
    void isRunningChanged();
    void isRadioConnectedChanged();
    void isRemoteAgentConnectedChanged();
    void radioSnapshotChanged();
    void lastSnapshotAtChanged();
    void telemetryLatencySummaryChanged();
    void smartLinkPasswordChanged();
    void remoteAgentTokenChanged();
    void remoteStationStatusChanged();
    void remoteRITEnabledChanged();
    void remoteRITOffsetHzChanged();
    void remoteXITEnabledChanged();
    void remoteXITOffsetHzChanged();
    void remoteRFPowerWattsChanged();
    void spotBridgeStatusChanged();
    void spotBridgeSaveFailureChanged();
    void spotsReceivedChanged();
    void spotsForwardedChanged();
    void spotsRejectedChanged();
    void lastSpotSummaryChanged();
    void remoteConfigurationChanged();
    void remoteConfigurationLoadedChanged();
    void remoteConfigurationStatusChanged();
    void remoteConfigurationBusyChanged();
    void rotatorConnectionStateChanged();
    void rotatorStatusChanged();
    void rotatorSaveFailureChanged();
    void rotatorFeedStatusChanged();
    void rotatorAzimuthChanged();
    void rotatorTargetBearingChanged();
    void rotatorTargetLabelChanged();
    void rotatorTargetSourceChanged();
    void rotatorTargetBandChanged();
    void rotatorTargetCoordinateChanged();
    void rotatorTargetDistanceKilometersChanged();
    void rotatorIsMovingChanged();
    void rotatorMotionDirectionChanged();
    void rotatorTargetInputChanged();
    void propagationConditionsChanged();
    void propagationStatusChanged();
    void propagationIsRefreshingChanged();
    void stopTaskFinished();

private:
    // Sets a published value and announces it only when it changed.
    template <typename T, typename Signal>
    void assign(T &field, const T &value, Signal signal)
    {
        if (field == value)
            return;
        field = value;
        emit(this->*signal)();
    }

    // Persisting and loading. A write goes ahead only while the file reads
    // as a settings file and is judged by what happened to the file.
    std::unique_ptr<QSettings> openSettings() const;
    void loadConfiguration();
    bool writeSettings(const QList<std::pair<QString, QVariant>> &values, QString *failure);
    bool persistConfiguration(QString *failure = nullptr);
    // Saves for a tab's button, or says why not in the events log and in
    // the tab's status; a problem found before saving fails it as a failed
    // write does. True once saved.
    struct SavingTab {
        QString AppModel::*status;
        void (AppModel::*statusChanged)();
        QString AppModel::*failure;
        void (AppModel::*failureChanged)();
    };
    QCoro::Task<bool> saveAskedBy(QString problem, SavingTab tab);

    // Start and stop.
    // The agent's trimmed address and the token to present; empty for
    // every other backend.
    struct AgentAccess {
        QString baseURL{};
        QString token{};
    };
    AppBackend buildBackend(quint64 generation, const AppConfiguration &configuration, const AgentAccess &agent);
    QCoro::Task<void> startTask(quint64 generation);
    QCoro::Task<void> forgetSecret(QString success, QString failurePrefix, std::function<QCoro::Task<void>()> remove,
                                   bool clearToken);
    QCoro::Task<void> connectBackend(quint64 generation, std::shared_ptr<RadioBackend> backend,
                                     std::shared_ptr<RemoteAgentClient> agent);
    QCoro::Task<void> stopBackend(std::shared_ptr<RadioBackend> radio);
    void failStart(const QString &description);
    bool isCurrent(quint64 generation) const { return m_isRunning && generation == m_generation; }

    // Callbacks, queued and applied only for the current generation.
    void handleRadioState(quint64 generation, RadioConnectionState state, const QString &message);
    void handleLegacyState(quint64 generation, RadioConnectionState state, const QString &message);
    void handleAgentState(quint64 generation, RadioConnectionState state, const QString &message);
    void handleSnapshot(quint64 generation, const RadioSnapshot &snapshot);
    void handleSimulatorSnapshot(quint64 generation, const RadioSnapshot &snapshot);
    void applyRemoteAgentSnapshot(const RadioSnapshot &snapshot);
    void handleRadioSelected(quint64 generation, const SmartLinkRadio &radio);
    void handleServerEvent(quint64 generation, const QString &line);
    void post(std::function<void()> work);
    void ensureLegacyKIVORunning();
    void publishSnapshot(const RadioSnapshot &snapshot);

    // Remote station.
    using RemoteOperation = std::function<QCoro::Task<void>(std::shared_ptr<RemoteAgentClient> client)>;
    void runRemoteControl(const QString &label, RemoteOperation operation);
    QCoro::Task<void> runRemoteControlTask(QString label, RemoteOperation operation,
                                           std::shared_ptr<RemoteAgentClient> client);
    QCoro::Task<void> loadRemoteConfiguration(std::shared_ptr<RemoteAgentClient> client);
    QCoro::Task<void> saveRemoteConfigurationTask(std::shared_ptr<RemoteAgentClient> client,
                                                  RemoteStationConfiguration copy, quint64 ticket);
    void startTimingSample(const RadioSnapshot &snapshot);
    void setStatus(const QString &status) { assign(m_status, status, &AppModel::statusChanged); }

    AppModelDependencies m_dependencies;
    QString m_settingsWriteRefusal;
    // A stored record that could not be decoded, until a write has kept it.
    std::optional<QString> m_unreadableSettings;

    // Published state, in the order of the properties above.
    AppConfiguration m_configuration;
    QString m_status = QStringLiteral("Stopped");
    QStringList m_events;
    bool m_isRunning = false;
    bool m_isRadioConnected = false;
    bool m_isRemoteAgentConnected = false;
    std::optional<RadioSnapshot> m_radioSnapshot;
    std::optional<QDateTime> m_lastSnapshotAt;
    QString m_telemetryLatencySummary;
    QString m_smartLinkPassword;
    QString m_remoteAgentToken;
    std::optional<RemoteStationStatus> m_remoteStationStatus;
    bool m_remoteRITEnabled = false;
    int m_remoteRITOffsetHz = 0;
    bool m_remoteXITEnabled = false;
    int m_remoteXITOffsetHz = 0;
    int m_remoteRFPowerWatts = 0;
    QString m_spotBridgeStatus = QStringLiteral("Stopped");
    QString m_spotBridgeSaveFailure;
    int m_spotsReceived = 0;
    int m_spotsForwarded = 0;
    int m_spotsRejected = 0;
    QString m_lastSpotSummary = QStringLiteral("No spots received");
    RemoteStationConfiguration m_remoteConfiguration = RemoteStationConfiguration::placeholder();
    bool m_remoteConfigurationLoaded = false;
    QString m_remoteConfigurationStatus;
    bool m_remoteConfigurationBusy = false;
    DCU1RotatorClient::State m_rotatorConnectionState = DCU1RotatorClient::State::Stopped;
    QString m_rotatorStatus = QStringLiteral("Not connected");
    QString m_rotatorSaveFailure;
    QString m_rotatorFeedStatus = QStringLiteral("RUMlog feed stopped");
    std::optional<double> m_rotatorAzimuth;
    std::optional<double> m_rotatorTargetBearing;
    QString m_rotatorTargetLabel = QStringLiteral("No target");
    QString m_rotatorTargetSource = QStringLiteral("Enter a bearing, grid, or call");
    QString m_rotatorTargetBand = QStringLiteral("Other");
    std::optional<GeoCoordinate> m_rotatorTargetCoordinate;
    std::optional<double> m_rotatorTargetDistanceKilometers;
    bool m_rotatorIsMoving = false;
    QString m_rotatorMotionDirection;
    QString m_rotatorTargetInput;
    std::optional<PropagationConditionsSnapshot> m_propagationConditions;
    QString m_propagationStatus = QStringLiteral("Loading solar conditions");
    bool m_propagationIsRefreshing = false;

    // Bridge handles: the CAT and rigctld servers live in the bridge.
    std::unique_ptr<CommandBridge> m_bridge;
    bool m_starting = false;
    // Set while start or stop drives the servers: what they say then is
    // recorded at once, so the events log keeps the order things happened in.
    bool m_drivingServers = false;
    std::shared_ptr<RadioBackend> m_radio;
    std::shared_ptr<RemoteAgentClient> m_remoteAgent;
    std::optional<std::chrono::milliseconds> m_lastLegacyKIVOLaunch;
    // The companion this model started last; it counts as running while it lives.
    LaunchedProcess m_legacyKIVOProcess;
    bool m_legacyMissingCommandReported = false;
    // Set while the stop task runs; stopTaskFinished() announces its end.
    bool m_stopping = false;
    // Bumped by every start and stop; callbacks carry the one they were made with.
    quint64 m_generation = 0;
    std::optional<qint64> m_lastTimedFrequency;
    std::optional<TelemetryTiming> m_pendingTelemetryTiming;
    // Only the newest station-configuration load or save applies its result.
    quint64 m_remoteConfigurationTicket = 0;

    // ---------------------------------------------------------------------
    // Station services: spot bridge, rotator, propagation and RUMlog rotator
    // feed. Their definitions live in AppModelSpots.cpp, AppModelRotator.cpp,
    // AppModelPropagation.cpp and AppModelRotatorFeed.cpp; members for them
    // are added here.
    //
    // Called by start(): throws KivoError when a listener cannot start.
    void startSpotBridge(std::shared_ptr<RadioControlling> radio, const SpotBridgeConfiguration &spots);
    // Called by stop(): stops and forgets both spot receivers.
    void stopSpotBridge();
    // Called after every agent snapshot.
    void refreshSpotBridgeStatus();
    // Called once by the constructor.
    void startPropagationUpdates();
    // Called by startRotator() and stopRotator().
    void startRotatorFeed();
    void stopRotatorFeed();

    std::unique_ptr<UDPSpotReceiver> m_logbookSpotReceiver;
    std::unique_ptr<UDPSpotReceiver> m_contestSpotReceiver;
    std::unique_ptr<UDPSpotReceiver> m_rotatorFeedReceiver;
    std::unique_ptr<DCU1RotatorClient> m_rotatorClient;
    bool m_spotCapabilityWarningShown = false;
    QString m_lastSpotError;
    std::optional<double> m_lastRotatorAzimuth;
    std::optional<std::chrono::milliseconds> m_lastRotatorMovementAt;
    std::optional<double> m_activeRotatorTarget;
    std::optional<AutomaticRotatorCommand> m_lastAutomaticRotatorCommand;
    std::unique_ptr<PropagationConditionsClient> m_propagationClient;

    // Spot bridge: the generation tells a running bridge's datagrams and
    // add-spot results from those of a stopped or restarted one.
    std::unique_ptr<UDPSpotReceiver> makeSpotReceiver(SpotFeed feed, std::shared_ptr<RadioControlling> radio);
    void handleSpotDatagram(const QByteArray &data, SpotFeed feed, std::shared_ptr<RadioControlling> radio);
    QCoro::Task<void> forwardSpot(FlexSpot spot, std::shared_ptr<RadioControlling> radio, quint64 bridge);
    QCoro::Task<void> restartSpotBridgeTask(QString settingsProblem);
    quint64 m_spotBridgeGeneration = 0;

    // Rotator: the generation tells the stored client's reports and command
    // results from those of a client stopped since.
    enum class RotatorCommand { Turn, Clockwise, CounterClockwise, Stop };
    void applyRotatorAzimuth(double azimuth);
    void noteRotatorMotion(const QString &direction);
    void endRotatorMotion();
    void scheduleRotatorIdleCheck();
    void setRotatorTarget(std::optional<double> bearing, const QString &label, const QString &source);
    void setRotatorTargetPlace(std::optional<GeoCoordinate> coordinate, std::optional<double> distance);
    // The map point 5000 km from home along the bearing; none without a home grid.
    std::optional<GeoCoordinate> rotatorMapPoint(double bearing) const;
    QCoro::Task<void> rotatorCommand(RotatorCommand command, QCoro::Task<void> sent, quint64 link, double bearing);
    QCoro::Task<void> saveAndReconnectRotatorTask(QString settingsProblem);
    void handleRotatorDatagram(const QByteArray &data);
    void commandAutomaticTurnIfNeeded(double bearing);
    quint64 m_rotatorGeneration = 0;
    // A stopped client left a continuous rotation it could not stop: whatever
    // controller the next client reaches may be that one, so it gets the stop.
    bool m_rotatorLeftTurning = false;
    // A status of the rotator while no client holds that caution.
    void setStoppedRotatorStatus(const QString &status);

    // Propagation.
    QCoro::Task<void> loadPropagationConditions();
    QCoro::Task<void> periodicPropagationLoad();
    QTimer *m_propagationTimer = nullptr;
    QTimer *m_propagationWakeCheck = nullptr;
    QDateTime m_lastWakeCheckWall;
    QElapsedTimer m_lastWakeCheckMonotonic;
    // End of station services.
    // ---------------------------------------------------------------------
};

} // namespace kivo
