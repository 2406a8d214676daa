#include "url_opener.h"

#include "setup_windows.h"
#include "system.h"

#include <mutex>

namespace krv::setup {
namespace {

std::mutex g_lock;
UrlOpener g_opener;

} // namespace

void SetUrlOpener(UrlOpener opener) {
    std::lock_guard guard(g_lock);
    g_opener = std::move(opener);
}

bool OpenUrlInDesktop(const std::string &url, SetupWindows *windows) {
    UrlOpener opener;
    {
        std::lock_guard guard(g_lock);
        opener = g_opener;
    }
    if (opener)
        return opener(url);
    if (windows)
        return windows->OpenUrl(url);
    return ShellExecuteProcess(url, "", false, false).started;
}

} // namespace krv::setup
