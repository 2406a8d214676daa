#include "console_state.h"

namespace krv::console {

namespace {
ConsoleState g_state;
} // namespace

ConsoleState &State() {
    return g_state;
}

void ResetState() {
    g_state = ConsoleState{};
}

} // namespace krv::console
