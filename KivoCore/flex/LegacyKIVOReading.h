#pragma once

// What the companion's answers mean for the transmitter ledger, in one
// place, so that the ledger's own checker reads the companion as the
// client does.
//
// The companion answers a set command ("TX;", "RX;", "KY …;") only when it
// refuses it ("?"), and that refusal may come after the write is over; a
// read ("IF;") it answers once, in order. So an unkey or a keyer clear is
// followed by "IF;", whose answer is all that says the companion took it.
// It relays a radio whose transmitter follows its commands a little later
// (as a FlexRadio's interlock lags), so an information answer shows the
// transmitter as it was, not as our writes left it: it follows none of them.

#include "KivoCore/radio/TransmitterLedger.h"

#include <QStringView>

#include <optional>

namespace kivo::companion {

// What came back for a command followed by "IF;".
struct Reply {
    // "?" answered the command itself.
    bool refused = false;
    // The information answer came (the read was answered).
    bool informed = false;
    // Its transmit flag, when its layout is Kenwood's whole one.
    std::optional<bool> keyed;
};

// The transmit flag of an information answer ("IF…", without ";").
std::optional<bool> transmitFlag(QStringView answer);

// How an unkey ("RX;IF;") or a keyer clear ("KY" and blanks, "IF;") ended,
// and why, when not answered, for the events log.
struct Ending {
    TransmitterLedger::Outcome outcome = TransmitterLedger::Outcome::Answered;
    QString reason;
};
Ending ending(TransmitterLedger::Kind kind, const Reply &reply);

// A key or CW is taken once written: its answer says nothing of what the
// companion did with the writes before it.
inline constexpr bool answersSetCommands = false;

// The writes an information answer is known to follow.
inline constexpr qint64 reportFollows = 0;

} // namespace kivo::companion
