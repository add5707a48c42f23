#include "QuendKivoApp/kit/Palette.h"

#include <QGuiApplication>
#include <QPalette>
#include <cmath>

namespace kivo {

namespace {

double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

// One colour painted over another, as 8-bit pixels end up on screen.
QColor mixed(const QColor &from, const QColor &to, double share)
{
    const auto channel = [share](double a, double b) { return int(std::lround((a + (b - a) * share) * 255)); };
    return QColor(channel(from.redF(), to.redF()), channel(from.greenF(), to.greenF()),
                  channel(from.blueF(), to.blueF()));
}

QColor opaque(QColor color)
{
    color.setAlphaF(1);
    return color;
}

} // namespace

Appearance appearanceOf(const QPalette &palette)
{
    return relativeLuminance(palette.color(QPalette::Window)) < relativeLuminance(palette.color(QPalette::WindowText))
        ? Appearance::Dark
        : Appearance::Light;
}

Appearance applicationAppearance() { return appearanceOf(QGuiApplication::palette()); }

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

double relativeLuminance(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

double contrastRatio(const QColor &first, const QColor &second)
{
    const double a = relativeLuminance(first);
    const double b = relativeLuminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor readableTextColor(const QColor &hue, const QColor &background)
{
    const QColor ground = opaque(background.toRgb());
    const QColor shown = mixed(ground, opaque(hue.toRgb()), hue.alphaF());
    if (contrastRatio(shown, ground) >= readableContrast)
        return hue;
    // Scaling toward black keeps hue and saturation; toward white keeps the hue.
    const QColor end = contrastRatio(Qt::black, ground) >= contrastRatio(Qt::white, ground) ? QColor(Qt::black)
                                                                                            : QColor(Qt::white);
    double low = 0;
    double high = 1;
    for (int step = 0; step < 12; ++step) {
        const double middle = (low + high) / 2;
        (contrastRatio(mixed(shown, end, middle), ground) >= readableContrast ? high : low) = middle;
    }
    return mixed(shown, end, high);
}

QColor textColor(PlatformColor color, const QPalette &palette)
{
    const QColor hue = color == PlatformColor::Secondary ? withOpacity(palette.color(QPalette::WindowText), 0.6)
                                                         : platformColor(color, appearanceOf(palette));
    return readableTextColor(hue, palette.color(QPalette::Window));
}

namespace MonitorPalette {
QColor cyan() { return srgb(0.40, 0.91, 0.98); }
QColor green() { return srgb(0.43, 0.91, 0.72); }
QColor amber() { return srgb(0.99, 0.79, 0.39); }
QColor coral() { return srgb(1.0, 0.45, 0.4); }
QColor violet() { return srgb(0.75, 0.35, 0.95); }
} // namespace MonitorPalette

} // namespace kivo
