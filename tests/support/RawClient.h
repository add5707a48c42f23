#pragma once

// A plain TCP client for tests, on a non-blocking POSIX socket so it can
// half-close and reset, and so it never blocks the event loop that serves it.

#include "support/RunTask.h"

#include <QAbstractEventDispatcher>
#include <QByteArray>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kivo::test {

class RawClient {
public:
    explicit RawClient(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    }
    ~RawClient() { close(); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool isConnected() const { return m_connected; }

    void send(const QByteArray &bytes)
    {
        qsizetype offset = 0;
        while (offset < bytes.size()) {
            const ssize_t sent = ::send(m_fd, bytes.constData() + offset, size_t(bytes.size() - offset), MSG_NOSIGNAL);
            if (sent > 0)
                offset += sent;
            else
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }

    // True once a server in this process has read every byte sent: its
    // system acknowledged them all, and no work of the server's is left.
    bool waitUntilTaken()
    {
        const bool delivered = waitUntil([&] {
            int unacknowledged = 0;
            return ::ioctl(m_fd, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0;
        });
        QDeadlineTimer deadline(patience);
        while (QAbstractEventDispatcher::instance()->processEvents(QEventLoop::AllEvents)) {
            if (deadline.hasExpired())
                return false;
        }
        return delivered;
    }

    // Reads until `count` bytes arrived, the peer closed, or time ran out.
    QByteArray read(qsizetype count, std::chrono::milliseconds timeout = 5s)
    {
        waitUntil([&] { pump(); return m_received.size() >= count || m_ended; }, timeout);
        const QByteArray result = m_received.left(count);
        m_received.remove(0, result.size());
        return result;
    }

    // Everything that arrives within `duration`.
    QByteArray drain(std::chrono::milliseconds duration = 100ms)
    {
        QDeadlineTimer deadline(duration);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            pump();
        }
        const QByteArray result = m_received;
        m_received.clear();
        return result;
    }

    // True once the server has closed the connection.
    bool waitForEnd(std::chrono::milliseconds timeout = 5s)
    {
        return waitUntil([&] { pump(); return m_ended; }, timeout);
    }

    void shutdownWrite() { ::shutdown(m_fd, SHUT_WR); }

    // Closes with a reset instead of an orderly end.
    void reset()
    {
        linger option{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
        close();
    }

    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    void pump()
    {
        if (m_fd < 0)
            return;
        char buffer[16384];
        for (;;) {
            const ssize_t count = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (count > 0) {
                m_received.append(buffer, count);
                continue;
            }
            if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                m_ended = true;
            return;
        }
    }

    int m_fd = -1;
    bool m_connected = false;
    bool m_ended = false;
    QByteArray m_received;
};

} // namespace kivo::test
