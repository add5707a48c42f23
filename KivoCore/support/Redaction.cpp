#include "KivoCore/support/Redaction.h"

#include <algorithm>
#include <cctype>
#include <vector>

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
bool beginsHeader(QStringView text, qsizetype nameStart, QStringView name)
{
    if (name.contains(QLatin1StringView("authorization"), Qt::CaseInsensitive))
        return true;
    while (nameStart > 0 && isBlank(text[nameStart - 1]))
        --nameStart;
    return nameStart == 0 || isLineEnd(text[nameStart - 1]);
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
bool startsWithEncoded(QStringView text, qsizetype at, QStringView escape)
{
    return text.sliced(at).startsWith(escape, Qt::CaseInsensitive);
}

// A percent escape ("%3F") is read as the separator it encodes, so the name
// after it is not glued to its hex digits.
qsizetype percentEscapeLength(QStringView text, qsizetype at)
{
    const auto isHex = [&text](qsizetype i) {
        return i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i].toLatin1()));
    };
    return text[at] == u'%' && isHex(at + 1) && isHex(at + 2) ? 3 : 1;
}

// The length of the "=" or ":" at `at`, or of an encoded "=" ("%3D"); 0
// when there is none.
qsizetype separatorLength(QStringView text, qsizetype at)
{
    if (at < text.size() && (text[at] == u'=' || text[at] == u':'))
        return 1;
    return startsWithEncoded(text, at, u"%3D") ? 3 : 0;
}

// The end of a bare value (a number, a word): before the next blank or
// separator of a query, a list or a JSON text; in an encoded query also
// before its encoded "&".
qsizetype bareValueEnd(QStringView text, qsizetype from, bool encoded)
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
Span valueSpan(QStringView text, qsizetype from, bool header, bool encoded)
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
    if (isAuthorizationScheme(text.sliced(from, end - from))) {
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
// not ("password", \"password\"), even when only one of its quotes is
// escaped; then `nameEnd` moves past the closing one.
bool isQuotedName(QStringView text, qsizetype nameStart, qsizetype &nameEnd)
{
    if (nameStart == 0 || !isQuote(text[nameStart - 1]))
        return false;
    qsizetype closing = nameEnd;
    while (closing < text.size() && text[closing] == u'\\')
        ++closing;
    if (closing == text.size() || text[closing] != text[nameStart - 1])
        return false;
    nameEnd = closing + 1;
    return true;
}

// Where a reading puts what it hides, in order, none overlapping another:
// [start, end) gives way to "<redacted>", in quotes when it is a JSON
// value other than a string, `quoting` strings deep (none when negative).
class Hiding {
public:
    virtual void hide(qsizetype start, qsizetype end, int quoting) = 0;

protected:
    ~Hiding() = default;
};

// The text scanner, for what is not a JSON document: form bodies, URLs,
// broker and radio lines, and JSON cut short or carried inside other text.
void scanSecrets(QStringView text, Hiding &hiding)
{
    qsizetype hiddenEnd = 0;
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
        const QStringView name = text.sliced(nameStart, at - nameStart);
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
        if (next < hiddenEnd)
            continue;
        const Span value = valueSpan(text, next, header, separator > 1);
        if (value.end <= value.start)
            continue;
        hiding.hide(value.start, value.end, -1);
        hiddenEnd = value.end;
        // A hidden value may hold a secret's name whose own value follows
        // it: its names are read too, once, and nothing hidden is read again.
        at = value.start;
    }
}

void hideSecrets(QStringView text, int level, Hiding &hiding);

// The text a JSON string's content (checked already) stands for.
QString decodedString(QStringView raw)
{
    QString text;
    text.reserve(raw.size());
    for (qsizetype at = 0; at < raw.size(); ++at) {
        if (raw[at] != u'\\') {
            text.append(raw[at]);
            continue;
        }
        switch (raw[++at].unicode()) {
        case u'b': text.append(u'\b'); break;
        case u'f': text.append(u'\f'); break;
        case u'n': text.append(u'\n'); break;
        case u'r': text.append(u'\r'); break;
        case u't': text.append(u'\t'); break;
        case u'u':
            text.append(QChar(raw.sliced(at + 1, 4).toUShort(nullptr, 16)));
            at += 4;
            break;
        default: text.append(raw[at]); // '"', '\\', '/' or any other
        }
    }
    return text;
}

