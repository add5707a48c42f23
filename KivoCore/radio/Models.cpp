#include "KivoCore/radio/Models.h"
#include "KivoCore/support/RawValue.h"

#include "KivoCore/support/Text.h"

namespace kivo {

RadioVFO::RadioVFO(RadioVFOFields fields) : RadioVFOFields(std::move(fields))
{
    letter = upperCased(letter);
    mode = upperCased(mode);
}

RadioSnapshot::RadioSnapshot(RadioSnapshotFields fields)
    : frequencyHz(fields.frequencyHz), mode(fields.mode), isConnected(fields.isConnected),
      isTransmitting(fields.isTransmitting), slice(fields.slice),
      transmitSlice(fields.transmitSlice.value_or(fields.slice)),
      transmitFrequencyHz(fields.transmitFrequencyHz.value_or(fields.frequencyHz)), station(fields.station),
      remoteStationStatus(std::move(fields.remoteStationStatus)), rfPowerWatts(fields.rfPowerWatts),
      agentObservedAt(std::move(fields.agentObservedAt)), transportReceivedAt(std::move(fields.transportReceivedAt))
{
    if (fields.vfos) {
        vfos = std::move(*fields.vfos);
    } else {
        const bool transmits = upperCased(transmitSlice) == upperCased(slice);
        vfos = {RadioVFO({.letter = slice,
                          .frequencyHz = frequencyHz,
                          .mode = mode,
                          .isReceive = true,
                          .isTransmit = transmits})};
    }
}

std::optional<RadioVFO> RadioSnapshot::vfo(const QString &letter) const
{
    const QString wanted = upperCased(letter);
    for (const auto &candidate : vfos) {
        if (candidate.letter == wanted)
            return candidate;
    }
    return std::nullopt;
}

QString rawValue(RadioConnectionState state)
{
    switch (state) {
    case RadioConnectionState::Stopped: return QStringLiteral("stopped");
    case RadioConnectionState::Discovering: return QStringLiteral("discovering");
    case RadioConnectionState::Authenticating: return QStringLiteral("authenticating");
    case RadioConnectionState::Connecting: return QStringLiteral("connecting");
    case RadioConnectionState::Ready: return QStringLiteral("ready");
    case RadioConnectionState::Retrying: return QStringLiteral("retrying");
    case RadioConnectionState::Failed: return QStringLiteral("failed");
    }
    return {};
}

std::optional<RadioConnectionState> radioConnectionStateFromRaw(const QString &raw)
{
    return caseFromRaw(allRadioConnectionStates, raw);
}

QString rawValue(RemoteStationAction action)
{
    switch (action) {
    case RemoteStationAction::Standby: return QStringLiteral("standby");
    case RemoteStationAction::Operate: return QStringLiteral("operate");
    case RemoteStationAction::Tune: return QStringLiteral("tune");
    case RemoteStationAction::Cancel: return QStringLiteral("cancel");
    }
    return {};
}

std::optional<RemoteStationAction> remoteStationActionFromRaw(const QString &raw)
{
    return caseFromRaw(allRemoteStationActions, raw);
}

} // namespace kivo
