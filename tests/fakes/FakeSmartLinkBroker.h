#pragma once

// A stand-in for the SmartLink broker: TLS on loopback with the test
// certificate, answering the register line with a scripted radio list and a
// connect request with "radio connect_ready", and recording every line.

#include "fakes/TestTls.h"

#include <QByteArray>
#include <QHash>
#include <QPointer>
#include <QStringList>

namespace kivo::test {

class FakeSmartLinkBroker : public QObject {
    Q_OBJECT

public:
    // One entry of a radio list, from key=value pairs in the given order.
    static QString radioEntry(const QList<QPair<QString, QString>> &pairs);
    static QString radioList(const QStringList &entries);

    explicit FakeSmartLinkBroker(QObject *parent = nullptr);

    bool listen();
    quint16 port() const { return m_server.serverPort(); }

    // Sent in answer to "application register"; nothing when empty.
    QString radioListLine;
    // Answer "application connect serial=X" with a connect-ready line for X.
    bool answerConnect = true;
    QString handle = QStringLiteral("wan-handle-1");

    QStringList receivedLines() const { return m_lines; }
    QStringList receivedLinesStartingWith(const QString &prefix) const;
    int connectionCount() const { return m_connectionCount; }
    bool hasClient() const { return !m_client.isNull(); }

    void sendLine(const QString &line) { sendRaw(line.toUtf8() + '\n'); }
    void sendRaw(const QByteArray &bytes);
    void closeClient();

private:
    void serve(QSslSocket *socket);
    void read();

    TlsServer m_server;
    QPointer<QSslSocket> m_client;
    QByteArray m_buffer;
    QStringList m_lines;
    int m_connectionCount = 0;
};

} // namespace kivo::test
