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

// A dark desktop with every role set, as a theme file gives it.
inline QPalette darkDesktopPalette()
{
    QPalette palette(QColor(53, 53, 53), QColor(45, 45, 48));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText})
        palette.setColor(role, QColor(230, 230, 230));
    palette.setColor(QPalette::Base, QColor(30, 30, 32));
    return palette;
}

} // namespace kivo::test
