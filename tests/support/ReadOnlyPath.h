#pragma once

#include <QFile>
#include <QProcess>

#include <unistd.h>

namespace kivo::test {

// Read-only, or writable again; root passes every permission check but not the immutable flag.
inline bool setReadOnly(const QString &path, bool readOnly)
{
    if (::geteuid() == 0)
        return QProcess::execute(QStringLiteral("chattr"), {readOnly ? QStringLiteral("+i") : QStringLiteral("-i"), path}) == 0;
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner | (readOnly ? QFile::Permissions() : QFile::WriteOwner));
}

} // namespace kivo::test
