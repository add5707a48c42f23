#include "KivoCore/flex/LegacyKIVOClient.h"

#include "KivoCore/support/LogCategories.h"
#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/ReconnectBackoff.h"
#include "KivoCore/support/Text.h"

#include <QStringDecoder>
#include <algorithm>
#include <limits>

namespace kivo {

namespace {
constexpr qint64 kReadChunkBytes = 8192;
const QByteArray kPollBatch = QByteArrayLiteral("KS;FB;FA;FR;MD;FT;IF;");
// Clears whatever the companion's keyer still holds.
const QByteArray kBlankKeyerCommand = QByteArrayLiteral("KY") + QByteArray(24, ' ') + ';';
const QByteArray kReceiveCommand = QByteArrayLiteral("RX;");
const QByteArray kInformationRequest = QByteArrayLiteral("IF;");
const QString kPollingFailed = QStringLiteral("KIVO polling failed");
const QString kNoAnswer = QStringLiteral("KIVO stopped answering");

// The commands written, each a name and whether it reads: a bare name does.
// CW text is a parameter ("KY CQ IF;" asks nothing); "TX;" and "RX;" set.
QList<std::pair<QByteArray, bool>> commandsOf(const QByteArray &commands)
{
    QList<std::pair<QByteArray, bool>> result;
    for (const QByteArray &command : commands.split(';')) {
        if (!command.isEmpty())
            result.append({command.left(2), command.size() == 2 && command != "TX" && command != "RX"});
    }
    return result;
}

std::optional<int> kenwoodMode(const QString &name)
{
    const QString mode = upperCased(name);
    if (mode == u"LSB")
        return 1;
    if (mode == u"USB")
        return 2;
    if (mode == u"CW")
        return 3;
    if (mode == u"FM" || mode == u"NFM")
        return 4;
    if (mode == u"AM" || mode == u"SAM")
        return 5;
    if (mode == u"DIGL" || mode == u"RTTY" || mode == u"RTTYR")
        return 6;
    if (mode == u"CWR")
        return 7;
    if (mode == u"DIGU" || mode == u"PKTUSB")
        return 9;
    return std::nullopt;
}

std::optional<QString> flexMode(const QString &code)
{
    static const QHash<QString, QString> modes{
        {QStringLiteral("1"), QStringLiteral("LSB")}, {QStringLiteral("2"), QStringLiteral("USB")},
        {QStringLiteral("3"), QStringLiteral("CW")},  {QStringLiteral("4"), QStringLiteral("FM")},
        {QStringLiteral("5"), QStringLiteral("AM")},  {QStringLiteral("6"), QStringLiteral("DIGL")},
        {QStringLiteral("7"), QStringLiteral("CWR")}, {QStringLiteral("9"), QStringLiteral("DIGU")},
    };
    const auto it = modes.constFind(code);
    if (it == modes.constEnd())
        return std::nullopt;
    return *it;
}

QByteArray frequencyCommand(int vfo, qint64 hz)
{
    return (vfo == 1 ? QByteArrayLiteral("FB") : QByteArrayLiteral("FA")) + zeroPadded(hz, 11).toLatin1() + ';';
}
} // namespace

LegacyKIVOClient::LegacyKIVOClient(Options options, StateHandler onState, SnapshotHandler onSnapshot,
                                   QObject *parent)
    : RadioBackendBase({.onState = std::move(onState),
                        .onSnapshot = std::move(onSnapshot),
                        .backoffSecond = options.timing.backoffSecond,
                        .random = {}},
                       parent),
      m_host(std::move(options.host)),
      m_port(options.port),
      m_timing(options.timing),
      m_refusal(std::move(options.refusal)),
      m_value({.frequencyHz = 14074000, .mode = QStringLiteral("DIGU"), .slice = QStringLiteral("A"), .station = QStringLiteral("KIVO SmartLink")})
{
    setObjectName(QString::fromLatin1(lcLegacyKivo().categoryName()));
    setTickInterval(options.timing.pollInterval);
    m_clock.start();
    m_silence.setSingleShot(true);
    // Never before the stated time (a coarse timer may fire 5% early).
    m_silence.setTimerType(Qt::PreciseTimer);
    connect(&m_silence, &QTimer::timeout, this, [this] { linkLost(generation(), kNoAnswer); });
}

LegacyKIVOClient::~LegacyKIVOClient()
{
    // Operations still waiting for their bytes end with an error instead of
    // waiting forever; none of them touches this object afterwards.
    closeSocket();
}

void LegacyKIVOClient::openTransport(qint64 attempt)
{
    m_inboundBuffer.clear();
    setState(RadioConnectionState::Connecting,
             QStringLiteral("Connecting to KIVO at %1:%2").arg(m_host, QString::number(m_port)));
    // The report's receiver may have stopped or restarted the client.
    if (!isCurrent(attempt))
        return;
    if (m_port == 0) {
        connectionRefused(attempt, QStringLiteral("Invalid KIVO port"));
        return;
    }

    auto *socket = new QTcpSocket(this);
    m_socket = socket;
    m_socketConnected = false;
    m_bytesQueued = 0;
    m_bytesWritten = 0;
    connect(socket, &QTcpSocket::connected, this, [this, attempt] { handleConnected(attempt); });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, attempt](QAbstractSocket::SocketError error) { handleSocketError(attempt, error); });
    connect(socket, &QTcpSocket::disconnected, this, [this, attempt] { handleDisconnected(attempt); });
    connect(socket, &QTcpSocket::readyRead, this, [this, attempt] { receive(attempt); });
    connect(socket, &QTcpSocket::bytesWritten, this,
            [this, attempt](qint64 bytes) { handleBytesWritten(attempt, bytes); });
    socket->connectToHost(m_host, m_port);
}

