#include "QuendKivoApp/model/LegacyKIVOProcess.h"

#include "QuendKivoApp/model/AppModelRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <unistd.h>

namespace kivo {

bool currentUserRunsProcess(const QString &name)
{
    if (name.isEmpty())
        return false;
    const uint me = ::getuid();
    const QDir proc(QStringLiteral("/proc"));
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        entry.toLongLong(&numeric);
        if (!numeric || QFileInfo(proc.filePath(entry)).ownerId() != me)
            continue;
        QFile comm(proc.filePath(entry + QStringLiteral("/comm")));
        QFile cmdline(proc.filePath(entry + QStringLiteral("/cmdline")));
        const QString commText =
            comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()) : QString();
        const QByteArray commandLine = cmdline.open(QIODevice::ReadOnly) ? cmdline.read(4096) : QByteArray();
        if (processMatches(name, commText, commandLine))
            return true;
    }
    return false;
}

bool launchDetached(const QString &program, const QStringList &arguments)
{
    return QProcess::startDetached(program, arguments);
}

} // namespace kivo
