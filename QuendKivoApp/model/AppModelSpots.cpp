// Spot bridge control of the application model.

#include "QuendKivoApp/model/AppModel.h"

#include "KivoCore/station/UDPSpotReceiver.h"

namespace kivo {

void AppModel::startSpotBridge(std::shared_ptr<RadioControlling> radio) {}

void AppModel::stopSpotBridge()
{
    if (m_logbookSpotReceiver)
        m_logbookSpotReceiver->stop();
    if (m_contestSpotReceiver)
        m_contestSpotReceiver->stop();
    m_logbookSpotReceiver.reset();
    m_contestSpotReceiver.reset();
}

void AppModel::refreshSpotBridgeStatus() {}

void AppModel::restartSpotBridge() {}

} // namespace kivo
