#pragma once

// The mouse wheel changes a choice or a number of a form only once that
// field has the focus, as desktop settings pages do: a wheel passing over
// it scrolls the page instead, and gives it no focus.

class QWidget;

namespace kivo {

// For every combo and spin box inside `form` (in its window), now and later.
void changeByWheelOnlyWhenFocused(QWidget *form);

} // namespace kivo
