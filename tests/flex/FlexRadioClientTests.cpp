#include "KivoCore/flex/FlexRadioClient.h"

#include "fakes/FakeFlexRadio.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"

#include <QFile>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslSocket>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <memory>

namespace kivo {
namespace {

using namespace std::chrono_literals;
using test::FakeFlexRadio;
using test::runTask;
using test::settle;
using test::waitUntil;

const QString handle = QStringLiteral("0x1A2B3C4D");

FlexRadioClient::Timing fastTiming()
{
    FlexRadioClient::Timing timing;
    // The fake answers at once, but a loaded machine running the sanitized
    // build can hold a reply back for some hundred milliseconds.
    timing.commandTimeout = 1s;
    timing.closingCommandTimeout = 500ms;
    // Long enough that no test sees a ping it did not ask for.
    timing.heartbeatInterval = 60s;
    timing.handleWait = 160ms;
    timing.backoffSecond = 1ms;
    return timing;
}

// The error text of a failed task; empty when it succeeded.
template <typename T>
QString errorOf(QCoro::Task<T> task)
{
    try {
        runTask(std::move(task));
    } catch (...) {
        return describeException(std::current_exception());
    }
    return {};
}

QStringList dataLines(const QString &name)
{
    QFile file(QStringLiteral(QK_TEST_DATA_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

const QStringList bootstrapCommands{QStringLiteral("sub client all"), QStringLiteral("sub slice all"),
                                    QStringLiteral("sub radio all"),  QStringLiteral("keepalive enable"),
                                    QStringLiteral("slice list"),     QStringLiteral("ping")};

struct ClientOptions {
    QString station = QStringLiteral("Maestro");
    QString slice = QStringLiteral("A");
    bool tls = false;
    std::optional<QString> validationHandle;
    std::optional<QString> identity;
    std::optional<quint16> port;
    FlexRadioClient::Timing timing = fastTiming();
    double random = 0.0;
};

class FlexRadioClientTest : public ::testing::Test {
public:
    using Options = ClientOptions;
    // What the ledger told the events log.
    QStringList ledgerEvents;

    void SetUp() override { ASSERT_TRUE(radio.listen()); }

    void TearDown() override
    {
        if (client)
            errorOf(client->stop());
        client.reset();
    }

    void makeClient(Options options = {})
    {
        const double random = options.random;
        client = std::make_unique<FlexRadioClient>(
            FlexRadioClient::Options{.host = QStringLiteral("127.0.0.1"),
                                     .port = options.port.value_or(radio.port()),
                                     .stationName = options.station,
                                     .sliceLetter = options.slice,
                                     .useTLS = options.tls,
                                     .wanValidationHandle = options.validationHandle,
                                     .certificateIdentity = options.identity,
                                     .pinStore = SmartLinkCertificatePinStore(secrets),
                                     .timing = options.timing,
                                     .random = [random] { return random; }},
            [this](RadioConnectionState state, const QString &status) { states.append({state, status}); },
            [this](const RadioSnapshot &snapshot) { snapshots.append(snapshot); });
    }

    // Started, bootstrapped, waiting for its station.
    void startReady(Options options = {})
    {
        const QString ready = QStringLiteral("Connected; waiting for %1 slice %2")
                                  .arg(options.station, options.slice.toUpper());
        makeClient(std::move(options));
        client->start();
        ASSERT_TRUE(waitForSentence(ready));
    }

    // The station with slice A (id 0, active, transmit) and slice B (id 1).
    void follow()
    {
        const int found = count(QStringLiteral("Found VFO B at 7.074000 MHz"));
        radio.sendLine(FakeFlexRadio::clientLine(handle, QStringLiteral("CID-1"), QStringLiteral("Maestro")));
        radio.sendLine(FakeFlexRadio::sliceLine(0, handle, QStringLiteral("A"), QStringLiteral("14.074000"),
                                                QStringLiteral("DIGU"), true, true));
        radio.sendLine(FakeFlexRadio::sliceLine(1, handle, QStringLiteral("B"), QStringLiteral("7.074000"),
                                                QStringLiteral("USB"), false, false));
        ASSERT_TRUE(waitUntil([&] { return count(QStringLiteral("Found VFO B at 7.074000 MHz")) > found; }));
        ASSERT_TRUE(last().isConnected);
        ASSERT_TRUE(radio.waitForCommand(QStringLiteral("client bind client_id=CID-1")));
        radio.clearReceived();
    }

    QStringList sentences() const
    {
        QStringList list;
        for (const auto &[state, status] : states)
            list.append(status);
        return list;
    }

    bool waitForSentence(const QString &sentence, std::chrono::milliseconds timeout = test::patience)
    {
        return waitUntil([&] { return sentences().contains(sentence); }, timeout);
    }

    int count(const QString &sentence) const { return int(sentences().count(sentence)); }

    RadioSnapshot last() const { return snapshots.isEmpty() ? RadioSnapshot() : snapshots.last(); }

    // Sends one line and waits until the client has published for it.
    void sendAndWaitForSnapshot(const QString &line)
    {
        const auto before = snapshots.size();
        radio.sendLine(line);
        EXPECT_TRUE(waitUntil([&] { return snapshots.size() > before; })) << line.toStdString();
    }

    FakeFlexRadio radio;
    std::shared_ptr<InMemorySecretStore> secrets = std::make_shared<InMemorySecretStore>();
    QList<QPair<RadioConnectionState, QString>> states;
    QList<RadioSnapshot> snapshots;
    std::unique_ptr<FlexRadioClient> client;
};

// ---------------------------------------------------------------- parsers

TEST(FlexCommandResponseParserTest, ReadsWellFormedReplies)
{
    using FlexCommandResponseParser::parse;
    using Response = FlexCommandResponseParser::Response;
    EXPECT_EQ(parse(u"R7|0|"), (Response{7, 0, {}}));
    EXPECT_EQ(parse(u"R7|0"), (Response{7, 0, {}}));
    EXPECT_EQ(parse(u"R7|0|ok"), (Response{7, 0, QStringLiteral("ok")}));
    EXPECT_EQ(parse(u"R7|1f|"), (Response{7, 0x1F, {}}));
    EXPECT_EQ(parse(u"R7|+50000015|x"), (Response{7, 0x50000015, QStringLiteral("x")}));
    EXPECT_EQ(parse(u"R7|FFFFFFFF|"), (Response{7, 0xFFFFFFFF, {}}));
    EXPECT_EQ(parse(u"R7|1|abc|def"), (Response{7, 1, QStringLiteral("abc")}));
    EXPECT_EQ(parse(u"R7|1|a|b|c"), (Response{7, 1, QStringLiteral("a")}));
}

TEST(FlexCommandResponseParserTest, RefusesMalformedReplies)
{
    for (const char16_t *line : {u"R7", u"R7|", u"R|0|", u"R7||x", u"R7|0x1|", u"R7|100000000|", u"Rx|0|",
                                 u"R 7|0|", u"R7| 0|", u"S7|0|", u""})
        EXPECT_FALSE(FlexCommandResponseParser::parse(line)) << QString::fromUtf16(line).toStdString();
}

TEST(FlexStatusLineTest, CutsObjectIdentifierAndProperties)
{
    const auto status = parseFlexStatusLine(u"S0|slice 3  mode=usb x= =y a==b plain mode=DIGU");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->object, QStringLiteral("slice"));
    EXPECT_EQ(status->identifier, QStringLiteral("3"));
    const QHash<QString, QString> expected{{QStringLiteral("mode"), QStringLiteral("DIGU")},
                                           {QStringLiteral("a"), QStringLiteral("=b")}};
    EXPECT_EQ(status->properties, expected);

    const auto noIdentifier = parseFlexStatusLine(u"S0|cwx wpm=30");
    ASSERT_TRUE(noIdentifier);
    EXPECT_FALSE(noIdentifier->identifier);
    EXPECT_FALSE(parseFlexStatusLine(u"S0slice 0 mode=USB"));
    EXPECT_FALSE(parseFlexStatusLine(u"S0|   "));
}

TEST(FlexStatusLineTest, ReadsARealSliceStatusLine)
{
    const QStringList lines = dataLines(QStringLiteral("smartsdr-sub-slice-reply.txt"));
    ASSERT_EQ(lines.size(), 3);
    const auto status = parseFlexStatusLine(lines[0]);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->identifier, QStringLiteral("0"));
    EXPECT_EQ(status->properties.value(QStringLiteral("RF_frequency")), QStringLiteral("10.137000"));
    EXPECT_EQ(status->properties.value(QStringLiteral("tx_ant_list")), QStringLiteral("ANT1,ANT2,XVTA,XVTB"));
}

// Only the API's own key and tune are software: a key from any jack the
// operator can press holds an unkey of ours back.
TEST(FlexInterlockTest, ReadsWhoKeyedFromRealInterlockLines)
{
    using Source = TransmitterLedger::Source;
    const auto keyed = [](Source source) { return FlexInterlockReading{true, true, source}; };
    const QList<std::pair<const char *, std::optional<FlexInterlockReading>>> rows{
        {"S0|interlock state=PTT_REQUESTED reason= source=SW", keyed(Source::Software)},
        {"S0|interlock state=TRANSMITTING source=TUNE tx_client_handle=0x1A2B3C4D", keyed(Source::Software)},
        {"S0|interlock state=TRANSMITTING reason= source=MIC", keyed(Source::Hardware)},
        {"S0|interlock state=PTT_REQUESTED reason= source=PTT", keyed(Source::Hardware)},
        {"S0|interlock state=TRANSMITTING reason= source=ACC", keyed(Source::Hardware)},
        {"S0|interlock state=PTT_REQUESTED reason= source=RCA", keyed(Source::Hardware)},
        {"S0|interlock state=TRANSMITTING reason= source=VOX", keyed(Source::Hardware)},
        {"S0|interlock state=TRANSMITTING reason= source=MIC,VOX,SW", keyed(Source::Hardware)},
        {"S0|interlock state=UNKEY_REQUESTED reason= source=SW", FlexInterlockReading{false, false, Source::Software}},
        {"S0|interlock state=READY reason= source=", FlexInterlockReading{}},
        // A fault may leave our request standing: a key of no named source.
        {"S0|interlock state=TX_FAULT reason= source=SW", FlexInterlockReading{false, true, Source::Unknown}},
        {"S0|interlock tx_allowed=1", std::nullopt},
    };
    for (const auto &[line, reading] : rows)
        EXPECT_EQ(readFlexInterlock(parseFlexStatusLine(QString::fromLatin1(line))->properties), reading) << line;
}

TEST(FlexHandleTest, NormalizesHandles)
{
    const auto normalized = [](const char *text) { return FlexRadioClient::normalizedHandle(QString::fromLatin1(text)); };
    EXPECT_EQ(normalized("0x00AB"), QStringLiteral("ab"));
    EXPECT_EQ(normalized(" 0xab\n"), QStringLiteral("ab"));
    EXPECT_EQ(normalized("AB"), QStringLiteral("ab"));
    EXPECT_EQ(normalized("0x0000"), QStringLiteral("0"));
    EXPECT_EQ(normalized("0x"), QStringLiteral("0"));
    EXPECT_EQ(normalized("000"), QStringLiteral("0"));
    EXPECT_FALSE(normalized("  "));
    EXPECT_FALSE(FlexRadioClient::normalizedHandle(std::nullopt));
}

// ---------------------------------------------------------------- session

TEST_F(FlexRadioClientTest, ConnectsAndBootstrapsInOrder)
{
    radio.setPrologue(FakeFlexRadio::samplePrologue());
    Options options;
    options.slice = QStringLiteral("b");
    startReady(options);

    EXPECT_EQ(radio.commandTexts(true), bootstrapCommands);
    QList<qint64> numbers;
    for (const auto &command : radio.commands())
        numbers.append(command.sequence);
    EXPECT_EQ(numbers, (QList<qint64>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(radio.receivedLines().first(), QStringLiteral("C1|sub client all"));

    const QStringList expected{QStringLiteral("Connecting to 127.0.0.1:%1").arg(radio.port()),
                               QStringLiteral("Connected; starting radio session"),
                               QStringLiteral("Connected; waiting for Maestro slice B")};
    EXPECT_EQ(sentences(), expected);
    EXPECT_EQ(states.last().first, RadioConnectionState::Ready);
    EXPECT_FALSE(last().isConnected);
}

TEST_F(FlexRadioClientTest, StartTwiceMakesOneConnection)
{
    makeClient();
    client->start();
    client->start();
    ASSERT_TRUE(waitForSentence(QStringLiteral("Connected; waiting for Maestro slice A")));
    settle(30ms);
    EXPECT_EQ(radio.connectionCount(), 1);
    EXPECT_EQ(count(QStringLiteral("Connecting to 127.0.0.1:%1").arg(radio.port())), 1);
}

TEST_F(FlexRadioClientTest, WaitsForNoHandleLineOnTheLocalNetwork)
{
    radio.setPrologue({QStringLiteral("V1.4.0.0")});
    startReady();
    EXPECT_EQ(radio.commandTexts(true), bootstrapCommands);
}

TEST_F(FlexRadioClientTest, FollowsTheConfiguredStationAndSlice)
{
    Options options;
    options.station = QStringLiteral("maestro");
    startReady(options);
    const auto before = snapshots.size();
    radio.sendLine(QStringLiteral("S0|client 0xABCD connected client_id=X station=Maestro program=SmartSDR"));
    sendAndWaitForSnapshot(QStringLiteral("S0|slice 0 in_use=1 RF_frequency=14.074000 client_handle=0x00ABCD "
                                          "index_letter=a mode=digu tx=1 active=1"));
    ASSERT_EQ(snapshots.size(), before + 1);

    const RadioSnapshot snapshot = last();
    EXPECT_TRUE(snapshot.isConnected);
    EXPECT_EQ(snapshot.frequencyHz, 14074000);
    EXPECT_EQ(snapshot.mode, QStringLiteral("DIGU"));
    EXPECT_EQ(snapshot.slice, QStringLiteral("A"));
    EXPECT_EQ(snapshot.transmitSlice, QStringLiteral("A"));
    EXPECT_EQ(snapshot.transmitFrequencyHz, 14074000);
    EXPECT_EQ(snapshot.station, QStringLiteral("maestro"));
    EXPECT_EQ(snapshot.vfos, (QList<RadioVFO>{RadioVFO({.letter = QStringLiteral("A"),
                                                        .frequencyHz = 14074000,
                                                        .mode = QStringLiteral("DIGU"),
                                                        .isReceive = true,
                                                        .isTransmit = true})}));

    const auto found = states.mid(states.size() - 2);
    EXPECT_EQ(found[0], qMakePair(RadioConnectionState::Connecting, QStringLiteral("Found station Maestro (SmartSDR)")));
    EXPECT_EQ(found[1], qMakePair(RadioConnectionState::Ready, QStringLiteral("Found VFO A at 14.074000 MHz (RX+TX)")));

    // The client id is bound once, and again only when it changes.
    ASSERT_TRUE(radio.waitForCommand(QStringLiteral("client bind client_id=X")));
    sendAndWaitForSnapshot(QStringLiteral("S0|client 0xABCD connected client_id=X station=Maestro"));
    sendAndWaitForSnapshot(QStringLiteral("S0|client 0xABCD connected client_id=Y station=Maestro"));
    ASSERT_TRUE(radio.waitForCommand(QStringLiteral("client bind client_id=Y")));
    EXPECT_EQ(radio.commandTexts().filter(QStringLiteral("client bind")),
              (QStringList{QStringLiteral("client bind client_id=X"), QStringLiteral("client bind client_id=Y")}));
    EXPECT_EQ(count(QStringLiteral("Found station Maestro (SmartSDR)")), 1);
}

TEST_F(FlexRadioClientTest, ReadingTheSnapshotLeavesItWhole)
{
    startReady();
    follow();
    const RadioSnapshot first = runTask(client->snapshot());
    EXPECT_EQ(runTask(client->snapshot()), first);
    EXPECT_EQ(first.mode, QStringLiteral("DIGU"));
    EXPECT_EQ(first.vfos.size(), 2);
}

TEST_F(FlexRadioClientTest, MatchesStationNamesWrittenWithUnderscoresOrDel)
{
    Options options;
    options.station = QStringLiteral("Shack Desk");
    startReady(options);
    radio.sendLine(QStringLiteral("S0|client 0x5 client_id=A station=Shack\x7F") + QStringLiteral("Desk"));
    sendAndWaitForSnapshot(FakeFlexRadio::sliceLine(0, QStringLiteral("0x5"), QStringLiteral("A"),
                                                    QStringLiteral("3.573000"), QStringLiteral("DIGU"), true, true));
    EXPECT_TRUE(last().isConnected);
    EXPECT_TRUE(sentences().contains(QStringLiteral("Found station Shack Desk (unknown program)")));

    // Another station is announced but not followed.
    radio.sendLine(QStringLiteral("S0|client 0x6 client_id=B station=Other_Desk program=Maestro"));
    ASSERT_TRUE(waitForSentence(QStringLiteral("Found station Other Desk (Maestro)")));
    EXPECT_FALSE(radio.commandTexts().contains(QStringLiteral("client bind client_id=B")));
}

TEST_F(FlexRadioClientTest, PublishesNothingUntilTheStationIsKnown)
{
    startReady();
    const auto before = snapshots.size();
    radio.sendLine(FakeFlexRadio::sliceLine(2, handle, QStringLiteral("A"), QStringLiteral("21.074000"),
                                            QStringLiteral("DIGU"), false, false));
    ASSERT_TRUE(waitForSentence(QStringLiteral("Found VFO A at 21.074000 MHz")));
    EXPECT_EQ(snapshots.size(), before);

    sendAndWaitForSnapshot(FakeFlexRadio::clientLine(handle, QStringLiteral("CID"), QStringLiteral("Maestro")));
    EXPECT_TRUE(last().isConnected);
    EXPECT_EQ(last().frequencyHz, 21074000);
}

TEST_F(FlexRadioClientTest, FollowsARealSliceStatusLine)
{
    startReady();
    radio.sendLine(FakeFlexRadio::clientLine(QStringLiteral("0x76AF7C73"), QStringLiteral("C"),
                                             QStringLiteral("Maestro")));
    for (const QString &line : dataLines(QStringLiteral("smartsdr-sub-slice-reply.txt")))
        radio.sendLine(line);
    ASSERT_TRUE(waitUntil([this] { return last().isConnected; }));
    EXPECT_EQ(last().frequencyHz, 10137000);
    EXPECT_EQ(last().mode, QStringLiteral("DIGU"));
    EXPECT_EQ(last().slice, QStringLiteral("A"));
}

TEST_F(FlexRadioClientTest, ChoosesTheSliceByActivityLetterAndTransmit)
{
    startReady();
    radio.sendLine(FakeFlexRadio::clientLine(handle, QStringLiteral("C"), QStringLiteral("Maestro")));
    radio.sendLine(FakeFlexRadio::sliceLine(4, handle, QStringLiteral("A"), QStringLiteral("14.074000"),
                                            QStringLiteral("DIGU"), false, true));
    sendAndWaitForSnapshot(FakeFlexRadio::sliceLine(5, handle, QStringLiteral("B"), QStringLiteral("7.010000"),
                                                    QStringLiteral("CW"), true, false));
    // The active slice wins over the configured letter; the transmit slice is reported beside it.
    RadioSnapshot snapshot = last();
    EXPECT_EQ(snapshot.slice, QStringLiteral("B"));
    EXPECT_EQ(snapshot.frequencyHz, 7010000);
    EXPECT_EQ(snapshot.mode, QStringLiteral("CW"));
    EXPECT_EQ(snapshot.transmitSlice, QStringLiteral("A"));
    EXPECT_EQ(snapshot.transmitFrequencyHz, 14074000);
    ASSERT_EQ(snapshot.vfos.size(), 2);
    EXPECT_TRUE(snapshot.vfos[0].isTransmit && !snapshot.vfos[0].isReceive);
    EXPECT_TRUE(snapshot.vfos[1].isReceive && !snapshot.vfos[1].isTransmit);

    // Neither active: the configured letter wins.
    sendAndWaitForSnapshot(QStringLiteral("S0|slice 5 active=0"));
    EXPECT_EQ(last().slice, QStringLiteral("A"));

    // The followed slice leaves: the other one is taken; with none left, one
    // not-connected snapshot and then silence.
    sendAndWaitForSnapshot(QStringLiteral("S0|slice 4 in_use=0"));
    EXPECT_EQ(last().slice, QStringLiteral("B"));
    sendAndWaitForSnapshot(QStringLiteral("S0|slice 5 removed=1"));
    EXPECT_FALSE(last().isConnected);
    const auto before = snapshots.size();
    radio.sendLine(QStringLiteral("S0|slice 6 in_use=1 RF_frequency=1.8 client_handle=0x99 index_letter=C"));
    ASSERT_TRUE(waitForSentence(QStringLiteral("Found VFO C at 1.800000 MHz")));
    EXPECT_EQ(snapshots.size(), before);
}

TEST_F(FlexRadioClientTest, TheFollowedStationLeaving)
{
    startReady();
    follow();
    // Another station leaving changes nothing.
    radio.sendLine(QStringLiteral("S0|client 0x77 disconnected removed=1"));
    ASSERT_TRUE(waitForSentence(QStringLiteral("Found station unnamed (unknown program)")));
    EXPECT_TRUE(last().isConnected);

    sendAndWaitForSnapshot(QStringLiteral("S0|client %1 disconnected removed=1").arg(handle));
    EXPECT_FALSE(last().isConnected);
    EXPECT_EQ(states.last(), qMakePair(RadioConnectionState::Connecting, QStringLiteral("Waiting for station Maestro")));
}

TEST_F(FlexRadioClientTest, TransmitStateAndCWSpeedFromStatus)
{
    startReady();
    sendAndWaitForSnapshot(QStringLiteral("S0|interlock state=PTT_REQUESTED"));
    EXPECT_TRUE(last().isTransmitting);
    sendAndWaitForSnapshot(QStringLiteral("S0|interlock state=PTT_REQUESTED"));
    EXPECT_TRUE(last().isTransmitting);
    sendAndWaitForSnapshot(QStringLiteral("S0|interlock state=READY"));
    EXPECT_FALSE(last().isTransmitting);

    radio.sendLine(QStringLiteral("S0|cwx wpm=30"));
    radio.sendLine(QStringLiteral("S0|cwx wpm=4"));
    sendAndWaitForSnapshot(QStringLiteral("S0|interlock state=RECEIVE"));
    EXPECT_EQ(runTask(client->cwSpeed()), 30);
    radio.sendLine(QStringLiteral("S0|cwx wpm=101"));
    sendAndWaitForSnapshot(QStringLiteral("S0|interlock state=RECEIVE"));
    EXPECT_EQ(runTask(client->cwSpeed()), 30);
}

TEST_F(FlexRadioClientTest, AssemblesLinesAcrossReads)
{
    radio.setReply(QStringLiteral("sub client all"), FakeFlexRadio::Reply::silent());
    makeClient();
    client->start();
    ASSERT_TRUE(radio.waitForCommand(QStringLiteral("sub client all")));
    for (const char *piece : {"R1", "|0", "|\r\n"}) {
        radio.sendRaw(piece);
        settle(10ms);
    }
    ASSERT_TRUE(waitForSentence(QStringLiteral("Connected; waiting for Maestro slice A")));

    // Two lines in one read, then a partial one completed later; an invalid
    // UTF-8 line and a blank one are dropped.
    radio.sendRaw("S0|cwx wpm=30\nS0|interlock state=TRANSMITTING\n  \r\nS0|inter");
    ASSERT_TRUE(waitUntil([this] { return last().isTransmitting; }));
    radio.sendRaw("lock state=READY\nS0|cwx wpm=40\xff\n");
    ASSERT_TRUE(waitUntil([this] { return !last().isTransmitting; }));
    sendAndWaitForSnapshot(QStringLiteral("S0|interlock state=READY"));
    EXPECT_EQ(runTask(client->cwSpeed()), 30);
}

TEST_F(FlexRadioClientTest, EmptiesTheBufferPastOneMebibyte)
{
    startReady();
    // Without the cap this would end as one huge status line once a line feed came.
    radio.sendRaw("S0|interlock state=TRANSMITTING");
    radio.flood(1024 * 1024 + 1 - qint64(qstrlen("S0|interlock state=TRANSMITTING")));
    ASSERT_TRUE(waitUntil([this] { return radio.allWritten(); }));
    // Lines that reach the client in the same read as the flood's last byte
    // are emptied with it, so repeat them until one gets through.
    const auto before = snapshots.size();
    for (int attempt = 0; attempt < 20 && snapshots.size() == before; ++attempt) {
        radio.sendRaw("\n");
        radio.sendLine(QStringLiteral("S0|interlock state=PTT_REQUESTED"));
        waitUntil([&] { return snapshots.size() > before; }, 250ms);
    }
    ASSERT_GT(snapshots.size(), before);
    // Had the cap not emptied the buffer, the first line to complete would be
    // the flooded interlock line, which does not read as transmitting.
    for (const RadioSnapshot &snapshot : snapshots.mid(before))
        EXPECT_TRUE(snapshot.isTransmitting);

    // The session goes on.
    EXPECT_EQ(errorOf(client->setCWSpeed(22)), QString());
    EXPECT_FALSE(sentences().join(QLatin1Char('\n')).contains(QStringLiteral("Retrying")));
}

// ---------------------------------------------------------------- commands

TEST_F(FlexRadioClientTest, NumbersCommandsAndMatchesOutOfOrderReplies)
{
    startReady();
    follow();
    radio.setReply(QStringLiteral("slice"), FakeFlexRadio::Reply::silent());
    auto tune = client->setFrequency(7074000);
    auto mode = client->setMode(QStringLiteral("USB"));
    ASSERT_TRUE(radio.waitForCommand(QStringLiteral("slice s 0 mode=USB")));
    const auto commands = radio.commands();
    ASSERT_EQ(commands.size(), 2);
    EXPECT_EQ(commands[0].text, QStringLiteral("slice t 0 7.074000"));
    EXPECT_EQ(commands[1].sequence, commands[0].sequence + 1);

    radio.sendReply(commands[1].sequence);
    radio.sendReply(commands[0].sequence, 0x50001000, QStringLiteral("Slice is locked"));
    EXPECT_EQ(errorOf(std::move(mode)), QString());
    EXPECT_EQ(errorOf(std::move(tune)), QStringLiteral("Slice is locked"));
}

TEST_F(FlexRadioClientTest, TurnsRejectionsIntoErrors)
{
    startReady();
    radio.setReply(QStringLiteral("cw wpm 31"), FakeFlexRadio::Reply::reject(1));
    radio.setReply(QStringLiteral("cw wpm 32"), FakeFlexRadio::Reply::reject(0x1F));
    radio.setReply(QStringLiteral("cw wpm 33"), FakeFlexRadio::Reply::reject(1, QStringLiteral("abc|def")));
    EXPECT_EQ(errorOf(client->setCWSpeed(31)), QStringLiteral("Radio rejected command (0x00000001)."));
    EXPECT_EQ(errorOf(client->setCWSpeed(32)), QStringLiteral("Radio rejected command (0x0000001F)."));
    EXPECT_EQ(errorOf(client->setCWSpeed(33)), QStringLiteral("abc"));
    EXPECT_EQ(runTask(client->cwSpeed()), 25);
}

TEST_F(FlexRadioClientTest, TimesOutAndIgnoresTheLateReply)
{
    startReady();
    // A bootstrap slowed by a loaded machine may have retried before: only
    // what follows the session's readiness counts here.
    const qsizetype ready = states.size();
    radio.setReply(QStringLiteral("cw wpm 30"), FakeFlexRadio::Reply::accept(fastTiming().commandTimeout + 300ms));
    radio.setReply(QStringLiteral("cw wpm 40"), FakeFlexRadio::Reply::silent());
    // The error names the command as the radio numbered it, whatever went before.
    const auto timedOut = [this](const QString &text) {
        const auto commands = radio.commands();
        const auto sent = std::find_if(commands.begin(), commands.end(), [&](const auto &c) { return c.text == text; });
        return QStringLiteral("Radio command %1 timed out.").arg(sent == commands.end() ? -1 : sent->sequence);
    };
    const QString first = errorOf(client->setCWSpeed(30));
    EXPECT_EQ(first, timedOut(QStringLiteral("cw wpm 30")));
    // The late reply to the first arrives while the second waits: the second
    // still times out on its own.
    const QString second = errorOf(client->setCWSpeed(40));
    EXPECT_EQ(second, timedOut(QStringLiteral("cw wpm 40")));
    EXPECT_EQ(runTask(client->cwSpeed()), 25);
    EXPECT_EQ(errorOf(client->setCWSpeed(35)), QString());
    EXPECT_EQ(runTask(client->cwSpeed()), 35);
    EXPECT_FALSE(sentences().mid(ready).join(QLatin1Char('\n')).contains(QStringLiteral("Retrying")));
}

TEST_F(FlexRadioClientTest, RefusesWithoutASession)
{
    makeClient();
    const QString notConnected = KivoError::notConnected().message();
    EXPECT_EQ(errorOf(client->setTransmit(false)), notConnected);
    EXPECT_EQ(errorOf(client->clearCW()), notConnected);
    EXPECT_EQ(errorOf(client->setFrequency(14074000)), notConnected);
    EXPECT_EQ(errorOf(client->setSplitTransmit(true)), KivoError::unsupported().message());
    // Argument checks come first.
    EXPECT_EQ(errorOf(client->setCWSpeed(3)), QStringLiteral("CW speed must be 5 through 100 WPM."));
    EXPECT_EQ(errorOf(client->setMode(QString())), KivoError::invalidMode().message());
    EXPECT_EQ(errorOf(client->setFrequency(0)), KivoError::invalidFrequency().message());
    EXPECT_EQ(runTask(client->snapshot()).frequencyHz, 14074000);
    EXPECT_EQ(radio.connectionCount(), 0);
}

// ---------------------------------------------------------------- failures and life cycle

TEST_F(FlexRadioClientTest, ReconnectsAfterADropWithBackOff)
{
    radio.setPrologue({QStringLiteral("V1.4.0.0")});
    Options options;
    options.random = 0.4;
    startReady(options);
    follow();

    radio.dropClient();
    ASSERT_TRUE(waitForSentence(QStringLiteral("Radio closed the connection. Retrying in 1.1 s")));
    EXPECT_FALSE(last().isConnected);
    EXPECT_EQ(last().frequencyHz, 14074000);
    ASSERT_TRUE(waitUntil([this] { return count(QStringLiteral("Connected; waiting for Maestro slice A")) == 2; }));
    EXPECT_EQ(radio.connectionCount(), 2);
    EXPECT_EQ(radio.commands().first().sequence, 1);
    EXPECT_EQ(radio.commands().first().connection, 1);

    // A followed slice clears the back-off; without one it keeps growing.
    radio.dropClient();
    ASSERT_TRUE(waitForSentence(QStringLiteral("Radio closed the connection. Retrying in 2.2 s")));
    ASSERT_TRUE(waitUntil([this] { return count(QStringLiteral("Connected; waiting for Maestro slice A")) == 3; }));
    follow();
    radio.dropClient();
    ASSERT_TRUE(waitUntil([this] { return count(QStringLiteral("Radio closed the connection. Retrying in 1.1 s")) == 2; }));
}

TEST_F(FlexRadioClientTest, BacksOffUpToThirtySeconds)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    Options options;
    options.port = port;
    options.random = 1.0;
    makeClient(options);
    client->start();
    ASSERT_TRUE(waitUntil([this] { return sentences().filter(QStringLiteral("Retrying in")).size() >= 7; }));
    QStringList delays;
    for (const QString &sentence : sentences().filter(QStringLiteral("Retrying in")).mid(0, 7)) {
        // Nobody listening yet: the network waits rather than fails.
        EXPECT_TRUE(sentence.startsWith(QStringLiteral("Network waiting: "))) << sentence.toStdString();
        delays.append(sentence.section(QStringLiteral("Retrying in "), 1));
    }
    EXPECT_EQ(delays, (QStringList{"1.2 s", "2.5 s", "5.0 s", "10.0 s", "20.0 s", "37.5 s", "37.5 s"}));
}

TEST_F(FlexRadioClientTest, RefusesAPortOfZero)
{
    Options options;
    options.port = 0;
    makeClient(options);
    client->start();
    EXPECT_EQ(states.last(), qMakePair(RadioConnectionState::Failed, QStringLiteral("Invalid radio port")));
    settle(30ms);
    EXPECT_EQ(states.last().first, RadioConnectionState::Failed);
    EXPECT_EQ(radio.connectionCount(), 0);
}

TEST_F(FlexRadioClientTest, FailsBootstrapOnARejection)
{
    radio.setReply(QStringLiteral("sub radio all"), FakeFlexRadio::Reply::reject(0x50000015));
    makeClient();
    client->start();
    ASSERT_TRUE(waitForSentence(
        QStringLiteral("Bootstrap failed: sub radio all: Radio rejected command (0x50000015). Retrying in 1.0 s")))
        << sentences().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(radio.commandTexts().mid(0, 3), bootstrapCommands.mid(0, 3));
}

TEST_F(FlexRadioClientTest, HeartbeatFailureReconnects)
{
    Options options;
    options.timing.heartbeatInterval = 20ms;
    options.timing.commandTimeout = 100ms;
    startReady(options);
    ASSERT_TRUE(waitUntil([this] { return radio.commandTexts(true).count(QStringLiteral("ping")) >= 3; }));
    radio.setReply(QStringLiteral("ping"), FakeFlexRadio::Reply::silent());
    ASSERT_TRUE(waitForSentence(QStringLiteral("Radio heartbeat failed. Retrying in 1.0 s")));
    EXPECT_EQ(count(QStringLiteral("Radio heartbeat failed. Retrying in 1.0 s")), 1);
}

TEST_F(FlexRadioClientTest, ReconnectNowAbandonsTheOldConnectionQuietly)
{
    startReady();
    follow();
    radio.setReply(QStringLiteral("cw wpm"), FakeFlexRadio::Reply::silent());
    auto waiting = client->setCWSpeed(30);
    ASSERT_TRUE(radio.waitForCommand(QStringLiteral("cw wpm 30")));
    const auto statesBefore = states.size();

    client->reconnectNow();
    EXPECT_EQ(errorOf(std::move(waiting)), KivoError::notConnected().message());
    ASSERT_TRUE(waitUntil([this] { return count(QStringLiteral("Connected; waiting for Maestro slice A")) == 2; }));
    // The old connection's end and its late lines reach nobody.
    radio.sendLineTo(0, QStringLiteral("S0|interlock state=TRANSMITTING"));
    radio.dropConnection(0);
    settle(50ms);
    const QStringList after = sentences().mid(statesBefore);
    EXPECT_EQ(after, (QStringList{QStringLiteral("Connecting to 127.0.0.1:%1").arg(radio.port()),
                                  QStringLiteral("Connected; starting radio session"),
                                  QStringLiteral("Connected; waiting for Maestro slice A")}));
    EXPECT_FALSE(last().isTransmitting);
    const auto second = radio.commands();
    EXPECT_EQ(std::find_if(second.begin(), second.end(), [](const auto &c) { return c.connection == 1; })->sequence, 1);
}

TEST_F(FlexRadioClientTest, ReconnectNowWhileStoppedStarts)
{
    makeClient();
    client->reconnectNow();
    ASSERT_TRUE(waitForSentence(QStringLiteral("Connected; waiting for Maestro slice A")));
    EXPECT_EQ(radio.connectionCount(), 1);
}

TEST_F(FlexRadioClientTest, StopWhileRetryingSendsNothing)
{
    radio.setReply(QStringLiteral("sub client all"), FakeFlexRadio::Reply::reject(1));
    Options options;
    options.timing.backoffSecond = 1s;
    makeClient(options);
    client->start();
    ASSERT_TRUE(waitUntil([this] { return !states.isEmpty() && states.last().first == RadioConnectionState::Retrying; }));
    radio.clearReceived();
    runTask(client->stop());
    EXPECT_TRUE(radio.receivedLines().isEmpty());
    EXPECT_EQ(states.last(), qMakePair(RadioConnectionState::Stopped, QStringLiteral("Stopped")));
    settle(30ms);
    EXPECT_EQ(radio.connectionCount(), 1);
}

// ---------------------------------------------------------------- control

TEST_F(FlexRadioClientTest, TunesAndSetsModesOnTheRightSlices)
{
    startReady();
    follow();
    EXPECT_EQ(runTask(client->primaryFrequency()), 14074000);
    EXPECT_EQ(runTask(client->secondaryFrequency()), 7074000);
    runTask(client->setFrequency(14074000));
    runTask(client->setPrimaryFrequency(7000001));
    runTask(client->setSecondaryFrequency(7000001));
    runTask(client->setMode(QStringLiteral(" digu\n")));
    runTask(client->setSplitTransmit(true));
    runTask(client->setSplitTransmit(false));
    runTask(client->setReceiveVFO(1));
    runTask(client->setReceiveVFO(0));
    EXPECT_EQ(radio.commandTexts(),
              (QStringList{"slice t 0 14.074000", "slice t 0 7.000001", "slice t 1 7.000001", "slice s 0 mode=DIGU",
                           "slice s 1 tx=1", "slice s 0 tx=1", "slice s 1 active=1", "slice s 0 active=1"}));

    const QString invalidMode = KivoError::invalidMode().message();
    EXPECT_EQ(errorOf(client->setMode(QStringLiteral("DIG U"))), invalidMode);
    EXPECT_EQ(errorOf(client->setMode(QStringLiteral("USB!"))), invalidMode);
    EXPECT_EQ(errorOf(client->setMode(QStringLiteral("US\nB"))), invalidMode);
    EXPECT_EQ(errorOf(client->setMode(QStringLiteral("USB\r\nslice r 0"))), invalidMode);
    EXPECT_EQ(errorOf(client->setFrequency(0)), KivoError::invalidFrequency().message());
    EXPECT_EQ(errorOf(client->setReceiveVFO(2)), KivoError::unsupported().message());
    EXPECT_EQ(radio.commandTexts().size(), 8);

    // Rounded half away from zero.
    sendAndWaitForSnapshot(QStringLiteral("S0|slice 0 RF_frequency=14.0740006"));
    EXPECT_EQ(runTask(client->primaryFrequency()), 14074001);
}

TEST_F(FlexRadioClientTest, WithoutSliceBTheSecondVFOIsUnsupported)
{
    startReady();
    radio.sendLine(FakeFlexRadio::clientLine(handle, QStringLiteral("C"), QStringLiteral("Maestro")));
    sendAndWaitForSnapshot(FakeFlexRadio::sliceLine(0, handle, QStringLiteral("A"), QStringLiteral("14.074000"),
                                                    QStringLiteral("DIGU"), true, true));
    const QString unsupported = KivoError::unsupported().message();
    EXPECT_EQ(runTask(client->secondaryFrequency()), std::nullopt);
    EXPECT_EQ(errorOf(client->setSecondaryFrequency(7074000)), unsupported);
    EXPECT_EQ(errorOf(client->setSplitTransmit(true)), unsupported);
    EXPECT_EQ(errorOf(client->setReceiveVFO(1)), unsupported);
}

TEST_F(FlexRadioClientTest, KeysAndUnkeys)
{
    startReady();
    // Transport up, no slice followed: unkeying works, keying does not.
    runTask(client->setTransmit(false));
    const QString notConnected = KivoError::notConnected().message();
    EXPECT_EQ(errorOf(client->setTransmit(true)), notConnected);
    EXPECT_EQ(errorOf(client->setTransmit(CATTransmitMode::Tune)), notConnected);
    EXPECT_EQ(errorOf(client->setFrequency(14074000)), notConnected);
    EXPECT_EQ(radio.commandTexts(true).mid(6), (QStringList{"transmit tune 0", "xmit 0"}));

    follow();
    runTask(client->setTransmit(CATTransmitMode::Tune));
    runTask(client->setTransmit(CATTransmitMode::Data));
    runTask(client->setTransmit(CATTransmitMode::Microphone));
    runTask(client->setTransmit(true));
    EXPECT_EQ(radio.commandTexts(), (QStringList{"transmit tune 1", "xmit 1", "xmit 1", "xmit 1"}));

    radio.clearReceived();
    radio.setReply(QStringLiteral("transmit tune 0"), FakeFlexRadio::Reply::reject(1, QStringLiteral("busy")));
    // A refused tune must not leave the transmitter keyed: "xmit 0" still
    // goes, the release counts, and the refusal is reported.
    EXPECT_EQ(errorOf(client->setTransmit(false)), QStringLiteral("busy"));
    EXPECT_EQ(radio.commandTexts(), (QStringList{"transmit tune 0", "xmit 0"}));
    EXPECT_FALSE(client->keyOutstanding() || client->unkeyOwed());
}

TEST_F(FlexRadioClientTest, ClearsCW)
{
    startReady();
    follow();
    // Nothing of ours keyed: the keyer is emptied, the transmitter left alone.
    runTask(client->clearCW());
    EXPECT_EQ(radio.commandTexts(), (QStringList{"cwx clear"}));

    // CW of ours holds the transmitter: its release follows, and its failure
    // does not fail the clear.
    runTask(client->sendCW(QStringLiteral("CQ")));
    radio.clearReceived();
    radio.setReply(QStringLiteral("transmit tune 0"), FakeFlexRadio::Reply::reject(1));
    EXPECT_EQ(errorOf(client->clearCW()), QString());
    EXPECT_EQ(radio.commandTexts(), (QStringList{"cwx clear", "transmit tune 0", "xmit 0"}));

    radio.clearReceived();
    radio.setReply(QStringLiteral("cwx clear"), FakeFlexRadio::Reply::reject(2));
    EXPECT_EQ(errorOf(client->clearCW()), QStringLiteral("Radio rejected command (0x00000002)."));
    EXPECT_EQ(radio.commandTexts(), QStringList{"cwx clear"});
}

TEST_F(FlexRadioClientTest, SendsCWTextAndSpeed)
{
    startReady();
    radio.clearReceived();
    runTask(client->setCWSpeed(30));
    EXPECT_EQ(runTask(client->cwSpeed()), 30);
    EXPECT_EQ(errorOf(client->setCWSpeed(101)), QStringLiteral("CW speed must be 5 through 100 WPM."));

    runTask(client->sendCW(QStringLiteral("CQ TEST")));
    runTask(client->sendCW(QStringLiteral("  73 ")));
    runTask(client->sendCW(QStringLiteral("Hi|there")));
    // A line break becomes a blank: nothing after it can pass for a second command.
    runTask(client->sendCW(QStringLiteral("CQ\r\nxmit 1")));
    runTask(client->sendCW(QStringLiteral("Grüße")));
    runTask(client->sendCW(QString(128, QLatin1Char('E'))));
    runTask(client->sendCW(QStringLiteral("say \"hi\"")));
    const QString textError = QStringLiteral("CW text must contain 1 through 128 printable characters.");
    EXPECT_EQ(errorOf(client->sendCW(QString(129, QLatin1Char('E')))), textError);
    EXPECT_EQ(errorOf(client->sendCW(QStringLiteral(" \n\t "))), textError);
    EXPECT_EQ(radio.commandTexts().mid(0, 2), (QStringList{"cw wpm 30", "cwx send \"CQ\x7FTEST\""}));
    EXPECT_EQ(radio.cwxTexts(), (QStringList{"CQ TEST", "  73 ", "Hi there", "CQ  xmit 1", "Gr  e",
                                             QString(128, QLatin1Char('E')), "say hi"}));
}

TEST_F(FlexRadioClientTest, AddsASpotAsOneLine)
{
    startReady();
    radio.clearReceived();
    const FlexSpot spot = FlexSpot::make({.frequencyHz = 14025000,
                                          .callsign = QStringLiteral("DL1ABC"),
                                          .mode = QStringLiteral("CW"),
                                          .source = QStringLiteral("RUMlogNG"),
                                          .spotter = QStringLiteral("W1AW"),
                                          .comment = QStringLiteral("up 2"),
                                          .timestamp = 1700000000,
                                          .lifetimeSeconds = 600,
                                          .priority = 3,
                                          .colorHex = QStringLiteral("#FF0000")});
    runTask(client->addSpot(spot));
    ASSERT_EQ(radio.receivedLines().size(), 1);
    EXPECT_EQ(radio.commandTexts().first(),
              QStringLiteral("spot add rx_freq=14.025000 callsign=DL1ABC mode=CW source=RUMlogNG "
                             "spotter_callsign=W1AW timestamp=1700000000 lifetime_seconds=600 priority=3 "
                             "comment=up\x7F") + QStringLiteral("2 color=#FF0000"));
}

TEST_F(FlexRadioClientTest, NeverWritesALineBreakIntoACommand)
{
    startReady();
    // A client id carrying a carriage return is not bound; following goes on.
    radio.sendLine(QStringLiteral("S0|client %1 client_id=ab\rxmit station=Maestro").arg(handle));
    sendAndWaitForSnapshot(FakeFlexRadio::sliceLine(0, handle, QStringLiteral("A"), QStringLiteral("14.074000"),
                                                    QStringLiteral("DIGU"), true, true));
    EXPECT_TRUE(last().isConnected);
    settle(30ms);
    for (const QString &line : radio.receivedLines()) {
        EXPECT_FALSE(line.contains(QLatin1Char('\r'))) << line.toStdString();
        EXPECT_FALSE(line.contains(QStringLiteral("client bind"))) << line.toStdString();
    }
}

// ---------------------------------------------------------------- TLS

class FlexRadioTlsTest : public FlexRadioClientTest {
protected:
    void SetUp() override
    {
        if (!QSslSocket::supportsSsl())
            GTEST_SKIP() << "no TLS backend";
    }

    void listenWith(const char *name)
    {
        const QString base = QStringLiteral(QK_TEST_DATA_DIR "/radio-%1").arg(QLatin1String(name));
        ASSERT_TRUE(radio.listenTls(base + QStringLiteral(".cert.pem"), base + QStringLiteral(".key.pem")));
    }

    static QString fingerprintOf(const char *name)
    {
        QFile file(QStringLiteral(QK_TEST_DATA_DIR "/radio-%1.cert.pem").arg(QLatin1String(name)));
        file.open(QIODevice::ReadOnly);
        return SmartLinkCertificatePinStore::fingerprint(QSslCertificate(&file, QSsl::Pem).toDer());
    }

    Options wan(std::optional<QString> identity = QStringLiteral("SERIAL-1"))
    {
        Options options;
        options.tls = true;
        options.validationHandle = QStringLiteral("H0123");
        options.identity = std::move(identity);
        return options;
    }

    std::optional<QString> pin(const QString &identity) const
    {
        const auto items = secrets->items();
        const auto key = qMakePair(SmartLinkCertificatePinStore::service(), identity);
        return items.contains(key) ? std::optional(items.value(key)) : std::nullopt;
    }
};

TEST_F(FlexRadioTlsTest, PinsOnFirstUseAndTrustsTheSameCertificateAgain)
{
    listenWith("a");
    startReady(wan());
    EXPECT_EQ(pin(QStringLiteral("SERIAL-1")), fingerprintOf("a"));
    EXPECT_EQ(fingerprintOf("a").size(), 64);
    EXPECT_EQ(sentences().mid(0, 3),
              (QStringList{QStringLiteral("Connecting to 127.0.0.1:%1").arg(radio.port()),
                           QStringLiteral("Secure transport connected; validating SmartLink session"),
                           QStringLiteral("Connected; waiting for Maestro slice A")}));
    EXPECT_EQ(radio.commandTexts(true), QStringList{"wan validate handle=H0123"} + bootstrapCommands);

    runTask(client->stop());
    client.reset();
    states.clear();
    startReady(wan());
    EXPECT_EQ(radio.connectionCount(), 2);
}

TEST_F(FlexRadioTlsTest, PinsUnderTheHostWithoutAnIdentity)
{
    listenWith("b");
    startReady(wan(std::nullopt));
    EXPECT_EQ(pin(QStringLiteral("127.0.0.1")), fingerprintOf("b"));
}

TEST_F(FlexRadioTlsTest, RefusesADifferentCertificateAndSendsNothing)
{
    runTask(SmartLinkCertificatePinStore(secrets).verifyOrTrustFirstUse(QStringLiteral("SERIAL-1"),
                                                                       QByteArray("another radio")));
    const auto pinned = pin(QStringLiteral("SERIAL-1"));
    listenWith("a");
    makeClient(wan());
    client->start();
    ASSERT_TRUE(waitForSentence(
        QStringLiteral("Connection failed: The radio's certificate is not the trusted one. Retrying in 1.0 s")));
    ASSERT_TRUE(waitUntil([this] { return radio.connectionCount() >= 2; }));
    runTask(client->stop());
    settle(30ms);
    EXPECT_TRUE(radio.receivedLines().isEmpty());
    EXPECT_EQ(pin(QStringLiteral("SERIAL-1")), pinned);
    EXPECT_FALSE(sentences().contains(QStringLiteral("Secure transport connected; validating SmartLink session")));
}

TEST_F(FlexRadioTlsTest, GivesUpWhenTheRadioNeverValidates)
{
    listenWith("a");
    radio.setPrologue({QStringLiteral("V1.4.0.0")});
    makeClient(wan());
    client->start();
    ASSERT_TRUE(waitForSentence(QStringLiteral("Bootstrap failed: The remote radio did not validate the SmartLink "
                                               "session. Retrying in 1.0 s")));
    EXPECT_EQ(radio.commandTexts().first(), QStringLiteral("wan validate handle=H0123"));
    EXPECT_FALSE(radio.commandTexts().contains(QStringLiteral("sub client all")));
}

TEST_F(FlexRadioTlsTest, RefusesAValidationHandleWithALineBreak)
{
    listenWith("a");
    Options options = wan();
    options.validationHandle = QStringLiteral("H0123\nxmit 1");
    makeClient(options);
    client->start();
    ASSERT_TRUE(waitForSentence(QStringLiteral("Bootstrap failed: The radio command contains a line break and was "
                                               "not sent. Retrying in 1.0 s")));
    runTask(client->stop());
    settle(30ms);
    EXPECT_TRUE(radio.receivedLines().isEmpty());
}

// Ready again when the station returns; the sentence names the slice, even
// one found before the last bootstrap reply.
TEST_F(FlexRadioClientTest, AReturningStationMakesTheSessionReadyAgain)
{
    radio.setCommandHandler([this](const FakeFlexRadio::Command &command) {
        if (command.text != QLatin1String("slice list"))
            return;
        radio.sendLine(FakeFlexRadio::clientLine(handle, QStringLiteral("CID-1"), QStringLiteral("Maestro")));
        radio.sendLine(FakeFlexRadio::sliceLine(0, handle, QStringLiteral("A"), QStringLiteral("14.074000"),
                                                QStringLiteral("DIGU"), true, true));
    });
    makeClient();
    client->start();
    ASSERT_TRUE(waitUntil([&] { return count(QStringLiteral("Found VFO A at 14.074000 MHz (RX+TX)")) == 2; }));
    radio.sendLine(QStringLiteral("S0|client %1 disconnected removed=1").arg(handle));
    ASSERT_TRUE(waitForSentence(QStringLiteral("Waiting for station Maestro")));
    radio.sendLine(FakeFlexRadio::clientLine(handle, QStringLiteral("CID-1"), QStringLiteral("Maestro")));
    ASSERT_TRUE(waitUntil([&] { return count(QStringLiteral("Found VFO A at 14.074000 MHz (RX+TX)")) == 3; }));
    EXPECT_EQ(errorOf(client->setTransmit(true)), QString());
    EXPECT_EQ(count(QStringLiteral("Connected; waiting for Maestro slice A")), 0);
}

// As a real radio tells it: the client disconnected, then its slices unused.
TEST_F(FlexRadioClientTest, AStationThatDisconnectsIsAwaitedAndFollowedOnItsReturn)
{
    startReady();
    follow();
    radio.sendLine(FakeFlexRadio::clientDisconnectedLine(handle));
    radio.sendLine(FakeFlexRadio::sliceUnusedLine(0, handle));
    radio.sendLine(FakeFlexRadio::sliceUnusedLine(1, handle));
    ASSERT_TRUE(waitForSentence(QStringLiteral("Waiting for station Maestro")));
    EXPECT_FALSE(last().isConnected);
    EXPECT_EQ(errorOf(client->setTransmit(true)), KivoError::notConnected().message());

    const QString returned = QStringLiteral("0x2B");
    radio.sendLine(FakeFlexRadio::clientLine(returned, QStringLiteral("CID-2"), QStringLiteral("Maestro")));
    sendAndWaitForSnapshot(FakeFlexRadio::sliceLine(4, returned, QStringLiteral("A"), QStringLiteral("21.074000"),
                                                    QStringLiteral("DIGU"), true, true));
    EXPECT_EQ(states.last(),
              qMakePair(RadioConnectionState::Ready, QStringLiteral("Found VFO A at 21.074000 MHz (RX+TX)")));
    EXPECT_EQ(errorOf(client->setTransmit(true)), QString());
}

// ---------------------------------------------------------------- the ledger

// What a departing client, a drop or a stop sends, against a radio that
// unkeys through UNKEY_REQUESTED and says who keyed: only what this bridge
// keyed or queued is undone, never the operator's own transmission.
TEST_F(FlexRadioClientTest, TheBridgeUndoesOnlyWhatItStarted)
{
    const QString paidLate = QStringLiteral("Unkey sent again after the radio answered");
    const QString leftAlone = QStringLiteral("Owed unkey not sent: the radio reports the operator's own transmission");
    const QString heldSent = QStringLiteral("Owed unkey sent after the operator's transmission ended");
    const QString clearedLate = QStringLiteral("CW cleared after the radio answered");
    // The heartbeat's pings take sequence numbers too: any number will do.
    const QString clearOwed =
        QStringLiteral("CW clear not confirmed: Radio command N timed out. It is sent again when the radio answers");
    const QString cwUnconfirmed = QStringLiteral(
        "The radio did not confirm the last CW clear; CW sent for a logging program may still be queued");
    const QString unconfirmed =
        QStringLiteral("The radio did not confirm the last unkey; check that the transmitter is not keyed");
    const QString owedAfterCut =
        QStringLiteral("Unkey not confirmed: The radio is not connected. It is sent again when the radio answers");
    struct Row {
        const char *name;
        std::function<void(FlexRadioClientTest &, ClientActivity &)> run;
        QStringList wire;
        QStringList events;
    };
    const auto key = [](FlexRadioClientTest &t, ClientActivity &a) {
        a.noteKeyed(t.client->nextTransmitNumber());
        runTask(t.client->setTransmit(true));
    };
    const auto leave = [](FlexRadioClientTest &t, ClientActivity &a) { runTask(t.client->makeSafe(a)); };
    // The link stalls, the client goes, the link is cut and comes back.
    const auto leaveOverACutLink = [leave](FlexRadioClientTest &t, ClientActivity &a) {
        t.radio.stall();
        leave(t, a);
        t.radio.dropClient();
        t.radio.release();
    };
    const auto settled = [](FlexRadioClientTest &t) {
        return waitUntil([&t] { return !t.client->unkeyOwed() && !t.client->keyOutstanding(); });
    };
    const Row rows[] = {
        {"a keyed client leaves", [&](auto &t, auto &a) { key(t, a); leave(t, a); },
         {"xmit 1", "transmit tune 0", "xmit 0"}, {}},
        {"another client unkeyed first, then the operator keyed",
         [&](auto &t, auto &a) {
             key(t, a);
             runTask(t.client->setTransmit(false));
             t.radio.setOperatorPtt(true);
             ASSERT_TRUE(waitUntil([&t] { return t.last().isTransmitting; }));
             leave(t, a);
         },
         {"xmit 1", "transmit tune 0", "xmit 0"}, {}},
        // The radio's interlock lags its replies: an idle line proves no key
        // of ours gone, but the operator's transmission holds the unkey back.
        {"the operator keyed while our unkey's tune was answered",
         [&](auto &t, auto &a) {
             key(t, a);
             t.radio.setReply(QStringLiteral("transmit tune 0"), FakeFlexRadio::Reply::accept(50ms));
             t.radio.setCommandHandler([&t](const FakeFlexRadio::Command &command) {
                 if (command.text == QLatin1String("transmit tune 0"))
                     t.radio.setOperatorPtt(true);
             });
             leave(t, a);
             t.radio.setCommandHandler({});
         },
         {"xmit 1", "transmit tune 0"}, {leftAlone}},
        {"the radio unkeyed on its own, then the operator keyed",
         [&](auto &t, auto &a) {
             key(t, a);
             t.radio.releaseTransmitter();
             ASSERT_TRUE(waitUntil([&t] { return !t.last().isTransmitting; }));
             t.radio.setOperatorPtt(true);
             ASSERT_TRUE(waitUntil([&t] { return t.last().isTransmitting; }));
             leave(t, a);
         },
         {"xmit 1"}, {leftAlone}},
        {"the station left and came back, then the operator keyed",
         [&](auto &t, auto &a) {
             key(t, a);
             t.radio.sendLine(FakeFlexRadio::clientDisconnectedLine(handle));
             t.radio.releaseTransmitter();
             ASSERT_TRUE(waitUntil([&t] { return !t.last().isTransmitting; }));
             t.radio.sendLine(FakeFlexRadio::clientLine(handle, QStringLiteral("CID-1"), QStringLiteral("Maestro")));
             t.radio.sendLine(FakeFlexRadio::sliceLine(0, handle, QStringLiteral("A"), QStringLiteral("14.074000"),
                                                       QStringLiteral("DIGU"), true, true));
             ASSERT_TRUE(waitUntil([&t] { return t.last().isConnected; }));
             t.radio.setOperatorPtt(true);
             ASSERT_TRUE(waitUntil([&t] { return t.last().isTransmitting; }));
             leave(t, a);
         },
         {"xmit 1"}, {leftAlone}},
        {"the link stalls: the unkey is paid when the radio answers",
         [&](auto &t, auto &a) {
             key(t, a);
             t.radio.stall();
             leave(t, a);
             t.radio.release();
             ASSERT_TRUE(waitUntil([&t] { return !t.radio.isTransmitting(); }));
         },
         {"xmit 1", "transmit tune 0", "(xmit 0, )?transmit tune 0", "xmit 0"}, {owedAfterCut, paidLate}},
        {"a cut link: still keyed by us at the return",
         [&](auto &t, auto &a) {
             key(t, a);
             leaveOverACutLink(t, a);
             ASSERT_TRUE(waitUntil([&t] { return !t.radio.isTransmitting(); }));
         },
         {"xmit 1", "transmit tune 0", "(xmit 0, )?transmit tune 0", "xmit 0"}, {owedAfterCut, paidLate}},
        {"a cut link: the operator re-keyed by microphone meanwhile",
         [&](auto &t, auto &a) {
             key(t, a);
             t.radio.stall();
             leave(t, a);
             t.radio.dropClient();
             t.radio.releaseTransmitter();
             t.radio.setOperatorPtt(true);
             t.radio.release();
             // Held back, not forgiven: the radio's word once the operator lets go decides.
             ASSERT_TRUE(waitUntil([&t] { return t.ledgerEvents.size() == 2; }));
             EXPECT_TRUE(t.client->unkeyOwed());
             t.radio.setOperatorPtt(false);
             ASSERT_TRUE(settled(t));
         },
         {"xmit 1", "transmit tune 0(, xmit 0)?", "transmit tune 0", "xmit 0"}, {owedAfterCut, leftAlone, heldSent}},
        {"a never-keyed client's unkey over a cut link is no debt",
         [&](auto &t, auto &a) {
             t.radio.stall();
             EXPECT_NE(errorOf(t.client->setTransmit(false)), QString());
             EXPECT_FALSE(t.client->unkeyOwed());
             t.radio.dropClient();
             t.radio.release();
             t.radio.setOperatorPtt(true);
             leave(t, a);
         },
         {"transmit tune 0(, xmit 0)?"}, {}},
        {"the radio refuses the unkey, then takes it",
         [&](auto &t, auto &a) {
             key(t, a);
             t.radio.setReply(QStringLiteral("xmit 0"), FakeFlexRadio::Reply::reject(0x50001000, QStringLiteral("Interlock busy")));
             leave(t, a);
             t.radio.clearReplies();
         },
         {"xmit 1", "transmit tune 0", "xmit 0", "(transmit tune 0, xmit 0, )*transmit tune 0", "xmit 0"},
         {QStringLiteral("Unkey not confirmed: Interlock busy. It is sent again when the radio answers"), paidLate}},
        {"CW of a departed client is cleared at the return",
         [&](auto &t, auto &a) {
             runTask(t.client->sendCW(QStringLiteral("CQ")));
             a.startedCW = true;
             leaveOverACutLink(t, a);
             ASSERT_TRUE(waitUntil([&t] { return !t.client->keyerClearOwed(); }));
         },
         // The keyer's CW keyed the transmitter: that key is undone with it.
         {"cwx send \"CQ\"", "cwx clear", "cwx clear", "transmit tune 0", "xmit 0"}, {clearOwed, clearedLate}},
        {"a stop undoes our key and CW",
         [&](auto &t, auto &a) {
             runTask(t.client->sendCW(QStringLiteral("CQ")));
             key(t, a);
             runTask(t.client->stop());
         },
         {"cwx send \"CQ\"", "xmit 1", "cwx clear", "transmit tune 0", "xmit 0"}, {}},
        {"a stop leaves the operator's transmission alone",
         [&](auto &t, auto &) {
             t.radio.setOperatorPtt(true);
             runTask(t.client->stop());
         },
         {}, {}},
        {"a stop against a silent radio writes every closing command",
         [&](auto &t, auto &a) {
             runTask(t.client->sendCW(QStringLiteral("CQ")));
             key(t, a);
             t.radio.setReply(QString(), FakeFlexRadio::Reply::silent());
             runTask(t.client->stop());
         },
         {"cwx send \"CQ\"", "xmit 1", "cwx clear", "transmit tune 0", "xmit 0"}, {unconfirmed, cwUnconfirmed}},
        {"a stop with nothing of ours against a silent radio warns of nothing",
         [&](auto &t, auto &) {
             t.radio.setReply(QString(), FakeFlexRadio::Reply::silent());
             runTask(t.client->stop());
         },
         {}, {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Options options;
        // Ticks pay what no report settled; the pings are not compared.
        options.timing.heartbeatInterval = 20ms;
        startReady(options);
        follow();
        QStringList &events = ledgerEvents;
        events.clear();
        client->setEventHandler([&events](const QString &line) { events << line; });
        ClientActivity activity;
        row.run(*this, activity);
        if (!row.events.isEmpty()) {
            EXPECT_TRUE(waitUntil([&] { return events.size() >= row.events.size() && events.last() == row.events.last(); }));
        }
        // Whether a stalled unkey's "xmit 0" left before the link was given
        // up depends on which time-out came first: rows may allow either.
        // The last line may follow the last event's reply.
        const QRegularExpression wire(QRegularExpression::anchoredPattern(row.wire.join(u", ")));
        QString keying;
        EXPECT_TRUE(waitUntil([&] {
            keying = radio.commandTexts().filter(QRegularExpression(QStringLiteral("^(xmit|transmit|cwx)"))).join(u", ");
            return wire.match(keying).hasMatch();
        })) << keying.toStdString();
        EXPECT_EQ(QStringList(events).replaceInStrings(QRegularExpression(QStringLiteral("Radio command \\d+ ")),
                                                       QStringLiteral("Radio command N ")),
                  row.events);
        radio.setOperatorPtt(false);
        radio.clearReplies();
        errorOf(client->stop());
        client.reset();
        radio.clearReceived();
        states.clear();
        snapshots.clear();
    }
}

// A command whose line never left reports why the connection failed.
TEST_F(FlexRadioClientTest, ACommandCutOffByAFailedConnectionReportsItsError)
{
    startReady();
    follow();
    radio.stopReadingThenReset(100ms);
    // Several times what the connection holds once the radio stops reading.
    const QString error = errorOf(client->setMode(QString(16 * 1024 * 1024, QLatin1Char('A'))));
    EXPECT_NE(error, KivoError::notConnected().message());
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
} // namespace kivo
