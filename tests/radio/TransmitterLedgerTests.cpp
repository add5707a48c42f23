// The transmitter ledger over each wire protocol, tried with seeded random
// sequences and with the named sequences those found (or that trials on
// the real program found), against fakes that behave like the real peers.

#include "KivoCore/flex/FlexRadioClient.h"
#include "KivoCore/flex/LegacyKIVOClient.h"
#include "fakes/FakeFlexRadio.h"
#include "fakes/FakeKIVOCompanion.h"
#include "fakes/RemoteAgentHarness.h"
#include "support/LedgerTrials.h"
#include "support/RunTask.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include <array>
#include <random>
#include <utility>

namespace kivo {
namespace {

using namespace std::chrono_literals;
using test::FakeFlexRadio;
using test::FakeKIVOCompanion;
using test::LedgerPeer;
using test::LedgerStep;
using test::runTask;
using test::waitUntil;
using enum test::LedgerStep;

// What every peer can do; the agent can also deliver states made before a command.
const QList<LedgerStep> kPeerSteps{OperatorKeys, OperatorLetsGo, RadioReleases, Stall, Release, Cut,
                                   Refuse, Comply, Slow, Prompt, Abnormal, Unannounced};

// A peer ready for a trial, or nothing when it could not be set up.
template <class Peer, class... Arguments>
std::unique_ptr<LedgerPeer> startPeer(Arguments... arguments)
{
    auto peer = std::make_unique<Peer>(arguments...);
    if (!peer->ready())
        return nullptr;
    return peer;
}

struct NamedTrial {
    const char *name;
    QList<LedgerStep> steps;
    // The clients act at the same time.
    bool together = false;
};

void runNamedTrials(const test::LedgerPeerFactory &makePeer, std::initializer_list<NamedTrial> trials)
{
    for (const NamedTrial &trial : trials) {
        SCOPED_TRACE(trial.name);
        const QString failure = test::runLedgerTrial(makePeer, trial.steps, trial.together);
        EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
    }
}

// ---------------------------------------------------------------- FlexRadio

// A radio that says who keyed, answers in order (its status lines may come
// before a slow reply), tells a new session of the station's slices, and
// may refuse keying, stall, drop the link, fault or stay silent at connect.
class FlexPeer final : public LedgerPeer {
public:
    FlexPeer()
    {
        if (!radio.listen())
            return;
        radio.setCommandHandler([this](const FakeFlexRadio::Command &command) { heard(command); });
        // Once asked to: as an owed unkey arrives, the link closes under it.
        radio.closesOn = [this](const FakeFlexRadio::Command &command) {
            return m_dropsOwedUnkey && command.text == QLatin1String("xmit 0") && clientUnkeying == 0 && leaving == 0
                && !stopping && !std::exchange(m_dropsOwedUnkey, false);
        };
        FlexRadioTiming timing;
        timing.commandTimeout = 150ms;
        timing.closingCommandTimeout = 60ms;
        timing.heartbeatInterval = 20ms;
        timing.backoffSecond = 1ms;
        client = std::make_unique<FlexRadioClient>(
            FlexRadioClient::Options{.host = QStringLiteral("127.0.0.1"),
                                     .port = radio.port(),
                                     .stationName = QStringLiteral("Maestro"),
                                     .sliceLetter = QStringLiteral("A"),
                                     .pinStore = SmartLinkCertificatePinStore(std::make_shared<InMemorySecretStore>()),
                                     .timing = timing,
                                     .random = [] { return 0.0; }},
            [](RadioConnectionState, const QString &) {},
            [this](const RadioSnapshot &snapshot) { m_last = snapshot; });
        client->start();
    }

