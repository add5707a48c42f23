#include "KivoCore/station/Rotator.h"
#include "KivoCore/support/RawValue.h"

#include "KivoCore/support/JsonFields.h"
#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/PropertyList.h"
#include "KivoCore/support/Text.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QVariantMap>
#include <algorithm>
#include <cmath>
#include <limits>

namespace kivo {

QString rawValue(RotatorAutomaticSource source)
{
    return source == RotatorAutomaticSource::Country ? QStringLiteral("DXCC") : QStringLiteral("Station");
}

std::optional<RotatorAutomaticSource> rotatorAutomaticSourceFromRaw(const QString &raw)
{
    return caseFromRaw(allRotatorAutomaticSources, raw);
}

RotatorConfiguration::RotatorConfiguration()
    : RotatorConfiguration(RotatorConfigurationFields())
{
}

RotatorConfiguration::RotatorConfiguration(RotatorConfigurationFields fields)
    : RotatorConfigurationFields(std::move(fields))
{
    pollIntervalMilliseconds = std::clamp(pollIntervalMilliseconds, 100, 5000);
    homeGrid = upperCased(homeGrid);
    minimumAutomaticTurnDegrees = std::clamp(minimumAutomaticTurnDegrees, 0, 180);
    beamWidthDegrees = std::clamp(beamWidthDegrees, 1, 90);
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
    result.port = json::toPort(member("port"), QStringLiteral("rotator.port"));
    result.pollIntervalMilliseconds = json::toInt(member("pollIntervalMilliseconds"),
                                                  QStringLiteral("pollIntervalMilliseconds"));
    result.connectAtLaunch = json::toBool(member("connectAtLaunch"), QStringLiteral("connectAtLaunch"));
    result.homeGrid = json::toString(member("homeGrid"), QStringLiteral("homeGrid"));
    result.rumlogPort = json::toPort(member("rumlogPort"), QStringLiteral("rumlogPort"));
    const QString source = json::toString(member("automaticSource"), QStringLiteral("automaticSource"));
    const auto parsedSource = rotatorAutomaticSourceFromRaw(source);
    if (!parsedSource)
        throw DecodingError({.key = QStringLiteral("automaticSource"),
                             .problem = QStringLiteral("unknown source \"%1\".").arg(source)});
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

namespace {
const QString rotorLibrary = QStringLiteral("Library/Containers/de.felsbach.Rotor/Data/Library/");

// A boolean itself, or a number other than zero.
bool rotorFlag(const QVariantMap &settings, const QString &key)
{
    const QVariant value = settings.value(key);
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::LongLong:
        return value.toLongLong() != 0;
    case QMetaType::Double:
        return value.toDouble() != 0;
    default:
        return false;
    }
}

// An integer itself, or a real cut toward zero when it fits 64 bits.
std::optional<qint64> rotorInteger(const QVariantMap &settings, const QString &key)
{
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::LongLong)
        return value.toLongLong();
    if (value.typeId() == QMetaType::Double) {
        // Checked in floating point so 1e300 or nan never reaches the conversion.
        const double cut = std::trunc(value.toDouble());
        if (cut >= -9223372036854775808.0 && cut < 9223372036854775808.0)
            return static_cast<qint64>(cut);
    }
    return std::nullopt;
}

std::optional<QString> rotorString(const QVariantMap &settings, const QString &key)
{
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return std::nullopt;
}

quint16 rotorPort(const QVariantMap &settings, const QString &key, quint16 fallback)
{
    const auto value = rotorInteger(settings, key);
    // A port that can never work is refused like a missing one, as a stored one would be.
    if (!value || *value < json::lowestPort || *value > 65535)
        return fallback;
    return static_cast<quint16>(*value);
}

int rotorPollInterval(const QVariantMap &settings)
{
    constexpr int minimum = 100;
    constexpr int maximum = 5000;
    const QVariant value = settings.value(QStringLiteral("PollRateIdx"));
    switch (value.typeId()) {
    case QMetaType::LongLong:
        return static_cast<int>(std::clamp<qint64>(value.toLongLong(), minimum, maximum));
    case QMetaType::Double: {
        const double number = value.toDouble();
        if (std::isnan(number))
            return minimum;
        return static_cast<int>(std::clamp<double>(number, minimum, maximum));
    }
    case QMetaType::QString: {
        // "250 ms" is 250: every character but the digits goes.
        QString digits;
        for (QChar c : value.toString()) {
            if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                digits.append(c);
        }
        const auto parsed = parseStrictInteger(digits);
        if (!parsed)
            return minimum;
        return static_cast<int>(std::clamp<qint64>(*parsed, minimum, maximum));
    }
    default:
        return minimum;
    }
}
} // namespace

