#pragma once

#include <QString>

namespace kivo {

// Trims white space and line breaks from both ends (Unicode aware).
QString trimmed(const QString &text);

// Upper case without the user's locale.
QString upperCased(const QString &text);

// True when every character is printable ASCII (0x20 to 0x7E).
bool isPrintableASCII(const QString &text);

// Replaces every scalar outside printable ASCII, and "|", by one blank, trims,
// and cuts to `maximum` characters; an empty result gives `fallback`.
// Values written into a radio's command line pass through here.
QString sanitizedASCII(const QString &text, int maximum, const QString &fallback = {});

// Length in user-perceived characters (grapheme clusters), as a client counts.
qsizetype characterCount(const QString &text);

// A phrase (Qt's error strings, say) as a sentence: trimmed and ending in a
// full stop unless it already ends in one, "!" or "?"; "The connection
// failed." when nothing is left.
QString asSentence(const QString &phrase);

// True when the text holds a carriage return or a line feed.
bool containsLineBreak(const QString &text);

} // namespace kivo
