#include "KivoCore/support/Redaction.h"

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

// Where the value after a secret's name and separator ends, or `from` when
// there is none to hide. A quoted value keeps its quotes and ends at the
// line's end when its closing quote never comes; a header's value is the
// rest of its line; a bare one (a number, a word) ends before the next
// separator of a query, a list or a JSON text. No end lies beyond the line,
// so the text is read once however many names it holds.
qsizetype valueEnd(const QString &text, qsizetype from, bool header)
{
    const qsizetype size = text.size();
    qsizetype end = from;
    if (header) {
        while (end < size && !isLineEnd(text[end]))
            ++end;
        return end;
    }
    if (end < size && isQuote(text[end])) {
        const QChar quote = text[end++];
        while (end < size && text[end] != quote && !isLineEnd(text[end]))
            end += text[end] == u'\\' && end + 1 < size && !isLineEnd(text[end + 1]) ? 2 : 1;
        return end;
    }
    static const QStringView separators = u"&;|,\"'{}[]()<>";
    while (end < size && !text[end].isSpace() && !separators.contains(text[end]))
        ++end;
    return end;
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
        // "password": …, 'password': …, password=…, token = …, Authorization: …
        qsizetype next = at;
        const bool quoted = nameStart > 0 && isQuote(text[nameStart - 1]) && next < size
            && text[next] == text[nameStart - 1];
        if (quoted)
            ++next;
        while (next < size && isBlank(text[next]))
            ++next;
        if (next == size || (text[next] != u'=' && text[next] != u':'))
            continue;
        const bool header = !quoted && text[next] == u':' && beginsHeader(text, nameStart, name);
        ++next;
        while (next < size && isBlank(text[next]))
            ++next;
        const qsizetype valueStart = next < size && isQuote(text[next]) && !header ? next + 1 : next;
        const qsizetype end = valueEnd(text, next, header);
        if (end <= valueStart)
            continue;
        result.append(QStringView(text).sliced(copied, valueStart - copied));
        result.append(redacted);
        copied = end;
        at = end;
    }
    if (copied == 0)
        return text;
    result.append(QStringView(text).sliced(copied));
    return result;
}

} // namespace kivo
