#pragma once

// Lets GoogleTest show QString values as text in failure messages.

#include <QString>
#include <ostream>

inline void PrintTo(const QString &text, std::ostream *os)
{
    QString shown = text;
    shown.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    shown.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    shown.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    *os << '"' << shown.toStdString() << '"';
}
