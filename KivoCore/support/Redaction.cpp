#include "KivoCore/support/Redaction.h"

#include <algorithm>

namespace kivo {

namespace {

const QString redacted = QStringLiteral("<redacted>");

bool isNameCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'.' || c == u'-';
}

bool isQuote(QChar c)
{
    return c == u'"' || c == u'\'';
}

bool isLineEnd(QChar c)
{
    return c == u'\n' || c == u'\r';
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// "refresh_token", "X-Api-Key", "client_secret" and the like; "handle" is
// not a secret, so a SmartLink "wan validate handle=" stays readable.
bool isSecretName(QStringView name)
{
    static const QLatin1StringView words[]{
        QLatin1StringView("token"),   QLatin1StringView("password"), QLatin1StringView("passwd"),
        QLatin1StringView("secret"),  QLatin1StringView("apikey"),   QLatin1StringView("api_key"),
        QLatin1StringView("api-key"), QLatin1StringView("credential"), QLatin1StringView("authorization")};
    for (QLatin1StringView word : words) {
        if (name.contains(word, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// "Authorization: Bearer …" anywhere, or a name at a line's start, as in
// "X-Api-Key: …", begins a header, whose value is the rest of its line.
bool beginsHeader(const QString &text, qsizetype nameStart, QStringView name)
{
    if (name.contains(QLatin1StringView("authorization"), Qt::CaseInsensitive))
        return true;
    while (nameStart > 0 && isBlank(text[nameStart - 1]))
        --nameStart;
    return nameStart == 0 || isLineEnd(text[nameStart - 1]);
}

// How many backslashes stand right before `at`.
qsizetype backslashesBefore(const QString &text, qsizetype at)
{
    qsizetype run = 0;
    while (at - run > 0 && text[at - run - 1] == u'\\')
        ++run;
    return run;
}

// A quote after `run` backslashes opens a string this many escapings deep:
// JSON inside a JSON string doubles each backslash and adds one.
int escapeDepth(qsizetype run)
{
    int depth = 0;
    for (; run % 2 == 1; run /= 2)
        ++depth;
    return depth;
}

// Whether a quote after `run` backslashes closes a string `depth` escapings
// deep, or one around it.
bool closesString(qsizetype run, int depth)
{
    for (; depth > 0 && run % 2 == 1; --depth)
        run /= 2;
    return run % 2 == 0;
}

struct Span {
    qsizetype start;
    qsizetype end;
};

// What to hide of the value that begins at `from`, after a secret's name and
// separator; empty when there is nothing. A quoted value (escaped too, as
// JSON carried in a JSON string) keeps its quotes and ends at the line's end
// when its closing quote never comes; a header's value is the rest of its
// line; a bare one (a number, a word) ends before the next separator of a
// query, a list or a JSON text. No end lies beyond the line.
Span valueSpan(const QString &text, qsizetype from, bool header)
{
    const qsizetype size = text.size();
    qsizetype end = from;
    if (header) {
        while (end < size && !isLineEnd(text[end]))
            ++end;
        return {from, end};
    }
    while (end < size && text[end] == u'\\')
        ++end;
    if (end < size && isQuote(text[end])) {
        const qsizetype opening = end - from;
        const int depth = escapeDepth(opening);
        const QChar quote = text[end++];
        const qsizetype start = end;
        qsizetype run = 0;
        for (; end < size && !isLineEnd(text[end]); ++end) {
            if (text[end] == quote && closesString(run, depth))
                return {start, end - std::min(run, opening)};
            run = text[end] == u'\\' ? run + 1 : 0;
        }
        return {start, end};
    }
    static const QStringView separators = u"&;|,\"'{}[]()<>";
    end = from;
    while (end < size && !text[end].isSpace() && !separators.contains(text[end]))
        ++end;
    return {from, end};
}

// Whether the name at [nameStart, nameEnd) stands in quotes, escaped or
// not ("password", \"password\"); then `nameEnd` moves past the closing one.
bool isQuotedName(const QString &text, qsizetype nameStart, qsizetype &nameEnd)
{
    if (nameStart == 0 || !isQuote(text[nameStart - 1]))
        return false;
    const qsizetype opening = backslashesBefore(text, nameStart - 1) + 1;
    const QStringView quote = QStringView(text).sliced(nameStart - opening, opening);
    if (!QStringView(text).sliced(nameEnd).startsWith(quote))
        return false;
    nameEnd += opening;
    return true;
}

} // namespace

QString redactedSecrets(QString text)
{
    QString result;
    qsizetype copied = 0; // text before this is in `result`
    qsizetype at = 0;
    const qsizetype size = text.size();
    while (at < size) {
        if (!isNameCharacter(text[at])) {
            ++at;
            continue;
        }
        const qsizetype nameStart = at;
        while (at < size && isNameCharacter(text[at]))
            ++at;
        const QStringView name = QStringView(text).sliced(nameStart, at - nameStart);
        if (!isSecretName(name))
            continue;
        // "password": …, 'password': …, \"password\": …, password=…, token = …, Authorization: …
        qsizetype next = at;
        const bool quoted = isQuotedName(text, nameStart, next);
        while (next < size && isBlank(text[next]))
            ++next;
        if (next == size || (text[next] != u'=' && text[next] != u':'))
            continue;
        const bool header = !quoted && text[next] == u':' && beginsHeader(text, nameStart, name);
        ++next;
        while (next < size && isBlank(text[next]))
            ++next;
        // A value that starts inside one hidden already is hidden with it.
        if (next < copied)
            continue;
        const Span value = valueSpan(text, next, header);
        if (value.end <= value.start)
            continue;
        result.append(QStringView(text).sliced(copied, value.start - copied));
        result.append(redacted);
        copied = value.end;
        // A hidden value may hold a secret's name whose own value follows
        // it: its names are read too, once, and nothing hidden is read again.
        at = value.start;
    }
    if (copied == 0)
        return text;
    result.append(QStringView(text).sliced(copied));
    return result;
}

} // namespace kivo
