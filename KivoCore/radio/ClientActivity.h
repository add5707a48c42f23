#pragma once

#include <QtGlobal>

#include <limits>

namespace kivo {

// What one client of a command server has set going on the radio, so that
// its going away undoes that and never the operator's own transmission.
struct ClientActivity {
    bool keyedTransmitter = false;
    bool startedCW = false;
    // The radio's count of confirmed unkeys when this client keyed: any unkey
    // confirmed after that (from any client, the windows or the radio's own
    // report) has undone the key already.
    qint64 unkeysWhenKeyed = 0;

    // Everything undone, whatever was confirmed: a stop's goodbye.
    static ClientActivity everything()
    {
        return {.keyedTransmitter = true, .startedCW = true, .unkeysWhenKeyed = std::numeric_limits<qint64>::max()};
    }
    void noteKeyed(qint64 confirmedUnkeys)
    {
        keyedTransmitter = true;
        unkeysWhenKeyed = confirmedUnkeys;
    }
    // The key is still the client's to undo.
    bool owesUnkey(qint64 confirmedUnkeys) const
    {
        return keyedTransmitter && confirmedUnkeys <= unkeysWhenKeyed;
    }

    bool operator==(const ClientActivity &) const = default;
};

} // namespace kivo
