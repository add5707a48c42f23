// Status lines: which station the operator uses, which of its slices the
// bridge follows, and the snapshot built from them.

#include "KivoCore/flex/FlexRadioSession.h"

#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/Text.h"

#include <algorithm>

namespace kivo {

namespace {
constexpr QChar del(0x7F);

bool flagValue(const QString &value)
{
    return value == QLatin1String("1") || upperCased(value) == QLatin1String("T");
}

// SmartSDR writes blanks in names as "_" or DEL.
QString stationDisplayName(const QString &name)
{
    QString text = name;
    text.replace(QLatin1Char('_'), QLatin1Char(' ')).replace(del, QLatin1Char(' '));
    return trimmed(text);
}

QString stationKey(const QString &name)
{
    return stationDisplayName(name).toLower();
}

// Only values that convert to whole hertz are taken.
std::optional<double> frequencyValue(const QHash<QString, QString> &properties, const QString &key)
{
    const auto it = properties.constFind(key);
    if (it == properties.constEnd())
        return std::nullopt;
    const auto mhz = parseDecimal(*it);
    if (!mhz || !roundedToInt64(*mhz * 1e6))
        return std::nullopt;
    return mhz;
}

qint64 hertz(double mhz)
{
    return roundedToInt64(mhz * 1e6).value_or(0);
}

std::optional<QString> valueOf(const QHash<QString, QString> &properties, const QString &key)
{
    const auto it = properties.constFind(key);
    if (it == properties.constEnd())
        return std::nullopt;
    return *it;
}
} // namespace

std::optional<FlexStatusLine> parseFlexStatusLine(QStringView line)
{
    if (!line.startsWith(QLatin1Char('S')))
        return std::nullopt;
    const qsizetype bar = line.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return std::nullopt;
    const auto tokens = line.sliced(bar + 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (tokens.isEmpty())
        return std::nullopt;
    FlexStatusLine status;
    status.object = tokens[0].toString();
    qsizetype first = 1;
    if (tokens.size() > 1 && !tokens[1].contains(QLatin1Char('='))) {
        status.identifier = tokens[1].toString();
        first = 2;
    }
    for (qsizetype i = first; i < tokens.size(); ++i) {
        const QStringView token = tokens[i];
        const qsizetype equals = token.indexOf(QLatin1Char('='));
        if (equals < 0)
            status.words.append(token.toString());
        if (equals <= 0 || equals == token.size() - 1)
            continue;
        status.properties.insert(token.first(equals).toString(), token.sliced(equals + 1).toString());
    }
    return status;
}

std::optional<QString> FlexRadioSession::normalizedHandle(const std::optional<QString> &handle)
{
    if (!handle)
        return std::nullopt;
    QString text = trimmed(*handle).toLower();
    if (text.isEmpty())
        return std::nullopt;
    if (text.startsWith(QLatin1String("0x")))
        text.remove(0, 2);
    qsizetype zeros = 0;
    while (zeros < text.size() && text.at(zeros) == QLatin1Char('0'))
        ++zeros;
    text.remove(0, zeros);
    return text.isEmpty() ? QStringLiteral("0") : text;
}

void FlexRadioSession::applyStatus(const QString &line)
{
    const auto status = parseFlexStatusLine(line);
    if (!status)
        return;
    const QString &object = status->object;
    if (object == QLatin1String("client") || object == QLatin1String("gui_client")) {
        // A radio tells of a station's going as "disconnected", older
        // firmware with a "removed" key.
        QHash<QString, QString> properties = status->properties;
        if (status->words.contains(QLatin1String("disconnected")))
            properties.insert(QStringLiteral("removed"), QStringLiteral("1"));
        applyClient(status->identifier, properties);
    } else if (object == QLatin1String("slice")) {
        applySlice(status->identifier, status->properties);
    } else if (object == QLatin1String("interlock")) {
        if (const auto reading = readFlexInterlock(status->properties))
            applyInterlock(*reading);
    } else if (object == QLatin1String("cwx")) {
        const auto wpm = parseStrictInteger(status->properties.value(QStringLiteral("wpm")));
        if (wpm && *wpm >= 5 && *wpm <= 100)
            m_wordsPerMinute = int(*wpm);
    }
}

std::optional<FlexInterlockReading> readFlexInterlock(const QHash<QString, QString> &properties)
{
    const auto state = valueOf(properties, QStringLiteral("state"));
    if (!state)
        return std::nullopt;
    static const QSet<QString> keyed{QStringLiteral("PTT_REQUESTED"), QStringLiteral("TRANSMITTING")};
    // Only these say the transmitter let go. A fault, a time-out or a stuck
    // input may leave our transmit request standing, so for the ledger it
    // is a key of no named source: "xmit 0" still goes out for a key of ours.
    static const QSet<QString> released{QStringLiteral("UNKEY_REQUESTED"), QStringLiteral("READY"),
                                        QStringLiteral("RECEIVE"), QStringLiteral("NOT_READY")};
    const QString name = upperCased(*state);
    FlexInterlockReading reading{.transmitting = keyed.contains(name), .keyed = true};
    if (!reading.transmitting && !released.contains(name))
        return reading;
    reading.keyed = reading.transmitting;
    // A key made through the API reads "SW" (a tune "TUNE"); the microphone,
    // the accessory and RCA jacks, VOX and whatever else the radio names are
    // the operator's own.
    const QString source = upperCased(trimmed(valueOf(properties, QStringLiteral("source")).value_or(QString())));
    if (!source.isEmpty())
        reading.source = source == QLatin1String("SW") || source == QLatin1String("TUNE")
                             ? TransmitterLedger::Source::Software
                             : TransmitterLedger::Source::Hardware;
    return reading;
}

void FlexRadioSession::applyInterlock(const FlexInterlockReading &reading)
{
    m_value.isTransmitting = reading.transmitting;
    const KeySource from = reading.source == TransmitterLedger::Source::Hardware   ? KeySource::Hardware
                         : reading.source == TransmitterLedger::Source::Software ? KeySource::Software
                                                                                 : KeySource::Unknown;
    // Sent only on change and behind the replies: it follows none of our writes.
    transmitterReported(reading.keyed, from, 0);
    publish();
}

void FlexRadioSession::applyClient(const std::optional<QString> &identifier, const QHash<QString, QString> &properties)
{
    const auto handle = normalizedHandle(identifier ? identifier : valueOf(properties, QStringLiteral("handle")));
    if (handle && !m_reportedClientHandles.contains(*handle)) {
        m_reportedClientHandles.insert(*handle);
        const auto station = valueOf(properties, QStringLiteral("station"));
        const QString name = station ? stationDisplayName(*station) : QStringLiteral("unnamed");
        const QString program = valueOf(properties, QStringLiteral("program")).value_or(QStringLiteral("unknown program"));
        report(RadioConnectionState::Connecting, QStringLiteral("Found station %1 (%2)").arg(name, program));
    }

    if (properties.contains(QStringLiteral("removed"))) {
        if (handle != m_followedClientHandle)
            return;
        m_followedClientHandle.reset();
        m_followedClientID.reset();
        m_selectedSliceID.reset();
        m_value.isConnected = false;
        publish();
        m_awaitingStation = state() == RadioConnectionState::Ready;
        setState(RadioConnectionState::Connecting, QStringLiteral("Waiting for station ") + m_stationName);
        return;
    }

    if (stationKey(properties.value(QStringLiteral("station"))) != stationKey(m_stationName))
        return;
    const auto clientID = valueOf(properties, QStringLiteral("client_id"));
    const bool bindNeeded = clientID && m_followedClientID != clientID;
    m_followedClientHandle = handle;
    if (clientID)
        m_followedClientID = clientID;
    if (bindNeeded) {
        // Following goes on from the status lines whatever the radio answers.
        const ErrorReporter ignore = [](const QString &) {};
        launch(sendCommand(QStringLiteral("client bind client_id=") + *m_followedClientID, m_timing.commandTimeout),
               ignore);
    }
    selectBestSlice();
}

void FlexRadioSession::applySlice(const std::optional<QString> &identifier, const QHash<QString, QString> &properties)
{
    const auto number = identifier ? parseStrictInteger(*identifier) : std::nullopt;
    if (!number || *number < std::numeric_limits<int>::min() || *number > std::numeric_limits<int>::max())
        return;
    const int id = int(*number);

    // A slice the radio no longer uses is gone as much as a removed one.
    const auto inUse = valueOf(properties, QStringLiteral("in_use"));
    if (properties.contains(QStringLiteral("removed")) || (inUse && !flagValue(*inUse))) {
        m_slices.remove(id);
        if (m_selectedSliceID == id)
            m_selectedSliceID.reset();
        selectBestSlice();
        return;
    }

    SliceState fresh;
    fresh.id = id;
    SliceState slice = m_slices.value(id, fresh);
    if (const auto mhz = frequencyValue(properties, QStringLiteral("RF_frequency")))
        slice.frequencyMHz = mhz;
    else if (const auto mhz = frequencyValue(properties, QStringLiteral("freq")))
        slice.frequencyMHz = mhz;
    if (const auto mode = valueOf(properties, QStringLiteral("mode")))
        slice.mode = upperCased(*mode);
    if (const auto handle = valueOf(properties, QStringLiteral("client_handle")))
        slice.clientHandle = normalizedHandle(handle);
    if (const auto letter = valueOf(properties, QStringLiteral("index_letter")))
        slice.indexLetter = upperCased(*letter);
    if (const auto active = valueOf(properties, QStringLiteral("active")))
        slice.active = flagValue(*active);
    if (const auto transmit = valueOf(properties, QStringLiteral("tx")))
        slice.transmit = flagValue(*transmit);
    if (const auto inUse = valueOf(properties, QStringLiteral("in_use")))
        slice.inUse = flagValue(*inUse);
    m_slices.insert(id, slice);

    if (!m_reportedSliceIDs.contains(id)) {
        m_reportedSliceIDs.insert(id);
        report(RadioConnectionState::Ready, vfoSentence(slice));
    }
    selectBestSlice();
}

void FlexRadioSession::selectBestSlice()
{
    if (!m_followedClientHandle)
        return;
    QList<SliceState> candidates;
    for (const SliceState &slice : std::as_const(m_slices)) {
        if (slice.clientHandle == m_followedClientHandle && slice.inUse && slice.frequencyMHz)
            candidates.append(slice);
    }
    if (candidates.isEmpty()) {
        m_selectedSliceID.reset();
        if (m_value.isConnected) {
            m_value.isConnected = false;
            publish();
        }
        return;
    }

    const QString preferred = m_sliceLetter;
    const auto before = [&preferred](const SliceState &a, const SliceState &b) {
        if (a.active != b.active)
            return a.active;
        const bool aPreferred = a.indexLetter == preferred;
        const bool bPreferred = b.indexLetter == preferred;
        if (aPreferred != bPreferred)
            return aPreferred;
        if (a.transmit != b.transmit)
            return a.transmit;
        return a.id < b.id;
    };
    std::sort(candidates.begin(), candidates.end(), before);
    const SliceState best = candidates.first();
    m_selectedSliceID = best.id;
    m_value.frequencyHz = hertz(*best.frequencyMHz);
    if (best.mode)
        m_value.mode = *best.mode;
    m_value.slice = best.indexLetter.value_or(m_sliceLetter);

    // The transmit slice: the first by letter (no letter last), then by id.
    const auto letterKey = [](const SliceState &slice) { return slice.indexLetter.value_or(QStringLiteral("~")); };
    std::optional<SliceState> transmitter;
    for (const SliceState &slice : std::as_const(candidates)) {
        if (!slice.transmit)
            continue;
        if (!transmitter || letterKey(slice) < letterKey(*transmitter)
            || (letterKey(slice) == letterKey(*transmitter) && slice.id < transmitter->id))
            transmitter = slice;
    }
    const SliceState transmit = transmitter.value_or(best);
    m_value.transmitSlice = transmit.indexLetter.value_or(m_value.slice);
    m_value.transmitFrequencyHz = hertz(*transmit.frequencyMHz);

    QList<RadioVFO> vfos;
    for (const SliceState &slice : std::as_const(candidates)) {
        if (!slice.indexLetter)
            continue;
        vfos.append(RadioVFO({.letter = *slice.indexLetter,
                              .frequencyHz = hertz(*slice.frequencyMHz),
                              .mode = slice.mode.value_or(QStringLiteral("?")),
                              .isReceive = slice.id == best.id,
                              .isTransmit = slice.id == transmit.id}));
    }
    std::stable_sort(vfos.begin(), vfos.end(),
                     [](const RadioVFO &a, const RadioVFO &b) { return a.letter < b.letter; });
    m_value.vfos = vfos;
    m_value.station = m_stationName;
    m_value.isConnected = true;
    followingSlice();
    publish();
    if (m_awaitingStation) {
        m_awaitingStation = false;
        setState(RadioConnectionState::Ready, readySentence());
        becameReady();
    }
}

QString FlexRadioSession::vfoSentence(const SliceState &slice)
{
    const QString frequency = slice.frequencyMHz ? formatFixed(*slice.frequencyMHz, 6) + QStringLiteral(" MHz")
                                                 : QStringLiteral("unknown frequency");
    QStringList words;
    if (slice.active)
        words << QStringLiteral("RX");
    if (slice.transmit)
        words << QStringLiteral("TX");
    const QString flags = words.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(words.join(QLatin1Char('+')));
    return QStringLiteral("Found VFO %1 at %2%3").arg(slice.indexLetter.value_or(QStringLiteral("?")), frequency, flags);
}

QString FlexRadioSession::readySentence() const
{
    if (m_selectedSliceID && m_slices.contains(*m_selectedSliceID))
        return vfoSentence(m_slices.value(*m_selectedSliceID));
    return QStringLiteral("Connected; waiting for %1 slice %2").arg(m_stationName, m_sliceLetter);
}

std::optional<FlexRadioSession::SliceState> FlexRadioSession::stationSlice(const QString &letter) const
{
    if (!m_followedClientHandle)
        return std::nullopt;
    for (const SliceState &slice : m_slices) {
        if (slice.clientHandle == m_followedClientHandle && slice.indexLetter == letter && slice.inUse)
            return slice;
    }
    return std::nullopt;
}

} // namespace kivo
