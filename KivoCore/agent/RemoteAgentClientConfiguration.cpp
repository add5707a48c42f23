// Reading and writing the station configuration the agent keeps. Neither
// needs the client to run, and neither touches its state.

#include "KivoCore/agent/RemoteAgentClient.h"

#include "KivoCore/support/KivoError.h"

namespace kivo {

QCoro::Task<RemoteStationConfiguration> RemoteAgentClient::exchangeConfiguration(
    RemoteAgentRequest request, QString rejection, std::shared_ptr<RemoteAgentCancellation> cancellation)
{
    const HttpAnswer answer = co_await perform(m_network, request, std::move(cancellation));
    validate(answer.status, answer.body);
    const RemoteConfigResponse response = RemoteConfigResponse::fromJson(answer.body);
    if (!response.success)
        throw KivoError::server(rejection);
    co_return response.config;
}

QCoro::Task<RemoteStationConfiguration> RemoteAgentClient::fetchConfiguration()
{
    // A load is of no use after a stop, which abandons it; a save the
    // operator asked for still goes out.
    const InFlight inFlight(this);
    co_return co_await exchangeConfiguration(request("GET", QStringLiteral("/api/v1/config")),
                                             QStringLiteral("Remote Agent rejected the configuration request."),
                                             inFlight.cancellation);
}

QCoro::Task<RemoteStationConfiguration> RemoteAgentClient::saveConfiguration(
    RemoteStationConfiguration configuration)
{
    RemoteAgentRequest put = request("PUT", QStringLiteral("/api/v1/config"));
    put.request.setRawHeader("Content-Type", "application/json");
    put.body = RemoteConfigUpdateRequest{configuration}.toJson();
    co_return co_await exchangeConfiguration(put,
                                             QStringLiteral("Remote Agent rejected the configuration update."));
}

} // namespace kivo
