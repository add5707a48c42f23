#pragma once

#include <QString>

namespace kivo {

// The text with every secret it may carry replaced by "<redacted>": the
// credentials of an Authorization header, and the value of a JSON member or
// a name=value pair whose name speaks of a token, password, secret, API key
// or credential. Every traced text that could hold one passes through here.
QString redactedSecrets(QString text);

} // namespace kivo
