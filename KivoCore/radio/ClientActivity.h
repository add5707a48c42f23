#pragma once

#include <QtGlobal>

#include <atomic>

namespace kivo {

// What one client of a command server has set going on the radio, so that
// its going away undoes that and never the operator's own transmission.
struct ClientActivity {
    // Who the client is to the radio's ledger; copies keep it.
    qint64 identity = newIdentity();
    bool keyedTransmitter = false;
    bool startedCW = false;
    // The number this client's newest key took, from nextTransmitNumber().
    qint64 keyNumber = 0;

    void noteKeyed(qint64 number)
    {
        keyedTransmitter = true;
        keyNumber = number;
    }

    bool operator==(const ClientActivity &) const = default;

private:
    static qint64 newIdentity()
    {
        static std::atomic<qint64> last{0};
        return ++last;
    }
};

} // namespace kivo
