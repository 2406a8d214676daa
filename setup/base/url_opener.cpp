#include "url_opener.h"

#include "setup_windows.h"
#include "system.h"

namespace krv::setup {

bool OpenUrlInDesktop(const std::string &url, SetupWindows *windows,
                      const platform::ProcessLauncher &programs) {
    if (windows)
        return windows->OpenUrl(url, programs);
    return ShellExecuteProcess(url, "", false, false, programs).started;
}

} // namespace krv::setup
