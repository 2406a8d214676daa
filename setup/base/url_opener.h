// Opening a web address in the desktop's handler for it (the browser).
// One seam for every caller, so tests record the addresses instead of
// starting a browser.
#pragma once

#include <functional>
#include <string>

namespace krv::setup {

class SetupWindows;

// True when the desktop took the address. The windows open it when given
// (on a display a person can see); else xdg-open does.
bool OpenUrlInDesktop(const std::string &url, SetupWindows *windows = nullptr);

// While set, every OpenUrlInDesktop goes to the function; an empty function
// restores the desktop.
using UrlOpener = std::function<bool(const std::string &url)>;
void SetUrlOpener(UrlOpener opener);

} // namespace krv::setup
