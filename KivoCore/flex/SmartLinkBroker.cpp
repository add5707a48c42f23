#include "KivoCore/flex/SmartLinkBroker.h"

#include "KivoCore/support/LogCategories.h"
#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/Redaction.h"
#include "KivoCore/support/ReconnectBackoff.h"
#include "KivoCore/support/Text.h"

#include <QStringDecoder>

// The broker is a deployment value; a build may supply another.
#ifndef QK_SMARTLINK_BROKER_HOST
#define QK_SMARTLINK_BROKER_HOST "smartlink.flexradio.com"
#endif

namespace kivo {

namespace {

constexpr qint64 kReadChunkBytes = 16384;
const QString kRadioListPrefix = QStringLiteral("radio list ");

// key=value pairs separated by blanks. A piece splits once at its first "="
// that follows something; leading "=" are skipped and later ones belong to
// the value. Pieces without both a key and a value are ignored.
QHash<QString, QString> keyValues(const QString &text)
{
    QHash<QString, QString> pairs;
    const QStringList pieces = text.split(u' ', Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        qsizetype start = 0;
        while (start < piece.size() && piece.at(start) == u'=')
            ++start;
        const qsizetype equals = piece.indexOf(u'=', start);
        if (equals < 0 || equals + 1 >= piece.size())
            continue;
        pairs.insert(piece.mid(start, equals - start), piece.mid(equals + 1));
    }
    return pairs;
}

// The integer of a value, -1 when it is missing or no integer.
qint64 numberOr(const QHash<QString, QString> &pairs, const QString &key, qint64 missing = -1)
{
    const auto it = pairs.constFind(key);
    if (it == pairs.constEnd())
        return missing;
    return parseStrictInteger(*it).value_or(-1);
}

// The broker writes U+007F where a value holds a blank.
QString withBlanks(QString text)
{
    return text.replace(QChar(0x7F), QChar(u' '));
}

std::optional<SmartLinkRadio> radioFrom(const QString &piece)
{
    const auto kv = keyValues(piece);
    const QString serial = kv.value(QStringLiteral("serial"));
    const QString publicIP = kv.value(QStringLiteral("public_ip"));
    if (serial.isEmpty() || publicIP.isEmpty())
        return std::nullopt;

    const qint64 publicTLS = numberOr(kv, QStringLiteral("public_tls_port"));
    const qint64 publicUDP = numberOr(kv, QStringLiteral("public_udp_port"));
    const qint64 upnpUDP = numberOr(kv, QStringLiteral("public_upnp_udp_port"));
    const bool hasUpnpTLS = kv.contains(QStringLiteral("public_upnp_tls_port"));
    const qint64 upnpTLS = numberOr(kv, QStringLiteral("public_upnp_tls_port"));
    const bool upnp = kv.value(QStringLiteral("upnp_supported")) == u"1";

    qint64 tlsPort = -1;
    if (publicTLS >= 1)
        tlsPort = publicTLS;
    else if (upnp && hasUpnpTLS && upnpTLS >= 0)
        tlsPort = upnpTLS;
    if (tlsPort < 0 || tlsPort > 65535)
        return std::nullopt;

    std::optional<quint16> udpPort;
    const qint64 udp = publicUDP >= 1 ? publicUDP : (upnp ? upnpUDP : -1);
    if (udp >= 0 && udp <= 65535)
        udpPort = static_cast<quint16>(udp);

    SmartLinkRadio radio;
    radio.serial = serial;
    radio.nickname = withBlanks(
        kv.value(QStringLiteral("radio_name"), kv.value(QStringLiteral("name"), QStringLiteral("FlexRadio"))));
    radio.model = withBlanks(kv.value(QStringLiteral("model"), QStringLiteral("FlexRadio")));
    radio.status = withBlanks(kv.value(QStringLiteral("status"), QStringLiteral("Unknown")));
    radio.publicIP = publicIP;
    radio.tlsPort = static_cast<quint16>(tlsPort);
    radio.udpPort = udpPort;
    return radio;
}

SmartLinkBrokerError stoppedError()
{
    return SmartLinkBrokerError::disconnected(QStringLiteral("SmartLink broker stopped."));
}

bool isAvailable(const SmartLinkRadio &radio)
{
    const QString status = radio.status.toLower();
    return status.contains(u"available") && !status.contains(u"unavailable");
}

// The configured radio only, when one is configured; otherwise the first
// available one, or the first of all.
std::optional<SmartLinkRadio> chooseRadio(const QList<SmartLinkRadio> &radios, const QString &preferredSerial)
{
    if (!preferredSerial.isEmpty()) {
        for (const SmartLinkRadio &radio : radios) {
            if (radio.serial == preferredSerial)
                return radio;
        }
        return std::nullopt;
    }
    for (const SmartLinkRadio &radio : radios) {
        if (isAvailable(radio))
            return radio;
    }
    if (radios.isEmpty())
        return std::nullopt;
    return radios.constFirst();
}

} // namespace

namespace SmartLinkBrokerParser {

QList<SmartLinkRadio> radios(const QString &line)
{
    QList<SmartLinkRadio> result;
    if (!line.startsWith(kRadioListPrefix))
        return result;
    const QStringList pieces = line.mid(kRadioListPrefix.size()).split(u'|', Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        if (auto radio = radioFrom(piece))
            result.append(*radio);
    }
    return result;
}

std::optional<ConnectReady> connectReady(const QString &line)
{
    if (!line.startsWith(u"radio connect_ready"))
        return std::nullopt;
    const auto kv = keyValues(line);
    const QString handle = kv.value(QStringLiteral("handle"));
    const QString serial = kv.value(QStringLiteral("serial"));
    if (handle.isEmpty() || serial.isEmpty())
        return std::nullopt;
    return ConnectReady{handle, serial};
}

} // namespace SmartLinkBrokerParser

SmartLinkBrokerError::SmartLinkBrokerError(Kind kind, const QString &message)
    : m_kind(kind), m_message(message), m_what(message.toUtf8())
{
}

SmartLinkBrokerError SmartLinkBrokerError::disconnected(const QString &message)
{
    return SmartLinkBrokerError(Kind::Disconnected, message);
}

SmartLinkBrokerError SmartLinkBrokerError::noRadio()
{
    return SmartLinkBrokerError(Kind::NoRadio,
                                QStringLiteral("No remotely reachable FlexRadio is available in this SmartLink account."));
}

SmartLinkBrokerError SmartLinkBrokerError::malformedResponse()
{
    return SmartLinkBrokerError(Kind::MalformedResponse,
                                QStringLiteral("SmartLink returned an invalid radio connection response."));
}

QString SmartLinkBrokerEndpoint::defaultHost()
{
    return QStringLiteral(QK_SMARTLINK_BROKER_HOST);
}

SmartLinkBroker::SmartLinkBroker(Options options, DisconnectHandler onDisconnect, QObject *parent)
    : QObject(parent),
      m_idToken(std::move(options.idToken)),
      m_preferredSerial(std::move(options.preferredSerial)),
      m_onDisconnect(std::move(onDisconnect)),
      m_endpoint(std::move(options.endpoint))
{
    setObjectName(QString::fromLatin1(lcSmartLinkBroker().categoryName()));
    m_timeoutTimer.setSingleShot(true);
    QObject::connect(&m_timeoutTimer, &QTimer::timeout, this,
                     [this] { fail(QStringLiteral("SmartLink broker timed out waiting for the radio.")); });
    QObject::connect(&m_pingTimer, &QTimer::timeout, this, [this] { send(QStringLiteral("ping from client\n")); });
}

SmartLinkBroker::~SmartLinkBroker()
{
    // A connect() still waiting ends instead of hanging; it reads nothing of
    // this object afterwards.
    m_stopped = true;
    finish(stoppedError());
}

QCoro::Task<SmartLinkWANSession> SmartLinkBroker::connect()
{
    OneShot<SmartLinkWANSession> result = m_result;
    if (!m_opened && !m_stopped) {
        m_opened = true;
        open();
    }
    co_return co_await result;
}

void SmartLinkBroker::open()
{
    auto *socket = new QSslSocket(this);
    m_socket = socket;
    if (m_endpoint.sslConfiguration)
        socket->setSslConfiguration(*m_endpoint.sslConfiguration);
    QObject::connect(socket, &QSslSocket::encrypted, this, &SmartLinkBroker::handleReady);
    QObject::connect(socket, &QSslSocket::errorOccurred, this, &SmartLinkBroker::handleSocketError);
    QObject::connect(socket, &QSslSocket::disconnected, this, &SmartLinkBroker::handleDisconnected);
    QObject::connect(socket, &QSslSocket::readyRead, this, &SmartLinkBroker::receive);
    m_timeoutTimer.start(m_endpoint.responseTimeout);
    socket->connectToHostEncrypted(m_endpoint.host, m_endpoint.port);
}

void SmartLinkBroker::handleReady()
{
    m_ready = true;
    send(QStringLiteral("application register name=Quend-Kivo platform=macOS token=") + m_idToken + u'\n');
    receive();
    m_pingTimer.start(m_endpoint.pingInterval);
}

void SmartLinkBroker::handleSocketError(QAbstractSocket::SocketError error)
{
    if (!m_socket)
        return;
    const QString description = m_socket->errorString();
    if (!m_ready) {
        fail((isWaitingSocketError(error) ? QStringLiteral("SmartLink broker waiting: ")
                                          : QStringLiteral("SmartLink broker failed: "))
             + description);
    } else if (error == QAbstractSocket::RemoteHostClosedError) {
        // Lines that came with the end of the stream still count.
        receive();
        fail(QStringLiteral("SmartLink broker closed."));
    } else {
        fail(QStringLiteral("SmartLink broker receive failed: ") + description);
    }
    endSocketEvents();
}

void SmartLinkBroker::handleDisconnected()
{
    if (!m_socket)
        return;
    if (m_ready) {
        receive();
        fail(QStringLiteral("SmartLink broker closed."));
    } else {
        fail(QStringLiteral("SmartLink broker disconnected."));
    }
    endSocketEvents();
}

void SmartLinkBroker::endSocketEvents()
{
    // One report per connection: the events that follow the first only
    // repeat it.
    if (m_socket)
        m_socket->disconnect(this);
}

void SmartLinkBroker::receive()
{
    while (m_socket && !m_readingStopped && m_socket->bytesAvailable() > 0)
        consume(m_socket->read(kReadChunkBytes));
}

void SmartLinkBroker::consume(const QByteArray &data)
{
    m_buffer.append(data);
    if (m_buffer.size() > kMaximumBufferedBytes) {
        // Once is enough: drop what piled up and read no more, so neither
        // memory nor reports keep growing until the owner stops the broker.
        m_buffer.clear();
        m_buffer.squeeze();
        m_readingStopped = true;
        if (m_socket)
            m_socket->setReadBufferSize(kReadChunkBytes);
        fail(QStringLiteral("SmartLink broker response exceeded the safety limit."));
        return;
    }
    for (qsizetype end = m_buffer.indexOf('\n'); end >= 0; end = m_buffer.indexOf('\n')) {
        const QByteArray raw = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString line = trimmed(decoder.decode(raw));
        if (decoder.hasError() || line.isEmpty())
            continue;
        qCDebug(lcSmartLinkBroker) << "received" << redactedSecrets(line);
        parse(line);
    }
}

void SmartLinkBroker::parse(const QString &line)
{
    if (line.startsWith(u"application registration_invalid")) {
        fail(QStringLiteral("SmartLink rejected the login token."));
        return;
    }
    if (line.startsWith(kRadioListPrefix)) {
        if (m_completed)
            return;
        const auto radio = chooseRadio(SmartLinkBrokerParser::radios(line), m_preferredSerial);
        if (!radio) {
            finish(SmartLinkBrokerError::noRadio());
            return;
        }
        m_selectedRadio = radio;
        send(QStringLiteral("application connect serial=") + radio->serial + QStringLiteral(" hole_punch_port=0\n"));
        return;
    }
    if (const auto ready = SmartLinkBrokerParser::connectReady(line)) {
        if (m_selectedRadio && m_selectedRadio->serial == ready->serial)
            finish(SmartLinkWANSession{*m_selectedRadio, ready->handle});
        else
            finish(SmartLinkBrokerError::malformedResponse());
    }
}

void SmartLinkBroker::send(const QString &text)
{
    if (!m_socket)
        return;
    qCDebug(lcSmartLinkBroker) << "sent" << redactedSecrets(trimmed(text));
    m_socket->write(text.toUtf8());
}

void SmartLinkBroker::fail(const QString &message)
{
    finish(SmartLinkBrokerError::disconnected(message));
    reportDisconnect(message);
}

void SmartLinkBroker::finish(SmartLinkWANSession session)
{
    if (m_completed)
        return;
    m_completed = true;
    m_timeoutTimer.stop();
    m_result.resolve(std::move(session));
}

void SmartLinkBroker::finish(const SmartLinkBrokerError &error)
{
    if (m_completed)
        return;
    m_completed = true;
    m_timeoutTimer.stop();
    m_result.fail(error);
}

void SmartLinkBroker::reportDisconnect(const QString &message)
{
    // Posted after connect()'s own answer, and never into the middle of a read.
    QMetaObject::invokeMethod(
        this,
        [this, message] {
            if (!m_stopped && m_onDisconnect)
                m_onDisconnect(message);
        },
        Qt::QueuedConnection);
}

void SmartLinkBroker::stop()
{
    m_stopped = true;
    m_pingTimer.stop();
    m_timeoutTimer.stop();
    if (m_socket) {
        QSslSocket *socket = m_socket;
        m_socket = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    finish(stoppedError());
}

} // namespace kivo
