#pragma once

// A FlexRadio on loopback for tests: speaks the FLEX API's lines (version
// and handle on connect, numbered replies, status lines), over plain TCP or
// TLS with a test certificate, answers commands by script and records every
// line it receives.

#include "support/RunTask.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QStringList>
#include <QTcpServer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

namespace kivo::test {

class FakeFlexRadio : public QObject {
    Q_OBJECT

public:
    // How the radio answers a command.
    struct Reply {
        enum class Kind { Accept, Reject, Silent };
        Kind kind = Kind::Accept;
        quint32 code = 0;
        QString message;
        std::chrono::milliseconds delay{0};

        static Reply accept(std::chrono::milliseconds delay = std::chrono::milliseconds(0));
        static Reply reject(quint32 code, const QString &message = {},
                            std::chrono::milliseconds delay = std::chrono::milliseconds(0));
        // No reply at all; the test may send one itself.
        static Reply silent();
    };

    struct Command {
        int connection = 0; // index into the accepted connections
        qint64 sequence = 0;
        QString text;
    };

    explicit FakeFlexRadio(QObject *parent = nullptr);
    ~FakeFlexRadio() override;

    // Loopback, port chosen by the system.
    bool listen();
    bool listenTls(const QString &certificatePemPath, const QString &keyPemPath);
    quint16 port() const;
    void close();

    // Sent to each new client as its session starts (after the handshake for
    // TLS). Default: a version line and a handle line.
    void setPrologue(const QStringList &lines) { m_prologue = lines; }
    static QStringList defaultPrologue();
    // The lines a real FLEX-6000 sends on a fresh connection.
    static QStringList samplePrologue();

    // The first rule whose prefix starts the command text decides; without
    // one, the command is accepted at once.
    void setReply(const QString &commandPrefix, Reply reply);
    void clearReplies() { m_rules.clear(); }
    // The operator's microphone PTT. As a real radio, the interlock goes
    // PTT_REQUESTED, TRANSMITTING when keyed and UNKEY_REQUESTED, READY when
    // released, each told to every client with who keyed ("source=MIC" here,
    // "source=SW" for "xmit 1" or a tune), and the current state is told to
    // a client that subscribes ("sub radio all"). An accepted "slice t" is
    // told only to the clients that did not send it.
    void setOperatorPtt(bool on);
    // Commands starting with `commandPrefix` (every command when empty)
    // neither reach the radio nor get a reply until release(), as over a
    // stalled link.
    void stall(const QString &commandPrefix = {});
    // Ends every stall: the held commands reach the radio and their replies
    // go out, in order; those of a connection since closed are lost.
    void release();
    bool isStalled() const { return !m_stalls.isEmpty(); }
    bool isTransmitting() const { return m_interlock == QLatin1String("TRANSMITTING"); }
    // A key made through the API ("xmit 1", a tune) still holds the
    // transmitter, in a fault state too, until "xmit 0" or the radio's own
    // release; the microphone keyed over it does not end it.
    bool softwareKeyed() const { return latched(QStringLiteral("SW")) || latched(QStringLiteral("TUNE")); }
    bool latched(const QString &source) const;
    // "cwx send" text that no "cwx clear" has emptied since.
    bool keyerHolds() const { return m_keyerHolds; }
    // The interlock goes to an abnormal state ("TX_FAULT", "TIMEOUT",
    // "STUCK_INPUT"), the key's source kept; "xmit 0" still releases it.
    void reportAbnormal(const QString &state);
    // A status line already on its way as a keying command arrives: the
    // interlock as it stood is told before the command's reply.
    bool interlockBeforeKeying = false;
    // "cwx send" keys the transmitter as software does; "cwx clear" empties
    // the keyer but the key stands until "xmit 0".
    bool cwKeys = false;
    // States the interlock goes through right after the next software key
    // lands, each told in turn, as when the amplifier faults as it keys.
    QStringList faultsOnNextKey;
    // A tune that starts a transmission is "source=TUNE" ("transmit tune 0"
    // or "xmit 0" ends it), not "SW".
    bool namesTune = false;
    // Interlock lines go out this long after the change, in order, to the
    // connections open when it happened: behind the replies sent meanwhile.
    std::chrono::milliseconds interlockLag{0};
    bool interlockOnItsWay() const { return !m_lagged.isEmpty(); }
    // Asked as each command arrives: true closes the link there, before
    // the command is acted on or anything after it is read.
    std::function<bool(const Command &)> closesOn;
    // Whether the interlock state is told to a client that subscribes;
    // some radios announce it only on transitions.
    void setAnnouncesInterlock(bool announces) { m_announcesInterlock = announces; }
    // The radio ends a transmission on its own (MOX released on the front
    // panel, the transmit time-out): UNKEY_REQUESTED, then READY.
    void releaseTransmitter() { unkey(); }
    // Called for every command after its reply (if any) went out.
    void setCommandHandler(std::function<void(const Command &)> handler) { m_handler = std::move(handler); }

