#include "QuendKivoApp/model/AppBackendFactory.h"

#include "KivoCore/radio/SimulatedRadio.h"

namespace kivo {

RadioSnapshot initialSimulatorSnapshot(const AppConfiguration &configuration)
{
    return RadioSnapshot(14074000, QStringLiteral("DIGU"), true, false, configuration.sliceLetter,
                         configuration.stationName);
}

AppBackend makeAppBackend(const AppBackendRequest &request)
{
    AppBackend backend;
    backend.radio = std::make_shared<SimulatedRadio>(initialSimulatorSnapshot(request.configuration),
                                                     request.onSnapshot);
    return backend;
}

} // namespace kivo