    // Ready on the radio's newest connection, not on one the bridge has yet to find closed.
    bool ready()
    {
        return client && waitUntil([this] {
            return client->state() == RadioConnectionState::Ready && m_last.isConnected && radio.hasClient()
                && m_bootstrapped == radio.connectionCount() - 1;
        });
    }
    RadioBackendBase &bridge() override { return *client; }
    QList<LedgerStep> peerSteps() const override
    {
        return kPeerSteps + QList{StaleStates, RefuseClear, RefuseTune, CWKeys, LagsStates, NamesTune, DropsOwedUnkey};
    }
    QList<LedgerStep> modes() const override
    {
        return {Slow, StaleStates, RefuseTune, CWKeys, Unannounced, OperatorKeys, LagsStates, NamesTune, DropsOwedUnkey};
    }
    void act(LedgerStep step, quint32 random) override
    {
        switch (step) {
        case OperatorKeys:
            // Over a cut link too: a new session learns of it when it
            // subscribes. Over a key of ours too, which stands once the
            // operator lets go.
            if (radio.isTransmitting() && !radio.softwareKeyed())
                break;
            radio.setOperatorPtt(true);
            m_operatorTold = readByBridge();
            break;
        case OperatorLetsGo:
            if (operatorHolds())
                radio.setOperatorPtt(false);
            m_operatorTold = false;
            readByBridge();
            break;
        case RadioReleases:
            radio.releaseTransmitter();
            m_operatorTold = false;
            readByBridge();
            break;
        case Stall:
            radio.stall();
            break;
        case Release:
            radio.release();
            break;
        case Cut:
            radio.dropClient();
            break;
        case Refuse:
        case Comply:
            m_refusing = step == Refuse;
            if (step == Comply)
                m_refusingClear = false;
            applyRules();
            break;
        case RefuseClear:
            m_refusingClear = true;
            applyRules();
            break;
        case RefuseTune:
            m_refusingTune = true;
            applyRules();
            break;
        case Slow:
        case Prompt:
            m_slow = step == Slow;
            applyRules();
            break;
        case Abnormal: {
            // Each abnormal state in turn, in a random order, now or as the
            // next key of ours lands: the last one stands.
            QStringList states{"TX_FAULT", "TIMEOUT", "STUCK_INPUT", "SOMETHING_NEW"};
            std::shuffle(states.begin(), states.end(), std::mt19937(random));
            if (!radio.isTransmitting() && !radio.softwareKeyed()) {
                radio.faultsOnNextKey = states;
                break;
            }
            for (const QString &state : std::as_const(states))
                radio.reportAbnormal(state);
            readByBridge();
            break;
        }
        case StaleStates:
            radio.interlockBeforeKeying = true;
            break;
        case CWKeys:
            radio.cwKeys = true;
            break;
        case Unannounced:
            m_announces = false;
            radio.setAnnouncesInterlock(false);
            break;
        case LagsStates:
            radio.interlockLag = std::chrono::milliseconds(50 + random % 251);
            break;
        case NamesTune:
            radio.namesTune = true;
            break;
        case DropsOwedUnkey:
            m_dropsOwedUnkey = true;
            break;
        default:
            break;
        }
    }
    bool restore() override
    {
        radio.faultsOnNextKey.clear();
        // A radio that refuses "transmit tune 0" while it does not tune goes on refusing it.
        m_refusing = m_slow = m_refusingClear = false;
        applyRules();
        radio.release();
        return ready();
    }
    bool keyOfOursStands() const override { return radio.softwareKeyed(); }
    bool cwOfOursStands() const override { return radio.keyerHolds(); }
    bool operatorHolds() const override { return radio.isTransmitting() && radio.latched(QStringLiteral("MIC")); }
    bool answers() const override { return radio.hasClient() && !radio.isStalled() && !m_refusing; }
    int operatorCuts() const override { return m_cuts; }
    qint64 written() const override
    {
        // Lines still on their way are all in once the radio sees the link closed.
        waitUntil([this] { return !radio.hasClient(); });
        return radio.receivedLines().size();
    }
    qint64 received() const override { return radio.receivedLines().size(); }
    int links() const override { return radio.connectionCount(); }

    FakeFlexRadio radio;
    std::unique_ptr<FlexRadioClient> client;

private:
    // Lines are read in order: once the bridge shows the tune sent after
    // them, it has read what the radio told before.
    bool readByBridge()
    {
        if (!waitUntil([this] { return !radio.interlockOnItsWay(); }) || !radio.hasClient())
            return false;
        const qint64 marker = 14074000 + ++m_markers;
        radio.sendLine(QStringLiteral("S0|slice 0 RF_frequency=%1").arg(double(marker) / 1e6, 0, 'f', 6));
        return waitUntil([this, marker] { return m_last.frequencyHz == marker; });
    }
    void heard(const FakeFlexRadio::Command &command)
    {
        if (command.text == QLatin1String("xmit 0")) {
            if (m_operatorTold && operatorHolds() && clientUnkeying == 0)
                ++m_cuts;
            m_operatorTold = false;
        } else if (command.text == QLatin1String("sub client all")) {
            radio.sendLineTo(command.connection, FakeFlexRadio::clientLine(handle, QStringLiteral("CID-1"),
                                                                          QStringLiteral("Maestro")));
        } else if (command.text == QLatin1String("sub slice all")) {
            radio.sendLineTo(command.connection,
                             FakeFlexRadio::sliceLine(0, handle, QStringLiteral("A"), QStringLiteral("14.074000"),
                                                      QStringLiteral("DIGU"), true, true));
        } else if (command.text == QLatin1String("slice list")) {
            m_bootstrapped = command.connection;
        } else if (command.text == QLatin1String("sub radio all")) {
            // A new session learns of the operator only if the radio says so.
            m_operatorTold = operatorHolds() && m_announces;
            m_announces = true;
            radio.setAnnouncesInterlock(true);
        }
    }
    void applyRules()
    {
        radio.clearReplies();
        if (m_slow)
            radio.setReply(QString(), FakeFlexRadio::Reply::accept(30ms));
        const auto refusal = [this] {
            return FakeFlexRadio::Reply::reject(0x50001000, QStringLiteral("Transmit inhibited"), m_slow ? 30ms : 0ms);
        };
        if (m_refusingClear)
            radio.setReply(QStringLiteral("cwx clear"), refusal());
        if (m_refusingTune)
            radio.setReply(QStringLiteral("transmit tune 0"), refusal());
        if (m_refusing) {
            for (const QString &keying : {QStringLiteral("xmit"), QStringLiteral("transmit"), QStringLiteral("cwx")})
                radio.setReply(keying, refusal());
        }
    }

