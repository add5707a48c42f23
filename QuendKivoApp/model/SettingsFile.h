#pragma once

// The stored settings file, judged by its own bytes. QSettings shares one
// parsed copy of a file between all its objects in the process, so a status
// it reports may belong to another object's read or to an earlier failed
// write; these functions look at the file itself.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

#include <utility>

class QSettings;

namespace kivo {

// The settings file as read at one moment.
struct SettingsFileReading {
    // Why the file cannot be used as it stands; empty when it can, or when
    // there is no file yet.
    QString problem{};
    // The file was read, but QSettings would reject or misread its text.
    bool damaged = false;
    bool existed = false;
    QByteArray bytes{};
};
SettingsFileReading readSettingsFile(const QString &path);

// Keeps damaged bytes next to their file as "<file>.damaged-<time>" (or
// names the copy an earlier start kept of the same bytes).
struct KeptCopy {
    QString path{};
    QString failure{};
};
KeptCopy keepDamagedCopy(const QString &file, const QByteArray &bytes, const QDateTime &now);

// Stores the values through `settings` (opened just before) and judges the
// write by what happened to the file: replaced, and holding every setting.
// A write that left the file incomplete puts back `previous`, the file as
// read before, by replacing the file whole as the write did. A failure
// names the system's reason when a trial write next to the file shows it.
bool writeSettingsValues(QSettings &settings, const SettingsFileReading &previous,
                         const QList<std::pair<QString, QVariant>> &values, QString *failure);

} // namespace kivo