void LegacyKIVOClient::handleConnected(qint64 generation)
{
    if (!isCurrent(generation) || !m_socket)
        return;
    if (const QString refusal = m_refusal ? m_refusal(m_socket->peerAddress(), m_socket->peerPort()) : QString();
        !refusal.isEmpty()) {
        connectionRefused(generation, refusal);
        return;
    }
    m_socketConnected = true;
    clearFailures();
    sessionReady(generation, QStringLiteral("Remote Flex connected through supervised KIVO"));
    if (!isCurrent(generation) || !m_socket)
        return;
    receive(generation);
    launch(firstPoll(generation));
}

QCoro::Task<void> LegacyKIVOClient::firstPoll(qint64 generation)
{
    // The base's ticks follow one interval later; the companion is asked at once.
    const AttemptGuard current = guard(generation);
    try {
        co_await tick();
    } catch (...) {
        if (current && shouldRun())
            connectionFailed(generation, kPollingFailed);
    }
}

void LegacyKIVOClient::handleSocketError(qint64 generation, QAbstractSocket::SocketError error)
{
    if (!isCurrent(generation) || !m_socket)
        return;
    const QString description = m_socket->errorString();
    if (!m_socketConnected) {
        linkLost(generation, (isWaitingSocketError(error) ? QStringLiteral("KIVO waiting: ")
                                                          : QStringLiteral("KIVO connection failed: "))
                                 + description);
    } else if (error == QAbstractSocket::RemoteHostClosedError) {
        // Answers that came with the end of the stream still count.
        receive(generation);
        linkLost(generation, QStringLiteral("KIVO closed the connection"));
    } else {
        linkLost(generation, QStringLiteral("KIVO receive failed: ") + description);
    }
}

void LegacyKIVOClient::handleDisconnected(qint64 generation)
{
    if (!isCurrent(generation) || !m_socket)
        return;
    if (m_socketConnected) {
        receive(generation);
        linkLost(generation, QStringLiteral("KIVO closed the connection"));
    } else {
        linkLost(generation, QStringLiteral("KIVO connection closed"));
    }
}

void LegacyKIVOClient::linkLost(qint64 generation, const QString &reason)
{
    if (!isCurrent(generation))
        return;
    if (shouldRun())
        connectionFailed(generation, reason);
    else
        closeSocket();
}