    const QString handle = QStringLiteral("0x1A2B3C4D");
    RadioSnapshot m_last;
    bool m_operatorTold = false;
    bool m_announces = true;
    bool m_refusing = false;
    bool m_refusingClear = false;
    bool m_refusingTune = false;
    bool m_slow = false;
    bool m_dropsOwedUnkey = false;
    int m_cuts = 0;
    int m_markers = 0;
    int m_bootstrapped = -1;
};

TEST(TransmitterLedger, FlexRadioNamedSequences)
{
    runNamedTrials(startPeer<FlexPeer>,
                   {
                       {"a fault after our key leaves it ours to undo", {Key, Abnormal, Leave}},
                       {"an unkey under way spares a microphone keyed meanwhile", {Refuse, Key, Unkey, OperatorKeys, Key}},
                       {"a refused unkey is paid once the radio complies", {Key, Refuse, Leave, Comply}},
                       {"the operator keyed while our key was on its way", {Slow, Key, OperatorKeys, Leave}},
                       {"a silent radio after a cut: the owed unkey by the first heartbeat",
                        {Key, Stall, Leave, Unannounced, Cut, Release}},
                       {"a report on its way as we key does not settle the key", {StaleStates, Key, Leave}},
                       {"a key begun while a refused tune's unkey awaits its reply stays ours",
                        {RefuseTune, Slow, Key, Wait, Unkey, NextClient, Key, Wait, Leave}, true},
                       {"a refused CW clear is said and paid", {RefuseClear, SendCW, Leave, Comply}},
                       {"CW that keys the transmitter is unkeyed", {CWKeys, SendCW, Leave}},
                       {"a fault under the operator's microphone ends the operator's hold", {OperatorKeys, Key, Abnormal}},
                       {"an owed CW clear is paid with the unkey of what its CW keyed", {CWKeys, RefuseClear, SendCW, Leave, Comply}},
                       {"an older unkey spares a key written while it was on its way", {Slow, Key, Wait, UnkeyAsNextKeys}, true},
                       {"an owed unkey is not paid over a key on its way", {Key, Slow, Refuse, Unkey, Comply, NextClient, Key, Wait}},
                       {"CW written while a departure's clear is on its way is still ours to clear",
                        {Slow, SendCW, Leave, NextClient, NextClient, SendCW, Wait}, true},
                       {"a held key stands while another client's CW is cleared at its going",
                        {Key, NextClient, NextClient, SendCW, Leave, Wait}, true},
                       {"a tune the radio names TUNE is ours to unkey", {NamesTune, NextClient, NextClient, Key, Leave}},
                   });
}

TEST(TransmitterLedger, FlexRadioRandomSequences)
{
    test::exploreLedger(startPeer<FlexPeer>, 100);
}

TEST(TransmitterLedger, FlexRadioEveryTwoSteps)
{
    test::exploreEveryTwoSteps(startPeer<FlexPeer>);
}

// ---------------------------------------------------------------- legacy companion

// The companion over a remote link: it answers in order, perhaps late or
// one batch at a time, may stall, fall silent to reads, answer "IF" without
// a transmit flag, refuse a tune with "?", refuse or close the link, lose an
// answer, key the transmitter with its keyer, and the operator may key at
// it by hand. It names no key source, so nothing tells the operator's key
// from ours: an unkey of the bridge's own may cut it, once. What must never
// happen is the cut again and again: outside a client's own unkey or
// departure (and the stop), "RX;" goes out at most once a connection for
// each key (each debt), and between two keys no more than two "RX;" on one
// connection are the bridge's own. A companion that falls silent takes the
// session out of ready; one that keeps answering, however slowly, keeps its link.
class LegacyPeer final : public LedgerPeer {
public:
    explicit LegacyPeer(bool closesOnKeyerClear) : m_linkEnded(closesOnKeyerClear)
    {
        companion.closesOnKeyerClear = closesOnKeyerClear;
        if (!companion.listen())
            return;
        m_port = companion.port();
        companion.setCommandHandler([this](int connection, const QByteArray &command) { heard(connection, command); });
        client = std::make_unique<LegacyKIVOClient>(
            LegacyKIVOClient::Options{.host = QStringLiteral("127.0.0.1"),
                                      .port = m_port,
                                      // Its time-outs far beyond the companion's slowest answer, however loaded the machine.
                                      .timing = {.pollInterval = 30ms,
                                                 .backoffSecond = 1ms,
                                                 .unkeyConfirmation = 2000ms,
                                                 .closingUnkeyConfirmation = 1000ms,
                                                 .silenceLimit = 4000ms}},
            [](RadioConnectionState, const QString &) {}, [](const RadioSnapshot &) {});
        client->start();
    }