    // To the newest connection, or to connection `index`.
    void sendLine(const QString &line);
    void sendLineTo(int connection, const QString &line);
    void sendRaw(const QByteArray &bytes);
    void sendReply(qint64 sequence, quint32 code = 0, const QString &message = {});
    // `bytes` bytes without a line feed.
    void flood(qint64 bytes, char filler = 'x');
    // Closes the newest connection (or connection `index`) from the radio's side.
    void dropClient();
    void dropConnection(int connection);
    // The newest connection stops taking bytes and is reset after `after`.
    void stopReadingThenReset(std::chrono::milliseconds after);
    // True once everything written has left for the peer.
    bool allWritten() const;

    int connectionCount() const { return int(m_connections.size()); }
    bool hasClient() const;
    // Every line received, as received, in order.
    QStringList receivedLines() const { return m_receivedLines; }
    QList<Command> commands() const { return m_commands; }
    // The command texts, in order; heartbeat pings left out unless asked for.
    QStringList commandTexts(bool withPings = false) const;
    void clearReceived();
    // "cwx send" texts as the radio reads them (quoted, DEL for blanks).
    QStringList cwxTexts() const;
    // Waits until a command with exactly this text arrived.
    bool waitForCommand(const QString &text, std::chrono::milliseconds timeout = patience) const;

    // Status lines as a radio writes them.
    static QString clientLine(const QString &handle, const QString &clientID, const QString &station,
                              const QString &program = QStringLiteral("SmartSDR-Win"));
    static QString sliceLine(int id, const QString &handle, const QString &letter, const QString &mhz,
                             const QString &mode, bool active, bool transmit);
    // How a radio tells of a station's going: its client, then each of its slices.
    static QString clientDisconnectedLine(const QString &handle);
    static QString sliceUnusedLine(int id, const QString &handle);

private:
    class TlsServer;
    struct Connection;

    void accept();
    void startSession(Connection *connection);
    void readFrom(Connection *connection);
    void answer(Connection *connection, const QString &line);
    void actOn(const Command &command);
    void key(const QString &source);
    void unkey();
    // "xmit 0" or the operator letting go ends one source's key; the last ends the transmission.
    void unlatch(const QString &source);
    void tellInterlock(int connection = -1);
    QTcpSocket *socketAt(int connection) const;

    std::unique_ptr<QTcpServer> m_server;
    QStringList m_prologue;
    QList<QPair<QString, Reply>> m_rules;
    QStringList m_stalls;
    // Commands held back by a stall with their replies.
    QList<QPair<Command, QString>> m_held;
    QString m_interlock = QStringLiteral("READY");
    // Every source latched now, hardware first, as the radio lists them.
    QStringList m_interlockSources;
    bool m_keyerHolds = false;
    bool m_announcesInterlock = true;
    QList<QPair<QList<int>, QString>> m_lagged;
    QDeadlineTimer m_lastLagged;
    std::function<void(const Command &)> m_handler;
    QList<std::shared_ptr<Connection>> m_connections;
    QStringList m_receivedLines;
    QList<Command> m_commands;
};

} // namespace kivo::test
