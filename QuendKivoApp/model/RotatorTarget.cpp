#include "QuendKivoApp/model/RotatorTarget.h"

#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/Text.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

namespace kivo {

namespace {

const QChar degreeSign(0x00B0);

bool isLineBreak(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'\n' || u == 0x0B || u == 0x0C || u == u'\r' || u == 0x85 || u == 0x2028 || u == 0x2029;
}

QStringList nonEmptyLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isLineBreak(text.at(i)))
            continue;
        if (i > start)
            lines.append(text.mid(start, i - start));
        start = i + 1;
    }
    return lines;
}

// Leading commas are skipped, the rest is cut at the next comma only.
QStringList callGridPieces(const QString &line)
{
    qsizetype start = 0;
    while (start < line.size() && line.at(start) == QLatin1Char(','))
        ++start;
    if (start == line.size())
        return {};
    const qsizetype comma = line.indexOf(QLatin1Char(','), start);
    if (comma < 0)
        return {trimmed(line.mid(start))};
    QStringList pieces{trimmed(line.mid(start, comma - start))};
    if (comma + 1 < line.size())
        pieces.append(trimmed(line.mid(comma + 1)));
    return pieces;
}

std::optional<GeoCoordinate> mapPointAlong(const std::optional<GeoCoordinate> &home, double bearing)
{
    if (!home)
        return std::nullopt;
    return RotatorGeometry::destination(*home, bearing, rotatorMapPointKilometers);
}

} // namespace

QString formattedBearing(double bearing)
{
    QString digits = formatFixed(RotatorGeometry::normalized(bearing), 0);
    return digits.rightJustified(3, QLatin1Char('0')) + degreeSign;
}

QString motionDirection(std::optional<double> azimuth, double bearing)
{
    if (!azimuth)
        return {};
    return RotatorGeometry::shortestDifference(*azimuth, bearing) >= 0 ? QStringLiteral("CW")
                                                                       : QStringLiteral("CCW");
}

QString turningStatus(std::optional<double> current, double target)
{
    if (!current)
        return QStringLiteral("Turning to ") + formattedBearing(target);
    return QStringLiteral("Turning ") + motionDirection(current, target) + QStringLiteral(" \u00B7 ") +
           formattedBearing(*current) + QStringLiteral(" \u2192 ") + formattedBearing(target);
}

std::optional<GeoCoordinate> homePoint(const QString &homeGrid)
{
    return MaidenheadLocator::coordinate(homeGrid);
}

std::optional<QString> gridForCall(const QString &fileText, const QString &callsign)
{
    std::optional<QString> grid;
    for (const QString &line : nonEmptyLines(fileText)) {
        const QStringList pieces = callGridPieces(line);
        if (pieces.size() == 2 && upperCased(pieces.at(0)) == callsign)
            grid = pieces.at(1);
    }
    return grid;
}

std::optional<QString> readCallGridFile(const QString &path, const QString &homeDirectory)
{
    QString expanded = path;
    if (expanded == QLatin1String("~") || expanded.startsWith(QLatin1String("~/")))
        expanded = homeDirectory + expanded.mid(1);
    QFile file(expanded);
    if (expanded.isEmpty() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(file.readAll());
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

RotatorTargetResolution resolveRotatorTarget(const QString &input, const QString &homeGrid,
                                             const std::optional<QString> &gridFileText)
{
    using Kind = RotatorTargetResolution::Kind;
    RotatorTargetResolution result;
    const QString text = trimmed(input);
    if (text.isEmpty()) {
        result.source = QStringLiteral("Enter a bearing, grid, or call");
        return result;
    }

    const std::optional<GeoCoordinate> home = homePoint(homeGrid);
    QString number = text;
    number.remove(degreeSign);
    if (const std::optional<double> bearing = parseDecimal(number); bearing && *bearing >= 0 && *bearing <= 360) {
        result.kind = Kind::Bearing;
        result.bearing = RotatorGeometry::normalized(*bearing);
        result.label = QStringLiteral("Manual");
        result.source = QStringLiteral("Direct bearing");
        result.coordinate = mapPointAlong(home, *result.bearing);
        return result;
    }

    const auto aimAt = [&](const GeoCoordinate &point) {
        result.bearing = RotatorGeometry::normalized(RotatorGeometry::initialBearing(*home, point));
        result.coordinate = point;
        result.distanceKilometers = RotatorGeometry::distanceKilometers(*home, point);
    };
    if (const std::optional<GeoCoordinate> grid = MaidenheadLocator::coordinate(text); grid && home) {
        result.kind = Kind::Grid;
        result.label = upperCased(text);
        result.source = QStringLiteral("Maidenhead grid");
        aimAt(*grid);
        return result;
    }

    const QString callsign = upperCased(text);
    result.label = callsign;
    if (gridFileText && home) {
        if (const std::optional<QString> gridText = gridForCall(*gridFileText, callsign)) {
            if (const std::optional<GeoCoordinate> grid = MaidenheadLocator::coordinate(*gridText)) {
                result.kind = Kind::Call;
                result.source = QStringLiteral("Call grid ") + upperCased(*gridText);
                aimAt(*grid);
                return result;
            }
        }
    }
    result.kind = Kind::NotFound;
    result.source = QStringLiteral("Call not found in the configured grid database");
    return result;
}

} // namespace kivo
