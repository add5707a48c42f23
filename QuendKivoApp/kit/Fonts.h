#pragma once

// Fonts by the sizes the windows give in points, which are Qt logical
// pixels: always setPixelSize, never setPointSize.

#include <QColor>
#include <QFont>

class QWidget;

namespace kivo {

enum class TextStyle { Title2, Headline, Body, Caption };

QFont kitFont(int pixelSize, QFont::Weight weight = QFont::Normal);
QFont monospacedFont(int pixelSize, QFont::Weight weight = QFont::Normal);
QFont styleFont(TextStyle style);
int stylePixelSize(TextStyle style);

// Applies the secondary text colour to a widget's foreground.
void setSecondaryStyle(QWidget *widget);
// Sets a widget's foreground (label text) colour.
void setForegroundColor(QWidget *widget, const QColor &color);

} // namespace kivo
