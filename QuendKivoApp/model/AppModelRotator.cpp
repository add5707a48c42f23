// Rotator control of the application model: connection, targets and turning.

#include "QuendKivoApp/model/AppModel.h"

namespace kivo {

void AppModel::startRotator() {}

void AppModel::startRotatorIfNeeded() {}

void AppModel::stopRotator()
{
    stopRotatorFeed();
    if (m_rotatorClient)
        m_rotatorClient->stop();
    m_rotatorClient.reset();
}

void AppModel::resolveRotatorTarget() {}

void AppModel::turnRotatorToTarget() {}

void AppModel::turnRotatorFromCompass(double bearing) {}

void AppModel::toggleRotatorPath() {}

void AppModel::rotateRotator(bool clockwise) {}

void AppModel::stopRotatorMotion() {}

} // namespace kivo
