// The transmitter ledger alone, against a model of the clients, the radio,
// the operator and the link: every sequence of events up to a depth, repeated
// states merged, with the station judged at every state.

#include "KivoCore/agent/RemoteAgentReading.h"
#include "KivoCore/flex/FlexRadioSession.h"
#include "KivoCore/flex/LegacyKIVOReading.h"
#include "KivoCore/radio/TransmitterLedger.h"

#include <gtest/gtest.h>

#include <QHash>
#include <QSet>

#include <functional>

namespace kivo {
namespace {

using L = TransmitterLedger;
// At most this many clients; each run chooses how many take part.
constexpr int kClients = 3;
// How long the agent may still act on a request it never answered: the
// radio's own bound, which the ledger must know as the same.
constexpr qint64 kActsLateFor = 60'000;

struct Kind {
    const char *name;
    L::Traits traits;
    // What a report follows, in the backend's own terms.
    enum Follows { Nothing, ActedThrough, EndedThrough } follows;
    // Asked for its state at every poll; the others speak on change, at a
    // new session, or when asked.
    bool polled = false;
    // An unkey or clear is answered by the information asked after it, read
    // as the companion's client reads it; and it relays a radio whose
    // transmitter lags: an answer made after our writes may show it as it
    // was before them.
    bool confirmsByReport = false;
};

const Kind kKinds[] = {
    {"FlexRadio", {.namesKeySource = true, .actsInOrder = true, .keyerKeys = true, .canAsk = false, .reports = true},
     Kind::Nothing},
    {"LegacyKIVO",
     {.namesKeySource = false, .actsInOrder = true, .answersSets = companion::answersSetCommands, .keyerKeys = true,
      .canAsk = false, .reports = true},
     companion::reportFollows == 0 ? Kind::Nothing : Kind::ActedThrough, true, true},
    {"RemoteAgent", {.namesKeySource = false, .actsInOrder = false, .keyerKeys = false, .canAsk = true, .reports = true},
     Kind::EndedThrough},
    {"Simulator", {.namesKeySource = true, .actsInOrder = true, .keyerKeys = false, .canAsk = false, .reports = false},
     Kind::Nothing},
};

struct Flight {
    qint64 number = 0;
    L::Kind kind = L::Kind::Key;
    L::Client who = 0;
    bool acted = false;
    bool ended = false;
    // An unkey handed once every key before it had ended, or on a radio that
    // acts in order: it is for them all.
    bool coversAll = false;
    // When the bridge gave up on it, on a radio that acts out of order.
    qint64 givenUpAt = -1;
    // Ended without an answer: acting on it now is acting late.
    bool lost = false;
};

// An own unkey or clear written for a debt the events log told of: its
// answer may be said as paid, once.
struct Resend {
    qint64 number = 0;
    bool clear = false;
    bool afterHeld = false;
    bool afterOwed = false;
    bool unanswered = false;
};

struct State {
    L ledger;
    // The radio.
    bool up = true;
    bool key = false;
    bool cw = false;
    bool cwKeys = false;
    qint64 cwOwner = 0;
    bool mic = false;
    qint64 actedThrough = 0;
    QList<Flight> flights;
    // What the bridge's base has begun and not yet handed.
    QList<std::pair<qint64, L::Kind>> waiting;
    QList<L::Client> waitingWho;
    std::optional<qint64> ask;
    // The clients: connected, the key the radio took for each, a write open.
    bool connected[kClients + 1] = {};
    qint64 heldKey[kClients + 1] = {};
    qint64 open[kClients + 1] = {};
    // Clients' unkeys handed to the radio and not refused, with whose they
    // are: each lets go of every other client's older key.
    QList<std::pair<qint64, qint64>> unkeysOut;
    // What the judgement needs.
    bool reportHardware = false;
    // An unkey for this debt failed, on this connection or an earlier one.
    bool debtOwed = false;
    // An owed unkey sent again failed on this connection: for this debt, for any.
    bool resendFailedHere = false;
    bool resendFailedOnLink = false;
    qint64 resendNumber = 0;
    // An unkey failed, of any debt, and no own unkey has been answered since.
    bool anyOwed = false;
    qint64 linkResendNumber = 0;
    int resends = 0;
    // Own unkeys in this tick for this debt; no key of ours has reached the
    // radio since an own unkey was answered.
    int ownThisTick = 0;
    bool paid = true;
    // What the events log has told of a debt, and the resends since.
    bool owedSaid = false;
    bool owedSaidThisDebt = false;
    bool heldSaid = false;
    bool clearOwedSaid = false;
    QList<Resend> resent;
    // Writes the radio answered in this step, and an own clear that failed in it.
    QList<qint64> answeredNow;
    qint64 clearFailedNow = 0;
    // The latest own clear went with no doubt left to keep it from proving the CW cleared.
    bool clearProves = false;
    qint64 cwNumber = 0;
    // When the bridge gave up on writes, on a radio that acts out of order.
    QList<std::pair<qint64, bool>> doubts;
    bool lateKey = false;
    // The transmitter changed since the radio last reported it.
    bool unreported = false;
    // A keyed report made within the minute after the bridge gave up on a
    // key, or a minute passed while the link was down: until an idle report
    // the transmission may be taken as a late act, as the README says.
    bool unheard = false;
    bool boundPassed = true;
    bool stopping = false;
    // A report the radio made before its latest change, still on its way
    // behind the replies that came after it.
    struct Stale {
        bool keyed = false;
        L::Source source = L::Source::Unknown;
        qint64 follows = 0;
    };
    std::optional<Stale> stale;
    // The radio refused or missed something the stop sent.
    bool stopFailed = false;
    qint64 stopThrough = 0;
    qint64 now = 0;
    QStringList said;
    QString broken;

