// Reading and writing the station configuration the agent keeps. Neither
// needs the client to run, and neither touches its state.

#include "KivoCore/RemoteAgentClient.h"

#include "KivoCore/KivoError.h"

namespace kivo {

QCoro::Task<RemoteStationConfiguration> RemoteAgentClient::fetchConfiguration()
{
    RemoteAgentRequest get = request("GET", QStringLiteral("/api/v1/config"));
    get.request.setSslConfiguration(m_ssl);
    const HttpAnswer answer = co_await perform(m_network, get);
    validate(answer.status, answer.body);
    const RemoteConfigResponse response = RemoteConfigResponse::fromJson(answer.body);
    if (!response.success)
        throw KivoError::server(QStringLiteral("Remote Agent rejected the configuration request."));
    co_return response.config;
}

QCoro::Task<RemoteStationConfiguration> RemoteAgentClient::saveConfiguration(
    RemoteStationConfiguration configuration)
{
    RemoteAgentRequest put = request("PUT", QStringLiteral("/api/v1/config"));
    put.request.setSslConfiguration(m_ssl);
    put.request.setRawHeader("Content-Type", "application/json");
    put.body = RemoteConfigUpdateRequest{configuration}.toJson();
    const HttpAnswer answer = co_await perform(m_network, put);
    validate(answer.status, answer.body);
    const RemoteConfigResponse response = RemoteConfigResponse::fromJson(answer.body);
    if (!response.success)
        throw KivoError::server(QStringLiteral("Remote Agent rejected the configuration update."));
    co_return response.config;
}

} // namespace kivo
