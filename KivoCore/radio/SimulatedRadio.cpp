#include "KivoCore/radio/SimulatedRadio.h"

#include "KivoCore/radio/RadioLifecycle.h"

#include "KivoCore/support/Text.h"

namespace kivo {

namespace {
const QString letterA = QStringLiteral("A");
const QString letterB = QStringLiteral("B");

constexpr int minimumCWSpeed = 5;
constexpr int maximumCWSpeed = 100;
constexpr int maximumOffsetHz = 9999;
void requireFrequency(qint64 hz)
{
    if (hz < 1)
        throw KivoError::invalidFrequency();
}
} // namespace

SimulatedRadio::SimulatedRadio(RadioSnapshot seed, SnapshotHandler onSnapshot)
    : RadioBackendBase({.onSnapshot = std::move(onSnapshot)}), m_value(std::move(seed))
{
    const auto a = m_value.vfo(letterA);
    const auto b = m_value.vfo(letterB);
    m_vfoAFrequencyHz = a ? a->frequencyHz : m_value.frequencyHz;
    if (b)
        m_vfoBFrequencyHz = b->frequencyHz;
    m_vfoAMode = a ? a->mode : m_value.mode;
    if (b)
        m_vfoBMode = b->mode;
    for (const RadioVFO &vfo : std::as_const(m_value.vfos))
        m_vfoOffsets.insert(vfo.letter, {vfo.ritEnabled, vfo.ritOffsetHz, vfo.xitEnabled, vfo.xitOffsetHz});
}

bool SimulatedRadio::receivesOnB() const
{
    return m_value.slice == letterB && hasVFOB();
}

QCoro::Task<RadioSnapshot> SimulatedRadio::snapshot()
{
    return snapshotCopy(m_value);
}

QCoro::Task<std::optional<qint64>> SimulatedRadio::primaryFrequency()
{
    co_return m_vfoAFrequencyHz;
}

QCoro::Task<void> SimulatedRadio::setPrimaryFrequency(qint64 hz)
{
    requireFrequency(hz);
    m_vfoAFrequencyHz = hz;
    refreshVFOs();
    co_return;
}

QCoro::Task<void> SimulatedRadio::setFrequency(qint64 hz)
{
    requireFrequency(hz);
    if (receivesOnB())
        m_vfoBFrequencyHz = hz;
    else
        m_vfoAFrequencyHz = hz;
    refreshVFOs();
    co_return;
}

QCoro::Task<void> SimulatedRadio::setMode(QString mode)
{
    const QString name = upperCased(trimmed(mode));
    if (name.isEmpty())
        throw KivoError::invalidMode();
    if (receivesOnB())
        m_vfoBMode = name;
    else
        m_vfoAMode = name;
    refreshVFOs();
    co_return;
}

QCoro::Task<void> SimulatedRadio::transmit(bool on)
{
    m_value.isTransmitting = on;
    publish();
    co_return;
}

QCoro::Task<std::optional<qint64>> SimulatedRadio::secondaryFrequency()
{
    co_return m_vfoBFrequencyHz;
}

QCoro::Task<void> SimulatedRadio::setSecondaryFrequency(qint64 hz)
{
    requireFrequency(hz);
    m_vfoBFrequencyHz = hz;
    if (!m_vfoBMode)
        m_vfoBMode = m_vfoAMode;
    refreshVFOs();
    co_return;
}

QCoro::Task<void> SimulatedRadio::setSplitTransmit(bool on)
{
    if (on) {
        if (!hasVFOB()) {
            m_vfoBFrequencyHz = m_vfoAFrequencyHz;
            m_vfoBMode = m_vfoAMode;
        }
        m_value.transmitSlice = letterB;
    } else {
        m_value.transmitSlice = letterA;
    }
    refreshVFOs();
    co_return;
}

QCoro::Task<void> SimulatedRadio::setReceiveVFO(int vfo)
{
    if (vfo == 0)
        m_value.slice = letterA;
    else if (vfo == 1 && hasVFOB())
        m_value.slice = letterB;
    else
        throw KivoError::unsupported();
    refreshVFOs();
    co_return;
}

QCoro::Task<int> SimulatedRadio::cwSpeed()
{
    co_return m_speed;
}

QCoro::Task<void> SimulatedRadio::setCWSpeed(int wordsPerMinute)
{
    if (wordsPerMinute < minimumCWSpeed || wordsPerMinute > maximumCWSpeed)
        throw KivoError::server(QStringLiteral("CW speed must be 5 through 100 WPM."));
    m_speed = wordsPerMinute;
    co_return;
}

QCoro::Task<void> SimulatedRadio::queueCW(QString text)
{
    // Nothing is keyed: the text is only held as the keyer's queue.
    m_cwText = text;
    co_return;
}

QCoro::Task<void> SimulatedRadio::clearKeyer()
{
    m_cwText.clear();
    co_return;
}

QCoro::Task<void> SimulatedRadio::transmit(CATTransmitMode)
{
    m_value.isTransmitting = true;
    publish();
    co_return;
}

QString SimulatedRadio::offsetLetter(int offsetHz, const std::optional<QString> &vfo) const
{
    if (offsetHz < -maximumOffsetHz || offsetHz > maximumOffsetHz)
        throw KivoError::unsupported();
    const QString requested = vfo ? upperCased(*vfo) : QString();
    if (requested == letterA || requested == letterB)
        return requested;
    return m_value.slice;
}

QCoro::Task<void> SimulatedRadio::setRIT(bool enabled, int offsetHz, std::optional<QString> vfo)
{
    VFOOffset &offset = m_vfoOffsets[offsetLetter(offsetHz, vfo)];
    offset.ritEnabled = enabled;
    offset.ritOffsetHz = offsetHz;
    refreshVFOs();
    co_return;
}

QCoro::Task<void> SimulatedRadio::setXIT(bool enabled, int offsetHz, std::optional<QString> vfo)
{
    VFOOffset &offset = m_vfoOffsets[offsetLetter(offsetHz, vfo)];
    offset.xitEnabled = enabled;
    offset.xitOffsetHz = offsetHz;
    refreshVFOs();
    co_return;
}

QCoro::Task<void> SimulatedRadio::setRFPower(int watts)
{
    if (watts < 1)
        throw KivoError::unsupported();
    m_value.rfPowerWatts = watts;
    publish();
    co_return;
}

RadioVFO SimulatedRadio::buildVFO(const QString &letter, qint64 frequencyHz, const QString &mode) const
{
    const VFOOffset offset = m_vfoOffsets.value(letter);
    return RadioVFO({.letter = letter,
                     .frequencyHz = frequencyHz,
                     .mode = mode,
                     .isReceive = m_value.slice == letter,
                     .isTransmit = m_value.transmitSlice == letter,
                     .ritEnabled = offset.ritEnabled,
                     .ritOffsetHz = offset.ritOffsetHz,
                     .xitEnabled = offset.xitEnabled,
                     .xitOffsetHz = offset.xitOffsetHz});
}

void SimulatedRadio::refreshVFOs()
{
    QList<RadioVFO> vfos{buildVFO(letterA, m_vfoAFrequencyHz, m_vfoAMode)};
    if (hasVFOB())
        vfos.append(buildVFO(letterB, *m_vfoBFrequencyHz, m_vfoBMode.value_or(m_vfoAMode)));
    m_value.vfos = vfos;

    // Slice "B" without VFO B has no list entry: fall back to VFO A's stored values.
    const RadioVFO *receive = m_value.slice == letterB ? (hasVFOB() ? &vfos[1] : nullptr) : &vfos[0];
    m_value.frequencyHz = receive ? receive->frequencyHz : m_vfoAFrequencyHz;
    m_value.mode = receive ? receive->mode : m_vfoAMode;

    const RadioVFO *transmit = m_value.transmitSlice == letterB ? (hasVFOB() ? &vfos[1] : nullptr) : &vfos[0];
    m_value.transmitFrequencyHz = transmit ? transmit->frequencyHz : m_vfoAFrequencyHz;

    publish();
}

} // namespace kivo