    QByteArray fingerprint() const
    {
        QByteArray out = ledger.fingerprint();
        for (qint64 v : {qint64(up), qint64(key), qint64(cw), qint64(cwKeys), cwOwner, qint64(mic), actedThrough,
                         qint64(ask.value_or(-1)), qint64(reportHardware), qint64(debtOwed), qint64(resendFailedHere), qint64(resendFailedOnLink), qint64(anyOwed), linkResendNumber,
                         resendNumber, qint64(resends), qint64(ownThisTick), qint64(paid), qint64(owedSaid), qint64(owedSaidThisDebt),
                         qint64(heldSaid), qint64(clearOwedSaid), qint64(clearProves), cwNumber, qint64(lateKey), qint64(unreported), qint64(unheard), qint64(boundPassed), qint64(stopping), qint64(stopFailed), qint64(stale ? 1 + stale->keyed : 0),
                         stale ? qint64(stale->source) * 1000 + stale->follows : -1})
            out.append(QByteArray::number(v)).append(',');
        // Times only as far from the doubts' bounds as tells them apart.
        const auto left = [this](qint64 at) { return at < 0 ? -1 : at + kActsLateFor - now; };
        for (const Flight &f : flights)
            out.append(QByteArray::number(f.number) + char('a' + int(f.kind)) + char('0' + f.acted) + char('0' + f.ended)
                       + QByteArray::number(left(f.givenUpAt)) + char('0' + f.lost));
        for (const auto &[at, key] : doubts)
            out.append(QByteArray::number(left(at)) + char('0' + key));
        for (const Resend &r : resent)
            out.append(QByteArray::number(r.number) + char('0' + r.clear + 2 * r.afterHeld + 4 * r.afterOwed + 8 * r.unanswered));
        for (int c = 1; c <= kClients; ++c)
            out.append(char('0' + connected[c])).append(QByteArray::number(heldKey[c]) + '/').append(QByteArray::number(open[c]));
        for (const auto &[n, who] : unkeysOut)
            out.append(QByteArray::number(n) + char('0' + who));
        for (const auto &[n, k] : waiting)
            out.append(QByteArray::number(n));
        return out;
    }

    bool holds(int c) const
    {
        return connected[c] && heldKey[c]
            && std::none_of(unkeysOut.cbegin(), unkeysOut.cend(), [this, c](const auto &u) {
                   return u.second != c && u.first > heldKey[c];
               });
    }
    // Taken by the radio but not yet acted on.
    bool pending(qint64 number) const
    {
        return std::any_of(flights.cbegin(), flights.cend(), [number](const Flight &f) { return f.number == number && !f.acted; });
    }
    bool anyHolds() const
    {
        for (int c = 1; c <= kClients; ++c) {
            if (holds(c))
                return true;
        }
        return false;
    }
};

class Checker {
public:
    Checker(const Kind &kind, int clients) : m_kind(kind), m_clients(clients) {}

    // The first broken rule found, with the shortest sequence that breaks it.
    // Depth first, so that only the path is held, not the frontier; a state
    // seen before is explored again only with more steps left than then.
    QString run(int depth, qint64 *explored)
    {
        State start;
        start.ledger.setTraits(m_kind.traits);
        for (int c = 1; c <= m_clients; ++c)
            start.connected[c] = true;
        start.ledger.sessionReady();
        start.ledger.tick();
        QStringList path;
        Seen seen;
        QString failure = explore(start, depth, path, seen, explored);
        // A shorter sequence may break a rule too: deepen until one does.
        for (int shorter = 1; !failure.isEmpty() && shorter < path.size(); ++shorter) {
            QStringList again;
            Seen fresh;
            qint64 ignored = 0;
            const QString found = explore(start, shorter, again, fresh, &ignored);
            if (!found.isEmpty())
                return found;
        }
        return failure;
    }

private:
    using Step = std::pair<QString, std::function<void(State &)>>;
    // States by two hashes of their fingerprint, with the steps left when last explored.
    using Seen = QHash<std::pair<size_t, size_t>, int>;

    QString explore(const State &state, int left, QStringList &path, Seen &seen, qint64 *explored) const
    {
        ++*explored;
        if (left == 0)
            return {};
        for (const auto &[name, step] : steps(state)) {
            State next = state;
            step(next);
            automate(next);
            path << name;
            judge(next, name);
            if (!next.broken.isEmpty())
                return next.broken + QStringLiteral("\n  steps: ") + path.join(u", ");
            if (!stopEnded(next)) {
                const QByteArray print = next.fingerprint();
                const std::pair key{qHash(print, 0), qHash(print, size_t(0x9e3779b97f4a7c15))};
                const auto it = seen.constFind(key);
                if (it == seen.cend() || *it < left - 1) {
                    seen.insert(key, left - 1);
                    const QString failure = explore(next, left - 1, path, seen, explored);
                    if (!failure.isEmpty())
                        return failure;
                }
            }
            path.removeLast();
        }
        return {};
    }

