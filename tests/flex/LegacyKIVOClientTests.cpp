#include "KivoCore/flex/LegacyKIVOClient.h"
#include "fakes/FakeKIVOCompanion.h"
#include "support/RunTask.h"
#include "support/ThrownMessage.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <limits>
#include <tuple>

using namespace kivo;
using namespace kivo::test;
using namespace std::chrono_literals;

namespace {

const QByteArray kPoll = QByteArrayLiteral("KS;FB;FA;FR;MD;FT;IF;");

struct Recorder {
    QList<QPair<RadioConnectionState, QString>> states;
    QList<RadioSnapshot> snapshots;
    QStringList events;

    RadioConnectionState lastState() const
    {
        return states.isEmpty() ? RadioConnectionState::Stopped : states.constLast().first;
    }
    QStringList sentences(RadioConnectionState state) const
    {
        QStringList result;
        for (const auto &[s, text] : states) {
            if (s == state)
                result << text;
        }
        return result;
    }
};

LegacyKIVOClient::Timing quietTiming()
{
    // One poll at ready and none after, so a test decides what arrives.
    return {.pollInterval = 1h, .backoffSecond = 1ms};
}

std::unique_ptr<LegacyKIVOClient> makeClient(quint16 port, Recorder &recorder,
                                             LegacyKIVOClient::Timing timing = quietTiming())
{
    return std::make_unique<LegacyKIVOClient>(
        LegacyKIVOClient::Options{.host = QStringLiteral("127.0.0.1"), .port = port, .timing = timing},
        [&recorder](RadioConnectionState state, const QString &text) { recorder.states.append({state, text}); },
        [&recorder](const RadioSnapshot &snapshot) { recorder.snapshots.append(snapshot); });
}

// The seconds of every "Retrying in" sentence, with the reason before it.
QList<QPair<QString, double>> retries(const Recorder &recorder)
{
    static const QRegularExpression pattern(QStringLiteral("^(.*)\\. Retrying in (\\d+\\.\\d) s$"));
    QList<QPair<QString, double>> result;
    for (const QString &text : recorder.sentences(RadioConnectionState::Retrying)) {
        const auto match = pattern.match(text);
        EXPECT_TRUE(match.hasMatch()) << text.toStdString();
        if (match.hasMatch())
            result.append({match.captured(1), match.captured(2).toDouble()});
    }
    return result;
}

// Awaits a stop; how many reports there were when it ended.
QCoro::Task<qsizetype> reportsWhenDone(QCoro::Task<void> stop, const Recorder *recorder)
{
    co_await std::move(stop);
    co_return recorder->states.size() + recorder->snapshots.size() + recorder->events.size();
}

quint16 refusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace

namespace {

// A client connected to a fake companion on loopback.
class LegacyKIVOSession : public ::testing::Test {
protected:
    // Starts the client and waits for its first poll to reach the companion
    // and, when the companion answers, for the answers to be read.
    void connectClient(bool answering = true, LegacyKIVOClient::Timing timing = quietTiming())
    {
        companion.setAnswering(answering);
        ASSERT_TRUE(companion.listen());
        client = makeClient(companion.port(), recorder, timing);
        client->start();
        ASSERT_TRUE(waitUntil([&] { return companion.pollCount() >= 1; }));
        if (answering) {
            // Every answer but a "?" for an unknown VFO B publishes once.
            ASSERT_TRUE(waitUntil([&] { return recorder.snapshots.size() >= (companion.vfoBHz ? 7 : 6); }));
        }
    }

