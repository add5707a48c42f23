#include "fakes/HttpMessages.h"

#include <QJsonDocument>
#include <QList>

namespace kivo::test {

QJsonObject HttpRequest::json() const
{
    return QJsonDocument::fromJson(body).object();
}

std::optional<HttpRequest> parseHttpRequest(const QByteArray &bytes, qsizetype *consumed)
{
    const qsizetype headEnd = bytes.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return std::nullopt;
    HttpRequest request;
    const QList<QByteArray> lines = bytes.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1).split('?').value(0);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const qsizetype length = request.header("content-length").toLongLong();
    if (bytes.size() < headEnd + 4 + length)
        return std::nullopt;
    request.body = bytes.mid(headEnd + 4, length);
    if (consumed)
        *consumed = headEnd + 4 + length;
    return request;
}

QByteArray httpResponse(int status, const QByteArray &body, const QByteArray &contentType)
{
    QByteArray reason;
    switch (status) {
    case 200: reason = "OK"; break;
    case 204: reason = "No Content"; break;
    case 400: reason = "Bad Request"; break;
    case 401: reason = "Unauthorized"; break;
    case 404: reason = "Not Found"; break;
    case 500: reason = "Internal Server Error"; break;
    case 503: reason = "Service Unavailable"; break;
    default: reason = "Answer"; break;
    }
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nContent-Type: " + contentType
           + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace kivo::test