    const Kind &m_kind;
    const int m_clients;

    bool inOrder() const { return m_kind.traits.actsInOrder; }
    bool keyerKeys() const { return m_kind.traits.keyerKeys; }

    // A key of ours reaches the radio, or one acted on late: a debt of its own.
    static void newDebt(State &s)
    {
        s.debtOwed = s.resendFailedHere = s.paid = s.owedSaidThisDebt = false;
        s.resends = s.ownThisTick = 0;
    }

    // What the ledger said, judged by what the model knows when it is said.
    static void take(State &s)
    {
        const QStringList lines = s.ledger.takeEvents();
        for (const QString &line : lines) {
            if (line.contains(QLatin1String("acted late")))
                newDebt(s);
            if (line.startsWith(QLatin1String("Unkey not confirmed"))) {
                if (s.anyHolds())
                    s.broken = QStringLiteral("\"not confirmed\" said while a connected client holds a key");
                else if (s.owedSaidThisDebt)
                    s.broken = QStringLiteral("\"not confirmed\" said twice for one debt");
                // Said of a departure while the link is down, everything of ours is owed.
                s.owedSaid = s.owedSaidThisDebt = s.anyOwed = true;
                s.debtOwed |= !s.up;
            }
            if (line.startsWith(QLatin1String("Owed unkey not sent"))) {
                if (!s.reportHardware)
                    s.broken = QStringLiteral("\"held back\" said while the operator does not transmit");
                else if (s.paid || s.anyHolds())
                    s.broken = QStringLiteral("\"held back\" said where no unkey was wanted");
                s.heldSaid = true;
            }
            if (line.startsWith(QLatin1String("CW clear not confirmed")))
                s.clearOwedSaid = true;
            if (line.contains(QLatin1String("not repeated until")) && !s.resendFailedOnLink)
                s.broken = QStringLiteral("\"not repeated\" said though no unkey sent again failed on this connection");
        }
        s.said += lines;
    }

    // The base: what may go is handed, what is due is begun, until nothing moves.
    void automate(State &s) const
    {
        for (int round = 0; round < 20; ++round) {
            bool moved = false;
            take(s);
            for (int i = 0; i < s.waiting.size(); ++i) {
                const auto [number, kind] = s.waiting.at(i);
                if (!s.ledger.mayWrite(number))
                    continue;
                const L::Client who = s.waitingWho.at(i);
                s.waiting.removeAt(i);
                s.waitingWho.removeAt(i);
                if (s.ledger.barred(number)) {
                    s.ledger.ended(number, L::Outcome::Refused);
                    release(s, who, number);
                } else if (s.up) {
                    // A resend: written while the ledger owes what it undoes, or after the log said so.
                    const bool owed = kind == L::Kind::Clear ? s.ledger.clearOwed() || s.clearOwedSaid
                                                             : s.ledger.unkeyOwed() || s.owedSaid;
                    s.ledger.handed(number);
                    if (kind == L::Kind::Unkey && who > 0)
                        s.unkeysOut.append({number, who});
                    if ((kind == L::Kind::Key || (kind == L::Kind::CW && keyerKeys())) && who > 0)
                        newDebt(s);
                    const bool clear = kind == L::Kind::Clear;
                    if (who == L::ownAccount && (owed || (!clear && s.heldSaid)))
                        s.resent.append({.number = number, .clear = clear, .afterHeld = !clear && s.heldSaid,
                                         .afterOwed = !clear && owed, .unanswered = false});
                    const bool coversAll = inOrder() || std::none_of(s.flights.cbegin(), s.flights.cend(), [](const Flight &f) {
                        return !f.ended && (f.kind == L::Kind::Key || f.kind == L::Kind::CW);
                    });
                    s.flights.append({.number = number, .kind = kind, .who = who, .acted = false, .ended = false, .coversAll = coversAll, .givenUpAt = -1, .lost = false});
                    if (clear && who == L::ownAccount)
                        s.clearProves = inOrder() || s.doubts.isEmpty();
                } else {
                    s.ledger.ended(number, L::Outcome::Refused);
                    release(s, who, number);
                }
                moved = true;
                break;
            }
            const L::Action due = s.up || s.stopping ? s.ledger.due() : L::Action::None;
            if (due == L::Action::Unkey || due == L::Action::Clear) {
                const L::Kind kind = due == L::Action::Unkey ? L::Kind::Unkey : L::Kind::Clear;
                if (kind == L::Kind::Unkey) {
                    if (s.reportHardware)
                        s.broken = QStringLiteral("an unkey of the bridge's own went out over the operator's transmission");
                    if (!m_kind.traits.namesKeySource && s.debtOwed && !s.stopping && ++s.resends > 1)
                        s.broken = QStringLiteral("an owed unkey went again more than once on one connection");
                    if (s.paid && !s.stopping)
                        s.broken = QStringLiteral("an unkey of the bridge's own went though no key of ours reached the radio since one was answered");
                    if (++s.ownThisTick > 1 && !s.stopping)
                        s.broken = QStringLiteral("an unkey of the bridge's own went twice in one tick for one debt");
                }
                const qint64 number = s.ledger.begin(kind, L::ownAccount);
                if (kind == L::Kind::Unkey && s.debtOwed)
                    s.resendNumber = number;
                if (kind == L::Kind::Unkey && s.anyOwed)
                    s.linkResendNumber = number;
                s.waiting.append({number, kind});
                s.waitingWho.append(L::ownAccount);
                moved = true;
            } else if (due == L::Action::Ask) {
                s.ledger.askBegun();
                s.ask = follows(s);
                moved = true;
            }
            take(s);
            if (!moved)
                return;
        }
    }