    FakeKIVOCompanion companion;
    Recorder recorder;
    std::unique_ptr<LegacyKIVOClient> client;
};

class LegacyKIVOClientPolling : public LegacyKIVOSession {};
class LegacyKIVOClientControl : public LegacyKIVOSession {};
class LegacyKIVOClientLifecycle : public LegacyKIVOSession {};

} // namespace

TEST(LegacyKIVOClientModel, ANewClientHoldsItsDefaultsAndRefusesToSend)
{
    Recorder recorder;
    auto client = makeClient(5002, recorder);

    const RadioSnapshot snapshot = runTask(client->snapshot());
    EXPECT_EQ(snapshot, RadioSnapshot({.frequencyHz = 14074000,
                                                     .mode = QStringLiteral("DIGU"),
                                                     .slice = QStringLiteral("A"),
                                                     .station = QStringLiteral("KIVO SmartLink")}));
    // Reading it leaves it whole for the next reader.
    EXPECT_EQ(runTask(client->snapshot()), snapshot);
    EXPECT_EQ(runTask(client->primaryFrequency()), 14074000);
    EXPECT_EQ(runTask(client->secondaryFrequency()), std::nullopt);
    EXPECT_EQ(runTask(client->cwSpeed()), 25);

    const auto error = errorOf(client->setFrequency(7074000));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), KivoError::Kind::NotConnected);
    EXPECT_TRUE(recorder.states.isEmpty());
    EXPECT_TRUE(recorder.snapshots.isEmpty());
}

TEST_F(LegacyKIVOClientPolling, PollsEachIntervalAndPublishesBothVFOs)
{
    companion.vfoAHz = 7074000;
    companion.vfoBHz = 14200000;
    companion.modeDigit = 2;
    companion.receiveVFO = 1;
    companion.wordsPerMinute = 30;
    connectClient(true, {.pollInterval = 20ms, .backoffSecond = 1ms});
    ASSERT_TRUE(waitUntil([&] { return companion.pollCount() >= 3; }));

    // Nothing but whole poll batches, one write each.
    const QByteArray received = companion.received();
    EXPECT_EQ(received, kPoll.repeated(received.size() / kPoll.size()));
    ASSERT_GE(recorder.states.size(), 2);
    EXPECT_EQ(recorder.states[0],
              qMakePair(RadioConnectionState::Connecting,
                        QStringLiteral("Connecting to KIVO at 127.0.0.1:%1").arg(companion.port())));
    EXPECT_EQ(recorder.states[1], qMakePair(RadioConnectionState::Ready,
                                            QStringLiteral("Remote Flex connected through supervised KIVO")));

    // The mode answer follows "FR1", so it belongs to VFO B.
    const RadioSnapshot snapshot = runTask(client->snapshot());
    EXPECT_TRUE(snapshot.isConnected);
    EXPECT_EQ(snapshot.slice, "B");
    EXPECT_EQ(snapshot.frequencyHz, 14200000);
    EXPECT_EQ(snapshot.mode, "USB");
    EXPECT_EQ(snapshot.transmitSlice, "A");
    EXPECT_EQ(snapshot.transmitFrequencyHz, 7074000);
    EXPECT_EQ(snapshot.vfos,
              (QList<RadioVFO>{RadioVFO({.letter = "A", .frequencyHz = 7074000, .mode = "DIGU", .isTransmit = true}),
                               RadioVFO({.letter = "B", .frequencyHz = 14200000, .mode = "USB", .isReceive = true})}));
    EXPECT_EQ(snapshot.station, "KIVO SmartLink");
    EXPECT_EQ(runTask(client->secondaryFrequency()), 14200000);
    EXPECT_EQ(runTask(client->cwSpeed()), 30);
}

