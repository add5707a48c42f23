#pragma once

// How the Spots tab shows and stores a spot category's style: colour text,
// lifetime labels and counter digits.

#include <QColor>
#include <QList>
#include <QString>

namespace kivo {

// "#" and six hexadecimal digits (extra "#" at either end are ignored);
// anything else gives the standard blue.
QColor color(const QString &hex);
// "#RRGGBB" in upper case, each component clamped to 0...255.
QString hex(const QColor &color);

struct LifetimeChoice {
    int seconds;
    QString label;
};
const QList<LifetimeChoice> &lifetimeChoices();
QString lifetimeLabel(int seconds);

// Plain digits, never grouped.
QString counterText(qint64 value);
QString spotButtonTitle(bool isRunning);

} // namespace kivo
