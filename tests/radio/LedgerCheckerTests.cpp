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
    // Ended without an answer: acting on it now is acting late.
    bool lost = false;
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
    bool ownFailedThisSession = false;
    // An unkey of ours failed on this connection, whatever debt came since.
    bool ownUnkeyFailedHere = false;
    int resends = 0;
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
                         qint64(ask.value_or(-1)), qint64(reportHardware), qint64(ownFailedThisSession), qint64(ownUnkeyFailedHere),
                         qint64(resends), qint64(lateKey), qint64(unreported), qint64(unheard), qint64(boundPassed), qint64(stopping), qint64(stopFailed), qint64(stale ? 1 + stale->keyed : 0),
                         stale ? qint64(stale->source) * 1000 + stale->follows : -1})
            out.append(QByteArray::number(v)).append(',');
        for (const Flight &f : flights)
            out.append(QByteArray::number(f.number) + char('a' + int(f.kind)) + char('0' + f.acted) + char('0' + f.ended)
                       + char('0' + f.lost));
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

    // What the ledger said. A key acted on late is a debt of its own.
    static void take(State &s)
    {
        const QStringList lines = s.ledger.takeEvents();
        if (std::any_of(lines.cbegin(), lines.cend(), [](const QString &l) { return l.contains(QLatin1String("acted late")); }))
            s.ownFailedThisSession = false, s.resends = 0;
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
                    s.ledger.handed(number);
                    if (kind == L::Kind::Unkey && who > 0)
                        s.unkeysOut.append({number, who});
                    // A client's key that reaches the radio is a debt of its own.
                    if ((kind == L::Kind::Key || (kind == L::Kind::CW && keyerKeys())) && who > 0)
                        s.ownFailedThisSession = false, s.resends = 0;
                    s.flights.append({.number = number, .kind = kind, .who = who, .acted = false, .ended = false, .lost = false});
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
                    if (!m_kind.traits.namesKeySource && s.ownFailedThisSession && !s.stopping && ++s.resends > 1)
                        s.broken = QStringLiteral("an owed unkey went again more than once on one connection");
                }
                const qint64 number = s.ledger.begin(kind, L::ownAccount);
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
        if (f.who == L::ownAccount && f.kind == L::Kind::Unkey && outcome != L::Outcome::Answered)
            s.ownFailedThisSession = s.ownUnkeyFailedHere = true;
        if (f.kind == L::Kind::Key && outcome == L::Outcome::NoAnswer && !inOrder())
            s.boundPassed = false;
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
        s.ownFailedThisSession = s.ownUnkeyFailedHere = false;
        s.resends = 0;
        s.ledger.sessionReady();
    }

    static void leave(State &s, int c)
    {
        s.connected[c] = false;
        s.heldKey[c] = 0;
        s.ledger.clientGone(c, QStringLiteral("The radio is not connected."));
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
                                [c, kind](State &t) {
                                    const qint64 number = t.ledger.begin(kind, c);
                                    t.waiting.append({number, kind});
                                    t.waitingWho.append(c);
                                    t.open[c] = number;
                                    if (kind == L::Kind::Unkey)
                                        t.heldKey[c] = 0;
                                }});
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
                         }});
            out.append({QStringLiteral("tick"), [](State &t) { t.ledger.tick(); }});
        } else {
            out.append({QStringLiteral("link back"), [this](State &t) {
                             connectAgain(t);
                             // A new session hears the transmitter's state first.
                             report(t);
                         }});
        }
        if (!s.boundPassed || s.ledger.inDoubt()) {
            out.append({QStringLiteral("a minute passes"), [this](State &t) {
                            // Every write under way timed out long before, and a radio
                            // that reports on change has said what changed.
                            timeOut(t);
                            automate(t);
                            if (t.unreported)
                                report(t);
                            if (!t.up)
                                t.unheard = true;
                            t.now += L::doubtMilliseconds + 1;
                            t.boundPassed = true;
                            // What the bridge gave up on is dead by now: the radio acts on it no more.
                            t.flights.removeIf([](const Flight &f) { return f.ended && !f.acted; });
                            t.ledger.timePassed(t.now);
                        }});
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
        end(s, index, companion::ending(kind, reply).outcome, reply.refused);
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
        h.ledger.tick();
        automate(h);
    }

    static bool lateKeyStands(const State &h)
    {
        return h.key && h.lateKey && !h.boundPassed && !h.mic && !h.anyHolds() && !h.ownUnkeyFailedHere;
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
            if (line.startsWith(QLatin1String("Owed unkey not sent")) && !s.reportHardware)
                s.broken = QStringLiteral("\"held back\" said while the operator does not transmit");
            if (line.startsWith(QLatin1String("Unkey sent again")) && !step.contains(QLatin1String("answers")))
                s.broken = QStringLiteral("\"sent again\" said of no unkey answered");
            if (line.startsWith(QLatin1String("Unkey not confirmed")) && !step.contains(QLatin1String("never answers"))
                && !step.contains(QLatin1String("refuses")) && !step.contains(QLatin1String("drops"))
                && !step.contains(QLatin1String("leave")) && !step.contains(QLatin1String("radio reports"))
                && !step.contains(QLatin1String("minute"))
                // The companion's answer to an unkey may show it still keyed.
                && !(m_kind.confirmsByReport && step.contains(QLatin1String("answers")) && s.mic))
                s.broken = QStringLiteral("\"not confirmed\" said of an unkey not yet answered");
            if (line.contains(QLatin1String("acted late")) && !s.lateKey && s.boundPassed && !s.unheard)
                s.broken = QStringLiteral("a late act said, and undone, where the radio acted on no key of ours");
        }
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
        // Once no connected client holds a key and the radio answers again,
        // nothing of ours stands after the ledger's next steps.
        State healthy = s;
        for (int round = 0; round < 5 && healthy.broken.isEmpty(); ++round) {
            answerRound(healthy);
            if (round == 2) {
                healthy.now += L::doubtMilliseconds + 1;
                healthy.ledger.timePassed(healthy.now);
                automate(healthy);
            }
            if (round == 1) {
                // A key acted on late is undone while the radio answers, not
                // once it connects again and first reports; unless an unkey
                // of ours failed on this connection.
                if (lateKeyStands(healthy)) {
                    State staying = healthy;
                    answerRound(staying);
                    if (lateKeyStands(staying) && staying.broken.isEmpty())
                        healthy.broken = QStringLiteral("a key acted on late stands until the radio connects again");
                }
                // A radio that names no key source gets an owed unkey once a connection.
                healthy.ledger.sessionLost();
                healthy.up = false;
            }
        }
        if (!healthy.broken.isEmpty()) {
            s.broken = healthy.broken + QStringLiteral(" (once the radio answered again)");
            return;
        }
        // A connected client's CW is its own, and on some keyers keys the transmitter.
        const bool cwHeld = healthy.cwOwner > 0 && healthy.connected[healthy.cwOwner];
        if (!healthy.anyHolds() && !healthy.mic && (healthy.key || (healthy.cwKeys && !cwHeld)))
            s.broken = QStringLiteral("a key of ours stands though no connected client holds one");
        else if (healthy.cw && healthy.cwOwner != 0 && (healthy.cwOwner < 0 || !healthy.connected[healthy.cwOwner]))
            s.broken = QStringLiteral("CW of a departed client stays queued");
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
