// Opening a web address in the desktop's handler for it (the browser).
// The windows a caller was handed take it, so tests record the addresses
// instead of starting a browser.
#pragma once

#include <setup_process.h>

#include <functional>
#include <string>

namespace krv::setup {

class SetupWindows;

// True when the desktop took the address. The windows open it when given
// (on a display a person can see); else xdg-open does, started through
// `programs`.
bool OpenUrlInDesktop(const std::string &url, SetupWindows *windows = nullptr,
                      const platform::ProcessLauncher &programs = {});

} // namespace krv::setup
