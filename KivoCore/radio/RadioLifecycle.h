#pragma once

#include "KivoCore/radio/RadioBackend.h"
#include "KivoCore/support/ConnectionLifecycle.h"

#include <QCoroTask>

#include <chrono>
#include <functional>

namespace kivo {

// The radio backends' life cycle: the shared part plus the state they are
// in, their reports and the paced back-off of ReconnectBackoff.h.
class RadioLifecycle : public ConnectionLifecycle {
public:
    using StateHandler = RadioBackend::StateHandler;
    using SnapshotHandler = RadioBackend::SnapshotHandler;
    // Uniform in [0, 1]: the share of the back-off's random extra.
    using RandomSource = std::function<double()>;

    struct Options {
        StateHandler onState{};
        SnapshotHandler onSnapshot{};
        // How long one second of back-off lasts.
        std::chrono::milliseconds backoffSecond{1000};
        // The system's random source when empty.
        RandomSource random{};
    };

    RadioLifecycle(QObject *owner, std::function<void()> retry, Options options);

    RadioConnectionState state() const { return m_state; }
    void setState(RadioConnectionState state, const QString &status);
    // Reports without changing the state.
    void report(RadioConnectionState state, const QString &status) const;
    void publish(const RadioSnapshot &snapshot) const;

    // Counts a failure, reports "<reason>. Retrying in <n> s" and arms the retry.
    void retryLater(const QString &reason);
    // After a lost connection: the retry while running, "Stopped" otherwise.
    void retryUnlessStopped(const QString &reason);
    void reportStopped();
    RandomSource randomSource() const { return m_random; }

private:
    const StateHandler m_onState;
    const SnapshotHandler m_onSnapshot;
    const std::chrono::milliseconds m_backoffSecond;
    const RandomSource m_random;
    RadioConnectionState m_state = RadioConnectionState::Stopped;
};

// A snapshot handed out by value. QCoro 0.8 moves whatever lvalue is given to
// co_return, so `co_return m_value;` would empty the backend's own copy.
QCoro::Task<RadioSnapshot> snapshotCopy(RadioSnapshot snapshot);

} // namespace kivo
