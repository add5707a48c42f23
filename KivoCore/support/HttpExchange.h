#pragma once

// One HTTP request awaited on the event loop. The reply belongs to the
// exchange: it is made a child of the manager, read inside its own
// `finished` signal and deleted there, so the awaiting coroutine never
// touches a reply that may be gone. Transport failures are thrown as
// sentences; an answer with an HTTP status is returned, whatever the status.

#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/Async.h"

#include <QByteArray>
#include <QCoroTask>
#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class QLoggingCategory;

namespace kivo {

struct HttpRequest {
    QByteArray method = "GET";
    QNetworkRequest request;
    QByteArray body;
    // A body that outgrows this is aborted as soon as more has arrived;
    // negative: no limit.
    qint64 maximumBodyBytes = -1;
    // The sentence thrown when the owner ends the exchange (cancel,
    // abortHttpRequests, the manager going away) or the manager is gone
    // already; absent: KivoError::notConnected().
    std::optional<QString> whenCancelled;
    // Where the exchange is traced at debug level (method, URL, bodies and
    // status, secrets redacted; headers never); nowhere when absent.
    const QLoggingCategory *trace = nullptr;
};

struct HttpAnswer {
    // Absent when the answer was not HTTP (a file, say).
    std::optional<int> status;
    QByteArray body;
    QDateTime receivedAt;
    // The body passed maximumBodyBytes and was cut off; `body` is empty.
    bool exceededLimit = false;
};

// Lets the owner end one exchange, before or while it is in flight.
struct HttpCancellation {
    bool cancelled = false;
    QPointer<QNetworkReply> reply;
    // Resolved by cancel(), so waits of the cancelled work end too.
    OneShot<> cancelledEvent;

    void cancel();
};

// Throws KivoError: the sentence of a transport failure, or the one of
// request.whenCancelled.
QCoro::Task<HttpAnswer> sendHttpRequest(QPointer<QNetworkAccessManager> network, HttpRequest request,
                                        std::shared_ptr<HttpCancellation> cancellation = {});

// Ends every exchange of this manager still in flight, as cancelled.
void abortHttpRequests(QNetworkAccessManager *network);

// What a user reads for a transport failure: a time-out is "The request
// timed out.", anything else Qt's own words as a sentence.
QString httpFailureSentence(QNetworkReply::NetworkError error, const QString &description);

} // namespace kivo