    bool ready()
    {
        return client
            && waitUntil([this] { return client->state() == RadioConnectionState::Ready && companion.hasClient(); })
            && readByBridge();
    }
    RadioBackendBase &bridge() override { return *client; }
    QList<LedgerStep> peerSteps() const override
    {
        return kPeerSteps + QList{RefuseClear, RefuseTune, CWKeys, LoseAnswer, Steady, RefuseUnkey};
    }
    QList<LedgerStep> modes() const override { return {Slow, Steady, Abnormal, RefuseTune, CWKeys}; }
    void act(LedgerStep step, quint32) override
    {
        // The companion ends the link, or the bridge may: its silence.
        if (step == Stall || step == Cut || step == Unannounced || step == RefuseClear)
            m_linkEnded = true;
        switch (step) {
        case OperatorKeys:
            if (companion.transmitting || companion.keyerHolds() || !companion.hasClient())
                break;
            companion.setOperatorKey(true);
            readByBridge();
            break;
        case OperatorLetsGo:
            companion.setOperatorKey(false);
            readByBridge();
            break;
        case RadioReleases:
            companion.releaseTransmitter();
            readByBridge();
            break;
        case Stall:
            companion.stall();
            break;
        case Release:
            companion.release();
            readByBridge();
            break;
        case Cut:
            // The bridge finds out when it next reads or writes.
            companion.closeClient();
            break;
        case Refuse:
            companion.stopListening();
            break;
        case Comply:
            if (!companion.isListening())
                companion.listen(m_port);
            break;
        case Slow:
            companion.setDelay(150ms);
            readByBridge();
            break;
        case Steady:
            companion.setPace(100ms);
            readByBridge();
            break;
        case Prompt:
            companion.setDelay(0ms);
            companion.setPace(0ms);
            readByBridge();
            break;
        case Abnormal:
            // Information answers without a transmit flag.
            companion.shortInformation = true;
            break;
        case Unannounced:
            // No answer to any read command.
            companion.setAnswering(false);
            if (companion.hasClient()
                && !waitUntil([this] { return client->state() != RadioConnectionState::Ready; }))
                broken = QStringLiteral("a companion that fell silent kept the session ready");
            break;
        case RefuseClear:
            companion.closesOnKeyerClear = true;
            break;
        case RefuseTune:
            companion.refusedCommands.insert("TX2");
            break;
        case RefuseUnkey:
            // "?;" to "RX;": the transmitter stays keyed.
            companion.refusedCommands.insert("RX");
            break;
        case CWKeys:
            companion.cwKeys = true;
            break;
        case LoseAnswer:
            companion.answersToLose = 1;
            readByBridge();
            break;
        default:
            break;
        }
    }
    bool restore() override
    {
        if (!m_linkEnded && companion.connectionCount() > 1 && broken.isEmpty())
            broken = QStringLiteral("the bridge dropped a link the companion kept answering on");
        m_linkEnded = true;
        companion.setDelay(0ms);
        companion.setPace(0ms);
        companion.answersToLose = 0;
        companion.refusedCommands.remove("RX");
        // Kenwood answers carry no request: once some went unanswered, those
        // that follow on that link cannot be told apart. The companion is
        // restarted.
        if (!companion.isAnswering())
            companion.closeClient();
        companion.setAnswering(true);
        companion.shortInformation = false;
        companion.release();
        if (!companion.isListening() && !companion.listen(m_port))
            return false;
        return ready();
    }
    bool keyOfOursStands() const override { return companion.keyOfClientStands(); }
    bool cwOfOursStands() const override { return companion.keyerHolds(); }
    bool operatorHolds() const override { return companion.operatorHolds(); }
    int operatorCuts() const override { return m_cuts; }
    qint64 written() const override
    {
        // Bytes the bridge wrote before it closed the link may still be on
        // their way: all are in once the companion sees the link closed.
        waitUntil([this] { return !companion.hasClient(); });
        return companion.received().size();
    }
    qint64 received() const override { return companion.received().size(); }
    int links() const override { return companion.connectionCount(); }
    bool closedAtStop() const override { return m_closedAtStop; }
    bool holdsBack() const override { return companion.isStalled(); }
    bool answers() const override
    {
        return companion.hasClient() && !companion.isStalled() && companion.isAnswering()
            && !companion.refusedCommands.contains("RX");
    }

