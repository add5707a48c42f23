#pragma once

// Colours of the windows: the platform's standard named colours (light
// appearance, and the dark values the station monitor uses) and the five
// accents of the monitor panels.

#include <QColor>

namespace kivo {

enum class PlatformColor { Green, Orange, Red, Purple, Cyan, Blue, Secondary };
enum class Appearance { Light, Dark };

QColor platformColor(PlatformColor color, Appearance appearance = Appearance::Light);

// sRGB components from 0 to 1, as the windows' colours are given.
QColor srgb(double red, double green, double blue, double opacity = 1.0);
QColor withOpacity(QColor color, double opacity);

namespace MonitorPalette {
QColor cyan();
QColor green();
QColor amber();
QColor coral();
QColor violet();
} // namespace MonitorPalette

} // namespace kivo
