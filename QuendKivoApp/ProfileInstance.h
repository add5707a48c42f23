#pragma once

// One running copy per settings profile: a lock file beside the settings
// file decides which copy runs, and a local socket named after the file lets
// a later start hand over to it.

#include <QString>

#include <chrono>
#include <memory>

class QLockFile;

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

    // True when this copy now holds the profile. A lock that cannot be made
    // at all (an unwritable folder) does not stop the bridge: it runs.
    bool acquire();
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
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace kivo