    FakeKIVOCompanion companion;
    std::unique_ptr<LegacyKIVOClient> client;

private:
    // Answers come in order: once the bridge has read a VFO A frequency the
    // companion took after the event, and then one more, it has read an
    // information answer made after it too. A companion that does not
    // answer has nothing to tell, and is polled no more until it does.
    bool readByBridge()
    {
        if (!companion.hasClient() || companion.isStalled() || !companion.isAnswering())
            return false;
        for (int round = 0; round < 2; ++round) {
            const qint64 marker = 14074000 + ++m_markers;
            companion.vfoAHz = marker;
            if (!waitUntil([this, marker] { return runTask(client->primaryFrequency()) == marker; }))
                return false;
        }
        return true;
    }

    void heard(int connection, const QByteArray &command)
    {
        if (stopping && companion.closesOnKeyerClear && command.startsWith("KY") && command.trimmed().size() == 2)
            m_closedAtStop = true;
        // The bridge takes CW text for a key whether or not this keyer keys.
        const bool keys = command.startsWith("TX") || (command.startsWith("KY") && command.trimmed().size() > 2);
        // A new key may leave a new debt, with a late unkey of its own.
        if (keys)
            m_ownSinceKey[connection] = m_lateUnkeys[connection] = 0;
        if (command != "RX" || clientUnkeying > 0 || stopping)
            return;
        if (++m_ownSinceKey[connection] > 2)
            broken = QStringLiteral("the bridge wrote more than two unkeys of its own on one connection");
        if (leaving == 0 && ++m_lateUnkeys[connection] > 1)
            ++m_cuts;
    }

    quint16 m_port = 0;
    bool m_linkEnded = false;
    bool m_closedAtStop = false;
    QHash<int, int> m_lateUnkeys;
    QHash<int, int> m_ownSinceKey;
    int m_cuts = 0;
    int m_markers = 0;
};

TEST(TransmitterLedger, LegacyKIVONamedSequences)
{
    runNamedTrials([] { return startPeer<LegacyPeer>(false); },
                   {
                       {"an information answer asked before the key does not settle it", {Slow, Key, Prompt, Leave}},
                       {"an unkey without a transmit flag to confirm it is not repeated each poll",
                        {Key, Abnormal, Leave, OperatorKeys, OperatorLetsGo, OperatorKeys}},
                       {"an older unkey confirmed late leaves a newer key ours",
                        {Slow, Key, Wait, Unkey, NextClient, Key, Wait, Leave}, true},
                       {"one departure writes an unconfirmable unkey at most twice", {Abnormal, CWKeys, Key, SendCW, Leave}},
                       {"a lost answer does not put answers and requests out of step", {LoseAnswer, Key, Leave}},
                       {"a companion that falls silent is dropped", {Key, Unannounced, Leave}},
                       {"each debt on one connection gets its own resend", {Stall, Key, Leave, Release, Key, Stall, Leave, Release}},
                       {"a refused tune's \"?\" answers no information request", {RefuseTune, Slow, NextClient, NextClient, Key, Slow, Slow, Slow, NextClient, Key, Slow, Slow, Slow, Leave}},
                       {"a companion answering slowly but steadily keeps its link", {Steady, Key, Leave}},
                   });
    // The companion closes the link as the departing client's keyer clear arrives.
    runNamedTrials([] { return startPeer<LegacyPeer>(true); },
                   {{"a keyer clear written into a closing link is owed", {SendCW, Leave}}});
}

TEST(TransmitterLedger, LegacyKIVORandomSequences)
{
    test::exploreLedger([] { return startPeer<LegacyPeer>(false); }, 100);
}

TEST(TransmitterLedger, LegacyKIVOEveryTwoSteps)
{
    test::exploreEveryTwoSteps([] { return startPeer<LegacyPeer>(false); });
}

// ------------------------------------------------------ Remote Station Agent

// An agent that names no key source. It answers each command with or
// without its state and sends every new state on its stream; it may make a
// revision of its own just before applying our key or unkey and deliver it
// 2-30 ms after the answer; it refuses or loses commands, answers slowly
// and not always in the order asked, acts on stalled commands long after the
// bridge gave up on them, drops its stream while answering a command, goes down for a while and
// comes back with its revisions counting from 1, and lets the operator key
// by hand or the radio release.
//
// Without a key source the bridge cannot tell the operator's mox from a key
// of its own that landed late: the unkey of a departure may cut it, and so
// may the one late unkey an owed debt gets per session. A cut is counted
// when set_ptt false on the bridge's own account reaches a hand key the
// bridge has read, other than the first after our newest key request, more
// than once on one connection.
class AgentPeer final : public LedgerPeer {
public:
    using Reply = test::FakeRemoteAgent::Reply;
    using Request = test::FakeRemoteAgent::Request;

