#pragma once

#include "KivoCore/radio/RadioControlling.h"

#include <QSet>
#include <QStringList>
#include <chrono>

namespace kivo::test {

// A backend that records every call, in order, as text such as
// "setFrequency(14074000)", "setTransmit(tune)" or "setRIT(true,150,A)"
// (an absent VFO letter reads "none"). It answers getters from its public
// fields, fails the operations named in failOn() with a KivoError::server,
// and otherwise succeeds without changing anything, except that both
// setTransmit overloads key or unkey `current` once their delay has passed,
// so a test can see whether the radio ended up keyed. A delayed setTransmit
// touches the radio after its delay: keep the radio alive until then.
class RecordingRadio : public RadioControlling {
public:
    RecordingRadio();
    explicit RecordingRadio(RadioSnapshot snapshot);

    // The text every scripted failure carries; it must never reach a client.
    static QString failureMessage(const QString &operation);

    // Operation names as recorded, without arguments: "setFrequency".
    void failOn(const QString &operation) { failing.insert(operation); }

    RadioSnapshot current;
    std::optional<qint64> primary;
    std::optional<qint64> secondary;
    int speed = 25;
    std::chrono::milliseconds transmitDelay{0};
    // Transmit changes that have landed (after their delay).
    int transmitsLanded = 0;
    QStringList calls;
    // For each key, unkey, CW and clear, the client named for it since the
    // one before (0: none, the windows'), as the backend base takes it.
    QList<qint64> keyedFor;

    QCoro::Task<RadioSnapshot> snapshot() override;
    QCoro::Task<std::optional<qint64>> primaryFrequency() override;
    QCoro::Task<void> setPrimaryFrequency(qint64 hz) override;
    QCoro::Task<void> setFrequency(qint64 hz) override;
    QCoro::Task<void> setMode(QString mode) override;
    QCoro::Task<void> setTransmit(bool on) override;
    QCoro::Task<std::optional<qint64>> secondaryFrequency() override;
    QCoro::Task<void> setSecondaryFrequency(qint64 hz) override;
    QCoro::Task<void> setSplitTransmit(bool on) override;
    QCoro::Task<void> setReceiveVFO(int vfo) override;
    QCoro::Task<int> cwSpeed() override;
    QCoro::Task<void> setCWSpeed(int wordsPerMinute) override;
    QCoro::Task<void> sendCW(QString text) override;
    QCoro::Task<void> clearCW() override;
    QCoro::Task<void> setTransmit(CATTransmitMode mode) override;
    QCoro::Task<void> setRIT(bool enabled, int offsetHz, std::optional<QString> vfo) override;
    QCoro::Task<void> setXIT(bool enabled, int offsetHz, std::optional<QString> vfo) override;
    QCoro::Task<void> setRFPower(int watts) override;
    QCoro::Task<void> performStationAction(RemoteStationAction action) override;
    QCoro::Task<void> addSpot(FlexSpot spot) override;
    void clientKeying(std::shared_ptr<const ClientActivity> activity) override { m_nextClient = activity; }

private:
    QSet<QString> failing;
    std::weak_ptr<const ClientActivity> m_nextClient;

    void takeClient();

    // Records the call and throws when the operation is scripted to fail.
    void record(const QString &operation, const QStringList &arguments = {});
    QCoro::Task<void> transmit(QString operation, QString argument, bool on);
};

// A connected radio at 14074000 Hz in DIGU on slice A (one VFO A).
RadioSnapshot connectedSnapshot();

} // namespace kivo::test