// Moves what is hidden in the text a JSON string stands for onto the
// string's content, which begins at `offset`: each escape stands for one
// character, and quotes put in are escaped once more.
class HidingInString final : public Hiding {
public:
    HidingInString(QStringView raw, qsizetype offset, Hiding &outer) : raw(raw), offset(offset), outer(outer) {}

    void hide(qsizetype start, qsizetype end, int quoting) override
    {
        start = place(start);
        outer.hide(start, place(end), quoting < 0 ? quoting : quoting + 1);
    }

private:
    qsizetype place(qsizetype at)
    {
        for (; textAt < at; ++textAt)
            rawAt += raw[rawAt] != u'\\' ? 1 : raw[rawAt + 1] == u'u' ? 6 : 2;
        return offset + rawAt;
    }

    QStringView raw;
    qsizetype offset;
    Hiding &outer;
    qsizetype rawAt = 0;
    qsizetype textAt = 0;
};

// Reads a JSON document token by token and finds what to hide, so that
// everything else stays as the peer wrote it: spacing, order, repeated
// names, the text of numbers and escapes. It takes what Qt's JSON reader
// takes (RFC 8259, also any character after a backslash or unescaped in a
// string, "1." and ".5"), so no document Qt reads falls to the scanner.
class JsonSecrets {
public:
    explicit JsonSecrets(QStringView text) : text(text) {}

    // Whether the text is a JSON document; with `hiding`, what it hides goes
    // there. Nothing may be hidden before the whole text proved JSON, so it
    // is read twice; containers are tracked on a stack, so any depth reads
    // in one pass.
    bool read(int level, Hiding *hiding);

private:
    void skipBlanks()
    {
        while (at < text.size() && (text[at] == u' ' || text[at] == u'\t' || text[at] == u'\n' || text[at] == u'\r'))
            ++at;
    }
    bool isDigitAt(qsizetype i) const { return i < text.size() && text[i] >= u'0' && text[i] <= u'9'; }
    void skipDigits()
    {
        while (isDigitAt(at))
            ++at;
    }
    bool string(Span &content);
    bool number();
    bool word(QLatin1StringView word);

    QStringView text;
    qsizetype at = 0;
};

// A string at `at`, whose content (between its quotes) goes to `content`.
bool JsonSecrets::string(Span &content)
{
    const auto isHexAt = [this](qsizetype i) {
        return i < text.size() && text[i].unicode() < 0x80 && std::isxdigit(text[i].unicode());
    };
    content.start = ++at;
    for (; at < text.size(); ++at) {
        const QChar c = text[at];
        if (c == u'"') {
            content.end = at++;
            return true;
        }
        if (c != u'\\')
            continue;
        if (++at == text.size())
            return false;
        if (text[at] == u'u') {
            if (!isHexAt(at + 1) || !isHexAt(at + 2) || !isHexAt(at + 3) || !isHexAt(at + 4))
                return false;
            at += 4;
        }
    }
    return false;
}

// A number at `at`, which holds '-', '.' or a digit.
bool JsonSecrets::number()
{
    if (text[at] == u'-')
        ++at;
    const qsizetype digits = at;
    if (isDigitAt(at) && text[at++] != u'0')
        skipDigits();
    if (at < text.size() && text[at] == u'.') {
        ++at;
        skipDigits();
    }
    if (at == digits || (at == digits + 1 && text[digits] == u'.'))
        return false;
    if (at < text.size() && (text[at] == u'e' || text[at] == u'E')) {
        if (++at < text.size() && (text[at] == u'+' || text[at] == u'-'))
            ++at;
        if (!isDigitAt(at))
            return false;
        skipDigits();
    }
    return true;
}

bool JsonSecrets::word(QLatin1StringView word)
{
    if (!text.sliced(at).startsWith(word))
        return false;
    at += word.size();
    return true;
}

