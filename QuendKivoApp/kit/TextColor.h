#pragma once

// Text colours of widgets. The kit's colours are worked out from the
// palette the widget sits in, readable against the background it sits on
// (a group box's card, a tab pane, the window), each time it is shown and
// whenever that palette changes (a dark desktop, a theme switch).
// Panels with a fixed palette of their own set exact colours instead.

#include "QuendKivoApp/kit/Palette.h"

#include <QColor>

class QAbstractButton;
class QLineEdit;
class QWidget;

namespace kivo {

// The secondary (dimmed) text style.
void setSecondaryStyle(QWidget *widget);
// The widget's text in a hue, made readable on its background.
void setForegroundColor(QWidget *widget, const QColor &hue);
// The widget's text in a platform colour of the palette's appearance.
void setForegroundColor(QWidget *widget, PlatformColor color);
// The button's title in a platform colour, readable on its face while it
// can be pressed; disabled, it dims as the palette's other titles do.
void setButtonTitleColor(QAbstractButton *button, PlatformColor color);
// The field's placeholder in the secondary style, readable on the field.
void setPlaceholderStyle(QLineEdit *field);
// Exactly this colour, whatever the palette, and again after a desktop
// theme reload inside a held panel (FixedPalette.h); for fixed dark panels.
void setFixedForegroundColor(QWidget *widget, const QColor &color);

} // namespace kivo
