#include "KivoCore/radio/RadioControlling.h"

#include "KivoCore/support/LogCategories.h"

namespace kivo {

QCoro::Task<std::optional<qint64>> RadioControlling::primaryFrequency()
{
    const RadioSnapshot current = co_await snapshot();
    if (const auto a = current.vfo(QStringLiteral("A")))
        co_return a->frequencyHz;
    co_return std::nullopt;
}

QCoro::Task<void> RadioControlling::setPrimaryFrequency(qint64 hz)
{
    co_await setFrequency(hz);
}

QCoro::Task<std::optional<qint64>> RadioControlling::secondaryFrequency()
{
    co_return std::nullopt;
}

QCoro::Task<void> RadioControlling::setSecondaryFrequency(qint64)
{
    throw KivoError::unsupported();
    co_return;
}

QCoro::Task<void> RadioControlling::setSplitTransmit(bool on)
{
    if (on)
        throw KivoError::unsupported();
    co_return;
}

QCoro::Task<void> RadioControlling::setReceiveVFO(int vfo)
{
    if (vfo != 0)
        throw KivoError::unsupported();
    co_return;
}

QCoro::Task<int> RadioControlling::cwSpeed()
{
    co_return 25;
}

QCoro::Task<void> RadioControlling::setCWSpeed(int)
{
    throw KivoError::unsupported();
    co_return;
}

QCoro::Task<void> RadioControlling::sendCW(QString)
{
    throw KivoError::unsupported();
    co_return;
}

QCoro::Task<void> RadioControlling::clearCW()
{
    throw KivoError::unsupported();
    co_return;
}

QCoro::Task<void> RadioControlling::setTransmit(CATTransmitMode)
{
    co_await setTransmit(true);
}

QCoro::Task<void> RadioControlling::setRIT(bool, int, std::optional<QString>)
{
    throw KivoError::unsupported();
    co_return;
}

QCoro::Task<void> RadioControlling::setXIT(bool, int, std::optional<QString>)
{
    throw KivoError::unsupported();
    co_return;
}

QCoro::Task<void> RadioControlling::setRFPower(int)
{
    throw KivoError::unsupported();
    co_return;
}

QCoro::Task<void> RadioControlling::performStationAction(RemoteStationAction)
{
    throw KivoError::unsupported();
    co_return;
}

QCoro::Task<void> RadioControlling::addSpot(FlexSpot)
{
    throw KivoError::unsupported();
    co_return;
}

QCoro::Task<bool> RadioControlling::makeSafe(ClientActivity activity)
{
    if (activity.startedCW) {
        try {
            co_await clearCW();
        } catch (...) {
            qCDebug(lcGeneral) << "clearing CW failed:" << describeException(std::current_exception());
        }
    }
    if (!activity.keyedTransmitter || activity.keyNumber <= 0)
        co_return true;
    try {
        co_await setTransmit(false);
    } catch (...) {
        qCDebug(lcGeneral) << "unkeying failed:" << describeException(std::current_exception());
        co_return false;
    }
    co_return true;
}

} // namespace kivo
