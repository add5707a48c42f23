#pragma once

#include "KivoCore/radio/RadioControlling.h"

#include <QString>
#include <functional>

namespace kivo {

// A radio backend as the application holds it: the radio operations plus a
// life cycle, the same for every connection kind. State and snapshots are
// reported through the handlers given at construction. Every backend is
// built on RadioBackendBase, which fixes the order of these steps.
class RadioBackend : public RadioControlling {
public:
    using StateHandler = std::function<void(RadioConnectionState state, const QString &status)>;
    using SnapshotHandler = std::function<void(const RadioSnapshot &snapshot)>;
    // A line for the events log that is no change of state.
    using EventHandler = std::function<void(const QString &line)>;

    // Begins connecting; a second call while running does nothing.
    virtual void start() = 0;
    // Ends with the backend quiet: once the task is done no handler runs,
    // no timer is armed and none of its work is left suspended.
    virtual QCoro::Task<void> stop() = 0;
    // Drops the connection and connects again at once, the back-off cleared;
    // starts a stopped backend.
    virtual void reconnectNow() = 0;
    virtual void setEventHandler(EventHandler handler) = 0;
};

} // namespace kivo