void LegacyKIVOClient::handleBytesWritten(qint64 generation, qint64 bytes)
{
    if (!isCurrent(generation))
        return;
    m_bytesWritten += bytes;
    while (!m_pendingWrites.isEmpty() && m_pendingWrites.constFirst().endOffset <= m_bytesWritten)
        m_pendingWrites.takeFirst().done.resolve();
}

void LegacyKIVOClient::receive(qint64 generation)
{
    // Reads in bounded chunks so the buffer limit applies to each one.
    bool heard = false;
    while (isCurrent(generation) && m_socket && m_socket->bytesAvailable() > 0) {
        consume(m_socket->read(kReadChunkBytes), generation);
        heard = true;
    }
    if (heard && isCurrent(generation))
        watchSilence(true);
}

void LegacyKIVOClient::consume(const QByteArray &bytes, qint64 generation)
{
    if (!isCurrent(generation))
        return;
    m_inboundBuffer.append(bytes);
    if (m_inboundBuffer.size() > kMaximumBufferedBytes) {
        qCWarning(lcLegacyKivo) << "Dropped" << m_inboundBuffer.size() << "bytes without an end of answer";
        m_inboundBuffer.clear();
        return;
    }
    for (;;) {
        const qsizetype end = m_inboundBuffer.indexOf(';');
        if (end < 0)
            return;
        const QByteArray raw = m_inboundBuffer.left(end);
        m_inboundBuffer.remove(0, end + 1);
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString answer = decoder.decode(raw);
        if (decoder.hasError()) {
            qCDebug(lcLegacyKivo) << "received non-UTF-8, dropped:" << raw;
            continue;
        }
        qCDebug(lcLegacyKivo) << "received" << answer;
        parse(trimmed(answer));
        // A callback may have stopped or replaced the connection.
        if (!isCurrent(generation))
            return;
    }
}

void LegacyKIVOClient::parse(const QString &answer)
{
    // The companion answers in order: a refusal ("?") answers the oldest
    // command unanswered, set or read; any other answer the oldest read of
    // its kind, the commands before it got none (a set taken, a read whose
    // answer was lost). So an answer is never taken for one to a newer
    // command. One that answers nothing was offered unasked.
    std::optional<Request> asked;
    const auto answers = [&answer](const Request &request) {
        return answer == u"?" || (request.read && answer.startsWith(QString::fromLatin1(request.name)));
    };
    if (const auto it = std::find_if(m_unanswered.cbegin(), m_unanswered.cend(), answers); it != m_unanswered.cend()) {
        const QList<Request> skipped = m_unanswered.first(it - m_unanswered.cbegin());
        asked = *it;
        m_unanswered.remove(0, skipped.size() + 1);
        if (asked->poll != 0 && asked->poll == m_polls)
            m_pollAnsweredAt = m_clock.elapsed();
        for (Request request : skipped) {
            if (request.read && request.confirmation)
                request.confirmation->resolve({});
        }
        if (answer == u"?") {
            // A set taken says nothing, so a refusal may belong to any set
            // up to the next read: an unkey or clear among them may be the
            // one refused.
            const companion::Reply refused{.refused = true, .informed = false, .keyed = std::nullopt};
            if (asked->confirmation)
                asked->confirmation->resolve(refused);
            for (Request request : m_unanswered) {
                if (request.read)
                    break;
                if (request.confirmation)
                    request.confirmation->resolve(refused);
            }
        }
    }
    const QStringView rest = QStringView(answer).mid(2);
    bool recognised = true;
    if (answer.startsWith(u"FA") && parseStrictInteger(rest)) {
        m_vfoAFrequencyHz = *parseStrictInteger(rest);
    } else if (answer.startsWith(u"FB") && parseStrictInteger(rest)) {
        m_vfoBFrequencyHz = *parseStrictInteger(rest);
        if (!m_vfoBMode)
            m_vfoBMode = m_vfoAMode;
    } else if (answer.startsWith(u"KS") && parseStrictInteger(rest)) {
        m_wordsPerMinute = *parseStrictInteger(rest);
    } else if (const auto mode = answer.startsWith(u"MD") ? flexMode(rest.toString()) : std::nullopt) {
        if (m_receiveVFO == 1)
            m_vfoBMode = *mode;
        else
            m_vfoAMode = *mode;
    } else if (answer == u"FR0" || answer == u"FR1") {
        m_receiveVFO = answer == u"FR1" ? 1 : 0;
    } else if (answer == u"FT0" || answer == u"FT1") {
        m_transmitVFO = answer == u"FT1" ? 1 : 0;
    } else if (answer.startsWith(u"IF")) {
        readInformation(answer, asked);
    } else {
        recognised = false;
    }
    if (!recognised)
        return;
    m_value.isConnected = true;
    refreshSnapshot();
}

