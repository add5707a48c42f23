// The application model's state, configuration store and events log.

#include "QuendKivoApp/model/AppModel.h"

#include "KivoCore/agent/RemoteAgentClient.h"
#include "KivoCore/radio/TCPCommandServer.h"
#include "KivoCore/station/UDPSpotReceiver.h"

#include <QSettings>

namespace kivo {

AppModel::AppModel(AppModelDependencies dependencies, QObject *parent)
    : QObject(parent), m_dependencies(std::move(dependencies))
{
    m_configuration = AppConfiguration::firstRun();
    m_telemetryLatencySummary = QStringLiteral("Waiting for a frequency change");
    m_remoteConfigurationStatus = QStringLiteral("Connect to load station settings");
}

AppModel::~AppModel() = default;

void AppModel::setConfiguration(const AppConfiguration &value) { assign(m_configuration, value, &AppModel::configurationChanged); }
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
