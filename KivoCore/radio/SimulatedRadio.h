#pragma once

#include "KivoCore/radio/RadioBackendBase.h"

#include <QHash>
#include <functional>

namespace kivo {

// The backend of the "Simulator" connection: a radio held in memory with
// VFO A (and B once created), RIT/XIT per VFO, CW speed, transmit state and
// RF power. Every visible change is published through onSnapshot, called
// synchronously from the operation that caused it; the callback must not call
// back into the simulator. Operations never suspend.
class SimulatedRadio : public RadioBackendBase {
public:

    // Seeds the VFOs from the snapshot; publishes nothing.
    SimulatedRadio(RadioSnapshot seed, SnapshotHandler onSnapshot);

    QCoro::Task<RadioSnapshot> snapshot() override;
    QCoro::Task<std::optional<qint64>> primaryFrequency() override;
    QCoro::Task<void> setPrimaryFrequency(qint64 hz) override;
    QCoro::Task<void> setFrequency(qint64 hz) override;
    QCoro::Task<void> setMode(QString mode) override;
    QCoro::Task<std::optional<qint64>> secondaryFrequency() override;
    QCoro::Task<void> setSecondaryFrequency(qint64 hz) override;
    QCoro::Task<void> setSplitTransmit(bool on) override;
    QCoro::Task<void> setReceiveVFO(int vfo) override;
    QCoro::Task<int> cwSpeed() override;
    QCoro::Task<void> setCWSpeed(int wordsPerMinute) override;
    QCoro::Task<void> setRIT(bool enabled, int offsetHz, std::optional<QString> vfo) override;
    QCoro::Task<void> setXIT(bool enabled, int offsetHz, std::optional<QString> vfo) override;
    QCoro::Task<void> setRFPower(int watts) override;

protected:
    // Nothing to connect: ready at once.
    void openTransport(qint64 attempt) override { sessionReady(attempt, QString()); }
    QCoro::Task<void> dropTransport() override { co_return; }
    QCoro::Task<void> transmit(bool on) override;
    QCoro::Task<void> transmit(CATTransmitMode mode) override;
    QCoro::Task<void> queueCW(QString text) override;
    QCoro::Task<void> clearKeyer() override;
    // Nothing but the bridge keys it, and it answers at once.
    bool reportsKeySource() const override { return true; }
    bool reportsTransmitter() const override { return false; }

private:
    struct VFOOffset {
        bool ritEnabled = false;
        int ritOffsetHz = 0;
        bool xitEnabled = false;
        int xitOffsetHz = 0;
    };

    bool hasVFOB() const { return m_vfoBFrequencyHz.has_value(); }
    bool receivesOnB() const;
    // The letter an RIT/XIT request addresses; throws for an offset out of range.
    QString offsetLetter(int offsetHz, const std::optional<QString> &vfo) const;
    RadioVFO buildVFO(const QString &letter, qint64 frequencyHz, const QString &mode) const;
    void refreshVFOs();
    void publish() { RadioBackendBase::publish(m_value); }

    RadioSnapshot m_value;
    qint64 m_vfoAFrequencyHz = 0;
    std::optional<qint64> m_vfoBFrequencyHz;
    QString m_vfoAMode;
    std::optional<QString> m_vfoBMode;
    int m_speed = 25;
    QString m_cwText;
    QHash<QString, VFOOffset> m_vfoOffsets;
};

} // namespace kivo
