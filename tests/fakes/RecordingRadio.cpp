#include "fakes/RecordingRadio.h"

#include "KivoCore/support/Async.h"
#include "KivoCore/radio/RadioLifecycle.h"

namespace kivo::test {

namespace {
QString text(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString text(qint64 value)
{
    return QString::number(value);
}

QString text(const std::optional<QString> &value)
{
    return value.value_or(QStringLiteral("none"));
}

QString text(CATTransmitMode mode)
{
    switch (mode) {
    case CATTransmitMode::Microphone: return QStringLiteral("microphone");
    case CATTransmitMode::Data: return QStringLiteral("data");
    case CATTransmitMode::Tune: return QStringLiteral("tune");
    }
    return {};
}
} // namespace

RadioSnapshot connectedSnapshot()
{
    return RadioSnapshot({.frequencyHz = 14074000,
                          .mode = QStringLiteral("DIGU"),
                          .isConnected = true,
                          .slice = QStringLiteral("A"),
                          .station = QStringLiteral("Test")});
}

RecordingRadio::RecordingRadio() : RecordingRadio(connectedSnapshot()) {}

RecordingRadio::RecordingRadio(RadioSnapshot snapshot) : current(std::move(snapshot)) {}

QString RecordingRadio::failureMessage(const QString &operation)
{
    return QStringLiteral("Scripted failure of %1.").arg(operation);
}

void RecordingRadio::record(const QString &operation, const QStringList &arguments)
{
    calls.append(operation + QLatin1Char('(') + arguments.join(QLatin1Char(',')) + QLatin1Char(')'));
    if (failing.contains(operation))
        throw KivoError::server(failureMessage(operation));
}

void RecordingRadio::takeClient()
{
    const auto activity = std::exchange(m_nextClient, {}).lock();
    keyedFor.append(activity ? activity->identity : 0);
}

QCoro::Task<void> RecordingRadio::transmit(QString operation, QString argument, bool on)
{
    takeClient();
    calls.append(operation + QLatin1Char('(') + argument + QLatin1Char(')'));
    if (transmitDelay.count() > 0)
        co_await sleepFor(transmitDelay);
    if (failing.contains(operation))
        throw KivoError::server(failureMessage(operation));
    current.isTransmitting = on;
    ++transmitsLanded;
}

QCoro::Task<RadioSnapshot> RecordingRadio::snapshot()
{
    record(QStringLiteral("snapshot"));
    return snapshotCopy(current);
}

QCoro::Task<std::optional<qint64>> RecordingRadio::primaryFrequency()
{
    record(QStringLiteral("primaryFrequency"));
    co_return primary;
}

QCoro::Task<void> RecordingRadio::setPrimaryFrequency(qint64 hz)
{
    record(QStringLiteral("setPrimaryFrequency"), {text(hz)});
    co_return;
}

QCoro::Task<void> RecordingRadio::setFrequency(qint64 hz)
{
    record(QStringLiteral("setFrequency"), {text(hz)});
    co_return;
}

QCoro::Task<void> RecordingRadio::setMode(QString mode)
{
    record(QStringLiteral("setMode"), {mode});
    co_return;
}

QCoro::Task<void> RecordingRadio::setTransmit(bool on)
{
    co_await transmit(QStringLiteral("setTransmit"), text(on), on);
}

QCoro::Task<std::optional<qint64>> RecordingRadio::secondaryFrequency()
{
    record(QStringLiteral("secondaryFrequency"));
    co_return secondary;
}

QCoro::Task<void> RecordingRadio::setSecondaryFrequency(qint64 hz)
{
    record(QStringLiteral("setSecondaryFrequency"), {text(hz)});
    co_return;
}

QCoro::Task<void> RecordingRadio::setSplitTransmit(bool on)
{
    record(QStringLiteral("setSplitTransmit"), {text(on)});
    co_return;
}

QCoro::Task<void> RecordingRadio::setReceiveVFO(int vfo)
{
    record(QStringLiteral("setReceiveVFO"), {text(qint64(vfo))});
    co_return;
}

QCoro::Task<int> RecordingRadio::cwSpeed()
{
    record(QStringLiteral("cwSpeed"));
    co_return speed;
}

QCoro::Task<void> RecordingRadio::setCWSpeed(int wordsPerMinute)
{
    record(QStringLiteral("setCWSpeed"), {text(qint64(wordsPerMinute))});
    co_return;
}

QCoro::Task<void> RecordingRadio::sendCW(QString cw)
{
    takeClient();
    record(QStringLiteral("sendCW"), {cw});
    co_return;
}

QCoro::Task<void> RecordingRadio::clearCW()
{
    takeClient();
    record(QStringLiteral("clearCW"));
    co_return;
}

QCoro::Task<void> RecordingRadio::setTransmit(CATTransmitMode mode)
{
    co_await transmit(QStringLiteral("setTransmit"), text(mode), true);
}

QCoro::Task<void> RecordingRadio::setRIT(bool enabled, int offsetHz, std::optional<QString> vfo)
{
    record(QStringLiteral("setRIT"), {text(enabled), text(qint64(offsetHz)), text(vfo)});
    co_return;
}

QCoro::Task<void> RecordingRadio::setXIT(bool enabled, int offsetHz, std::optional<QString> vfo)
{
    record(QStringLiteral("setXIT"), {text(enabled), text(qint64(offsetHz)), text(vfo)});
    co_return;
}

QCoro::Task<void> RecordingRadio::setRFPower(int watts)
{
    record(QStringLiteral("setRFPower"), {text(qint64(watts))});
    co_return;
}

QCoro::Task<void> RecordingRadio::performStationAction(RemoteStationAction action)
{
    record(QStringLiteral("performStationAction"), {rawValue(action)});
    co_return;
}

QCoro::Task<void> RecordingRadio::addSpot(FlexSpot spot)
{
    record(QStringLiteral("addSpot"), {spot.callsign()});
    co_return;
}

} // namespace kivo::test
