#pragma once

#include <QStringView>
#include <optional>

namespace kivo {

// An ISO 8601 internet date-time, strictly: "2024-05-01T12:00:00Z",
// "2024-05-01T14:00:00.25+02:00". Full date with dashes, "T", full time
// with colons, an optional fraction of the second, and "Z" or an offset
// with a colon. Nothing before or after, no lower-case letters.
// Gives Unix seconds truncated towards zero.
std::optional<qint64> unixSecondsFromInternetDateTime(QStringView text);

} // namespace kivo
