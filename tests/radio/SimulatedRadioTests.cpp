#include "KivoCore/radio/SimulatedRadio.h"
#include "fakes/RecordingRadio.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"
#include "support/ThrownMessage.h"

#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;

namespace {

RadioVFO vfo(const char *letter, qint64 hz, const char *mode, bool receive, bool transmit, bool rit = false,
             int ritHz = 0, bool xit = false, int xitHz = 0)
{
    return RadioVFO({.letter = QString::fromLatin1(letter),
                     .frequencyHz = hz,
                     .mode = QString::fromLatin1(mode),
                     .isReceive = receive,
                     .isTransmit = transmit,
                     .ritEnabled = rit,
                     .ritOffsetHz = ritHz,
                     .xitEnabled = xit,
                     .xitOffsetHz = xitHz});
}

class SimulatedRadioTest : public ::testing::Test {
protected:
    QList<RadioSnapshot> published;
    SimulatedRadio radio{connectedSnapshot(), [this](const RadioSnapshot &snapshot) { published.append(snapshot); }};

    RadioSnapshot current() { return runTask(radio.snapshot(), 2s); }

    void expectFailure(QCoro::Task<void> task, KivoError::Kind kind)
    {
        const auto error = errorOf(std::move(task));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), kind);
        EXPECT_TRUE(published.isEmpty());
    }
};

TEST_F(SimulatedRadioTest, TuningVFOAPublishesOneCompleteSnapshot)
{
    EXPECT_EQ(current(), connectedSnapshot()); // seeding publishes nothing and changes nothing
    EXPECT_TRUE(published.isEmpty());

    runTask(radio.setFrequency(7074000), 2s);
    ASSERT_EQ(published.size(), 1);
    const RadioSnapshot snapshot = published.first();
    EXPECT_EQ(snapshot, current());
    EXPECT_EQ(snapshot.frequencyHz, 7074000);
    EXPECT_EQ(snapshot.transmitFrequencyHz, 7074000);
    EXPECT_EQ(snapshot.vfos, QList<RadioVFO>{vfo("A", 7074000, "DIGU", true, true)});
    EXPECT_TRUE(snapshot.isConnected);
    EXPECT_EQ(snapshot.station, "Test");
    EXPECT_EQ(runTask(radio.primaryFrequency(), 2s), 7074000);

    // Setting the same value again still publishes.
    runTask(radio.setFrequency(7074000), 2s);
    EXPECT_EQ(published.size(), 2);
}

TEST_F(SimulatedRadioTest, SecondaryFrequencyCreatesVFOBWithVFOAsMode)
{
    EXPECT_EQ(runTask(radio.secondaryFrequency(), 2s), std::nullopt);
    runTask(radio.setSecondaryFrequency(14080000), 2s);
    EXPECT_EQ(runTask(radio.secondaryFrequency(), 2s), 14080000);
    const RadioSnapshot snapshot = current();
    EXPECT_EQ(snapshot.vfos, (QList<RadioVFO>{vfo("A", 14074000, "DIGU", true, true),
                                              vfo("B", 14080000, "DIGU", false, false)}));
    EXPECT_EQ(snapshot.frequencyHz, 14074000);
}

TEST_F(SimulatedRadioTest, ReceiveOnBRoutesFrequencyAndModeToB)
{
    EXPECT_EQ(errorOf(radio.setReceiveVFO(1))->kind(), KivoError::Kind::Unsupported);
    runTask(radio.setSplitTransmit(true), 2s);
    runTask(radio.setReceiveVFO(1), 2s);
    runTask(radio.setFrequency(7050000), 2s);
    runTask(radio.setMode("cw"), 2s);
    runTask(radio.setPrimaryFrequency(7010000), 2s);

    const RadioSnapshot snapshot = current();
    EXPECT_EQ(snapshot.vfos, (QList<RadioVFO>{vfo("A", 7010000, "DIGU", false, false),
                                              vfo("B", 7050000, "CW", true, true)}));
    EXPECT_EQ(snapshot.slice, "B");
    EXPECT_EQ(snapshot.frequencyHz, 7050000);
    EXPECT_EQ(snapshot.mode, "CW");
    EXPECT_EQ(snapshot.transmitFrequencyHz, 7050000);

    for (int vfo : {2, -1})
        EXPECT_EQ(errorOf(radio.setReceiveVFO(vfo))->kind(), KivoError::Kind::Unsupported) << vfo;
    runTask(radio.setReceiveVFO(0), 2s);
    EXPECT_EQ(current().frequencyHz, 7010000);
}

