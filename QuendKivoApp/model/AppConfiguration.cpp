#include "QuendKivoApp/model/AppConfiguration.h"

#include "KivoCore/support/JsonFields.h"
#include "QuendKivoApp/model/ConnectionKindDescriptor.h"

namespace kivo {

QString rawValue(AppConfiguration::ConnectionKind kind) { return descriptorOf(kind).name; }

std::optional<AppConfiguration::ConnectionKind> connectionKindFromRaw(const QString &raw)
{
    for (const ConnectionKindDescriptor &descriptor : connectionKindDescriptors()) {
        if (descriptor.name == raw)
            return descriptor.kind;
    }
    return std::nullopt;
}

AppConfiguration AppConfiguration::firstRun()
{
    AppConfiguration configuration;
    configuration.connectionKind = ConnectionKind::Simulator;
    configuration.catPort = 15002;
    configuration.rigCtlPort = 14532;
    return configuration;
}

QJsonObject AppConfiguration::toJson() const
{
    return QJsonObject{
        {QStringLiteral("connectionKind"), rawValue(connectionKind)},
        {QStringLiteral("radioHost"), radioHost},
        {QStringLiteral("radioPort"), radioPort},
        {QStringLiteral("stationName"), stationName},
        {QStringLiteral("sliceLetter"), sliceLetter},
        {QStringLiteral("smartLinkEmail"), smartLinkEmail},
        {QStringLiteral("smartLinkRadioSerial"), smartLinkRadioSerial},
        {QStringLiteral("remoteAgentBaseURL"), remoteAgentBaseURL},
        {QStringLiteral("catPort"), catPort},
        {QStringLiteral("rigCtlPort"), rigCtlPort},
        {QStringLiteral("legacyKIVOHost"), legacyKIVOHost},
        {QStringLiteral("legacyKIVOPort"), legacyKIVOPort},
        {QStringLiteral("superviseLegacyKIVO"), superviseLegacyKIVO},
        {QStringLiteral("legacyKIVOLaunchCommand"), legacyKIVOLaunchCommand},
        {QStringLiteral("legacyKIVOProcessName"), legacyKIVOProcessName},
        {QStringLiteral("allowCATTransmit"), allowCATTransmit},
        {QStringLiteral("launchServersAutomatically"), launchServersAutomatically},
        {QStringLiteral("spotBridge"), spotBridge.toJson()},
        {QStringLiteral("rotator"), rotator.toJson()},
    };
}

AppConfiguration AppConfiguration::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        throw DecodingError({.key = QStringLiteral("configuration"), .problem = QStringLiteral("expected an object.")});
    const QJsonObject object = value.toObject();
    AppConfiguration c; // the decoding defaults
    auto string = [&object](const char *key, QString &field) {
        field = json::valueOr(object, QLatin1String(key), field, json::toString);
    };
    auto port = [&object](const char *key, quint16 &field) {
        field = json::valueOr(object, QLatin1String(key), field, json::toPort);
    };
    auto flag = [&object](const char *key, bool &field) {
        field = json::valueOr(object, QLatin1String(key), field, json::toBool);
    };

    const QJsonValue kind = object.value(QStringLiteral("connectionKind"));
    if (!json::isAbsent(kind)) {
        const QString raw = json::toString(kind, QStringLiteral("connectionKind"));
        const auto parsed = connectionKindFromRaw(raw);
        if (!parsed)
            throw DecodingError({.key = QStringLiteral("connectionKind"),
                                 .problem = QStringLiteral("unknown connection kind \"%1\".").arg(raw)});
        c.connectionKind = *parsed;
    }
    string("radioHost", c.radioHost);
    port("radioPort", c.radioPort);
    string("stationName", c.stationName);
    string("sliceLetter", c.sliceLetter);
    string("smartLinkEmail", c.smartLinkEmail);
    string("smartLinkRadioSerial", c.smartLinkRadioSerial);
    string("remoteAgentBaseURL", c.remoteAgentBaseURL);
    port("catPort", c.catPort);
    port("rigCtlPort", c.rigCtlPort);
    string("legacyKIVOHost", c.legacyKIVOHost);
    port("legacyKIVOPort", c.legacyKIVOPort);
    flag("superviseLegacyKIVO", c.superviseLegacyKIVO);
    string("legacyKIVOLaunchCommand", c.legacyKIVOLaunchCommand);
    string("legacyKIVOProcessName", c.legacyKIVOProcessName);
    flag("allowCATTransmit", c.allowCATTransmit);
    flag("launchServersAutomatically", c.launchServersAutomatically);
    const QJsonValue spotBridge = object.value(QStringLiteral("spotBridge"));
    if (!json::isAbsent(spotBridge))
        c.spotBridge = SpotBridgeConfiguration::fromJson(spotBridge);
    const QJsonValue rotator = object.value(QStringLiteral("rotator"));
    if (!json::isAbsent(rotator))
        c.rotator = RotatorConfiguration::fromJson(rotator);
    return c;
}

} // namespace kivo
