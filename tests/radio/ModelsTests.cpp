#include "KivoCore/support/KivoError.h"
#include "KivoCore/radio/Models.h"
#include "KivoCore/radio/RadioControlling.h"
#include "KivoCore/radio/RadioLifecycle.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"

#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;

TEST(RadioSnapshot, FillsTransmitSideAndOneVFOWhenLeftOut)
{
    const RadioSnapshot snapshot({.frequencyHz = 14074000,
                                  .mode = QStringLiteral("digu"),
                                  .isConnected = true,
                                  .slice = QStringLiteral("b"),
                                  .station = QStringLiteral("Maestro")});
    EXPECT_EQ(snapshot.transmitSlice, QStringLiteral("b"));
    EXPECT_EQ(snapshot.transmitFrequencyHz, 14074000);
    EXPECT_EQ(snapshot.slice, QStringLiteral("b"));
    EXPECT_EQ(snapshot.mode, QStringLiteral("digu"));
    ASSERT_EQ(snapshot.vfos.size(), 1);
    EXPECT_EQ(snapshot.vfos.first(),
              RadioVFO({.letter = QStringLiteral("B"),
                        .frequencyHz = 14074000,
                        .mode = QStringLiteral("DIGU"),
                        .isReceive = true,
                        .isTransmit = true}));
}

TEST(RadioSnapshot, AnotherTransmitSliceMakesTheOneVFOReceiveOnly)
{
    const RadioSnapshot snapshot({.frequencyHz = 7074000,
                                  .mode = QStringLiteral("USB"),
                                  .isConnected = true,
                                  .slice = QStringLiteral("A"),
                                  .transmitSlice = QStringLiteral("B")});
    ASSERT_EQ(snapshot.vfos.size(), 1);
    EXPECT_TRUE(snapshot.vfos.first().isReceive);
    EXPECT_FALSE(snapshot.vfos.first().isTransmit);
}

TEST(RadioSnapshot, LooksUpVFOsByUpperCasedLetterFirstMatchWins)
{
    const RadioSnapshot empty({.frequencyHz = 7074000,
                               .mode = QStringLiteral("USB"),
                               .isConnected = true,
                               .slice = QStringLiteral("A"),
                               .vfos = QList<RadioVFO>{}});
    EXPECT_TRUE(empty.vfos.isEmpty());
    EXPECT_FALSE(empty.vfo(QStringLiteral("A")).has_value());

    const QList<RadioVFO> twoA{RadioVFO({.letter = QStringLiteral("a"),
                                         .frequencyHz = 1000000,
                                         .mode = QStringLiteral("cw"),
                                         .isReceive = true,
                                         .isTransmit = true}),
                               RadioVFO({.letter = QStringLiteral("A"),
                                         .frequencyHz = 2000000,
                                         .mode = QStringLiteral("CW")})};
    RadioSnapshot snapshot(
        {.frequencyHz = 1000000, .mode = QStringLiteral("CW"), .isConnected = true, .slice = QStringLiteral("A"), .vfos = twoA});
    EXPECT_EQ(snapshot.vfo(QStringLiteral("a"))->frequencyHz, 1000000);
    snapshot.vfos[0].letter = QStringLiteral("c");
    EXPECT_FALSE(snapshot.vfo(QStringLiteral("c")).has_value()); // stored letters are not converted again
}

TEST(RadioSnapshot, EqualityComparesTimestampsAndStationStatus)
{
    RadioSnapshot a(
        {.frequencyHz = 14074000, .mode = QStringLiteral("USB"), .isConnected = true, .slice = QStringLiteral("A")});
    RadioSnapshot b = a;
    EXPECT_EQ(a, b);
    b.agentObservedAt = QDateTime::fromSecsSinceEpoch(1714564800, Qt::UTC);
    EXPECT_NE(a, b);
    b = a;
    RemoteStationStatus status;
    status.inhibitors = {QStringLiteral("Amplifier fault")};
    b.remoteStationStatus = status;
    EXPECT_NE(a, b);
}

TEST(RawValues, MatchExactlyIncludingCase)
{
    EXPECT_EQ(radioConnectionStateFromRaw(QStringLiteral("ready")), RadioConnectionState::Ready);
    EXPECT_FALSE(radioConnectionStateFromRaw(QStringLiteral("Ready")).has_value());
    EXPECT_EQ(remoteStationActionFromRaw(QStringLiteral("tune")), RemoteStationAction::Tune);
    EXPECT_EQ(QStringLiteral("station_") + rawValue(RemoteStationAction::Operate), QStringLiteral("station_operate"));
}

