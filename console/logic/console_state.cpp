#include "console_state.h"

namespace krv::console {

namespace {
ConsoleState g_state;
ConsoleWindows g_windows;
} // namespace

ConsoleState &State() {
    return g_state;
}

void ResetState() {
    g_state = ConsoleState{};
}

ConsoleWindows &Windows() {
    return g_windows;
}

} // namespace krv::console
