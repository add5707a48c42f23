// Propagation refresh and the current band of the application model.

#include "QuendKivoApp/model/AppModel.h"

namespace kivo {

void AppModel::startPropagationUpdates() {}

void AppModel::refreshPropagationConditions() {}

QString AppModel::currentBand() const
{
    return QStringLiteral("Other");
}

} // namespace kivo
