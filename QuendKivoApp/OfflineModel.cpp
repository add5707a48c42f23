#include "QuendKivoApp/OfflineModel.h"

#include "KivoCore/support/SecretStore.h"
#include "QuendKivoApp/model/AppModel.h"

namespace kivo {

std::unique_ptr<AppModel> makeOfflineModel(const QString &settingsPath, AppBackendFactory factory)
{
    AppModelDependencies dependencies;
    dependencies.settingsPath = settingsPath;
    dependencies.secrets = std::make_shared<InMemorySecretStore>();
    dependencies.startPropagation = false;
    dependencies.backendFactory = std::move(factory);
    auto model = std::make_unique<AppModel>(std::move(dependencies));
    AppConfiguration configuration = model->configuration();
    configuration.catPort = 0;
    configuration.rigCtlPort = 0;
    configuration.spotBridge.enabled = false;
    model->setConfiguration(configuration);
    return model;
}

} // namespace kivo
