#pragma once

#include <QString>

namespace kivo {

// The text with every secret it may carry replaced by "<redacted>": the
// value after a name that speaks of a token, password, passphrase, secret,
// API key, credential or authorization. A JSON document is read as JSON:
// the value under such a name is hidden whatever it holds, at each place
// the name stands, and a string holding JSON is read the same way, however
// its quotes were escaped; everything else keeps its bytes. Any
// other text is scanned: a JSON member ("password": "…" or a bare number,
// also escaped or on the next line), a name=value pair (quoted, spaced,
// "Bearer …", or percent-encoded in a query's value) or a header line
// (Authorization: …). Every traced text that could hold one passes through
// here, on the event loop, so its time grows with the text's length alone.
QString redactedSecrets(QString text);

} // namespace kivo
