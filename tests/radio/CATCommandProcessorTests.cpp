#include "KivoCore/radio/CATCommandProcessor.h"
#include "KivoCore/radio/RigCtlCommandProcessor.h"
#include "KivoCore/radio/SimulatedRadio.h"
#include "fakes/RecordingRadio.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"

#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;

namespace {

const std::optional<QString> noAnswer;
const QString refused = QStringLiteral("?;");

// One request and what the client and the radio see of it. `calls` are the
// backend calls after the snapshot that every request takes first.
struct Exchange {
    QString request;
    std::optional<QString> answer;
    QStringList calls;
};

RadioVFO vfo(const char *letter, bool receive, bool transmit, bool rit = false, int ritHz = 0, bool xit = false,
             int xitHz = 0)
{
    return RadioVFO({.letter = QString::fromLatin1(letter),
                     .frequencyHz = 14074000,
                     .mode = QStringLiteral("DIGU"),
                     .isReceive = receive,
                     .isTransmit = transmit,
                     .ritEnabled = rit,
                     .ritOffsetHz = ritHz,
                     .xitEnabled = xit,
                     .xitOffsetHz = xitHz});
}

RadioSnapshot withVFOs(QList<RadioVFO> vfos)
{
    RadioSnapshot snapshot = connectedSnapshot();
    snapshot.vfos = std::move(vfos);
    return snapshot;
}

class CATCommandProcessorTest : public ::testing::Test {
protected:
    std::shared_ptr<RecordingRadio> radio = std::make_shared<RecordingRadio>();
    CATCommandProcessor processor{radio, true};

    std::optional<QString> ask(CATCommandProcessor &target, const QString &request)
    {
        radio->calls.clear();
        return runTask(target.handle(request), 2s);
    }

    void expectExchanges(CATCommandProcessor &target, const QList<Exchange> &exchanges)
    {
        for (const Exchange &exchange : exchanges) {
            SCOPED_TRACE(exchange.request.toStdString());
            EXPECT_EQ(ask(target, exchange.request), exchange.answer);
            EXPECT_EQ(radio->calls, QStringList{"snapshot()"} + exchange.calls);
        }
    }

