#include "KivoCore/support/HttpExchange.h"

#include "KivoCore/support/Async.h"
#include "KivoCore/support/Redaction.h"
#include "KivoCore/support/Text.h"

#include <QLoggingCategory>

#include <variant>

namespace kivo {

namespace {
// Tells an abort by the owner from Qt's own abort at the transfer time-out.
const char *const cancelledProperty = "kivoCancelled";

void cancelReply(QNetworkReply *reply)
{
    reply->setProperty(cancelledProperty, true);
    reply->abort();
}

// A connection that failed (refused, dropped, timed out, TLS) fails the
// exchange even after a status; Qt's other errors merely echo an HTTP
// status (400 is a "protocol" error), which the caller judges.
bool isNetworkFailure(QNetworkReply::NetworkError error)
{
    return error > QNetworkReply::NoError && error <= QNetworkReply::UnknownNetworkError;
}

struct Cancelled {};

KivoError cancelledError(const HttpRequest &request)
{
    return request.whenCancelled ? KivoError::server(*request.whenCancelled) : KivoError::notConnected();
}
using Outcome = std::variant<HttpAnswer, QString, Cancelled>;

QString tracedBody(const QByteArray &body)
{
    return redactedSecrets(QString::fromUtf8(body));
}

// "GET https://host/path" for a trace.
QByteArray tracedTarget(const HttpRequest &request)
{
    return request.method + ' ' + redactedSecrets(request.request.url().toString()).toUtf8();
}

void traceRequest(const HttpRequest &request)
{
    if (request.body.isEmpty())
        qCDebug(*request.trace) << tracedTarget(request).constData();
    else
        qCDebug(*request.trace) << tracedTarget(request).constData() << tracedBody(request.body);
}

void traceOutcome(const HttpRequest &request, const Outcome &outcome)
{
    const QByteArray target = tracedTarget(request);
    const auto *answer = std::get_if<HttpAnswer>(&outcome);
    if (answer && answer->status && !answer->exceededLimit)
        qCDebug(*request.trace) << target.constData() << "answered" << *answer->status << tracedBody(answer->body);
    else if (answer && answer->status)
        qCDebug(*request.trace) << target.constData() << "answered" << *answer->status << "beyond the size limit";
    else if (answer)
        qCDebug(*request.trace) << target.constData() << "answered without a status";
    else if (const auto *failure = std::get_if<QString>(&outcome))
        qCDebug(*request.trace) << target.constData() << "failed:" << *failure;
    else
        qCDebug(*request.trace) << target.constData() << "cancelled";
}

Outcome outcomeOf(QNetworkReply *reply, bool exceededLimit)
{
    HttpAnswer answer;
    answer.receivedAt = QDateTime::currentDateTimeUtc();
    if (reply->property(cancelledProperty).toBool())
        return Cancelled{};
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid())
        answer.status = status.toInt();
    if (exceededLimit) {
        answer.exceededLimit = true;
        return answer;
    }
    const QNetworkReply::NetworkError error = reply->error();
    if (isNetworkFailure(error) || (!answer.status && error != QNetworkReply::NoError))
        return httpFailureSentence(error, reply->errorString());
    answer.body = reply->readAll();
    return answer;
}

// Cuts a download off at the first byte past the limit, not after it ended.
// The bounded read buffer holds the sender back meanwhile, so a server that
// streams without end cannot fill memory before the cut.
void enforceLimit(QNetworkReply *reply, qint64 maximum, const std::shared_ptr<bool> &exceeded)
{
    reply->setReadBufferSize(maximum + 1);
    const auto check = [reply, maximum, exceeded](qint64 received) {
        if (!*exceeded && received > maximum) {
            *exceeded = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [check](qint64 received, qint64) {
        check(received);
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, check] { check(reply->bytesAvailable()); });
}
} // namespace

void HttpCancellation::cancel()
{
    cancelled = true;
    cancelledEvent.resolve();
    if (reply)
        cancelReply(reply);
}

QCoro::Task<HttpAnswer> sendHttpRequest(QPointer<QNetworkAccessManager> network, HttpRequest request,
                                        std::shared_ptr<HttpCancellation> cancellation)
{
    if (!network || (cancellation && cancellation->cancelled))
        throw cancelledError(request);

    if (request.trace && request.trace->isDebugEnabled())
        traceRequest(request);
    QNetworkReply *reply = request.method == "GET"
                               ? network->get(request.request)
                               : network->sendCustomRequest(request.request, request.method, request.body);
    // Qt keeps its own copy; a password in the body need not stay here.
    request.body = {};
    if (cancellation)
        cancellation->reply = reply;
    const auto exceeded = std::make_shared<bool>(false);
    if (request.maximumBodyBytes >= 0)
        enforceLimit(reply, request.maximumBodyBytes, exceeded);

    OneShot<Outcome> done;
    auto onFinished = [reply, exceeded, done]() mutable {
        done.resolve(outcomeOf(reply, *exceeded));
        reply->deleteLater();
    };
    // A manager that goes away takes its replies along, finished or not.
    const auto onDestroyed = [done]() mutable { done.resolve(Outcome(Cancelled{})); };
    QObject::connect(reply, &QNetworkReply::finished, reply, onFinished);
    QObject::connect(reply, &QObject::destroyed, onDestroyed);
    if (reply->isFinished())
        onFinished();

    Outcome outcome = co_await done;
    if (request.trace && request.trace->isDebugEnabled())
        traceOutcome(request, outcome);
    if (std::holds_alternative<Cancelled>(outcome))
        throw cancelledError(request);
    if (const QString *failure = std::get_if<QString>(&outcome))
        throw KivoError::server(*failure);
    co_return std::get<HttpAnswer>(std::move(outcome));
}

void abortHttpRequests(QNetworkAccessManager *network)
{
    if (!network)
        return;
    for (QNetworkReply *reply : network->findChildren<QNetworkReply *>())
        cancelReply(reply);
}

QString httpFailureSentence(QNetworkReply::NetworkError error, const QString &description)
{
    // Qt ends a request that ran out of time as "Operation canceled".
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError)
        return QStringLiteral("The request timed out.");
    return asSentence(description);
}

} // namespace kivo
