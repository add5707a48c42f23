#include "QuendKivoApp/ProfileInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo {

namespace {

const QByteArray kShown = QByteArrayLiteral("shown\n");
const QByteArray kNoDisplay = QByteArrayLiteral("no-display\n");

enum class Lock { Taken, HeldElsewhere, Unavailable };

bool sameFile(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// A kernel lock, not a lock file's contents: the system lets go of it when
// its holder ends however it ends (killed, a power cut), so a file left
// behind never blocks, also in a folder made read-only since.
Lock lockFile(const QByteArray &name, int *descriptor)
{
    for (;;) {
        int opened = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (opened < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
            opened = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        if (opened < 0)
            return Lock::Unavailable;
        if (::flock(opened, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(opened);
            return error == EWOULDBLOCK ? Lock::HeldElsewhere : Lock::Unavailable;
        }
        // A copy that quit meanwhile removed the file it held: lock the one
        // that now has the name, or a third copy could.
        struct stat held{}, named{};
        const int missing = ::stat(name.constData(), &named) == 0 ? 0 : errno;
        if (missing == 0 && ::fstat(opened, &held) == 0 && sameFile(held, named)) {
            *descriptor = opened;
            return Lock::Taken;
        }
        ::close(opened);
        if (missing != 0 && missing != ENOENT)
            return Lock::Unavailable;
    }
}

} // namespace

ProfileInstance::ProfileInstance(const QString &settingsFile)
    : m_settingsFile(QFileInfo(settingsFile).absoluteFilePath())
{
    const QByteArray digest = QCryptographicHash::hash(m_settingsFile.toUtf8(), QCryptographicHash::Sha256);
    m_serverName = QStringLiteral("quend-kivo-") + QString::fromLatin1(digest.toHex().left(16));
}

ProfileInstance::~ProfileInstance() { release(); }

void ProfileInstance::release()
{
    // Removed while still locked, so no later copy locks the old file.
    for (const auto &[descriptor, name] : m_locks) {
        ::unlink(name.constData());
        ::close(descriptor);
    }
    m_locks.clear();
}

bool ProfileInstance::acquire()
{
    QDir().mkpath(QFileInfo(m_settingsFile).absolutePath());
    // Not "<file>.lock": QSettings takes that one for each of its own writes.
    QStringList places{m_settingsFile + QStringLiteral(".instance-lock")};
    if (const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation); !runtime.isEmpty())
        places.append(runtime + u'/' + m_serverName + QStringLiteral(".lock"));
    QStringList unwritable;
    for (const QString &place : places) {
        const QByteArray name = QFile::encodeName(place);
        int descriptor = -1;
        switch (lockFile(name, &descriptor)) {
        case Lock::Taken:
            m_locks.emplace_back(descriptor, name);
            break;
        case Lock::HeldElsewhere:
            release();
            return false;
        case Lock::Unavailable:
            unwritable.append(QFileInfo(place).absolutePath());
            break;
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
