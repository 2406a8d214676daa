#include "url_opener.h"

#include "messages.h"
#include "system.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

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

bool OpenUrlInDesktop(const std::string &url) {
    UrlOpener opener;
    {
        std::lock_guard guard(g_lock);
        opener = g_opener;
    }
    if (opener)
        return opener(url);
    if (QtDisplayAvailable())
        return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
    return ShellExecuteProcess(url, "", false, false).started;
}

} // namespace krv::setup
