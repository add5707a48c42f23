#include "fakes/FakeDCU1Controller.h"

#include <QHostAddress>

namespace kivo::test {

namespace {
const QByteArray poll = QByteArrayLiteral("AI1;");
}

FakeDCU1Controller::FakeDCU1Controller(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++m_connectionCount;
            m_clients.append(socket);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_commandsAtClose.append(commands());
                socket->deleteLater();
            });
        }
    });
}

bool FakeDCU1Controller::listen(quint16 port)
{
    if (!m_server.listen(QHostAddress::LocalHost, port))
        return false;
    m_port = m_server.serverPort();
    return true;
}

void FakeDCU1Controller::stopListening()
{
    m_server.close();
}

QByteArray FakeDCU1Controller::commands() const
{
    QByteArray rest = m_received;
    return rest.replace(poll, QByteArray());
}

int FakeDCU1Controller::pollCount() const
{
    return int(m_received.count(poll));
}

bool FakeDCU1Controller::hasClient() const
{
    for (const auto &client : m_clients) {
        if (client && client->state() == QAbstractSocket::ConnectedState)
            return true;
    }
    return false;
}

void FakeDCU1Controller::sendRaw(const QByteArray &bytes)
{
    for (auto it = m_clients.crbegin(); it != m_clients.crend(); ++it) {
        if (*it && (*it)->state() == QAbstractSocket::ConnectedState) {
            (*it)->write(bytes);
            (*it)->flush();
            return;
        }
    }
}

void FakeDCU1Controller::dropClients()
{
    for (const auto &client : m_clients) {
        if (client)
            client->abort();
    }
    m_clients.clear();
}

void FakeDCU1Controller::readFrom(QTcpSocket *socket)
{
    const QByteArray bytes = socket->readAll();
    m_received.append(bytes);
    // A poll may arrive in pieces; answer each complete one once.
    m_pollScan.append(bytes);
    qsizetype at;
    while ((at = m_pollScan.indexOf(poll)) >= 0) {
        m_pollScan.remove(0, at + poll.size());
        if (m_azimuth)
            socket->write(QByteArray::number(*m_azimuth).rightJustified(3, '0') + ';');
    }
    if (m_pollScan.size() > poll.size())
        m_pollScan = m_pollScan.right(poll.size() - 1);
}

} // namespace kivo::test