void LegacyKIVOClient::readInformation(const QString &answer, std::optional<Request> asked)
{
    const std::optional<bool> keyed = companion::transmitFlag(answer);
    if (asked && asked->confirmation)
        asked->confirmation->resolve({.refused = false, .informed = true, .keyed = keyed});
    if (!keyed)
        return;
    m_value.isTransmitting = *keyed;
    // An answer nobody asked for on this connection tells the ledger nothing.
    if (asked)
        transmitterReported(*keyed, KeySource::Unknown, companion::reportFollows);
}

const QLoggingCategory &LegacyKIVOClient::logCategory() const
{
    return lcLegacyKivo();
}

QCoro::Task<void> LegacyKIVOClient::send(QByteArray command, std::optional<Confirmation> confirmation)
{
    if (state() != RadioConnectionState::Ready || !m_socket)
        throw KivoError::notConnected();
    QPointer<LegacyKIVOClient> guard(this);
    qCDebug(lcLegacyKivo) << "sent" << command;
    if (m_socket->write(command) != command.size())
        throw KivoError::server(m_socket->errorString());
    // Each part of the command carries its confirmation: the information
    // answer settles it, a refusal of the command fails it.
    for (const auto &[name, read] : commandsOf(command))
        m_unanswered.append({.name = name,
                             .read = read,
                             .confirmation = confirmation,
                             .poll = command == kPollBatch ? m_polls : 0});
    watchSilence(false);
    m_bytesQueued += command.size();
    OneShot<> done;
    m_pendingWrites.append({m_bytesQueued, done});
    co_await done;
    // The caller carries on with this object only when it still exists.
    if (!guard)
        throw KivoError::notConnected();
}

bool LegacyKIVOClient::readsOutstanding() const
{
    return std::any_of(m_unanswered.cbegin(), m_unanswered.cend(), [](const Request &request) { return request.read; });
}

bool LegacyKIVOClient::pollPending() const
{
    const bool unanswered = m_polls != 0
        && std::any_of(m_unanswered.cbegin(), m_unanswered.cend(),
                       [this](const Request &request) { return request.poll == m_polls; });
    // Answers that came in part and then stopped: the rest were lost.
    return unanswered
        && (m_pollAnsweredAt < 0 || m_clock.elapsed() - m_pollAnsweredAt < m_timing.pollInterval.count());
}

// Only silence fails the link: a slow companion's answers keep it, however
// late they come.
void LegacyKIVOClient::watchSilence(bool heard)
{
    if (!readsOutstanding())
        m_silence.stop();
    else if (heard || !m_silence.isActive())
        m_silence.start(m_timing.silenceLimit);
}

std::chrono::milliseconds LegacyKIVOClient::answerTime() const
{
    return isStopping() ? m_timing.closingUnkeyConfirmation : m_timing.unkeyConfirmation;
}

QCoro::Task<void> LegacyKIVOClient::tick()
{
    // Polls piling up at a slow companion would only delay every answer.
    if (pollPending())
        co_return;
    ++m_polls;
    m_pollAnsweredAt = -1;
    try {
        co_await send(kPollBatch);
    } catch (...) {
        throw KivoError::server(kPollingFailed);
    }
}

QCoro::Task<void> LegacyKIVOClient::dropTransport()
{
    closeSocket();
    m_inboundBuffer.clear();
    co_return;
}

