#pragma once

// The small values every exchange with the Remote Station Agent relies on:
// the validated base address, the command vocabulary, the request builder
// and the store of the bearer token.

#include "KivoCore/support/HttpExchange.h"
#include "KivoCore/support/SecretStore.h"

#include <QByteArray>
#include <QCoroTask>
#include <QJsonValue>
#include <QMap>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>
#include <chrono>
#include <optional>
#include <variant>

namespace kivo {

class FlexSpot;
enum class RemoteStationAction;

class RemoteAgentEndpoint {
public:
    // Trims, checks and normalises a typed base address; throws KivoError.
    explicit RemoteAgentEndpoint(const QString &text);

    // An https address with a host and nothing of user, password, query or
    // fragment; its path never ends in "/" unless it is exactly "/".
    const QUrl &baseURL() const { return m_baseURL; }

    // The address of one resource under the base path; "wss" for the stream.
    QUrl url(const QString &path, bool webSocket) const;

    bool operator==(const RemoteAgentEndpoint &other) const { return m_baseURL == other.m_baseURL; }

private:
    QUrl m_baseURL;
};

class RemoteAgentArgument {
public:
    static RemoteAgentArgument boolean(bool value) { return RemoteAgentArgument(value); }
    static RemoteAgentArgument integer(qint64 value) { return RemoteAgentArgument(value); }
    static RemoteAgentArgument string(const QString &value) { return RemoteAgentArgument(value); }

    const std::variant<bool, qint64, QString> &value() const { return m_value; }
    QJsonValue toJson() const;

    bool operator==(const RemoteAgentArgument &) const = default;

private:
    template <typename T>
    explicit RemoteAgentArgument(T value) : m_value(std::move(value))
    {
    }

    std::variant<bool, qint64, QString> m_value;
};

struct RemoteAgentCommand {
    QString name;
    QMap<QString, RemoteAgentArgument> arguments;

    static const RemoteAgentCommand clearCW;
    // "station_" followed by the action's raw value, no arguments.
    static RemoteAgentCommand station(RemoteStationAction action);
    // "add_spot" with one argument per field of the spot.
    static RemoteAgentCommand addSpot(const FlexSpot &spot);

    bool operator==(const RemoteAgentCommand &) const = default;
};

// One HTTP request to the agent: the method and body travel beside the
// QNetworkRequest, which holds neither.
using RemoteAgentRequest = HttpRequest;

inline constexpr std::chrono::milliseconds remoteAgentRequestTimeout{15000};

// The bearer token every agent request presents, and how long it may take.
struct RemoteAgentAccess {
    QString token{};
    std::chrono::milliseconds timeout = remoteAgentRequestTimeout;
};

namespace RemoteAgentRequestBuilder {
// The headers, cache policy and time-out every agent request shares.
RemoteAgentRequest request(const RemoteAgentEndpoint &endpoint, const RemoteAgentAccess &access,
                           const QByteArray &method, const QString &path);

// The POST of one command: {"arguments", "command", "request_id"}.
RemoteAgentRequest commandRequest(const RemoteAgentEndpoint &endpoint, const RemoteAgentAccess &access,
                                  const QString &requestID, const RemoteAgentCommand &command);

// "kivo-" followed by a new random UUID in lower case.
QString newRequestID();
} // namespace RemoteAgentRequestBuilder

// A failure of the token store; message() reads "The desktop keyring
// returned an error: <detail>." and what to check.
using RemoteAgentCredentialError = SecretStoreError;

// Names the one stored item that holds the bearer token of an agent address.
class RemoteAgentKeychain {
public:
    static const QString serviceName;

    // The store must outlive every operation started on this value.
    RemoteAgentKeychain(const QString &endpointIdentifier, SecretStore &store);

    QString service() const { return serviceName; }
    // 64 lower-case hexadecimal digits, the same for addresses that differ
    // only in letter case, surrounding blanks or trailing slashes.
    QString account() const { return m_account; }

    QCoro::Task<std::optional<QString>> loadToken() const;
    // Trims the token; a token of blanks only changes nothing.
    QCoro::Task<void> saveToken(QString token) const;
    QCoro::Task<void> deleteToken() const;

private:
    QString m_account;
    SecretStore *m_store;
};

} // namespace kivo
