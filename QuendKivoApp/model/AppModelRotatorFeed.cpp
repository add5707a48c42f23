// RUMlog rotator feed and automatic turning of the application model.

#include "QuendKivoApp/model/AppModel.h"

#include "KivoCore/station/UDPSpotReceiver.h"

namespace kivo {

void AppModel::startRotatorFeed() {}

void AppModel::stopRotatorFeed()
{
    if (m_rotatorFeedReceiver)
        m_rotatorFeedReceiver->stop();
    m_rotatorFeedReceiver.reset();
}

} // namespace kivo