std::optional<RotatorConfiguration> RotatorConfiguration::importedRotorConfiguration(const QString &homeDirectory)
{
    const QDir home(homeDirectory);
    const auto primary = readPropertyListDictionary(
        home.filePath(rotorLibrary + QStringLiteral("Preferences/de.felsbach.Rotor_0.plist")));
    if (!primary)
        return std::nullopt;
    const auto rotorType = rotorString(*primary, QStringLiteral("RotorType"));
    if (!rotorType || upperCased(*rotorType) != QStringLiteral("DCU-1"))
        return std::nullopt;
    // The second file only supplies the home grid.
    const QVariantMap secondary =
        readPropertyListDictionary(home.filePath(rotorLibrary + QStringLiteral("Preferences/de.felsbach.Rotor.plist")))
            .value_or(QVariantMap());

    QSet<QString> enabledBands;
    QSet<QString> bidirectionalBands;
    QHash<QString, int> bandOffsets;
    const QStringList &bands = supportedBands();
    for (qsizetype index = 0; index < bands.size(); ++index) {
        const QString number = QString::number(index + 1);
        const QString &band = bands.at(index);
        if (rotorFlag(*primary, QStringLiteral("AutoRotate_") + number))
            enabledBands.insert(band);
        if (rotorFlag(*primary, QStringLiteral("Bidirectional_") + number))
            bidirectionalBands.insert(band);
        // An offset that does not fit our integers counts as no offset.
        const auto offset = rotorInteger(*primary, QStringLiteral("OffsetIdx_") + number);
        if (offset && *offset != 0 && *offset >= std::numeric_limits<int>::min()
            && *offset <= std::numeric_limits<int>::max())
            bandOffsets.insert(band, static_cast<int>(*offset));
    }

    const bool useStation = rotorFlag(*primary, QStringLiteral("UseLogStnForAuto"));
    return RotatorConfiguration({
        .enabled = true,
        .name = rotorString(*primary, QStringLiteral("RotorIdentifier")).value_or(QStringLiteral("Rotor")),
        .host = rotorString(*primary, QStringLiteral("tcpAddressAz")).value_or(QString()),
        .port = rotorPort(*primary, QStringLiteral("tcpPortAz"), 4001),
        .pollIntervalMilliseconds = rotorPollInterval(*primary),
        .connectAtLaunch = rotorFlag(*primary, QStringLiteral("AutoConnect")),
        .homeGrid = rotorString(secondary, QStringLiteral("MyLocator")).value_or(QString()),
        .rumlogPort = rotorPort(*primary, QStringLiteral("LogUdpPort"), 12064),
        .automaticSource = useStation ? RotatorAutomaticSource::Station : RotatorAutomaticSource::Country,
        .automaticTurningEnabled = false,
        .minimumAutomaticTurnDegrees = 0,
        .enabledBands = std::move(enabledBands),
        .bandOffsets = std::move(bandOffsets),
        .bidirectionalBands = std::move(bidirectionalBands),
        .beamWidthDegrees = 5,
        .callsignDatabasePath =
            home.filePath(rotorLibrary + QStringLiteral("Application Support/de.felsbach.Rotor/grids.txt")),
    });
}

} // namespace kivo
