#pragma once

namespace kivo {

// What one client of a command server has set going on the radio, so that
// its going away undoes that and never the operator's own transmission.
struct ClientActivity {
    bool keyedTransmitter = false;
    bool startedCW = false;

    bool operator==(const ClientActivity &) const = default;
};

} // namespace kivo
