#include "KivoCore/station/RotatorDatagram.h"

#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/Numbers.h"
#include "KivoCore/station/RotatorGeometry.h"
#include "KivoCore/support/Text.h"
#include "KivoCore/support/XmlLeafFields.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QRegularExpression>
#include <QStringList>
#include <charconv>
#include <cmath>
#include <initializer_list>

namespace kivo {

namespace {
using FieldTable = QHash<QString, QString>;

QString numberText(double value)
{
    // Whole numbers as integers ("1"), others in their shortest form ("123.5").
    if (std::trunc(value) == value && std::abs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (error != std::errc())
        return QString();
    return QString::fromLatin1(buffer, end - buffer);
}

QString jsonText(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double:
        return numberText(value.toDouble());
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    default:
        // A null counts as no value.
        return QString();
    }
}

std::optional<FieldTable> jsonFields(const QByteArray &data)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    FieldTable fields;
    const QJsonObject object = document.object();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it)
        fields.insert(it.key().toLower(), jsonText(it.value()));
    return fields;
}

QString trimmedBlanksAndTabs(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto isBlank = [&text](qsizetype i) { return text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t'); };
    while (begin < end && isBlank(begin))
        ++begin;
    while (end > begin && isBlank(end - 1))
        --end;
    return text.mid(begin, end - begin).toString();
}

// Splits once at the first "=" that has text before it; empty parts are
// dropped, so "=a=b" gives a and b, "a==b" gives a and =b.
QList<QStringView> splitOnceAtEquals(QStringView piece)
{
    QList<QStringView> parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i < piece.size(); ++i) {
        if (piece.at(i) != QLatin1Char('='))
            continue;
        if (i > start) {
            parts.append(piece.mid(start, i - start));
            start = i + 1;
            break;
        }
        start = i + 1;
    }
    if (start < piece.size())
        parts.append(piece.mid(start));
    return parts;
}

FieldTable textFields(const QByteArray &data)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(data);
    if (decoder.hasError())
        throw KivoError::server(QStringLiteral("RUMlog sent an unreadable rotator datagram."));
    FieldTable fields;
    static const QRegularExpression separators(QStringLiteral("[;,\\n]"));
    for (const QStringView piece : QStringView(text).split(separators, Qt::SkipEmptyParts)) {
        const auto parts = splitOnceAtEquals(piece);
        if (parts.size() != 2)
            continue;
        fields.insert(trimmedBlanksAndTabs(parts.at(0)).toLower(), trimmedBlanksAndTabs(parts.at(1)));
    }
    return fields;
}

QString firstValue(const FieldTable &fields, std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        const QString value = fields.value(QLatin1String(name));
        if (!value.isEmpty())
            return value;
    }
    return QString();
}

// Present only when it reads as a number within 0...360; 360 folds to 0.
std::optional<double> bearing(const FieldTable &fields, std::initializer_list<const char *> names)
{
    QString text = firstValue(fields, names);
    text.remove(QChar(0x00B0));
    const auto value = parseDecimal(trimmed(text));
    if (!value || !std::isfinite(*value) || *value < 0 || *value > 360)
        return std::nullopt;
    return std::fmod(*value, 360.0);
}

RUMlogRotatorUpdate update(const FieldTable &fields)
{
    RUMlogRotatorUpdate result;
    result.callsign = upperCased(firstValue(fields, {"shownstation", "dxcall", "callsign", "call", "stationcall"}));
    result.countryCode = upperCased(firstValue(fields, {"showndxcc", "dxcc"}));
    result.grid = upperCased(firstValue(
        fields, {"shownstationlocation", "showndxcclocation", "dxgrid", "grid", "gridsquare", "locator"}));
    result.band = firstValue(fields, {"currentband", "band", "bandname"}).toLower();
    result.countryBearing =
        bearing(fields, {"hdgtodxcc", "headingtocountry", "countrybearing", "dxccbearing", "bearing"});
    result.stationBearing = bearing(fields, {"hdgtostation", "headingtostation", "stationbearing"});
    result.commandedBearing = bearing(fields, {"rotorcommand", "rotorazimuth", "azimuth", "heading"});
    if (!result.countryBearing && !result.stationBearing && !result.commandedBearing
        && !MaidenheadLocator::coordinate(result.grid))
        throw KivoError::server(QStringLiteral("RUMlog rotator datagram has no bearing or valid grid."));
    return result;
}
} // namespace

QString RUMlogRotatorUpdate::stableLabel(const QString &previous, std::optional<double> previousBearing,
                                         double targetBearing, const QString &fallback) const
{
    if (!callsign.isEmpty())
        return callsign;
    if (!previous.isEmpty() && previousBearing
        && std::abs(RotatorGeometry::shortestDifference(*previousBearing, targetBearing)) <= 1.0)
        return previous;
    return countryCode.isEmpty() ? fallback : countryCode;
}

RUMlogRotatorUpdate RUMlogRotatorParser::parse(const QByteArray &data)
{
    // A JSON object decides on its own, even without a bearing or grid.
    if (const auto fields = jsonFields(data))
        return update(*fields);
    const XmlLeafFields document = readXmlLeafFields(data, XmlAttributes::Collected);
    if (document.wellFormed && !document.fields.isEmpty())
        return update(document.fields);
    return update(textFields(data));
}

} // namespace kivo