TEST_F(SimulatedRadioTest, SplitOffReturnsTransmitToAAndKeepsB)
{
    runTask(radio.setSplitTransmit(true), 2s);
    runTask(radio.setSecondaryFrequency(14080000), 2s);
    EXPECT_EQ(current().transmitSlice, "B");
    EXPECT_EQ(current().transmitFrequencyHz, 14080000);

    runTask(radio.setSplitTransmit(false), 2s);
    const RadioSnapshot snapshot = current();
    EXPECT_EQ(snapshot.transmitSlice, "A");
    EXPECT_EQ(snapshot.transmitFrequencyHz, 14074000);
    EXPECT_EQ(snapshot.vfos, (QList<RadioVFO>{vfo("A", 14074000, "DIGU", true, true),
                                              vfo("B", 14080000, "DIGU", false, false)}));
}

TEST_F(SimulatedRadioTest, ModeIsTrimmedAndUpperCased)
{
    runTask(radio.setMode(" usb\n"), 2s);
    EXPECT_EQ(current().mode, "USB");
    EXPECT_EQ(current().vfos.first().mode, "USB");
    published.clear();
    expectFailure(radio.setMode(" \t "), KivoError::Kind::InvalidMode);
}

TEST_F(SimulatedRadioTest, FrequenciesBelowOneHertzAreRefused)
{
    expectFailure(radio.setFrequency(0), KivoError::Kind::InvalidFrequency);
    expectFailure(radio.setPrimaryFrequency(-5), KivoError::Kind::InvalidFrequency);
    expectFailure(radio.setSecondaryFrequency(0), KivoError::Kind::InvalidFrequency);
    EXPECT_EQ(current(), connectedSnapshot());
}

TEST_F(SimulatedRadioTest, CWSpeedStaysWithinFiveToOneHundred)
{
    EXPECT_EQ(runTask(radio.cwSpeed(), 2s), 25);
    for (int wpm : {4, 101}) {
        const auto error = errorOf(radio.setCWSpeed(wpm));
        ASSERT_TRUE(error) << wpm;
        EXPECT_EQ(error->message(), "CW speed must be 5 through 100 WPM.");
    }
    runTask(radio.setCWSpeed(5), 2s);
    runTask(radio.setCWSpeed(100), 2s);
    EXPECT_EQ(runTask(radio.cwSpeed(), 2s), 100);
    runTask(radio.sendCW("CQ TEST"), 2s);
    runTask(radio.clearCW(), 2s);
    EXPECT_TRUE(published.isEmpty());
}

TEST_F(SimulatedRadioTest, RITAndXITAreKeptPerVFOLetter)
{
    runTask(radio.setSecondaryFrequency(14080000), 2s);
    runTask(radio.setRIT(true, 9999, "b"), 2s);
    runTask(radio.setXIT(true, -120, "B"), 2s);
    runTask(radio.setRIT(true, 50, std::nullopt), 2s); // the receive VFO, A
    runTask(radio.setXIT(true, 30, "C"), 2s);          // not a VFO letter: the receive VFO too
    EXPECT_EQ(current().vfos, (QList<RadioVFO>{vfo("A", 14074000, "DIGU", true, true, true, 50, true, 30),
                                               vfo("B", 14080000, "DIGU", false, false, true, 9999, true, -120)}));

    published.clear();
    expectFailure(radio.setRIT(true, 10000, "A"), KivoError::Kind::Unsupported);
    expectFailure(radio.setXIT(true, -10000, "A"), KivoError::Kind::Unsupported);
}

TEST_F(SimulatedRadioTest, TransmitAndPowerPublishOnceEach)
{
    runTask(radio.setTransmit(CATTransmitMode::Tune), 2s);
    EXPECT_TRUE(current().isTransmitting);
    runTask(radio.setTransmit(false), 2s);
    EXPECT_FALSE(current().isTransmitting);
    runTask(radio.setRFPower(1), 2s);
    EXPECT_EQ(current().rfPowerWatts, 1);
    ASSERT_EQ(published.size(), 3);
    EXPECT_TRUE(published[0].isTransmitting);
    EXPECT_EQ(published[2].rfPowerWatts, 1);

    published.clear();
    expectFailure(radio.setRFPower(0), KivoError::Kind::Unsupported);
}