    qint64 follows(const State &s) const
    {
        switch (m_kind.follows) {
        case Kind::Nothing:
            return 0;
        case Kind::ActedThrough:
            return s.actedThrough;
        case Kind::EndedThrough:
            return agent::askFollows(s.ledger.endedThrough());
        }
        return 0;
    }

    // The report the radio would make now.
    State::Stale now(const State &s) const
    {
        const bool keyed = s.key || s.cwKeys || s.mic;
        if (!m_kind.traits.namesKeySource)
            return {.keyed = keyed, .source = L::Source::Unknown, .follows = follows(s)};
        // The interlock line a FlexRadio sends, read as its session reads it.
        const QString source = QLatin1String(s.mic ? (s.key || s.cwKeys ? "MIC,SW" : "MIC") : keyed ? "SW" : "");
        const auto reading = readFlexInterlock(
            {{QStringLiteral("state"), keyed ? QStringLiteral("TRANSMITTING") : QStringLiteral("READY")},
             {QStringLiteral("source"), source}});
        return {.keyed = reading->keyed, .source = reading->source, .follows = follows(s)};
    }

    void report(State &s, std::optional<qint64> after = std::nullopt) const
    {
        if (!m_kind.traits.reports || !s.up)
            return;
        State::Stale made = now(s);
        if (after)
            made.follows = *after;
        // Reports come in the order made: an older one still due came first.
        s.unreported = false;
        s.stale.reset();
        deliver(s, made);
    }

    void deliver(State &s, const State::Stale &made) const
    {
        const auto [keyed, source, follows] = made;
        s.reportHardware = source == L::Source::Hardware;
        if (!keyed)
            s.unheard = false;
        else if (!s.boundPassed && source != L::Source::Hardware)
            s.unheard = true;
        s.ledger.reported(keyed, source, follows);
        take(s);
    }

    static void release(State &s, L::Client who, qint64 number)
    {
        if (who > 0 && s.open[who] == number)
            s.open[who] = 0;
    }

    void act(State &s, Flight &f) const
    {
        const bool keyedBefore = s.key || s.cwKeys;
        const State::Stale before = now(s);
        actOn(s, f);
        if (keyedBefore != (s.key || s.cwKeys)) {
            s.unreported = true;
            if (m_kind.traits.reports)
                s.stale = before;
        }
    }

    void actOn(State &s, Flight &f) const
    {
        f.acted = true;
        if (inOrder())
            s.actedThrough = std::max(s.actedThrough, f.number);
        switch (f.kind) {
        case L::Kind::Key:
            if (f.who == L::ownAccount)
                break;
            s.key = true;
            s.lateKey |= f.lost;
            break;
        case L::Kind::Unkey:
            if (f.who == L::ownAccount) {
                for (int c = 1; c <= kClients; ++c) {
                    if (s.holds(c) && !s.stopping && !s.pending(s.heldKey[c]))
                        s.broken = QStringLiteral("an unkey of the bridge's own undid a key a connected client holds");
                }
            }
            s.key = s.cwKeys = false;
            s.lateKey = false;
            // A key taken but not yet acted on is keyed after this unkey.
            for (qint64 &held : s.heldKey) {
                if (!s.pending(held))
                    held = 0;
            }
            break;
        case L::Kind::CW:
            s.cw = true;
            s.cwNumber = f.number;
            s.cwKeys = keyerKeys();
            s.cwOwner = f.who;
            break;
        case L::Kind::Clear:
            // A keyer's clear empties its queue; what its CW keyed drops only with an unkey.
            s.cw = false;
            break;
        }
    }

    // `refused`: what the radio did, whatever its client read from it.
    void end(State &s, int index, L::Outcome outcome, std::optional<bool> refused = std::nullopt) const
    {
        const bool radioRefused = refused.value_or(outcome == L::Outcome::Refused);
        Flight &f = s.flights[index];
        f.ended = true;
        f.lost = outcome == L::Outcome::NoAnswer;
        s.stopFailed |= s.stopping && outcome != L::Outcome::Answered;
        if (f.kind == L::Kind::Key && outcome == L::Outcome::Answered && f.who > 0 && s.connected[f.who])
            s.heldKey[f.who] = f.number;
        if (f.kind == L::Kind::Unkey && radioRefused)
            s.unkeysOut.removeIf([&f](const auto &u) { return u.first == f.number; });
        // An unkey that failed makes what it went after owed: an own one after it is a resend.
        if (f.kind == L::Kind::Unkey && outcome != L::Outcome::Answered) {
            s.resendFailedHere |= f.number == s.resendNumber;
            s.resendFailedOnLink |= f.number == s.linkResendNumber;
            s.debtOwed |= f.who == L::ownAccount || f.coversAll;
            s.anyOwed = true;
        }
        if (f.who == L::ownAccount && f.kind == L::Kind::Unkey && outcome == L::Outcome::Answered && f.coversAll)
            s.paid = true, s.anyOwed = s.debtOwed = false;
        if (f.who == L::ownAccount && f.kind == L::Kind::Clear && outcome != L::Outcome::Answered && s.clearProves)
            s.clearFailedNow = f.number;
        if (f.kind == L::Kind::CW && outcome == L::Outcome::Answered)
            s.clearOwedSaid = false;
        if (outcome == L::Outcome::Answered)
            s.answeredNow.append(f.number);
        // An own write refused, or unanswered on a radio whose newer answers prove nothing of it, is never paid.
        for (Resend &r : s.resent)
            r.unanswered |= r.number == f.number && outcome == L::Outcome::NoAnswer;
        if (outcome == L::Outcome::Refused || (outcome == L::Outcome::NoAnswer && !inOrder()))
            s.resent.removeIf([&f](const Resend &r) { return r.number == f.number; });
        if (outcome == L::Outcome::NoAnswer && !inOrder()) {
            f.givenUpAt = s.now;
            s.doubts.append({s.now, f.kind == L::Kind::Key});
            s.boundPassed &= f.kind != L::Kind::Key;
        }
        const L::Client who = f.who;
        const qint64 number = f.number;
        // A write acted on and answered, or refused, is gone from the radio;
        // one never answered, or taken before it was acted on, may still be.
        if (f.acted || radioRefused)
            s.flights.removeAt(index);
        s.ledger.ended(number, outcome, QStringLiteral("The radio did not answer."));
        release(s, who, number);
    }

