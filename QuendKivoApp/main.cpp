// Quend-Kivo: serves CAT and rigctld to logging software on loopback, with
// the station's stored settings choosing the radio backend, and shows the
// configuration window and the station monitor.

#include "KivoCore/support/KeychainSecretStore.h"
#include "QuendKivoApp/DesktopApplication.h"
#include "QuendKivoApp/model/AppModel.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

using namespace kivo;

namespace {

// Every CAT and rigctld client holds a descriptor. When the table is full, the
// next thread Qt starts cannot get a wake-up pipe and GLib aborts the process,
// leaving a keyed transmitter keyed; the usual soft limit of 1,024 is too low.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max)
        return;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        std::fprintf(stderr, "quend-kivo: could not raise the open-file limit: %s\n", std::strerror(errno));
}

} // namespace

int main(int argc, char **argv)
{
    raiseDescriptorLimit();

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
