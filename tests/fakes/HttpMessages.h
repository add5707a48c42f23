#pragma once

// The HTTP/1.1 pieces the fake HTTPS peers share: reading one request from
// the bytes a connection has received, and writing a closing response.

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <optional>

namespace kivo::test {

struct HttpRequest {
    QByteArray method;
    // Without the query.
    QByteArray path;
    // Header names in lower case.
    QHash<QByteArray, QByteArray> headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    QJsonObject json() const;
};

// One whole request (head and Content-Length body) at the start of `bytes`,
// or nothing until all of it has arrived; `consumed` gets its length.
std::optional<HttpRequest> parseHttpRequest(const QByteArray &bytes, qsizetype *consumed = nullptr);

// A response that closes the connection after its body.
QByteArray httpResponse(int status, const QByteArray &body, const QByteArray &contentType = "application/json");

} // namespace kivo::test
