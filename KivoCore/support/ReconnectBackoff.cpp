#include "KivoCore/support/ReconnectBackoff.h"

#include "KivoCore/support/Numbers.h"

#include <QRandomGenerator>
#include <algorithm>
#include <cmath>

namespace kivo {

double reconnectDelaySeconds(qint64 attempt, double jitter)
{
    const qint64 exponent = std::clamp<qint64>(attempt - 1, 0, 62);
    const double base = std::min(std::ldexp(1.0, static_cast<int>(exponent)), kReconnectBackoffCapSeconds);
    return base + base * 0.25 * std::clamp(jitter, 0.0, 1.0);
}

double randomJitter()
{
    return QRandomGenerator::global()->generateDouble();
}

double drawReconnectDelaySeconds(qint64 attempt)
{
    return reconnectDelaySeconds(attempt, randomJitter());
}

QString retryingSentence(const QString &reason, double delaySeconds)
{
    // Many reasons are whole sentences already; one full stop is enough.
    const QString stem = reason.endsWith(QLatin1Char('.')) ? reason.chopped(1) : reason;
    return stem + QStringLiteral(". Retrying in ") + formatFixed(delaySeconds, 1) + QStringLiteral(" s");
}

std::chrono::milliseconds scaledDelay(double delaySeconds, std::chrono::milliseconds second)
{
    return std::chrono::milliseconds(std::llround(delaySeconds * static_cast<double>(second.count())));
}

bool isWaitingSocketError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::TemporaryError:
        return true;
    default:
        return false;
    }
}

} // namespace kivo
