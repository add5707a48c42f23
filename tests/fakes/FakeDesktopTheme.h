#pragma once

// A desktop theme's palette reload at run time as qt6ct 0.7 does it under
// Qt 6.4: the application palette, then each widget a ThemeChange and the
// whole palette set on it over its own. Where QApplication runs only.

#include <QApplication>

namespace kivo::test {

inline void reloadDesktopPalette(const QPalette &palette)
{
    QApplication::setPalette(palette);
    for (QWidget *widget : QApplication::allWidgets()) {
        QEvent themeChange(QEvent::ThemeChange);
        QApplication::sendEvent(widget, &themeChange);
        widget->setPalette(palette);
    }
    // What the windows queue in answer runs before the caller looks.
    QCoreApplication::sendPostedEvents();
}

// A dark desktop with every role set, as a theme file gives it: disabled
// controls have dimmed text on a base no darker than the window.
inline QPalette darkDesktopPalette()
{
    const QColor window(45, 45, 48), dimmed(128, 128, 128);
    QPalette palette(QColor(53, 53, 53), window);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText}) {
        palette.setColor(role, QColor(230, 230, 230));
        palette.setColor(QPalette::Disabled, role, dimmed);
    }
    palette.setColor(QPalette::Base, QColor(30, 30, 32));
    palette.setColor(QPalette::Disabled, QPalette::Base, window);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(80, 80, 80));
    palette.setColor(QPalette::Disabled, QPalette::HighlightedText, dimmed);
    return palette;
}

// Fusion's button faces and tab panes: the button colour lighter, less saturated.
inline QColor fusionFaceColor(const QPalette &palette)
{
    const QColor button = palette.color(QPalette::Button);
    const QColor face = button.lighter(100 + std::max(1, (180 - qGray(button.rgb())) / 6));
    return QColor::fromHsv(face.hue(), face.saturation() * 3 / 4, face.value());
}

// Fusion's group box card: the ground under black at 3/255.
inline QColor fusionCardColor(const QColor &ground)
{
    return QColor(ground.red() * 252 / 255, ground.green() * 252 / 255, ground.blue() * 252 / 255);
}

} // namespace kivo::test
