// Whether a Qt program can show windows, asked before it builds its
// application object: Qt's platform plugin ends the whole process when it
// cannot reach a display (none named; one named but gone, or closed to this
// user, as under sudo), with advice that does not fit.
#pragma once

#include <chrono>

namespace krv::platform {

// A Qt application can be built with these arguments: the platform (Qt's
// `-platform` argument, else QT_QPA_PLATFORM) draws into memory, or a
// display is named (the platform, `-display`, DISPLAY or WAYLAND_DISPLAY)
// and really opens.
bool DisplayAvailable(int argc, char **argv);

// Whether Qt's platform plugin connects with these arguments, tried in a
// child process within `limit`; a child that neither connects nor fails in
// time counts as no display.
bool DisplayOpens(int argc, char **argv,
                  std::chrono::milliseconds limit = std::chrono::seconds(10));

} // namespace krv::platform
