#include "url_opener.h"

#include "setup_windows.h"
#include "system.h"

namespace krv::setup {

bool OpenUrlInDesktop(const std::string &url, SetupWindows *windows) {
    if (windows)
        return windows->OpenUrl(url);
    return ShellExecuteProcess(url, "", false, false).started;
}

} // namespace krv::setup
