// Reading the agent's state documents and turning them into the snapshot
// and station status the windows and the command servers see.

#include "KivoCore/support/JsonFields.h"
#include "KivoCore/support/KivoError.h"
#include "KivoCore/agent/RemoteAgentModels.h"
#include "support/QtPrinters.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace kivo;

namespace {

const QDateTime receivedAt = QDateTime::fromMSecsSinceEpoch(1736935201000, Qt::UTC);

QByteArray dataFile(const char *name)
{
    QFile file(QStringLiteral(QK_TEST_DATA_DIR "/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// A state response around the given members of the state document.
QByteArray response(const QByteArray &members)
{
    QByteArray state = R"({"protocol_version":1,"revision":7)";
    if (!members.isEmpty())
        state += ',' + members;
    return R"({"success":true,"state":)" + state + "}}";
}

RemoteAgentDecodedState decoded(const QByteArray &members)
{
    return RemoteAgentStateDecoder::stateResponse(response(members), receivedAt);
}

RemoteStationStatus status(const QByteArray &members)
{
    return *decoded(members).snapshot.remoteStationStatus;
}

QString decodingFailure(const QByteArray &body)
{
    try {
        RemoteAgentStateDecoder::stateResponse(body, receivedAt);
        return QStringLiteral("decoded");
    } catch (const DecodingError &error) {
        return error.message();
    } catch (const KivoError &error) {
        return QStringLiteral("KivoError: ") + error.message();
    }
}

QStringList letters(const RadioSnapshot &snapshot)
{
    QStringList result;
    for (const RadioVFO &vfo : snapshot.vfos)
        result << vfo.letter;
    return result;
}

} // namespace

TEST(RemoteAgentStateDocument, ReadsTheEnvelopeStrictly)
{
    EXPECT_EQ(decodingFailure(R"({"success":true,"state":{"protocol_version":1,"revision":7}})"), "decoded");
    EXPECT_EQ(decodingFailure(R"({"success":true,"state":{"protocol_version":1}})"),
              R"(Could not decode "state.revision": the value is missing.)");
    EXPECT_EQ(decodingFailure(R"({"state":{"protocol_version":1,"revision":7}})"),
              R"(Could not decode "success": the value is missing.)");
    EXPECT_EQ(decodingFailure(R"({"success":false,"state":{"protocol_version":1,"revision":7}})"),
              "KivoError: Remote Agent rejected the state request.");
    EXPECT_TRUE(decodingFailure("ping").startsWith(R"(Could not decode "document": the data is not valid JSON)"));
    EXPECT_EQ(decodingFailure("[1,2]"), R"(Could not decode "document": expected an object.)");
}

TEST(RemoteAgentStateDocument, AWrongTypeAnywhereFailsTheWholeDocument)
{
    EXPECT_EQ(decodingFailure(response(R"("radio":{"connected":1})")),
              R"(Could not decode "state.radio.connected": expected a boolean.)");
    EXPECT_EQ(decodingFailure(response(R"("radio":{"vfos":{"A":{"rit_freq":"120"}}})")),
              R"(Could not decode "state.radio.vfos.A.rit_freq": expected an integer.)");
    EXPECT_EQ(decodingFailure(response(R"("station":{"issues":[{"code":7}]})")),
              R"(Could not decode "state.station.issues[0].code": expected a string.)");
    EXPECT_EQ(decodingFailure(response(R"("capabilities":{"commands":["set_ptt",3]})")),
              R"(Could not decode "state.capabilities.commands[1]": expected a string.)");
    EXPECT_EQ(decodingFailure(response(R"("radio":{"frequency_hz":14074000.5})")),
              R"(Could not decode "state.radio.frequency_hz": expected an integer.)");
    // Keys the client does not know are no concern of it, and null is absent.
    EXPECT_EQ(decodingFailure(response(R"("radio":{"firmware":"x","mode":null},"weather":{"wind":3})")), "decoded");
}

TEST(RemoteAgentStateDocument, NumbersThatDoNotFitFailInsteadOfWrapping)
{
    EXPECT_EQ(decodingFailure(response(R"("radio":{"frequency":1e300})")),
              R"(Could not decode "state.radio.frequency": the number is out of range.)");
    EXPECT_EQ(decodingFailure(response(R"("radio":{"vfos":{"A":{"frequency":-1e300}}})")),
              R"(Could not decode "state.radio.vfos.A.frequency": the number is out of range.)");
    EXPECT_EQ(decodingFailure(response(R"("radio":{"drive":1e300})")),
              R"(Could not decode "state.radio.drive": the number is out of range.)");
    EXPECT_EQ(decodingFailure(response(R"("radio":{"updated_at":1e300})")),
              R"(Could not decode "state.radio.updated_at": the number is out of range.)");
    EXPECT_EQ(decodingFailure(response(R"("radio":{"cw_speed":4294967296})")),
              R"(Could not decode "state.radio.cw_speed": the number is out of range.)");
    // 64-bit integers stay exact.
    EXPECT_EQ(decoded(R"("radio":{"frequency_hz":9007199254740993})").snapshot.frequencyHz, 9007199254740993LL);
    // A revision is the agent's to count; one past 32 bits is passed on as sent.
    const RemoteAgentDecodedState late = RemoteAgentStateDecoder::stateResponse(
        R"({"success":true,"state":{"protocol_version":1,"revision":1736935200250}})", receivedAt);
    EXPECT_EQ(late.snapshot.remoteStationStatus->revision, 1736935200250LL);
}

TEST(RemoteAgentStateDocument, FrequencyInMegahertzIsRoundedToHertz)
{
    EXPECT_EQ(decoded(R"("radio":{"frequency":14.074})").snapshot.frequencyHz, 14074000);
    EXPECT_EQ(decoded(R"("radio":{"frequency":14.0740006})").snapshot.frequencyHz, 14074001);
    EXPECT_EQ(decoded(R"("radio":{"frequency":14.074,"frequency_hz":7074000})").snapshot.frequencyHz, 7074000);
}

TEST(RemoteAgentStateDecoder, RefusesOtherProtocolVersions)
{
    EXPECT_EQ(decodingFailure(R"({"success":true,"state":{"protocol_version":2,"revision":1}})"),
              "KivoError: Remote Agent protocol version 2 is not supported.");
}

TEST(RemoteAgentStateDecoder, AnEmptyDocumentGivesADisconnectedStation)
{
    const RemoteAgentDecodedState state = decoded({});
    const RadioSnapshot &s = state.snapshot;
    EXPECT_EQ(s.frequencyHz, 0);
    EXPECT_EQ(s.mode, "?");
    EXPECT_EQ(s.slice, "A");
    EXPECT_EQ(s.transmitSlice, "A");
    EXPECT_TRUE(s.vfos.isEmpty());
    EXPECT_EQ(s.station, "Remote Agent");
    EXPECT_FALSE(s.isConnected);
    EXPECT_FALSE(s.isTransmitting);
    EXPECT_EQ(s.rfPowerWatts, std::nullopt);
    EXPECT_EQ(s.agentObservedAt, std::nullopt);
    EXPECT_EQ(s.transportReceivedAt, receivedAt);
    EXPECT_EQ(state.cwSpeed, 25);

    const RemoteStationStatus &st = *s.remoteStationStatus;
    EXPECT_EQ(st.revision, 7);
    EXPECT_EQ(st.inhibitors, QStringList({"Radio disconnected", "Radio state unknown", "Radio state stale",
                                          "SmartSDR station unbound", "Station not commissioned"}));
    EXPECT_EQ(st.alarmSummary, "ALARM clear");
    EXPECT_EQ(st.kpaSummary, "KPA unknown");
    EXPECT_EQ(st.katSummary, "KAT unknown");
    EXPECT_EQ(st.routeSummary, "Route unknown");
    EXPECT_EQ(st.routeDetail, "Route unknown");
    EXPECT_EQ(st.band, "--");
    EXPECT_EQ(st.routeAlignment, "unknown");
    EXPECT_EQ(st.interlockState, "--");
    EXPECT_EQ(st.coordinatorState, "unknown");
    EXPECT_EQ(st.txPowerWatts, 0.0);
    EXPECT_EQ(st.swr, std::nullopt);
    EXPECT_FALSE(st.swrIsLive);
    EXPECT_EQ(st.kpaOperate, std::nullopt);
    EXPECT_TRUE(st.radioStale);
    EXPECT_EQ(st.kpaDetailPrimary, "KPA500 --");
    EXPECT_EQ(st.kpaDetailSecondary, "Telemetry unavailable");
    EXPECT_EQ(st.katDetailPrimary, "KAT500 --");
    EXPECT_EQ(st.katDetailSecondary, "Telemetry unavailable");
    EXPECT_TRUE(st.supportedCommands.isEmpty());
}

TEST(RemoteAgentStateDecoder, AnOperatingStationFromARealisticDocument)
{
    const RemoteAgentDecodedState state =
        RemoteAgentStateDecoder::stateResponse(dataFile("agent-state-operating.json"), receivedAt);
    const RadioSnapshot &s = state.snapshot;
    EXPECT_TRUE(s.isConnected);
    EXPECT_TRUE(s.isTransmitting);
    EXPECT_EQ(s.frequencyHz, 14074000);
    EXPECT_EQ(s.mode, "DIGU");
    EXPECT_EQ(s.slice, "A");
    EXPECT_EQ(s.transmitFrequencyHz, 14074000);
    EXPECT_EQ(s.station, "Maestro");
    EXPECT_EQ(s.rfPowerWatts, 50);
    EXPECT_EQ(s.agentObservedAt, QDateTime::fromMSecsSinceEpoch(1736935200250, Qt::UTC));
    EXPECT_EQ(state.cwSpeed, 28);

    // C is not a VFO the system knows, D is not in use.
    ASSERT_EQ(letters(s), QStringList({"A", "B"}));
    EXPECT_EQ(s.vfos[0], RadioVFO({.letter = "A",
                                   .frequencyHz = 14074000,
                                   .mode = "DIGU",
                                   .isReceive = true,
                                   .isTransmit = true,
                                   .ritEnabled = true,
                                   .ritOffsetHz = 120}));
    EXPECT_EQ(s.vfos[1], RadioVFO({.letter = "B",
                                   .frequencyHz = 7074500,
                                   .mode = "LSB",
                                   .xitEnabled = true,
                                   .xitOffsetHz = -50}));

    const RemoteStationStatus &st = *s.remoteStationStatus;
    EXPECT_EQ(st.revision, 4182);
    EXPECT_EQ(st.coordinatorState, "route_verified");
    EXPECT_EQ(st.inhibitors, QStringList({"SWR above 2.0 on 20m", "fan", "Station blocker",
                                          "KPA500 temperature high", "door_open"}));
    EXPECT_EQ(st.alarmSummary, "ALARM 2");
    EXPECT_EQ(st.alarmMessages, QStringList({"KPA500 temperature high", "door_open"}));
    EXPECT_EQ(st.supportedCommands,
              QSet<QString>({"set_frequency_hz", "set_mode", "set_ptt", "station_standby"}));
    EXPECT_EQ(st.allowedActions, QSet<QString>({"standby", "tune", "cancel"}));
    EXPECT_EQ(st.kpaSummary, "KPA OPERATE");
    EXPECT_EQ(st.kpaOperate, true);
    EXPECT_EQ(st.katSummary, "KAT ANT2");
    EXPECT_EQ(st.routeSummary, "Route 20m Hexbeam");
    EXPECT_EQ(st.routeDetail, "20m  ANT1 > KPA500 > KAT500 ANT2 > Hexbeam");
    EXPECT_EQ(st.band, "20m");
    EXPECT_EQ(st.routeAlignment, "aligned");
    EXPECT_EQ(st.interlockState, "TRANSMITTING");
    EXPECT_EQ(st.txPowerWatts, 480.0);
    EXPECT_EQ(st.swr, 1.234);
    EXPECT_TRUE(st.swrIsLive);
    EXPECT_EQ(st.kpaDetailPrimary, "KPA500  OPERATE  |  20m  |  OUT 480W  |  SWR 1.23");
    EXPECT_EQ(st.kpaDetailSecondary, "TEMP 42°C  |  72.5V / 14.2A  |  FAULT 00  |  FW 01.54  |  good");
    EXPECT_EQ(st.katDetailPrimary, "KAT500  AUTO  |  20m  |  ANT2  |  READY  |  SWR 1.18");
    EXPECT_EQ(st.katDetailSecondary, "FWD/REF 812/37  |  MATCH  |  KEY OK  |  FAULT 0  |  FW 02.11  |  ok");
}

TEST(RemoteAgentStateDecoder, ChoosesTheReceiveAndTransmitVFOs)
{
    const RadioSnapshot single = decoded(R"("radio":{"frequency":14.074,"mode":"usb"})").snapshot;
    ASSERT_EQ(single.vfos.size(), 1);
    EXPECT_EQ(single.vfos[0], RadioVFO({.letter = "A",
                                        .frequencyHz = 14074000,
                                        .mode = "USB",
                                        .isReceive = true,
                                        .isTransmit = true}));
    EXPECT_EQ(single.slice, "A");
    EXPECT_EQ(single.transmitSlice, "A");

    const RadioSnapshot filtered = decoded(
        R"("radio":{"vfos":{"a":{"frequency_hz":14074000},"C":{"frequency_hz":21074000},)"
        R"("B":{"frequency_hz":7074000,"in_use":false},"X":{"mode":"CW"}}})").snapshot;
    EXPECT_EQ(letters(filtered), QStringList({"A"}));

    // Nothing marked active: the receive letter is A, yet only B exists.
    const RadioSnapshot onlyB = decoded(R"("radio":{"vfos":{"x":{"index_letter":"b","frequency":7.1}}})").snapshot;
    EXPECT_EQ(letters(onlyB), QStringList({"B"}));
    EXPECT_EQ(onlyB.vfos[0].frequencyHz, 7100000);
    EXPECT_EQ(onlyB.slice, "B");
    EXPECT_FALSE(onlyB.vfos[0].isReceive);

    const RadioSnapshot split = decoded(R"("radio":{"transmit":{"index_letter":"B"},"vfos":{)"
                                        R"("A":{"frequency_hz":14074000},"B":{"frequency_hz":14078000}}})")
                                    .snapshot;
    EXPECT_EQ(split.slice, "A");
    EXPECT_EQ(split.transmitSlice, "B");
    EXPECT_EQ(split.transmitFrequencyHz, 14078000);
    EXPECT_TRUE(split.vfos[0].isReceive);
    EXPECT_FALSE(split.vfos[0].isTransmit);
    EXPECT_TRUE(split.vfos[1].isTransmit);

    const RadioSnapshot active = decoded(R"("radio":{"vfos":{"b":{"frequency_hz":7074000,"active":true},)"
                                         R"("a":{"frequency_hz":14074000}}})")
                                     .snapshot;
    EXPECT_EQ(active.slice, "B");
    EXPECT_EQ(active.frequencyHz, 7074000);
    EXPECT_EQ(active.transmitSlice, "B");
}

TEST(RemoteAgentStateDecoder, RadioWideRITBelongsToTheReceiveVFO)
{
    const RadioSnapshot s = decoded(R"("radio":{"rit_on":true,"rit_freq":-300,"xit_on":true,"xit_freq":40,)"
                                    R"("transmit":{"index_letter":"B"},)"
                                    R"("vfos":{"A":{"frequency_hz":14074000},"B":{"frequency_hz":14078000}}})")
                            .snapshot;
    EXPECT_TRUE(s.vfos[0].ritEnabled);
    EXPECT_EQ(s.vfos[0].ritOffsetHz, -300);
    EXPECT_TRUE(s.vfos[0].xitEnabled);
    EXPECT_FALSE(s.vfos[1].ritEnabled);
    EXPECT_FALSE(s.vfos[1].xitEnabled);
    EXPECT_EQ(s.vfos[1].xitOffsetHz, 0);
}

TEST(RemoteAgentStateDecoder, ConnectedOnlyWhenTheAgentVouchesForEverything)
{
    const QByteArray almost = R"("radio":{"connected":true,"known":true,"station_bound":true})";
    EXPECT_FALSE(decoded(almost).snapshot.isConnected);
    EXPECT_EQ(status(almost).inhibitors.value(0), "Radio state stale");
    EXPECT_TRUE(decoded(R"("radio":{"connected":true,"known":true,"stale":false,"station_bound":true})")
                    .snapshot.isConnected);
}

TEST(RemoteAgentStateDecoder, InhibitorsInTheirOrderWithoutRepeats)
{
    const QByteArray ready = R"("radio":{"connected":true,"known":true,"stale":false,"station_bound":true},)";
    EXPECT_TRUE(
        status(ready + R"("station":{"commissioned":true,"coordinator_state":"SAFE_RX"})").inhibitors.isEmpty());
    EXPECT_EQ(status(ready + R"("station":{"commissioned":true,"coordinator_state":"Armed"})").inhibitors,
              QStringList({"Station coordinator state: armed"}));
    EXPECT_EQ(status(ready + R"("station":{"commissioned":false,"coordinator_state":"armed"})").inhibitors,
              QStringList({"Station not commissioned"}));

    const RemoteStationStatus repeated =
        status(R"("station":{"issues":[{"message":"Radio disconnected"},{"code":"amp_fault"}]},)"
               R"("agent":{"last_error":"amp_fault"})");
    EXPECT_EQ(repeated.inhibitors.value(0), "Radio disconnected");
    EXPECT_EQ(repeated.inhibitors.count("Radio disconnected"), 1);
    EXPECT_EQ(repeated.inhibitors.last(), "amp_fault");
    EXPECT_EQ(repeated.inhibitors.count("amp_fault"), 1);

    EXPECT_EQ(status(ready + R"("agent":{"last_error":"COM17 access denied"},"station":{"commissioned":true,)"
                             R"("coordinator_state":"safe_rx"})")
                  .inhibitors,
              QStringList({"COM17 access denied"}));
}

TEST(RemoteAgentStateDecoder, AlarmsCountTheLargerOfCountAndItems)
{
    const RemoteStationStatus counted = status(R"("station":{"alarms":{"active_count":3}})");
    EXPECT_EQ(counted.alarmSummary, "ALARM 3");
    EXPECT_TRUE(counted.alarmMessages.isEmpty());
    EXPECT_TRUE(counted.inhibitors.contains("Active station alarm"));

    const RemoteStationStatus inactive =
        status(R"("station":{"alarms":{"items":[{"code":"fan","message":"Fan stalled","active":false}]}})");
    EXPECT_EQ(inactive.alarmSummary, "ALARM clear");
    EXPECT_FALSE(inactive.inhibitors.contains("Fan stalled"));

    const RemoteStationStatus unnamed = status(R"("station":{"alarms":{"items":[{}]}})");
    EXPECT_EQ(unnamed.alarmMessages, QStringList({"Active station alarm"}));
    EXPECT_EQ(unnamed.alarmSummary, "ALARM 1");
}

TEST(RemoteAgentStateDecoder, TransmitPowerAndSWR)
{
    const QByteArray amplifier = R"("elecraft":{"kpa500":{"operate":true,"output_power_w":480}})";
    EXPECT_EQ(status(R"("radio":{"mox":true,"drive":49.5},)" + amplifier).txPowerWatts, 480.0);
    EXPECT_EQ(decoded(R"("radio":{"mox":true,"drive":49.5},)" + amplifier).snapshot.rfPowerWatts, 50);
    EXPECT_EQ(status(R"("radio":{"mox":false,"drive":49.5},)" + amplifier).txPowerWatts, 0.0);
    EXPECT_EQ(status(R"("radio":{"mox":true,"drive":35})").txPowerWatts, 35.0);
    EXPECT_EQ(status(R"("radio":{"mox":true})").txPowerWatts, std::nullopt);

    const RemoteStationStatus liveAmp = status(R"("elecraft":{"kpa500":{"swr_live":true},)"
                                               R"("kat500":{"swr_sample":1.4,"swr_valid":true}})");
    EXPECT_EQ(liveAmp.swr, std::nullopt);
    EXPECT_TRUE(liveAmp.swrIsLive);
    const RemoteStationStatus tuner = status(R"("elecraft":{"kpa500":{"swr":2.5},)"
                                             R"("kat500":{"swr_sample":1.4,"swr_valid":true}})");
    EXPECT_EQ(tuner.swr, 1.4);
    EXPECT_TRUE(tuner.swrIsLive);
}

TEST(RemoteAgentStateDecoder, AmplifierAndTunerSummaries)
{
    using namespace RemoteAgentStateDecoder;
    KPADTO kpa;
    kpa.connected = true;
    kpa.fault = QStringLiteral("00");
    kpa.operate = false;
    EXPECT_EQ(kpaSummary(kpa), "KPA STBY");
    kpa.fault = QStringLiteral("E12");
    EXPECT_EQ(kpaSummary(kpa), "KPA FAULT E12");
    kpa.enabled = false;
    EXPECT_EQ(kpaSummary(kpa), "KPA off");
    EXPECT_EQ(kpaSummary(KPADTO{}), "KPA disconnected");

    KATDTO kat;
    kat.connected = true;
    kat.antenna = 2;
    kat.bypass = true;
    EXPECT_EQ(katSummary(kat), "KAT ANT2 BYPASS");
    kat.tuning = true;
    EXPECT_EQ(katSummary(kat), "KAT tuning");
    kat.fault = QStringLiteral("3");
    EXPECT_EQ(katSummary(kat), "KAT FAULT 3");
    KATDTO off;
    off.enabled = false;
    EXPECT_EQ(katSummary(off), "KAT off");

    RouteDTO route;
    route.id = QStringLiteral("beam-east");
    route.flexTXAntenna = QStringLiteral("ANT2");
    EXPECT_EQ(routeSummary(route), "Route beam-east ANT2");
    EXPECT_EQ(routeSummary(RouteDTO{}), "Route unknown");
}

TEST(RemoteAgentStateDecoder, DetailLinesShowDashesForWhatIsMissing)
{
    using namespace RemoteAgentStateDecoder;
    KPADTO kpa;
    kpa.operate = true;
    kpa.band = QStringLiteral("20m");
    kpa.outputPowerW = 500;
    kpa.swr = 1.234;
    EXPECT_EQ(kpaDetailPrimary(kpa), "KPA500  OPERATE  |  20m  |  OUT 500W  |  SWR 1.23");
    EXPECT_EQ(kpaDetailPrimary(KPADTO{}), "KPA500  STBY  |  --  |  OUT --  |  SWR --");
    EXPECT_EQ(kpaDetailSecondary(KPADTO{}), "TEMP --  |  -- / --  |  FAULT --  |  FW --  |  --");
    EXPECT_EQ(katDetailPrimary(KATDTO{}), "KAT500  --  |  --  |  ANT--  |  READY  |  SWR --");
    KATDTO kat;
    kat.bypass = true;
    kat.ampKeyInterrupted = true;
    kat.tuning = true;
    EXPECT_EQ(katDetailSecondary(kat), "FWD/REF --/--  |  BYPASS  |  KEY OPEN  |  FAULT --  |  FW --  |  --");
    EXPECT_EQ(katDetailPrimary(kat), "KAT500  --  |  --  |  ANT--  |  TUNING  |  SWR --");
}

TEST(RemoteAgentStateDecoder, BandFallsBackFromPathToRouteToDevices)
{
    EXPECT_EQ(status(R"("elecraft":{"kat500":{"band":"40m"}})").band, "40m");
    EXPECT_EQ(status(R"("elecraft":{"kpa500":{"band":"20m"},"kat500":{"band":"40m"}})").band, "20m");
    EXPECT_EQ(status(R"("station":{"route":{"band":"15m"}},"elecraft":{"kpa500":{"band":"20m"}})").band, "15m");
    EXPECT_EQ(status(R"("station":{"path":{"route_label":""},"route":{"band":"15m"}})").routeDetail, "");
}