    void expectExchanges(const QList<Exchange> &exchanges) { expectExchanges(processor, exchanges); }
};

TEST_F(CATCommandProcessorTest, ReadsAnswerWithFixedWidthValues)
{
    radio->primary = 14074000;
    radio->speed = 7;
    radio->current.rfPowerWatts = 50;
    expectExchanges({
        {"FA", "FA00014074000;", {"primaryFrequency()"}},
        {"fa", "FA00014074000;", {"primaryFrequency()"}},
        {"\r\nFA", "FA00014074000;", {"primaryFrequency()"}},
        {"ID", "ID019;", {}},
        {"PS", "PS1;", {}},
        {"AI", "AI0;", {}},
        {"KS", "KS007;", {"cwSpeed()"}},
        {"PC", "PC050;", {}},
        {"MD", "MD9;", {}},
        {"FR", "FR0;", {}},
        {"FT", "FT0;", {}},
        {"RT", "RT0;", {}},
        {"XT", "XT0;", {}},
    });
}

TEST_F(CATCommandProcessorTest, FrequencyBFallsBackToAAndAlwaysAsksBoth)
{
    radio->primary = 14074000;
    expectExchanges({{"FB", "FB00014074000;", {"secondaryFrequency()", "primaryFrequency()"}}});
    radio->secondary = 7074000;
    expectExchanges({{"FB", "FB00007074000;", {"secondaryFrequency()", "primaryFrequency()"}}});
    radio->current.isConnected = false;
    expectExchanges({{"FB", refused, {"secondaryFrequency()", "primaryFrequency()"}}});
}

TEST_F(CATCommandProcessorTest, ReadsThatNeedTheRadioAreRefusedWhileDisconnected)
{
    radio->primary = 14074000;
    radio->current.isConnected = false;
    radio->current.rfPowerWatts = 50;
    for (const char *request : {"FA", "FR", "FT", "IF", "MD", "RT", "XT", "PC"})
        expectExchanges({{request, refused, {}}});
    // These never needed the radio.
    expectExchanges({{"ID", "ID019;", {}}, {"PS", "PS1;", {}}, {"AI", "AI0;", {}}, {"KS", "KS025;", {"cwSpeed()"}}});
}

TEST_F(CATCommandProcessorTest, MissingValuesAreRefused)
{
    // No frequency for VFO A, no power reading, no VFO A at all for RT/XT.
    radio->current = withVFOs({vfo("B", false, false)});
    expectExchanges({{"FA", refused, {"primaryFrequency()"}}, {"FB", refused, {"secondaryFrequency()", "primaryFrequency()"}},
                     {"PC", refused, {}}, {"RT", refused, {}}, {"XT", refused, {}}});
}

TEST_F(CATCommandProcessorTest, VFOBDecidesReceiveTransmitAndRITReads)
{
    radio->current = withVFOs({vfo("A", false, false, false, 0, true, 20), vfo("B", true, true, true, 150)});
    expectExchanges({{"FR", "FR1;", {}}, {"FT", "FT1;", {}}, {"RT", "RT1;", {}}, {"XT", "XT0;", {}}});
    radio->current = withVFOs({vfo("A", true, false, false, 0, true, 20), vfo("B", false, false, true, 150)});
    expectExchanges({{"FR", "FR0;", {}}, {"FT", "FT0;", {}}, {"RT", "RT0;", {}}, {"XT", "XT1;", {}}});
}

TEST_F(CATCommandProcessorTest, ModeReadMapsEveryFamilyToItsKenwoodDigit)
{
    const QList<std::pair<const char *, const char *>> modes{
        {"lsb", "MD1;"},   {"USB", "MD2;"},    {"CW", "MD3;"},   {"NFM", "MD4;"},    {"PKTFM", "MD4;"},
        {"SAM", "MD5;"},   {"DIGL", "MD6;"},   {"RTTYR", "MD6;"}, {"CWR", "MD7;"},   {"pktusb", "MD9;"},
        {"FDV", "MD2;"},
    };
    for (const auto &[mode, answer] : modes) {
        radio->current.mode = QString::fromLatin1(mode);
        expectExchanges({{"MD", answer, {}}});
    }
}

TEST_F(CATCommandProcessorTest, InformationAnswerIsKenwoodsThirtyEightCharacters)
{
    radio->current = withVFOs({});
    expectExchanges({{"IF", "IF00014074000     +000000000090000000;", {}}});

    // Split (position 32) whenever the VFOs differ; keyed in split, the
    // frequency, mode and VFO (position 30) are the transmitting VFO's.
    const QList<std::tuple<bool, bool, bool, const char *>> table{
        {false, false, false, "IF00014074000     +000000000090000000;"},
        {false, false, true, "IF00014074000     +000000000190000000;"},
        {false, true, false, "IF00014074000     +000000000090010000;"},
        {false, true, true, "IF00007074000     +000000000121010000;"},
        {true, false, false, "IF00007074000     +000000000021010000;"},
        {true, false, true, "IF00014074000     +000000000190010000;"},
        {true, true, false, "IF00007074000     +000000000021000000;"},
        {true, true, true, "IF00007074000     +000000000121000000;"},
    };
    for (const auto &[receiveB, transmitB, keyed, answer] : table) {
        RadioVFO b = vfo("B", receiveB, transmitB);
        b.frequencyHz = 7074000;
        b.mode = QStringLiteral("USB");
        radio->current = withVFOs({vfo("A", !receiveB, !transmitB), b});
        radio->current.frequencyHz = receiveB ? b.frequencyHz : 14074000;
        radio->current.mode = receiveB ? b.mode : QStringLiteral("DIGU");
        radio->current.isTransmitting = keyed;
        expectExchanges({{"IF", answer, {}}});
    }
}

TEST_F(CATCommandProcessorTest, SetsCallTheBackendAndAnswerNothing)
{
    expectExchanges({
        {"FA00014074000", noAnswer, {"setPrimaryFrequency(14074000)"}},
        {"fa00014074000", noAnswer, {"setPrimaryFrequency(14074000)"}},
        {"FA14074000", noAnswer, {"setPrimaryFrequency(14074000)"}},
        {"FA99999999999", noAnswer, {"setPrimaryFrequency(99999999999)"}},
        {"FB00007074000", noAnswer, {"setSecondaryFrequency(7074000)"}},
        {"MD2", noAnswer, {"setMode(USB)"}},
        {"MD6", noAnswer, {"setMode(RTTY)"}},
        {"MD9", noAnswer, {"setMode(DIGU)"}},
        {"KS020", noAnswer, {"setCWSpeed(20)"}},
        {"KS005", noAnswer, {"setCWSpeed(5)"}},
        {"KS100", noAnswer, {"setCWSpeed(100)"}},
        {"FR1", noAnswer, {"setReceiveVFO(1)"}},
        {"FR0", noAnswer, {"setReceiveVFO(0)"}},
        {"FT1", noAnswer, {"setSplitTransmit(true)"}},
        {"FT0", noAnswer, {"setSplitTransmit(false)"}},
        {"PC999", noAnswer, {"setRFPower(999)"}},
    });
}

TEST_F(CATCommandProcessorTest, MalformedSetsAreRefusedWithoutReachingTheRadio)
{
    for (const char *request : {"FA0", "FA-5", "FA+", "FA 14074000", "FA9223372036854775807", "FA100000000000",
                                "FB14074000", "FB000014074000", "MD8", "MD02",
                                "MD0", "KS20", "KS004", "KS101", "KSabc", "FR2", "FT2", "FR01", "RT2", "XTx",
                                "PC000", "PC50", "AI3", "AIX", "TX3", "IF0", "ID1", "PS1", "ZZ"})
        expectExchanges({{request, refused, {}}});
}

TEST_F(CATCommandProcessorTest, BlankRequestsGetNoAnswerAndNoBackendCall)
{
    for (const char *request : {"", "   ", "\r\n", "\t \n"}) {
        EXPECT_EQ(ask(processor, request), noAnswer) << request;
        EXPECT_TRUE(radio->calls.isEmpty()) << request;
    }
}

TEST_F(CATCommandProcessorTest, SetsMakeNoConnectionTestOfTheirOwn)
{
    radio->current.isConnected = false;
    expectExchanges({{"FA00007074000", noAnswer, {"setPrimaryFrequency(7074000)"}}, {"TX", noAnswer, {"setTransmit(microphone)"}}});
    radio->failOn("setPrimaryFrequency");
    expectExchanges({{"FA00007074000", refused, {"setPrimaryFrequency(7074000)"}}});
}

TEST_F(CATCommandProcessorTest, AnyBackendFailureIsJustARefusal)
{
    radio->primary = 14074000;
    for (const char *operation : {"setMode", "setCWSpeed", "setTransmit", "sendCW", "setRIT", "cwSpeed"})
        radio->failOn(operation);
    expectExchanges({{"MD2", refused, {"setMode(USB)"}},
                     {"KS020", refused, {"setCWSpeed(20)"}},
                     {"TX1", refused, {"setTransmit(data)"}},
                     {"RX", refused, {"setTransmit(false)"}},
                     {"KY CQ", refused, {"sendCW(CQ)"}},
                     {"RT1", refused, {"setRIT(true,0,A)"}},
                     {"KS", refused, {"cwSpeed()"}}});
    radio->failOn("snapshot");
    EXPECT_EQ(ask(processor, "ID"), refused);
}

TEST_F(CATCommandProcessorTest, AutoInformationIsRememberedForEveryClient)
{
    expectExchanges({{"AI2", noAnswer, {}}, {"AI", "AI2;", {}}, {"AI3", refused, {}}, {"AIX", refused, {}},
                     {"ai", "AI2;", {}}, {"AI0", noAnswer, {}}, {"AI", "AI0;", {}}});
}

TEST_F(CATCommandProcessorTest, TransmitKeysInTheRequestedModeAndUnkeys)
{
    radio->current.isConnected = false;
    expectExchanges({{"TX", noAnswer, {"setTransmit(microphone)"}},
                     {"TX0", noAnswer, {"setTransmit(microphone)"}},
                     {"tx1", noAnswer, {"setTransmit(data)"}},
                     {"TX2", noAnswer, {"setTransmit(tune)"}},
                     {"RX", noAnswer, {"setTransmit(false)"}}});
}

TEST_F(CATCommandProcessorTest, TransmitAnswersOnlyAfterTheRadioHasKeyed)
{
    radio->transmitDelay = 20ms;
    EXPECT_EQ(ask(processor, "TX1"), noAnswer);
    EXPECT_TRUE(radio->current.isTransmitting);
    EXPECT_EQ(ask(processor, "RX"), noAnswer);
    EXPECT_FALSE(radio->current.isTransmitting);
}

TEST_F(CATCommandProcessorTest, WithoutTransmitPermissionOnlyKeyingCommandsAreRefused)
{
    CATCommandProcessor guarded(radio, false);
    radio->current = withVFOs({vfo("A", true, true, false, 150)});
    expectExchanges(guarded, {{"TX", refused, {}},
                              {"TX0", refused, {}},
                              {"TX1", refused, {}},
                              {"TX2", refused, {}},
                              {"XT1", refused, {}},
                              {"PC050", refused, {}},
                              {"KY CQ", refused, {}},
                              {"KY", "KY0;", {}},
                              {"RX", noAnswer, {"setTransmit(false)"}},
                              {"RT1", noAnswer, {"setRIT(true,150,A)"}}});
}

TEST_F(CATCommandProcessorTest, RITAndXITSwitchTheReceiveVFOKeepingItsOffset)
{
    radio->current = withVFOs({vfo("A", true, true, false, 150, false, -40)});
    expectExchanges({{"RT1", noAnswer, {"setRIT(true,150,A)"}}, {"XT0", noAnswer, {"setXIT(false,-40,A)"}}});
    radio->current = withVFOs({vfo("A", false, true), vfo("B", true, false, true, 300, true, 25)});
    expectExchanges({{"RT0", noAnswer, {"setRIT(false,300,B)"}}, {"xt1", noAnswer, {"setXIT(true,25,B)"}}});
    // B does not receive and there is no VFO A to fall back on.
    radio->current = withVFOs({vfo("B", false, false)});
    expectExchanges({{"RT1", refused, {}}, {"XT1", refused, {}}});
}

TEST_F(CATCommandProcessorTest, CWTextIsSentAfterItsLeadingBlanks)
{
    expectExchanges({{"KY TEST", noAnswer, {"sendCW(TEST)"}},
                     {"KYTEST", noAnswer, {"sendCW(TEST)"}},
                     {"ky cq  de", noAnswer, {"sendCW(cq  de)"}},
                     {"KY\t  TEST", noAnswer, {"sendCW(TEST)"}},
                     {"KY   ", "KY0;", {}}});
    radio->current.isConnected = false;
    expectExchanges({{"KY", "KY0;", {}}});
}

TEST_F(CATCommandProcessorTest, CWTextLimitCountsTheBlankAfterKY)
{
    const QString text127(127, QLatin1Char('E'));
    const QString text128(128, QLatin1Char('E'));
    expectExchanges({{"KY " + text127, noAnswer, {"sendCW(" + text127 + ")"}},
                     {"KY " + text128, refused, {}},
                     {"KY" + text128, noAnswer, {"sendCW(" + text128 + ")"}}});
}

// Both servers name the client before every key, unkey and CW: one left
// unnamed would be the windows', and undoing it would never be that client's.
TEST_F(CATCommandProcessorTest, EveryKeyingRequestOfBothServersNamesItsClient)
{
    RigCtlCommandProcessor rigctl{radio, true};
    for (const QString request : {"TX", "TX0", "TX1", "TX2", "RX", "KY CQ", "KYCQ", "T 0", "T 1", "T 2", "T 3"}) {
        SCOPED_TRACE(request.toStdString());
        const auto client = std::make_shared<ClientActivity>();
        radio->keyedFor.clear();
        if (request.startsWith(QLatin1String("T ")))
            runTask(rigctl.handle(request, client), 2s);
        else
            runTask(processor.handle(request, client), 2s);
        EXPECT_EQ(radio->keyedFor, QList<qint64>{client->identity});
    }
}

// The processor on the simulator: what a logging program sees of a radio.
class CATOnSimulatorTest : public ::testing::Test {
protected:
    std::shared_ptr<SimulatedRadio> radio = std::make_shared<SimulatedRadio>(connectedSnapshot(), nullptr);
    CATCommandProcessor processor{radio, true};

