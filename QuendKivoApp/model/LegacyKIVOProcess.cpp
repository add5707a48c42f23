#include "QuendKivoApp/model/LegacyKIVOProcess.h"

#include "QuendKivoApp/model/AppModelRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <optional>

#include <unistd.h>

namespace kivo {

namespace {

// Field 22 of /proc/<pid>/stat; nothing once the process has ended (or is
// a zombie nobody reaped).
std::optional<QByteArray> processStartTime(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = stat.readAll();
    // The name in parentheses may hold blanks; the fields after it do not.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 1).simplified().split(' ');
    if (fields.size() < 20 || fields[0] == "Z" || fields[0] == "X")
        return std::nullopt;
    return fields[19];
}

} // namespace

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
        const QByteArray commText = comm.open(QIODevice::ReadOnly) ? comm.readAll() : QByteArray();
        const QByteArray commandLine = cmdline.open(QIODevice::ReadOnly) ? cmdline.read(4096) : QByteArray();
        if (processMatches(name, commText, commandLine))
            return true;
    }
    return false;
}

LaunchedProcess launchDetached(const QString &program, const QStringList &arguments)
{
    qint64 pid = 0;
    if (!QProcess::startDetached(program, arguments, QString(), &pid) || pid <= 0)
        return {};
    // The start time tells the process from a later one given the same pid.
    const std::optional<QByteArray> started = processStartTime(pid);
    return [pid, started] { return started && processStartTime(pid) == started; };
}

} // namespace kivo
