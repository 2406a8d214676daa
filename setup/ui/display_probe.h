// The display's screen for the launch conditions. (Whether there is a
// display at all, main.cpp asks the platform's toolkit_display.h before it
// builds its Qt application: without one the program runs as without a
// display, messages on standard output with their safe answers.)
#pragma once

#include "launch_conditions.h"

namespace krv::setup {

// The screen of the display the program shows its windows on; 0 x 0 at 0
// bits without one.
ScreenFacts QueryScreenFacts();

} // namespace krv::setup
