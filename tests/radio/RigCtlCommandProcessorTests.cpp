#include "KivoCore/radio/RigCtlCommandProcessor.h"
#include "KivoCore/radio/SimulatedRadio.h"
#include "fakes/RecordingRadio.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"

#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;

namespace {

const QString ok = QStringLiteral("RPRT 0\n");
const QString failed = QStringLiteral("RPRT -1\n");
const QString unknown = QStringLiteral("RPRT -4\n");

// One line and what the client and the radio see of it. `calls` are the
// backend calls after the snapshot that every line takes first.
struct Exchange {
    QString line;
    QString answer;
    QStringList calls;
};

class RigCtlCommandProcessorTest : public ::testing::Test {
protected:
    std::shared_ptr<RecordingRadio> radio = std::make_shared<RecordingRadio>();
    RigCtlCommandProcessor processor{radio, true};

    void expectExchanges(RigCtlCommandProcessor &target, const QList<Exchange> &exchanges)
    {
        for (const Exchange &exchange : exchanges) {
            SCOPED_TRACE(exchange.line.toStdString());
            radio->calls.clear();
            EXPECT_EQ(runTask(target.handle(exchange.line), 2s), exchange.answer);
            EXPECT_EQ(radio->calls, QStringList{"snapshot()"} + exchange.calls);
        }
    }

    void expectExchanges(const QList<Exchange> &exchanges) { expectExchanges(processor, exchanges); }
};

TEST_F(RigCtlCommandProcessorTest, ReadsAnswerPlainValues)
{
    expectExchanges({{"f", "14074000\n", {}},
                     {"f\r", "14074000\n", {}},
                     {"m", "PKTUSB\n0\n", {}},
                     {"t", "0\n", {}},
                     {"\\get_info", "Quend-Kivo\n", {}}});
}

TEST_F(RigCtlCommandProcessorTest, ModeReadUsesHamlibNames)
{
    const QList<std::pair<const char *, const char *>> modes{
        {"DIGU", "PKTUSB\n0\n"}, {"digl", "PKTLSB\n0\n"}, {"NFM", "FM\n0\n"},
        {"DFM", "FM\n0\n"},      {"usb", "USB\n0\n"},     {"FDV", "FDV\n0\n"},
    };
    for (const auto &[mode, answer] : modes) {
        radio->current.mode = QString::fromLatin1(mode);
        expectExchanges({{"m", answer, {}}});
    }
}

TEST_F(RigCtlCommandProcessorTest, WhileDisconnectedOnlyFrequencyAndModeReadsFail)
{
    radio->current.isConnected = false;
    radio->current.isTransmitting = true;
    expectExchanges({{"f", failed, {}}, {"m", failed, {}}, {"t", "1\n", {}}, {"\\get_info", "Quend-Kivo\n", {}}});
}

TEST_F(RigCtlCommandProcessorTest, FrequencySetTakesOnlyAWholePositiveNumber)
{
    expectExchanges({{"F 14074000", ok, {"setFrequency(14074000)"}}, {"F +7074000", ok, {"setFrequency(7074000)"}}});
    for (const char *line : {"F 14074000.000000", "F 0", "F -5", "F abc", "F  14074000", "F 14074000 1",
                             "F 99999999999999999999"})
        expectExchanges({{line, failed, {}}});
    radio->failOn("setFrequency");
    expectExchanges({{"F 7074000", failed, {"setFrequency(7074000)"}}});
}

TEST_F(RigCtlCommandProcessorTest, ModeSetPassesTheRadiosNameAndIgnoresThePassband)
{
    expectExchanges({{"M PKTUSB 3000", ok, {"setMode(DIGU)"}},
                     {"M pktlsb", ok, {"setMode(DIGL)"}},
                     {"M  usb", ok, {"setMode(USB)"}},
                     {"M XYZ", ok, {"setMode(XYZ)"}}});
    radio->failOn("setMode");
    expectExchanges({{"M XYZ", failed, {"setMode(XYZ)"}}});
}

TEST_F(RigCtlCommandProcessorTest, PTTKeysForOneToThreeUnkeysForZeroAndRefusesAnythingElse)
{
    expectExchanges({{"T 1", ok, {"setTransmit(true)"}},
                     {"T 0", ok, {"setTransmit(false)"}},
                     {"T 2", ok, {"setTransmit(microphone)"}},
                     {"T 3", ok, {"setTransmit(data)"}},
                     {"T x", failed, {}},
                     {"T 01", failed, {}},
                     {"T 4", failed, {}},
                     {"T  1", failed, {}},
                     {"T -1", failed, {}}});
    radio->failOn("setTransmit");
    expectExchanges({{"T 0", failed, {"setTransmit(false)"}}});
}

TEST_F(RigCtlCommandProcessorTest, WithoutTransmitPermissionKeyingIsRefusedButUnkeyingWorks)
{
    RigCtlCommandProcessor guarded(radio, false);
    expectExchanges(guarded, {{"T 1", failed, {}}, {"T 2", failed, {}}, {"T 3", failed, {}}, {"T 0", ok, {"setTransmit(false)"}}, {"F 7074000", ok, {"setFrequency(7074000)"}}});
}

TEST_F(RigCtlCommandProcessorTest, EverythingElseIsUnknown)
{
    for (const char *line : {"", "   ", "F", "M", "T", "f 14074000", "\\get_freq", "\\set_freq 14074000", "v", "F\t1"})
        expectExchanges({{line, unknown, {}}});
}

TEST_F(RigCtlCommandProcessorTest, ABrokenSnapshotIsAFailureNotAnException)
{
    radio->failOn("snapshot");
    EXPECT_EQ(runTask(processor.handle("f"), 2s), failed);
}

TEST(RigCtlOnSimulatorTest, SetsReadBack)
{
    auto radio = std::make_shared<SimulatedRadio>(connectedSnapshot(), nullptr);
    RigCtlCommandProcessor processor(radio, true);
    const auto ask = [&processor](const char *line) { return runTask(processor.handle(line), 2s); };
    EXPECT_EQ(ask("F 7074000"), ok);
    EXPECT_EQ(ask("f"), "7074000\n");
    EXPECT_EQ(ask("M USB 2400"), ok);
    EXPECT_EQ(ask("m"), "USB\n0\n");
    EXPECT_EQ(ask("M PKTLSB"), ok);
    EXPECT_EQ(ask("m"), "PKTLSB\n0\n");
    EXPECT_EQ(ask("T 1"), ok);
    EXPECT_EQ(ask("t"), "1\n");
    EXPECT_EQ(ask("T 0"), ok);
    EXPECT_EQ(ask("t"), "0\n");
    EXPECT_EQ(ask("F 0"), failed);
    EXPECT_EQ(ask("f"), "7074000\n");
}

} // namespace
