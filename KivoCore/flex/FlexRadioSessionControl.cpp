// The radio-control operations: checks first, then one FLEX command each.
// Nothing here changes the snapshot; the radio's status lines do.

#include "KivoCore/flex/FlexRadioSession.h"

#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/Text.h"

#include <QPointer>

namespace kivo {

namespace {
QString frequencyText(qint64 hz)
{
    return formatFixed(double(hz) / 1e6, 6);
}

void requireFrequency(qint64 hz)
{
    if (hz < 1)
        throw KivoError::invalidFrequency();
}


std::optional<qint64> sliceHertz(const std::optional<FlexRadioSession::SliceState> &slice)
{
    if (!slice || !slice->frequencyMHz)
        return std::nullopt;
    return roundedToInt64(*slice->frequencyMHz * 1e6);
}

// The radio reads a blank as the end of a value; it shows DEL as a blank.
QString blanksAsDel(QString text)
{
    return text.replace(QLatin1Char(' '), QChar(0x7F));
}

bool isModeName(const QString &mode)
{
    if (mode.isEmpty())
        return false;
    const auto scalars = mode.toUcs4();
    return std::all_of(scalars.cbegin(), scalars.cend(),
                       [](char32_t c) { return QChar::isLetterOrNumber(c) || c == U'-'; });
}
} // namespace

QString FlexRadioSession::requireStationSlice(const QString &letter, const KivoError &missing) const
{
    const auto slice = stationSlice(letter);
    if (!slice)
        throw missing;
    return QString::number(slice->id);
}

QString FlexRadioSession::requireSelectedSlice() const
{
    if (!m_selectedSliceID)
        throw KivoError::notConnected();
    return QString::number(*m_selectedSliceID);
}

void FlexRadioSession::requireReadyToKey() const
{
    // Refused before anything is written.
    if (state() != RadioConnectionState::Ready || !m_value.isConnected || !m_selectedSliceID)
        throw KivoError::refusal(KivoError::notConnected());
}

QCoro::Task<RadioSnapshot> FlexRadioSession::snapshot()
{
    return snapshotCopy(m_value);
}

QCoro::Task<std::optional<qint64>> FlexRadioSession::primaryFrequency()
{
    co_return sliceHertz(stationSlice(QStringLiteral("A")));
}

QCoro::Task<void> FlexRadioSession::tune(QString slice, qint64 hz)
{
    QPointer<FlexRadioSession> self(this);
    const qint64 attempt = generation();
    co_await sendCommand(QStringLiteral("slice t %1 %2").arg(slice, frequencyText(hz)), m_timing.commandTimeout);
    // The radio tells every client of a tune except the one that asked for it.
    const int id = slice.toInt();
    if (!self || !isCurrent(attempt) || !m_slices.contains(id))
        co_return;
    m_slices[id].frequencyMHz = double(hz) / 1e6;
    selectBestSlice();
}

QCoro::Task<void> FlexRadioSession::setPrimaryFrequency(qint64 hz)
{
    requireFrequency(hz);
    co_await tune(requireStationSlice(QStringLiteral("A"), KivoError::notConnected()), hz);
}

QCoro::Task<void> FlexRadioSession::setFrequency(qint64 hz)
{
    requireFrequency(hz);
    co_await tune(requireSelectedSlice(), hz);
}

QCoro::Task<void> FlexRadioSession::setMode(QString mode)
{
    const QString name = upperCased(trimmed(mode));
    if (!isModeName(name))
        throw KivoError::invalidMode();
    const QString slice = requireSelectedSlice();
    co_await sendCommand(QStringLiteral("slice s %1 mode=%2").arg(slice, name), m_timing.commandTimeout);
}

std::chrono::milliseconds FlexRadioSession::keyingTimeout() const
{
    return isStopping() ? m_timing.closingCommandTimeout : m_timing.commandTimeout;
}

// "xmit 0" releases the transmitter whatever became of the tune: a refused
// tune must not leave it keyed. The tune's failure is reported afterwards.
QCoro::Task<void> FlexRadioSession::transmit(bool on)
{
    QPointer<FlexRadioSession> self(this);
    const qint64 number = currentWrite();
    if (!m_transportReady)
        throw KivoError::refusal(KivoError::notConnected());
    if (on) {
        requireReadyToKey();
        co_await sendCommand(QStringLiteral("xmit 1"), m_timing.commandTimeout);
        co_return;
    }
    std::exception_ptr tuneFailure;
    try {
        co_await sendCommand(QStringLiteral("transmit tune 0"), keyingTimeout());
    } catch (...) {
        tuneFailure = std::current_exception();
    }
    if (!self)
        throw KivoError::notConnected();
    // The operator may have keyed while the tune was answered.
    if (unkeyHeldBack())
        throw KivoError::refusal(QStringLiteral("The radio reports the operator's own transmission."));
    co_await sendCommand(QStringLiteral("xmit 0"), keyingTimeout());
    if (!self)
        throw KivoError::notConnected();
    if (tuneFailure) {
        unkeyConfirmed(number);
        std::rethrow_exception(tuneFailure);
    }
}

QCoro::Task<std::optional<qint64>> FlexRadioSession::secondaryFrequency()
{
    co_return sliceHertz(stationSlice(QStringLiteral("B")));
}

QCoro::Task<void> FlexRadioSession::setSecondaryFrequency(qint64 hz)
{
    requireFrequency(hz);
    co_await tune(requireStationSlice(QStringLiteral("B"), KivoError::unsupported()), hz);
}

QCoro::Task<void> FlexRadioSession::setSplitTransmit(bool enabled)
{
    const QString slice =
        requireStationSlice(enabled ? QStringLiteral("B") : QStringLiteral("A"), KivoError::unsupported());
    co_await sendCommand(QStringLiteral("slice s %1 tx=1").arg(slice), m_timing.commandTimeout);
}

QCoro::Task<void> FlexRadioSession::setReceiveVFO(int vfo)
{
    if (vfo != 0 && vfo != 1)
        throw KivoError::unsupported();
    const QString slice =
        requireStationSlice(vfo == 1 ? QStringLiteral("B") : QStringLiteral("A"), KivoError::unsupported());
    co_await sendCommand(QStringLiteral("slice s %1 active=1").arg(slice), m_timing.commandTimeout);
}

QCoro::Task<int> FlexRadioSession::cwSpeed()
{
    co_return m_wordsPerMinute;
}

QCoro::Task<void> FlexRadioSession::setCWSpeed(int wordsPerMinute)
{
    QPointer<FlexRadioSession> self(this);
    if (wordsPerMinute < 5 || wordsPerMinute > 100)
        throw KivoError::server(QStringLiteral("CW speed must be 5 through 100 WPM."));
    co_await sendCommand(QStringLiteral("cw wpm %1").arg(wordsPerMinute), m_timing.commandTimeout);
    if (self)
        m_wordsPerMinute = wordsPerMinute;
}

QCoro::Task<void> FlexRadioSession::queueCW(QString text)
{
    // One character per scalar: line breaks, other controls, anything beyond
    // ASCII and the field separator "|" all become blanks. A double quote
    // would end the quoted text early, so it is left out.
    QString mapped;
    const auto scalars = text.toUcs4();
    mapped.reserve(scalars.size());
    for (char32_t c : scalars) {
        if (c != U'"')
            mapped.append(c >= 0x20 && c <= 0x7E && c != U'|' ? QChar(char16_t(c)) : QChar(u' '));
    }
    if (trimmed(mapped).isEmpty() || mapped.size() > 128)
        throw KivoError::refusal(QStringLiteral("CW text must contain 1 through 128 printable characters."));
    // The radio reads a blank as the end of the text; quoted, DEL stands for one.
    co_await sendCommand(QStringLiteral("cwx send \"%1\"").arg(blanksAsDel(mapped)), m_timing.commandTimeout);
}

QCoro::Task<void> FlexRadioSession::clearKeyer()
{
    co_await sendCommand(QStringLiteral("cwx clear"), keyingTimeout());
}

QCoro::Task<void> FlexRadioSession::transmit(CATTransmitMode mode)
{
    requireReadyToKey();
    if (mode == CATTransmitMode::Tune)
        co_await sendCommand(QStringLiteral("transmit tune 1"), m_timing.commandTimeout);
    else
        co_await transmit(true);
}

QCoro::Task<void> FlexRadioSession::addSpot(FlexSpot spot)
{
    const QStringList parts{
        QStringLiteral("spot add"),
        QStringLiteral("rx_freq=") + frequencyText(spot.frequencyHz()),
        QStringLiteral("callsign=") + blanksAsDel(spot.callsign()),
        QStringLiteral("mode=") + blanksAsDel(spot.mode()),
        QStringLiteral("source=") + blanksAsDel(spot.source()),
        QStringLiteral("spotter_callsign=") + blanksAsDel(spot.spotter()),
        QStringLiteral("timestamp=") + QString::number(spot.timestamp()),
        QStringLiteral("lifetime_seconds=") + QString::number(spot.lifetimeSeconds()),
        QStringLiteral("priority=") + QString::number(spot.priority()),
        QStringLiteral("comment=") + blanksAsDel(spot.comment()),
        QStringLiteral("color=") + spot.colorHex(),
    };
    co_await sendCommand(parts.join(QLatin1Char(' ')), m_timing.commandTimeout);
}

} // namespace kivo
