#include "fakes/FakeFlexRadio.h"

#include "KivoCore/support/Numbers.h"
#include "support/RunTask.h"

#include <QFile>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace kivo::test {

// Hands out sockets that first complete a server-side TLS handshake.
class FakeFlexRadio::TlsServer : public QTcpServer {
public:
    TlsServer(QSslCertificate certificate, QSslKey key)
        : m_certificate(std::move(certificate)), m_key(std::move(key))
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setLocalCertificate(m_certificate);
        socket->setPrivateKey(m_key);
        addPendingConnection(socket);
        socket->startServerEncryption();
    }

private:
    QSslCertificate m_certificate;
    QSslKey m_key;
};

struct FakeFlexRadio::Connection {
    int index = 0;
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
};

FakeFlexRadio::Reply FakeFlexRadio::Reply::accept(std::chrono::milliseconds delay)
{
    return Reply{Kind::Accept, 0, {}, delay};
}

FakeFlexRadio::Reply FakeFlexRadio::Reply::reject(quint32 code, const QString &message,
                                                  std::chrono::milliseconds delay)
{
    return Reply{Kind::Reject, code, message, delay};
}

FakeFlexRadio::Reply FakeFlexRadio::Reply::silent()
{
    return Reply{Kind::Silent, 0, {}, std::chrono::milliseconds(0)};
}

FakeFlexRadio::FakeFlexRadio(QObject *parent) : QObject(parent), m_prologue(defaultPrologue()) {}

FakeFlexRadio::~FakeFlexRadio()
{
    close();
}

QStringList FakeFlexRadio::defaultPrologue()
{
    return {QStringLiteral("V1.4.0.0"), QStringLiteral("H32848110")};
}