    std::optional<QString> ask(const QString &request) { return runTask(processor.handle(request), 2s); }
};

TEST_F(CATOnSimulatorTest, SetsReadBack)
{
    EXPECT_EQ(ask("FA"), "FA00014074000;");
    EXPECT_EQ(ask("FB"), "FB00014074000;");
    EXPECT_EQ(ask("FA00007074000"), noAnswer);
    EXPECT_EQ(ask("FA"), "FA00007074000;");
    EXPECT_EQ(ask("MD2"), noAnswer);
    EXPECT_EQ(ask("MD"), "MD2;");
    EXPECT_EQ(ask("KS020"), noAnswer);
    EXPECT_EQ(ask("KS"), "KS020;");
    EXPECT_EQ(ask("RT1"), noAnswer);
    EXPECT_EQ(ask("RT"), "RT1;");
    EXPECT_EQ(ask("PC"), refused);
    EXPECT_EQ(ask("PC050"), noAnswer);
    EXPECT_EQ(ask("PC"), "PC050;");
}

TEST_F(CATOnSimulatorTest, SplitAndTransmitShowInTheInformationAnswer)
{
    EXPECT_EQ(ask("FR1"), refused); // no VFO B yet
    EXPECT_EQ(ask("FB00014080000"), noAnswer);
    EXPECT_EQ(ask("FT1"), noAnswer);
    EXPECT_EQ(ask("TX"), noAnswer);
    EXPECT_EQ(ask("FT"), "FT1;");
    EXPECT_EQ(ask("FR"), "FR0;");
    EXPECT_EQ(ask("IF"), "IF00014080000     +000000000191010000;");
    EXPECT_EQ(ask("RX"), noAnswer);
    EXPECT_EQ(ask("FR1"), noAnswer);
    EXPECT_EQ(ask("IF"), "IF00014080000     +000000000091000000;");
}

} // namespace