bool JsonSecrets::read(int level, Hiding *hiding)
{
    at = 0;
    std::vector<QChar> closers; // of the containers around `at`
    qsizetype hidden = -1;      // where the hidden container around `at` begins
    std::size_t hiddenDepth = 0;
    bool secret = false; // the value next stands under a secret's name
    const auto close = [&] {
        ++at;
        closers.pop_back();
        if (hidden >= 0 && closers.size() == hiddenDepth) {
            hiding->hide(hidden, at, 0);
            hidden = -1;
        }
    };
    skipBlanks();
    if (at == text.size() || (text[at] != u'{' && text[at] != u'['))
        return false;
    enum class Expect { Value, Name, Next } expect = Expect::Value;
    for (;;) {
        skipBlanks();
        if (expect == Expect::Next && closers.empty())
            break;
        if (at == text.size())
            return false;
        const QChar c = text[at];
        const qsizetype start = at;
        Span content{};
        if (expect == Expect::Next) {
            if (c == closers.back()) {
                close();
                continue;
            }
            if (c != u',')
                return false;
            ++at;
            expect = closers.back() == u'}' ? Expect::Name : Expect::Value;
        } else if (expect == Expect::Name) {
            if (c != u'"' || !string(content))
                return false;
            skipBlanks();
            if (at == text.size() || text[at] != u':')
                return false;
            ++at;
            // A secret's name inside a hidden value hides nothing more.
            if (hiding && hidden < 0) {
                const QStringView name = text.sliced(content.start, content.end - content.start);
                secret = isSecretName(name.contains(u'\\') ? QStringView(decodedString(name)) : name);
            }
            expect = Expect::Value;
        } else if (c == u'{' || c == u'[') {
            if (secret) {
                hidden = start;
                hiddenDepth = closers.size();
            }
            closers.push_back(c == u'{' ? u'}' : u']');
            ++at;
            skipBlanks();
            if (at < text.size() && text[at] == closers.back()) {
                close();
                expect = Expect::Next;
            } else {
                expect = c == u'{' ? Expect::Name : Expect::Value;
            }
            secret = false;
        } else {
            // true, false and null tell nothing, so they stay.
            if (c == u'"') {
                if (!string(content))
                    return false;
                const QStringView raw = text.sliced(content.start, content.end - content.start);
                if (secret) {
                    hiding->hide(content.start, content.end, -1);
                } else if (hiding && hidden < 0) {
                    // Read as text of its own, JSON or not, so JSON in a
                    // string is found however its quotes were escaped.
                    HidingInString inString(raw, content.start, *hiding);
                    if (raw.contains(u'\\'))
                        hideSecrets(decodedString(raw), level + 1, inString);
                    else
                        hideSecrets(raw, level + 1, inString);
                }
            } else if (c == u'-' || c == u'.' || (c >= u'0' && c <= u'9')) {
                if (!number())
                    return false;
                if (secret)
                    hiding->hide(start, at, 0);
            } else if (!word(QLatin1StringView("true")) && !word(QLatin1StringView("false"))
                       && !word(QLatin1StringView("null"))) {
                return false;
            }
            secret = false;
            expect = Expect::Next;
        }
    }
    return at == text.size();
}

void hideSecrets(QStringView text, int level, Hiding &hiding)
{
    if (level < jsonLevels) {
        JsonSecrets json(text);
        if (json.read(level, nullptr)) {
            json.read(level, &hiding);
            return;
        }
    }
    scanSecrets(text, hiding);
}

// The text with what is hidden put in, built as it goes.
class Redacting final : public Hiding {
public:
    explicit Redacting(const QString &text) : text(text) {}

    void hide(qsizetype start, qsizetype end, int quoting) override
    {
        result.append(QStringView(text).sliced(copied, start - copied));
        if (quoting < 0) {
            result.append(redacted);
        } else {
            // Each string around doubles the backslashes before a quote and adds one.
            const QString quote = QString((1 << quoting) - 1, u'\\') + u'"';
            result.append(quote).append(redacted).append(quote);
        }
        copied = end;
        changed = true;
    }

    QString finished()
    {
        return changed ? result.append(QStringView(text).sliced(copied)) : text;
    }

private:
    const QString &text;
    QString result;
    qsizetype copied = 0; // text before this is in `result`
    bool changed = false;
};

} // namespace

QString redactedSecrets(QString text)
{
    Redacting redacting(text);
    hideSecrets(text, 0, redacting);
    return redacting.finished();
}

} // namespace kivo