    AgentPeer() : h({}, timing())
    {
        for (const char *command : {"set_ptt", "station_tune", "send_cw", "clear_cw"})
            h.agent.setCommandHandler(command, [this](const Request &request) { return answer(request); });
        // A whole state document takes the slow agent longer than an answer.
        h.agent.setStateHandler([this](const Request &) {
            Reply reply = Reply::json({{"success", true}, {"state", h.agent.state}});
            reply.delayMs = m_slow ? 60 : 0;
            return reply;
        });
        QObject::connect(&h.agent, &test::FakeRemoteAgent::requestReceived, &h.agent,
                         [this] { arrived(h.agent.requests.last()); });
        h.client->installEventFilter(&m_begun);
        h.client->findChild<QNetworkAccessManager *>()->installEventFilter(&m_begun);
        m_clock.start();
        h.client->start();
    }

    // Ready on a stream of the agent's that the bridge reads.
    bool ready()
    {
        return waitUntil([this] {
            return h.client->state() == RadioConnectionState::Ready && h.agent.streamCount() == 1 && readByBridge();
        });
    }
    RadioBackendBase &bridge() override { return *h.client; }
    QList<LedgerStep> peerSteps() const override
    {
        return kPeerSteps + QList{StaleStates, RefuseClear, LoseAnswer, ActsLate, RefuseKeys};
    }
    QList<LedgerStep> modes() const override { return {Slow, StaleStates, Unannounced, ActsLate, RefuseKeys}; }
    void act(LedgerStep step, quint32 random) override
    {
        // What the agent sent before is read before it does anything else.
        if (m_unread)
            readByBridge();
        switch (step) {
        case OperatorKeys:
            if (mox())
                break;
            change(true);
            m_ours = false;
            readByBridge();
            break;
        case OperatorLetsGo:
        case RadioReleases:
            if (step == RadioReleases ? mox() : operatorHolds()) {
                change(false);
                m_ours = false;
            }
            readByBridge();
            break;
        case Stall:
            h.agent.stallCommands = m_mayActLate = true;
            break;
        case Release:
            h.agent.stallCommands = false;
            actOnStalled();
            reopen();
            break;
        case ActsLate:
            h.agent.keepsStalled = m_mayActLate = true;
            break;
        case RefuseKeys:
            m_refusingKeys = true;
            break;
        case Cut:
            m_mayActLate = true;
            ++m_epoch;
            h.agent.close();
            m_down = true;
            break;
        case Refuse:
        case Comply:
            m_refusing = step == Refuse;
            break;
        case Slow:
        case Prompt:
            m_slow = step == Slow;
            break;
        case Abnormal:
            m_streamDropArmed = true;
            break;
        case StaleStates:
            // Its answers then carry no state, or the state it took before
            // applying a key or unkey: only the stream tells, late.
            m_staleStates = true;
            m_stateBeforeApplying = (random + m_staleForms++) % 2 == 0;
            m_announces = m_stateBeforeApplying;
            break;
        case RefuseClear:
            m_refusingClear = true;
            break;
        case LoseAnswer:
            m_loseAnswer = m_mayActLate = true;
            break;
        case Unannounced:
            m_announces = false;
            break;
        default:
            break;
        }
    }
    bool restore() override
    {
        m_refusing = m_slow = m_streamDropArmed = m_refusingClear = m_loseAnswer = m_refusingKeys = false;
        h.agent.stallCommands = false;
        // What it kept is acted on once the last clients have gone, long
        // after what it sent before was read and the bridge's unkeys ended.
        if (++m_restores > 1) {
            if (m_unread)
                readByBridge();
            waitUntil([this] { return !h.client->keyOutstanding() || h.client->unkeyOwed(); });
            actOnStalled();
        }
        reopen();
        return ready();
    }
    bool keyOfOursStands() const override { return m_ours && mox(); }
    bool cwOfOursStands() const override { return m_cw; }
    bool operatorHolds() const override { return mox() && !m_ours; }
    bool answers() const override { return !h.agent.stallCommands && !m_down && !m_refusing; }
    bool cwPlayedLate() const override { return m_cwLate; }
    bool mayActLate() const override { return m_mayActLate; }
    int operatorCuts() const override { return m_cuts; }
    // The network runs in a thread of its own: a request given up at the
    // stop may still reach the agent after it. What the bridge began is
    // each reply of its network manager and each stream socket.
    qint64 written() const override { return m_begun.count; }
    qint64 received() const override { return h.agent.requests.size(); }

    test::RemoteAgentHarness h;

private:
    static RemoteAgentTiming timing()
    {
        // Its time-outs far beyond the agent's slowest answer (a new TLS
        // connection a request), however loaded the machine.
        RemoteAgentTiming timing = test::RemoteAgentHarness::quickTiming();
        timing.requestTimeout = 2s;
        timing.closingRequestTimeout = 2s;
        timing.watchdogInterval = 20ms;
        timing.streamOpenTimeout = 5s;
        return timing;
    }