QStringList FakeFlexRadio::samplePrologue()
{
    QFile file(QStringLiteral(QK_TEST_DATA_DIR "/smartsdr-tcp-connect-prologue.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool FakeFlexRadio::listen()
{
    m_server = std::make_unique<QTcpServer>();
    connect(m_server.get(), &QTcpServer::newConnection, this, &FakeFlexRadio::accept);
    return m_server->listen(QHostAddress::LocalHost, 0);
}

bool FakeFlexRadio::listenTls(const QString &certificatePemPath, const QString &keyPemPath)
{
    QFile certificateFile(certificatePemPath);
    QFile keyFile(keyPemPath);
    if (!certificateFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        return false;
    QSslCertificate certificate(&certificateFile, QSsl::Pem);
    QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem);
    if (certificate.isNull() || key.isNull())
        return false;
    m_server = std::make_unique<TlsServer>(certificate, key);
    connect(m_server.get(), &QTcpServer::newConnection, this, &FakeFlexRadio::accept);
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 FakeFlexRadio::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

void FakeFlexRadio::close()
{
    if (m_server)
        m_server->close();
    for (const auto &connection : std::as_const(m_connections)) {
        if (connection->socket)
            connection->socket->abort();
    }
}

void FakeFlexRadio::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto connection = std::make_shared<Connection>();
        connection->index = int(m_connections.size());
        connection->socket = socket;
        socket->setParent(this);
        m_connections.append(connection);
        Connection *raw = connection.get();
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { readFrom(raw); });
        auto *secure = qobject_cast<QSslSocket *>(socket);
        if (secure && !secure->isEncrypted())
            connect(secure, &QSslSocket::encrypted, this, [this, raw] { startSession(raw); });
        else
            startSession(raw);
    }
}

void FakeFlexRadio::startSession(Connection *connection)
{
    for (const QString &line : std::as_const(m_prologue))
        sendLineTo(connection->index, line);
}

void FakeFlexRadio::readFrom(Connection *connection)
{
    if (!connection->socket)
        return;
    connection->buffer.append(connection->socket->readAll());
    for (qsizetype end = connection->buffer.indexOf('\n'); end >= 0; end = connection->buffer.indexOf('\n')) {
        const QString line = QString::fromUtf8(connection->buffer.left(end));
        connection->buffer.remove(0, end + 1);
        m_receivedLines.append(line);
        answer(connection, line);
        if (!connection->socket || connection->socket->state() != QAbstractSocket::ConnectedState)
            return;
    }
}

void FakeFlexRadio::answer(Connection *connection, const QString &line)
{
    const qsizetype bar = line.indexOf(QLatin1Char('|'));
    if (!line.startsWith(QLatin1Char('C')) || bar < 0)
        return;
    const auto sequence = parseStrictInteger(QStringView(line).sliced(1, bar - 1));
    if (!sequence)
        return;
    const Command command{connection->index, *sequence, line.mid(bar + 1)};
    if (closesOn && closesOn(command)) {
        dropConnection(command.connection);
        return;
    }
    m_commands.append(command);

    Reply reply;
    for (const auto &[prefix, rule] : std::as_const(m_rules)) {
        if (command.text.startsWith(prefix)) {
            reply = rule;
            break;
        }
    }
    const auto stalled = [&command](const QString &prefix) { return command.text.startsWith(prefix); };
    if (reply.kind != Reply::Kind::Silent && std::any_of(m_stalls.cbegin(), m_stalls.cend(), stalled)) {
        const QString text = QStringLiteral("R%1|%2|%3").arg(QString::number(command.sequence),
                                                            QString::number(reply.code, 16), reply.message);
        m_held.append({command, reply.kind == Reply::Kind::Accept ? text : text + QLatin1Char('!')});
        if (m_handler)
            m_handler(command);
        return;
    } else if (reply.kind != Reply::Kind::Silent) {
        if (interlockBeforeKeying
            && (command.text.startsWith(QLatin1String("xmit")) || command.text.startsWith(QLatin1String("transmit"))
                || command.text.startsWith(QLatin1String("cwx send"))))
            tellInterlock(connection->index);
        const QString text = QStringLiteral("R%1|%2|%3")
                                 .arg(QString::number(command.sequence), QString::number(reply.code, 16),
                                      reply.message);
        const int index = connection->index;
        if (reply.delay.count() > 0)
            QTimer::singleShot(reply.delay, this, [this, index, text] { sendLineTo(index, text); });
        else
            sendLineTo(index, text);
    }
    if (reply.kind == Reply::Kind::Accept)
        actOn(command);
    if (m_handler)
        m_handler(command);
}

void FakeFlexRadio::actOn(const Command &command)
{
    if (command.text == QLatin1String("xmit 1"))
        key(QStringLiteral("SW"));
    else if (command.text == QLatin1String("transmit tune 1"))
        key(namesTune && !isTransmitting() ? QStringLiteral("TUNE") : QStringLiteral("SW"));
    else if (command.text == QLatin1String("transmit tune 0") && latched(QStringLiteral("TUNE")))
        unlatch(QStringLiteral("TUNE"));
    else if (command.text == QLatin1String("xmit 0"))
        unlatch(QStringLiteral("SW"));
    else if (command.text == QLatin1String("sub radio all") && m_announcesInterlock)
        tellInterlock(command.connection);
    else if (command.text.startsWith(QLatin1String("cwx send"))) {
        m_keyerHolds = true;
        if (cwKeys)
            key(QStringLiteral("SW"));
    }
    else if (command.text == QLatin1String("cwx clear"))
        m_keyerHolds = false;
    const QStringList words = command.text.split(QLatin1Char(' '));
    for (const auto &connection : std::as_const(m_connections)) {
        if (words.size() == 4 && words[0] == QLatin1String("slice") && words[1] == QLatin1String("t")
            && connection->index != command.connection)
            sendLineTo(connection->index, QStringLiteral("S0|slice %1 RF_frequency=%2").arg(words[2], words[3]));
    }
}

void FakeFlexRadio::setOperatorPtt(bool on)
{
    if (on)
        key(QStringLiteral("MIC"));
    else
        unlatch(QStringLiteral("MIC"));
}

void FakeFlexRadio::key(const QString &source)
{
    // The microphone over a key of ours: both are latched, and the radio
    // lists them hardware first.
    if (isTransmitting()) {
        if (source != QLatin1String("SW") && !latched(source)) {
            m_interlockSources.prepend(source);
            tellInterlock();
        }
        return;
    }
    m_interlockSources = {source};
    m_interlock = QStringLiteral("PTT_REQUESTED");
    tellInterlock();
    m_interlock = QStringLiteral("TRANSMITTING");
    tellInterlock();
    if (source != QLatin1String("MIC")) {
        for (const QString &state : std::exchange(faultsOnNextKey, {}))
            reportAbnormal(state);
    }
}

void FakeFlexRadio::unkey()
{
    if (m_interlock == QLatin1String("READY"))
        return;
    m_interlock = QStringLiteral("UNKEY_REQUESTED");
    tellInterlock();
    m_interlock = QStringLiteral("READY");
    m_interlockSources.clear();
    tellInterlock();
}

void FakeFlexRadio::unlatch(const QString &source)
{
    // "xmit 0" ends a tune too.
    const QString tune = source == QLatin1String("SW") ? QStringLiteral("TUNE") : source;
    if (m_interlockSources.size() > 1 && m_interlockSources.removeAll(source) + m_interlockSources.removeAll(tune) > 0) {
        tellInterlock();
        return;
    }
    unkey();
}

bool FakeFlexRadio::latched(const QString &source) const
{
    return m_interlock != QLatin1String("READY") && m_interlockSources.contains(source);
}

void FakeFlexRadio::reportAbnormal(const QString &state)
{
    if (m_interlock == QLatin1String("READY"))
        return;
    m_interlock = state;
    tellInterlock();
}

void FakeFlexRadio::tellInterlock(int connection)
{
    const QString line = QStringLiteral("S0|interlock state=%1 reason= source=%2").arg(m_interlock, m_interlockSources.join(QLatin1Char(',')));
    QList<int> to{connection};
    if (connection < 0) {
        to.clear();
        for (const auto &each : std::as_const(m_connections))
            to.append(each->index);
    }
    if (interlockLag.count() > 0) {
        // Never before a line told earlier.
        const QDeadlineTimer due(interlockLag);
        if (due.deadlineNSecs() > m_lastLagged.deadlineNSecs())
            m_lastLagged = due;
        m_lagged.append({to, line});
        QTimer::singleShot(std::chrono::milliseconds(m_lastLagged.remainingTime()), Qt::PreciseTimer, this, [this] {
            const auto [to, line] = m_lagged.takeFirst();
            for (int index : to)
                sendLineTo(index, line);
        });
        return;
    }
    for (int index : to)
        sendLineTo(index, line);
}

void FakeFlexRadio::stall(const QString &commandPrefix)
{
    m_stalls.append(commandPrefix);
}

void FakeFlexRadio::release()
{
    m_stalls.clear();
    for (const auto &[command, line] : std::exchange(m_held, {})) {
        // A cut link loses what it held.
        const QTcpSocket *socket = socketAt(command.connection);
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            continue;
        // A rejection was marked; it changes nothing at the radio.
        if (line.endsWith(QLatin1Char('!'))) {
            sendLineTo(command.connection, line.chopped(1));
            continue;
        }
        sendLineTo(command.connection, line);
        actOn(command);
    }
}

void FakeFlexRadio::setReply(const QString &commandPrefix, Reply reply)
{
    m_rules.prepend({commandPrefix, reply});
}

QTcpSocket *FakeFlexRadio::socketAt(int connection) const
{
    if (connection < 0 || connection >= m_connections.size())
        return nullptr;
    return m_connections.at(connection)->socket;
}

void FakeFlexRadio::sendLine(const QString &line)
{
    sendLineTo(connectionCount() - 1, line);
}

void FakeFlexRadio::sendLineTo(int connection, const QString &line)
{
    if (QTcpSocket *socket = socketAt(connection))
        socket->write(line.toUtf8() + '\n');
}

void FakeFlexRadio::sendRaw(const QByteArray &bytes)
{
    if (QTcpSocket *socket = socketAt(connectionCount() - 1))
        socket->write(bytes);
}

void FakeFlexRadio::sendReply(qint64 sequence, quint32 code, const QString &message)
{
    sendLine(QStringLiteral("R%1|%2|%3").arg(QString::number(sequence), QString::number(code, 16), message));
}

void FakeFlexRadio::flood(qint64 bytes, char filler)
{
    sendRaw(QByteArray(bytes, filler));
}

void FakeFlexRadio::dropClient()
{
    dropConnection(connectionCount() - 1);
}

void FakeFlexRadio::dropConnection(int connection)
{
    if (QTcpSocket *socket = socketAt(connection)) {
        socket->flush();
        socket->disconnectFromHost();
    }
}

void FakeFlexRadio::stopReadingThenReset(std::chrono::milliseconds after)
{
    QPointer<QTcpSocket> socket = socketAt(connectionCount() - 1);
    socket->disconnect(this);
    socket->setReadBufferSize(1);
    // A small buffer of fixed size: the system no longer grows it to take
    // in what the client writes from now on.
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    QTimer::singleShot(after, this, [socket] { if (socket) socket->abort(); });
}

bool FakeFlexRadio::allWritten() const
{
    for (const auto &connection : m_connections) {
        if (connection->socket && connection->socket->bytesToWrite() > 0)
            return false;
    }
    return true;
}

bool FakeFlexRadio::hasClient() const
{
    QTcpSocket *socket = socketAt(connectionCount() - 1);
    return socket && socket->state() == QAbstractSocket::ConnectedState;
}

QStringList FakeFlexRadio::commandTexts(bool withPings) const
{
    QStringList texts;
    for (const Command &command : m_commands) {
        if (withPings || command.text != QLatin1String("ping"))
            texts.append(command.text);
    }
    return texts;
}

QStringList FakeFlexRadio::cwxTexts() const
{
    QStringList texts;
    for (QString text : commandTexts().filter(QRegularExpression(QStringLiteral("^cwx send ")))) {
        text.remove(0, 9); // "cwx send "
        texts.append(text.startsWith(u'"') ? text.section(u'"', 1, 1).replace(QChar(0x7F), u' ')
                                           : text.section(u' ', 0, 0));
    }
    return texts;
}

void FakeFlexRadio::clearReceived()
{
    m_receivedLines.clear();
    m_commands.clear();
}

bool FakeFlexRadio::waitForCommand(const QString &text, std::chrono::milliseconds timeout) const
{
    return waitUntil([this, text] { return commandTexts(true).contains(text); }, timeout);
}

QString FakeFlexRadio::clientLine(const QString &handle, const QString &clientID, const QString &station,
                                  const QString &program)
{
    return QStringLiteral("S%1|client %1 connected local_ptt=1 client_id=%2 program=%3 station=%4")
        .arg(handle, clientID, program, station);
}

QString FakeFlexRadio::sliceLine(int id, const QString &handle, const QString &letter, const QString &mhz,
                                 const QString &mode, bool active, bool transmit)
{
    return QStringLiteral("S%1|slice %2 in_use=1 RF_frequency=%3 client_handle=%1 index_letter=%4 mode=%5 "
                          "tx=%6 active=%7")
        .arg(handle, QString::number(id), mhz, letter, mode, transmit ? QStringLiteral("1") : QStringLiteral("0"),
             active ? QStringLiteral("1") : QStringLiteral("0"));
}

QString FakeFlexRadio::clientDisconnectedLine(const QString &handle)
{
    return QStringLiteral("S%1|client %1 disconnected forced=0 wan_duration=812 duration=812").arg(handle);
}

QString FakeFlexRadio::sliceUnusedLine(int id, const QString &handle)
{
    return QStringLiteral("S%1|slice %2 in_use=0").arg(handle, QString::number(id));
}

} // namespace kivo::test
