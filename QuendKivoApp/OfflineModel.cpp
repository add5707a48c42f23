#include "QuendKivoApp/OfflineModel.h"

#include "KivoCore/support/SecretStore.h"
#include "QuendKivoApp/model/AppModel.h"

#include <QTcpServer>

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
    // Ports that were free a moment ago: the form refuses 0, where the system would choose.
    QTcpServer cat, rigCtl;
    cat.listen(QHostAddress::LocalHost, 0);
    rigCtl.listen(QHostAddress::LocalHost, 0);
    configuration.catPort = cat.serverPort();
    configuration.rigCtlPort = rigCtl.serverPort();
    configuration.spotBridge.enabled = false;
    model->setConfiguration(configuration);
    return model;
}

} // namespace kivo
