#include "KivoCore/support/Redaction.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cctype>
#include <optional>

namespace kivo {

namespace {

const QString redacted = QStringLiteral("<redacted>");

// JSON carried in a JSON string is read as JSON this many levels deep; below
// that the scanner alone reads it, so no text is read more than a few times.
constexpr int jsonLevels = 4;

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

// Whether `word` stands in the name as a word of its own: "user_pass",
// "userPass", "pwd", but neither "passband" nor "compass".
bool hasWord(QStringView name, QLatin1StringView word)
{
    const auto boundary = [name](qsizetype before, qsizetype after) {
        return before < 0 || after == name.size() || !name[before].isLetter() || !name[after].isLetter()
               || (name[before].isLower() && name[after].isUpper());
    };
    for (qsizetype at = name.indexOf(word, 0, Qt::CaseInsensitive); at >= 0;
         at = name.indexOf(word, at + 1, Qt::CaseInsensitive)) {
        if (boundary(at - 1, at) && boundary(at + word.size() - 1, at + word.size()))
            return true;
    }
    return false;
}

// "refresh_token", "X-Api-Key", "client_secret", "passphrase", "pwd" and the
// like; "handle" is not a secret, so a SmartLink "wan validate handle=" stays
// readable. The one list of names, for JSON and for the text scanner.
bool isSecretName(QStringView name)
{
    static const QLatin1StringView words[]{
        QLatin1StringView("token"),      QLatin1StringView("password"),     QLatin1StringView("passwd"),
        QLatin1StringView("passphrase"), QLatin1StringView("secret"),       QLatin1StringView("apikey"),
        QLatin1StringView("api_key"),    QLatin1StringView("api-key"),      QLatin1StringView("credential"),
        QLatin1StringView("authorization")};
    // Short enough to be part of other words.
    static const QLatin1StringView wholeWords[]{QLatin1StringView("pass"), QLatin1StringView("pwd")};
    return std::any_of(std::begin(words), std::end(words),
                       [name](QLatin1StringView word) { return name.contains(word, Qt::CaseInsensitive); })
           || std::any_of(std::begin(wholeWords), std::end(wholeWords),
                          [name](QLatin1StringView word) { return hasWord(name, word); });
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

// "%3D" where a query carried percent-encoded inside another's value
// ("?next=%2Fx%3Ftoken%3D…") has its "=".
bool startsWithEncoded(const QString &text, qsizetype at, QStringView escape)
{
    return QStringView(text).sliced(at).startsWith(escape, Qt::CaseInsensitive);
}

// A percent escape ("%3F") is read as the separator it encodes, so the name
// after it is not glued to its hex digits.
qsizetype percentEscapeLength(const QString &text, qsizetype at)
{
    const auto isHex = [&text](qsizetype i) {
        return i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i].toLatin1()));
    };
    return text[at] == u'%' && isHex(at + 1) && isHex(at + 2) ? 3 : 1;
}

// The length of the "=" or ":" at `at`, or of an encoded "=" ("%3D"); 0
// when there is none.
qsizetype separatorLength(const QString &text, qsizetype at)
{
    if (at < text.size() && (text[at] == u'=' || text[at] == u':'))
        return 1;
    return startsWithEncoded(text, at, u"%3D") ? 3 : 0;
}

// The end of a bare value (a number, a word): before the next blank or
// separator of a query, a list or a JSON text; in an encoded query also
// before its encoded "&".
qsizetype bareValueEnd(const QString &text, qsizetype from, bool encoded)
{
    static const QStringView separators = u"&;|,\"'{}[]()<>";
    qsizetype end = from;
    while (end < text.size() && !text[end].isSpace() && !separators.contains(text[end])
           && !(encoded && startsWithEncoded(text, end, u"%26")))
        ++end;
    return end;
}

// "Bearer abc": an authorization scheme and its credentials are one value.
bool isAuthorizationScheme(QStringView word)
{
    return word.compare(u"Bearer", Qt::CaseInsensitive) == 0 || word.compare(u"Basic", Qt::CaseInsensitive) == 0
           || word.compare(u"Digest", Qt::CaseInsensitive) == 0;
}

