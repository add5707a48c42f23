#pragma once

#include <QFile>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo::test {

// Makes a file or folder read-only, or writable again; for root, whom no
// permission stops, with the immutable flag. False when that cannot be done.
inline bool setReadOnly(const QString &path, bool readOnly)
{
    const QByteArray name = QFile::encodeName(path);
    if (::geteuid() != 0)
        return ::chmod(name.constData(), readOnly ? 0555 : 0755) == 0;
    const int descriptor = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    bool done = descriptor >= 0 && ::ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0;
    flags = readOnly ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0;
    if (descriptor >= 0)
        ::close(descriptor);
    return done;
}

} // namespace kivo::test