    // A new connection: what was spent on the last one counts no more.
    static void connectAgain(State &s)
    {
        s.up = true;
        s.resendFailedHere = s.resendFailedOnLink = false;
        s.resends = s.ownThisTick = 0;
        s.ledger.sessionReady();
    }

    static qint64 write(State &s, int c, L::Kind kind)
    {
        const qint64 number = s.ledger.begin(kind, c);
        s.waiting.append({number, kind});
        s.waitingWho.append(c);
        s.open[c] = number;
        if (kind == L::Kind::Unkey)
            s.heldKey[c] = 0;
        return number;
    }

    static void leave(State &s, int c)
    {
        s.connected[c] = false;
        s.heldKey[c] = 0;
        s.ledger.clientGone(c, QStringLiteral("The radio is not connected."));
    }

    static void tick(State &s)
    {
        s.ownThisTick = 0;
        s.ledger.tick();
    }

    void passTime(State &t, qint64 to) const
    {
        // Every write under way timed out long before, and a radio that
        // reports on change has said what changed.
        timeOut(t);
        automate(t);
        if (t.unreported)
            report(t);
        const auto past = [to](qint64 at) { return at >= 0 && at + kActsLateFor < to; };
        if (!t.up && std::any_of(t.doubts.cbegin(), t.doubts.cend(), [&past](const auto &d) { return past(d.first); }))
            t.unheard = true;
        t.now = to;
        // What the bridge gave up on is dead past its bound: the radio acts on it no more.
        t.flights.removeIf([&past](const Flight &f) { return f.ended && !f.acted && past(f.givenUpAt); });
        t.doubts.removeIf([&past](const auto &d) { return past(d.first); });
        t.boundPassed = std::none_of(t.doubts.cbegin(), t.doubts.cend(), [](const auto &d) { return d.second; });
        t.ledger.timePassed(t.now);
    }

    // Every write still under way goes unanswered.
    void timeOut(State &s) const
    {
        for (int i = s.flights.size() - 1; i >= 0; --i) {
            if (!s.flights[i].ended)
                end(s, i, L::Outcome::NoAnswer);
        }
    }

    QList<Step> steps(const State &s) const
    {
        QList<Step> out;
        if (s.stopping) {
            radioSteps(s, out);
            return out;
        }
        for (int c = 1; c <= kClients; ++c) {
            if (!s.connected[c])
                continue;
            if (!s.open[c]) {
                for (const auto &entry : {std::pair{"key", L::Kind::Key}, {"unkey", L::Kind::Unkey},
                                          {"CW", L::Kind::CW}, {"clear", L::Kind::Clear}}) {
                    const char *name = entry.first;
                    const L::Kind kind = entry.second;
                    out.append({QStringLiteral("%1 %2").arg(QChar(u'A' + c - 1)).arg(QLatin1String(name)),
                                [c, kind](State &t) { write(t, c, kind); }});
                }
            }
            out.append({QStringLiteral("%1 leaves").arg(QChar(u'A' + c - 1)), [c](State &t) { leave(t, c); }});
        }
        // Several clients leaving in one pass: every pair, and all three.
        QList<QList<int>> together;
        for (int a = 1; a <= m_clients; ++a) {
            for (int b = a + 1; b <= m_clients; ++b)
                together.append({a, b});
        }
        if (m_clients == 3)
            together.append({1, 2, 3});
        for (const QList<int> &group : std::as_const(together)) {
            if (!std::all_of(group.cbegin(), group.cend(), [&s](int c) { return s.connected[c]; }))
                continue;
            QString name;
            for (int c : group)
                name += (name.isEmpty() ? QString() : QStringLiteral(" and ")) + QChar(u'A' + c - 1);
            out.append({name + QStringLiteral(" leave at once"), [group](State &t) {
                             for (int c : group)
                                 leave(t, c);
                         }});
        }
        radioSteps(s, out);
        out.append({s.mic ? QStringLiteral("operator lets go") : QStringLiteral("operator keys"),
                    [this](State &t) {
                        t.mic = !t.mic;
                        report(t);
                    }});
        if (s.up) {
            out.append({QStringLiteral("link drops"), [this](State &t) {
                             t.up = false;
                             t.reportHardware = false;
                             t.ledger.sessionLost();
                             timeOut(t);
                             // Bytes not yet read by a radio that acts in order are lost with the link.
                             if (inOrder())
                                 t.flights.removeIf([](const Flight &f) { return !f.acted; });
                             if (t.ask) {
                                 t.ask.reset();
                                 t.ledger.askEnded();
                             }
                             // A newer answer proves nothing of the last connection's writes.
                             t.resent.clear();
                         }});
            out.append({QStringLiteral("tick"), [](State &t) { tick(t); }});
        } else {
            out.append({QStringLiteral("link back"), [this](State &t) {
                             connectAgain(t);
                             // A new session hears the transmitter's state first.
                             report(t);
                         }});
        }
        // Just before and just after the bound of the oldest doubt.
        if (!s.doubts.isEmpty()) {
            const qint64 bound = std::min_element(s.doubts.cbegin(), s.doubts.cend())->first + kActsLateFor;
            if (s.now < bound - 1)
                out.append({QStringLiteral("time nears the doubt's bound"), [this, bound](State &t) { passTime(t, bound - 1); }});
            out.append({QStringLiteral("time passes the doubt's bound"), [this, bound](State &t) { passTime(t, bound + 1); }});
        }
        out.append({QStringLiteral("stop"), [](State &t) {
                         t.stopping = true;
                         t.stopThrough = t.ledger.sequence();
                         t.ledger.stopping();
                     }});
        return out;
    }