TEST_F(LegacyKIVOClientPolling, ReadsEachAnswerAsTheCompanionSendsIt)
{
    connectClient(false);
    EXPECT_TRUE(recorder.snapshots.isEmpty());

    auto sendAndWait = [&](const QByteArray &bytes, int snapshots) {
        const auto before = recorder.snapshots.size();
        companion.sendRaw(bytes);
        return waitUntil([&] { return recorder.snapshots.size() >= before + snapshots; });
    };

    // Receive on B while B is unknown: slice B, still A's frequency and mode.
    ASSERT_TRUE(sendAndWait("FR1;", 1));
    RadioSnapshot last = recorder.snapshots.constLast();
    EXPECT_TRUE(last.isConnected);
    EXPECT_EQ(last.slice, "B");
    EXPECT_EQ(last.frequencyHz, 14074000);
    EXPECT_EQ(last.mode, "DIGU");
    EXPECT_EQ(last.vfos.size(), 1);

    ASSERT_TRUE(sendAndWait("FR0;FB00014074000;", 2));
    last = recorder.snapshots.constLast();
    ASSERT_EQ(last.vfos.size(), 2);
    EXPECT_EQ(last.vfos[1], RadioVFO({.letter = "B", .frequencyHz = 14074000, .mode = "DIGU"}));

    ASSERT_TRUE(sendAndWait("MD6;", 1));
    EXPECT_EQ(recorder.snapshots.constLast().mode, "DIGL");

    // Unknown mode codes, "?" and unreadable numbers publish nothing.
    const auto before = recorder.snapshots.size();
    ASSERT_TRUE(sendAndWait("MD8;?;FAabc;MD02;KS250;", 1));
    EXPECT_EQ(recorder.snapshots.size(), before + 1);
    EXPECT_EQ(recorder.snapshots.constLast().mode, "DIGL");
    EXPECT_EQ(runTask(client->cwSpeed()), 250);

    // Two answers in one read, then one answer split over two reads.
    ASSERT_TRUE(sendAndWait("FA00007000000;FB00007001000;", 2));
    EXPECT_EQ(runTask(client->primaryFrequency()), 7000000);
    EXPECT_EQ(runTask(client->secondaryFrequency()), 7001000);
    companion.sendRaw(" FA000035");
    ASSERT_TRUE(sendAndWait("00000 \r\n;", 1));
    EXPECT_EQ(runTask(client->primaryFrequency()), 3500000);

    ASSERT_TRUE(sendAndWait("FT1;", 1));
    last = recorder.snapshots.constLast();
    EXPECT_EQ(last.transmitSlice, "B");
    EXPECT_EQ(last.transmitFrequencyHz, 7001000);
}

TEST_F(LegacyKIVOClientPolling, AnAnswerWithin64KiBIsRead)
{
    connectClient(false);

    // 65,536 bytes with the ";": never more than the limit in the buffer.
    QByteArray answer = "FA00007000000" + QByteArray(65536 - 14, ' ') + ';';
    ASSERT_EQ(answer.size(), 65536);
    companion.sendRaw(answer);
    ASSERT_TRUE(waitUntil([&] { return !recorder.snapshots.isEmpty(); }));
    EXPECT_EQ(runTask(client->primaryFrequency()), 7000000);
}

TEST_F(LegacyKIVOClientPolling, MoreThan64KiBWithoutAnEndIsDroppedAndReadingGoesOn)
{
    connectClient(false);

    // The buffer passes the limit well before the ";", whatever the chunks;
    // what follows is short enough to be read normally.
    companion.sendRaw("FA00007000000" + QByteArray(90000, ' ') + ";FB00003500000;");
    ASSERT_TRUE(waitUntil([&] { return runTask(client->secondaryFrequency()) == 3500000; }));
    for (const RadioSnapshot &snapshot : recorder.snapshots)
        EXPECT_EQ(snapshot.vfos.constFirst().frequencyHz, 14074000);
    EXPECT_EQ(runTask(client->primaryFrequency()), 14074000);
}

