// One QCoreApplication for every test executable, so sockets, timers and
// coroutines have an event loop.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

// Whether a network access manager's thread still runs; the system keeps
// the first 15 characters of a thread's name.
bool networkThreadRunning()
{
    const QString tasks = QStringLiteral("/proc/self/task/");
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks + task + QStringLiteral("/comm"));
        if (name.open(QIODevice::ReadOnly) && name.readAll().startsWith("QNetworkAccessM"))
            return true;
    }
    return false;
}

// A QThread counts as finished before its thread has run its thread-local
// destructors. OpenSSL's exit handler then unregisters them, and what an
// HTTP thread of Qt holds (its random generators) would be reported as
// leaked when that thread had only just been stopped. Waiting for it to be
// gone makes the leak check see the process at rest.
void awaitEndingThreads()
{
    // Ending takes milliseconds; a thread still busy after a second is left.
    const QDeadlineTimer deadline(1000);
    while (networkThreadRunning() && !deadline.hasExpired())
        QThread::msleep(1);
    if (deadline.hasExpired())
        qWarning("a network thread was still running at exit");
}

} // namespace

int main(int argc, char **argv)
{
    int result = 0;
    {
        QCoreApplication app(argc, argv);
        ::testing::InitGoogleMock(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    awaitEndingThreads();
    return result;
}
