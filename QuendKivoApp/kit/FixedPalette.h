#pragma once

// Panels with colours of their own, whatever the desktop's. A desktop
// theme that reloads at run time (qt6ct) hands every widget the whole
// desktop palette; a held panel gives each of its widgets its own colours
// back once the reload is over, and lets the rest inherit from the panel
// again.

class QPalette;
class QWidget;

namespace kivo {

// Sets the roles `palette` sets (its resolve mask) as the widget's own,
// the ones a held panel puts back.
void setFixedPalette(QWidget *widget, const QPalette &palette);
// The roles the widget was given with setFixedPalette (none: an empty mask).
QPalette fixedPalette(const QWidget *widget);
// Puts the panel's own colours back after each desktop palette change.
void holdPanelPalette(QWidget *panel);

} // namespace kivo
