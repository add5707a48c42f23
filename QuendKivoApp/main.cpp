// Quend-Kivo: serves CAT and rigctld to logging software on loopback, with
// the station's stored settings choosing the radio backend, and shows the
// configuration window and the station monitor.

#include "KivoCore/support/KeychainSecretStore.h"
#include "QuendKivoApp/DesktopApplication.h"
#include "QuendKivoApp/model/AppModel.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>

#include <cstdio>

using namespace kivo;

int main(int argc, char **argv)
{
    // Settings live in $XDG_CONFIG_HOME/tarnvale/Quend-Kivo.conf (INI).
    return runDesktopApplication(argc, argv, QString(), [] {
        AppModelDependencies dependencies;
        dependencies.secrets = std::make_shared<KeychainSecretStore>();
        dependencies.network = new QNetworkAccessManager(qApp);
        auto model = std::make_unique<AppModel>(std::move(dependencies));

        // Every events-log line also goes to standard output as it is recorded.
        auto print = [](const QString &line) {
            std::printf("%s\n", qPrintable(line));
            std::fflush(stdout);
        };
        for (const QString &line : model->events())
            print(line);
        QObject::connect(model.get(), &AppModel::eventRecorded, qApp, print);
        return model;
    });
}
