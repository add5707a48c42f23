#include "KivoCore/Rotator.h"

#include "KivoCore/JsonFields.h"
#include "KivoCore/Text.h"

#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>

namespace kivo {

QString rawValue(RotatorAutomaticSource source)
{
    return source == RotatorAutomaticSource::Country ? QStringLiteral("DXCC") : QStringLiteral("Station");
}

std::optional<RotatorAutomaticSource> rotatorAutomaticSourceFromRaw(const QString &raw)
{
    for (auto source : allRotatorAutomaticSources) {
        if (rawValue(source) == raw)
            return source;
    }
    return std::nullopt;
}

RotatorConfiguration::RotatorConfiguration(bool enabled, const QString &name, const QString &host, quint16 port,
                                           int pollIntervalMilliseconds, bool connectAtLaunch,
                                           const QString &homeGrid, quint16 rumlogPort,
                                           RotatorAutomaticSource automaticSource, bool automaticTurningEnabled,
                                           int minimumAutomaticTurnDegrees, QSet<QString> enabledBands,
                                           QHash<QString, int> bandOffsets, QSet<QString> bidirectionalBands,
                                           int beamWidthDegrees, const QString &callsignDatabasePath)
    : enabled(enabled), name(name), host(host), port(port),
      pollIntervalMilliseconds(std::clamp(pollIntervalMilliseconds, 100, 5000)), connectAtLaunch(connectAtLaunch),
      homeGrid(upperCased(homeGrid)), rumlogPort(rumlogPort), automaticSource(automaticSource),
      automaticTurningEnabled(automaticTurningEnabled),
      minimumAutomaticTurnDegrees(std::clamp(minimumAutomaticTurnDegrees, 0, 180)),
      enabledBands(std::move(enabledBands)), bandOffsets(std::move(bandOffsets)),
      bidirectionalBands(std::move(bidirectionalBands)), beamWidthDegrees(std::clamp(beamWidthDegrees, 1, 90)),
      callsignDatabasePath(callsignDatabasePath)
{
}

const QStringList &RotatorConfiguration::supportedBands()
{
    static const QStringList bands{
        QStringLiteral("160m"), QStringLiteral("80m"), QStringLiteral("60m"), QStringLiteral("40m"),
        QStringLiteral("30m"),  QStringLiteral("20m"), QStringLiteral("17m"), QStringLiteral("15m"),
        QStringLiteral("12m"),  QStringLiteral("10m"), QStringLiteral("6m"),  QStringLiteral("4m"),
        QStringLiteral("2m"),   QStringLiteral("70cm"), QStringLiteral("Other")};
    return bands;
}

namespace {
QJsonArray sortedArray(const QSet<QString> &set)
{
    QStringList values(set.begin(), set.end());
    values.sort();
    return QJsonArray::fromStringList(values);
}

QSet<QString> stringSet(const QJsonValue &value, const QString &key)
{
    QSet<QString> result;
    for (const auto &element : json::toArray(value, key))
        result.insert(json::toString(element, key));
    return result;
}
} // namespace

QJsonValue RotatorConfiguration::toJson() const
{
    QJsonObject offsets;
    for (auto it = bandOffsets.constBegin(); it != bandOffsets.constEnd(); ++it)
        offsets.insert(it.key(), it.value());
    return QJsonObject{
        {QStringLiteral("enabled"), enabled},
        {QStringLiteral("name"), name},
        {QStringLiteral("host"), host},
        {QStringLiteral("port"), port},
        {QStringLiteral("pollIntervalMilliseconds"), pollIntervalMilliseconds},
        {QStringLiteral("connectAtLaunch"), connectAtLaunch},
        {QStringLiteral("homeGrid"), homeGrid},
        {QStringLiteral("rumlogPort"), rumlogPort},
        {QStringLiteral("automaticSource"), rawValue(automaticSource)},
        {QStringLiteral("automaticTurningEnabled"), automaticTurningEnabled},
        {QStringLiteral("minimumAutomaticTurnDegrees"), minimumAutomaticTurnDegrees},
        {QStringLiteral("enabledBands"), sortedArray(enabledBands)},
        {QStringLiteral("bandOffsets"), offsets},
        {QStringLiteral("bidirectionalBands"), sortedArray(bidirectionalBands)},
        {QStringLiteral("beamWidthDegrees"), beamWidthDegrees},
        {QStringLiteral("callsignDatabasePath"), callsignDatabasePath},
    };
}

RotatorConfiguration RotatorConfiguration::fromJson(const QJsonValue &value)
{
    const QJsonObject object = json::toObject(value, QStringLiteral("rotator"));
    auto member = [&object](const char *key) { return json::required(object, QLatin1String(key)); };
    RotatorConfiguration result;
    result.enabled = json::toBool(member("enabled"), QStringLiteral("enabled"));
    result.name = json::toString(member("name"), QStringLiteral("name"));
    result.host = json::toString(member("host"), QStringLiteral("host"));
    result.port = json::toPort(member("port"), QStringLiteral("port"));
    result.pollIntervalMilliseconds = json::toInt(member("pollIntervalMilliseconds"),
                                                  QStringLiteral("pollIntervalMilliseconds"));
    result.connectAtLaunch = json::toBool(member("connectAtLaunch"), QStringLiteral("connectAtLaunch"));
    result.homeGrid = json::toString(member("homeGrid"), QStringLiteral("homeGrid"));
    result.rumlogPort = json::toPort(member("rumlogPort"), QStringLiteral("rumlogPort"));
    const QString source = json::toString(member("automaticSource"), QStringLiteral("automaticSource"));
    const auto parsedSource = rotatorAutomaticSourceFromRaw(source);
    if (!parsedSource)
        throw DecodingError(QStringLiteral("automaticSource"), QStringLiteral("unknown source \"%1\".").arg(source));
    result.automaticSource = *parsedSource;
    result.automaticTurningEnabled =
        json::toBool(member("automaticTurningEnabled"), QStringLiteral("automaticTurningEnabled"));
    result.minimumAutomaticTurnDegrees =
        json::toInt(member("minimumAutomaticTurnDegrees"), QStringLiteral("minimumAutomaticTurnDegrees"));
    result.enabledBands = stringSet(member("enabledBands"), QStringLiteral("enabledBands"));
    const QJsonObject offsets = json::toObject(member("bandOffsets"), QStringLiteral("bandOffsets"));
    for (auto it = offsets.constBegin(); it != offsets.constEnd(); ++it)
        result.bandOffsets.insert(it.key(), json::toInt(it.value(), QStringLiteral("bandOffsets")));
    result.bidirectionalBands = stringSet(member("bidirectionalBands"), QStringLiteral("bidirectionalBands"));
    result.beamWidthDegrees = json::toInt(member("beamWidthDegrees"), QStringLiteral("beamWidthDegrees"));
    result.callsignDatabasePath =
        json::toString(member("callsignDatabasePath"), QStringLiteral("callsignDatabasePath"));
    return result;
}

} // namespace kivo
