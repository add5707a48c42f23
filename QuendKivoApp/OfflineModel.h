#pragma once

// A model that reaches no keyring, no network and no fixed port: what the
// screenshots program and the window tests run the windows with.

#include "QuendKivoApp/model/AppBackendFactory.h"

#include <QString>
#include <memory>

namespace kivo {

class AppModel;

// In-memory secrets, no propagation loop, both servers on ports that were
// free when it was made, the spot bridge off. Tests hand in a factory for
// their fake peers.
std::unique_ptr<AppModel> makeOfflineModel(const QString &settingsPath, AppBackendFactory factory = makeAppBackend);

} // namespace kivo
