#include "QuendKivoApp/kit/Animations.h"

namespace kivo::animations {

namespace {
bool animationsOn = true;
}

bool enabled() { return animationsOn; }
void setEnabled(bool on) { animationsOn = on; }
int duration(int milliseconds) { return animationsOn ? milliseconds : 0; }

} // namespace kivo::animations