TEST_F(LegacyKIVOClientControl, EachOperationWritesItsKenwoodCommand)
{
    companion.vfoBHz = 14200000;
    connectClient();
    companion.clearReceived();

    auto expectSent = [&](QCoro::Task<void> task, const QByteArray &bytes) {
        runTask(std::move(task));
        EXPECT_TRUE(waitUntil([&] { return companion.received() == bytes; }))
            << "expected " << bytes.toStdString() << " got " << companion.received().toStdString();
        companion.clearReceived();
    };

    expectSent(client->setPrimaryFrequency(14074000), "FA00014074000;");
    expectSent(client->setFrequency(7074000), "FA00007074000;");
    expectSent(client->setSecondaryFrequency(21074000), "FB00021074000;");
    expectSent(client->setMode(QStringLiteral("usb")), "MD2;");
    EXPECT_EQ(recorder.snapshots.constLast().mode, "USB");
    expectSent(client->setMode(QStringLiteral("PktUsb")), "MD9;");
    expectSent(client->setMode(QStringLiteral("rttyr")), "MD6;");
    expectSent(client->setMode(QStringLiteral("SAM")), "MD5;");
    expectSent(client->setReceiveVFO(1), "FR1;");
    EXPECT_EQ(recorder.snapshots.constLast().slice, "B");
    expectSent(client->setFrequency(14250000), "FB00014250000;");
    EXPECT_EQ(recorder.snapshots.constLast().frequencyHz, 14250000);
    expectSent(client->setReceiveVFO(0), "FR0;");
    expectSent(client->setSplitTransmit(true), "FT1;");
    EXPECT_EQ(recorder.snapshots.constLast().transmitSlice, "B");
    expectSent(client->setSplitTransmit(false), "FT0;");
    expectSent(client->setTransmit(true), "TX;");
    EXPECT_TRUE(recorder.snapshots.constLast().isTransmitting);
    expectSent(client->setTransmit(false), "RX;IF;");
    EXPECT_FALSE(recorder.snapshots.constLast().isTransmitting);
    expectSent(client->setTransmit(CATTransmitMode::Microphone), "TX0;");
    expectSent(client->setTransmit(CATTransmitMode::Data), "TX1;");
    expectSent(client->setTransmit(CATTransmitMode::Tune), "TX2;");
    EXPECT_TRUE(recorder.snapshots.constLast().isTransmitting);
    expectSent(client->clearCW(), "KY                        ;IF;RX;IF;");
    EXPECT_FALSE(recorder.snapshots.constLast().isTransmitting);
    expectSent(client->setCWSpeed(5), "KS005;");
    expectSent(client->setCWSpeed(100), "KS100;");
    EXPECT_EQ(runTask(client->cwSpeed()), 100);

    // 128 user-perceived characters, one of them two code points, sent as typed.
    const QString text = QStringLiteral("cq de dl1abc ") + QString(114, u'x') + QStringLiteral("e\u0301");
    expectSent(client->sendCW(text), "KY " + text.toUtf8() + ";");
}