TEST_F(SimulatedRadioTest, StationActionsAndSpotsAreUnsupported)
{
    expectFailure(radio.performStationAction(RemoteStationAction::Tune), KivoError::Kind::Unsupported);
    const FlexSpot spot = FlexSpot::make({.frequencyHz = 14074000,
                                          .callsign = "DL1ABC",
                                          .mode = "FT8",
                                          .source = "RUMlog",
                                          .lifetimeSeconds = 300,
                                          .priority = 3,
                                          .colorHex = "#FFFFFF"});
    expectFailure(radio.addSpot(spot), KivoError::Kind::Unsupported);
}

// A departure and a stop unkey and clear the simulator like any radio, and say nothing of it.
TEST_F(SimulatedRadioTest, ADepartureAndAStopUndoAClientsKeyAndCW)
{
    QStringList events;
    radio.setEventHandler([&events](const QString &line) { events << line; });
    radio.start();
    const auto leaving = std::make_shared<ClientActivity>();
    leaving->noteKeyed(radio.nextTransmitNumber());
    radio.clientKeying(leaving);
    runTask(radio.setTransmit(CATTransmitMode::Microphone), 2s);
    EXPECT_TRUE(runTask(radio.makeSafe(*leaving), 2s));
    EXPECT_FALSE(runTask(radio.snapshot(), 2s).isTransmitting);
    const auto client = std::make_shared<ClientActivity>();
    client->noteKeyed(radio.nextTransmitNumber());
    radio.clientKeying(client);
    runTask(radio.setTransmit(true), 2s);
    radio.clientKeying(client);
    runTask(radio.sendCW(QStringLiteral("CQ")), 2s);
    runTask(radio.stop(), 2s);
    EXPECT_FALSE(runTask(radio.snapshot(), 2s).isTransmitting);
    EXPECT_FALSE(radio.keyOutstanding() || radio.cwOutstanding());
    EXPECT_EQ(events, QStringList());
}

// However the radio starts again after a stop, a client's key is its own
// until it leaves, and then undone.
TEST_F(SimulatedRadioTest, AfterARestartAClientsKeyStandsUntilItLeaves)
{
    for (const auto restart : {&RadioBackendBase::start, &RadioBackendBase::reconnectNow}) {
        radio.start();
        runTask(radio.stop(), 2s);
        (radio.*restart)();
        const auto client = std::make_shared<ClientActivity>();
        client->noteKeyed(radio.nextTransmitNumber());
        radio.clientKeying(client);
        runTask(radio.setTransmit(true), 2s);
        EXPECT_TRUE(runTask(radio.snapshot(), 2s).isTransmitting);
        EXPECT_TRUE(runTask(radio.makeSafe(*client), 2s));
        EXPECT_FALSE(runTask(radio.snapshot(), 2s).isTransmitting);
        runTask(radio.stop(), 2s);
    }
}

TEST(SimulatedRadioSeedTest, SeedOnSliceBMakesBothVFOs)
{
    const RadioSnapshot seed(
        {.frequencyHz = 14074000, .mode = "DIGU", .isConnected = true, .slice = "B", .station = "Station"});
    SimulatedRadio radio(seed, nullptr);
    EXPECT_EQ(runTask(radio.primaryFrequency(), 2s), 14074000);
    EXPECT_EQ(runTask(radio.secondaryFrequency(), 2s), 14074000);
    runTask(radio.setPrimaryFrequency(7074000), 2s);
    const RadioSnapshot snapshot = runTask(radio.snapshot(), 2s);
    EXPECT_EQ(snapshot.vfos, (QList<RadioVFO>{vfo("A", 7074000, "DIGU", false, false),
                                              vfo("B", 14074000, "DIGU", true, true)}));
    EXPECT_EQ(snapshot.frequencyHz, 14074000);
}

TEST(SimulatedRadioSeedTest, SeedOffsetsSurviveTheFirstRefresh)
{
    RadioSnapshot seed = connectedSnapshot();
    seed.vfos = {vfo("A", 14074000, "USB", true, true, true, 150, false, 0)};
    SimulatedRadio radio(seed, nullptr);
    runTask(radio.setFrequency(14075000), 2s);
    EXPECT_EQ(runTask(radio.snapshot(), 2s).vfos,
              QList<RadioVFO>{vfo("A", 14075000, "USB", true, true, true, 150, false, 0)});
}

} // namespace