    QJsonObject radio() const { return h.agent.state.value("radio").toObject(); }
    bool mox() const { return radio().value("mox").toBool(); }
    qint64 revision() const { return h.agent.state.value("revision").toInteger(); }
    // A new revision of the agent's, the transmitter changed or not, on its way to the stream.
    void change(std::optional<bool> transmitting = std::nullopt, int delayMs = 0)
    {
        if (transmitting) {
            // The bridge has yet to read who holds the transmitter now.
            m_operatorTold = false;
            QJsonObject changed = radio();
            changed.insert("mox", *transmitting);
            h.agent.state.insert("radio", changed);
        }
        h.agent.state.insert("revision", revision() + 1);
        deliver(h.agent.state, delayMs);
    }
    // The stream carries the agent's revisions in the order it made them.
    void deliver(const QJsonObject &document, int delayMs)
    {
        m_unread = true;
        m_lastDue = std::max(m_lastDue, m_clock.elapsed() + delayMs);
        if (m_lastDue <= m_clock.elapsed() && m_deliveries == 0) {
            h.agent.pushState(document);
            return;
        }
        ++m_deliveries;
        QTimer::singleShot(int(m_lastDue - m_clock.elapsed()), &h.agent, [this, document, epoch = m_epoch] {
            // What was on its way to a dropped stream is lost with it.
            if (epoch == m_epoch)
                h.agent.pushState(document);
            --m_deliveries;
        });
    }
    // The stream is read in order: once the bridge shows a revision sent
    // after them, it has read what the agent sent before.
    bool readByBridge()
    {
        if (!waitUntil([this] { return m_deliveries == 0; }) || h.agent.streamCount() != 1)
            return false;
        const qsizetype seen = h.snapshots.size();
        change();
        const qint64 marker = revision();
        const bool read = waitUntil(
            [&] {
                return std::any_of(h.snapshots.begin() + seen, h.snapshots.end(), [marker](const RadioSnapshot &s) {
                    return s.remoteStationStatus && s.remoteStationStatus->revision == marker;
                });
            });
        if (read) {
            m_unread = false;
            m_operatorTold = operatorHolds();
        }
        return read;
    }
    // What it kept from a stall, long after the bridge gave up on it.
    void actOnStalled()
    {
        m_late = true;
        h.agent.actOnStalled();
        m_late = false;
    }
    // A restarted agent counts its revisions from 1 again.
    void reopen()
    {
        if (m_down && h.agent.listen()) {
            m_down = false;
            h.agent.state.insert("revision", 1);
        }
    }
    void arrived(const Request &request)
    {
        const QString command = request.command();
        if (command == "station_tune" || (command == "set_ptt" && request.arguments().value("enabled").toBool())) {
            m_keyAsked = true;
            m_ownSinceKey.clear();
        } else if (command == "set_ptt") {
            m_lateUnkey = !m_keyAsked && clientUnkeying == 0;
            m_keyAsked = false;
            // A retry carries the request's id: the agent acts on it once.
            if (clientUnkeying == 0 && !stopping && !m_unkeyIDs.contains(request.requestID())
                && ++m_ownSinceKey[h.countStatus(RadioConnectionState::Ready)] > 2)
                broken = QStringLiteral("the bridge wrote more than two unkeys of its own on one connection");
            m_unkeyIDs.insert(request.requestID());
        }
    }
    Reply answer(const Request &request)
    {
        const bool keys = request.command() == "station_tune"
            || (request.command() == "set_ptt" && request.arguments().value("enabled").toBool());
        const bool refused = m_refusing || (m_refusingClear && request.command() == "clear_cw") || (m_refusingKeys && keys);
        Reply reply;
        // One that acts late may refuse a key, then leave its retry unanswered.
        if (h.agent.keepsStalled && m_refused.remove(request.requestID())) {
            h.agent.keep(request);
            reply.delayMs = -1;
            return reply;
        }
        if (refused && h.agent.keepsStalled && request.command() != "clear_cw"
            && request.arguments().value("enabled").toBool(request.command() == "station_tune"))
            m_refused.insert(request.requestID());
        if (refused)
            reply = Reply::failure("Transmit inhibited");
        else if (m_slow)
            // A slow agent takes its time to act, and answers once it has.
            reply.actLater = [this, request] { return perform(request); };
        else
            reply = perform(request);
        // A slow agent may act on a later request before an earlier one.
        reply.delayMs = m_slow ? std::array{30, 5, 55}[m_order++ % 3] : 0;
        // Acted on, but the answer is lost on the way.
        if (!refused && std::exchange(m_loseAnswer, false))
            reply.delayMs = -1;
        return reply;
    }
    Reply perform(const Request &request)
    {
        const QString command = request.command();
        const bool keying = command == "station_tune" || command == "set_ptt";
        const bool on = command == "station_tune" || request.arguments().value("enabled").toBool();
        // Meters, or another client, make a revision just before our key or
        // unkey; the stream delivers it after the answer.
        const int later = keying && m_staleStates ? (m_slow ? 30 : 0) + std::array{30, 2, 16}[m_stale++ % 3] : 0;
        if (later > 0) {
            h.agent.state.insert("revision", revision() + 1);
            deliver(h.agent.state, later);
        }
        const QJsonObject before = h.agent.state;
        if (keying) {
            if (!on && m_lateUnkey && m_operatorTold && operatorHolds()
                && ++m_lateCuts[h.countStatus(RadioConnectionState::Ready)] > 1)
                ++m_cuts;
            change(on, later);
            m_ours = on;
            // A key acted on late is a new key: the unkey it calls for is new too.
            if (on)
                m_ownSinceKey.clear();
        } else {
            m_cw = command == "send_cw";
            m_cwLate = m_cw && m_late;
            change();
        }
        if (std::exchange(m_streamDropArmed, false)) {
            ++m_epoch;
            h.agent.closeStreams();
        }
        if (!m_announces)
            return Reply::json({{"success", true}});
        return Reply::json({{"success", true}, {"state", keying && m_stateBeforeApplying ? before : h.agent.state}});
    }

