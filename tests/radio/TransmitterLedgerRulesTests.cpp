// Rules of the transmitter ledger that the checker's model cannot time:
// what the events log says once per debt, and how often CW that may still
// play is cleared.

#include "KivoCore/radio/TransmitterLedger.h"

#include <gtest/gtest.h>

#include <functional>

namespace kivo {
namespace {

using L = TransmitterLedger;

const L::Traits kFlexRadio{.namesKeySource = true, .actsInOrder = true, .keyerKeys = true, .canAsk = false, .reports = true};
const L::Traits kAgent{.namesKeySource = false, .actsInOrder = false, .keyerKeys = false, .canAsk = true, .reports = true};

qint64 write(L &ledger, L::Kind kind, L::Client client, L::Outcome outcome)
{
    const qint64 number = ledger.begin(kind, client);
    ledger.handed(number);
    ledger.ended(number, outcome, QStringLiteral("The radio did not answer."));
    return number;
}

// Carries out what is due as the base would, each write ending so.
void carryOut(L &ledger, L::Outcome outcome)
{
    if (const L::Action due = ledger.due(); due == L::Action::Unkey || due == L::Action::Clear)
        write(ledger, due == L::Action::Unkey ? L::Kind::Unkey : L::Kind::Clear, L::ownAccount, outcome);
}

qsizetype said(const QStringList &lines, const char *start)
{
    return std::count_if(lines.cbegin(), lines.cend(), [start](const QString &l) { return l.startsWith(QLatin1String(start)); });
}

TEST(TransmitterLedgerRules, EachDebtAndEachPaymentIsSaidOnce)
{
    struct Row {
        const char *name;
        L::Traits traits;
        std::function<void(L &)> steps;
        const char *line;
        qsizetype times;
    };
    const Row rows[] = {
        {"a client leaving during an outage beside another's held key", kFlexRadio, [](L &l) {
             write(l, L::Kind::Key, 1, L::Outcome::Answered);
             write(l, L::Kind::Key, 2, L::Outcome::Answered);
             l.sessionLost();
             l.clientGone(1, QStringLiteral("The radio is not connected."));
         }, "Unkey not confirmed", 0},
        {"two clients leaving in one outage", kFlexRadio, [](L &l) {
             write(l, L::Kind::Key, 1, L::Outcome::Answered);
             write(l, L::Kind::Key, 2, L::Outcome::Answered);
             l.sessionLost();
             l.clientGone(1, QStringLiteral("The radio is not connected."));
             l.clientGone(2, QStringLiteral("The radio is not connected."));
         }, "Unkey not confirmed", 1},
        {"an unanswered resend proven by a newer answered one", kFlexRadio, [](L &l) {
             write(l, L::Kind::Key, 1, L::Outcome::Answered);
             l.clientGone(1);
             carryOut(l, L::Outcome::Refused);
             l.tick();
             carryOut(l, L::Outcome::NoAnswer);
             l.tick();
             carryOut(l, L::Outcome::Answered);
         }, "Unkey sent again after the radio answered", 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        L ledger(row.traits);
        ledger.sessionReady();
        ledger.reported(false, L::Source::Unknown, 0);
        row.steps(ledger);
        EXPECT_EQ(said(ledger.takeEvents(), row.line), row.times);
    }
}

// On a radio that acts in order a newer answer shows an older unkey acted
// on; the companion's taking of a key or CW, once written, shows nothing.
TEST(TransmitterLedgerRules, OnlyARealAnswerProvesAnOlderUnkeyActedOn)
{
    for (const bool answersSets : {true, false}) {
        SCOPED_TRACE(answersSets ? "answers its set commands" : "takes its set commands once written");
        L ledger({.namesKeySource = false, .actsInOrder = true, .answersSets = answersSets, .keyerKeys = true,
                  .canAsk = false, .reports = true});
        ledger.sessionReady();
        ledger.reported(false, L::Source::Unknown, 0);
        write(ledger, L::Kind::Key, 1, L::Outcome::Answered);
        ledger.clientGone(1);
        carryOut(ledger, L::Outcome::NoAnswer);
        write(ledger, L::Kind::CW, 2, L::Outcome::Answered);
        EXPECT_EQ(ledger.unkeyOwed(), !answersSets);
    }
}

// CW the agent never answered may begin to play at any time within the
// doubt: it is cleared at once, at every departure and at every tick,
// but a tick spares a connected client's CW.
TEST(TransmitterLedgerRules, CWThatMayStillPlayIsClearedAgainAndAgain)
{
    struct Row {
        const char *name;
        bool besideHeldCW;
        std::function<void(L &)> then;
        bool cleared;
    };
    const Row rows[] = {
        {"a tick", false, [](L &l) { l.tick(); }, true},
        {"a tick beside a connected client's CW", true, [](L &l) { l.tick(); }, false},
        {"a departure beside a connected client's CW", true, [](L &l) { l.clientGone(3); }, true},
        {"nothing", false, [](L &) {}, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        L ledger(kAgent);
        ledger.timePassed(1);
        ledger.sessionReady();
        ledger.reported(false, L::Source::Unknown, 0);
        write(ledger, L::Kind::CW, 1, L::Outcome::NoAnswer);
        ledger.clientGone(1);
        EXPECT_EQ(ledger.due(), L::Action::Clear);
        carryOut(ledger, L::Outcome::Answered);
        if (row.besideHeldCW)
            write(ledger, L::Kind::CW, 2, L::Outcome::Answered);
        row.then(ledger);
        EXPECT_EQ(ledger.due() == L::Action::Clear, row.cleared);
    }
}

} // namespace
} // namespace kivo
