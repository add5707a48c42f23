#pragma once

// Readable failure messages and a few matchers for Qt types.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <gmock/gmock.h>
#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray &bytes, std::ostream *out)
{
    *out << '"' << bytes.toStdString() << '"';
}
QT_END_NAMESPACE

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
