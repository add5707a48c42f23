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
        if (m_client)
            m_client->disconnectFromHost();
        m_client = socket;
        m_pending.clear();
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
    QByteArray reply;
    for (qsizetype end = m_pending.indexOf(';'); end >= 0; end = m_pending.indexOf(';')) {
        const QByteArray command = m_pending.left(end);
        m_pending.remove(0, end + 1);
        reply.append(answer(command));
    }
    if (!reply.isEmpty())
        socket->write(reply);
}

QByteArray FakeKIVOCompanion::answer(const QByteArray &command)
{
    const QByteArray name = command.left(2);
    const QByteArray argument = command.mid(2);
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
            transmitting = true;
        return {};
    }
    if (name == "TX") {
        transmitting = true;
        return {};
    }
    if (name == "RX") {
        if (closesOnUnkey) {
            closeClient();
            return {};
        }
        transmitting = false;
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
        return "IF" + digits(receiveVFO == 1 && vfoBHz ? *vfoBHz : vfoAHz, 11) + "     +000000000"
            + (transmitting ? "1" : "0") + QByteArray::number(modeDigit) + QByteArray::number(receiveVFO) + "0"
            + QByteArray::number(transmitVFO) + "0000;";
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
    if (m_client)
        m_client->disconnectFromHost();
}

} // namespace kivo::test
