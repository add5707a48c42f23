#include "KivoCore/radio/CATCommandProcessor.h"

#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/Text.h"

#include <QHash>

#include <limits>

namespace kivo {

namespace {
const QString errorReply = QStringLiteral("?;");
const std::optional<QString> noReply;

constexpr int frequencyDigits = 11;
// The largest frequency the fixed-width answers can carry.
constexpr qint64 maximumFrequencyHz = 99'999'999'999;
constexpr int maximumCWTextLength = 128;
constexpr int minimumCWSpeed = 5;
constexpr int maximumCWSpeed = 100;

QString reply(QLatin1StringView letters, qint64 value, int width)
{
    return letters + zeroPadded(value, width) + QLatin1Char(';');
}

QString flag(QLatin1StringView letters, bool on)
{
    return letters + (on ? QLatin1StringView("1;") : QLatin1StringView("0;"));
}

// An integer within [minimum, maximum], or nothing.
std::optional<qint64> integerIn(const QString &text, qint64 minimum, qint64 maximum)
{
    const auto value = parseStrictInteger(text);
    if (!value || *value < minimum || *value > maximum)
        return std::nullopt;
    return value;
}

bool vfoBIs(const RadioSnapshot &snapshot, bool RadioVFO::*field)
{
    const auto b = snapshot.vfo(QStringLiteral("B"));
    return b && (*b).*field;
}

// VFO B when it receives, else VFO A; nothing when that VFO is missing.
std::optional<RadioVFO> receiveVFO(const RadioSnapshot &snapshot)
{
    const bool onB = vfoBIs(snapshot, &RadioVFO::isReceive);
    return snapshot.vfo(onB ? QStringLiteral("B") : QStringLiteral("A"));
}

bool isSwitch(const QString &argument)
{
    return argument == QLatin1StringView("0") || argument == QLatin1StringView("1");
}

// Blanks are tabs and the Unicode space separators, not line breaks.
QString withoutLeadingBlanks(const QString &text)
{
    qsizetype start = 0;
    while (start < text.size()
           && (text.at(start) == QLatin1Char('\t') || text.at(start).category() == QChar::Separator_Space))
        ++start;
    return text.mid(start);
}
} // namespace

CATCommandProcessor::CATCommandProcessor(std::shared_ptr<RadioControlling> radio, bool allowTransmit)
    : m_radio(std::move(radio)), m_allowTransmit(allowTransmit)
{
}

QCoro::Task<std::optional<QString>> CATCommandProcessor::handle(QString command,
                                                                std::shared_ptr<ClientActivity> activity)
{
    if (!activity)
        activity = std::make_shared<ClientActivity>();
    const QString request = trimmed(command);
    if (request.isEmpty())
        co_return noReply;
    try {
        const RadioSnapshot snapshot = co_await m_radio->snapshot();
        const Answer result = co_await answer(request, snapshot, activity);
        co_return result;
    } catch (...) {
        // Whatever the backend reported, the client only ever sees "?;".
    }
    co_return errorReply;
}

QCoro::Task<CATCommandProcessor::Answer> CATCommandProcessor::answer(QString request, RadioSnapshot snapshot,
                                                                     std::shared_ptr<ClientActivity> activity)
{
    // A local owner keeps the backend alive across every await below.
    const auto radio = m_radio;
    const QString command = upperCased(request);
    const bool connected = snapshot.isConnected;

    if (command == QLatin1StringView("ID"))
        co_return QStringLiteral("ID019;");
    if (command == QLatin1StringView("PS"))
        co_return QStringLiteral("PS1;");
    if (command == QLatin1StringView("AI"))
        co_return reply(QLatin1StringView("AI"), m_autoInformation, 1);
    if (command == QLatin1StringView("FA")) {
        if (!connected)
            co_return errorReply;
        const auto hz = co_await radio->primaryFrequency();
        co_return hz ? reply(QLatin1StringView("FA"), *hz, frequencyDigits) : errorReply;
    }
    if (command == QLatin1StringView("FB")) {
        // B falls back to A on a radio without VFO B; both are read even
        // while disconnected.
        const auto secondary = co_await radio->secondaryFrequency();
        const auto primary = co_await radio->primaryFrequency();
        const auto hz = secondary ? secondary : primary;
        if (!connected || !hz)
            co_return errorReply;
        co_return reply(QLatin1StringView("FB"), *hz, frequencyDigits);
    }
    if (command == QLatin1StringView("FR"))
        co_return connected ? flag(QLatin1StringView("FR"), vfoBIs(snapshot, &RadioVFO::isReceive)) : errorReply;
    if (command == QLatin1StringView("FT"))
        co_return connected ? flag(QLatin1StringView("FT"), vfoBIs(snapshot, &RadioVFO::isTransmit)) : errorReply;
    if (command == QLatin1StringView("KS")) {
        const int speed = co_await radio->cwSpeed();
        co_return reply(QLatin1StringView("KS"), speed, 3);
    }
    if (command == QLatin1StringView("IF")) {
        if (!connected)
            co_return errorReply;
        co_return informationResponse(snapshot);
    }
    if (command == QLatin1StringView("MD")) {
        if (!connected)
            co_return errorReply;
        co_return reply(QLatin1StringView("MD"), kenwoodMode(snapshot.mode), 1);
    }
    if (command == QLatin1StringView("RT") || command == QLatin1StringView("XT")) {
        const auto vfo = connected ? receiveVFO(snapshot) : std::nullopt;
        if (!vfo)
            co_return errorReply;
        const bool on = command == QLatin1StringView("RT") ? vfo->ritEnabled : vfo->xitEnabled;
        co_return flag(command == QLatin1StringView("RT") ? QLatin1StringView("RT") : QLatin1StringView("XT"), on);
    }
    if (command == QLatin1StringView("PC")) {
        if (!connected || !snapshot.rfPowerWatts)
            co_return errorReply;
        co_return reply(QLatin1StringView("PC"), *snapshot.rfPowerWatts, 3);
    }
    if (command == QLatin1StringView("TX") || command == QLatin1StringView("TX0")
        || command == QLatin1StringView("TX1") || command == QLatin1StringView("TX2")) {
        if (!m_allowTransmit)
            co_return errorReply;
        const CATTransmitMode mode = command == QLatin1StringView("TX2")   ? CATTransmitMode::Tune
                                     : command == QLatin1StringView("TX1") ? CATTransmitMode::Data
                                                                           : CATTransmitMode::Microphone;
        // Noted before the call: a key still in flight when the client goes must be undone.
        activity->noteKeyed(radio->nextTransmitNumber());
        radio->clientKeying(activity);
        co_await radio->setTransmit(mode);
        co_return noReply;
    }
    if (command == QLatin1StringView("RX")) {
        // Unkeying is never refused.
        radio->clientKeying(activity);
        co_await radio->setTransmit(false);
        activity->keyedTransmitter = false;
        co_return noReply;
    }

    const Answer result = co_await answerSet(request, command, snapshot, activity);
    co_return result;
}

QCoro::Task<CATCommandProcessor::Answer> CATCommandProcessor::answerSet(QString request, QString command,
                                                                        RadioSnapshot snapshot,
                                                                        std::shared_ptr<ClientActivity> activity)
{
    const auto radio = m_radio;
    const qsizetype length = characterCount(request);
    const QString argument = request.mid(2);
    const QString prefix = command.left(2);

    BackendCall call;
    if (prefix == QLatin1StringView("AI") && length == 3)
        co_return setAutoInformation(argument) ? noReply : errorReply;
    else if (prefix == QLatin1StringView("FA") && length >= 3)
        call = setFrequency(argument);
    else if (prefix == QLatin1StringView("FB") && length >= 3)
        call = setSecondaryFrequency(argument);
    else if (prefix == QLatin1StringView("MD") && length >= 3)
        call = setMode(argument);
    else if (prefix == QLatin1StringView("KS") && length >= 3)
        call = setCWSpeed(argument);
    else if (prefix == QLatin1StringView("FR") && length == 3)
        call = setReceiveVFO(argument);
    else if (prefix == QLatin1StringView("FT") && length == 3)
        call = setTransmitVFO(argument);
    else if (prefix == QLatin1StringView("KY") && argument.isEmpty())
        co_return QStringLiteral("KY0;"); // asks for the keyer's state: never refused
    else if (prefix == QLatin1StringView("KY")) {
        call = handleCW(argument, activity);
        activity->startedCW |= call.has_value();
    }
    else if (prefix == QLatin1StringView("RT") && length == 3)
        call = setRIT(argument, snapshot);
    else if (prefix == QLatin1StringView("XT") && length == 3)
        call = setXIT(argument, snapshot);
    else if (prefix == QLatin1StringView("PC") && length == 5)
        call = setRFPower(argument);

    if (!call)
        co_return errorReply;
    co_await std::move(*call);
    co_return noReply;
}

bool CATCommandProcessor::setAutoInformation(const QString &argument)
{
    // Only remembered and echoed: nothing is ever sent unsolicited.
    const auto value = integerIn(argument, 0, 2);
    if (value)
        m_autoInformation = int(*value);
    return value.has_value();
}

CATCommandProcessor::BackendCall CATCommandProcessor::setFrequency(const QString &argument)
{
    const auto hz = integerIn(argument, 1, maximumFrequencyHz);
    if (!hz)
        return std::nullopt;
    return m_radio->setPrimaryFrequency(*hz);
}

CATCommandProcessor::BackendCall CATCommandProcessor::setSecondaryFrequency(const QString &argument)
{
    const auto hz = argument.size() == frequencyDigits ? integerIn(argument, 1, maximumFrequencyHz) : std::nullopt;
    if (!hz)
        return std::nullopt;
    return m_radio->setSecondaryFrequency(*hz);
}

CATCommandProcessor::BackendCall CATCommandProcessor::setMode(const QString &argument)
{
    const auto mode = flexMode(argument);
    if (!mode)
        return std::nullopt;
    return m_radio->setMode(*mode);
}

CATCommandProcessor::BackendCall CATCommandProcessor::setCWSpeed(const QString &argument)
{
    const auto speed = argument.size() == 3 ? integerIn(argument, minimumCWSpeed, maximumCWSpeed) : std::nullopt;
    if (!speed)
        return std::nullopt;
    return m_radio->setCWSpeed(int(*speed));
}

CATCommandProcessor::BackendCall CATCommandProcessor::setReceiveVFO(const QString &argument)
{
    const auto vfo = integerIn(argument, 0, 1);
    if (!vfo)
        return std::nullopt;
    return m_radio->setReceiveVFO(int(*vfo));
}

CATCommandProcessor::BackendCall CATCommandProcessor::setTransmitVFO(const QString &argument)
{
    const auto vfo = integerIn(argument, 0, 1);
    if (!vfo)
        return std::nullopt;
    return m_radio->setSplitTransmit(*vfo == 1);
}

CATCommandProcessor::BackendCall CATCommandProcessor::handleCW(const QString &argument,
                                                              const std::shared_ptr<ClientActivity> &activity)
{
    // The blank between "KY" and the text counts towards the limit.
    if (!m_allowTransmit || characterCount(argument) > maximumCWTextLength)
        return std::nullopt;
    m_radio->clientKeying(activity);
    return m_radio->sendCW(withoutLeadingBlanks(argument));
}

CATCommandProcessor::BackendCall CATCommandProcessor::setRIT(const QString &argument, const RadioSnapshot &snapshot)
{
    const auto vfo = receiveVFO(snapshot);
    if (!vfo || !isSwitch(argument))
        return std::nullopt;
    // Only switches RIT: the offset stays what the radio has.
    return m_radio->setRIT(argument == QLatin1StringView("1"), vfo->ritOffsetHz, vfo->letter);
}

CATCommandProcessor::BackendCall CATCommandProcessor::setXIT(const QString &argument, const RadioSnapshot &snapshot)
{
    const auto vfo = receiveVFO(snapshot);
    if (!m_allowTransmit || !vfo || !isSwitch(argument))
        return std::nullopt;
    return m_radio->setXIT(argument == QLatin1StringView("1"), vfo->xitOffsetHz, vfo->letter);
}

CATCommandProcessor::BackendCall CATCommandProcessor::setRFPower(const QString &argument)
{
    const auto watts = integerIn(argument, 1, std::numeric_limits<int>::max());
    if (!m_allowTransmit || !watts)
        return std::nullopt;
    return m_radio->setRFPower(int(*watts));
}

int CATCommandProcessor::kenwoodMode(const QString &mode)
{
    static const QHash<QString, int> digits{
        {QStringLiteral("LSB"), 1},    {QStringLiteral("USB"), 2},    {QStringLiteral("CW"), 3},
        {QStringLiteral("FM"), 4},     {QStringLiteral("NFM"), 4},    {QStringLiteral("DFM"), 4},
        {QStringLiteral("PKTFM"), 4},  {QStringLiteral("AM"), 5},     {QStringLiteral("SAM"), 5},
        {QStringLiteral("DIGL"), 6},   {QStringLiteral("PKTLSB"), 6}, {QStringLiteral("RTTY"), 6},
        {QStringLiteral("RTTYR"), 6},  {QStringLiteral("CWR"), 7},    {QStringLiteral("DIGU"), 9},
        {QStringLiteral("PKTUSB"), 9},
    };
    return digits.value(upperCased(mode), 2);
}

std::optional<QString> CATCommandProcessor::flexMode(const QString &kenwoodCode)
{
    static const QHash<QString, QString> names{
        {QStringLiteral("1"), QStringLiteral("LSB")}, {QStringLiteral("2"), QStringLiteral("USB")},
        {QStringLiteral("3"), QStringLiteral("CW")},  {QStringLiteral("4"), QStringLiteral("FM")},
        {QStringLiteral("5"), QStringLiteral("AM")},  {QStringLiteral("6"), QStringLiteral("RTTY")},
        {QStringLiteral("7"), QStringLiteral("CWR")}, {QStringLiteral("9"), QStringLiteral("DIGU")},
    };
    const auto found = names.constFind(kenwoodCode);
    if (found == names.constEnd())
        return std::nullopt;
    return *found;
}

QString CATCommandProcessor::informationResponse(const RadioSnapshot &snapshot)
{
    const bool receiveOnB = vfoBIs(snapshot, &RadioVFO::isReceive);
    const bool transmitOnB = vfoBIs(snapshot, &RadioVFO::isTransmit);
    const bool split = receiveOnB != transmitOnB;
    // Keyed in split, a Kenwood describes the VFO that transmits, and Hamlib
    // reads the VFO field that way: describing the receiver would make a
    // logger's retune move the transmitter.
    const bool describesTransmit = split && snapshot.isTransmitting;
    qint64 frequencyHz = snapshot.frequencyHz;
    QString mode = snapshot.mode;
    if (describesTransmit) {
        const auto transmitter = snapshot.vfo(transmitOnB ? QStringLiteral("B") : QStringLiteral("A"));
        frequencyHz = transmitter ? transmitter->frequencyHz : snapshot.transmitFrequencyHz;
        if (transmitter)
            mode = transmitter->mode;
    }
    const bool describesB = describesTransmit ? transmitOnB : receiveOnB;

    // Kenwood's 38-character layout, which Hamlib's Kenwood backends read:
    // frequency, RIT/XIT fields left blank and zero, TX flag, mode, the VFO
    // at position 30, scan, the split flag at position 32, tone and shift
    // fields zero.
    return QLatin1StringView("IF") + zeroPadded(frequencyHz, frequencyDigits)
           + QLatin1StringView("     +000000000") + (snapshot.isTransmitting ? QLatin1Char('1') : QLatin1Char('0'))
           + zeroPadded(kenwoodMode(mode), 1) + (describesB ? QLatin1Char('1') : QLatin1Char('0')) + QLatin1Char('0')
           + (split ? QLatin1Char('1') : QLatin1Char('0')) + QLatin1StringView("0000;");
}

} // namespace kivo