    void radioSteps(const State &s, QList<Step> &out) const
    {
        const auto label = [](const Flight &f, const char *what) {
            static const char *kinds[] = {"key", "unkey", "CW", "clear"};
            return QStringLiteral("radio %1 %2 %3").arg(QLatin1String(what), QLatin1String(kinds[int(f.kind)])).arg(f.number);
        };
        bool earlierUnacted = false;
        for (int i = 0; i < s.flights.size(); ++i) {
            const Flight &f = s.flights.at(i);
            const bool set = f.kind == L::Kind::Key || f.kind == L::Kind::CW;
            if (!f.acted && (!inOrder() || !earlierUnacted) && s.up) {
                out.append({label(f, "acts on"), [this, i](State &t) { act(t, t.flights[i]); }});
                if (!f.ended && !(set && takesOnWrite()))
                    out.append({label(f, "refuses"), [this, i](State &t) { refuse(t, i); }});
            }
            earlierUnacted |= !f.acted;
            // The companion takes a key or CW once written, before it acts.
            if (set && takesOnWrite() && s.up && !f.ended)
                out.append({label(f, "takes"), [this, i](State &t) { end(t, i, L::Outcome::Answered); }});
            if (f.acted && !f.ended && s.up) {
                out.append({label(f, "answers"), [this, i](State &t) { answer(t, i); }});
                // The agent's answer carries its state, read before the answer
                // ends the write. It may be the state from before the write, so
                // it follows only the writes before it that have all ended.
                if (m_kind.follows == Kind::EndedThrough)
                    out.append({label(f, "answers with its state"), [this, i](State &t) {
                                    report(t, agent::answerFollows(t.ledger.endedThrough(), t.flights.at(i).number));
                                    end(t, i, L::Outcome::Answered);
                                }});
            }
            if (!f.ended)
                out.append({label(f, "never answers"), [this, i](State &t) { end(t, i, L::Outcome::NoAnswer); }});
        }
        if (s.up && m_kind.traits.reports)
            out.append({QStringLiteral("radio reports"), [this](State &t) { report(t); }});
        if (s.up && s.stale) {
            out.append({QStringLiteral("radio reports late"), [this](State &t) {
                             deliver(t, *t.stale);
                             t.stale.reset();
                         }});
            if (m_kind.confirmsByReport)
                out.append({QStringLiteral("radio reports its lagging transmitter"), [this](State &t) {
                                deliver(t, {.keyed = t.stale->keyed, .source = t.stale->source, .follows = follows(t)});
                                t.stale.reset();
                            }});
        }
        if (s.ask) {
            out.append({QStringLiteral("radio answers the question"), [this](State &t) {
                             report(t, t.ask);
                             t.ask.reset();
                             t.ledger.askEnded();
                         }});
        }
    }

    bool takesOnWrite() const { return !m_kind.traits.answersSets; }

    // What came back for an unkey or clear on the companion: its answers
    // and the information asked after it, read as its client reads them.
    void confirm(State &s, int index, companion::Reply reply) const
    {
        const L::Kind kind = s.flights.at(index).kind;
        if (reply.informed)
            reply.keyed = now(s).keyed;
        report(s);
        end(s, index, companion::outcome(kind, reply), reply.refused);
    }

    bool confirmsByReport(const State &s, int index) const
    {
        const L::Kind kind = s.flights.at(index).kind;
        return m_kind.confirmsByReport && (kind == L::Kind::Unkey || kind == L::Kind::Clear);
    }

    void answer(State &s, int index) const
    {
        if (confirmsByReport(s, index))
            confirm(s, index, {.refused = false, .informed = true, .keyed = std::nullopt});
        else
            end(s, index, L::Outcome::Answered);
    }

