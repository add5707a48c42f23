#include "QuendKivoApp/OfflineModel.h"

#include "KivoCore/support/SecretStore.h"
#include "QuendKivoApp/model/AppModel.h"

#include <QRandomGenerator>
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
    // Ports that were free a moment ago: the form refuses 0, where the system
    // would choose. They lie below the system's ephemeral range, where an
    // outgoing connection meanwhile could take them.
    QTcpServer cat, rigCtl;
    const auto listen = [](QTcpServer &server) {
        for (int attempt = 0; attempt < 100 && !server.isListening(); ++attempt)
            server.listen(QHostAddress::LocalHost, quint16(QRandomGenerator::global()->bounded(20000, 32000)));
        if (!server.isListening())
            server.listen(QHostAddress::LocalHost, 0);
    };
    listen(cat);
    listen(rigCtl);
    configuration.catPort = cat.serverPort();
    configuration.rigCtlPort = rigCtl.serverPort();
    configuration.spotBridge.enabled = false;
    model->setConfiguration(configuration);
    return model;
}

} // namespace kivo