    struct ChildCount final : QObject {
        bool eventFilter(QObject *, QEvent *event) override
        {
            count += event->type() == QEvent::ChildAdded;
            return false;
        }
        qint64 count = 0;
    } m_begun;
    QElapsedTimer m_clock;
    qint64 m_lastDue = 0;
    int m_deliveries = 0;
    int m_epoch = 0;
    bool m_unread = false;
    bool m_ours = false;
    bool m_cw = false;
    bool m_operatorTold = false;
    bool m_keyAsked = false;
    bool m_lateUnkey = false;
    bool m_refusingClear = false;
    bool m_loseAnswer = false;
    bool m_refusingKeys = false;
    bool m_mayActLate = false;
    bool m_late = false;
    bool m_cwLate = false;
    QHash<int, int> m_ownSinceKey;
    // Keys refused that it will leave unanswered when asked again.
    QSet<QString> m_refused;
    QSet<QString> m_unkeyIDs;
    bool m_down = false;
    bool m_refusing = false;
    bool m_slow = false;
    bool m_streamDropArmed = false;
    bool m_staleStates = false;
    bool m_stateBeforeApplying = false;
    quint32 m_staleForms = 0;
    bool m_announces = true;
    int m_stale = 0;
    int m_order = 0;
    int m_restores = 0;
    int m_cuts = 0;
    QHash<int, int> m_lateCuts;
};

TEST(TransmitterLedger, RemoteAgentNamedSequences)
{
    runNamedTrials(startPeer<AgentPeer>,
                   {
                       {"a state made before our key settles it", {Unannounced, StaleStates, Slow, Key, Prompt, Leave}},
                       {"a slow reply from before a reconnect counts as news",
                        {Slow, Abnormal, Key, RadioReleases, Leave}},
                       {"an earlier key's revision, late on the stream, is taken for ours",
                        {Unannounced, StaleStates, Key, Unkey, Key}},
                       {"a reconnect's state asked before our key settles it", {Slow, SendCW, Abnormal, Leave, Key}},
                       {"an older unkey answered late leaves a newer key ours",
                        {Slow, Key, Wait, Unkey, NextClient, Key, Wait, Leave}, true},
                       {"a refused CW clear is said", {RefuseClear, SendCW, Leave, Comply}},
                       {"a key's own answer with the state from before it proves nothing", {StaleStates, StaleStates, Key, Leave}},
                       {"a key given up on and acted on once its client left is undone", {ActsLate, Stall, Key}},
                       {"a key refused, then retried unanswered and acted on late, is undone", {ActsLate, Refuse, Key}},
                       {"an owed unkey is paid though a newer key failed meanwhile",
                        {Key, NextClient, Stall, Unkey, Key, Slow, Leave}, true},
                       {"a keyed state from before our unkey is no sign of a key acted on late",
                        {StaleStates, Unannounced, ActsLate, Key, Stall, Leave, NextClient, Key}},
                       {"CW given up on and played once its client left is the bridge's", {ActsLate, Stall, SendCW}},
                       {"a key refused with an answer is not in doubt", {RefuseKeys, Key, OperatorKeys, Leave}},
                   });
}

TEST(TransmitterLedger, RemoteAgentRandomSequences)
{
    test::exploreLedger(startPeer<AgentPeer>, 100);
}

TEST(TransmitterLedger, RemoteAgentEveryTwoSteps)
{
    test::exploreEveryTwoSteps(startPeer<AgentPeer>);
}

} // namespace
} // namespace kivo