    void refuse(State &s, int index) const
    {
        if (confirmsByReport(s, index))
            confirm(s, index, {.refused = true, .informed = true, .keyed = std::nullopt});
        else
            end(s, index, L::Outcome::Refused);
    }

    // The stop's pass is over: the ledger let it end and nothing it waits on is left.
    static bool stopEnded(const State &s) { return s.stopping && s.ledger.settled(s.stopThrough); }

    // The radio answers what is under way, in order, reports what changed
    // unasked, answers the question, and a tick passes.
    void answerRound(State &h) const
    {
        bool fresh = m_kind.polled;
        if (!h.up) {
            fresh = true;
            connectAgain(h);
        }
        for (int pass = 0; pass < 8 && !h.flights.isEmpty(); ++pass) {
            automate(h);
            if (h.flights.isEmpty())
                break;
            int first = 0;
            if (!h.flights.at(first).acted)
                act(h, h.flights[first]);
            if (h.flights.at(first).ended)
                h.flights.removeAt(first);
            else
                answer(h, first);
            automate(h);
        }
        if (fresh || h.unreported)
            report(h);
        automate(h);
        if (h.ask) {
            report(h, h.ask);
            h.ask.reset();
            h.ledger.askEnded();
            automate(h);
        }
        tick(h);
        automate(h);
        judgePayments(h);
        h.said.clear();
    }

    // What of ours stands while no connected client holds a key.
    static QString standing(const State &h)
    {
        // A connected client's CW is its own, and on some keyers keys the transmitter.
        const bool cwHeld = h.cwOwner > 0 && h.connected[h.cwOwner];
        if (!h.anyHolds() && !h.mic && (h.key || (h.cwKeys && !cwHeld)))
            return QStringLiteral("a key of ours stands though no connected client holds one");
        if (h.cw && h.cwOwner != 0 && (h.cwOwner < 0 || !h.connected[h.cwOwner]))
            return QStringLiteral("CW of a departed client stays queued");
        return {};
    }

    // With a healthy radio, no doubt and no operator, a connected client's key
    // and CW are written and stand, and once it has left nothing of ours does.
    QString live(State h) const
    {
        if (h.mic) {
            h.mic = false;
            report(h);
        }
        int c = 1;
        while (c <= m_clients && !h.connected[c])
            ++c;
        if (c > m_clients)
            return {};
        const qint64 key = write(h, c, L::Kind::Key);
        const qint64 cw = write(h, c, L::Kind::CW);
        automate(h);
        answerRound(h);
        if (h.heldKey[c] != key || !h.holds(c) || !h.key)
            return QStringLiteral("a connected client's key was not written, or did not stand");
        if (!h.cw || h.cwNumber != cw)
            return QStringLiteral("a connected client's CW was not written, or did not stand");
        leave(h, c);
        automate(h);
        answerRound(h);
        answerRound(h);
        if (!h.broken.isEmpty())
            return h.broken;
        const QString stands = standing(h);
        return stands.isEmpty() ? QString() : stands + QStringLiteral(" after it left");
    }

    // The lines of what was paid, and of a clear that failed, since the last
    // look: a payment is said once for each resend that the radio answered
    // since, or that a newer answer proves on a radio acting in order.
    void judgePayments(State &s) const
    {
        int paidLines = 0;
        int heldLines = 0;
        int clearedLines = 0;
        for (const QString &line : std::as_const(s.said)) {
            paidLines += line.startsWith(QLatin1String("Unkey sent again"));
            heldLines += line.startsWith(QLatin1String("Owed unkey sent after"));
            clearedLines += line.startsWith(QLatin1String("CW cleared after"));
        }
        int owedProven = 0;
        int heldProven = 0;
        int unkeysProven = 0;
        int clearsProven = 0;
        s.resent.removeIf([&](const Resend &r) {
            const bool proven = s.answeredNow.contains(r.number)
                || (inOrder() && r.unanswered
                    && std::any_of(s.answeredNow.cbegin(), s.answeredNow.cend(), [&r](qint64 n) { return n > r.number; }));
            owedProven += proven && r.afterOwed;
            heldProven += proven && r.afterHeld;
            unkeysProven += proven && !r.clear;
            clearsProven += proven && r.clear;
            return proven;
        });
        if (heldLines > heldProven)
            s.broken = QStringLiteral("\"owed unkey sent\" said of no unkey held back, sent and answered");
        else if (paidLines > owedProven || paidLines + heldLines > unkeysProven)
            s.broken = QStringLiteral("\"sent again\" said of no unkey sent again and answered, or twice for one");
        else if (clearedLines > clearsProven)
            s.broken = QStringLiteral("\"CW cleared\" said of no clear sent again and answered, or twice for one");
        // A debt said paid is over once nothing of it stands.
        if (paidLines + heldLines > 0 && !s.key && !s.cwKeys)
            s.owedSaid = s.heldSaid = false;
        if (clearedLines > 0 && !s.cw)
            s.clearOwedSaid = false;
        // A clear of ours that failed while a departed client's CW is queued is said.
        if (s.clearFailedNow && !s.stopping && s.cw && s.cwNumber < s.clearFailedNow && !s.clearOwedSaid
            && !(s.cwOwner > 0 && s.connected[s.cwOwner]))
            s.broken = QStringLiteral("a clear of ours failed with CW queued, and the events log was not told");
        s.answeredNow.clear();
        s.clearFailedNow = 0;
    }

