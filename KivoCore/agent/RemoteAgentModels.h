#pragma once

// The agent's state document and its envelopes, read strictly (a present
// value of the wrong type fails the whole document), and the decoder that
// turns one document into a radio snapshot with its station status.

#include "KivoCore/radio/Models.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace kivo {

namespace json {
class Reader;
}

struct AgentDTO {
    std::optional<QString> lastError;
};

struct CapabilitiesDTO {
    std::optional<QStringList> commands;
};

struct VFODTO {
    std::optional<QString> indexLetter;
    std::optional<double> frequency;
    std::optional<qint64> frequencyHz;
    std::optional<QString> mode;
    std::optional<bool> active;
    std::optional<bool> transmit;
    std::optional<bool> inUse;
    std::optional<bool> ritEnabled;
    std::optional<int> ritOffsetHz;
    std::optional<bool> xitEnabled;
    std::optional<int> xitOffsetHz;

    // "frequency_hz", else "frequency" in MHz rounded to hertz.
    std::optional<qint64> resolvedFrequencyHz;
};

struct RadioDTO {
    std::optional<bool> connected;
    std::optional<bool> known;
    std::optional<bool> stale;
    std::optional<double> frequency;
    std::optional<QString> mode;
    std::optional<bool> mox;
    // Keyed by the VFO's name in the document.
    std::optional<QMap<QString, VFODTO>> vfos;
    std::optional<VFODTO> transmit;
    std::optional<double> drive;
    std::optional<QString> interlockState;
    std::optional<bool> stationBound;
    std::optional<QString> stationName;
    std::optional<qint64> frequencyHz;
    std::optional<int> cwSpeed;
    std::optional<VFODTO> activeReceive;
    std::optional<bool> ritEnabled;
    std::optional<int> ritOffsetHz;
    std::optional<bool> xitEnabled;
    std::optional<int> xitOffsetHz;
    std::optional<double> updatedAt;

    std::optional<qint64> resolvedFrequencyHz;
    // "drive" rounded to whole watts, and "updated_at" as an instant.
    std::optional<int> driveWatts;
    std::optional<QDateTime> observedAt;
};

struct RouteDTO {
    std::optional<QString> id;
    std::optional<QString> band;
    std::optional<QString> flexTXAntenna;
    std::optional<qint64> katAntenna;
    std::optional<QString> antennaName;
    std::optional<bool> amplifierAllowed;
    std::optional<qint64> activeDriveW;
};

struct PathDTO {
    std::optional<QString> band;
    std::optional<QString> alignment;
    std::optional<QString> routeLabel;
};

// Also the shape of an issue in "station"."issues".
struct ErrorDTO {
    std::optional<QString> code;
    std::optional<QString> message;
};
using IssueDTO = ErrorDTO;

struct AlarmDTO {
    std::optional<QString> code;
    std::optional<QString> severity;
    std::optional<QString> message;
    std::optional<bool> active;
};

struct AlarmsDTO {
    std::optional<qint64> activeCount;
    std::optional<QList<AlarmDTO>> items;
};

struct StationDTO {
    std::optional<bool> commissioned;
    std::optional<RouteDTO> route;
    std::optional<PathDTO> path;
    std::optional<QList<IssueDTO>> issues;
    std::optional<AlarmsDTO> alarms;
    std::optional<QString> coordinatorState;
    std::optional<QStringList> allowedActions;
};

struct KPADTO {
    std::optional<bool> enabled;
    std::optional<bool> connected;
    std::optional<bool> operate;
    std::optional<QString> fault;
    std::optional<QString> band;
    std::optional<double> swr;
    std::optional<double> voltage;
    std::optional<double> current;
    std::optional<QString> firmware;
    std::optional<QString> quality;
    std::optional<double> outputPowerW;
    std::optional<bool> swrLive;
    std::optional<double> temperatureC;
};

struct KATDTO {
    std::optional<bool> enabled;
    std::optional<bool> connected;
    std::optional<qint64> antenna;
    std::optional<bool> bypass;
    std::optional<bool> tuning;
    std::optional<QString> fault;
    std::optional<QString> mode;
    std::optional<QString> band;
    std::optional<QString> firmware;
    std::optional<QString> quality;
    std::optional<double> forwardADC;
    std::optional<double> reflectedADC;
    std::optional<double> swrSample;
    std::optional<bool> swrLive;
    std::optional<bool> swrValid;
    std::optional<bool> ampKeyInterrupted;
};

struct ElecraftDTO {
    std::optional<KPADTO> kpa500;
    std::optional<KATDTO> kat500;
};

struct StateDTO {
    // Both kept exact, whatever the agent counts up to.
    qint64 protocolVersion = 0;
    qint64 revision = 0;
    std::optional<AgentDTO> agent;
    std::optional<RadioDTO> radio;
    std::optional<ElecraftDTO> elecraft;
    std::optional<StationDTO> station;
    std::optional<CapabilitiesDTO> capabilities;

    // Throws DecodingError on a missing required key or a wrong type, and on
    // a number that does not fit what the system makes of it (a frequency of
    // 1e300 MHz, a drive of 1e300 W).
    static StateDTO fromJson(const json::Reader &reader);
};

// The body of GET /api/v1/state.
struct StateResponse {
    bool success = false;
    StateDTO state;

    static StateResponse fromJson(const QByteArray &data);
};

// One message of the WebSocket state stream.
struct StreamMessage {
    QString type;
    std::optional<StateDTO> state;

    static StreamMessage fromJson(const QByteArray &data);
};

// The body of POST /api/v1/commands.
struct CommandResponse {
    bool success = false;
    std::optional<StateDTO> state;
    std::optional<ErrorDTO> error;

    static CommandResponse fromJson(const QByteArray &data);
};

struct RemoteAgentDecodedState {
    RadioSnapshot snapshot;
    int cwSpeed = 25;

    bool operator==(const RemoteAgentDecodedState &) const = default;
};

namespace RemoteAgentStateDecoder {

// Throws KivoError for a protocol version other than 1; nothing else fails.
RemoteAgentDecodedState decode(const StateDTO &state, const QDateTime &receivedAt);

// Reads a state response: decoding errors pass through, "success" false is
// rejected.
RemoteAgentDecodedState stateResponse(const QByteArray &data, const QDateTime &receivedAt);

QString kpaSummary(const std::optional<KPADTO> &kpa);
QString katSummary(const std::optional<KATDTO> &kat);
QString routeSummary(const std::optional<RouteDTO> &route);
QString kpaDetailPrimary(const std::optional<KPADTO> &kpa);
QString kpaDetailSecondary(const std::optional<KPADTO> &kpa);
QString katDetailPrimary(const std::optional<KATDTO> &kat);
QString katDetailSecondary(const std::optional<KATDTO> &kat);

} // namespace RemoteAgentStateDecoder

} // namespace kivo
