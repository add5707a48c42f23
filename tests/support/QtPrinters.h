#pragma once

// Lets GoogleTest show Qt values as text in failure messages, and a few
// matchers for QString.

#include <QByteArray>
#include <QString>
#include <gmock/gmock.h>
#include <ostream>

inline void PrintTo(const QString &text, std::ostream *os)
{
    QString shown = text;
    shown.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    shown.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    shown.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    *os << '"' << shown.toStdString() << '"';
}

inline void PrintTo(const QByteArray &bytes, std::ostream *os)
{
    PrintTo(QString::fromLatin1(bytes), os);
}

namespace kivo::test {

MATCHER_P(QStartsWith, prefix, std::string("starts with \"") + QString(prefix).toStdString() + "\"")
{
    return QString(arg).startsWith(QString(prefix));
}

MATCHER_P(QContains, part, std::string("contains \"") + QString(part).toStdString() + "\"")
{
    return QString(arg).contains(QString(part));
}

} // namespace kivo::test
