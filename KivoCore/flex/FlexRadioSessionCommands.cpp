// Numbered commands and their replies: "C<seq>|<command>" out, "R<seq>|<code>|<message>" in.

#include "KivoCore/flex/FlexRadioSession.h"

#include "KivoCore/support/LogCategories.h"
#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/Text.h"

#include <QTcpSocket>

namespace kivo {

namespace FlexCommandResponseParser {

namespace {
int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// An optional "+" and hexadecimal digits, no "0x", at most 0xFFFFFFFF.
std::optional<quint32> parseCode(QStringView text)
{
    if (text.startsWith(QLatin1Char('+')))
        text = text.sliced(1);
    if (text.isEmpty())
        return std::nullopt;
    quint64 value = 0;
    for (QChar c : text) {
        const int digit = hexDigit(c);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + quint64(digit);
        if (value > 0xFFFFFFFFULL)
            return std::nullopt;
    }
    return quint32(value);
}
} // namespace

std::optional<Response> parse(QStringView line)
{
    if (!line.startsWith(QLatin1Char('R')))
        return std::nullopt;
    const QStringView rest = line.sliced(1);
    // At most three cuts: whatever follows a third "|" is not looked at.
    QList<QStringView> pieces;
    qsizetype from = 0;
    while (pieces.size() < 3) {
        const qsizetype bar = rest.indexOf(QLatin1Char('|'), from);
        if (bar < 0)
            break;
        pieces.append(rest.sliced(from, bar - from));
        from = bar + 1;
    }
    pieces.append(rest.sliced(from));
    if (pieces.size() < 2)
        return std::nullopt;
    const auto sequence = parseStrictInteger(pieces[0]);
    const auto code = parseCode(pieces[1]);
    if (!sequence || !code)
        return std::nullopt;
    return Response{*sequence, *code, pieces.size() > 2 ? pieces[2].toString() : QString()};
}

} // namespace FlexCommandResponseParser

QCoro::Task<void> FlexRadioSession::sendCommand(QString command, std::chrono::milliseconds timeout)
{
    // A line break would end the command early and smuggle in another.
    if (containsLineBreak(command))
        throw KivoError::server(QStringLiteral("The radio command contains a line break and was not sent."));
    if (!m_transportReady || !m_connection)
        throw KivoError::notConnected();

    const qint64 sequence = m_commandSequence++;
    PendingCommand pending;
    pending.timeout = new QTimer(this);
    pending.timeout->setSingleShot(true);
    connect(pending.timeout, &QTimer::timeout, this, [this, sequence] { commandTimedOut(sequence); });
    pending.timeout->start(timeout);
    OneShot<> reply = pending.reply;
    const QByteArray line = QByteArrayLiteral("C") + QByteArray::number(sequence) + '|' + command.toUtf8() + '\n';
    pending.endOfLine = m_bytesQueued + line.size();
    m_pendingCommands.insert(sequence, pending);

    qCDebug(lcRadio) << "sent" << line.chopped(1);
    if (m_connection->write(line) == line.size()) {
        m_bytesQueued += line.size();
    } else {
        // The caller learns why the connection took no more bytes.
        failCommand(sequence, std::make_exception_ptr(KivoError::server(m_connection->errorString())));
    }
    co_await reply;
}

std::optional<FlexRadioSession::PendingCommand> FlexRadioSession::takePending(qint64 sequence)
{
    // Whoever takes the entry first ends the command; everyone later finds nothing.
    const auto it = m_pendingCommands.constFind(sequence);
    if (it == m_pendingCommands.constEnd())
        return std::nullopt;
    PendingCommand pending = *it;
    m_pendingCommands.erase(it);
    pending.timeout->stop();
    pending.timeout->deleteLater();
    return pending;
}

void FlexRadioSession::completeCommand(QStringView line)
{
    const auto response = FlexCommandResponseParser::parse(line);
    if (!response)
        return;
    auto pending = takePending(response->sequence);
    if (!pending)
        return;
    if (response->code == 0) {
        pending->reply.resolve();
        return;
    }
    QString text = response->message;
    if (text.isEmpty()) {
        const QString code = QString::number(response->code, 16).toUpper().rightJustified(8, QLatin1Char('0'));
        text = QStringLiteral("Radio rejected command (0x%1).").arg(code);
    }
    pending->reply.fail(KivoError::refusal(text));
}

void FlexRadioSession::commandTimedOut(qint64 sequence)
{
    if (auto pending = takePending(sequence))
        pending->reply.fail(KivoError::server(QStringLiteral("Radio command %1 timed out.").arg(sequence)));
}

void FlexRadioSession::failCommand(qint64 sequence, std::exception_ptr error)
{
    if (auto pending = takePending(sequence))
        pending->reply.fail(error);
}

void FlexRadioSession::failUnwrittenCommands(const QString &error)
{
    if (!m_connection)
        return;
    const qint64 written = m_bytesQueued - m_connection->bytesToWrite();
    const QList<qint64> sequences = m_pendingCommands.keys();
    for (qint64 sequence : sequences) {
        if (m_pendingCommands.value(sequence).endOfLine > written)
            failCommand(sequence, std::make_exception_ptr(KivoError::server(error)));
    }
}

void FlexRadioSession::failAllPending()
{
    const QList<qint64> sequences = m_pendingCommands.keys();
    for (qint64 sequence : sequences)
        failCommand(sequence, std::make_exception_ptr(KivoError::notConnected()));
}

} // namespace kivo
