#include "setup_reboot.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QString>

#include <cstdlib>

namespace krv::platform {

// The reason only tells a stand-in or a log why; the manager is not told.
RebootOutcome RequestSystemReboot(const std::string & /*reason*/) {
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

RebootOutcome RequestSystemRebootWith(const RebootRequester &requester, const std::string &reason) {
    return requester ? requester(reason) : RequestSystemReboot(reason);
}

} // namespace krv::platform
