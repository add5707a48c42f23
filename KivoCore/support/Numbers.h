#pragma once

// Every number on the wire, in a file or in JSON goes through these helpers,
// never through the user's locale (a German desktop writes "14,074000").

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <optional>

namespace kivo {

// An optional "+" or "-" followed by one or more ASCII digits, nothing else,
// within the signed 64-bit range.
std::optional<qint64> parseStrictInteger(QStringView text);
std::optional<qint64> parseStrictInteger(QByteArrayView text);

// A decimal floating-point number ("14.074", "-7", "1e3", "+5", "inf", "nan").
// No blanks, no thousands separators. The caller decides about non-finite values.
std::optional<double> parseDecimal(QStringView text);
std::optional<double> parseDecimal(QByteArrayView text);

// Rounds half away from zero; nothing when the result does not fit 64 bits
// or the value is not finite.
std::optional<qint64> roundedToInt64(double value);

// printf("%.Nf") without the locale.
QString formatFixed(double value, int decimals);

// printf("%0Nlld") without the locale: zero padded to at least `width` digits.
QString zeroPadded(qint64 value, int width);

} // namespace kivo
