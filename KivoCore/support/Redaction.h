#pragma once

#include <QString>

namespace kivo {

// The text with every secret it may carry replaced by "<redacted>": the
// value after a name that speaks of a token, password, secret, API key,
// credential or authorization, whether a JSON member ("password": "…" or a
// bare number, also in JSON carried inside a JSON string), a name=value pair
// (quoted, spaced or not) or a header line (Authorization: …). Every traced text that could hold one passes through
// here, on the event loop, so it is read once from start to end.
QString redactedSecrets(QString text);

} // namespace kivo
