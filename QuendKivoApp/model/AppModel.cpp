// The application model's state, configuration store, events log and
// settings actions.

#include "QuendKivoApp/model/AppModel.h"

#include "KivoCore/agent/RemoteAgentAuth.h"
#include "KivoCore/agent/RemoteAgentClient.h"
#include "KivoCore/flex/SmartLinkAuth.h"
#include "KivoCore/flex/SmartLinkSignIn.h"
#include "KivoCore/support/KivoError.h"
#include "KivoCore/station/UDPSpotReceiver.h"
#include "KivoCore/support/JsonFields.h"
#include "KivoCore/support/Async.h"
#include "QuendKivoApp/model/CommandBridge.h"
#include "QuendKivoApp/model/ConnectionKindDescriptor.h"
#include "QuendKivoApp/model/SettingsFile.h"

#include <QCoroSignal>
#include <QDir>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QSettings>

namespace kivo {

namespace {

const QString configurationKey = QStringLiteral("configuration");
const QString unreadableKey = QStringLiteral("configuration.unreadable");
constexpr qsizetype maximumEvents = 200;

} // namespace

AppModel::AppModel(AppModelDependencies dependencies, QObject *parent)
    : QObject(parent), m_dependencies(std::move(dependencies))
{
    if (!m_dependencies.secrets)
        m_dependencies.secrets = std::make_shared<InMemorySecretStore>();
    m_telemetryLatencySummary = QStringLiteral("Waiting for a frequency change");
    m_remoteConfigurationStatus = QStringLiteral("Connect to load station settings");
    QNetworkAccessManager *network =
        m_dependencies.network ? m_dependencies.network : new QNetworkAccessManager(this);
    m_propagationClient =
        std::make_unique<PropagationConditionsClient>(network, m_dependencies.propagationEndpoint);
    loadConfiguration();
    if (m_configuration.rotator.host.trimmed().isEmpty()) {
        const QString home =
            m_dependencies.homeDirectory.isEmpty() ? QDir::homePath() : m_dependencies.homeDirectory;
        if (auto imported = RotatorConfiguration::importedRotorConfiguration(home))
            m_configuration.rotator = *imported;
    }
    if (m_dependencies.startPropagation)
        startPropagationUpdates();
}

AppModel::~AppModel()
{
    // Late callbacks of components still alive must find nothing current.
    ++m_generation;
}

std::unique_ptr<QSettings> AppModel::openSettings() const
{
    return m_dependencies.settingsPath.isEmpty()
               ? std::make_unique<QSettings>()
               : std::make_unique<QSettings>(m_dependencies.settingsPath, QSettings::IniFormat);
}

void AppModel::loadConfiguration()
{
    m_configuration = AppConfiguration::firstRun();
    const std::unique_ptr<QSettings> settings = openSettings();
    const QString file = settings->fileName();
    // Decided once from the file's own bytes, before anything may write it.
    if (const SettingsFileReading reading = readSettingsFile(file); !reading.problem.isEmpty()) {
        m_settingsWriteRefusal = QStringLiteral("The stored settings in %1 could not be read at start; they are "
                                                "left untouched until the next start.")
                                     .arg(file);
        QString kept;
        if (reading.damaged) {
            const KeptCopy copy = keepDamagedCopy(file, reading.bytes, m_dependencies.now());
            kept = copy.failure.isEmpty() ? QStringLiteral(" A copy was kept as %1.").arg(copy.path)
                                          : QStringLiteral(" It could not be copied aside: %1.").arg(copy.failure);
        }
        record(QStringLiteral("Stored settings could not be read: %1: %2.%3 The first-run settings are used and "
                              "the file is left untouched until the next start.")
                   .arg(file, reading.problem, kept));
        return;
    }
    const QVariant stored = settings->value(configurationKey);
    if (!stored.isValid())
        return;
    // A hand-written value with unquoted commas reads back as a list.
    const QByteArray text = stored.typeId() == QMetaType::QByteArray  ? stored.toByteArray()
                            : stored.typeId() == QMetaType::QStringList ? stored.toStringList().join(", ").toUtf8()
                                                                        : stored.toString().toUtf8();
    try {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(text, &error);
        if (error.error != QJsonParseError::NoError)
            throw DecodingError({.key = configurationKey, .problem = error.errorString()});
        m_configuration =
            AppConfiguration::fromJson(document.isObject() ? QJsonValue(document.object()) : QJsonValue());
    } catch (...) {
        const QString reason = describeException(std::current_exception());
        // Keep what could not be read, so a save cannot destroy it.
        QString failure;
        if (writeSettings({{unreadableKey, QString::fromUtf8(text)}}, &failure)) {
            record(QStringLiteral("Stored settings could not be read (%1); they were kept under \"%2\" and the "
                                  "first-run settings are used")
                       .arg(reason, unreadableKey));
            return;
        }
        // The next write that succeeds keeps them first.
        m_unreadableSettings = QString::fromUtf8(text);
        record(QStringLiteral("Stored settings could not be read (%1); the first-run settings are used. They could "
                              "not yet be kept under \"%2\": %3")
                   .arg(reason, unreadableKey, failure));
    }
}

bool AppModel::writeSettings(const QList<std::pair<QString, QVariant>> &values, QString *failure)
{
    const std::unique_ptr<QSettings> settings = openSettings();
    const QString file = settings->fileName();
    // A file that cannot be read now would be replaced by these values alone.
    const SettingsFileReading previous = readSettingsFile(file);
    if (!previous.problem.isEmpty()) {
        *failure = QStringLiteral("%1 could not be read (%2), so it was left unchanged.").arg(file, previous.problem);
        return false;
    }
    return writeSettingsValues(*settings, previous, values, failure);
}

bool AppModel::storeValues(const QList<std::pair<QString, QVariant>> &values, QString *failure)
{
    if (!m_settingsWriteRefusal.isEmpty()) {
        *failure = m_settingsWriteRefusal;
        return false;
    }
    return writeSettings(values, failure);
}

bool AppModel::persistConfiguration(QString *failure)
{
    QList<std::pair<QString, QVariant>> values;
    if (m_unreadableSettings)
        values.append({unreadableKey, *m_unreadableSettings});
    const QByteArray text = QJsonDocument(m_configuration.toJson()).toJson(QJsonDocument::Compact);
    values.append({configurationKey, QString::fromUtf8(text)});
    if (QString reason; !storeValues(values, &reason)) {
        if (failure)
            *failure = reason;
        return false;
    }
    if (m_unreadableSettings) {
        m_unreadableSettings.reset();
        record(QStringLiteral("The stored settings that could not be read were kept under \"%1\"").arg(unreadableKey));
    }
    return true;
}

void AppModel::record(const QString &message)
{
    const QString line = eventLine(m_dependencies.now(), message);
    m_events.append(line);
    if (m_events.size() > maximumEvents)
        m_events.remove(0, m_events.size() - maximumEvents);
    emit eventsChanged();
    emit eventRecorded(line);
}

QCoro::Task<bool> AppModel::save()
{
    const QString failure = co_await saveSettings();
    co_return failure.isEmpty();
}

QString AppModel::saveFailureText(const QString &reason)
{
    return QStringLiteral("Could not save settings: ") + reason;
}

QCoro::Task<QString> AppModel::saveSettings()
{
    QPointer<AppModel> self(this);
    QString failure;
    // Nothing changes, not even the keyring, while the stored record is protected.
    if (!m_settingsWriteRefusal.isEmpty()) {
        record(saveFailureText(m_settingsWriteRefusal));
        co_return settingsWriteRefusal();
    }
    const QString token = m_remoteAgentToken.trimmed();
    if (descriptorOf(m_configuration.connectionKind).isRemoteAgent() && !token.isEmpty()) {
        const QString address = m_configuration.remoteAgentBaseURL.trimmed();
        if (address.isEmpty()) {
            failure = KivoError::server(QStringLiteral("Enter the Remote Agent HTTPS URL first.")).message();
        } else {
            auto secrets = m_dependencies.secrets;
            try {
                co_await RemoteAgentKeychain(address, *secrets).saveToken(token);
            } catch (...) {
                failure = describeException(std::current_exception());
            }
            if (!self)
                co_return failure.isEmpty() ? QStringLiteral("The settings were not saved.") : failure;
            if (failure.isEmpty())
                setRemoteAgentToken(QString());
        }
    }
    if (failure.isEmpty() && persistConfiguration(&failure)) {
        noteSettingsEdited();
        record(QStringLiteral("Settings saved"));
        co_return QString();
    }
    record(saveFailureText(failure));
    co_return failure;
}

QCoro::Task<bool> AppModel::saveAskedBy(QString problem, SavingTab tab)
{
    QPointer<AppModel> self(this);
    QString failure = problem;
    if (failure.isEmpty())
        failure = co_await saveSettings();
    else
        record(saveFailureText(failure));
    if (!self)
        co_return false;
    // What runs keeps the stored values, which the next start uses too.
    if (!failure.isEmpty()) {
        assign(this->*tab.status, saveFailureText(failure), tab.statusChanged);
        assign(this->*tab.failure, saveFailureText(failure), tab.failureChanged);
    }
    co_return failure.isEmpty();
}

QCoro::Task<void> AppModel::forgetSecret(QString success, QString failurePrefix,
                                         std::function<QCoro::Task<void>()> remove, bool clearToken)
{
    QPointer<AppModel> self(this);
    QString failure;
    try {
        co_await remove();
    } catch (...) {
        failure = describeException(std::current_exception());
    }
    if (!self)
        co_return;
    if (!failure.isEmpty()) {
        record(failurePrefix + failure);
        co_return;
    }
    if (clearToken)
        setRemoteAgentToken(QString());
    record(success);
}

void AppModel::forgetSmartLinkSession()
{
    auto keychain = std::make_shared<SmartLinkKeychain>(m_dependencies.secrets, m_configuration.smartLinkEmail);
    launch(forgetSecret(QStringLiteral("Forgot the saved SmartLink session"),
                        QStringLiteral("Could not forget SmartLink session: "),
                        [keychain] { return keychain->deleteRefreshToken(); }, false));
}

void AppModel::resetSmartLinkCertificatePin()
{
    const QString serial = m_configuration.smartLinkRadioSerial.trimmed();
    if (serial.isEmpty()) {
        record(QStringLiteral("Connect once or enter a radio serial before resetting its certificate pin"));
        return;
    }
    auto pins = std::make_shared<SmartLinkCertificatePinStore>(m_dependencies.secrets);
    launch(forgetSecret(QStringLiteral("Reset the trusted certificate for radio ") + serial,
                        QStringLiteral("Could not reset the trusted certificate: "),
                        [pins, serial] { return pins->remove(serial); }, false));
}

void AppModel::forgetRemoteAgentToken()
{
    auto secrets = m_dependencies.secrets;
    auto keychain = std::make_shared<RemoteAgentKeychain>(m_configuration.remoteAgentBaseURL, *secrets);
    launch(forgetSecret(QStringLiteral("Forgot the saved Remote Agent token"),
                        QStringLiteral("Could not forget Remote Agent token: "),
                        [keychain, secrets] { return keychain->deleteToken(); }, true));
}

QCoro::Task<void> AppModel::waitForStop()
{
    if (m_stopping)
        co_await qCoro(this, &AppModel::stopTaskFinished);
}

void AppModel::setConfiguration(const AppConfiguration &value)
{
    if (value == m_configuration)
        return;
    noteSettingsEdited();
    assign(m_configuration, value, &AppModel::configurationChanged);
}

void AppModel::noteSettingsEdited()
{
    assign(m_spotBridgeSaveFailure, QString(), &AppModel::spotBridgeSaveFailureChanged);
    assign(m_rotatorSaveFailure, QString(), &AppModel::rotatorSaveFailureChanged);
}

void AppModel::setSmartLinkPassword(const QString &value) { assign(m_smartLinkPassword, value, &AppModel::smartLinkPasswordChanged); }
void AppModel::setRemoteAgentToken(const QString &value) { assign(m_remoteAgentToken, value, &AppModel::remoteAgentTokenChanged); }
void AppModel::setRemoteRITEnabled(bool value) { assign(m_remoteRITEnabled, value, &AppModel::remoteRITEnabledChanged); }
void AppModel::setRemoteRITOffsetHz(int value) { assign(m_remoteRITOffsetHz, value, &AppModel::remoteRITOffsetHzChanged); }
void AppModel::setRemoteXITEnabled(bool value) { assign(m_remoteXITEnabled, value, &AppModel::remoteXITEnabledChanged); }
void AppModel::setRemoteXITOffsetHz(int value) { assign(m_remoteXITOffsetHz, value, &AppModel::remoteXITOffsetHzChanged); }
void AppModel::setRemoteRFPowerWatts(int value) { assign(m_remoteRFPowerWatts, value, &AppModel::remoteRFPowerWattsChanged); }
void AppModel::setRemoteConfiguration(const RemoteStationConfiguration &value) { assign(m_remoteConfiguration, value, &AppModel::remoteConfigurationChanged); }
void AppModel::setRotatorTargetInput(const QString &value) { assign(m_rotatorTargetInput, value, &AppModel::rotatorTargetInputChanged); }

} // namespace kivo
