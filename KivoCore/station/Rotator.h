#pragma once

// Rotator settings. Geometry, the RUMlog datagram parser and the DCU-1
// client live beside this record.

#include <QHash>
#include <QJsonValue>
#include <QSet>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace kivo {

enum class RotatorAutomaticSource { Country, Station };

inline constexpr std::array<RotatorAutomaticSource, 2> allRotatorAutomaticSources{RotatorAutomaticSource::Country,
                                                                                 RotatorAutomaticSource::Station};
QString rawValue(RotatorAutomaticSource source);
std::optional<RotatorAutomaticSource> rotatorAutomaticSourceFromRaw(const QString &raw);

// What a RotatorConfiguration is made from, by name; left out, a member has
// the value of a fresh configuration.
struct RotatorConfigurationFields {
    bool enabled = true;
    QString name = QStringLiteral("Rotor");
    QString host{};
    quint16 port = 4001;
    int pollIntervalMilliseconds = 100;
    bool connectAtLaunch = true;
    QString homeGrid{};
    quint16 rumlogPort = 12064;
    RotatorAutomaticSource automaticSource = RotatorAutomaticSource::Country;
    bool automaticTurningEnabled = false;
    int minimumAutomaticTurnDegrees = 0;
    QSet<QString> enabledBands{};
    QHash<QString, int> bandOffsets{};
    QSet<QString> bidirectionalBands{};
    int beamWidthDegrees = 5;
    QString callsignDatabasePath{};

    bool operator==(const RotatorConfigurationFields &) const = default;
};

// The rotator settings: its fields, normalised by every constructor.
struct RotatorConfiguration : RotatorConfigurationFields {
    // A fresh configuration.
    RotatorConfiguration();
    // Upper-cases the home grid and clamps the poll interval (100...5000),
    // the minimum turn (0...180) and the beam width (1...90).
    explicit RotatorConfiguration(RotatorConfigurationFields fields);

    // "160m" ... "70cm", "Other": position + 1 is the outside Rotor program's band number.
    static const QStringList &supportedBands();

    // The settings of the outside Rotor program, read from its preference
    // files under the given home directory; nothing when it is not set up
    // for a DCU-1 controller. Reads only, reports nothing.
    static std::optional<RotatorConfiguration> importedRotorConfiguration(const QString &homeDirectory);

    bool operator==(const RotatorConfiguration &) const = default;

    QJsonValue toJson() const;
    // Requires all sixteen members, stores them unchanged; throws DecodingError.
    static RotatorConfiguration fromJson(const QJsonValue &value);
};

} // namespace kivo
