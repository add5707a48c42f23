#pragma once

// Reconnection pacing shared by the radio clients (FlexRadio, SmartLink,
// legacy KIVO): min(2^(n-1), 30) s plus up to a quarter more, n counting the
// failures since the last success.

#include <QAbstractSocket>
#include <QString>
#include <chrono>

namespace kivo {

inline constexpr double kReconnectBackoffCapSeconds = 30.0;

// The delay of attempt `attempt` (1 for the first failure), `jitter` in
// 0...1 choosing where inside the extra quarter it falls.
double reconnectDelaySeconds(qint64 attempt, double jitter);

// A jitter drawn from the system's random source.
double randomJitter();

// The same with a jitter drawn from the system's random source.
double drawReconnectDelaySeconds(qint64 attempt);

// "<reason>. Retrying in <seconds with one decimal> s", with one full stop
// even when the reason already ends in one.
QString retryingSentence(const QString &reason, double delaySeconds);

// Waits `delaySeconds` of back-off where one second lasts `second`, so tests
// can run the schedule in milliseconds.
std::chrono::milliseconds scaledDelay(double delaySeconds, std::chrono::milliseconds second);

// Errors after which a connection may succeed later without anything being
// changed (nobody listening yet, no route, no name): the connection "waits"
// rather than "fails".
bool isWaitingSocketError(QAbstractSocket::SocketError error);

} // namespace kivo
