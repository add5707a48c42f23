#include "KivoCore/radio/FlexSpot.h"

#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/Text.h"

#include <algorithm>

namespace kivo {

namespace {
// "#" and six upper-case hexadecimal digits, nothing before or after.
bool isColorHex(const QString &text)
{
    if (text.size() != 7 || text.at(0) != QLatin1Char('#'))
        return false;
    for (qsizetype i = 1; i < 7; ++i) {
        const char16_t c = text.at(i).unicode();
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}
} // namespace

FlexSpot FlexSpot::make(const FlexSpotFields &fields)
{
    if (fields.frequencyHz < 100000 || fields.frequencyHz > 60000000)
        throw KivoError::invalidFrequency();
    const QString call = upperCased(trimmed(fields.callsign));
    // The callsign ends up in the radio's command line: anything outside
    // printable ASCII, and the field separator "|", is refused outright.
    if (call.isEmpty() || call.size() > 32 || !isPrintableASCII(call) || call.contains(QLatin1Char('|')))
        throw KivoError::server(QStringLiteral("The spot callsign is invalid."));

    FlexSpot spot;
    spot.m_frequencyHz = fields.frequencyHz;
    spot.m_callsign = call;
    spot.m_mode = sanitizedASCII(fields.mode, 16);
    spot.m_source = sanitizedASCII(fields.source, 32, QStringLiteral("RUMlogNG"));
    spot.m_spotter = sanitizedASCII(upperCased(fields.spotter), 32);
    spot.m_comment = sanitizedASCII(fields.comment, 96);
    spot.m_timestamp = std::max<qint64>(fields.timestamp, 0);
    const QString color = upperCased(fields.colorHex);
    spot.m_colorHex = isColorHex(color) ? color : QStringLiteral("#0A84FF");
    spot.m_lifetimeSeconds = std::clamp(fields.lifetimeSeconds, 30, 86400);
    spot.m_priority = std::clamp(fields.priority, 1, 5);
    return spot;
}

} // namespace kivo