    void judge(State &s, const QString &step) const
    {
        if (!s.broken.isEmpty())
            return;
        const auto saidNow = [&s](const char *text) {
            return std::any_of(s.said.cbegin(), s.said.cend(), [text](const QString &l) { return l.contains(QLatin1String(text)); });
        };
        const bool mayAct = std::any_of(s.flights.cbegin(), s.flights.cend(), [](const Flight &f) {
            return !f.acted && (f.kind == L::Kind::Key || f.kind == L::Kind::CW) && f.who != L::ownAccount;
        });
        for (const QString &line : std::as_const(s.said)) {
            if (line.contains(QLatin1String("not confirmed:")) && !step.contains(QLatin1String("never answers"))
                && !step.contains(QLatin1String("refuses")) && !step.contains(QLatin1String("drops"))
                && !step.contains(QLatin1String("leave")) && !step.contains(QLatin1String("radio reports"))
                && !step.contains(QLatin1String("bound"))
                // The companion's answer to an unkey may show it still keyed.
                && !(m_kind.confirmsByReport && step.contains(QLatin1String("answers")) && s.mic))
                s.broken = QStringLiteral("\"not confirmed\" said of an undo not yet answered");
            if (line.contains(QLatin1String("acted late")) && !s.lateKey && s.boundPassed && !s.unheard)
                s.broken = QStringLiteral("a late act said, and undone, where the radio acted on no key of ours");
        }
        judgePayments(s);
        if (!s.broken.isEmpty())
            return;
        if (stopEnded(s)) {
            s.said += s.ledger.stopWarnings();
            const bool keyStands = s.key || s.cwKeys;
            const bool warnsKey = saidNow("did not confirm the last unkey") || saidNow("Unkey not sent at stop");
            const bool warnsCW = saidNow("CW clear") || saidNow("CW the radio did not answer");
            if (keyStands && !warnsKey && !saidNow("may still key"))
                s.broken = QStringLiteral("a key of ours stands after the stop, unsaid");
            else if (s.cw && !warnsCW)
                s.broken = QStringLiteral("CW of ours is queued after the stop, unsaid");
            else if (mayAct && !warnsKey && !warnsCW && !saidNow("may still key"))
                s.broken = QStringLiteral("a request the radio may still act on after the stop, unsaid");
            else if (saidNow("did not confirm the last unkey") && !s.ledger.keyMayStand())
                s.broken = QStringLiteral("the stop warned of a key that does not stand");
            else if (saidNow("Unkey not sent at stop") && !s.mic)
                s.broken = QStringLiteral("the stop said the operator transmits");
            else if (s.up && !s.stopFailed && !s.mic && !mayAct && !saidNow("may still key") && !saidNow("CW the radio did not answer") && (keyStands || s.cw))
                s.broken = QStringLiteral("the stop left ours standing though the radio took all it sent");
            return;
        }
        s.said.clear();
        if (s.stopping)
            return;
        // Once the radio answers again, on the same connection and after a
        // reconnect, nothing of ours stands while no connected client holds a key.
        State again = s;
        answerRound(again);
        answerRound(again);
        State staying = again;
        again.ledger.sessionLost();
        again.up = false;
        for (State *h : {&again, &staying}) {
            for (int round = 2; round < 5 && h->broken.isEmpty(); ++round) {
                answerRound(*h);
                if (round == 2) {
                    h->now += kActsLateFor + 1;
                    h->ledger.timePassed(h->now);
                    automate(*h);
                }
            }
        }
        // A radio that names no key source gets an owed unkey once a connection.
        const bool spent = !m_kind.traits.namesKeySource && staying.resendFailedHere;
        QString failure = again.broken.isEmpty() ? standing(again) : again.broken;
        if (!failure.isEmpty())
            failure += QStringLiteral(" (after the radio connected again)");
        else if (!staying.broken.isEmpty() || (!spent && !standing(staying).isEmpty()))
            failure = (staying.broken.isEmpty() ? standing(staying) : staying.broken)
                + QStringLiteral(" (with the radio answering again on the same connection)");
        else
            failure = live(staying);
        s.broken = failure;
    }
};

int depthFromEnvironment(const char *name, int otherwise)
{
    bool ok = false;
    const int depth = qEnvironmentVariableIntValue(name, &ok);
    return ok && depth > 0 ? depth : otherwise;
}

class LedgerChecker : public ::testing::TestWithParam<Kind> {};

TEST_P(LedgerChecker, NoSequenceLeavesTheStationKeyedOrTheLogFalse)
{
    // Two clients deep, three a few steps shallower: a third is what it takes
    // for one client's key to wait behind another's unkey while a third leaves.
    for (const auto &[clients, depth] : {std::pair{2, depthFromEnvironment("QK_CHECKER_DEPTH", 6)},
                                         std::pair{3, depthFromEnvironment("QK_CHECKER_DEPTH3", 5)}}) {
        qint64 explored = 0;
        const QString failure = Checker(GetParam(), clients).run(depth, &explored);
        EXPECT_TRUE(failure.isEmpty()) << clients << " clients: " << failure.toStdString();
        std::printf("%s, %d clients: %lld states to depth %d\n", GetParam().name, clients, explored, depth);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, LedgerChecker, ::testing::ValuesIn(kKinds),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace kivo
