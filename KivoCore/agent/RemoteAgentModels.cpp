#include "KivoCore/agent/RemoteAgentModels.h"

#include "KivoCore/support/JsonReader.h"
#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/Text.h"

#include <algorithm>
#include <limits>

namespace kivo {

namespace {

using json::Reader;

DecodingError outOfRange(const Reader &reader, const QString &key)
{
    return DecodingError({.key = reader.pathOf(key), .problem = QStringLiteral("the number is out of range.")});
}

// Megahertz to hertz, halves away from zero; a value beyond 64 bits fails.
std::optional<qint64> resolveFrequency(const Reader &reader, std::optional<qint64> hz, std::optional<double> mhz)
{
    if (hz)
        return hz;
    if (!mhz)
        return std::nullopt;
    const auto rounded = roundedToInt64(*mhz * 1'000'000.0);
    if (!rounded)
        throw outOfRange(reader, QStringLiteral("frequency"));
    return rounded;
}

template <typename T, typename Parse>
std::optional<T> optionalRecord(const Reader &reader, const QString &key, Parse parse)
{
    if (const auto object = reader.optionalObject(key))
        return parse(*object);
    return std::nullopt;
}

template <typename T, typename Parse>
std::optional<QList<T>> optionalRecords(const Reader &reader, const QString &key, Parse parse)
{
    const auto objects = reader.optionalObjectArray(key);
    if (!objects)
        return std::nullopt;
    QList<T> result;
    result.reserve(objects->size());
    for (const Reader &object : *objects)
        result.append(parse(object));
    return result;
}

VFODTO vfoFromJson(const Reader &r)
{
    VFODTO v;
    v.indexLetter = r.optionalString(QStringLiteral("index_letter"));
    v.frequency = r.optionalNumber(QStringLiteral("frequency"));
    v.frequencyHz = r.optionalInteger(QStringLiteral("frequency_hz"));
    v.mode = r.optionalString(QStringLiteral("mode"));
    v.active = r.optionalBool(QStringLiteral("active"));
    v.transmit = r.optionalBool(QStringLiteral("transmit"));
    v.inUse = r.optionalBool(QStringLiteral("in_use"));
    v.ritEnabled = r.optionalBool(QStringLiteral("rit_on"));
    v.ritOffsetHz = r.optionalInt(QStringLiteral("rit_freq"));
    v.xitEnabled = r.optionalBool(QStringLiteral("xit_on"));
    v.xitOffsetHz = r.optionalInt(QStringLiteral("xit_freq"));
    v.resolvedFrequencyHz = resolveFrequency(r, v.frequencyHz, v.frequency);
    return v;
}

RadioDTO radioFromJson(const Reader &r)
{
    RadioDTO d;
    d.connected = r.optionalBool(QStringLiteral("connected"));
    d.known = r.optionalBool(QStringLiteral("known"));
    d.stale = r.optionalBool(QStringLiteral("stale"));
    d.frequency = r.optionalNumber(QStringLiteral("frequency"));
    d.mode = r.optionalString(QStringLiteral("mode"));
    d.mox = r.optionalBool(QStringLiteral("mox"));
    if (const auto vfos = r.optionalObjectMap(QStringLiteral("vfos"))) {
        QMap<QString, VFODTO> parsed;
        for (auto it = vfos->begin(); it != vfos->end(); ++it)
            parsed.insert(it.key(), vfoFromJson(it.value()));
        d.vfos = parsed;
    }
    d.transmit = optionalRecord<VFODTO>(r, QStringLiteral("transmit"), vfoFromJson);
    d.drive = r.optionalNumber(QStringLiteral("drive"));
    d.interlockState = r.optionalString(QStringLiteral("interlock_state"));
    d.stationBound = r.optionalBool(QStringLiteral("station_bound"));
    d.stationName = r.optionalString(QStringLiteral("station_name"));
    d.frequencyHz = r.optionalInteger(QStringLiteral("frequency_hz"));
    d.cwSpeed = r.optionalInt(QStringLiteral("cw_speed"));
    d.activeReceive = optionalRecord<VFODTO>(r, QStringLiteral("active_receive"), vfoFromJson);
    d.ritEnabled = r.optionalBool(QStringLiteral("rit_on"));
    d.ritOffsetHz = r.optionalInt(QStringLiteral("rit_freq"));
    d.xitEnabled = r.optionalBool(QStringLiteral("xit_on"));
    d.xitOffsetHz = r.optionalInt(QStringLiteral("xit_freq"));
    d.updatedAt = r.optionalNumber(QStringLiteral("updated_at"));

    d.resolvedFrequencyHz = resolveFrequency(r, d.frequencyHz, d.frequency);
    if (d.drive) {
        const auto watts = roundedToInt64(*d.drive);
        if (!watts || *watts < std::numeric_limits<int>::min() || *watts > std::numeric_limits<int>::max())
            throw outOfRange(r, QStringLiteral("drive"));
        d.driveWatts = int(*watts);
    }
    if (d.updatedAt) {
        const auto milliseconds = roundedToInt64(*d.updatedAt * 1000.0);
        const QDateTime instant = milliseconds ? QDateTime::fromMSecsSinceEpoch(*milliseconds, Qt::UTC) : QDateTime();
        if (!instant.isValid())
            throw outOfRange(r, QStringLiteral("updated_at"));
        d.observedAt = instant;
    }
    return d;
}

ErrorDTO errorFromJson(const Reader &r)
{
    return {r.optionalString(QStringLiteral("code")), r.optionalString(QStringLiteral("message"))};
}

AlarmDTO alarmFromJson(const Reader &r)
{
    return {r.optionalString(QStringLiteral("code")), r.optionalString(QStringLiteral("severity")),
            r.optionalString(QStringLiteral("message")), r.optionalBool(QStringLiteral("active"))};
}

StationDTO stationFromJson(const Reader &r)
{
    StationDTO s;
    s.commissioned = r.optionalBool(QStringLiteral("commissioned"));
    s.route = optionalRecord<RouteDTO>(r, QStringLiteral("route"), [](const Reader &o) {
        return RouteDTO{o.optionalString(QStringLiteral("id")),
                        o.optionalString(QStringLiteral("band")),
                        o.optionalString(QStringLiteral("flex_tx_ant")),
                        o.optionalInteger(QStringLiteral("kat_antenna")),
                        o.optionalString(QStringLiteral("antenna_name")),
                        o.optionalBool(QStringLiteral("amplifier_allowed")),
                        o.optionalInteger(QStringLiteral("active_drive_w"))};
    });
    s.path = optionalRecord<PathDTO>(r, QStringLiteral("path"), [](const Reader &o) {
        return PathDTO{o.optionalString(QStringLiteral("band")), o.optionalString(QStringLiteral("alignment")),
                       o.optionalString(QStringLiteral("route_label"))};
    });
    s.issues = optionalRecords<IssueDTO>(r, QStringLiteral("issues"), errorFromJson);
    s.alarms = optionalRecord<AlarmsDTO>(r, QStringLiteral("alarms"), [](const Reader &o) {
        return AlarmsDTO{o.optionalInteger(QStringLiteral("active_count")),
                         optionalRecords<AlarmDTO>(o, QStringLiteral("items"), alarmFromJson)};
    });
    s.coordinatorState = r.optionalString(QStringLiteral("coordinator_state"));
    s.allowedActions = r.optionalStringArray(QStringLiteral("allowed_actions"));
    return s;
}

KPADTO kpaFromJson(const Reader &r)
{
    KPADTO k;
    k.enabled = r.optionalBool(QStringLiteral("enabled"));
    k.connected = r.optionalBool(QStringLiteral("connected"));
    k.operate = r.optionalBool(QStringLiteral("operate"));
    k.fault = r.optionalString(QStringLiteral("fault"));
    k.band = r.optionalString(QStringLiteral("band"));
    k.swr = r.optionalNumber(QStringLiteral("swr"));
    k.voltage = r.optionalNumber(QStringLiteral("voltage"));
    k.current = r.optionalNumber(QStringLiteral("current"));
    k.firmware = r.optionalString(QStringLiteral("firmware"));
    k.quality = r.optionalString(QStringLiteral("quality"));
    k.outputPowerW = r.optionalNumber(QStringLiteral("output_power_w"));
    k.swrLive = r.optionalBool(QStringLiteral("swr_live"));
    k.temperatureC = r.optionalNumber(QStringLiteral("temperature_c"));
    return k;
}

KATDTO katFromJson(const Reader &r)
{
    KATDTO k;
    k.enabled = r.optionalBool(QStringLiteral("enabled"));
    k.connected = r.optionalBool(QStringLiteral("connected"));
    k.antenna = r.optionalInteger(QStringLiteral("antenna"));
    k.bypass = r.optionalBool(QStringLiteral("bypass"));
    k.tuning = r.optionalBool(QStringLiteral("tuning"));
    k.fault = r.optionalString(QStringLiteral("fault"));
    k.mode = r.optionalString(QStringLiteral("mode"));
    k.band = r.optionalString(QStringLiteral("band"));
    k.firmware = r.optionalString(QStringLiteral("firmware"));
    k.quality = r.optionalString(QStringLiteral("quality"));
    k.forwardADC = r.optionalNumber(QStringLiteral("forward_adc"));
    k.reflectedADC = r.optionalNumber(QStringLiteral("reflected_adc"));
    k.swrSample = r.optionalNumber(QStringLiteral("swr_sample"));
    k.swrLive = r.optionalBool(QStringLiteral("swr_live"));
    k.swrValid = r.optionalBool(QStringLiteral("swr_valid"));
    k.ampKeyInterrupted = r.optionalBool(QStringLiteral("amp_key_interrupted"));
    return k;
}

std::optional<StateDTO> optionalState(const Reader &r)
{
    return optionalRecord<StateDTO>(r, QStringLiteral("state"), StateDTO::fromJson);
}

} // namespace

StateDTO StateDTO::fromJson(const Reader &r)
{
    StateDTO s;
    s.protocolVersion = r.requiredInteger(QStringLiteral("protocol_version"));
    s.revision = r.requiredInteger(QStringLiteral("revision"));
    s.agent = optionalRecord<AgentDTO>(r, QStringLiteral("agent"), [](const Reader &o) {
        return AgentDTO{o.optionalString(QStringLiteral("last_error"))};
    });
    s.radio = optionalRecord<RadioDTO>(r, QStringLiteral("radio"), radioFromJson);
    s.elecraft = optionalRecord<ElecraftDTO>(r, QStringLiteral("elecraft"), [](const Reader &o) {
        return ElecraftDTO{optionalRecord<KPADTO>(o, QStringLiteral("kpa500"), kpaFromJson),
                           optionalRecord<KATDTO>(o, QStringLiteral("kat500"), katFromJson)};
    });
    s.station = optionalRecord<StationDTO>(r, QStringLiteral("station"), stationFromJson);
    s.capabilities = optionalRecord<CapabilitiesDTO>(r, QStringLiteral("capabilities"), [](const Reader &o) {
        return CapabilitiesDTO{o.optionalStringArray(QStringLiteral("commands"))};
    });
    return s;
}

StateResponse StateResponse::fromJson(const QByteArray &data)
{
    const Reader r = Reader::parse(data);
    StateResponse response;
    response.success = r.requiredBool(QStringLiteral("success"));
    response.state = StateDTO::fromJson(r.requiredObject(QStringLiteral("state")));
    return response;
}

StreamMessage StreamMessage::fromJson(const QByteArray &data)
{
    const Reader r = Reader::parse(data);
    return {r.requiredString(QStringLiteral("type")), optionalState(r)};
}

CommandResponse CommandResponse::fromJson(const QByteArray &data)
{
    const Reader r = Reader::parse(data);
    CommandResponse response;
    response.success = r.requiredBool(QStringLiteral("success"));
    response.state = optionalState(r);
    response.error = optionalRecord<ErrorDTO>(r, QStringLiteral("error"), errorFromJson);
    return response;
}

namespace RemoteAgentStateDecoder {

namespace {

const QString separator = QStringLiteral("  |  ");
const QString absent = QStringLiteral("--");

bool isTrue(const std::optional<bool> &flag)
{
    return flag.value_or(false);
}

bool hasFault(const std::optional<QString> &fault)
{
    return fault && !fault->isEmpty() && *fault != QLatin1String("0") && *fault != QLatin1String("00");
}

QString number(const std::optional<double> &value, int decimals, const QString &unit = {})
{
    return value ? formatFixed(*value, decimals) + unit : absent;
}

QString text(const std::optional<QString> &value)
{
    return value.value_or(absent);
}

QString messageOrCode(const std::optional<QString> &message, const std::optional<QString> &code,
                      const QString &fallback)
{
    if (message)
        return *message;
    if (code)
        return *code;
    return fallback;
}

struct Letters {
    QString receive;
    QString transmit;
};

// The key of the first VFO whose flag is set, upper-cased.
std::optional<QString> flaggedKey(const RadioDTO &radio, std::optional<bool> VFODTO::*flag)
{
    if (!radio.vfos)
        return std::nullopt;
    for (auto it = radio.vfos->begin(); it != radio.vfos->end(); ++it) {
        if (isTrue(it.value().*flag))
            return upperCased(it.key());
    }
    return std::nullopt;
}

Letters lettersOf(const RadioDTO &radio)
{
    Letters letters;
    if (radio.activeReceive && radio.activeReceive->indexLetter)
        letters.receive = upperCased(*radio.activeReceive->indexLetter);
    else
        letters.receive = flaggedKey(radio, &VFODTO::active).value_or(QStringLiteral("A"));
    if (radio.transmit && radio.transmit->indexLetter)
        letters.transmit = upperCased(*radio.transmit->indexLetter);
    else
        letters.transmit = flaggedKey(radio, &VFODTO::transmit).value_or(letters.receive);
    return letters;
}

QList<RadioVFO> vfoList(const RadioDTO &radio, const Letters &letters)
{
    QList<RadioVFO> list;
    if (radio.vfos) {
        for (auto it = radio.vfos->begin(); it != radio.vfos->end(); ++it) {
            const VFODTO &vfo = it.value();
            if (vfo.inUse == false || !vfo.resolvedFrequencyHz)
                continue;
            const QString letter = upperCased(vfo.indexLetter.value_or(it.key()));
            if (letter != QLatin1String("A") && letter != QLatin1String("B"))
                continue;
            // The radio-wide RIT and XIT belong to the receive VFO.
            const bool isRx = letter == letters.receive;
            RadioVFO made;
            made.letter = letter;
            made.frequencyHz = *vfo.resolvedFrequencyHz;
            made.mode = vfo.mode ? upperCased(*vfo.mode) : QStringLiteral("?");
            made.isReceive = isRx;
            made.isTransmit = letter == letters.transmit;
            made.ritEnabled = vfo.ritEnabled.value_or(isRx && isTrue(radio.ritEnabled));
            made.ritOffsetHz = vfo.ritOffsetHz.value_or(isRx ? radio.ritOffsetHz.value_or(0) : 0);
            made.xitEnabled = vfo.xitEnabled.value_or(isRx && isTrue(radio.xitEnabled));
            made.xitOffsetHz = vfo.xitOffsetHz.value_or(isRx ? radio.xitOffsetHz.value_or(0) : 0);
            list.append(made);
        }
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const RadioVFO &a, const RadioVFO &b) { return a.letter < b.letter; });
    if (list.isEmpty() && radio.resolvedFrequencyHz) {
        RadioVFO only;
        only.letter = QStringLiteral("A");
        only.frequencyHz = *radio.resolvedFrequencyHz;
        only.mode = radio.mode ? upperCased(*radio.mode) : QStringLiteral("?");
        only.isReceive = true;
        only.isTransmit = true;
        list.append(only);
    }
    return list;
}

std::optional<RadioVFO> firstWithLetter(const QList<RadioVFO> &list, const QString &letter)
{
    for (const RadioVFO &vfo : list) {
        if (vfo.letter == letter)
            return vfo;
    }
    return std::nullopt;
}

struct Alarms {
    QStringList activeTexts;
    qint64 count = 0;
};

Alarms alarmsOf(const StationDTO &station)
{
    Alarms alarms;
    if (!station.alarms)
        return alarms;
    for (const AlarmDTO &alarm : station.alarms->items.value_or(QList<AlarmDTO>())) {
        if (alarm.active.value_or(true))
            alarms.activeTexts.append(
                messageOrCode(alarm.message, alarm.code, QStringLiteral("Active station alarm")));
    }
    alarms.count = std::max<qint64>(station.alarms->activeCount.value_or(0), alarms.activeTexts.size());
    return alarms;
}

QStringList inhibitorsOf(const StateDTO &state, const RadioDTO &radio, const StationDTO &station,
                         const QString &coordinatorState, const Alarms &alarms)
{
    QStringList list;
    if (!isTrue(radio.connected))
        list << QStringLiteral("Radio disconnected");
    if (!isTrue(radio.known))
        list << QStringLiteral("Radio state unknown");
    if (radio.stale != false)
        list << QStringLiteral("Radio state stale");
    if (!isTrue(radio.stationBound))
        list << QStringLiteral("SmartSDR station unbound");
    if (!isTrue(station.commissioned))
        list << QStringLiteral("Station not commissioned");
    else if (coordinatorState != QLatin1String("safe_rx") && coordinatorState != QLatin1String("route_verified"))
        list << QStringLiteral("Station coordinator state: ") + coordinatorState;
    for (const IssueDTO &issue : station.issues.value_or(QList<IssueDTO>()))
        list << messageOrCode(issue.message, issue.code, QStringLiteral("Station blocker"));
    list << alarms.activeTexts;
    if (alarms.count >= 1 && alarms.activeTexts.isEmpty())
        list << QStringLiteral("Active station alarm");
    if (state.agent && state.agent->lastError && !state.agent->lastError->isEmpty())
        list << *state.agent->lastError;
    list.removeDuplicates();
    return list;
}

} // namespace

RemoteAgentDecodedState decode(const StateDTO &state, const QDateTime &receivedAt)
{
    if (state.protocolVersion != 1)
        throw KivoError::server(QStringLiteral("Remote Agent protocol version %1 is not supported.")
                                    .arg(state.protocolVersion));

    const RadioDTO radio = state.radio.value_or(RadioDTO());
    const StationDTO station = state.station.value_or(StationDTO());
    const std::optional<KPADTO> kpa = state.elecraft ? state.elecraft->kpa500 : std::nullopt;
    const std::optional<KATDTO> kat = state.elecraft ? state.elecraft->kat500 : std::nullopt;

    const Letters letters = lettersOf(radio);
    const QList<RadioVFO> vfos = vfoList(radio, letters);
    std::optional<RadioVFO> rx = firstWithLetter(vfos, letters.receive);
    if (!rx)
        rx = firstWithLetter(vfos, QStringLiteral("A"));
    if (!rx && !vfos.isEmpty())
        rx = vfos.first();
    std::optional<RadioVFO> tx = firstWithLetter(vfos, letters.transmit);
    if (!tx)
        tx = rx;

    RadioSnapshot snapshot;
    snapshot.frequencyHz = rx ? rx->frequencyHz : radio.resolvedFrequencyHz.value_or(0);
    snapshot.mode = rx ? rx->mode : radio.mode.value_or(QStringLiteral("?"));
    snapshot.isConnected =
        isTrue(radio.connected) && isTrue(radio.known) && radio.stale == false && isTrue(radio.stationBound);
    snapshot.isTransmitting = isTrue(radio.mox);
    snapshot.slice = rx ? rx->letter : letters.receive;
    snapshot.transmitSlice = tx ? tx->letter : letters.transmit;
    snapshot.transmitFrequencyHz = tx ? tx->frequencyHz : radio.resolvedFrequencyHz.value_or(0);
    snapshot.station = radio.stationName.value_or(QStringLiteral("Remote Agent"));
    snapshot.vfos = vfos;
    snapshot.rfPowerWatts = radio.driveWatts;
    snapshot.agentObservedAt = radio.observedAt;
    snapshot.transportReceivedAt = receivedAt;

    const QString coordinatorState = station.coordinatorState.value_or(QStringLiteral("unknown")).toLower();
    const Alarms alarms = alarmsOf(station);
    const auto commands = state.capabilities ? state.capabilities->commands : std::nullopt;
    const auto actions = station.allowedActions.value_or(QStringList());

    RemoteStationStatus status;
    status.revision = state.revision;
    status.radioKnown = isTrue(radio.known);
    status.radioStale = radio.stale != false;
    status.stationBound = isTrue(radio.stationBound);
    status.commissioned = isTrue(station.commissioned);
    status.coordinatorState = coordinatorState;
    status.supportedCommands = commands ? QSet<QString>(commands->begin(), commands->end()) : QSet<QString>();
    status.allowedActions = QSet<QString>(actions.begin(), actions.end());
    status.inhibitors = inhibitorsOf(state, radio, station, coordinatorState, alarms);
    status.kpaSummary = kpaSummary(kpa);
    status.kpaOperate = kpa ? kpa->operate : std::nullopt;
    status.katSummary = katSummary(kat);
    status.routeSummary = routeSummary(station.route);
    status.alarmSummary =
        alarms.count == 0 ? QStringLiteral("ALARM clear") : QStringLiteral("ALARM %1").arg(alarms.count);
    status.alarmMessages = alarms.activeTexts;

    const auto path = station.path;
    if (path && path->band)
        status.band = *path->band;
    else if (station.route && station.route->band)
        status.band = *station.route->band;
    else if (kpa && kpa->band)
        status.band = *kpa->band;
    else if (kat && kat->band)
        status.band = *kat->band;
    else
        status.band = absent;
    status.routeAlignment = path && path->alignment ? *path->alignment : QStringLiteral("unknown");
    status.interlockState = radio.interlockState.value_or(absent);

    if (!isTrue(radio.mox))
        status.txPowerWatts = 0.0;
    else if (kpa && isTrue(kpa->operate) && kpa->outputPowerW)
        status.txPowerWatts = kpa->outputPowerW;
    else
        status.txPowerWatts = radio.drive;

    if (kpa && isTrue(kpa->swrLive)) {
        status.swr = kpa->swr;
        status.swrIsLive = true;
    } else if (kat) {
        status.swr = kat->swrSample;
        status.swrIsLive = isTrue(kat->swrValid) || isTrue(kat->swrLive);
    }

    status.kpaDetailPrimary = kpaDetailPrimary(kpa);
    status.kpaDetailSecondary = kpaDetailSecondary(kpa);
    status.katDetailPrimary = katDetailPrimary(kat);
    status.katDetailSecondary = katDetailSecondary(kat);
    status.routeDetail = path && path->routeLabel ? *path->routeLabel : routeSummary(station.route);
    snapshot.remoteStationStatus = status;

    return {snapshot, radio.cwSpeed.value_or(25)};
}

RemoteAgentDecodedState stateResponse(const QByteArray &data, const QDateTime &receivedAt)
{
    const StateResponse response = StateResponse::fromJson(data);
    if (!response.success)
        throw KivoError::server(QStringLiteral("Remote Agent rejected the state request."));
    return decode(response.state, receivedAt);
}

QString kpaSummary(const std::optional<KPADTO> &kpa)
{
    if (!kpa)
        return QStringLiteral("KPA unknown");
    if (kpa->enabled == false)
        return QStringLiteral("KPA off");
    if (!isTrue(kpa->connected))
        return QStringLiteral("KPA disconnected");
    if (hasFault(kpa->fault))
        return QStringLiteral("KPA FAULT ") + *kpa->fault;
    return isTrue(kpa->operate) ? QStringLiteral("KPA OPERATE") : QStringLiteral("KPA STBY");
}

QString katSummary(const std::optional<KATDTO> &kat)
{
    if (!kat)
        return QStringLiteral("KAT unknown");
    if (kat->enabled == false)
        return QStringLiteral("KAT off");
    if (!isTrue(kat->connected))
        return QStringLiteral("KAT disconnected");
    if (hasFault(kat->fault))
        return QStringLiteral("KAT FAULT ") + *kat->fault;
    if (isTrue(kat->tuning))
        return QStringLiteral("KAT tuning");
    QString summary = QStringLiteral("KAT");
    if (kat->antenna)
        summary += QStringLiteral(" ANT%1").arg(*kat->antenna);
    if (isTrue(kat->bypass))
        summary += QStringLiteral(" BYPASS");
    return summary;
}

QString routeSummary(const std::optional<RouteDTO> &route)
{
    if (!route)
        return QStringLiteral("Route unknown");
    QString summary = QStringLiteral("Route ") + route->band.value_or(route->id.value_or(QStringLiteral("unknown")));
    const QString antenna = route->antennaName.value_or(route->flexTXAntenna.value_or(QString()));
    if (!antenna.isEmpty())
        summary += QLatin1Char(' ') + antenna;
    return summary;
}

QString kpaDetailPrimary(const std::optional<KPADTO> &kpa)
{
    if (!kpa)
        return QStringLiteral("KPA500 --");
    return QStringLiteral("KPA500  ") + (isTrue(kpa->operate) ? QStringLiteral("OPERATE") : QStringLiteral("STBY"))
           + separator + text(kpa->band) + separator + QStringLiteral("OUT ")
           + number(kpa->outputPowerW, 0, QStringLiteral("W")) + separator + QStringLiteral("SWR ")
           + number(kpa->swr, 2);
}

QString kpaDetailSecondary(const std::optional<KPADTO> &kpa)
{
    if (!kpa)
        return QStringLiteral("Telemetry unavailable");
    return QStringLiteral("TEMP ") + number(kpa->temperatureC, 0, QStringLiteral("°C")) + separator
           + number(kpa->voltage, 1, QStringLiteral("V")) + QStringLiteral(" / ")
           + number(kpa->current, 1, QStringLiteral("A")) + separator + QStringLiteral("FAULT ") + text(kpa->fault)
           + separator + QStringLiteral("FW ") + text(kpa->firmware) + separator + text(kpa->quality);
}

QString katDetailPrimary(const std::optional<KATDTO> &kat)
{
    if (!kat)
        return QStringLiteral("KAT500 --");
    const QString antenna = kat->antenna ? QString::number(*kat->antenna) : absent;
    return QStringLiteral("KAT500  ") + (kat->mode ? upperCased(*kat->mode) : absent) + separator + text(kat->band)
           + separator + QStringLiteral("ANT") + antenna + separator
           + (isTrue(kat->tuning) ? QStringLiteral("TUNING") : QStringLiteral("READY")) + separator
           + QStringLiteral("SWR ") + number(kat->swrSample, 2);
}

QString katDetailSecondary(const std::optional<KATDTO> &kat)
{
    if (!kat)
        return QStringLiteral("Telemetry unavailable");
    return QStringLiteral("FWD/REF ") + number(kat->forwardADC, 0) + QLatin1Char('/') + number(kat->reflectedADC, 0)
           + separator + (isTrue(kat->bypass) ? QStringLiteral("BYPASS") : QStringLiteral("MATCH")) + separator
           + (isTrue(kat->ampKeyInterrupted) ? QStringLiteral("KEY OPEN") : QStringLiteral("KEY OK")) + separator
           + QStringLiteral("FAULT ") + text(kat->fault) + separator + QStringLiteral("FW ") + text(kat->firmware)
           + separator + text(kat->quality);
}

} // namespace RemoteAgentStateDecoder

} // namespace kivo
