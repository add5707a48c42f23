#pragma once

// Shared by the test mains: wait for Qt's HTTP threads to be gone at exit.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

namespace test {

// Whether a network access manager's thread still runs; the system keeps
// the first 15 characters of a thread's name.
inline bool networkThreadRunning()
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
inline void awaitEndingThreads()
{
    // Ending takes milliseconds; on a loaded machine it may take seconds.
    const QDeadlineTimer deadline(10000);
    while (networkThreadRunning() && !deadline.hasExpired())
        QThread::msleep(1);
    if (deadline.hasExpired())
        qWarning("a network thread was still running at exit");
}

} // namespace test
