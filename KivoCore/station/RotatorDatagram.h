#pragma once

// RUMlog's rotator datagrams: the station being worked and the bearings to it.

#include <QByteArray>
#include <QString>
#include <optional>

namespace kivo {

struct RUMlogRotatorUpdate {
    QString callsign;    // upper case, may be empty
    QString countryCode; // upper case, may be empty
    QString grid;        // upper case, may be empty
    QString band;        // lower case, may be empty
    std::optional<double> countryBearing;   // 0 up to 360
    std::optional<double> stationBearing;   // 0 up to 360
    std::optional<double> commandedBearing; // 0 up to 360

    bool operator==(const RUMlogRotatorUpdate &) const = default;

    // The target's label: the call sign; else the previous label while the
    // bearing stays within a degree of it; else the country, else `fallback`.
    QString stableLabel(const QString &previous, std::optional<double> previousBearing, double targetBearing,
                        const QString &fallback) const;
};

namespace RUMlogRotatorParser {
// Accepts a JSON object, an XML document (elements and attributes) or
// key=value text. Throws KivoError: "RUMlog sent an unreadable rotator
// datagram." or "RUMlog rotator datagram has no bearing or valid grid.".
RUMlogRotatorUpdate parse(const QByteArray &data);
} // namespace RUMlogRotatorParser

} // namespace kivo
