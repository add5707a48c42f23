#pragma once

// The plain values in which every backend reports the radio's state.

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace kivo {

// What a RadioVFO is made from, by name.
struct RadioVFOFields {
    QString letter{};
    qint64 frequencyHz = 0;
    QString mode{};
    bool isReceive = false;
    bool isTransmit = false;
    bool ritEnabled = false;
    int ritOffsetHz = 0;
    bool xitEnabled = false;
    int xitOffsetHz = 0;

    bool operator==(const RadioVFOFields &) const = default;
};

// One VFO: its fields, the letter and the mode in upper case.
struct RadioVFO : RadioVFOFields {
    RadioVFO() = default;
    // Upper-cases the letter and the mode.
    explicit RadioVFO(RadioVFOFields fields);

    bool operator==(const RadioVFO &) const = default;
};

struct RemoteStationStatus {
    qint64 revision = 0;
    bool radioKnown = false;
    bool radioStale = false;
    bool stationBound = false;
    bool commissioned = false;
    QString coordinatorState;
    QSet<QString> supportedCommands;
    QSet<QString> allowedActions;
    QStringList inhibitors;
    QString kpaSummary;
    std::optional<bool> kpaOperate;
    QString katSummary;
    QString routeSummary;
    QString alarmSummary;
    QStringList alarmMessages;
    QString band;
    QString routeAlignment;
    QString interlockState;
    std::optional<double> txPowerWatts;
    std::optional<double> swr;
    bool swrIsLive = false;
    QString kpaDetailPrimary;
    QString kpaDetailSecondary;
    QString katDetailPrimary;
    QString katDetailSecondary;
    QString routeDetail;

    bool operator==(const RemoteStationStatus &) const = default;
};

// What a RadioSnapshot is made from, by name. Left out, the transmit slice
// is the slice, the transmit frequency the frequency, and the VFO list the
// one receiving VFO those describe.
struct RadioSnapshotFields {
    qint64 frequencyHz = 0;
    QString mode{};
    bool isConnected = false;
    bool isTransmitting = false;
    QString slice{};
    QString station{};
    std::optional<QString> transmitSlice{};
    std::optional<qint64> transmitFrequencyHz{};
    std::optional<QList<RadioVFO>> vfos{};
    std::optional<RemoteStationStatus> remoteStationStatus{};
    std::optional<int> rfPowerWatts{};
    std::optional<QDateTime> agentObservedAt{};
    std::optional<QDateTime> transportReceivedAt{};
};

struct RadioSnapshot {
    qint64 frequencyHz = 0;
    QString mode;
    bool isConnected = false;
    bool isTransmitting = false;
    QString slice;
    QString transmitSlice;
    qint64 transmitFrequencyHz = 0;
    QString station;
    QList<RadioVFO> vfos;
    std::optional<RemoteStationStatus> remoteStationStatus;
    std::optional<int> rfPowerWatts;
    std::optional<QDateTime> agentObservedAt;
    std::optional<QDateTime> transportReceivedAt;

    RadioSnapshot() = default;
    explicit RadioSnapshot(RadioSnapshotFields fields);

    // The first VFO whose letter equals `letter` upper-cased.
    std::optional<RadioVFO> vfo(const QString &letter) const;

    bool operator==(const RadioSnapshot &) const = default;
};

enum class RadioConnectionState { Stopped, Discovering, Authenticating, Connecting, Ready, Retrying, Failed };

inline constexpr std::array<RadioConnectionState, 7> allRadioConnectionStates{
    RadioConnectionState::Stopped, RadioConnectionState::Discovering, RadioConnectionState::Authenticating,
    RadioConnectionState::Connecting, RadioConnectionState::Ready, RadioConnectionState::Retrying,
    RadioConnectionState::Failed};

QString rawValue(RadioConnectionState state);
std::optional<RadioConnectionState> radioConnectionStateFromRaw(const QString &raw);

enum class CATTransmitMode { Microphone, Data, Tune };

enum class RemoteStationAction { Standby, Operate, Tune, Cancel };

inline constexpr std::array<RemoteStationAction, 4> allRemoteStationActions{
    RemoteStationAction::Standby, RemoteStationAction::Operate, RemoteStationAction::Tune,
    RemoteStationAction::Cancel};

QString rawValue(RemoteStationAction action);
std::optional<RemoteStationAction> remoteStationActionFromRaw(const QString &raw);

} // namespace kivo
