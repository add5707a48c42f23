#include "KivoCore/flex/FlexRadioClient.h"

namespace kivo {

FlexRadioClient::FlexRadioClient(Options options, StateHandler onState, SnapshotHandler onSnapshot, QObject *parent)
    : FlexRadioSession({.stationName = std::move(options.stationName),
                        .sliceLetter = std::move(options.sliceLetter),
                        .pinStore = std::move(options.pinStore),
                        .timing = options.timing,
                        .backoffSecond = options.timing.backoffSecond,
                        .random = std::move(options.random)},
                       std::move(onState), std::move(onSnapshot), parent),
      m_endpoint({.host = std::move(options.host),
                  .port = options.port,
                  .useTLS = options.useTLS,
                  .wanValidationHandle = std::move(options.wanValidationHandle),
                  .certificateIdentity = std::move(options.certificateIdentity)})
{
}

void FlexRadioClient::openTransport(qint64 attempt)
{
    openSession(attempt, m_endpoint);
}

} // namespace kivo
