#pragma once

// The windows' symbols, drawn as the project's own SVG files and tinted at
// run time; the desktop's icon theme is never consulted.

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace kivo {

// True when the symbol (named as the windows name it) has a drawing.
bool hasSymbol(const QString &symbol);
QPixmap symbolPixmap(const QString &symbol, const QColor &tint, int pixelSize);
QIcon symbolIcon(const QString &symbol, const QColor &tint);

} // namespace kivo
