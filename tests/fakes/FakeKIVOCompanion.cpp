#include "fakes/FakeKIVOCompanion.h"

#include "KivoCore/support/Numbers.h"

namespace kivo::test {

namespace {
QByteArray digits(qint64 value, int width)
{
    return zeroPadded(value, width).toLatin1();
}
} // namespace

FakeKIVOCompanion::FakeKIVOCompanion(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeKIVOCompanion::accept);
    m_batchTimer.setSingleShot(true);
    connect(&m_batchTimer, &QTimer::timeout, this, &FakeKIVOCompanion::actOnDue);
}

bool FakeKIVOCompanion::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

void FakeKIVOCompanion::stopListening()
{
    m_server.close();
}

void FakeKIVOCompanion::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        ++m_connectionCount;
        // The newest connection is the one that counts, like the companion's
        // single CAT port.
        closeClient();
        m_client = socket;
        m_pending.clear();
        socket->setProperty("connection", m_connectionCount);
        connect(socket, &QTcpSocket::readyRead, this, &FakeKIVOCompanion::readClient);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void FakeKIVOCompanion::readClient()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    const QByteArray bytes = socket->readAll();
    m_received.append(bytes);
    if (socket != m_client)
        return;
    m_pending.append(bytes);
    Batch batch{.socket = socket, .commands = {}, .due = QDeadlineTimer(m_delay)};
    for (qsizetype end = m_pending.indexOf(';'); end >= 0; end = m_pending.indexOf(';')) {
        batch.commands.append(m_pending.left(end));
        m_pending.remove(0, end + 1);
        if (m_handler)
            m_handler(socket->property("connection").toInt(), batch.commands.constLast());
    }
    if (batch.commands.isEmpty())
        return;
    if (m_delay.count() == 0 && m_pace.count() == 0 && !m_stalled && m_batches.isEmpty()) {
        actOn(batch);
        return;
    }
    m_batches.append(batch);
    actOnDue();
}

void FakeKIVOCompanion::release()
{
    m_stalled = false;
    actOnDue();
}

// Batches are taken in the order they came, each once its delay has passed
// and, at a pace, its own time after the one before.
void FakeKIVOCompanion::actOnDue()
{
    while (!m_stalled && !m_batches.isEmpty()) {
        Batch &next = m_batches.first();
        if (m_pace.count() > 0 && !std::exchange(next.begun, true) && next.due.remainingTimeAsDuration() < m_pace)
            next.due = QDeadlineTimer(m_pace);
        if (!next.due.hasExpired())
            break;
        actOn(m_batches.takeFirst());
    }
    if (!m_stalled && !m_batches.isEmpty())
        m_batchTimer.start(std::chrono::milliseconds(m_batches.constFirst().due.remainingTime()));
}

void FakeKIVOCompanion::actOn(const Batch &batch)
{
    // What a client sent before it went away still takes effect, unanswered.
    const bool live = batch.socket && batch.socket == m_client;
    QByteArray reply;
    for (const QByteArray &command : batch.commands) {
        // The companion may close the link on a command.
        if (live && batch.socket != m_client)
            return;
        reply.append(answer(command, live));
    }
    if (live && !reply.isEmpty())
        m_client->write(reply);
}

QByteArray FakeKIVOCompanion::answer(const QByteArray &command, bool live)
{
    const QByteArray name = command.left(2);
    const QByteArray argument = command.mid(2);
    const bool read = argument.isEmpty() && name != "TX" && name != "RX";
    if (!read && (refusedCommands.contains(command) || refusedCommands.contains(name)))
        return m_answering ? QByteArray("?;") : QByteArray();
    if (!argument.isEmpty()) {
        const auto number = parseStrictInteger(QByteArrayView(argument));
        if (name == "FA" && number)
            vfoAHz = *number;
        else if (name == "FB" && number)
            vfoBHz = *number;
        else if (name == "MD" && number)
            modeDigit = static_cast<int>(*number);
        else if (name == "FR" && number)
            receiveVFO = static_cast<int>(*number);
        else if (name == "FT" && number)
            transmitVFO = static_cast<int>(*number);
        else if (name == "KS" && number)
            wordsPerMinute = static_cast<int>(*number);
        else if (name == "TX")
            transmitting = m_clientKeyed = true;
        else if (name == "KY" && argument.trimmed().isEmpty() && live && std::exchange(closesOnKeyerClear, false))
            closeClient();
        else if (name == "KY")
            m_keyerHolds = !argument.trimmed().isEmpty();
        if (name == "KY" && cwKeys && m_keyerHolds)
            transmitting = m_clientKeyed = true;
        return {};
    }
    if (name == "TX") {
        transmitting = m_clientKeyed = true;
        return {};
    }
    if (name == "RX") {
        if (closesOnUnkey && live)
            closeClient();
        else
            releaseTransmitter();
        return {};
    }
    if (!m_answering)
        return {};
    if (name == "FA")
        return "FA" + digits(vfoAHz, 11) + ';';
    if (name == "FB")
        return vfoBHz ? "FB" + digits(*vfoBHz, 11) + ';' : QByteArray("?;");
    if (name == "MD")
        return "MD" + QByteArray::number(modeDigit) + ';';
    if (name == "FR")
        return "FR" + QByteArray::number(receiveVFO) + ';';
    if (name == "FT")
        return "FT" + QByteArray::number(transmitVFO) + ';';
    if (name == "KS")
        return "KS" + digits(wordsPerMinute, 3) + ';';
    if (name == "IF") {
        // Frequency, step, RIT/XIT, memory, transmit flag, mode, VFO, scan,
        // split and tone fields of a Kenwood information answer.
        // Kenwood's 38 characters: the transmit flag is the 29th.
        const QByteArray information = "IF" + digits(receiveVFO == 1 && vfoBHz ? *vfoBHz : vfoAHz, 11)
            + "     +000000000" + (transmitting || m_keyerHolds ? "1" : "0") + QByteArray::number(modeDigit)
            + QByteArray::number(receiveVFO) + "0" + QByteArray::number(transmitVFO) + "0000;";
        if (answersToLose > 0) {
            --answersToLose;
            return {};
        }
        return shortInformation ? information.left(28) + ';' : information;
    }
    return "?;";
}

void FakeKIVOCompanion::sendRaw(const QByteArray &bytes)
{
    if (m_client)
        m_client->write(bytes);
}

void FakeKIVOCompanion::closeClient()
{
    if (!m_client)
        return;
    QTcpSocket *socket = std::exchange(m_client, nullptr);
    m_batches.removeIf([socket](const Batch &batch) { return batch.socket == socket; });
    socket->disconnectFromHost();
}

void FakeKIVOCompanion::setOperatorKey(bool on)
{
    m_operatorKeyed = on;
    transmitting = on || m_clientKeyed;
}

void FakeKIVOCompanion::releaseTransmitter()
{
    transmitting = m_clientKeyed = m_operatorKeyed = false;
}

} // namespace kivo::test
