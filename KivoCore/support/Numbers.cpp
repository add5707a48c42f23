#include "KivoCore/support/Numbers.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace kivo {

namespace {
std::optional<qint64> parseIntegerBytes(const char *begin, const char *end)
{
    if (begin == end)
        return std::nullopt;
    bool negative = false;
    if (*begin == '+' || *begin == '-') {
        negative = *begin == '-';
        ++begin;
    }
    if (begin == end)
        return std::nullopt;
    for (const char *p = begin; p != end; ++p) {
        if (*p < '0' || *p > '9')
            return std::nullopt;
    }
    // Parse the magnitude as unsigned so "-9223372036854775808" fits.
    unsigned long long magnitude = 0;
    auto [ptr, ec] = std::from_chars(begin, end, magnitude);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    constexpr auto maxPositive = static_cast<unsigned long long>(std::numeric_limits<qint64>::max());
    if (negative) {
        if (magnitude > maxPositive + 1)
            return std::nullopt;
        if (magnitude == maxPositive + 1)
            return std::numeric_limits<qint64>::min();
        return -static_cast<qint64>(magnitude);
    }
    if (magnitude > maxPositive)
        return std::nullopt;
    return static_cast<qint64>(magnitude);
}

std::optional<double> parseDecimalBytes(const char *begin, const char *end)
{
    if (begin == end)
        return std::nullopt;
    bool negative = false;
    if (*begin == '+' || *begin == '-') {
        negative = *begin == '-';
        ++begin;
        // from_chars takes no sign of its own after ours.
        if (begin == end || *begin == '+' || *begin == '-')
            return std::nullopt;
    }
    double value = 0;
    auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::general);
    if (ptr != end)
        return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone here; like strtod, an overflow is
        // infinite and an underflow is zero (told apart by the exponent's sign).
        const QByteArray text = QByteArray(begin, end - begin).toLower();
        const auto e = text.indexOf('e');
        const bool tiny = e >= 0 && e + 1 < text.size() && text.at(e + 1) == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (ec != std::errc()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

// Numbers are ASCII; anything else cannot be one.
std::optional<QByteArray> asciiBytes(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() > 0x7F)
            return std::nullopt;
        bytes.append(char(c.unicode()));
    }
    return bytes;
}
} // namespace

std::optional<qint64> parseStrictInteger(QByteArrayView text)
{
    return parseIntegerBytes(text.data(), text.data() + text.size());
}

std::optional<qint64> parseStrictInteger(QStringView text)
{
    const auto bytes = asciiBytes(text);
    return bytes ? parseStrictInteger(QByteArrayView(*bytes)) : std::nullopt;
}

std::optional<double> parseDecimal(QByteArrayView text)
{
    return parseDecimalBytes(text.data(), text.data() + text.size());
}

std::optional<double> parseDecimal(QStringView text)
{
    const auto bytes = asciiBytes(text);
    return bytes ? parseDecimal(QByteArrayView(*bytes)) : std::nullopt;
}

std::optional<qint64> roundedToInt64(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::round(value); // halves away from zero
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr double limit = 9223372036854775808.0;
    if (rounded >= limit || rounded < -limit)
        return std::nullopt;
    return static_cast<qint64>(rounded);
}

QString formatFixed(double value, int decimals)
{
    char buffer[400];
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (ec != std::errc())
        return QStringLiteral("0");
    return QString::fromLatin1(buffer, ptr - buffer);
}

QString zeroPadded(qint64 value, int width)
{
    const bool negative = value < 0;
    // Unsigned magnitude so the minimum value formats too.
    const unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                                  : static_cast<unsigned long long>(value);
    QString digits = QString::number(magnitude);
    const int padWidth = negative ? width - 1 : width;
    if (digits.size() < padWidth)
        digits.prepend(QString(padWidth - digits.size(), QLatin1Char('0')));
    return negative ? QLatin1Char('-') + digits : digits;
}

} // namespace kivo
