#pragma once

#include <QtGlobal>

#include <limits>

namespace kivo {

// What one client of a command server has set going on the radio, so that
// its going away undoes that and never the operator's own transmission.
struct ClientActivity {
    bool keyedTransmitter = false;
    bool startedCW = false;
    // The number this client's newest key took: once the radio's keys are
    // known undone up to it (an unkey confirmed after it, from any client,
    // the windows or the radio's own report), the key is gone already. An
    // older unkey confirmed late proves nothing of it.
    qint64 keyNumber = 0;

    // Everything undone, whatever was settled: a stop's goodbye.
    static ClientActivity everything()
    {
        return {.keyedTransmitter = true, .startedCW = true, .keyNumber = std::numeric_limits<qint64>::max()};
    }
    void noteKeyed(qint64 number)
    {
        keyedTransmitter = true;
        keyNumber = number;
    }
    // The key is still the client's to undo.
    bool owesUnkey(qint64 releasedThrough) const { return keyedTransmitter && keyNumber > releasedThrough; }

    bool operator==(const ClientActivity &) const = default;
};

} // namespace kivo
