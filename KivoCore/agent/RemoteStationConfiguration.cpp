#include "KivoCore/agent/RemoteStationConfiguration.h"

#include "KivoCore/support/JsonReader.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace kivo {

namespace {

using json::Reader;

Reader objectAt(const QJsonValue &value, const QString &path)
{
    return Reader(json::toObject(value, path), path);
}

// Typed members are written over the unknown ones, so an unknown member can
// never shadow a field this program owns.
QJsonObject merged(QJsonObject unknownMembers, const QJsonObject &typed)
{
    for (auto it = typed.begin(); it != typed.end(); ++it)
        unknownMembers.insert(it.key(), it.value());
    return unknownMembers;
}

template <typename Map>
QJsonObject objectOf(const Map &map)
{
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

template <typename T>
QMap<QString, T> everyBand(const T &value)
{
    QMap<QString, T> map;
    for (const QString &band : RemoteStationConfiguration::bands())
        map.insert(band, value);
    return map;
}

RemoteSerialDeviceConfiguration serialDevice(const QString &port)
{
    RemoteSerialDeviceConfiguration device;
    device.enabled = true;
    device.port = port;
    device.baudrate = 38400;
    return device;
}

} // namespace

bool RemoteFlexConfiguration::operator==(const RemoteFlexConfiguration &o) const
{
    return model == o.model && host == o.host && port == o.port && sliceID == o.sliceID
           && stationName == o.stationName;
}

QJsonObject RemoteFlexConfiguration::toJson() const
{
    return merged(unknownMembers, {
                                      {QStringLiteral("model"), model},
                                      {QStringLiteral("host"), host},
                                      {QStringLiteral("port"), port},
                                      {QStringLiteral("slice_id"), sliceID},
                                      {QStringLiteral("station_name"), stationName},
                                  });
}

RemoteFlexConfiguration RemoteFlexConfiguration::fromJson(const QJsonValue &value, const QString &path)
{
    const Reader r = objectAt(value, path);
    RemoteFlexConfiguration c;
    c.model = r.requiredString(QStringLiteral("model"));
    c.host = r.requiredString(QStringLiteral("host"));
    c.port = r.requiredInteger(QStringLiteral("port"));
    c.sliceID = r.requiredInteger(QStringLiteral("slice_id"));
    c.stationName = r.requiredString(QStringLiteral("station_name"));
    // What the typed fields write is exactly what they own.
    c.unknownMembers = r.membersExcept(c.toJson().keys());
    return c;
}

bool RemoteSerialDeviceConfiguration::operator==(const RemoteSerialDeviceConfiguration &o) const
{
    return enabled == o.enabled && port == o.port && baudrate == o.baudrate;
}

QJsonObject RemoteSerialDeviceConfiguration::toJson() const
{
    return merged(unknownMembers, {
                                      {QStringLiteral("enabled"), enabled},
                                      {QStringLiteral("port"), port},
                                      {QStringLiteral("baudrate"), baudrate},
                                  });
}

RemoteSerialDeviceConfiguration RemoteSerialDeviceConfiguration::fromJson(const QJsonValue &value,
                                                                          const QString &path)
{
    const Reader r = objectAt(value, path);
    RemoteSerialDeviceConfiguration c;
    c.enabled = r.requiredBool(QStringLiteral("enabled"));
    c.port = r.requiredString(QStringLiteral("port"));
    c.baudrate = r.requiredInteger(QStringLiteral("baudrate"));
    c.unknownMembers = r.membersExcept(c.toJson().keys());
    return c;
}

bool RemoteFlexAntennaPolicy::operator==(const RemoteFlexAntennaPolicy &o) const
{
    return enabled == o.enabled && bands == o.bands;
}

QJsonObject RemoteFlexAntennaPolicy::toJson() const
{
    return merged(unknownMembers, {
                                      {QStringLiteral("enabled"), enabled},
                                      {QStringLiteral("bands"), objectOf(bands)},
                                  });
}

RemoteFlexAntennaPolicy RemoteFlexAntennaPolicy::fromJson(const QJsonValue &value, const QString &path)
{
    const Reader r = objectAt(value, path);
    RemoteFlexAntennaPolicy p;
    p.enabled = r.requiredBool(QStringLiteral("enabled"));
    p.bands = r.requiredStringMap(QStringLiteral("bands"));
    p.unknownMembers = r.membersExcept(p.toJson().keys());
    return p;
}

const RemoteStationPolicy &RemoteStationPolicy::placeholder()
{
    static const RemoteStationPolicy policy = [] {
        RemoteStationPolicy p;
        p.followRadio = true;
        p.digitalKPAPolicy = QStringLiteral("operate");
        p.flexAntenna.enabled = true;
        p.flexAntenna.bands = everyBand(QStringLiteral("ANT1"));
        p.katAntenna = everyBand<qint64>(1);
        p.katAntennaNames = {{QStringLiteral("1"), QStringLiteral("KAT ANT1")},
                             {QStringLiteral("2"), QStringLiteral("KAT ANT2")},
                             {QStringLiteral("3"), QStringLiteral("KAT ANT3")}};
        p.amplifierDriveW = everyBand<qint64>(25);
        p.barefootDriveW = everyBand<qint64>(25);
        p.digitalAmplifierDriveW = everyBand<qint64>(25);
        p.tunePowerW = 25;
        p.tuneTargetSWR = 1.5;
        p.tuneAbortSWR = 3.0;
        p.tuneTimeoutSeconds = 30.0;
        return p;
    }();
    return policy;
}

bool RemoteStationPolicy::operator==(const RemoteStationPolicy &o) const
{
    return followRadio == o.followRadio && digitalKPAPolicy == o.digitalKPAPolicy && flexAntenna == o.flexAntenna
           && katAntenna == o.katAntenna && katAntennaNames == o.katAntennaNames
           && amplifierAllowedBands == o.amplifierAllowedBands && amplifierDriveW == o.amplifierDriveW
           && barefootDriveW == o.barefootDriveW && digitalAmplifierAllowedBands == o.digitalAmplifierAllowedBands
           && digitalAmplifierDriveW == o.digitalAmplifierDriveW && tunePowerW == o.tunePowerW
           && tuneTargetSWR == o.tuneTargetSWR && tuneAbortSWR == o.tuneAbortSWR
           && tuneTimeoutSeconds == o.tuneTimeoutSeconds;
}

QJsonObject RemoteStationPolicy::toJson() const
{
    return merged(unknownMembers,
                  {
                      {QStringLiteral("follow_radio"), followRadio},
                      {QStringLiteral("digital_kpa_policy"), digitalKPAPolicy},
                      {QStringLiteral("flex_antenna"), flexAntenna.toJson()},
                      {QStringLiteral("kat_antenna"), objectOf(katAntenna)},
                      {QStringLiteral("kat_antenna_names"), objectOf(katAntennaNames)},
                      {QStringLiteral("amplifier_allowed_bands"), QJsonArray::fromStringList(amplifierAllowedBands)},
                      {QStringLiteral("amplifier_drive_w"), objectOf(amplifierDriveW)},
                      {QStringLiteral("barefoot_drive_w"), objectOf(barefootDriveW)},
                      {QStringLiteral("digital_amplifier_allowed_bands"),
                       QJsonArray::fromStringList(digitalAmplifierAllowedBands)},
                      {QStringLiteral("digital_amplifier_drive_w"), objectOf(digitalAmplifierDriveW)},
                      {QStringLiteral("tune_power_w"), tunePowerW},
                      {QStringLiteral("tune_target_swr"), tuneTargetSWR},
                      {QStringLiteral("tune_abort_swr"), tuneAbortSWR},
                      {QStringLiteral("tune_timeout_seconds"), tuneTimeoutSeconds},
                  });
}

RemoteStationPolicy RemoteStationPolicy::fromJson(const QJsonValue &value, const QString &path)
{
    const Reader r = objectAt(value, path);
    RemoteStationPolicy p;
    p.followRadio = r.requiredBool(QStringLiteral("follow_radio"));
    p.digitalKPAPolicy = r.requiredString(QStringLiteral("digital_kpa_policy"));
    p.flexAntenna = RemoteFlexAntennaPolicy::fromJson(r.requiredValue(QStringLiteral("flex_antenna")),
                                                      r.pathOf(QStringLiteral("flex_antenna")));
    p.katAntenna = r.requiredIntegerMap(QStringLiteral("kat_antenna"));
    p.katAntennaNames = r.requiredStringMap(QStringLiteral("kat_antenna_names"));
    p.amplifierAllowedBands = r.requiredStringArray(QStringLiteral("amplifier_allowed_bands"));
    p.amplifierDriveW = r.requiredIntegerMap(QStringLiteral("amplifier_drive_w"));
    p.barefootDriveW = r.requiredIntegerMap(QStringLiteral("barefoot_drive_w"));
    p.digitalAmplifierAllowedBands = r.requiredStringArray(QStringLiteral("digital_amplifier_allowed_bands"));
    p.digitalAmplifierDriveW = r.requiredIntegerMap(QStringLiteral("digital_amplifier_drive_w"));
    p.tunePowerW = r.requiredInteger(QStringLiteral("tune_power_w"));
    p.tuneTargetSWR = r.requiredNumber(QStringLiteral("tune_target_swr"));
    p.tuneAbortSWR = r.requiredNumber(QStringLiteral("tune_abort_swr"));
    p.tuneTimeoutSeconds = r.requiredNumber(QStringLiteral("tune_timeout_seconds"));
    p.unknownMembers = r.membersExcept(p.toJson().keys());
    return p;
}

const QStringList &RemoteStationConfiguration::bands()
{
    static const QStringList names{
        QStringLiteral("160m"), QStringLiteral("80m"), QStringLiteral("60m"), QStringLiteral("40m"),
        QStringLiteral("30m"),  QStringLiteral("20m"), QStringLiteral("17m"), QStringLiteral("15m"),
        QStringLiteral("12m"),  QStringLiteral("10m"), QStringLiteral("6m"),
    };
    return names;
}

const RemoteStationConfiguration &RemoteStationConfiguration::placeholder()
{
    static const RemoteStationConfiguration configuration = [] {
        RemoteStationConfiguration c;
        c.schemaVersion = 1;
        c.flex.model = QStringLiteral("FLEX-8400");
        c.flex.port = 4992;
        c.flex.sliceID = 0;
        c.flex.stationName = QStringLiteral("Maestro");
        c.kpa500 = serialDevice(QStringLiteral("COM17"));
        c.kat500 = serialDevice(QStringLiteral("COM15"));
        c.commissioned = false;
        c.policy = RemoteStationPolicy::placeholder();
        return c;
    }();
    return configuration;
}

bool RemoteStationConfiguration::operator==(const RemoteStationConfiguration &o) const
{
    return schemaVersion == o.schemaVersion && flex == o.flex && kpa500 == o.kpa500 && kat500 == o.kat500
           && commissioned == o.commissioned && policy == o.policy;
}

QJsonObject RemoteStationConfiguration::toJson() const
{
    return merged(unknownMembers, {
                                      {QStringLiteral("schema_version"), schemaVersion},
                                      {QStringLiteral("flex"), flex.toJson()},
                                      {QStringLiteral("kpa500"), kpa500.toJson()},
                                      {QStringLiteral("kat500"), kat500.toJson()},
                                      {QStringLiteral("commissioned"), commissioned},
                                      {QStringLiteral("policy"), policy.toJson()},
                                  });
}

RemoteStationConfiguration RemoteStationConfiguration::fromJson(const QJsonValue &value, const QString &path)
{
    const Reader r = objectAt(value, path);
    const auto member = [&r](const char *key) { return r.requiredValue(QLatin1String(key)); };
    RemoteStationConfiguration c;
    c.schemaVersion = r.requiredInteger(QStringLiteral("schema_version"));
    c.flex = RemoteFlexConfiguration::fromJson(member("flex"), r.pathOf(QStringLiteral("flex")));
    c.kpa500 = RemoteSerialDeviceConfiguration::fromJson(member("kpa500"), r.pathOf(QStringLiteral("kpa500")));
    c.kat500 = RemoteSerialDeviceConfiguration::fromJson(member("kat500"), r.pathOf(QStringLiteral("kat500")));
    c.commissioned = r.requiredBool(QStringLiteral("commissioned"));
    c.policy = RemoteStationPolicy::fromJson(member("policy"), r.pathOf(QStringLiteral("policy")));
    c.unknownMembers = r.membersExcept(c.toJson().keys());
    return c;
}

RemoteConfigResponse RemoteConfigResponse::fromJson(const QByteArray &data)
{
    const Reader r = Reader::parse(data);
    RemoteConfigResponse response;
    response.success = r.requiredBool(QStringLiteral("success"));
    response.config = RemoteStationConfiguration::fromJson(r.requiredValue(QStringLiteral("config")));
    response.restartRequired = r.optionalBool(QStringLiteral("restart_required"));
    return response;
}

QByteArray RemoteConfigUpdateRequest::toJson() const
{
    return QJsonDocument(QJsonObject{{QStringLiteral("config"), config.toJson()}}).toJson(QJsonDocument::Compact);
}

} // namespace kivo
