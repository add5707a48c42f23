#pragma once

// Fonts by the sizes the windows give in points, which are Qt logical
// pixels: always setPixelSize, never setPointSize.

// Pages set text colours next to fonts; the colour helpers come along.
#include "QuendKivoApp/kit/TextColor.h"

#include <QFont>

namespace kivo {

enum class TextStyle { Title2, Headline, Body, Caption };

QFont kitFont(int pixelSize, QFont::Weight weight = QFont::Normal);
QFont monospacedFont(int pixelSize, QFont::Weight weight = QFont::Normal);
QFont styleFont(TextStyle style);
int stylePixelSize(TextStyle style);

} // namespace kivo
