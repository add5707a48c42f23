#include "fakes/FakeSmartLinkBroker.h"

namespace kivo::test {

QString FakeSmartLinkBroker::radioEntry(const QList<QPair<QString, QString>> &pairs)
{
    QStringList parts;
    for (const auto &[key, value] : pairs)
        parts << key + u'=' + value;
    return parts.join(u' ');
}

QString FakeSmartLinkBroker::radioList(const QStringList &entries)
{
    return QStringLiteral("radio list ") + entries.join(u'|');
}

FakeSmartLinkBroker::FakeSmartLinkBroker(QObject *parent)
    : QObject(parent), m_server([this](QSslSocket *socket) { serve(socket); })
{
}

bool FakeSmartLinkBroker::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QStringList FakeSmartLinkBroker::receivedLinesStartingWith(const QString &prefix) const
{
    QStringList result;
    for (const QString &line : m_lines) {
        if (line.startsWith(prefix))
            result << line;
    }
    return result;
}

void FakeSmartLinkBroker::serve(QSslSocket *socket)
{
    ++m_connectionCount;
    m_client = socket;
    m_buffer.clear();
    connect(socket, &QSslSocket::readyRead, this, &FakeSmartLinkBroker::read);
    read();
}

void FakeSmartLinkBroker::read()
{
    if (!m_client)
        return;
    m_buffer.append(m_client->readAll());
    for (qsizetype end = m_buffer.indexOf('\n'); end >= 0; end = m_buffer.indexOf('\n')) {
        const QString line = QString::fromUtf8(m_buffer.left(end));
        m_buffer.remove(0, end + 1);
        m_lines << line;
        if (line.startsWith(u"application register ") && !radioListLine.isEmpty()) {
            sendLine(radioListLine);
        } else if (line.startsWith(u"application connect ") && answerConnect) {
            const QString serial = line.section(u' ', 2, 2).section(u'=', 1);
            sendLine(QStringLiteral("radio connect_ready handle=%1 serial=%2").arg(handle, serial));
        }
    }
}

void FakeSmartLinkBroker::sendRaw(const QByteArray &bytes)
{
    if (m_client)
        m_client->write(bytes);
}

void FakeSmartLinkBroker::closeClient()
{
    if (m_client)
        m_client->disconnectFromHost();
}

} // namespace kivo::test
