#include "QuendKivoApp/model/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace kivo {

namespace {

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// What changes when a file is written or replaced.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    qint64 size = 0;
    timespec changed{};
    timespec modified{};

    bool operator==(const FileStamp &other) const
    {
        return exists == other.exists && device == other.device && inode == other.inode && size == other.size
               && changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec
               && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
    }
};

FileStamp stampOf(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {.exists = true,
            .device = info.st_dev,
            .inode = info.st_ino,
            .size = qint64(info.st_size),
            .changed = info.st_ctim,
            .modified = info.st_mtim};
}

// Writes every byte and syncs them; the system's reason when that fails.
// A buffered write that stops short (a disk filling up) reports none.
QString writeAll(int descriptor, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), size_t(bytes.size()));
        if (written < 0 && errno != EINTR)
            return systemError(errno);
        if (written > 0)
            bytes = bytes.sliced(written);
    }
    // A full disk may only say so when the blocks are allocated.
    return ::fsync(descriptor) == 0 ? QString() : systemError(errno);
}

// Makes the folder of `path` as QSettings would; the system's reason when
// a folder on the way cannot be made. A trial file in a missing folder
// would only say that the folder is missing.
QString folderProblem(const QString &path)
{
    QString folder;
    for (const QString &part : QFileInfo(path).absolutePath().split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        folder += QLatin1Char('/') + part;
        if (::mkdir(QFile::encodeName(folder).constData(), 0777) != 0 && errno != EEXIST)
            return systemError(errno);
    }
    return {};
}

// Why a file of this size cannot be written next to `path`, found by
// writing one; empty when the trial succeeds.
QString trialWriteProblem(const QString &path, qint64 size)
{
    if (const QString problem = folderProblem(path); !problem.isEmpty())
        return problem;
    // QSaveFile will not replace a file it could not write in place, even
    // where it could write beside it.
    if (QFileInfo::exists(path) && ::access(QFile::encodeName(path).constData(), W_OK) != 0)
        return systemError(errno);
    QTemporaryFile trial(path + QStringLiteral(".XXXXXX"));
    if (!trial.open())
        return trial.errorString();
    return writeAll(trial.handle(), QByteArray(qMax<qint64>(size, 1), ' '));
}

// Replaces `path` with `bytes` whole, or leaves it as it was; the system's
// reason when that fails. Written past QSaveFile's own buffer: a buffered
// write that fails at commit loses its reason and still renames the file.
QString replaceWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (const QString problem = writeAll(file.handle(), bytes); !problem.isEmpty())
        return problem;
    return file.commit() ? QString() : file.errorString();
}

// Puts back the file as `previous` read it (or removes it when there was
// none); the system's reason when that fails.
QString putBack(const QString &path, const SettingsFileReading &previous)
{
    if (previous.existed)
        return replaceWhole(path, previous.bytes);
    QFile file(path);
    return file.remove() ? QString() : file.errorString();
}

struct IniScan {
    // Why QSettings would reject or misread the text; empty when it reads
    // it as written. Every file QSettings writes passes.
    QString problem{};
    qsizetype settingLines = 0;
};

