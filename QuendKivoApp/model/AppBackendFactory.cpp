#include "QuendKivoApp/model/AppBackendFactory.h"

#include "QuendKivoApp/model/ConnectionKindDescriptor.h"

namespace kivo {

RadioSnapshot initialSimulatorSnapshot(const AppConfiguration &configuration)
{
    return RadioSnapshot({.frequencyHz = 14074000,
                          .mode = QStringLiteral("DIGU"),
                          .isConnected = true,
                          .slice = configuration.sliceLetter,
                          .station = configuration.stationName});
}

AppBackend makeAppBackend(const AppBackendRequest &request)
{
    return descriptorOf(request.configuration.connectionKind).makeBackend(request);
}

} // namespace kivo
