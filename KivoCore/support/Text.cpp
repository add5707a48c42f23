#include "KivoCore/support/Text.h"

#include <QList>
#include <QTextBoundaryFinder>

namespace kivo {

namespace {
bool isBlankOrBreak(char32_t c)
{
    if (c == 0x20 || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680
        || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F
        || c == 0x205F || c == 0x3000)
        return true;
    return false;
}
} // namespace

QString asSentence(const QString &phrase)
{
    QString text = trimmed(phrase);
    if (text.isEmpty())
        return QStringLiteral("The connection failed.");
    if (!text.endsWith(QLatin1Char('.')) && !text.endsWith(QLatin1Char('!')) && !text.endsWith(QLatin1Char('?')))
        text += QLatin1Char('.');
    return text;
}

QString trimmed(const QString &text)
{
    const auto scalars = text.toUcs4();
    qsizetype begin = 0;
    qsizetype end = scalars.size();
    while (begin < end && isBlankOrBreak(scalars[begin]))
        ++begin;
    while (end > begin && isBlankOrBreak(scalars[end - 1]))
        --end;
    if (begin == 0 && end == scalars.size())
        return text;
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(scalars.constData()) + begin, end - begin);
}

QString upperCased(const QString &text)
{
    return text.toUpper();
}

bool isPrintableASCII(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

QString sanitizedASCII(const QString &text, int maximum, const QString &fallback)
{
    QString replaced;
    const auto scalars = text.toUcs4();
    replaced.reserve(scalars.size());
    for (char32_t c : scalars) {
        if (c < 0x20 || c > 0x7E || c == U'|')
            replaced.append(QLatin1Char(' '));
        else
            replaced.append(QChar(char16_t(c)));
    }
    replaced = trimmed(replaced);
    if (replaced.isEmpty())
        return fallback;
    return replaced.left(maximum);
}

qsizetype characterCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

bool containsLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

} // namespace kivo
