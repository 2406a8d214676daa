#include "console_windows.h"

namespace krv::console {

ConsoleWindows &Windows() {
    static ConsoleWindows windows;
    return windows;
}

} // namespace krv::console
