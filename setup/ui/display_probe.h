// The display: whether the program can show windows (asked by main.cpp
// before it builds its Qt application), and its screen for the launch
// conditions.
#pragma once

#include "launch_conditions.h"

#include <chrono>

namespace krv::setup {

// A Qt application can be built: QT_QPA_PLATFORM names a platform that
// draws into memory, or a display (QT_QPA_PLATFORM, DISPLAY or
// WAYLAND_DISPLAY) is named and really opens. Without one the program runs
// as without a display (messages on standard output, their safe answers).
bool ProgramDisplayAvailable();
// Whether Qt's platform plugin connects, tried in a child process within
// `limit`.
bool ProgramDisplayOpens(std::chrono::milliseconds limit = std::chrono::seconds(10));

// The screen of the display the program shows its windows on; 0 x 0 at 0
// bits without one.
ScreenFacts QueryScreenFacts();

} // namespace krv::setup
