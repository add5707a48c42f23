#pragma once

// A desktop theme that reloads its palette at run time, in the order qt6ct
// 0.7 does under Qt 6.4: the application palette first, then each widget a
// ThemeChange followed by the whole palette set on it, overwriting what the
// widget had of its own. Widgets only: include it where QApplication runs.

#include <QApplication>
#include <QEvent>
#include <QPalette>
#include <QWidget>

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

// A complete dark desktop palette, every role set as a theme file sets it.
inline QPalette darkDesktopPalette()
{
    QPalette p(QColor(53, 53, 53), QColor(45, 45, 48));
    const QColor text(230, 230, 230);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText})
        p.setColor(role, text);
    p.setColor(QPalette::Base, QColor(30, 30, 32));
    p.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
    p.setColor(QPalette::ToolTipBase, QColor(30, 30, 32));
    p.setColor(QPalette::PlaceholderText, QColor(140, 140, 140));
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, Qt::white);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(120, 120, 120));
    return p;
}

} // namespace kivo::test