IniScan scanIni(const QByteArray &text)
{
    // QSettings escapes every control byte it writes and writes UTF-8; it
    // would read such bytes as other text and write that back.
    if (text.contains('\0'))
        return {.problem = QStringLiteral("it holds NUL bytes, which no settings file does")};
    if (!text.isValidUtf8())
        return {.problem = QStringLiteral("it is not UTF-8 text")};
    const auto lineNumber = [&text](qsizetype at) { return QByteArrayView(text).first(at).count('\n') + 1; };
    const auto isLineBreak = [](char c) { return c == '\n' || c == '\r'; };
    // Lines as QSettings cuts them: a line break or ";" outside quotes ends
    // one, a backslash escapes the next byte (a line break with its pair),
    // ";" at the start of a line begins a comment.
    IniScan scan;
    qsizetype at = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (at < text.size()) {
        const char first = text.at(at);
        if (first == ' ' || first == '\t' || isLineBreak(first)) {
            ++at;
            continue;
        }
        if (first == ';') {
            while (at < text.size() && !isLineBreak(text.at(at)))
                ++at;
            continue;
        }
        const qsizetype start = at;
        bool quoted = false;
        bool hasEquals = false;
        for (; at < text.size(); ++at) {
            const char c = text.at(at);
            if (c == '\\') {
                if (++at + 1 < text.size() && isLineBreak(text.at(at)) && isLineBreak(text.at(at + 1))
                    && text.at(at) != text.at(at + 1))
                    ++at;
            } else if (c == '"') {
                quoted = !quoted;
            } else if (!quoted && (isLineBreak(c) || c == ';')) {
                break;
            } else if (!quoted && c == '=') {
                hasEquals = true;
            }
        }
        const QByteArrayView line = QByteArrayView(text).sliced(start, qMin(at, text.size()) - start);
        // QSettings reports both as a format error, but only once the
        // section is read, and keeps going with what it could make of it.
        if (first == '[' && !line.contains(']'))
            return {.problem = QStringLiteral("line %1 opens a section that is never closed").arg(lineNumber(start))};
        if (first != '[' && !hasEquals)
            return {.problem = QStringLiteral("line %1 is neither a section, a setting nor a comment")
                                   .arg(lineNumber(start))};
        if (first != '[')
            ++scan.settingLines;
    }
    return scan;
}

} // namespace

SettingsFileReading readSettingsFile(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        const int error = errno;
        // No file yet (or no folder yet) is the first run, not a problem.
        return {.problem = error == ENOENT || error == ENOTDIR ? QString() : systemError(error)};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {.problem = file.errorString()};
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {.problem = file.errorString()};
    const QString problem = scanIni(bytes).problem;
    return {.problem = problem, .damaged = !problem.isEmpty(), .existed = true, .bytes = std::move(bytes)};
}

KeptCopy keepDamagedCopy(const QString &file, const QByteArray &bytes, const QDateTime &now)
{
    const QFileInfo info(file);
    // Each start that finds the same damage reports it; one copy is enough.
    const QFileInfoList earlier = info.dir().entryInfoList({info.fileName() + QStringLiteral(".damaged-*")},
                                                           QDir::Files | QDir::Hidden, QDir::Name);
    for (const QFileInfo &copy : earlier) {
        QFile kept(copy.filePath());
        if (copy.size() == bytes.size() && kept.open(QIODevice::ReadOnly) && kept.readAll() == bytes)
            return {.path = copy.filePath()};
    }
    const QString base = file + QStringLiteral(".damaged-") + now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString path = base;
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = base + QLatin1Char('-') + QString::number(n);
    // Whole or not at all, so a full disk leaves no half copy.
    if (const QString problem = replaceWhole(path, bytes); !problem.isEmpty())
        return {.failure = problem};
    return {.path = path};
}

bool writeSettingsValues(QSettings &settings, const SettingsFileReading &previous,
                         const QList<std::pair<QString, QVariant>> &values, QString *failure)
{
    const QString file = settings.fileName();
    // A successful sync replaces the file; a failed one leaves it as it was.
    const FileStamp before = stampOf(file);
    qint64 size = before.size;
    for (const auto &[key, value] : values) {
        settings.setValue(key, value);
        size += key.size() + value.toByteArray().size() + 16;
    }
    settings.sync();
    const bool replaced = !(stampOf(file) == before);
    if (replaced) {
        // QSettings writes one line per key and ends with a line break. When
        // the disk fills during the write it still replaces the file, with
        // what it could write or nothing, and reports no error.
        settings.setFallbacksEnabled(false);
        QFile written(file);
        const QByteArray bytes = written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray();
        const IniScan scan = scanIni(bytes);
        if (scan.problem.isEmpty() && bytes.endsWith('\n') && scan.settingLines == settings.allKeys().size())
            return true;
    }
    // The file as it was first, so the trial meets the room the write met.
    const QString lost = replaced ? putBack(file, previous) : QString();
    const QString reason = trialWriteProblem(file, size);
    *failure = reason.isEmpty() ? QStringLiteral("%1 could not be written").arg(file)
                                : QStringLiteral("%1 could not be written: %2").arg(file, reason);
    *failure += lost.isEmpty() ? QStringLiteral(".")
                               : QStringLiteral(", and the settings it held could not be put back: %1.").arg(lost);
    return false;
}

} // namespace kivo
