#pragma once

// The application model's pure rules, free of Qt objects so tests call them
// directly.

#include "QuendKivoApp/model/AppConfiguration.h"
#include "KivoCore/radio/Models.h"

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace kivo {

// One frequency-change timing sample of the agent backend.
struct TelemetryTiming {
    qint64 frequencyHz = 0;
    QDateTime receivedAt;
    std::optional<qint64> transportMilliseconds;
    // Ordered by surface name, as the summary lists them.
    QMap<QString, qint64> renderMilliseconds;
    bool operator==(const TelemetryTiming &) const = default;
};

// One line per VFO, A then B: "VFO A · RX+TX · 14.074 MHz DIGU".
QString radioStatusText(const RadioSnapshot &snapshot);

// "Agent→App 42 ms · App→Monitor 120 ms · App→Status 80 ms".
QString latencySummary(const TelemetryTiming &timing);

// Whole milliseconds from `from` to `to`, truncated, never negative; nothing
// when the difference is absurd (invalid stamps, beyond a year).
std::optional<qint64> elapsedMilliseconds(const QDateTime &from, const QDateTime &to);

// Stations actions need a running, connected agent advertising the command;
// operate and tune also need transmit permission.
bool remoteActionPermitted(RemoteStationAction action, bool isRunning, bool isRadioConnected,
                           const std::optional<RemoteStationStatus> &status, bool allowCATTransmit);

std::optional<RemoteStationAction> amplifierToggle(const std::optional<RemoteStationStatus> &status);

// The events log line: local "HH:mm:ss", two blanks, the message.
QString eventLine(const QDateTime &at, const QString &message);

// Legacy supervision launches at most once per interval (monotonic time).
inline constexpr std::chrono::milliseconds legacyLaunchInterval{5000};
bool legacyLaunchDue(std::optional<std::chrono::milliseconds> lastLaunch, std::chrono::milliseconds now);

// Program and arguments of the configured command; empty when none.
QStringList legacyLaunchArguments(const QString &command);
// The configured process name, else the base name of the command's program.
QString legacyProcessName(const QString &command, const QString &configuredName);
// Whether a /proc entry is the program `name`: its `comm` (the name cut to
// 15 bytes), or the base name of the first or second `cmdline` word (a
// script under its interpreter, a Windows program under wine).
bool processMatches(const QString &name, const QByteArray &comm, const QByteArray &cmdline);

} // namespace kivo
