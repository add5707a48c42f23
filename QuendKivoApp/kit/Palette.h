#pragma once

// Colours of the windows: the platform's standard named colours (light and
// dark appearance), the five accents of the monitor panels, and the rule
// that keeps a hue readable as text on the background it sits on.

#include <QColor>

class QPalette;

namespace kivo {

enum class PlatformColor { Green, Orange, Red, Purple, Cyan, Blue, Secondary };
enum class Appearance { Light, Dark };

// Dark when the palette's window is darker than its text.
Appearance appearanceOf(const QPalette &palette);
// The appearance of the application's palette as it is now.
Appearance applicationAppearance();

QColor platformColor(PlatformColor color, Appearance appearance = applicationAppearance());

// sRGB components from 0 to 1, as the windows' colours are given.
QColor srgb(double red, double green, double blue, double opacity = 1.0);
QColor withOpacity(QColor color, double opacity);

// WCAG 2 relative luminance and the contrast of two opaque colours (1 to 21).
double relativeLuminance(const QColor &color);
double contrastRatio(const QColor &first, const QColor &second);
// The least contrast of text against its background (WCAG AA, body text).
inline constexpr double readableContrast = 4.5;
// The hue itself when it reads at 4.5:1 on the background; otherwise the
// same hue darkened (on a light background) or lightened (on a dark one)
// just enough, and opaque. A translucent hue counts as painted over the
// background.
QColor readableTextColor(const QColor &hue, const QColor &background);
// A platform colour as text on the palette's window. Secondary is the
// palette's own text colour, dimmed.
QColor textColor(PlatformColor color, const QPalette &palette);

namespace MonitorPalette {
QColor cyan();
QColor green();
QColor amber();
QColor coral();
QColor violet();
} // namespace MonitorPalette

} // namespace kivo
