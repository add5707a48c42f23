#include "QuendKivoApp/ProfileInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
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
    QStringList places{m_settingsFile + QStringLiteral(".instance-lock")};
    if (const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation); !runtime.isEmpty())
        places.append(runtime + u'/' + m_serverName + QStringLiteral(".lock"));
    QStringList unwritable;
    for (const QString &place : places) {
        auto lock = std::make_unique<QLockFile>(place);
        if (lock->tryLock(0)) {
            m_locks.push_back(std::move(lock));
        } else if (lock->error() == QLockFile::LockFailedError) {
            m_locks.clear();
            return false;
        } else {
            unwritable.append(QFileInfo(place).absolutePath());
        }
    }
    if (m_locks.empty())
        m_failure = QStringLiteral("no lock can be made in %1").arg(unwritable.join(QStringLiteral(" or ")));
    return !m_locks.empty();
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
