#include "QuendKivoApp/ProfileInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

namespace kivo {

namespace {

const QByteArray kShown = QByteArrayLiteral("shown\n");
const QByteArray kNoDisplay = QByteArrayLiteral("no-display\n");

} // namespace

ProfileInstance::ProfileInstance(const QString &settingsFile)
    : m_settingsFile(QFileInfo(settingsFile).absoluteFilePath())
{
    const QByteArray digest = QCryptographicHash::hash(m_settingsFile.toUtf8(), QCryptographicHash::Sha256);
    m_serverName = QStringLiteral("quend-kivo-") + QString::fromLatin1(digest.toHex().left(16));
}

ProfileInstance::~ProfileInstance() = default;

bool ProfileInstance::acquire()
{
    QDir().mkpath(QFileInfo(m_settingsFile).absolutePath());
    // Not "<file>.lock": QSettings takes that one for each of its own writes.
    m_lock = std::make_unique<QLockFile>(m_settingsFile + QStringLiteral(".instance-lock"));
    if (m_lock->tryLock(0))
        return true;
    return m_lock->error() != QLockFile::LockFailedError;
}

ProfileInstance::HandOver ProfileInstance::handOver(const QString &serverName, std::chrono::milliseconds patience)
{
    // Start-up only, before any window exists: blocking waits are fine here.
    QDeadlineTimer deadline(patience);
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(serverName);
        if (socket.waitForConnected(1000)) {
            socket.write("show\n");
            socket.waitForBytesWritten(1000);
            while (!socket.canReadLine() && socket.waitForReadyRead(2000)) {
            }
            return socket.readLine() == kNoDisplay ? HandOver::RunningWithoutDisplay : HandOver::Shown;
        }
        if (deadline.hasExpired())
            return HandOver::NoAnswer;
        QThread::msleep(100);
    }
}

QByteArray ProfileInstance::answer(bool hasDisplay)
{
    return hasDisplay ? kShown : kNoDisplay;
}

} // namespace kivo
