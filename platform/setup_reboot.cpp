#include "setup_reboot.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QString>

#include <cstdlib>
#include <mutex>

namespace krv::platform {
namespace {

std::mutex g_lock;
RebootRequester g_requester;

RebootOutcome AskLoginManager() {
    // A test or packaging root is never a machine to restart.
    if (const char *root = std::getenv("KRV_SETUP_ROOT"); root && *root)
        return RebootOutcome::kNotAllowed;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return RebootOutcome::kFailed;
    QDBusInterface manager(QStringLiteral("org.freedesktop.login1"),
                           QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"), bus);
    if (!manager.isValid())
        return RebootOutcome::kFailed;
    QDBusReply<QString> allowed = manager.call(QStringLiteral("CanReboot"));
    if (!allowed.isValid())
        return RebootOutcome::kFailed;
    if (allowed.value() != QLatin1String("yes"))
        return RebootOutcome::kNotAllowed;
    QDBusReply<void> done = manager.call(QStringLiteral("Reboot"), false);
    return done.isValid() ? RebootOutcome::kRequested : RebootOutcome::kFailed;
}

} // namespace

RebootOutcome RequestSystemReboot(const std::string &reason) {
    RebootRequester requester;
    {
        std::lock_guard guard(g_lock);
        requester = g_requester;
    }
    if (requester)
        return requester(reason);
    return AskLoginManager();
}

void SetRebootRequester(RebootRequester requester) {
    std::lock_guard guard(g_lock);
    g_requester = std::move(requester);
}

} // namespace krv::platform
