#pragma once

// One running copy per settings profile: lock files decide which copy runs
// (beside the settings file, and in the runtime folder, which a read-only
// profile cannot prevent), and a local socket named after the file lets a
// later start hand over to it.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <utility>
#include <vector>

namespace kivo {

class ProfileInstance {
public:
    enum class HandOver {
        // Nobody answered on the profile's socket.
        NoAnswer,
        // The running copy shows its configuration window.
        Shown,
        // The running copy has no display to show a window on.
        RunningWithoutDisplay,
    };

    explicit ProfileInstance(const QString &settingsFile);
    ~ProfileInstance();
    ProfileInstance(const ProfileInstance &) = delete;
    ProfileInstance &operator=(const ProfileInstance &) = delete;

    // True when this copy now holds the profile: it holds every lock that
    // can be made, and at least one. False when another copy holds one, or
    // when none can be made (then `failure()` says where it tried).
    bool acquire();
    QString failure() const { return m_failure; }
    QString serverName() const { return m_serverName; }

    // Asks the copy listening on `serverName` to show its window, waiting up
    // to `patience` for a copy that is still starting.
    static HandOver handOver(const QString &serverName,
                             std::chrono::milliseconds patience = std::chrono::milliseconds(5000));
    // The answer a running copy gives to a hand-over.
    static QByteArray answer(bool hasDisplay);

private:
    QString m_settingsFile;
    QString m_serverName;
    QString m_failure;
    // The files this copy holds locked: their open descriptors and names.
    std::vector<std::pair<int, QByteArray>> m_locks;
    void release();
};

} // namespace kivo