// Each answer is matched to the request that asked it: CW text is no
// request, and an answer lost on the way shifts none of those after it.
TEST_F(LegacyKIVOClientControl, KeyerAndUnkeyAreConfirmedByTheirOwnAnswers)
{
    struct Row {
        const char *name;
        LegacyKIVOClient::Timing timing;
        std::function<void()> before;
    };
    const Row rows[] = {
        {"CW text holding IF", quietTiming(), [this] { runTask(client->sendCW(QStringLiteral("CQ IF"))); }},
        {"an answer lost while polling", {.pollInterval = 20ms, .backoffSecond = 1ms}, [this] {
             companion.answersToLose = 1;
             const int polls = companion.pollCount() + 3;
             ASSERT_TRUE(waitUntil([&] { return companion.pollCount() >= polls; }));
         }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        companion.clearReceived();
        recorder.snapshots.clear();
        connectClient(true, row.timing);
        row.before();
        EXPECT_NO_THROW(runTask(client->clearCW()));
        runTask(client->setTransmit(true));
        EXPECT_NO_THROW(runTask(client->setTransmit(false)));
        EXPECT_EQ(client->state(), RadioConnectionState::Ready);
        errorOf(client->stop());
        client.reset();
        companion.stopListening();
    }
}

// A refusal "?" answers the oldest command still unanswered, a set among
// them: the idle answer asked before a key never counts as asked after it.
TEST_F(LegacyKIVOClientControl, ARefusalShiftsNoInformationAnswerOntoANewerKey)
{
    const QList<QPair<QByteArray, std::function<QCoro::Task<void>()>>> rows{
        {"TX0", [this] { return client->setTransmit(CATTransmitMode::Microphone); }},
        {"FA", [this] { return client->setPrimaryFrequency(7074000); }},
        {"MD", [this] { return client->setMode(QStringLiteral("USB")); }},
    };
    for (const auto &[refused, write] : rows) {
        SCOPED_TRACE(refused.toStdString());
        companion.refusedCommands = {refused};
        companion.clearReceived();
        recorder = {};
        connectClient();
        // Refused; an unkey asked about; client B keys; a keyer clear asked about.
        companion.stall();
        runTask(write());
        auto unkey = client->setTransmit(false);
        ClientActivity b;
        b.noteKeyed(client->nextTransmitNumber());
        runTask(client->setTransmit(true));
        auto clear = client->clearCW();
        companion.release();
        errorOf(std::move(unkey));
        errorOf(std::move(clear));
        runTask(client->makeSafe(b));
        EXPECT_FALSE(companion.transmitting);
        runTask(client->stop());
        client.reset();
        companion.stopListening();
    }
}

// An unkey or keyer clear ends as the companion's answers after it say:
// taken, refused (acted on by nobody), or not known.
TEST_F(LegacyKIVOClientControl, AConfirmedWriteEndsAsTheCompanionAnswered)
{
    struct Row {
        const char *exchange;
        std::function<void()> before;
        bool unkey;
        const char *error;
        bool refused;
    };
    const Row rows[] = {
        {"RX;IF; answered idle", {}, true, "", false},
        {"RX;IF; answered ?;", [this] { companion.refusedCommands = {"RX"}; }, true, "KIVO refused the unkey.", true},
        {"RX;IF; answered keyed by the keyer", [this] {
             companion.cwKeys = true;
             runTask(client->sendCW(QStringLiteral("CQ")));
         }, true, "KIVO still reports the transmitter keyed.", true},
        {"RX;IF; answered without a transmit flag", [this] { companion.shortInformation = true; }, true,
         "KIVO did not say whether the transmitter is keyed.", false},
        {"KY;IF; answered", {}, false, "", false},
        {"KY;IF; answered ?;", [this] { companion.refusedCommands = {"KY"}; }, false, "KIVO refused the CW clear.", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.exchange);
        companion.refusedCommands.clear();
        companion.cwKeys = companion.shortInformation = false;
        recorder = {};
        connectClient();
        runTask(client->setTransmit(true));
        if (row.before)
            row.before();
        const auto error = errorOf(row.unkey ? client->setTransmit(false) : client->clearCW());
        EXPECT_EQ((error ? error->message() : QString()).toStdString(), row.error);
        EXPECT_EQ(error && error->refused(), row.refused);
        errorOf(client->stop());
        client.reset();
        companion.stopListening();
    }
}

// Polls go at the pace of the answers: a slow companion, or one that never
// answers "IF", keeps its link though an unkey it cannot confirm in time
// fails; a silent one gets no more polls and is dropped once nothing came
// for the silence limit, though a client keeps writing to it.
TEST(LegacyKIVOClientPacing, ASlowCompanionKeepsItsLinkAndASilentOneIsDropped)
{
    const LegacyKIVOClient::Timing timing{
        .pollInterval = 20ms, .backoffSecond = 1s, .unkeyConfirmation = 50ms, .silenceLimit = 2s};
    const auto silent = [](FakeKIVOCompanion &c) { c.setAnswering(false); };
    const QList<std::tuple<const char *, std::function<void(FakeKIVOCompanion &)>, bool>> rows{
        {"one batch at a time", [](FakeKIVOCompanion &c) { c.setPace(100ms); }, false},
        {"never an IF answer, one batch at a time",
         [](FakeKIVOCompanion &c) {
             c.answersToLose = std::numeric_limits<int>::max();
             c.setPace(100ms);
         },
         false},
        {"silent", silent, false},
        {"silent while a client sets the frequency every 100 ms", silent, true},
    };
    for (const auto &[name, behave, writing] : rows) {
        SCOPED_TRACE(name);
        FakeKIVOCompanion companion;
        Recorder recorder;
        int polls = 0;
        companion.setCommandHandler([&polls](int link, const QByteArray &command) {
            polls += link == 1 && command == "KS";
        });
        behave(companion);
        ASSERT_TRUE(companion.listen());
        QElapsedTimer clock;
        clock.start();
        auto client = makeClient(companion.port(), recorder, timing);
        client->start();
        if (companion.isAnswering()) {
            EXPECT_TRUE(waitUntil([&] { return polls >= 5; }));
            // Its confirmation comes too late: the unkey fails, the link stays.
            EXPECT_TRUE(errorOf(client->setTransmit(false)).has_value());
            // Batches at its pace, for longer than the silence limit: its
            // answers keep the link though a read is always outstanding.
            EXPECT_TRUE(waitUntil([&] { return polls >= 25; }, 10s));
            EXPECT_EQ(companion.connectionCount(), 1);
        } else {
            // Our own writes are not heard from the companion: it is
            // dropped while they go on.
            const auto dropped = [&] { return !retries(recorder).isEmpty(); };
            while (writing && !dropped() && clock.elapsed() < 10'000) {
                errorOf(client->setFrequency(14'074'000));
                waitUntil(dropped, 100ms);
            }
            ASSERT_TRUE(writing ? dropped() : waitUntil(dropped, 10s));
            EXPECT_GE(clock.elapsed(), timing.silenceLimit.count());
            EXPECT_EQ(retries(recorder).constFirst().first, QStringLiteral("KIVO stopped answering"));
            EXPECT_EQ(polls, 1);
        }
    }
}

TEST_F(LegacyKIVOClientControl, RefusedArgumentsSendNothing)
{
    connectClient();
    companion.clearReceived();

    auto kindOf = [](QCoro::Task<void> task) {
        const auto error = errorOf(std::move(task));
        return error ? std::optional(error->kind()) : std::nullopt;
    };
    auto messageOf = [](QCoro::Task<void> task) {
        const auto error = errorOf(std::move(task));
        return error ? error->message() : QString();
    };

    EXPECT_EQ(kindOf(client->setFrequency(0)), KivoError::Kind::InvalidFrequency);
    EXPECT_EQ(kindOf(client->setSecondaryFrequency(-5)), KivoError::Kind::InvalidFrequency);
    EXPECT_EQ(kindOf(client->setMode(QStringLiteral("pktlsb"))), KivoError::Kind::InvalidMode);
    // The companion knows no VFO B.
    EXPECT_EQ(kindOf(client->setSplitTransmit(true)), KivoError::Kind::Unsupported);
    EXPECT_EQ(kindOf(client->setReceiveVFO(1)), KivoError::Kind::Unsupported);
    EXPECT_EQ(kindOf(client->setReceiveVFO(2)), KivoError::Kind::Unsupported);
    EXPECT_EQ(kindOf(client->setRIT(true, 100, std::nullopt)), KivoError::Kind::Unsupported);
    EXPECT_EQ(kindOf(client->setXIT(true, 100, std::nullopt)), KivoError::Kind::Unsupported);
    EXPECT_EQ(kindOf(client->setRFPower(50)), KivoError::Kind::Unsupported);
    EXPECT_EQ(kindOf(client->performStationAction(RemoteStationAction::Tune)), KivoError::Kind::Unsupported);

    const QString speedError = QStringLiteral("CW speed must be 5 through 100 WPM.");
    EXPECT_EQ(messageOf(client->setCWSpeed(4)), speedError);
    EXPECT_EQ(messageOf(client->setCWSpeed(250)), speedError);
    const QString textError = QStringLiteral("CW text must contain 1 through 128 safe characters.");
    EXPECT_EQ(messageOf(client->sendCW(QString())), textError);
    EXPECT_EQ(messageOf(client->sendCW(QString(129, u'e'))), textError);
    EXPECT_EQ(messageOf(client->sendCW(QStringLiteral("cq;test"))), textError);

    // The next command is the first thing the companion sees.
    runTask(client->setTransmit(false));
    ASSERT_TRUE(waitUntil([&] { return !companion.received().isEmpty(); }));
    settle();
    EXPECT_EQ(companion.received(), "RX;IF;");
}

TEST_F(LegacyKIVOClientControl, SetFrequencyRecordsTheVFOItsCommandAddressed)
{
    companion.vfoBHz = 14200000;
    connectClient();
    companion.clearReceived();

    // The switch to VFO B completes while the frequency write is in flight:
    // "FA" went out, so VFO A is the one tuned.
    auto toB = client->setReceiveVFO(1);
    auto tune = client->setFrequency(7074000);
    runTask(std::move(toB));
    runTask(std::move(tune));

    ASSERT_TRUE(waitUntil([&] { return companion.received() == "FR1;FA00007074000;"; }));
    EXPECT_EQ(runTask(client->primaryFrequency()), 7074000);
    EXPECT_EQ(runTask(client->secondaryFrequency()), 14200000);
    const RadioSnapshot last = recorder.snapshots.constLast();
    EXPECT_EQ(last.slice, "B");
    EXPECT_EQ(last.frequencyHz, 14200000);
}

TEST_F(LegacyKIVOClientLifecycle, RetriesWithGrowingBackoffAndAReadyConnectionResetsIt)
{
    const quint16 port = refusedPort();
    client = makeClient(port, recorder);
    client->start();
    ASSERT_TRUE(waitUntil([&] { return retries(recorder).size() >= 7; }));

    const auto delays = retries(recorder);
    const QList<QPair<double, double>> ranges{{1.0, 1.3}, {2.0, 2.5}, {4.0, 5.0}, {8.0, 10.0},
                                             {16.0, 20.0}, {30.0, 37.5}, {30.0, 37.5}};
    for (int i = 0; i < ranges.size(); ++i) {
        EXPECT_EQ(delays[i].first, QStringLiteral("KIVO waiting: Connection refused"));
        EXPECT_GE(delays[i].second, ranges[i].first) << "retry " << i + 1;
        EXPECT_LE(delays[i].second, ranges[i].second) << "retry " << i + 1;
    }

    ASSERT_TRUE(companion.listen(port));
    ASSERT_TRUE(waitUntil([&] { return recorder.lastState() == RadioConnectionState::Ready; }));
    ASSERT_TRUE(waitUntil([&] { return companion.pollCount() >= 1 && !recorder.snapshots.isEmpty(); }));
    companion.stopListening();
    const auto before = retries(recorder).size();
    companion.closeClient();
    ASSERT_TRUE(waitUntil([&] { return retries(recorder).size() > before; }));

    const auto after = retries(recorder)[before];
    EXPECT_EQ(after.first, QStringLiteral("KIVO closed the connection"));
    EXPECT_GE(after.second, 1.0);
    EXPECT_LE(after.second, 1.3);
    EXPECT_FALSE(recorder.snapshots.constLast().isConnected);
}

TEST_F(LegacyKIVOClientLifecycle, StopWhileReadyReleasesTheKeyerBeforeClosing)
{
    connectClient();
    runTask(client->setTransmit(true));
    runTask(client->sendCW(QStringLiteral("CQ")));
    ASSERT_TRUE(waitUntil([&] { return companion.received().endsWith("KY CQ;"); }));
    companion.clearReceived();

    runTask(client->stop());
    EXPECT_TRUE(waitUntil([&] { return companion.received() == "KY                        ;IF;RX;IF;"; }));
    EXPECT_TRUE(waitUntil([&] { return !companion.hasClient(); }));
    EXPECT_EQ(recorder.states.constLast(), qMakePair(RadioConnectionState::Stopped, QStringLiteral("Stopped")));
    EXPECT_FALSE(recorder.snapshots.constLast().isConnected);
    EXPECT_EQ(errorOf(client->setTransmit(true))->kind(), KivoError::Kind::NotConnected);

    // A closed link reports nothing more and does not come back.
    const auto states = recorder.states.size();
    settle(100ms);
    EXPECT_EQ(recorder.states.size(), states);
    EXPECT_EQ(companion.connectionCount(), 1);
}

TEST_F(LegacyKIVOClientLifecycle, StopWhileRetryingWritesNothingAndEndsTheRetries)
{
    const quint16 port = refusedPort();
    client = makeClient(port, recorder, {.pollInterval = 1h, .backoffSecond = 20ms});
    client->start();
    ASSERT_TRUE(waitUntil([&] { return recorder.lastState() == RadioConnectionState::Retrying; }));

    runTask(client->stop());
    EXPECT_EQ(recorder.states.constLast(), qMakePair(RadioConnectionState::Stopped, QStringLiteral("Stopped")));

    // The retry that was due would have found this companion.
    ASSERT_TRUE(companion.listen(port));
    settle(150ms);
    EXPECT_EQ(companion.connectionCount(), 0);
    EXPECT_EQ(recorder.lastState(), RadioConnectionState::Stopped);
}

TEST_F(LegacyKIVOClientLifecycle, ReconnectNowIgnoresTheReplacedConnection)
{
    connectClient(true, {.pollInterval = 20ms, .backoffSecond = 1ms});
    recorder.states.clear();

    client->reconnectNow();
    ASSERT_TRUE(waitUntil([&] { return companion.connectionCount() == 2 && companion.pollCount() >= 4; }));
    settle(60ms);

    // The old connection's end and its poll loop leave no trace.
    ASSERT_EQ(recorder.states.size(), 2);
    EXPECT_EQ(recorder.states[0].first, RadioConnectionState::Connecting);
    EXPECT_EQ(recorder.states[1].first, RadioConnectionState::Ready);
    EXPECT_TRUE(recorder.snapshots.constLast().isConnected);
}

TEST_F(LegacyKIVOClientLifecycle, APortOfZeroFailsWithoutRetrying)
{
    client = makeClient(0, recorder);
    client->start();
    settle(30ms);
    ASSERT_EQ(recorder.states.size(), 2);
    EXPECT_EQ(recorder.states[1], qMakePair(RadioConnectionState::Failed, QStringLiteral("Invalid KIVO port")));
}

// An unkey counts only once the companion's information answer shows it: a
// link that is down, or that closes as the "RX;" arrives, leaves it owed,
// not to be sent again on that connection, and it is paid when the
// companion is back and still reports a key.
TEST_F(LegacyKIVOClientLifecycle, AKeyedClientLeavingWhileTheLinkFailsIsUnkeyedOnceTheCompanionIsBack)
{
    for (const bool closesOnUnkey : {false, true}) {
        SCOPED_TRACE(closesOnUnkey);
        connectClient();
        client->setEventHandler([&](const QString &line) { recorder.events << line; });
        ClientActivity keyed;
        keyed.noteKeyed(client->nextTransmitNumber());
        runTask(client->setTransmit(true));
        ASSERT_TRUE(waitUntil([&] { return companion.transmitting; }));
        const quint16 port = companion.port();
        companion.stopListening();
        companion.closesOnUnkey = closesOnUnkey;
        if (!closesOnUnkey) {
            companion.closeClient();
            ASSERT_TRUE(waitUntil([&] { return recorder.lastState() == RadioConnectionState::Retrying; }));
        }
        EXPECT_FALSE(runTask(client->makeSafe(keyed)));
        EXPECT_TRUE(companion.transmitting);
        companion.closesOnUnkey = false;
        companion.clearReceived();
        ASSERT_TRUE(companion.listen(port));
        QStringList said{"Unkey not confirmed: The radio is not connected. It is sent again when the radio answers"};
        if (closesOnUnkey)
            said << "The radio did not confirm the unkey sent again; it is not repeated until the radio reconnects";
        said << "Unkey sent again after the radio answered";
        ASSERT_TRUE(waitUntil([&] { return recorder.events.size() == said.size(); })) << recorder.events.join(u"|").toStdString();
        EXPECT_EQ(companion.received().left(kPoll.size() + 6), kPoll + "RX;IF;");
        EXPECT_FALSE(companion.transmitting);
        EXPECT_EQ(recorder.events, said);
        runTask(client->stop());
        client.reset();
        companion.stopListening();
        companion.closeClient();
        recorder = {};
    }
}

TEST_F(LegacyKIVOClientLifecycle, NothingIsReportedAfterAStopEndsThoughAnEarlierStopStillSaysGoodbye)
{
    connectClient();
    client->setEventHandler([&](const QString &line) { recorder.events << line; });
    auto first = reportsWhenDone(client->stop(), &recorder);
    auto second = reportsWhenDone(client->stop(), &recorder);
    const qsizetype atFirstEnd = std::min(runTask(std::move(first)), runTask(std::move(second)));
    settle();
    EXPECT_EQ(recorder.states.size() + recorder.snapshots.size() + recorder.events.size(), atFirstEnd);
    EXPECT_EQ(recorder.states.constLast(), qMakePair(RadioConnectionState::Stopped, QStringLiteral("Stopped")));
    EXPECT_FALSE(recorder.snapshots.constLast().isConnected);
}
