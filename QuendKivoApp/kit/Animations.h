#pragma once

// One switch for every animation of the windows; tests turn it off so
// what they look at is the final state at once.

namespace kivo::animations {

bool enabled();
void setEnabled(bool on);
// The duration to use: the given one, or 0 while animations are off.
int duration(int milliseconds);

} // namespace kivo::animations