// What to hide of the value that begins at `from`, after a secret's name and
// separator; empty when there is nothing. A quoted value (escaped too, as
// JSON carried in a JSON string) keeps its quotes and ends at the line's end
// when its closing quote never comes; a header's value is the rest of its
// line; an array or object ends at its closing bracket; a bare value is one
// word, or two after an authorization scheme. Only an array or object may
// end beyond the line.
Span valueSpan(const QString &text, qsizetype from, bool header, bool encoded)
{
    const qsizetype size = text.size();
    qsizetype end = from;
    if (header) {
        while (end < size && !isLineEnd(text[end]))
            ++end;
        return {from, end};
    }
    if (end < size && (text[end] == u'[' || text[end] == u'{')) {
        // An array or object, as JSON cut short or carried in other text has
        // it: hidden through its closing bracket, or to the end.
        int nesting = 0;
        bool inString = false;
        qsizetype run = 0;
        for (; end < size; ++end) {
            const QChar c = text[end];
            if (c == u'"' && run % 2 == 0)
                inString = !inString;
            else if (!inString && (c == u'[' || c == u'{'))
                ++nesting;
            else if (!inString && (c == u']' || c == u'}') && --nesting == 0)
                return {from, end + 1};
            run = c == u'\\' ? run + 1 : 0;
        }
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
    end = bareValueEnd(text, from, encoded);
    if (isAuthorizationScheme(QStringView(text).sliced(from, end - from))) {
        qsizetype credentials = end;
        while (credentials < size && isBlank(text[credentials]))
            ++credentials;
        const qsizetype credentialsEnd = bareValueEnd(text, credentials, encoded);
        if (credentialsEnd > credentials)
            end = credentialsEnd;
    }
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

// The text scanner, for what is not a JSON document: form bodies, URLs,
// broker and radio lines, and JSON cut short or carried inside other text.
QString scannedSecrets(const QString &text)
{
    QString result;
    qsizetype copied = 0; // text before this is in `result`
    qsizetype at = 0;
    const qsizetype size = text.size();
    while (at < size) {
        if (!isNameCharacter(text[at])) {
            at += percentEscapeLength(text, at);
            continue;
        }
        const qsizetype nameStart = at;
        while (at < size && isNameCharacter(text[at]))
            ++at;
        const QStringView name = QStringView(text).sliced(nameStart, at - nameStart);
        if (!isSecretName(name))
            continue;
        // "password": …, 'password': …, \"password\": …, password=…, token = …, Authorization: …, token%3D…
        qsizetype next = at;
        const bool quoted = isQuotedName(text, nameStart, next);
        while (next < size && isBlank(text[next]))
            ++next;
        const qsizetype separator = separatorLength(text, next);
        if (separator == 0)
            continue;
        const bool header = !quoted && text[next] == u':' && beginsHeader(text, nameStart, name);
        next += separator;
        // Pretty-printed JSON may put a member's value on the next line.
        while (next < size && (isBlank(text[next]) || (quoted && isLineEnd(text[next]))))
            ++next;
        // A value that starts inside one hidden already is hidden with it.
        if (next < copied)
            continue;
        const Span value = valueSpan(text, next, header, separator > 1);
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

QString redactedText(const QString &text, int level);

// Hides the secrets `value` holds, whether anything was hidden. A secret's
// name hides its value whatever it is but true, false or null (which tell
// nothing); a string is read as text of its own, JSON or not, so JSON in a
// string is found however its quotes were escaped.
bool hideSecrets(QJsonValue &value, int level)
{
    if (value.isString()) {
        const QString text = value.toString();
        QString hidden = redactedText(text, level + 1);
        if (hidden == text)
            return false;
        value = std::move(hidden);
        return true;
    }
    bool changed = false;
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        for (qsizetype i = 0; i < array.size(); ++i) {
            QJsonValue item = array.at(i);
            if (hideSecrets(item, level)) {
                array.replace(i, item);
                changed = true;
            }
        }
        if (changed)
            value = array;
    } else if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto member = object.begin(); member != object.end(); ++member) {
            QJsonValue item = member.value();
            if (isSecretName(member.key()) && !item.isBool() && !item.isNull())
                item = redacted;
            else if (!hideSecrets(item, level))
                continue;
            member.value() = item;
            changed = true;
        }
        if (changed)
            value = object;
    }
    return changed;
}

// A JSON document with its secrets hidden, written compactly when something
// was; nothing when the text is no JSON document.
std::optional<QString> redactedJson(const QString &text, int level)
{
    const auto first = std::find_if_not(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); });
    if (first == text.cend() || (*first != u'{' && *first != u'['))
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    QJsonValue root = document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    if (!hideSecrets(root, level))
        return text;
    const QJsonDocument hidden = root.isArray() ? QJsonDocument(root.toArray()) : QJsonDocument(root.toObject());
    return QString::fromUtf8(hidden.toJson(QJsonDocument::Compact));
}

QString redactedText(const QString &text, int level)
{
    if (level < jsonLevels) {
        if (auto json = redactedJson(text, level))
            return *std::move(json);
    }
    return scannedSecrets(text);
}

} // namespace

QString redactedSecrets(QString text)
{
    return redactedText(text, 0);
}

} // namespace kivo
