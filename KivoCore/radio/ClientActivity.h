#pragma once

#include <QtGlobal>

#include <atomic>
#include <limits>

namespace kivo {

// What one client of a command server has set going on the radio, so that
// its going away undoes that and never the operator's own transmission.
struct ClientActivity {
    // Who the client is to the radio's ledger; copies keep it.
    qint64 identity = newIdentity();
    bool keyedTransmitter = false;
    bool startedCW = false;
    // The number this client's newest key took: once the radio's keys are
    // known undone up to it (an unkey confirmed after it, from any client,
    // the windows or the radio's own report), the key is gone already. An
    // older unkey confirmed late proves nothing of it.
    qint64 keyNumber = 0;
    // The radio took that key, and the client has not unkeyed since.
    bool keyTaken = false;

    // Everything undone, whatever was settled: a stop's goodbye.
    static ClientActivity everything()
    {
        return {.keyedTransmitter = true,
                .startedCW = true,
                .keyNumber = std::numeric_limits<qint64>::max(),
                .keyTaken = true};
    }
    void noteKeyed(qint64 number)
    {
        keyedTransmitter = true;
        keyNumber = number;
        keyTaken = false;
    }
    // The key is still the client's to undo.
    bool owesUnkey(qint64 releasedThrough) const { return keyedTransmitter && keyNumber > releasedThrough; }
    // The client holds the transmitter: nobody else's going may undo that.
    bool holdsKey(qint64 releasedThrough) const { return keyTaken && owesUnkey(releasedThrough); }

    bool operator==(const ClientActivity &) const = default;

private:
    static qint64 newIdentity()
    {
        static std::atomic<qint64> last{0};
        return ++last;
    }
};

} // namespace kivo