void LegacyKIVOClient::closeSocket()
{
    if (m_socket) {
        QTcpSocket *socket = m_socket;
        m_socket = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    m_socketConnected = false;
    const auto pending = std::exchange(m_pendingWrites, {});
    for (auto write : pending)
        write.done.fail(KivoError::notConnected());
    m_silence.stop();
    const auto unanswered = std::exchange(m_unanswered, {});
    for (auto request : unanswered) {
        if (request.confirmation)
            request.confirmation->fail(KivoError::notConnected());
    }
}

void LegacyKIVOClient::sessionEnded()
{
    m_value.isConnected = false;
    m_value.isTransmitting = false;
    publishValue();
}

void LegacyKIVOClient::refreshSnapshot()
{
    QList<RadioVFO> vfos{RadioVFO({.letter = QStringLiteral("A"),
                                   .frequencyHz = m_vfoAFrequencyHz,
                                   .mode = m_vfoAMode,
                                   .isReceive = m_receiveVFO == 0,
                                   .isTransmit = m_transmitVFO == 0})};
    if (m_vfoBFrequencyHz) {
        vfos.append(RadioVFO({.letter = QStringLiteral("B"),
                              .frequencyHz = *m_vfoBFrequencyHz,
                              .mode = m_vfoBMode.value_or(m_vfoAMode),
                              .isReceive = m_receiveVFO == 1,
                              .isTransmit = m_transmitVFO == 1}));
    }
    m_value.vfos = vfos;
    m_value.slice = m_receiveVFO == 1 ? QStringLiteral("B") : QStringLiteral("A");
    m_value.transmitSlice = m_transmitVFO == 1 ? QStringLiteral("B") : QStringLiteral("A");
    if (const auto receive = m_value.vfo(m_value.slice)) {
        m_value.frequencyHz = receive->frequencyHz;
        m_value.mode = receive->mode;
    } else {
        m_value.frequencyHz = m_vfoAFrequencyHz;
        m_value.mode = m_vfoAMode;
    }
    const auto transmit = m_value.vfo(m_value.transmitSlice);
    m_value.transmitFrequencyHz = transmit ? transmit->frequencyHz : m_vfoAFrequencyHz;
    publishValue();
}

QCoro::Task<RadioSnapshot> LegacyKIVOClient::snapshot()
{
    return snapshotCopy(m_value);
}

QCoro::Task<std::optional<qint64>> LegacyKIVOClient::primaryFrequency()
{
    co_return m_vfoAFrequencyHz;
}

QCoro::Task<std::optional<qint64>> LegacyKIVOClient::secondaryFrequency()
{
    co_return m_vfoBFrequencyHz;
}

QCoro::Task<int> LegacyKIVOClient::cwSpeed()
{
    co_return static_cast<int>(std::clamp<qint64>(m_wordsPerMinute, std::numeric_limits<int>::min(),
                                                  std::numeric_limits<int>::max()));
}

QCoro::Task<void> LegacyKIVOClient::setVFOFrequency(int vfo, qint64 hz)
{
    if (hz < 1)
        throw KivoError::invalidFrequency();
    co_await send(frequencyCommand(vfo, hz));
    // The VFO the command named, whatever the receive VFO is by now.
    if (vfo == 1) {
        m_vfoBFrequencyHz = hz;
        if (!m_vfoBMode)
            m_vfoBMode = m_vfoAMode;
    } else {
        m_vfoAFrequencyHz = hz;
    }
    refreshSnapshot();
}

QCoro::Task<void> LegacyKIVOClient::setPrimaryFrequency(qint64 hz)
{
    return setVFOFrequency(0, hz);
}

QCoro::Task<void> LegacyKIVOClient::setSecondaryFrequency(qint64 hz)
{
    return setVFOFrequency(1, hz);
}

QCoro::Task<void> LegacyKIVOClient::setFrequency(qint64 hz)
{
    return setVFOFrequency(m_receiveVFO, hz);
}

QCoro::Task<void> LegacyKIVOClient::setMode(QString mode)
{
    const auto digit = kenwoodMode(mode);
    if (!digit)
        throw KivoError::invalidMode();
    co_await send(QByteArrayLiteral("MD") + QByteArray::number(*digit) + ';');
    if (m_receiveVFO == 1)
        m_vfoBMode = upperCased(mode);
    else
        m_vfoAMode = upperCased(mode);
    refreshSnapshot();
}

QCoro::Task<void> LegacyKIVOClient::transmit(bool on)
{
    if (on) {
        co_await send(QByteArrayLiteral("TX;"));
        m_value.isTransmitting = true;
        publishValue();
        co_return;
    }
    co_await sendAndConfirm(TransmitterLedger::Kind::Unkey, kReceiveCommand);
}

QCoro::Task<void> LegacyKIVOClient::sendAndConfirm(TransmitterLedger::Kind kind, QByteArray command)
{
    QPointer<LegacyKIVOClient> self(this);
    // Asked at once rather than at the next poll, so the answer is quick.
    // The answer may be in before the socket reports the bytes written.
    Confirmation confirmation;
    co_await send(command + kInformationRequest, confirmation);
    if (!self)
        throw KivoError::notConnected();
    const companion::Reply reply = co_await awaitWithin(
        confirmation, answerTime(), KivoError::server(QStringLiteral("KIVO did not answer after the command.")));
    const companion::Ending ending = companion::ending(kind, reply);
    switch (ending.outcome) {
    case TransmitterLedger::Outcome::Answered:
        co_return;
    case TransmitterLedger::Outcome::Refused:
        throw KivoError::refusal(ending.reason);
    case TransmitterLedger::Outcome::NoAnswer:
        throw KivoError::server(ending.reason);
    }
}

QCoro::Task<void> LegacyKIVOClient::transmit(CATTransmitMode mode)
{
    QByteArray command;
    switch (mode) {
    case CATTransmitMode::Microphone:
        command = QByteArrayLiteral("TX0;");
        break;
    case CATTransmitMode::Data:
        command = QByteArrayLiteral("TX1;");
        break;
    case CATTransmitMode::Tune:
        command = QByteArrayLiteral("TX2;");
        break;
    }
    co_await send(command);
    m_value.isTransmitting = true;
    publishValue();
}

QCoro::Task<void> LegacyKIVOClient::setSplitTransmit(bool on)
{
    if (on && !m_vfoBFrequencyHz)
        throw KivoError::unsupported();
    co_await send(on ? QByteArrayLiteral("FT1;") : QByteArrayLiteral("FT0;"));
    m_transmitVFO = on ? 1 : 0;
    refreshSnapshot();
}

QCoro::Task<void> LegacyKIVOClient::setReceiveVFO(int vfo)
{
    if ((vfo != 0 && vfo != 1) || (vfo == 1 && !m_vfoBFrequencyHz))
        throw KivoError::unsupported();
    co_await send(vfo == 1 ? QByteArrayLiteral("FR1;") : QByteArrayLiteral("FR0;"));
    m_receiveVFO = vfo;
    refreshSnapshot();
}

QCoro::Task<void> LegacyKIVOClient::setCWSpeed(int wordsPerMinute)
{
    if (wordsPerMinute < 5 || wordsPerMinute > 100)
        throw KivoError::server(QStringLiteral("CW speed must be 5 through 100 WPM."));
    co_await send(QByteArrayLiteral("KS") + zeroPadded(wordsPerMinute, 3).toLatin1() + ';');
    m_wordsPerMinute = wordsPerMinute;
}

QCoro::Task<void> LegacyKIVOClient::queueCW(QString text)
{
    const qsizetype characters = characterCount(text);
    if (characters < 1 || characters > 128 || text.contains(u';'))
        throw KivoError::refusal(QStringLiteral("CW text must contain 1 through 128 safe characters."));
    co_await send(QByteArrayLiteral("KY ") + text.toUtf8() + ';');
}

QCoro::Task<void> LegacyKIVOClient::clearKeyer()
{
    // Bytes written into a link that is closing prove nothing; an answer
    // asked after them does.
    co_await sendAndConfirm(TransmitterLedger::Kind::Clear, kBlankKeyerCommand);
}

} // namespace kivo
