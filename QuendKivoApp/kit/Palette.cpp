#include "QuendKivoApp/kit/Palette.h"

namespace kivo {

QColor platformColor(PlatformColor color, Appearance appearance)
{
    const bool dark = appearance == Appearance::Dark;
    switch (color) {
    case PlatformColor::Green:
        return dark ? QColor(48, 209, 88) : QColor(52, 199, 89);
    case PlatformColor::Orange:
        return dark ? QColor(255, 159, 10) : QColor(255, 149, 0);
    case PlatformColor::Red:
        return dark ? QColor(255, 69, 58) : QColor(255, 59, 48);
    case PlatformColor::Purple:
        return dark ? QColor(191, 90, 242) : QColor(175, 82, 222);
    case PlatformColor::Cyan:
        return dark ? QColor(100, 210, 255) : QColor(50, 173, 230);
    case PlatformColor::Blue:
        return dark ? QColor(10, 132, 255) : QColor(0, 122, 255);
    case PlatformColor::Secondary:
        return dark ? QColor(235, 235, 245, 153) : QColor(60, 60, 67, 153);
    }
    return {};
}

QColor srgb(double red, double green, double blue, double opacity)
{
    return QColor::fromRgbF(float(red), float(green), float(blue), float(opacity));
}

QColor withOpacity(QColor color, double opacity)
{
    color.setAlphaF(float(opacity));
    return color;
}

namespace MonitorPalette {
QColor cyan() { return srgb(0.40, 0.91, 0.98); }
QColor green() { return srgb(0.43, 0.91, 0.72); }
QColor amber() { return srgb(0.99, 0.79, 0.39); }
QColor coral() { return srgb(1.0, 0.45, 0.4); }
QColor violet() { return srgb(0.75, 0.35, 0.95); }
} // namespace MonitorPalette

} // namespace kivo