TEST(KivoError, DescribesItselfWithTheFixedSentences)
{
    EXPECT_EQ(KivoError::server(QStringLiteral("Exactly this.")).message(), QStringLiteral("Exactly this."));
    EXPECT_EQ(KivoError::server(QString()).message(), QString());
    EXPECT_EQ(KivoError::invalidFrequency().message(), QStringLiteral("The frequency is invalid."));
    EXPECT_EQ(KivoError::invalidMode().message(), QStringLiteral("The radio mode is invalid."));
    EXPECT_EQ(KivoError::notConnected().message(), QStringLiteral("The radio is not connected."));
    EXPECT_EQ(KivoError::unsupported().message(),
              QStringLiteral("This operation is not supported by the selected radio connection."));
}

namespace {
// Implements only what every backend must.
class MinimalRadio : public RadioControlling {
public:
    RadioSnapshot current{
        {.frequencyHz = 14074000, .mode = QStringLiteral("USB"), .isConnected = true, .slice = QStringLiteral("A")}};
    QList<qint64> frequencies;
    QList<bool> transmits;

    QCoro::Task<RadioSnapshot> snapshot() override { return snapshotCopy(current); }
    QCoro::Task<void> setFrequency(qint64 hz) override
    {
        frequencies.append(hz);
        co_return;
    }
    QCoro::Task<void> setMode(QString) override { co_return; }
    using RadioControlling::setTransmit;
    QCoro::Task<void> setTransmit(bool on) override
    {
        transmits.append(on);
        co_return;
    }
};

template <typename T>
bool throwsUnsupported(QCoro::Task<T> task)
{
    try {
        runTask(std::move(task));
    } catch (const KivoError &error) {
        return error.kind() == KivoError::Kind::Unsupported;
    }
    return false;
}
} // namespace

TEST(RadioControllingDefaults, AnswerTheSameForEveryBackend)
{
    MinimalRadio radio;
    EXPECT_EQ(runTask(radio.cwSpeed()), 25);
    EXPECT_FALSE(runTask(radio.secondaryFrequency()).has_value());
    EXPECT_NO_THROW(runTask(radio.setSplitTransmit(false)));
    EXPECT_NO_THROW(runTask(radio.setReceiveVFO(0)));
    EXPECT_TRUE(throwsUnsupported(radio.setSplitTransmit(true)));
    EXPECT_TRUE(throwsUnsupported(radio.setReceiveVFO(1)));
    EXPECT_TRUE(throwsUnsupported(radio.setReceiveVFO(-1)));
    EXPECT_TRUE(throwsUnsupported(radio.setSecondaryFrequency(7000000)));
    EXPECT_TRUE(throwsUnsupported(radio.setCWSpeed(20)));
    EXPECT_TRUE(throwsUnsupported(radio.sendCW(QStringLiteral("CQ"))));
    EXPECT_TRUE(throwsUnsupported(radio.clearCW()));
    EXPECT_TRUE(throwsUnsupported(radio.setRIT(true, 100, std::nullopt)));
    EXPECT_TRUE(throwsUnsupported(radio.setXIT(true, 100, QStringLiteral("A"))));
    EXPECT_TRUE(throwsUnsupported(radio.setRFPower(50)));
    EXPECT_TRUE(throwsUnsupported(radio.performStationAction(RemoteStationAction::Operate)));
    EXPECT_TRUE(throwsUnsupported(radio.addSpot(FlexSpot::make({.frequencyHz = 14025000,
                                                                .callsign = QStringLiteral("DL1ABC"),
                                                                .lifetimeSeconds = 600,
                                                                .priority = 2,
                                                                .colorHex = QStringLiteral("#0A84FF")}))));
}

TEST(RadioControllingDefaults, KeyingModesAndPrimaryFrequencyGoThroughTheBackend)
{
    MinimalRadio radio;
    runTask(radio.setTransmit(CATTransmitMode::Data));
    runTask(radio.setTransmit(CATTransmitMode::Tune));
    EXPECT_EQ(radio.transmits, (QList<bool>{true, true}));
    runTask(radio.setPrimaryFrequency(7074000));
    EXPECT_EQ(radio.frequencies, (QList<qint64>{7074000}));
    EXPECT_EQ(runTask(radio.primaryFrequency()), 14074000);
    radio.current.vfos = {RadioVFO({.letter = QStringLiteral("B"),
                                    .frequencyHz = 7000000,
                                    .mode = QStringLiteral("CW"),
                                    .isReceive = true,
                                    .isTransmit = true})};
    EXPECT_FALSE(runTask(radio.primaryFrequency()).has_value()); // no fall-back to the snapshot's frequency
}
